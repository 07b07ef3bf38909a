#include "georef/fit_numerics.h"
#include "georef/fit_solvers.h"

TAffineTransform FitHelmert(std::span<const TControlPoint> fitted)
{
    const TNormaliser pixel = PixelNormaliser(fitted);
    const TNormaliser map = MapNormaliser(fitted);
    // east = a·u + b·v + c and north = b·u − a·v + f in normalised
    // coordinates: the rows turn one way while the map's north turns the
    // other, so the similarity keeps this sign pattern.
    const Eigen::Index n = static_cast<Eigen::Index>(fitted.size());
    Eigen::MatrixXd design = Eigen::MatrixXd::Zero(2 * n, 4);
    Eigen::VectorXd rhs(2 * n);
    for (Eigen::Index i = 0; i < n; ++i) {
        const TControlPoint& p = fitted[static_cast<size_t>(i)];
        const double u = pixel.X(p.Col), v = pixel.Y(p.Row);
        design.row(2 * i) << u, v, 1, 0;
        design.row(2 * i + 1) << -v, u, 0, 1;
        rhs(2 * i) = map.X(p.East);
        rhs(2 * i + 1) = map.Y(p.North);
    }
    const Eigen::VectorXd x = SolveLeastSquares(design, rhs, "helmert", fitted.size());
    const double a[3] = {x(0), x(1), x(2)};
    const double d[3] = {x(1), -x(0), x(3)};
    return Denormalise(a, d, pixel, map);
}
