#pragma once
// What a residual report states, worked out once for whichever page draws
// it: the transformation's parameters, each point's residuals in map units
// and pixels, the root mean squares, and the scale at which the residual
// vectors are drawn over the sheet.
#include "georef/control_points.h"
#include "georef/fit_methods.h"
#include "georef/fit_quality.h"

#include <optional>
#include <string>
#include <vector>

struct TReportParameter {
    std::string Name;   // "Rotation"
    std::string Value;  // "0.512 degrees"
};

struct TReportRow {
    int Id = 0;
    bool Check = false;
    double Col = 0, Row = 0, East = 0, North = 0;
    double ResidualEast = 0, ResidualNorth = 0, ResidualMap = 0; // map minus fit, map units
    double ResidualCol = 0, ResidualRow = 0, ResidualPixels = 0; // the same on the picture
    std::optional<double> LeftOut;                              // pixels, fitted points only
};

struct TResidualReport {
    std::string Picture;                     // the image's file name
    int Width = 0, Height = 0;               // of the picture, pixels
    std::string Method;                      // the transformation's name
    std::string MapFormat;                   // printf format of map figures ("%.3f", or more decimals for degrees)
    std::vector<TReportParameter> Parameters;
    std::vector<TReportRow> Rows;
    std::vector<std::string> RmsLines;       // plain, with n - k, check points
    std::vector<std::string> Warnings;
    // Residual vectors are drawn VectorScale times their length in pixels,
    // a round number that makes the largest about a tenth of the sheet.
    double VectorScale = 1;
    int LargestId = 0;                        // the point with the largest residual in pixels; 0: none
};

TResidualReport MakeResidualReport(const std::string& picture, int width, int height, const TControlPoints& points,
                                   const TFitResult& fit, const TFitQuality& quality);

// The factor residual vectors are drawn at over a picture of width x height
// pixels: a round number (1, 2 or 5 times a power of ten, at least 1) that
// makes the largest, largestPixels long, about a tenth of the picture's
// longer side; 1 when there is none.
double ResidualVectorScale(double largestPixels, int width, int height);

// "%.3f" applied; for the table and the page.
std::string ReportNumber(const std::string& format, double value);
