#pragma once
// What a GeoTIFF save makes beyond the GeoTIFF itself: a Cloud Optimized
// GeoTIFF (tiled, with overviews, for a map portal), and the warped copy
// resampled as chosen and cut to an outline (the sheet's collar clipped
// away, the outside transparent).
#include "georef/control_points.h"
#include "georef/crs.h"

#include <span>
#include <string>
#include <vector>

struct TOutputChoices {
    bool Cog = false;                // the GeoTIFFs written as COG by GDAL
    std::string Resampling = "near"; // of the warped copy, a name of ResamplingNames
    std::string ClipGeometry;        // GeoJSON Polygon or MultiPolygon in the target system; empty: none
};

// "near", "bilinear", "cubic", "lanczos", as gdalwarp names them.
std::span<const char* const> ResamplingNames();
// Raises for a name not among them.
void RequireResampling(const std::string& name);

// A closed Polygon of the ring's map positions (east, north).
std::string RingGeometry(const std::vector<TMapXY>& ring);
// The convex hull of the fitted points' map positions, counter-clockwise;
// raises when they enclose no area.
std::vector<TMapXY> FittedPointsHull(const TControlPoints& points);
// The first Polygon or MultiPolygon of a GeoJSON file (a geometry, a Feature
// or a FeatureCollection), as GeoJSON text; raises naming the file and what
// is wrong with it.
std::string ReadClipGeometry(const std::string& fileName);
// The smallest rectangle holding the geometry (GeoJSON Polygon or
// MultiPolygon text): west, south, east, north, as gdalwarp's -te takes it.
// gdalwarp's own crop snaps the rectangle's sides to its pixel grid, up to
// most of a pixel off the outline; given, they are kept.
struct TMapBounds {
    double West = 0, South = 0, East = 0, North = 0;
};
TMapBounds GeometryBounds(const std::string& geometry);
// The cutline file for gdalwarp: the geometry as a FeatureCollection that
// declares its system (GDAL 3.6 takes a GeoJSON cutline's system only from
// its "crs" member).
std::string CutlineText(const std::string& geometry, const TCrs& crs);
