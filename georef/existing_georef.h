#pragma once
// Georeferencing that a picture already has: from a PAM IMAGE.aux.xml, from
// the file itself (GeoTIFF tags, or a JPEG 2000 file's GeoTIFF box or GML
// coverage), or from a world file beside it, in that order (the order GIS
// programs read them in). Each source has its own pixel convention; all end
// in one geotransform counted from the picture's top-left corner, so that
// it equals what GIS tools report.
#include "georef/control_points.h"
#include "georef/crs.h"
#include "georef/fit_methods.h"
#include "georef/transforms.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

struct TExistingGeoref {
    std::string Source;              // "aux.xml", "GeoTIFF", "GeoJP2", "GMLJP2", "world file"
    std::string SourceFile;          // the file it came from
    // East = G[0] + col * G[1] + row * G[2], North = G[3] + col * G[4] + row * G[5],
    // with (col, row) counted from the top-left corner of the top-left pixel.
    std::array<double, 6> GeoTransform{};
    TCrs Crs;                        // empty when no source names a system
    std::string Wkt;                 // the system as the file states it, when it does

    // The same transformation for pixel centres at integer positions, the
    // program's own convention (the world file's six terms).
    TAffineTransform Affine() const;
};

// The picture's georeferencing, or nothing when none of the sources has
// any. Raises an Exception naming the file when a source is there but
// cannot be read (a world file without six numbers, say).
std::optional<TExistingGeoref> ReadExistingGeoref(const std::string& imageFile);

// The existing georeferencing measured at points: every point's residual
// through it (as a fit's check points are measured) and the RMS over them.
struct TExistingCheck {
    std::vector<TPointResidual> Residuals; // in list order
    double RmsMap = 0;
    double RmsPixels = 0;
};
TExistingCheck CheckExistingGeoref(const TExistingGeoref& georef, const TControlPoints& points);

// The check as pinwright-cli prints it: the source and system, a table of
// the points' errors in map units and pixels, and the RMS over them.
std::vector<std::string> ExistingCheckLines(const TExistingGeoref& georef, const TControlPoints& points,
                                            const TExistingCheck& check);
