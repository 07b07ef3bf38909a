#pragma once
// What one Save works on, built in one place from the list of control points
// and the user's choices, for the workbench and the command line alike.
#include "georef/control_points.h"
#include "georef/crs.h"
#include "georef/dialog_filters.h"
#include "georef/fit_methods.h"
#include "georef/output_choices.h"
#include "georef/source_format.h"

#include <string>

// The image last opened and its format, which decides how it becomes the
// TIFF of a GeoTIFF.
struct TExportSource {
    std::string FileName;
    TSourceFormat Format = TSourceFormat::None;
};

// What the user chose besides the points and the target.
struct TGeorefOptions {
    std::string Transform{DefaultFitMethod().Name}; // a name of the fit table
    bool Negate = false;                     // the sign toggle is pressed
    TCrs Crs;                                // written into the outputs when given
    bool Warp = false;                       // a north-up copy beside the GeoTIFF
    TOutputChoices Outputs;                  // COG, resampling and clip of the copy
};

struct TSaveRequest {
    std::string TargetFileName;              // the save dialog's file name
    TTargetFilter TargetFilterIndex = TTargetFilter::None;
    TExportSource Source;
    TCrs Crs;
    TControlPoints Points;                   // negated when the sign toggle asked for it
    TFitResult Fit;                          // of Points, by the chosen transformation
    bool Warp = false;                       // also BaseName_warped.tif, resampled north-up
    TOutputChoices Outputs;                  // a clip asks for the warped copy
};

// Negates the map coordinates when asked and fits the points, raising as the
// fit does (two points on one pixel, too few points, an unknown name). A JGW
// target raises when the fit is no world file, and when a warped copy is
// asked for. The check of the points and the cursor's map position take the
// request without a target.
TSaveRequest BuildSaveRequest(TControlPoints points, const TGeorefOptions& options,
                              std::string targetFileName = {}, TTargetFilter targetFilter = TTargetFilter::None,
                              TExportSource source = {});
