#include "analysis/grid_spacing.h"

#include "analysis/darkness_window.h"
#include "analysis/grid_face.h"
#include "analysis/median.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// The bands beside the line: from Gap to Reach pixels off its centre.
constexpr double Gap = 4;
constexpr double Reach = 20;
// The background is the median over this many pixels along the line.
constexpr int BackgroundHalf = 12;
// Pixels of the line read at a time.
constexpr int Chunk = 256;
// Of the best period's score, a shorter period needs this share to win (a
// period twice the true one scores as well as it, with missing lines even
// better).
constexpr double ShorterWins = 0.8;
constexpr double MinScore = 0.5;
// Other periods offered when they score this share of the best.
constexpr double AlternativeShare = 0.7;
constexpr size_t MaxCandidates = 2;
// Crossings off the likeliest step's places that make a second grid: at
// least this many, and this share of those on its places.
constexpr int MinRivalSeen = 3;
constexpr double RivalShare = 0.8;  // of the places it expects
constexpr double RivalOfOn = 0.25;  // of the crossings on the first's places
constexpr int MinRivalOn = 6;
constexpr double MaxRivalRatio = 5;

// Ink of each band beside the line, pixel by pixel from t = first.
void BandInk(const TBitmap& bitmap, const TSpacingProbe& p, int first, int count, std::vector<double>& before,
             std::vector<double>& after)
{
    before.assign(size_t(count), 0);
    after.assign(size_t(count), 0);
    for (int start = 0; start < count; start += Chunk) {
        const int n = std::min(Chunk, count - start);
        double minX = 1e18, minY = 1e18, maxX = -1e18, maxY = -1e18;
        for (const int t : {first + start, first + start + n - 1})
            for (const double u : {-Reach, Reach}) {
                const double x = p.Origin.X + t * p.Along.X + u * p.Across.X;
                const double y = p.Origin.Y + t * p.Along.Y + u * p.Across.Y;
                minX = std::min(minX, x), maxX = std::max(maxX, x);
                minY = std::min(minY, y), maxY = std::max(maxY, y);
            }
        const int left = int(std::floor(minX)) - 1, top = int(std::floor(minY)) - 1;
        const TDarknessWindow w = ReadDarknessWindow(bitmap, left, top, int(maxX) - left + 3, int(maxY) - top + 3);
        for (int k = 0; k < n; ++k) {
            const double t = first + start + k;
            const double x = p.Origin.X + t * p.Along.X, y = p.Origin.Y + t * p.Along.Y;
            double b = 0, a = 0;
            for (double u = Gap; u <= Reach; u += 1) {
                b += w.Interpolated(x - u * p.Across.X - w.Left, y - u * p.Across.Y - w.Top, 0);
                a += w.Interpolated(x + u * p.Across.X - w.Left, y + u * p.Across.Y - w.Top, 0);
            }
            before[size_t(start + k)] = b;
            after[size_t(start + k)] = a;
        }
    }
}

std::vector<double> AboveBackground(const std::vector<double>& ink)
{
    std::vector<double> out(ink.size());
    const int n = int(ink.size());
    for (int i = 0; i < n; ++i) {
        const int lo = std::max(0, i - BackgroundHalf), hi = std::min(n, i + BackgroundHalf + 1);
        out[size_t(i)] = ink[size_t(i)] - Median(std::vector<double>(ink.begin() + lo, ink.begin() + hi));
    }
    return out;
}

} // namespace

std::optional<TMeasuredSpacing> MeasureSpacing(const TBitmap& bitmap, const TGridFace& face, const TSpacingProbe& p)
{
    const std::vector<TMeasuredSpacing> all = MeasureSpacings(bitmap, face, p);
    if (all.empty())
        return {};
    return all.front();
}

