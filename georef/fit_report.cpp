#include "georef/fit_report.h"

#include "georef/coordinates.h"
#include "georef/json_text.h"

#include <cmath>
#include <cstdio>

namespace {

std::string Format(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Map units of a degree or less need more decimals than metres.
const char* MapFormat(const TFitResult& fit)
{
    return std::hypot(fit.Transform.A, fit.Transform.D) < 0.01 ? "%.7f" : "%.3f";
}

std::string RmsText(const TRootMeanSquare& rms, const TFitResult& fit)
{
    return Format("%.3f", rms.Pixels) + " pixels, " + Format(MapFormat(fit), rms.Map) + " map units";
}

} // namespace

std::vector<std::string> FitReportLines(const TControlPoints& points, const TFitResult& fit,
                                        const TFitQuality& quality)
{
    std::vector<std::string> lines;
    lines.push_back("Transformation " + fit.Method + ": " + std::to_string(quality.Fitted) + " fitted point" +
                    (quality.Fitted == 1 ? "" : "s") + ", " + std::to_string(quality.Checks) + " check point" +
                    (quality.Checks == 1 ? "" : "s"));
    char line[256];
    std::snprintf(line, sizeof line, "%5s %10s %10s %16s %16s %-6s %12s %10s %13s", "Point", "Column", "Row", "East",
                  "North", "Role", "Error (map)", "Error (px)", "Left out (px)");
    lines.push_back(line);
    const char* map = MapFormat(fit);
    for (size_t i = 0; i < points.size(); ++i) {
        const TControlPoint& p = points[i];
        const TPointResidual& r = fit.Residuals[i];
        const auto& left = quality.LeaveOneOut[i];
        std::snprintf(line, sizeof line, "%5d %10.3f %10.3f %16s %16s %-6s %12s %10.3f %13s", p.Id, p.Col, p.Row,
                      Format(map, p.East).c_str(), Format(map, p.North).c_str(),
                      p.Role == TPointRole::Fitted ? "fitted" : "check", Format(map, r.Distance).c_str(), r.Pixels,
                      left ? Format("%.3f", *left).c_str() : "-");
        lines.push_back(line);
    }
    lines.push_back("RMS of the fitted points: " + RmsText(quality.Rms, fit));
    if (quality.RmsFree)
        lines.push_back("RMS with n - k = " + std::to_string(quality.Fitted) + " - " +
                        std::to_string(fit.MinimumPoints) + " degrees of freedom: " + RmsText(*quality.RmsFree, fit));
    if (quality.CheckRms)
        lines.push_back("RMS of the check points: " + RmsText(*quality.CheckRms, fit));
    const TAffineTransform& t = fit.Transform;
    lines.push_back(std::string(fit.WorldFile ? "Scale" : "Scale at the centre of the fitted points") +
                    " along rows: " + Format("%.6f", std::hypot(t.A, t.D)) +
                    ", down columns: " + Format("%.6f", std::hypot(t.B, t.E)));
    for (const auto& warning : quality.Warnings)
        lines.push_back("Warning: " + warning);
    return lines;
}

std::string FitReportJson(const TControlPoints& points, const TFitResult& fit, const TFitQuality& quality)
{
    TJson report;
    report["transform"] = fit.Method;
    report["rms_px"] = JsonNumber(quality.Rms.Pixels);
    report["rms_map"] = JsonNumber(quality.Rms.Map);
    report["check_rms_px"] = quality.CheckRms ? JsonNumber(quality.CheckRms->Pixels) : nullptr;
    TJson& list = report["points"] = TJson::array();
    for (size_t i = 0; i < points.size(); ++i) {
        const TControlPoint& p = points[i];
        const TPointResidual& r = fit.Residuals[i];
        const auto& left = quality.LeaveOneOut[i];
        list.push_back({{"id", p.Id},
                        {"col", JsonNumber(p.Col)},
                        {"row", JsonNumber(p.Row)},
                        {"map_x", JsonNumber(p.East)},
                        {"map_y", JsonNumber(p.North)},
                        {"enabled", p.Role == TPointRole::Fitted},
                        {"residual_px", JsonNumber(r.Pixels)},
                        {"residual_map", JsonNumber(r.Distance)},
                        {"leave_one_out_px", left ? JsonNumber(*left) : nullptr}});
    }
    return JsonText(report) + "\n";
}
