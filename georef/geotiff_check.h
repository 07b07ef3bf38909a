#pragma once
// Reading back the placement that the GeoTIFF converter stored, so that a
// converter which silently dropped the world file is caught.
#include "georef/control_points.h"
#include "georef/transforms.h"

#include <cstdint>

#include <string>
#include <vector>

struct TGeoTiffPlacement {
    uint32_t Width = 0, Height = 0; // of the first image, in pixels
    std::vector<double> PixelScale; // ModelPixelScaleTag (33550): sx, sy, sz
    std::vector<double> TiePoint;   // ModelTiepointTag (33922): I, J, K, X, Y, Z, ...
    std::vector<double> Transformation; // ModelTransformationTag (34264): 4 × 4, by rows
};

// Reads the two tags with libtiff; false with error set when the file is not
// a readable TIFF. A tag that is missing leaves its vector empty.
bool ReadGeoTiffPlacement(const std::string& fileName, TGeoTiffPlacement& placement, std::string& error);

// True when the placement carries the transformation (the world file's
// origin is the centre of the top-left pixel, so raster point (0.5, 0.5)
// goes to (C, F)): without rotation terms a pixel scale (A, −E, 0) and a tie
// point that maps its raster point as the world file does; with them a model
// transformation of the same six terms.
bool PlacementMatches(const TGeoTiffPlacement& placement, const TAffineTransform& expected);

// True when the placement carries exactly these points as tie points (raster
// position pixel-is-area, from the picture's corner) and nothing else.
bool TiePointsMatch(const TGeoTiffPlacement& placement, const TControlPoints& points);

// The transformation as a world file states it; false when the text is not
// six numeric lines.
bool ParseWorldFileText(const std::string& text, TAffineTransform& transform);
