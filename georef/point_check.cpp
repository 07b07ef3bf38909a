#include "georef/point_check.h"

#include "platform/exceptions.h"

#include <cmath>
#include <cstdio>
#include <numbers>

namespace {

// A pixel misfit above this is worth a warning.
constexpr double MaxQuietMisfit = 1.0;
// Beyond this the points turn the map further than any scan is skewed:
// swapped or negated axes.
constexpr double MaxPlausibleRotation = 45.0;

std::string Format(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

} // namespace

TPointCheck CheckControlPoints(const TControlPoints& points, const TFitResult& fit)
{
    std::vector<size_t> fitted;
    for (size_t i = 0; i < points.size() && fitted.size() < 2; ++i)
        if (points[i].Role == TPointRole::Fitted)
            fitted.push_back(i);
    if (fitted.size() < 2 || fit.Residuals.size() != points.size())
        throw Exception("The check needs two fitted points and the fit that measured them");
    const TControlPoint& p1 = points[fitted[0]];
    const TControlPoint& p2 = points[fitted[1]];
    const TPointResidual& misfit = fit.Residuals[fitted[1]];

    TPointCheck check;
    const double dc = p2.Col - p1.Col;
    const double dr = p2.Row - p1.Row;
    const double dY = p2.East - p1.East;
    const double dX = p2.North - p1.North;
    check.MapMisfit = misfit.Distance;
    check.PixelMisfit = misfit.Pixels;
    // The scales of the transformation written, not the ratios of the two
    // points' steps, which a turned scan distorts.
    check.RowScale = std::hypot(fit.Transform.A, fit.Transform.D);
    check.ColumnScale = std::hypot(fit.Transform.B, fit.Transform.E);
    // Map Y grows with the columns and map X against the rows, so the pixel
    // step (dc, −dr) and the map step (dY, dX) point the same way on a
    // straight scan; a picture turned counter-clockwise turns the first.
    double rotation = (std::atan2(-dr, dc) - std::atan2(dX, dY)) * 180 / std::numbers::pi;
    if (rotation > 180)
        rotation -= 360;
    if (rotation <= -180)
        rotation += 360;
    check.Rotation = (dX == 0 && dY == 0) ? 0 : rotation;
    check.AxesReversed = std::fabs(check.Rotation) > MaxPlausibleRotation;

    if (check.PixelMisfit > MaxQuietMisfit)
        check.Warnings.push_back("Point 2 lies " + Format("%.3f", check.PixelMisfit) +
                                 " pixels from its coordinates");
    if (check.AxesReversed)
        check.Warnings.push_back("The map axes point the wrong way (Y and X swapped, or the sign toggle needed)");
    return check;
}

std::vector<std::string> PointCheckLines(const TPointCheck& check)
{
    std::vector<std::string> lines = {
        "Misfit of point 2: " + Format("%.3f", check.MapMisfit) + " map units, " +
            Format("%.3f", check.PixelMisfit) + " pixels",
        "Scale along rows: " + Format("%.6f", check.RowScale) + ", down columns: " + Format("%.6f", check.ColumnScale),
        "Rotation implied by the points: " + Format("%.3f", check.Rotation) + " degrees",
    };
    for (const auto& warning : check.Warnings)
        lines.push_back("Warning: " + warning);
    return lines;
}

std::string PointCheckSummary(const TPointCheck& check)
{
    std::string text = "Misfit " + Format("%.3f", check.PixelMisfit) + " px, rotation " +
                       Format("%.2f", check.Rotation) + "\u00b0";
    for (const auto& warning : check.Warnings)
        text += " \u2013 " + warning;
    return text;
}
