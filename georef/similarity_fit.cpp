#include "georef/fit_solvers.h"

#include "platform/exceptions.h"

#include <cmath>

TAffineTransform ComputeSimilarityTransform(const TControlPoint& p1, const TControlPoint& p2)
{
    const double dc = p2.Col - p1.Col;
    const double dr = p2.Row - p1.Row;
    const double dY = p2.East - p1.East;
    const double dX = p2.North - p1.North;
    const double pixel2 = dc * dc + dr * dr;
    if (pixel2 == 0) {
        if (dY == 0 && dX == 0)
            throw EInvalidOp("Invalid floating point operation");
        throw EZeroDivide("Floating point division by zero");
    }
    // dY = a·dc + b·dr and dX = b·dc − a·dr, solved for a and b.
    const double a = (dY * dc - dX * dr) / pixel2;
    const double b = (dY * dr + dX * dc) / pixel2;
    TAffineTransform t{a, b, b, -a, 0, 0};
    t.C = p1.East - a * p1.Col - b * p1.Row;
    t.F = p1.North - b * p1.Col + a * p1.Row;
    for (const double v : {t.A, t.B, t.C, t.F})
        if (!std::isfinite(v))
            throw EInvalidOp("Floating point overflow");
    return t;
}

TAffineTransform FitSimilarity(std::span<const TControlPoint> fitted)
{
    return ComputeSimilarityTransform(fitted[0], fitted[1]);
}
