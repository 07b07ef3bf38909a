#pragma once
// The button and toggle pictures, drawn in code.
#include <QPixmap>

QPixmap OpenGlyph();        // 32 x 32 folder with a picture
QPixmap HelpGlyph();        // 32 x 32 information bubble
QPixmap CloseGlyph();       // 32 x 32 red cross
QPixmap NotepadGlyph();     // 18 x 18 notepad (Load file)
QPixmap ZoomPicture();      // 85 x 20 magnifying glass
QPixmap SignPicture();      // 37 x 20 box marked "+" and "-"
