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
    for (const TControlPoint& p : points)
        fit.Residuals.push_back(Residual(p, fit.Transform));
    return fit;
}
