#include "georef/fit_numerics.h"
#include "georef/fit_solvers.h"

#include <Eigen/SVD>

#include <cmath>

namespace {

constexpr int MaxRefinements = 20;

// x = (h0·u + h1·v + h2) / w and y = (h3·u + h4·v + h5) / w with
// w = h6·u + h7·v + 1, in normalised coordinates.
class TProjectiveModel : public TFitModel {
public:
    TProjectiveModel(TNormaliser pixel, TNormaliser map, const Eigen::Matrix<double, 8, 1>& h)
        : FPixel(pixel), FMap(map), FH(h)
    {
    }
    TMapPosition Map(double col, double row) const override
    {
        double x = 0, y = 0;
        Project(FH, FPixel.X(col), FPixel.Y(row), x, y);
        return {FMap.X0 + FMap.Scale * x, FMap.Y0 + FMap.Scale * y};
    }
    static double Project(const Eigen::Matrix<double, 8, 1>& h, double u, double v, double& x, double& y)
    {
        const double w = h(6) * u + h(7) * v + 1;
        x = (h(0) * u + h(1) * v + h(2)) / w;
        y = (h(3) * u + h(4) * v + h(5)) / w;
        return w;
    }

private:
    TNormaliser FPixel, FMap;
    Eigen::Matrix<double, 8, 1> FH;
};

} // namespace

TFitModelPtr FitProjective(std::span<const TControlPoint> fitted)
{
    const TNormaliser pixel = PixelNormaliser(fitted);
    const TNormaliser map = MapNormaliser(fitted);
    const Eigen::Index n = static_cast<Eigen::Index>(fitted.size());
    Eigen::VectorXd u(n), v(n), x(n), y(n);
    for (Eigen::Index i = 0; i < n; ++i) {
        const TControlPoint& p = fitted[static_cast<size_t>(i)];
        u(i) = pixel.X(p.Col);
        v(i) = pixel.Y(p.Row);
        x(i) = map.X(p.East);
        y(i) = map.Y(p.North);
    }

    // The linear solution: the null vector of the cross-multiplied equations.
    Eigen::MatrixXd linear = Eigen::MatrixXd::Zero(2 * n, 9);
    for (Eigen::Index i = 0; i < n; ++i) {
        linear.row(2 * i) << u(i), v(i), 1, 0, 0, 0, -x(i) * u(i), -x(i) * v(i), -x(i);
        linear.row(2 * i + 1) << 0, 0, 0, u(i), v(i), 1, -y(i) * u(i), -y(i) * v(i), -y(i);
    }
    Eigen::JacobiSVD<Eigen::MatrixXd> svd(linear, Eigen::ComputeFullV);
    const Eigen::VectorXd& sigma = svd.singularValues();
    // A second null vector: the points leave the transformation open.
    if (sigma(0) == 0 || sigma(7) < 1e-10 * sigma(0))
        RaiseUndetermined("projective", fitted.size());
    const Eigen::VectorXd null = svd.matrixV().col(8);
    // The centre of the points is the origin of the normalised pixels; a
    // transformation that sends it to infinity is no map of a sheet.
    if (std::fabs(null(8)) < 1e-12 * null.norm())
        RaiseUndetermined("projective", fitted.size());
    Eigen::Matrix<double, 8, 1> h = null.head(8) / null(8);

    // Gauss-Newton on the map distances themselves, each step a QR solve.
    for (int step = 0; step < MaxRefinements; ++step) {
        Eigen::MatrixXd jacobian(2 * n, 8);
        Eigen::VectorXd misfit(2 * n);
        for (Eigen::Index i = 0; i < n; ++i) {
            double px = 0, py = 0;
            const double w = TProjectiveModel::Project(h, u(i), v(i), px, py);
            jacobian.row(2 * i) << u(i) / w, v(i) / w, 1 / w, 0, 0, 0, -px * u(i) / w, -px * v(i) / w;
            jacobian.row(2 * i + 1) << 0, 0, 0, u(i) / w, v(i) / w, 1 / w, -py * u(i) / w, -py * v(i) / w;
            misfit(2 * i) = x(i) - px;
            misfit(2 * i + 1) = y(i) - py;
        }
        const Eigen::VectorXd delta = SolveLeastSquares(jacobian, misfit, "projective", fitted.size());
        h += delta;
        if (delta.norm() <= 1e-15 * (1 + h.norm()))
            break;
    }
    if (!h.allFinite())
        RaiseUndetermined("projective", fitted.size());
    return std::make_shared<TProjectiveModel>(pixel, map, h);
}
