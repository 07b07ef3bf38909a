#pragma once
// A save as the command line words it: every value as typed, turned into
// the control points, the options and the target of the one save request
// that the workbench builds too (save_request.h).
#include "georef/control_points.h"
#include "georef/crs.h"
#include "georef/save_request.h"

#include <string>
#include <vector>

struct TSaveArguments {
    std::string Image;     // the picture georeferenced
    std::string Target;    // .tif (GeoTIFF and TFW) or .jgw (the world file alone)
    std::string P1, P2;    // "COL,ROW" of the first two fitted points, in whole pixels
    std::string Map;       // "Y1,X1,Y2,X2": the map coordinates of points 1 and 2
    std::string Points;    // a point file: coordinates of points 1 and 2, or a .points file of every point
    std::string Transform; // a name of the fit table; "" for the default
    bool Rotate = false;   // the default's rotating form
    bool Negate = false;
    bool Warp = false;
    std::string PointsFormat; // the format of Points and of the points written; "" for by extension
    bool AllowOutside = false; // points of the file far outside the picture taken, with a warning
    int Width = 0, Height = 0; // the picture's, for the check of a file's pixels; 0: not checked
    TOutputChoices Outputs;    // COG, resampling, clip (ClipGeometry as typed: frame, points or a file)
};

// An option's value split at every comma, blanks kept: "10,20" gives "10" and
// "20", "" one empty part.
std::vector<std::string> SplitCommas(const std::string& text);

// True when the point file gives pixel positions (any format but the plain
// two-record point file), so that --p1 and --p2 may be left out.
bool PointsGivePixels(const TSaveArguments& arguments);

// The target's kind by its extension, and the image with what turns it into
// a TIFF. Raises for a target that is neither .tif nor .jgw, and, for a
// GeoTIFF, for an image that cannot become one. Names are made absolute.
struct TSaveTarget {
    std::string FileName;
    TTargetFilter Filter = TTargetFilter::None;
    TExportSource Source;
};
TSaveTarget SaveTargetOf(const TSaveArguments& arguments);

// The transformation chosen (by name, by the rotating switch, else the
// default; frameCorners: the default for a frame's four corners), the sign
// toggle, the system and the warp.
TGeorefOptions SaveOptionsOf(const TSaveArguments& arguments, const TCrs& crs, bool frameCorners);

// The control points the arguments give, from points (the panel's two, or
// the frame's four corners): those of a .points file instead (its system
// into crs when crs is not given), --p1 and --p2 moving the first two
// fitted, and the coordinates of points 1 and 2 from --map or a plain point
// file. Raises for a value or file that cannot be read.
// A file's pixels are held against the picture (Width x Height): one far
// outside it raises unless AllowOutside; warnings get those outside it.
TControlPoints ArgumentPoints(const TSaveArguments& arguments, TControlPoints points, TCrs& crs,
                              std::vector<std::string>* warnings = nullptr);

// The outline the warped copy is cut to, from --clip: "frame" points 1 to 4
// (the frame's corners with --auto-corners), "points" the fitted points'
// hull, else a GeoJSON file; "" for none.
std::string ClipGeometryOf(const std::string& clip, const TControlPoints& points);
