#include "georef/fit_numerics.h"
#include "georef/fit_solvers.h"

#include <cmath>
#include <string>
#include <utility>

namespace {

// The terms 1, u, v, u², uv, v², u³, u²v, uv², v³ up to the degree.
Eigen::RowVectorXd Terms(double u, double v, int degree)
{
    Eigen::RowVectorXd terms((degree + 1) * (degree + 2) / 2);
    Eigen::Index k = 0;
    for (int d = 0; d <= degree; ++d)
        for (int j = 0; j <= d; ++j)
            terms(k++) = std::pow(u, d - j) * std::pow(v, j);
    return terms;
}

class TPolynomialModel : public TFitModel {
public:
    TPolynomialModel(int degree, TNormaliser pixel, TNormaliser map, Eigen::MatrixXd coefficients)
        : FDegree(degree), FPixel(pixel), FMap(map), FCoefficients(std::move(coefficients))
    {
    }
    TMapPosition Map(double col, double row) const override
    {
        const Eigen::RowVector2d xy = Terms(FPixel.X(col), FPixel.Y(row), FDegree) * FCoefficients;
        return {FMap.X0 + FMap.Scale * xy(0), FMap.Y0 + FMap.Scale * xy(1)};
    }

private:
    int FDegree;
    TNormaliser FPixel, FMap;
    Eigen::MatrixXd FCoefficients; // one column per map axis
};

TFitModelPtr FitPolynomial(std::span<const TControlPoint> fitted, int degree)
{
    const TNormaliser pixel = PixelNormaliser(fitted);
    const TNormaliser map = MapNormaliser(fitted);
    const Eigen::Index n = static_cast<Eigen::Index>(fitted.size());
    Eigen::MatrixXd design(n, (degree + 1) * (degree + 2) / 2);
    Eigen::MatrixXd rhs(n, 2);
    for (Eigen::Index i = 0; i < n; ++i) {
        const TControlPoint& p = fitted[static_cast<size_t>(i)];
        design.row(i) = Terms(pixel.X(p.Col), pixel.Y(p.Row), degree);
        rhs.row(i) << map.X(p.East), map.Y(p.North);
    }
    const std::string name = "polynomial" + std::to_string(degree);
    return std::make_shared<TPolynomialModel>(degree, pixel, map, SolveLeastSquares(design, rhs, name, fitted.size()));
}

} // namespace

TFitModelPtr FitPolynomial2(std::span<const TControlPoint> fitted)
{
    return FitPolynomial(fitted, 2);
}

TFitModelPtr FitPolynomial3(std::span<const TControlPoint> fitted)
{
    return FitPolynomial(fitted, 3);
}
