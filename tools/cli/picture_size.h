#pragma once
// The size of a picture file without decoding its pixels, so that a scan of
// any size is judged at once.
#include "georef/fit_quality.h"

#include <string>

// From the header: the imaging library's readers, JPEG and BMP. {0, 0} for
// any other picture and for a file that cannot be read.
TImageSize PictureSize(const std::string& fileName);
