#include "georef/fit_numerics.h"
#include "georef/fit_solvers.h"

TAffineTransform FitAffine(std::span<const TControlPoint> fitted)
{
    const TNormaliser pixel = PixelNormaliser(fitted);
    const TNormaliser map = MapNormaliser(fitted);
    const Eigen::Index n = static_cast<Eigen::Index>(fitted.size());
    Eigen::MatrixXd design(n, 3);
    Eigen::MatrixXd rhs(n, 2);
    for (Eigen::Index i = 0; i < n; ++i) {
        const TControlPoint& p = fitted[static_cast<size_t>(i)];
        design.row(i) << pixel.X(p.Col), pixel.Y(p.Row), 1;
        rhs.row(i) << map.X(p.East), map.Y(p.North);
    }
    const Eigen::MatrixXd x = SolveLeastSquares(design, rhs, "affine", fitted.size());
    const double a[3] = {x(0, 0), x(1, 0), x(2, 0)};
    const double d[3] = {x(0, 1), x(1, 1), x(2, 1)};
    return Denormalise(a, d, pixel, map);
}
