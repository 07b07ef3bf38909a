#pragma once
// The picture format of the image a GeoTIFF is made from, as the format
// registry knows it: the reader class that loads the file. It decides which
// converters turn the image into the TIFF the GeoTIFF is made from.
#include <string>

// None: a picture no converter takes (or no picture at all).
enum class TSourceFormat : int { None = 0, BMP = 1, JPEG = 2, TIFF = 3 };

// The format of the class the registry loads the file with (by its name's
// extension, as every picture is loaded); a reader derived from one of these
// (EPS from TIFF) is a format of its own.
TSourceFormat SourceFormatOf(const std::string& fileName);
