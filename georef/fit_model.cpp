#include "georef/fit_model.h"

#include <cmath>

namespace {

class TAffineModel : public TFitModel {
public:
    explicit TAffineModel(const TAffineTransform& transform) : FTransform(transform) {}
    TMapPosition Map(double col, double row) const override
    {
        return {FTransform.MapY(col, row), FTransform.MapX(col, row)};
    }
    TAffineTransform Tangent(double, double) const override { return FTransform; }
    const TAffineTransform* Affine() const override { return &FTransform; }

private:
    TAffineTransform FTransform;
};

template <typename X, typename Y>
TNormaliser Normaliser(std::span<const TControlPoint> points, X x, Y y)
{
    TNormaliser n;
    if (points.empty())
        return n;
    for (const TControlPoint& p : points) {
        n.X0 += x(p);
        n.Y0 += y(p);
    }
    n.X0 /= static_cast<double>(points.size());
    n.Y0 /= static_cast<double>(points.size());
    double sum = 0;
    for (const TControlPoint& p : points)
        sum += (x(p) - n.X0) * (x(p) - n.X0) + (y(p) - n.Y0) * (y(p) - n.Y0);
    const double spread = std::sqrt(sum / static_cast<double>(points.size()));
    n.Scale = spread > 0 && std::isfinite(spread) ? spread : 1;
    return n;
}

} // namespace

TAffineTransform TFitModel::Tangent(double col, double row) const
{
    constexpr double h = 0.5;
    const TMapPosition here = Map(col, row);
    const TMapPosition left = Map(col - h, row), right = Map(col + h, row);
    const TMapPosition up = Map(col, row - h), down = Map(col, row + h);
    TAffineTransform t;
    t.A = (right.East - left.East) / (2 * h);
    t.D = (right.North - left.North) / (2 * h);
    t.B = (down.East - up.East) / (2 * h);
    t.E = (down.North - up.North) / (2 * h);
    t.C = here.East - t.A * col - t.B * row;
    t.F = here.North - t.D * col - t.E * row;
    return t;
}

TFitModelPtr AffineModel(const TAffineTransform& transform)
{
    return std::make_shared<TAffineModel>(transform);
}

bool PixelStep(const TAffineTransform& t, double east, double north, double& col, double& row)
{
    const double determinant = t.A * t.E - t.B * t.D;
    if (determinant == 0 || !std::isfinite(determinant))
        return false;
    col = (t.E * east - t.B * north) / determinant;
    row = (t.A * north - t.D * east) / determinant;
    return std::isfinite(col) && std::isfinite(row);
}

TNormaliser PixelNormaliser(std::span<const TControlPoint> points)
{
    return Normaliser(points, [](const TControlPoint& p) { return p.Col; },
                      [](const TControlPoint& p) { return p.Row; });
}

TNormaliser MapNormaliser(std::span<const TControlPoint> points)
{
    return Normaliser(points, [](const TControlPoint& p) { return p.East; },
                      [](const TControlPoint& p) { return p.North; });
}
