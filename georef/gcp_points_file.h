#pragma once
// Control-point files in the comma-separated layout that GIS georeferencers
// share (".points"): an optional "#CRS: WKT" line, the header
// "mapX,mapY,sourceX,sourceY,enable,dX,dY,residual", then one point a line.
// mapX is our Y (east) and mapY our X (north); the source position counts
// from the image's top-left corner with sourceY = −row, so the centre of
// pixel (c, r), where a click lands, is (c + 0.5, −(r + 0.5)).
#include "georef/control_points.h"
#include "georef/crs.h"

#include <string>

struct TGcpPoints {
    TControlPoints Points;  // the first two enabled points, as points 1 and 2
    TCrs Crs;               // empty when the file names no system
};

// True when the file's first non-empty line is a "#CRS:" line or the header.
bool IsGcpPointsFile(const std::string& fileName);

// The first two enabled points and the system. Raises EInOutError with the
// open error's text, or an Exception naming the file when it is not in this
// layout, a value is not a number, or fewer than two points are enabled.
TGcpPoints ReadGcpPointsFile(const std::string& fileName);

// The file's text for every point (a check point not enabled, residuals 0)
// and the system when one is given; numbers in their shortest exact form.
std::string GcpPointsText(const TControlPoints& points, const TCrs& crs);
