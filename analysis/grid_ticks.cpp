#include "analysis/grid_ticks.h"

#include "analysis/darkness_window.h"
#include "analysis/grid_face.h"
#include "analysis/median.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <vector>

namespace {

// The band read outside the neatline: from Near to Far pixels off it.
constexpr int Near = 3;
constexpr int Far = 16;
// The background of the band is the median over this many pixels along it.
constexpr int BackgroundHalf = 15;
// A tick is a peak of this many noise deviations of the band's ink.
constexpr double MinPeak = 6;
// Pixels either side of a tick weighed for its centre; the ink this far
// from it must have fallen to half (a tick is a thin line).
constexpr int CentreHalf = 3;
constexpr int WidthCheck = 5;
// A tick that inks both halves of the band (each this share of its ink)
// leans from the side's normal by at most this (a tangent); a short one
// may lie in either half.
constexpr double HalfShare = 0.25;
constexpr double MaxTickSlant = 0.35;
// The sides' ends, where the neatline turns, are left out (pixels).
constexpr double EndRoom = 6;
// Ticks on a side at steps that differ from their median by more than this
// share are not a steady series; opposite sides' steps may differ so much.
constexpr double MaxGapChange = 0.1;
constexpr size_t MinTicks = 3;
// A line through two ticks leans from the sides' normal at most this far,
// and the lines of one family differ in lean by at most this (degrees).
constexpr double MaxLean = 10;
constexpr double MaxLeanSpread = 3;
constexpr double MaxRatioMisfit = 0.1;
constexpr double MinSigma = 0.02;

struct TPoint {
    double X = 0, Y = 0;
};

struct TTick {
    TPoint At;        // on the tick, the band's middle
    double Sigma = 0; // along the side, pixels
};

struct TSide {
    const char* Name;
    TPoint A, B; // from the first corner to the second
};

std::string Fixed(double value, int decimals = 1)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// The ticks outside one side of the neatline, in order from its first corner.
std::vector<TTick> FindTicks(const TBitmap& bitmap, const TSide& side, TPoint centre)
{
    const double length = std::hypot(side.B.X - side.A.X, side.B.Y - side.A.Y);
    if (length < 4 * EndRoom)
        return {};
    const TPoint u{(side.B.X - side.A.X) / length, (side.B.Y - side.A.Y) / length};
    TPoint n{u.Y, -u.X};
    const TPoint middle{(side.A.X + side.B.X) / 2, (side.A.Y + side.B.Y) / 2};
    if (n.X * (centre.X - middle.X) + n.Y * (centre.Y - middle.Y) > 0)
        n = {-n.X, -n.Y}; // outward
    double minX = 1e18, minY = 1e18, maxX = -1e18, maxY = -1e18;
    for (const TPoint& p : {side.A, side.B})
        for (const int d : {Near, Far}) {
            minX = std::min(minX, p.X + d * n.X), maxX = std::max(maxX, p.X + d * n.X);
            minY = std::min(minY, p.Y + d * n.Y), maxY = std::max(maxY, p.Y + d * n.Y);
        }
    const int left = int(std::floor(minX)) - 1, top = int(std::floor(minY)) - 1;
    const TDarknessWindow window =
        ReadDarknessWindow(bitmap, left, top, int(std::ceil(maxX)) + 2 - left, int(std::ceil(maxY)) + 2 - top);
    if (window.Width < 2 || window.Height < 2)
        return {};
    // Ink of the band's two halves, pixel by pixel along the side.
    const int count = int(length);
    const int halfRows = (Far - Near + 1) / 2;
    std::vector<double> nearInk(size_t(count), 0), farInk(size_t(count), 0);
    for (int t = 0; t < count; ++t)
        for (int d = Near; d <= Far; ++d) {
            const double v = window.Interpolated(side.A.X + t * u.X + d * n.X - window.Left,
                                                 side.A.Y + t * u.Y + d * n.Y - window.Top, 0);
            (d < Near + halfRows ? nearInk : farInk)[size_t(t)] += v;
        }
    // Each half less its slowly changing background.
    for (std::vector<double>* ink : {&nearInk, &farInk}) {
        std::vector<double> background(static_cast<size_t>(count));
        for (int t = 0; t < count; ++t) {
            const int from = std::max(0, t - BackgroundHalf), to = std::min(count, t + BackgroundHalf + 1);
            background[size_t(t)] = Median(std::vector<double>(ink->begin() + from, ink->begin() + to));
        }
        for (int t = 0; t < count; ++t)
            (*ink)[size_t(t)] -= background[size_t(t)];
    }
    std::vector<double> ink(static_cast<size_t>(count));
    for (int t = 0; t < count; ++t)
        ink[size_t(t)] = nearInk[size_t(t)] + farInk[size_t(t)];
    const double noise = std::max(0.5, NoiseLevel(window)) * std::sqrt(double(Far - Near + 1));
    auto centroid = [&](const std::vector<double>& values, double around, double& mass) {
        double centre = around;
        for (int pass = 0; pass < 3; ++pass) {
            double sum = 0, weighted = 0;
            const int c = int(std::lround(centre));
            for (int t = std::max(0, c - CentreHalf); t <= std::min(count - 1, c + CentreHalf); ++t) {
                const double v = std::max(0.0, values[size_t(t)]);
                sum += v, weighted += v * t;
            }
            mass = sum;
            if (sum <= 0)
                return centre;
            centre = weighted / sum;
        }
        return centre;
    };
    std::vector<TTick> ticks;
    const int first = int(std::ceil(EndRoom)), last = count - 1 - int(std::ceil(EndRoom));
    for (int t = std::max(1, first); t <= std::min(count - 2, last); ++t) {
        const double v = ink[size_t(t)];
        if (v < MinPeak * noise || v < ink[size_t(t - 1)] || v <= ink[size_t(t + 1)])
            continue;
        if ((t >= WidthCheck && ink[size_t(t - WidthCheck)] > v / 2) ||
            (t + WidthCheck < count && ink[size_t(t + WidthCheck)] > v / 2))
            continue;
        double mass = 0, nearMass = 0, farMass = 0;
        const double c = centroid(ink, t, mass);
        const double cn = centroid(nearInk, c, nearMass), cf = centroid(farInk, c, farMass);
        if (nearMass >= HalfShare * mass && farMass >= HalfShare * mass && std::fabs(cf - cn) > MaxTickSlant * halfRows)
            continue;
        // Its centre's standard error from the noise of the pixels weighed.
        double spread = 0;
        for (int k = int(std::lround(c)) - CentreHalf; k <= int(std::lround(c)) + CentreHalf; ++k)
            spread += (k - c) * (k - c);
        const double sigma = std::max(MinSigma, noise * std::sqrt(spread) / mass);
        const double d = (Near + Far) / 2.0;
        if (!ticks.empty() && std::hypot(ticks.back().At.X - side.A.X - c * u.X - d * n.X,
                                         ticks.back().At.Y - side.A.Y - c * u.Y - d * n.Y) < CentreHalf)
            continue; // the same tick, from a second peak of its ink
        ticks.push_back({{side.A.X + c * u.X + d * n.X, side.A.Y + c * u.Y + d * n.Y}, sigma});
    }
    return ticks;
}

// The steps between neighbouring ticks: their median, or 0 when they are
// not steady; the shortest and longest widen low and high.
double SteadyStep(const std::vector<TTick>& ticks, double& low, double& high)
{
    std::vector<double> gaps;
    for (size_t k = 1; k < ticks.size(); ++k)
        gaps.push_back(std::hypot(ticks[k].At.X - ticks[k - 1].At.X, ticks[k].At.Y - ticks[k - 1].At.Y));
    const double step = Median(gaps);
    bool steady = true;
    for (const double g : gaps) {
        low = std::min(low, g), high = std::max(high, g);
        steady = steady && std::fabs(g - step) <= MaxGapChange * step;
    }
    return steady ? step : 0;
}

struct TTickLine {
    TTick From, To;
};

// Where two lines meet, and the standard error there from their ticks'.
bool Meet(const TTickLine& a, const TTickLine& b, TPoint& at, double& sigma)
{
    const double ax = a.To.At.X - a.From.At.X, ay = a.To.At.Y - a.From.At.Y;
    const double bx = b.To.At.X - b.From.At.X, by = b.To.At.Y - b.From.At.Y;
    const double det = ax * by - ay * bx;
    if (std::fabs(det) < 1e-9)
        return false;
    const double rx = b.From.At.X - a.From.At.X, ry = b.From.At.Y - a.From.At.Y;
    const double s = (rx * by - ry * bx) / det, r = (rx * ay - ry * ax) / det;
    at = {a.From.At.X + s * ax, a.From.At.Y + s * ay};
    // A line's offset at share s of the way from its first tick to its second.
    auto offset = [](const TTickLine& l, double f) {
        return std::hypot((1 - f) * l.From.Sigma, f * l.To.Sigma);
    };
    const double sine = std::fabs(det) / (std::hypot(ax, ay) * std::hypot(bx, by));
    sigma = std::hypot(offset(a, s), offset(b, r)) / std::sqrt(2.0) / sine;
    return true;
}

} // namespace

