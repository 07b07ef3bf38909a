#pragma once
// Writers of a decoded bitmap: binary PPM (8-bit RGB; palette expanded,
// alpha dropped), PAM (RGB, or RGB_ALPHA when the bitmap carries alpha) and
// PNG (the same two layouts, through libpng). 15- and 16-bit pixels widen
// each 5-bit field v to (v << 3) | (v >> 2).
#include <string>

class TBitmap;
class TOutputFile;

enum class TImageFileKind { PPM, PAM, PNG };

// The kind for an output file name's extension; raises EConvertError
// "Unknown output file extension (.EXT)" for any other.
TImageFileKind ImageFileKindOf(const std::string& fileName);

// True when the bitmap's pixels carry alpha worth writing.
bool BitmapHasAlpha(const TBitmap& bitmap);

void WriteImageFile(TImageFileKind kind, const TBitmap& bitmap, TOutputFile& file);
