#include "georef/world_file.h"

#include "georef/coordinates.h"
#include "platform/exceptions.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

double BoxValue(const std::string& text)
{
    double value = 0;
    if (!TryParseCoordinate(NormaliseDecimal(text), value))
        throw EConvertError("'" + text + "' is not a valid floating point value");
    return value;
}

} // namespace

TControlPoints ReadControlPoints(const TControlTexts& texts)
{
    TControlPoints points;
    points.Row1 = StrToFloat(texts.Row1, texts.DecimalSeparator);
    points.Col1 = StrToFloat(texts.Col1, texts.DecimalSeparator);
    points.Row2 = StrToFloat(texts.Row2, texts.DecimalSeparator);
    points.Col2 = StrToFloat(texts.Col2, texts.DecimalSeparator);
    points.Y1 = BoxValue(texts.Y1);
    points.X1 = BoxValue(texts.X1);
    points.Y2 = BoxValue(texts.Y2);
    points.X2 = BoxValue(texts.X2);
    return points;
}

void NegateMapCoordinates(TControlPoints& points)
{
    points.Y1 = -points.Y1;
    points.X1 = -points.X1;
    points.Y2 = -points.Y2;
    points.X2 = -points.X2;
}

TWorldTransform ComputeWorldTransform(const TControlPoints& p)
{
    const double dc2 = (p.Col2 - p.Col1) * (p.Col2 - p.Col1);
    const double dr2 = (p.Row2 - p.Row1) * (p.Row2 - p.Row1);
    const double dY2 = (p.Y2 - p.Y1) * (p.Y2 - p.Y1);
    const double dX2 = (p.X2 - p.X1) * (p.X2 - p.X1);
    const double mapDistance = std::sqrt(dX2 + dY2);
    const double pixelDistance = std::sqrt(dr2 + dc2);
    if (pixelDistance == 0) {
        if (mapDistance == 0)
            throw EInvalidOp("Invalid floating point operation");
        throw EZeroDivide("Floating point division by zero");
    }
    TWorldTransform t;
    t.S = mapDistance / pixelDistance;
    t.E0 = p.Y1 - t.S * p.Col1;
    t.N0 = p.X1 + t.S * p.Row1;
    if (!std::isfinite(t.S) || !std::isfinite(t.E0) || !std::isfinite(t.N0))
        throw EInvalidOp("Floating point overflow");
    return t;
}

TAffineTransform ToAffine(const TWorldTransform& t)
{
    return {t.S, 0, 0, -t.S, t.E0, t.N0};
}

TAffineTransform ComputeSimilarityTransform(const TControlPoints& p)
{
    const double dc = p.Col2 - p.Col1;
    const double dr = p.Row2 - p.Row1;
    const double dY = p.Y2 - p.Y1;
    const double dX = p.X2 - p.X1;
    const double pixel2 = dc * dc + dr * dr;
    if (pixel2 == 0) {
        if (dY == 0 && dX == 0)
            throw EInvalidOp("Invalid floating point operation");
        throw EZeroDivide("Floating point division by zero");
    }
    // dY = a·dc + b·dr and dX = b·dc − a·dr, solved for a and b.
    const double a = (dY * dc - dX * dr) / pixel2;
    const double b = (dY * dr + dX * dc) / pixel2;
    TAffineTransform t{a, b, b, -a, 0, 0};
    t.C = p.Y1 - a * p.Col1 - b * p.Row1;
    t.F = p.X1 - b * p.Col1 + a * p.Row1;
    for (const double v : {t.A, t.B, t.C, t.F})
        if (!std::isfinite(v))
            throw EInvalidOp("Floating point overflow");
    return t;
}

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
    const std::string lines[] = {
        FormatFixed(t.A, 12, 14), FormatFixed(t.D, 12, 14), FormatFixed(t.B, 12, 14),
        FormatFixed(t.E, 12, 14), FormatFixed(t.C, 3, 5),   FormatFixed(t.F, 3, 5),
    };
    std::string text;
    for (const auto& line : lines)
        text += line + "\r\n";
    return text;
}

void WriteTextFile(const std::string& fileName, const std::string& text)
{
    const int fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        RaiseIOError(errno);
    size_t written = 0;
    int error = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            break;
        }
        written += static_cast<size_t>(n);
    }
    if (::close(fd) != 0 && error == 0 && errno != EINTR)
        error = errno;
    if (error != 0) {
        ::unlink(fileName.c_str());
        RaiseIOError(error);
    }
}
