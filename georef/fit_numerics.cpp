#include "georef/fit_numerics.h"

#include "platform/exceptions.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace {

// Pivots below this share of the largest count as zero: the coordinates are
// normalised, so a smaller one means points that coincide or line up.
constexpr double RankThreshold = 1e-10;

} // namespace

void RaiseUndetermined(std::string_view name, size_t points)
{
    throw Exception("The " + std::to_string(points) + " fitted points do not determine the transformation " +
                    std::string(name) + ": they lie too close to one line (or curve), or on the same pixel");
}

Eigen::MatrixXd SolveLeastSquares(const Eigen::MatrixXd& design, const Eigen::MatrixXd& rhs, std::string_view name,
                                  size_t points)
{
    Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(design);
    qr.setThreshold(RankThreshold);
    if (qr.rank() < design.cols())
        RaiseUndetermined(name, points);
    Eigen::MatrixXd solution = qr.solve(rhs);
    if (!solution.allFinite())
        RaiseUndetermined(name, points);
    return solution;
}

TAffineTransform Denormalise(const double a[3], const double d[3], const TNormaliser& pixel, const TNormaliser& map)
{
    // east = map.X0 + map.Scale·(a0·(col − pixel.X0)/pixel.Scale + ...), and alike north.
    // Exact points of a north-up sheet leave rounding noise in the terms
    // that are 0, which the world file would write as -0.000000000000.
    const double largest = std::max({std::fabs(a[0]), std::fabs(a[1]), std::fabs(d[0]), std::fabs(d[1])});
    const auto clean = [largest](double v) { return std::fabs(v) < 1e-14 * largest ? 0.0 : v; };
    const double k = map.Scale / pixel.Scale;
    TAffineTransform t;
    t.A = k * clean(a[0]);
    t.B = k * clean(a[1]);
    t.D = k * clean(d[0]);
    t.E = k * clean(d[1]);
    t.C = map.X0 + map.Scale * a[2] - t.A * pixel.X0 - t.B * pixel.Y0;
    t.F = map.Y0 + map.Scale * d[2] - t.D * pixel.X0 - t.E * pixel.Y0;
    return t;
}
