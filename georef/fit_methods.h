#pragma once
// Transformations from pixel to map fitted to the control points, chosen by
// name from one table. Each method knows how many fitted points it needs;
// a new one is one entry of the table and one file.
#include "georef/control_points.h"
#include "georef/transforms.h"

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// One scale, no rotation, anchored at point 1: point 2 counts only through
// its distance from point 1.
inline constexpr std::string_view TwoPointFitName = "two-point";
// One scale and a rotation through points 1 and 2 exactly.
inline constexpr std::string_view SimilarityFitName = "similarity";

// How far a point's map coordinates lie from where the fit sends its pixel.
struct TPointResidual {
    int Id = 0;
    double East = 0;      // map coordinates minus the fit's, in map units
    double North = 0;
    double Distance = 0;  // length of (East, North)
    double Pixels = 0;    // Distance in pixels of the fit's size along a row
                          // (infinite when a fit of size 0 misses the point)
};

struct TFitResult {
    std::string Method;          // its name in the table
    TAffineTransform Transform;
    bool NorthUp = false;        // without rotation terms (the world file writes them as 0.000)
    std::vector<TPointResidual> Residuals; // every point given, fitted and check, in list order
};

struct TFitMethod {
    std::string_view Name;
    size_t MinimumPoints;        // fitted points it needs
    bool NorthUp;
    // Takes the fitted points, at least MinimumPoints of them.
    TAffineTransform (*Solve)(std::span<const TControlPoint> fitted);
};

// Every method, in the order offered to the user.
std::span<const TFitMethod> FitMethods();

// The method called name; raises an Exception for a name not in the table.
const TFitMethod& FindFitMethod(std::string_view name);

// Fits the fitted points of the list by the method called name and measures
// every point against the fit. Raises for an unknown name, for fewer fitted
// points than the method needs, as the method itself does, and for fitted
// points whose map coordinates give no scale (all the same).
TFitResult FitControlPoints(std::string_view name, const TControlPoints& points);
