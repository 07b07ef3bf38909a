#include "georef/residual_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr double Degrees = 180 / M_PI;

std::string RmsText(const TRootMeanSquare& rms, const std::string& map)
{
    return ReportNumber("%.3f", rms.Pixels) + " pixels, " + ReportNumber(map, rms.Map) + " map units";
}

// 1, 2 or 5 times a power of ten, at most value.
double RoundDown(double value)
{
    const double power = std::pow(10, std::floor(std::log10(value)));
    for (const double step : {5.0, 2.0, 1.0})
        if (step * power <= value)
            return step * power;
    return power;
}

void AddParameters(TResidualReport& report, const TFitResult& fit)
{
    const TAffineTransform& t = fit.Transform;
    const std::string& map = report.MapFormat;
    const std::string at = fit.WorldFile ? "" : " (at the centre of the fitted points)";
    auto add = [&](const std::string& name, const std::string& value) { report.Parameters.push_back({name, value}); };
    add("Translation east", ReportNumber(map, t.C) + " map units (centre of pixel 0,0)");
    add("Translation north", ReportNumber(map, t.F) + " map units");
    const double alongRows = std::hypot(t.A, t.D), downColumns = std::hypot(t.B, t.E);
    // The column axis turned from east, counter-clockwise positive; shear
    // the departure of the row axis from a right angle to it.
    const double rotation = std::atan2(t.D, t.A) * Degrees;
    const double between = std::atan2(t.A * -t.E - t.D * -t.B, t.A * -t.B + t.D * -t.E) * Degrees;
    const bool oneScale = fit.Method == TwoPointFitName || fit.Method == SimilarityFitName || fit.Method == HelmertFitName;
    if (oneScale) {
        add("Scale" + at, ReportNumber("%.6f", alongRows) + " map units a pixel");
    } else {
        add("Scale along rows" + at, ReportNumber("%.6f", alongRows) + " map units a pixel");
        add("Scale down columns" + at, ReportNumber("%.6f", downColumns) + " map units a pixel");
    }
    if (fit.Method != TwoPointFitName)
        add("Rotation" + at, ReportNumber("%.4f", rotation) + " degrees");
    if (!oneScale)
        add("Shear" + at, ReportNumber("%.4f", 90 - between) + " degrees");
}

} // namespace

std::string ReportNumber(const std::string& format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format.c_str(), value + 0.0);
    return text;
}

TResidualReport MakeResidualReport(const std::string& picture, int width, int height, const TControlPoints& points,
                                   const TFitResult& fit, const TFitQuality& quality)
{
    TResidualReport report;
    report.Picture = picture;
    report.Width = width;
    report.Height = height;
    report.Method = fit.Method;
    report.MapFormat = std::hypot(fit.Transform.A, fit.Transform.D) < 0.01 ? "%.7f" : "%.3f";
    AddParameters(report, fit);
    double largest = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        const TControlPoint& p = points[i];
        const TPointResidual& r = fit.Residuals.at(i);
        TReportRow row{p.Id, p.Role == TPointRole::Check, p.Col, p.Row, p.East, p.North, r.East, r.North,
                       r.Distance, r.Col, r.Row, r.Pixels, quality.LeaveOneOut.at(i)};
        if (std::isfinite(r.Pixels) && r.Pixels > largest) {
            largest = r.Pixels;
            report.LargestId = p.Id;
        }
        report.Rows.push_back(row);
    }
    const std::string& map = report.MapFormat;
    report.RmsLines.push_back("RMS of the " + std::to_string(quality.Fitted) + " fitted points: " +
                              RmsText(quality.Rms, map));
    if (quality.RmsFree)
        report.RmsLines.push_back("RMS with n - k = " + std::to_string(quality.Fitted) + " - " +
                                  std::to_string(fit.MinimumPoints) + " degrees of freedom: " +
                                  RmsText(*quality.RmsFree, map));
    if (quality.CheckRms)
        report.RmsLines.push_back("RMS of the " + std::to_string(quality.Checks) + " check points: " +
                                  RmsText(*quality.CheckRms, map));
    report.Warnings = quality.Warnings;
    report.VectorScale = ResidualVectorScale(largest, width, height);
    return report;
}

double ResidualVectorScale(double largestPixels, int width, int height)
{
    if (!(largestPixels > 0) || !std::isfinite(largestPixels) || width <= 0 || height <= 0)
        return 1;
    return std::max(1.0, RoundDown(0.1 * std::max(width, height) / largestPixels));
}
