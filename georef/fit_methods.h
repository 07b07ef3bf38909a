#pragma once
// Transformations from pixel to map fitted to the control points, chosen by
// name from one table. Each method knows how many fitted points it needs;
// a new one is one entry of the table and one file.
#include "georef/control_points.h"
#include "georef/fit_model.h"
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
// Least squares over every fitted point: one scale and a rotation; the
// general affine; a projective; polynomials of degree 2 and 3; and the thin
// plate spline, which bends through every point.
inline constexpr std::string_view HelmertFitName = "helmert";
inline constexpr std::string_view AffineFitName = "affine";
inline constexpr std::string_view ProjectiveFitName = "projective";
inline constexpr std::string_view Polynomial2FitName = "polynomial2";
inline constexpr std::string_view Polynomial3FitName = "polynomial3";
inline constexpr std::string_view ThinPlateSplineFitName = "tps";

// How far a point's map coordinates lie from where the fit sends its pixel.
struct TPointResidual {
    int Id = 0;
    double East = 0;      // map coordinates minus the fit's, in map units
    double North = 0;
    double Distance = 0;  // length of (East, North)
    double Col = 0;       // the same in pixels, through the fit's tangent at the
    double Row = 0;       // point: where the coordinates lie from the picked pixel
    double Pixels = 0;    // length of (Col, Row) (infinite when a fit that
                          // shrinks the picture to a line misses the point)
};

struct TFitResult {
    std::string Method;          // its name in the table
    // The world file's six terms; for a fit that a world file cannot state,
    // its tangent at the centre of the fitted points (the scales there).
    TAffineTransform Transform;
    bool NorthUp = false;        // without rotation terms (the world file writes them as 0.000)
    bool WorldFile = true;       // Transform is the whole fit
    size_t MinimumPoints = 0;    // the method's, for the degrees of freedom
    TFitModelPtr Model;          // where the fit sends any pixel
    std::vector<TPointResidual> Residuals; // every point given, fitted and check, in list order
};

// The choice a method is when none is named.
enum class TFitDefault {
    None,
    Plain,       // the workbench's and the command line's two points
    Rotated,     // the same with the rotation switch on
    FrameCorners // the four corners of a sheet's map frame
};

struct TFitMethod {
    std::string_view Name;
    std::string_view Summary;    // what it fits, for the help
    size_t MinimumPoints;        // fitted points it needs
    bool NorthUp;
    bool WorldFile;              // affine: written as a world file; else the
                                 // GeoTIFF carries the control points
    bool FirstTwoOnly;           // goes through the first two fitted points
                                 // alone, as the two-point panel does; any
                                 // other point is measured, not fitted
    TFitDefault DefaultFor;
    // How gdalwarp fits the tie points itself for a warped copy ("-order 2",
    // "-tps"); empty for a world file, or for a fit handed over sampled on a grid.
    std::string_view WarpOptions;
    // Takes the fitted points, at least MinimumPoints of them; raises when
    // they do not determine the transformation.
    TFitModelPtr (*Solve)(std::span<const TControlPoint> fitted);
};

// Every method, in the order offered to the user.
std::span<const TFitMethod> FitMethods();

// The method called name; raises an Exception for a name not in the table.
const TFitMethod& FindFitMethod(std::string_view name);

// The method chosen when none is named (which is not None).
const TFitMethod& DefaultFitMethod(TFitDefault which = TFitDefault::Plain);

// The names of the table, separated by ", ", for messages and help texts.
std::string FitMethodNames();

// Fits the fitted points of the list by the method called name and measures
// every point against the fit. Raises for an unknown name, for fewer fitted
// points than the method needs, as the method itself does, and for fitted
// points whose map coordinates give no scale (all the same).
TFitResult FitControlPoints(std::string_view name, const TControlPoints& points);

// How far the point lies from where the model sends its pixel.
TPointResidual MeasurePoint(const TControlPoint& point, const TFitModel& model);
