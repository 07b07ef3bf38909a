#include "georef/fit_solvers.h"

#include "platform/exceptions.h"

#include <cmath>

TWorldTransform ComputeWorldTransform(const TControlPoint& p1, const TControlPoint& p2)
{
    const double dc2 = (p2.Col - p1.Col) * (p2.Col - p1.Col);
    const double dr2 = (p2.Row - p1.Row) * (p2.Row - p1.Row);
    const double dY2 = (p2.East - p1.East) * (p2.East - p1.East);
    const double dX2 = (p2.North - p1.North) * (p2.North - p1.North);
    const double mapDistance = std::sqrt(dX2 + dY2);
    const double pixelDistance = std::sqrt(dr2 + dc2);
    if (pixelDistance == 0) {
        if (mapDistance == 0)
            throw EInvalidOp("Invalid floating point operation");
        throw EZeroDivide("Floating point division by zero");
    }
    TWorldTransform t;
    t.S = mapDistance / pixelDistance;
    t.E0 = p1.East - t.S * p1.Col;
    t.N0 = p1.North + t.S * p1.Row;
    if (!std::isfinite(t.S) || !std::isfinite(t.E0) || !std::isfinite(t.N0))
        throw EInvalidOp("Floating point overflow");
    return t;
}

TAffineTransform FitTwoPoint(std::span<const TControlPoint> fitted)
{
    return ToAffine(ComputeWorldTransform(fitted[0], fitted[1]));
}
