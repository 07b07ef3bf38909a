#pragma once
// The check of the two control points: how well the transformation that
// Save writes fits point 2, and what the two points say about the scan.
#include "georef/control_points.h"
#include "georef/fit_methods.h"

#include <string>
#include <vector>

struct TPointCheck {
    double MapMisfit = 0;    // distance in map units between where the transformation
    double PixelMisfit = 0;  // sends point 2 and its coordinates, and in pixels
    double RowScale = 0;     // the fit's map units per pixel along a row
    double ColumnScale = 0;  // and down a column
    double Rotation = 0;     // degrees the picture is turned counter-clockwise against the map
    bool AxesReversed = false; // Y against the columns or X against the rows
    std::vector<std::string> Warnings;
};

// Checks the first two fitted points against the fit written for them (the
// two-point one or the similarity), which measured them.
TPointCheck CheckControlPoints(const TControlPoints& points, const TFitResult& fit);

// The check as lines of text, its warnings last, each beginning "Warning: ".
std::vector<std::string> PointCheckLines(const TPointCheck& check);

// One line for the status bar.
std::string PointCheckSummary(const TPointCheck& check);