std::vector<TMeasuredSpacing> MeasureSpacings(const TBitmap& bitmap, const TGridFace& face, const TSpacingProbe& p)
{
    // How far the line runs inside the face each way.
    auto inside = [&](int t) {
        const double x = p.Origin.X + t * p.Along.X, y = p.Origin.Y + t * p.Along.Y;
        return face.Inside(x, y) >= Reach;
    };
    int back = 0, ahead = 0;
    while (inside(-(back + 1)))
        ++back;
    while (inside(ahead + 1))
        ++ahead;
    const int count = back + ahead + 1;
    if (count < 2 * p.MinSpacing)
        return {};
    std::vector<double> before, after;
    BandInk(bitmap, p, -back, count, before, after);
    before = AboveBackground(before);
    after = AboveBackground(after);
    std::vector<double> crossing(static_cast<size_t>(count));
    for (size_t i = 0; i < crossing.size(); ++i)
        crossing[i] = std::max(0.0, std::min(before[i], after[i]));
    // Half the known crossing's own line is the unit: a dashed line may
    // ink the bands less.
    double unit = 0;
    for (int t = -2; t <= 2; ++t)
        if (back + t >= 0 && back + t < count)
            unit = std::max(unit, crossing[size_t(back + t)]);
    unit *= 0.5;
    if (unit <= 0)
        return {};
    const std::vector<double> raw = crossing;
    for (double& s : crossing)
        s = std::min(1.0, s / unit);

    auto peakNear = [&](double t, double tolerance, double* where = nullptr) {
        double best = 0;
        for (int i = int(std::ceil(t - tolerance)); i <= int(std::floor(t + tolerance)); ++i)
            if (i >= -back && i <= ahead && crossing[size_t(i + back)] > best) {
                best = crossing[size_t(i + back)];
                if (where)
                    *where = i;
            }
        return best;
    };
    struct TScore {
        double Spacing, Score;
    };
    std::vector<TScore> scores;
    const double maxSpacing = std::max(back, ahead);
    for (double s = p.MinSpacing; s <= maxSpacing; s *= 1.002) {
        double sum = 0;
        int n = 0;
        for (int k = -int(back / s); k <= int(ahead / s); ++k) {
            if (k == 0)
                continue;
            sum += peakNear(k * s, 1.5 + 0.003 * std::abs(k) * s);
            ++n;
        }
        if (n >= 1)
            scores.push_back({s, sum / std::max(n, 2)});
    }
    if (scores.empty())
        return {};
    double best = 0;
    for (const TScore& s : scores)
        best = std::max(best, s.Score);
    if (best < MinScore)
        return {};
    // The shortest period that scores nearly as well, at its local best;
    // then the other local bests that score well, best first.
    size_t pick = 0;
    while (scores[pick].Score < ShorterWins * best)
        ++pick;
    while (pick + 1 < scores.size() && scores[pick + 1].Score >= scores[pick].Score)
        ++pick;
    std::vector<size_t> picks{pick};
    std::vector<size_t> others;
    for (size_t i = 1; i + 1 < scores.size(); ++i)
        if (i != pick && scores[i].Score >= AlternativeShare * best && scores[i].Score > scores[i - 1].Score &&
            scores[i].Score >= scores[i + 1].Score && std::fabs(scores[i].Spacing / scores[pick].Spacing - 1) > 0.05)
            others.push_back(i);
    std::sort(others.begin(), others.end(), [&](size_t a, size_t b) { return scores[a].Score > scores[b].Score; });
    for (size_t k = 0; k < others.size() && picks.size() < MaxCandidates; ++k)
        picks.push_back(others[k]);
    std::vector<TMeasuredSpacing> found;
    for (const size_t chosen : picks) {
        const double coarse = scores[chosen].Spacing;
        // Refined by a straight fit of the peaks' places against their numbers.
        double sk = 0, skk = 0, st = 0, skt = 0;
        int seen = 0, expected = 0;
        for (int k = -int(back / coarse); k <= int(ahead / coarse); ++k) {
            if (k == 0)
                continue;
            ++expected;
            double where = 0;
            if (peakNear(k * coarse, 1.5 + 0.003 * std::abs(k) * coarse, &where) < MinScore)
                continue;
            ++seen;
            // The peak's centre, from the unclipped ink around its highest sample.
            int top = int(where);
            for (int i = top - 2; i <= top + 2; ++i)
                if (i >= -back && i <= ahead && raw[size_t(i + back)] > raw[size_t(top + back)])
                    top = i;
            double weight = 0, moment = 0;
            for (int i = top - 2; i <= top + 2; ++i)
                if (i >= -back && i <= ahead) {
                    const double v = std::max(0.0, raw[size_t(i + back)] - 0.25 * raw[size_t(top + back)]);
                    weight += v, moment += v * i;
                }
            where = weight > 0 ? moment / weight : top;
            sk += k, skk += double(k) * k, st += where, skt += k * where;
        }
        if (seen < 2 && !(seen == 1 && expected == 1))
            continue;
        // Through the origin when one peak is all there is.
        const double n = seen + 1; // the known crossing at k = 0, t = 0
        const double denominator = n * skk - sk * sk;
        const double spacing = denominator > 0 ? (n * skt - sk * st) / denominator : coarse;
        found.push_back({std::fabs(spacing), double(seen) / std::max(expected, 1), seen});
    }
    if (found.empty())
        return found;
    // Strong crossings that the likeliest step does not place: another
    // grid's lines, when there are enough of them at a steady step.
    const double step = found.front().Pixels;
    std::vector<int> off;
    int on = 0;
    for (int i = -back + 2; i <= ahead - 2; ++i) {
        const double v = crossing[size_t(i + back)];
        if (v < 0.9 || std::abs(i) < 3)
            continue;
        bool top = true;
        for (int j = i - 3; j <= i + 3; ++j)
            if (j != i && j >= -back && j <= ahead && raw[size_t(j + back)] > raw[size_t(i + back)])
                top = false;
        if (!top)
            continue;
        const double k = std::round(i / step);
        if (std::fabs(i - k * step) <= 3 + 0.003 * std::abs(k) * step)
            ++on;
        else if (off.empty() || i - off.back() >= p.MinSpacing)
            off.push_back(i);
        else if (raw[size_t(i + back)] > raw[size_t(off.back() + back)])
            off.back() = i; // one crossing, its strongest place
    }
    // The other grid: a steady step through the crossings off the first's
    // places, that sees most of the places it expects there.
    double rival = 0;
    int rivalSeen = 0;
    auto onStep = [&](double t) {
        const double k = std::round(t / step);
        return std::fabs(t - k * step) <= 3 + 0.003 * std::abs(k) * step;
    };
    for (size_t a = 0; a < off.size(); ++a)
        for (size_t b = a + 1; b < off.size(); ++b)
            for (int d = 1; d <= 3; ++d) {
                const double r = double(off[b] - off[a]) / d;
                if (r < p.MinSpacing || std::fabs(r / step - std::round(r / step)) < 0.05 ||
                    std::fabs(step / r - std::round(step / r)) < 0.05)
                    continue;
                int seen = 0, expected = 0;
                for (int k = -int((off[a] + back) / r); off[a] + k * r <= ahead - 2; ++k) {
                    const double t = off[a] + k * r;
                    if (t < -back + 2 || onStep(t) || std::fabs(t) < 3)
                        continue;
                    ++expected;
                    const double tolerance = 2.5 + 0.003 * std::abs(k) * r;
                    const auto near = std::lower_bound(off.begin(), off.end(), t - tolerance);
                    if (near != off.end() && *near <= t + tolerance)
                        ++seen;
                }
                if (seen >= MinRivalSeen && seen >= RivalShare * expected && seen > rivalSeen)
                    rival = r, rivalSeen = seen;
            }
    // Only a sparser second grid of a like step over a dense first one: a
    // graticule many times a grid's step (s02's) is left to the lattice's
    // own checks, which number it right there.
    if (rivalSeen > 0 && rivalSeen >= RivalOfOn * std::max(on, 1) && on >= MinRivalOn && rival > step &&
        rival < MaxRivalRatio * step) {
        found.front().RivalPixels = rival;
        found.front().RivalSeen = rivalSeen;
    }
    return found;
}
