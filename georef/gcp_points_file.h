#pragma once
// Control-point files in the comma-separated layout that GIS georeferencers
// share (".points"): an optional "#CRS: WKT" line, the header
// "mapX,mapY,sourceX,sourceY,enable,dX,dY,residual" (older files name the
// source columns pixelX and pixelY), then one point a line.
// mapX is our Y (east) and mapY our X (north); the source position counts
// from the image's top-left corner with sourceY = −row, so the centre of
// pixel (c, r), where a click lands, is (c + 0.5, −(r + 0.5)).
#include "georef/control_points.h"
#include "georef/crs.h"
#include "georef/fit_methods.h"

#include <string>
#include <vector>

struct TGcpPoints {
    TControlPoints Points;  // as the reader below says
    TCrs Crs;               // empty when the file names no system
    // Where each point stands in its file ("line 4", "GCP 'GCP_2'"), for
    // messages about it; one text a point.
    std::vector<std::string> Where;
    std::string Transform;  // the file's transformation by our name; empty when it names none
};

// True when the file's first non-empty line is a "#CRS:" line or the header.
bool IsGcpPointsFile(const std::string& fileName);

// The first two enabled points, as points 1 and 2, and the system (the
// lines after them are not read). Raises EInOutError with the open error's
// text, or an Exception naming the file when it is empty or not in this
// layout, naming the file, line and column when a value is not a finite
// number, and naming the file when fewer than two points are enabled.
TGcpPoints ReadGcpPointsFile(const std::string& fileName);

// Every point of the file, numbered from 1 in file order, an enabled one
// fitted and any other a check point, and the system. Raises as above,
// except that any number of points may be enabled.
TGcpPoints ReadEveryGcpPoint(const std::string& fileName);
// The same from the file's text, fileName only naming it in messages.
TGcpPoints ParseEveryGcpPoint(const std::string& text, const std::string& fileName);

// The file's text for every point (a check point not enabled, residuals 0)
// and the system when one is given; numbers in their shortest exact form.
std::string GcpPointsText(const TControlPoints& points, const TCrs& crs);

// The same with the residual columns of the fit that measured the points:
// dX and dY the pixel step from the picked position to where the fit puts
// the point's coordinates, in the file's source axes (dY up), and residual
// its length, each to four decimals.
std::string GcpPointsText(const TControlPoints& points, const TCrs& crs, const TFitResult& fit);
