#include "georef/world_file.h"

#include "platform/durable_files.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

std::string FormatFixed(double x, int decimals, int minWidth)
{
    if (!std::isfinite(x))
        return std::isnan(x) ? "NAN" : x > 0 ? "INF" : "-INF";
    // glibc prints the exact decimal expansion when asked for enough digits;
    // a double has at most 1074 of them after the point.
    std::vector<char> buffer(1500);
    std::snprintf(buffer.data(), buffer.size(), "%.1100f", std::fabs(x));
    std::string digits(buffer.data());
    const size_t point = digits.find('.');
    std::string integerPart = digits.substr(0, point);
    std::string fraction = digits.substr(point + 1, static_cast<size_t>(decimals));
    const bool roundUp = digits[point + 1 + static_cast<size_t>(decimals)] >= '5';
    if (roundUp) {
        std::string all = integerPart + fraction;
        int i = static_cast<int>(all.size()) - 1;
        for (; i >= 0 && all[static_cast<size_t>(i)] == '9'; --i)
            all[static_cast<size_t>(i)] = '0';
        if (i < 0)
            all.insert(all.begin(), '1');
        else
            ++all[static_cast<size_t>(i)];
        integerPart = all.substr(0, all.size() - fraction.size());
        fraction = all.substr(all.size() - fraction.size());
    }
    std::string text = std::signbit(x) ? "-" : "";
    text += integerPart;
    if (decimals > 0)
        text += "." + fraction;
    if (static_cast<int>(text.size()) < minWidth)
        text.insert(0, static_cast<size_t>(minWidth) - text.size(), ' ');
    return text;
}

// The origin lines of a fitted world file keep three decimals, enough for a
// pixel of half a map unit or more (metres, feet, yards). A smaller pixel, a
// sheet in degrees above all, takes as many more as keep the origin within a
// thousandth of a pixel: three decimals of a degree move a sheet at 300 dpi by
// up to ten pixels. The two-point world file keeps its three.
static int OriginDecimals(double pixelSize)
{
    int decimals = 3;
    double rounding = 0.0005;
    while (pixelSize > 0 && decimals < 12 && rounding > 0.001 * pixelSize) {
        ++decimals;
        rounding /= 10;
    }
    return decimals;
}

std::string WorldFileText(const TWorldTransform& t)
{
    const std::string lines[] = {
        FormatFixed(t.S, 12, 14),  FormatFixed(0.0, 3, 5),  FormatFixed(0.0, 3, 5),
        FormatFixed(-t.S, 12, 14), FormatFixed(t.E0, 3, 5), FormatFixed(t.N0, 3, 5),
    };
    std::string text;
    for (const auto& line : lines)
        text += line + "\r\n";
    return text;
}

std::string WorldFileText(const TAffineTransform& t)
{
    const int origin = OriginDecimals(std::min(std::hypot(t.A, t.D), std::hypot(t.B, t.E)));
    const std::string lines[] = {
        FormatFixed(t.A, 12, 14), FormatFixed(t.D, 12, 14),    FormatFixed(t.B, 12, 14),
        FormatFixed(t.E, 12, 14), FormatFixed(t.C, origin, 5), FormatFixed(t.F, origin, 5),
    };
    std::string text;
    for (const auto& line : lines)
        text += line + "\r\n";
    return text;
}

std::string WorldFileText(const TFitResult& fit)
{
    const TAffineTransform& t = fit.Transform;
    return fit.NorthUp ? WorldFileText(TWorldTransform{t.A, t.C, t.F}) : WorldFileText(t);
}

void WriteTextFile(const std::string& fileName, const std::string& text)
{
    WriteFileSynced(fileName, text);
}
