#include "georef/fit_methods.h"

#include "georef/fit_solvers.h"
#include "platform/exceptions.h"

#include <algorithm>
#include <cmath>

namespace {

const TFitMethod Methods[] = {
    {TwoPointFitName, 2, true, FitTwoPoint},
    {SimilarityFitName, 2, false, FitSimilarity},
};

TPointResidual Residual(const TControlPoint& p, const TAffineTransform& t)
{
    TPointResidual r;
    r.Id = p.Id;
    r.East = p.East - t.MapY(p.Col, p.Row);
    r.North = p.North - t.MapX(p.Col, p.Row);
    r.Distance = std::hypot(r.East, r.North);
    const double pixelSize = std::hypot(t.A, t.D);
    r.Pixels = pixelSize > 0 ? r.Distance / pixelSize : r.Distance == 0 ? 0 : INFINITY;
    return r;
}

// A fit that sends every pixel to one map point says nothing of the scan:
// its world file would have scale 0, which no GIS can use. Refused before
// anything is written.
void RequireScale(const TControlPoints& fitted, const TAffineTransform& t)
{
    const bool allOnOnePoint = std::all_of(fitted.begin(), fitted.end(), [&](const TControlPoint& p) {
        return p.East == fitted[0].East && p.North == fitted[0].North;
    });
    if (!allOnOnePoint && (t.A != 0 || t.B != 0 || t.D != 0 || t.E != 0))
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

const TFitMethod& FindFitMethod(std::string_view name)
{
    const auto found = std::find_if(std::begin(Methods), std::end(Methods),
                                    [name](const TFitMethod& m) { return m.Name == name; });
    if (found == std::end(Methods))
        throw Exception("Unknown transformation '" + std::string(name) + "'");
    return *found;
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
    fit.Transform = method.Solve(fitted);
    RequireScale(fitted, fit.Transform);
    for (const TControlPoint& p : points)
        fit.Residuals.push_back(Residual(p, fit.Transform));
    return fit;
}
