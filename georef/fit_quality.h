#pragma once
// How good a fit is: its root mean squares over the fitted and the check
// points, each fitted point's error when the fit is made without it, and
// warnings for a point that looks mistyped and for points placed so that
// the fit cannot be trusted away from them.
#include "georef/control_points.h"
#include "georef/fit_methods.h"

#include <optional>
#include <string>
#include <vector>

// The picture's size in pixels; 0 when it is not known.
struct TImageSize {
    int Width = 0;
    int Height = 0;
};

struct TRootMeanSquare {
    double Pixels = 0;
    double Map = 0;
};

struct TFitQuality {
    size_t Fitted = 0;                       // n
    size_t Checks = 0;
    TRootMeanSquare Rms;                     // over the fitted points
    std::optional<TRootMeanSquare> RmsFree;  // with n − k degrees of freedom, when n > k
    std::optional<TRootMeanSquare> CheckRms; // over the check points, when there are any
    // For every point in list order: a fitted point's distance in pixels
    // from where the fit made without it sends its pixel, when enough points
    // remain for that fit; nothing for a check point.
    std::vector<std::optional<double>> LeaveOneOut;
    std::vector<std::string> Warnings;
};

// Measures the fit of points (as FitControlPoints made it). imageSize, when
// known, lets the spread of the points be judged against the sheet.
TFitQuality AssessFit(const TFitResult& fit, const TControlPoints& points, TImageSize imageSize = {});
