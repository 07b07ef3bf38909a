#pragma once
// Removing a TIFF's own georeferencing before it is georeferenced anew, so
// that the output carries only the new placement and keys.
#include <string>

// Deletes the GeoTIFF tags (model pixel scale, tie points, model
// transformation, GeoKey directory and its double and ASCII parameters) from
// every directory of the TIFF file, in place: the remaining entries move up
// within the directory. Classic and BigTIFF. Returns the number of entries
// removed; raises EInOutError for an I/O failure and EInvalidGraphic when
// the file is not a TIFF or its directories are damaged.
int StripGeoTiffTags(const std::string& fileName);
