#pragma once
// Save and Load file of the main window: the controls and the point list
// are read and written here, everything else is the georeferencing core.
#include <string>

class TForm1;

// Save: the check that every coordinate is typed, then the world file and
// the outputs of the target chosen.
void SaveWorkbench(TForm1& form);
// Load file: a point file into the four boxes, or a ".points" file into
// the point list with its system.
void LoadPointFile(TForm1& form);
void LoadGcpPointsFile(TForm1& form, const std::string& fileName);
