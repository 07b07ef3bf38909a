#include "georef/fit_numerics.h"
#include "georef/fit_solvers.h"

#include <cmath>
#include <utility>
#include <vector>

namespace {

// The spline's radial function of the squared distance: r² log r², 0 at 0.
double Radial(double d2)
{
    return d2 > 0 ? d2 * std::log(d2) : 0;
}

// Normalised with one scale for both axes: the spline of least bending
// keeps its shape under shifts, turns and uniform scaling, so the result is
// the same as in pixels.
class TThinPlateSplineModel : public TFitModel {
public:
    TThinPlateSplineModel(TNormaliser pixel, TNormaliser map, std::vector<Eigen::Vector2d> centres,
                          Eigen::MatrixXd coefficients)
        : FPixel(pixel), FMap(map), FCentres(std::move(centres)), FCoefficients(std::move(coefficients))
    {
    }
    TMapPosition Map(double col, double row) const override
    {
        const Eigen::Vector2d at(FPixel.X(col), FPixel.Y(row));
        const Eigen::Index n = static_cast<Eigen::Index>(FCentres.size());
        Eigen::RowVectorXd basis(n + 3);
        for (Eigen::Index i = 0; i < n; ++i)
            basis(i) = Radial((at - FCentres[static_cast<size_t>(i)]).squaredNorm());
        basis.tail(3) << 1, at.x(), at.y();
        const Eigen::RowVector2d xy = basis * FCoefficients;
        return {FMap.X0 + FMap.Scale * xy(0), FMap.Y0 + FMap.Scale * xy(1)};
    }

private:
    TNormaliser FPixel, FMap;
    std::vector<Eigen::Vector2d> FCentres;
    Eigen::MatrixXd FCoefficients; // weights of the centres, then the affine base; one column per map axis
};

} // namespace

TFitModelPtr FitThinPlateSpline(std::span<const TControlPoint> fitted)
{
    const TNormaliser pixel = PixelNormaliser(fitted);
    const TNormaliser map = MapNormaliser(fitted);
    const Eigen::Index n = static_cast<Eigen::Index>(fitted.size());
    std::vector<Eigen::Vector2d> centres;
    for (const TControlPoint& p : fitted)
        centres.emplace_back(pixel.X(p.Col), pixel.Y(p.Row));
    // [K P; Pᵀ 0] [w; a] = [values; 0]: the spline meets every point, and its
    // weights add nothing affine.
    Eigen::MatrixXd system = Eigen::MatrixXd::Zero(n + 3, n + 3);
    Eigen::MatrixXd rhs = Eigen::MatrixXd::Zero(n + 3, 2);
    for (Eigen::Index i = 0; i < n; ++i) {
        const Eigen::Vector2d& ci = centres[static_cast<size_t>(i)];
        for (Eigen::Index j = 0; j < n; ++j)
            system(i, j) = Radial((ci - centres[static_cast<size_t>(j)]).squaredNorm());
        system.block(i, n, 1, 3) << 1, ci.x(), ci.y();
        system.block(n, i, 3, 1) << 1, ci.x(), ci.y();
        const TControlPoint& p = fitted[static_cast<size_t>(i)];
        rhs.row(i) << map.X(p.East), map.Y(p.North);
    }
    return std::make_shared<TThinPlateSplineModel>(pixel, map, std::move(centres),
                                                   SolveLeastSquares(system, rhs, "tps", fitted.size()));
}
