#include "georef/fit_methods.h"

#include "georef/fit_solvers.h"
#include "platform/exceptions.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

template <TAffineTransform (*Fit)(std::span<const TControlPoint>)>
TFitModelPtr Affine(std::span<const TControlPoint> fitted)
{
    return AffineModel(Fit(fitted));
}

using enum TFitDefault;

const TFitMethod Methods[] = {
    // name, summary, minimum points, north up, world file, first two only, default for, gdalwarp's fit, solver
    {TwoPointFitName, "scale from points 1 and 2", 2, true, true, true, Plain, "", Affine<FitTwoPoint>},
    {SimilarityFitName, "scale and rotation from points 1 and 2", 2, false, true, true, Rotated, "",
     Affine<FitSimilarity>},
    {HelmertFitName, "one scale and a rotation (2+ points)", 2, false, true, false, None, "", Affine<FitHelmert>},
    {AffineFitName, "scales, rotation and shear (3+)", 3, false, true, false, FrameCorners, "", Affine<FitAffine>},
    {ProjectiveFitName, "a plane seen in perspective (4+)", 4, false, false, false, None, "", FitProjective},
    {Polynomial2FitName, "degree 2 in column and row (6+)", 6, false, false, false, None, "-order 2",
     FitPolynomial2},
    {Polynomial3FitName, "degree 3 (10+)", 10, false, false, false, None, "-order 3", FitPolynomial3},
    {ThinPlateSplineFitName, "a spline through every point (3+)", 3, false, false, false, None, "-tps",
     FitThinPlateSpline},
};

// A fit that sends every pixel to one map point says nothing of the scan:
// its world file would have scale 0, which no GIS can use. Refused before
// anything is written.
void RequireScale(const TControlPoints& fitted, const TFitResult& fit)
{
    const bool allOnOnePoint = std::all_of(fitted.begin(), fitted.end(), [&](const TControlPoint& p) {
        return p.East == fitted[0].East && p.North == fitted[0].North;
    });
    // An affine fit without a linear part does the same, from whichever
    // points it takes (the two-point fit takes the first two).
    const TAffineTransform& t = fit.Transform;
    const bool noLinearPart = fit.Model->Affine() && t.A == 0 && t.B == 0 && t.D == 0 && t.E == 0;
    if (!allOnOnePoint && !noLinearPart)
        return;
    if (allOnOnePoint && fitted.size() > 2)
        throw Exception("All " + std::to_string(fitted.size()) +
                        " fitted points have the same map coordinates, which give no scale");
    throw Exception("Points " + std::to_string(fitted[0].Id) + " and " + std::to_string(fitted[1].Id) +
                    " have the same map coordinates, which give no scale");
}

} // namespace

std::span<const TFitMethod> FitMethods()
{
    return Methods;
}

std::string FitMethodNames()
{
    std::string names;
    for (const TFitMethod& m : Methods)
        names += (names.empty() ? "" : ", ") + std::string(m.Name);
    return names;
}

const TFitMethod& FindFitMethod(std::string_view name)
{
    const auto found = std::find_if(std::begin(Methods), std::end(Methods),
                                    [name](const TFitMethod& m) { return m.Name == name; });
    if (found == std::end(Methods))
        throw Exception("Unknown transformation '" + std::string(name) + "' (the transformations are " +
                        FitMethodNames() + ")");
    return *found;
}

const TFitMethod& DefaultFitMethod(TFitDefault which)
{
    const auto found = std::find_if(std::begin(Methods), std::end(Methods),
                                    [which](const TFitMethod& m) { return m.DefaultFor == which; });
    if (which == TFitDefault::None || found == std::end(Methods))
        throw std::logic_error("the fit table has no default of that kind");
    return *found;
}

TPointResidual MeasurePoint(const TControlPoint& p, const TFitModel& model)
{
    TPointResidual r;
    r.Id = p.Id;
    const TMapPosition fitted = model.Map(p.Col, p.Row);
    r.East = p.East - fitted.East;
    r.North = p.North - fitted.North;
    r.Distance = std::hypot(r.East, r.North);
    if (PixelStep(model.Tangent(p.Col, p.Row), r.East, r.North, r.Col, r.Row)) {
        r.Pixels = std::hypot(r.Col, r.Row);
    } else {
        r.Col = r.Row = 0;
        r.Pixels = r.Distance == 0 ? 0 : INFINITY;
    }
    return r;
}

TFitResult FitControlPoints(std::string_view name, const TControlPoints& points)
{
    const TFitMethod& method = FindFitMethod(name);
    const TControlPoints fitted = FittedPoints(points);
    if (fitted.size() < method.MinimumPoints)
        throw Exception("The transformation " + std::string(name) + " needs at least " +
                        std::to_string(method.MinimumPoints) + " fitted points, and " +
                        std::to_string(fitted.size()) + (fitted.size() == 1 ? " is" : " are") + " fitted");
    TFitResult fit;
    fit.Method = name;
    fit.NorthUp = method.NorthUp;
    fit.WorldFile = method.WorldFile;
    fit.MinimumPoints = method.MinimumPoints;
    fit.Model = method.Solve(fitted);
    if (const TAffineTransform* affine = fit.Model->Affine()) {
        fit.Transform = *affine;
    } else {
        const TNormaliser centre = PixelNormaliser(fitted);
        fit.Transform = fit.Model->Tangent(centre.X0, centre.Y0);
    }
    RequireScale(fitted, fit);
    for (const TControlPoint& p : points)
        fit.Residuals.push_back(MeasurePoint(p, *fit.Model));
    return fit;
}
