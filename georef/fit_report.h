#pragma once
// The residuals of a fit for people (a table) and for programs (JSON).
#include "georef/control_points.h"
#include "georef/fit_methods.h"
#include "georef/fit_quality.h"

#include <string>
#include <vector>

// The table: a line naming the transformation and the counts, one line per
// point (number, column, row, east, north, role, error in map units and in
// pixels, error left out of the fit), the root mean squares, the fit's
// scales, then the warnings, each beginning "Warning: ".
std::vector<std::string> FitReportLines(const TControlPoints& points, const TFitResult& fit,
                                        const TFitQuality& quality);

// {"transform", "rms_px", "rms_map", "check_rms_px", "points": [{"id", "col",
// "row", "map_x", "map_y", "enabled", "residual_px", "residual_map",
// "leave_one_out_px"}]}: the root mean squares over the fitted points, map_x
// east and map_y north, enabled false for a check point; null for a figure
// that does not exist (no check points, no fit without the point, a size
// that cannot be stated).
std::string FitReportJson(const TControlPoints& points, const TFitResult& fit, const TFitQuality& quality);
