#pragma once
// A decoded picture written as a GeoTIFF in-process, for pictures whose
// format no converter takes: 8-bit RGB (RGBA when the picture carries
// alpha), 256 x 256 tiles, Deflate with the horizontal predictor, and its
// georeferencing as the converter path stores it: the world file's
// transformation as pixel scale and tie point (a model transformation when
// it turns), or the fitted points as tie points, and the system's GeoKeys.
#include "georef/control_points.h"
#include "georef/crs.h"
#include "georef/transforms.h"

#include <string>

class TBitmap;

struct TGeoTiffContent {
    const TAffineTransform* Transform = nullptr; // the world file's; else
    TControlPoints TiePoints;                    // the points carry the fit
    TCrs Crs;
};

// Writes fileName whole (replacing it); raises EInOutError or an Exception
// naming the file when libtiff cannot write it.
void WriteBitmapGeoTiff(const TBitmap& bitmap, const std::string& fileName, const TGeoTiffContent& content);
