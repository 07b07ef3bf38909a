#pragma once
// What the callers of the readers (the workbench, pinwright-cli) make of a
// loaded picture. The readers accept a picture without pixels; a caller
// cannot show or convert one, so for it that is an error.
#include "platform/graphic.h"

#include <memory>
#include <string>

// Raises EInvalidGraphic "The file holds no image." when either side is 0 or
// the data ended in the first row the file stores (no row was read whole).
void RequireImage(const TGraphic& graphic);

// The file loaded and decoded in full (a JPEG decodes here), with
// RequireImage applied: pinwright-cli check and convert both take a picture
// this way, so that they agree on every file.
std::unique_ptr<TGraphic> LoadPicturePixels(const std::string& fileName);

// "The file ends early, in row N; ..." for a picture from a short file, else "".
std::string EarlyEndNotice(const TGraphic& graphic);
