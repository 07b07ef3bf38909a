#include "analysis/grid_crossing.h"

#include "analysis/darkness_window.h"
#include "analysis/line_fit.h"

#include <algorithm>
#include <cmath>

namespace {

// The fitted line may turn this far from the direction given, degrees.
constexpr double MaxTurn = 3;
// Each side of the crossing needs inked bins over this share of its length.
constexpr double MinInkedShare = 0.3;
constexpr double MaxSigma = 0.25;
constexpr double MaxBlur = 2.2;
// The other line's band left out, pixels either side of its centre.
constexpr double OtherBand = 4;

TStraightLine LineThrough(double x, double y, double dx, double dy)
{
    double normal = std::atan2(dy, dx) + M_PI / 2;
    normal = std::fmod(normal + 2 * M_PI, M_PI);
    return {normal, x * std::cos(normal) + y * std::sin(normal)};
}

bool InkedBothSides(const TFittedLine& line)
{
    int inked[2] = {0, 0}, total[2] = {0, 0};
    for (const TLineBin& bin : line.Bins) {
        if (std::fabs(bin.Along) < OtherBand + 1)
            continue;
        const int side = bin.Along < 0 ? 0 : 1;
        ++total[side];
        inked[side] += bin.Inked && !bin.Outlier;
    }
    for (int side = 0; side < 2; ++side)
        if (total[side] == 0 || inked[side] < MinInkedShare * total[side])
            return false;
    return true;
}

double Turn(const TStraightLine& a, const TStraightLine& b)
{
    const double d = std::fabs(a.NormalAngle - b.NormalAngle);
    return std::min(d, M_PI - d);
}

} // namespace

std::optional<TMeasuredCrossing> MeasureGridCrossing(const TBitmap& bitmap, const TGridCrossingGuess& g)
{
    const int half = int(std::ceil(g.Reach)) + 4;
    const int left = int(std::floor(g.X)) - half, top = int(std::floor(g.Y)) - half;
    const TDarknessWindow window = ReadDarknessWindow(bitmap, left, top, 2 * half + 1, 2 * half + 1);
    if (window.Width < 2 * half + 1 || window.Height < 2 * half + 1)
        return std::nullopt;
    const double noise = NoiseLevel(window);
    const bool bilevel = IsBilevel(window);
    double x = g.X - window.Left, y = g.Y - window.Top;
    const TStraightLine given[2] = {LineThrough(x, y, g.AlongX, g.AlongY), LineThrough(x, y, g.DownX, g.DownY)};
    TFittedLine lines[2];
    // Lines whose shape a neighbour gave are fitted once, from the guess;
    // others are found roughly first, fitted, and fitted again from where
    // the two meet.
    const bool seeded = g.Width[0] > 0 && g.Width[1] > 0 && g.Blur[0] > 0 && g.Blur[1] > 0;
    for (int pass = seeded ? 2 : 0; pass < 3; ++pass) {
        for (int k = 0; k < 2; ++k) {
            const bool fresh = pass == 0 || seeded;
            TLineFitRequest request;
            request.OriginX = x;
            request.OriginY = y;
            request.Start = fresh ? given[k] : lines[k].Line;
            request.Width = seeded ? g.Width[k] : pass == 0 ? 2 : lines[k].Width;
            request.Blur = seeded ? g.Blur[k] : pass == 0 ? 1 : lines[k].Blur;
            request.Masks = {{fresh ? given[1 - k] : lines[1 - k].Line, OtherBand, false}};
            request.Reach = g.Reach;
            request.Rough = pass == 0;
            request.Warm = pass == 2;
            lines[k] = FitLine(window, request, noise, bilevel);
            if (!lines[k].Valid || Turn(lines[k].Line, given[k]) > MaxTurn * M_PI / 180)
                return std::nullopt;
        }
        const double c0 = std::cos(lines[0].Line.NormalAngle), s0 = std::sin(lines[0].Line.NormalAngle);
        const double c1 = std::cos(lines[1].Line.NormalAngle), s1 = std::sin(lines[1].Line.NormalAngle);
        const double det = c0 * s1 - s0 * c1;
        if (std::fabs(det) < 0.5)
            return std::nullopt;
        x = (lines[0].Line.Distance * s1 - lines[1].Line.Distance * s0) / det;
        y = (c0 * lines[1].Line.Distance - c1 * lines[0].Line.Distance) / det;
        if (std::hypot(x - (g.X - window.Left), y - (g.Y - window.Top)) > g.Reach / 2)
            return std::nullopt;
    }
    for (const TFittedLine& line : lines)
        if (!InkedBothSides(line) || line.Blur > MaxBlur)
            return std::nullopt;
    const double c0 = std::cos(lines[0].Line.NormalAngle), s0 = std::sin(lines[0].Line.NormalAngle);
    const double c1 = std::cos(lines[1].Line.NormalAngle), s1 = std::sin(lines[1].Line.NormalAngle);
    const double sine = std::fabs(c0 * s1 - s0 * c1);
    const double sigma = std::sqrt((lines[0].OffsetVariance + lines[1].OffsetVariance) / 2) / sine;
    if (!std::isfinite(sigma) || sigma > MaxSigma)
        return std::nullopt;
    TMeasuredCrossing measured{x + window.Left, y + window.Top, std::max(sigma, 0.001)};
    for (int k = 0; k < 2; ++k)
        measured.Width[k] = lines[k].Width, measured.Blur[k] = lines[k].Blur;
    return measured;
}