TTickGrid GridFromTicks(const TBitmap& bitmap, const TGridFace& face, const TGridRequest& request, double radius)
{
    TTickGrid result;
    if (!face.Framed)
        return result;
    const auto& c = face.Corners;
    const TPoint ul{c[0], c[1]}, ur{c[2], c[3]}, lr{c[4], c[5]}, ll{c[6], c[7]};
    const TPoint centre{(ul.X + ur.X + lr.X + ll.X) / 4, (ul.Y + ur.Y + lr.Y + ll.Y) / 4};
    const std::array<TSide, 4> sides{TSide{"top", ul, ur}, TSide{"bottom", ll, lr}, TSide{"left", ul, ll},
                                     TSide{"right", ur, lr}};
    std::array<std::vector<TTick>, 4> ticks;
    bool seen = false;
    for (size_t k = 0; k < 4; ++k) {
        ticks[k] = FindTicks(bitmap, sides[k], centre);
        seen = seen || ticks[k].size() >= 2;
    }
    if (!seen)
        return result;
    // Each family: the ticks of two opposite sides paired in order.
    std::array<std::vector<TTickLine>, 2> families; // constant East (top to bottom), constant North
    std::array<double, 2> steps{};
    for (size_t f = 0; f < 2; ++f) {
        const std::vector<TTick>&a = ticks[2 * f], &b = ticks[2 * f + 1];
        const std::string names = std::to_string(a.size()) + " along the " + sides[2 * f].Name + ", " +
                                  std::to_string(b.size()) + " along the " + sides[2 * f + 1].Name;
        if (a.size() != b.size() || a.size() < MinTicks) {
            result.Refusal = "the ticks in the margin do not pair up across the face (" + names + ")";
            return result;
        }
        double low = 1e18, high = 0;
        const double stepA = SteadyStep(a, low, high), stepB = SteadyStep(b, low, high);
        if (stepA <= 0 || stepB <= 0 || std::fabs(stepA - stepB) > MaxGapChange * std::max(stepA, stepB)) {
            result.Refusal = "the ticks in the margin do not lie at one steady step (" + names + ", " +
                             Fixed(low) + " to " + Fixed(high) + " pixels apart)";
            return result;
        }
        steps[f] = (stepA + stepB) / 2;
        // The sides' normal, from the first side towards the second.
        const TSide &sa = sides[2 * f], &sb = sides[2 * f + 1];
        const TPoint across{(sb.A.X + sb.B.X - sa.A.X - sa.B.X) / 2, (sb.A.Y + sb.B.Y - sa.A.Y - sa.B.Y) / 2};
        low = 1e9, high = -1e9;
        for (size_t k = 0; k < a.size(); ++k) {
            const double dx = b[k].At.X - a[k].At.X, dy = b[k].At.Y - a[k].At.Y;
            const double lean = (std::atan2(dy, dx) - std::atan2(across.Y, across.X)) * 180 / M_PI;
            const double wrapped = std::remainder(lean, 360.0);
            low = std::min(low, wrapped), high = std::max(high, wrapped);
            families[f].push_back({a[k], b[k]});
        }
        if (std::max(std::fabs(low), std::fabs(high)) > MaxLean || high - low > MaxLeanSpread) {
            result.Refusal = "the lines joining the ticks in the margin across the face lean " + Fixed(low) +
                             " to " + Fixed(high) + " degrees: the ticks do not pair up";
            return result;
        }
    }
    const double stepEast = steps[0], stepNorth = steps[1];
    if (request.StepRatio > 0 && std::fabs(stepEast / stepNorth / request.StepRatio - 1) > MaxRatioMisfit) {
        result.Refusal = "the ticks in the margin lie " + Fixed(stepEast) + " pixels apart along the rows and " +
                         Fixed(stepNorth) + " down the columns, a ratio of " + Fixed(stepEast / stepNorth, 2) +
                         ", but the spacing gives " + Fixed(request.StepRatio, 2);
        return result;
    }
    // Every crossing, by (line of constant East from the left, of constant North from the top).
    struct TMet {
        TPoint At;
        double Sigma = 0;
    };
    std::map<std::pair<int, int>, TMet> met;
    for (size_t i = 0; i < families[0].size(); ++i)
        for (size_t j = 0; j < families[1].size(); ++j) {
            TMet m;
            if (Meet(families[0][i], families[1][j], m.At, m.Sigma))
                met[{int(i), int(j)}] = m;
        }
    auto nearest = [&](double x, double y) -> std::optional<std::pair<int, int>> {
        std::optional<std::pair<int, int>> best;
        double bestDistance = radius;
        for (const auto& [place, m] : met)
            if (const double d = std::hypot(m.At.X - x, m.At.Y - y); d <= bestDistance)
                best = place, bestDistance = d;
        return best;
    };
    const auto known = nearest(request.Column, request.Row);
    if (!known) {
        result.Refusal = "no two lines joining the ticks in the margin cross within " + Fixed(radius, 0) +
                         " pixels of it";
        return result;
    }
    int signEast = 1, signNorth = -1;
    if (request.Second) {
        const TGridSecondKnown& s = *request.Second;
        const auto second = nearest(s.Column, s.Row);
        const int se = int(std::lround(s.StepsEast)), sn = int(std::lround(s.StepsNorth));
        if (!second) {
            result.KnownFound = true;
            result.Refusal = "The second known crossing at " + Fixed(s.Column, 0) + "," + Fixed(s.Row, 0) +
                             " is not one of the crossings of the lines joining the ticks in the margin";
            return result;
        }
        const int i1 = second->first - known->first, j1 = second->second - known->second;
        if (std::abs(se) != std::abs(i1) || std::abs(sn) != std::abs(j1) ||
            std::fabs(s.StepsEast - se) > 1e-6 || std::fabs(s.StepsNorth - sn) > 1e-6) {
            result.KnownFound = true;
            result.Refusal = "The second known crossing lies " + std::to_string(std::abs(i1)) + " lines across and " +
                             std::to_string(std::abs(j1)) + " lines down from the first among the lines joining the "
                             "ticks in the margin, but " + Fixed(s.StepsEast, 3) + " and " + Fixed(s.StepsNorth, 3) +
                             " spacings away by its coordinates: the spacing disagrees with the known crossings";
            return result;
        }
        if (i1 != 0)
            signEast = se / i1;
        if (j1 != 0)
            signNorth = sn / j1;
    }
    TGrid grid;
    grid.Found = true;
    grid.Framed = true;
    const TMet& k = met.at(*known);
    grid.KnownColumn = k.At.X, grid.KnownRow = k.At.Y;
    grid.StepEast = stepEast, grid.StepNorth = stepNorth;
    const double margin = std::clamp(0.25 * std::min(stepEast, stepNorth), 4.0, radius) + 4;
    for (const auto& [place, m] : met) {
        if (face.Inside(m.At.X, m.At.Y) < margin)
            continue;
        grid.Crossings.push_back({signEast * (place.first - known->first), signNorth * (place.second - known->second),
                                  m.At.X, m.At.Y, m.Sigma});
    }
    std::stable_sort(grid.Crossings.begin(), grid.Crossings.end(), [](const TGridCrossing& a, const TGridCrossing& b) {
        const bool ka = a.East == 0 && a.North == 0, kb = b.East == 0 && b.North == 0;
        if (ka != kb)
            return ka;
        return a.North != b.North ? a.North > b.North : a.East < b.East;
    });
    std::map<int, int> columns, rows;
    for (const TGridCrossing& g : grid.Crossings)
        ++columns[g.East], ++rows[g.North];
    for (const auto& [line, n] : columns)
        grid.LinesEast += n >= 2;
    for (const auto& [line, n] : rows)
        grid.LinesNorth += n >= 2;
    if (grid.Crossings.empty() || grid.Crossings.front().East != 0 || grid.Crossings.front().North != 0) {
        result.KnownFound = true;
        result.Refusal = "The known crossing lies too near the neatline to be numbered among the lines joining the "
                         "ticks in the margin";
        return result;
    }
    result.Grid = std::move(grid);
    return result;
}
