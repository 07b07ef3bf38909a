#include "analysis/frame_side_fit.h"

#include "analysis/median.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>

namespace {

// A line must be this much darker than the paper beside it, in grey levels.
constexpr double LeastDarkness = 12;

struct TProfile {
    double U = 0;
    double Predicted = 0; // v where the guess puts the line
    int First = 0;        // v of Grey[0]
    std::vector<float> Grey;
    // Darkness against the lighter ground within a few pixels on either
    // side rather than the profile's paper (see TSideGuess::OnTint).
    bool LocalGround = false;
};

struct TPeak {
    double Centre = 0;
    double Height = 0;
    int Width = 0; // pixels darker than half the height
};

// The grey levels across the side at u, from v = first over count pixels;
// false where that runs off the bitmap.
bool ReadProfile(const TGreyReader& grey, bool alongRows, int u, int first, int count, TProfile& profile)
{
    const int uLimit = alongRows ? grey.Width() : grey.Height();
    const int vLimit = alongRows ? grey.Height() : grey.Width();
    if (u < 0 || u >= uLimit || first < 0 || first + count > vLimit)
        return false;
    std::vector<uint8_t> bytes(size_t(count), 0);
    if (alongRows)
        grey.Column(u, first, count, bytes.data());
    else
        grey.Row(u, first, count, bytes.data());
    profile.First = first;
    profile.Grey.assign(bytes.begin(), bytes.end());
    return true;
}

// The centre of the dark line whose core (darker than half its peak) spans
// [left, right]: the centroid of its darkness over the core and two pixels
// either side, measured from a background drawn straight between the
// pixels just beyond. Exact for a line drawn by area coverage and blurred
// symmetrically, whatever its position within the pixels.
std::optional<double> LineCentre(const std::vector<float>& g, int left, int right, double paper, bool localGround)
{
    constexpr int Margin = 2;
    const int from = left - Margin, to = right + Margin, n = int(g.size());
    if (from - 2 < 0 || to + 2 >= n)
        return std::nullopt;
    double before = (g[size_t(from - 1)] + g[size_t(from - 2)]) / 2, after = (g[size_t(to + 1)] + g[size_t(to + 2)]) / 2;
    const double beforeAt = from - 1.5, afterAt = to + 1.5;
    // Another line a few pixels beside this one darkens the background on
    // its side, which would pull the centre away from it: the paper on the
    // other side stands for both.
    const bool inkedBefore = paper - before >= LeastDarkness, inkedAfter = paper - after >= LeastDarkness;
    // A tint up to the line on one side (a sea up to the neatline) stays as
    // dark a few pixels further out: the ground steps at the line. A tint
    // lighter than half the line is flat pixel by pixel; one nearly as dark
    // as a faint line is judged by the median of those pixels, which a
    // scan's noise or a grid line through them leaves where the ground is,
    // and by their spread about it: a tint is as smooth as the paper beyond
    // the line, the map's content beside a line (hatching, lettering) is not.
    auto flat = [&](int a, int b, double level) {
        if (a < 0 || b >= n)
            return false;
        for (int i = a; i <= b; ++i)
            if (std::abs(g[size_t(i)] - level) > LeastDarkness / 2)
                return false;
        return true;
    };
    constexpr int Near = 3, Far = 12;
    struct TGround {
        bool Read = false;
        double Median = 0, Spread = 0;
    };
    auto ground = [&](int a, int b) {
        TGround result;
        if (a < 0 || b >= n)
            return result;
        std::vector<double> values(g.begin() + a, g.begin() + b + 1);
        result.Read = true;
        result.Median = Median(values);
        for (double& value : values)
            value = std::abs(value - result.Median);
        result.Spread = 1.4826 * Median(values);
        return result;
    };
    // The tint's ground nearer its own grey than the paper's and no rougher
    // than the paper's by much; the paper's blank within a line's darkness.
    auto darkTintOn = [&](const TGround& tint, double level, const TGround& blank, double blankLevel) {
        constexpr double RougherShare = 1.5, Rougher = 2;
        return tint.Read && blank.Read && std::abs(tint.Median - level) <= std::min(LeastDarkness, (paper - level) / 2) &&
               tint.Spread <= RougherShare * blank.Spread + Rougher &&
               std::abs(blank.Median - blankLevel) <= LeastDarkness;
    };
    // A tint is a clear step lighter than the line, however dark against
    // the paper (a faint line on a sea); the paper on the other side is
    // blank as far.
    const double core = paper - *std::min_element(g.begin() + left, g.begin() + right + 1);
    const double tintAbove = paper - core + LeastDarkness, lightAbove = paper - core / 2;
    auto tintOn = [&](bool beforeSide) {
        const double level = beforeSide ? before : after, blankLevel = beforeSide ? after : before;
        if (level <= tintAbove)
            return false;
        const int tintFrom = beforeSide ? from - 8 : to + 3, blankFrom = beforeSide ? to + 3 : from - 8;
        if (level > lightAbove && !localGround)
            return flat(tintFrom, tintFrom + 5, level) && flat(blankFrom, blankFrom + 5, blankLevel);
        if (flat(tintFrom, tintFrom + 5, level) && flat(blankFrom, blankFrom + 5, blankLevel))
            return true;
        return beforeSide ? darkTintOn(ground(from - Far, from - Near), before, ground(to + Near, to + Far), after)
                          : darkTintOn(ground(to + Near, to + Far), after, ground(from - Far, from - Near), before);
    };
    const bool tintBefore = inkedBefore && !inkedAfter && tintOn(true);
    const bool tintAfter = inkedAfter && !inkedBefore && tintOn(false);
    if ((tintBefore || tintAfter)) {
        // The ground is the tint before the line's centre and the paper
        // after it (or the other way round), from the core's middle, then
        // once more from the centre found; over the core and a pixel either
        // side only, where the line's darkness stands above the noise of
        // the two grounds (on a faint line those further pixels scatter the
        // centre by a pixel).
        constexpr int TintMargin = 1;
        double centre = (left + right) / 2.0;
        for (int round = 0; round < 2; ++round) {
            double weight = 0, moment = 0;
            for (int i = left - TintMargin; i <= right + TintMargin; ++i) {
                const double share = std::clamp(centre - i + 0.5, 0.0, 1.0); // of the pixel before the step
                const double background = share * before + (1 - share) * after;
                const double darkness = background - g[size_t(i)];
                weight += darkness;
                moment += darkness * i;
            }
            if (weight <= 0)
                return std::nullopt;
            centre = moment / weight;
        }
        return centre;
    }
    if (inkedBefore && !inkedAfter)
        before = after;
    else if (inkedAfter && !inkedBefore)
        after = before;
    double weight = 0, moment = 0;
    for (int i = from; i <= to; ++i) {
        const double background = before + (after - before) * (i - beforeAt) / (afterAt - beforeAt);
        const double darkness = background - g[size_t(i)];
        weight += darkness;
        moment += darkness * i;
    }
    if (weight > 0)
        return moment / weight;
    if (!inkedBefore || !inkedAfter)
        return std::nullopt;
    // Between two lines a few pixels away (a grid line inside a neatline, a
    // graduated border outside it) the ground drawn between their flanks
    // lies under the line: the line's core alone, against the pixels just
    // beside it.
    const double low = g[size_t(left - 1)], high = g[size_t(right + 1)];
    weight = moment = 0;
    for (int i = left; i <= right; ++i) {
        const double darkness = low + (high - low) * (i - left + 1) / (right - left + 2) - g[size_t(i)];
        weight += darkness;
        moment += darkness * i;
    }
    if (weight <= 0)
        return std::nullopt;
    return moment / weight;
}

// The dark lines of a profile whose darkest pixel lies between v = low and
// v = high, darkest first, each at least minHeight below the paper.
std::vector<TPeak> Peaks(const TProfile& profile, double low, double high, double minHeight)
{
    std::vector<float> sorted = profile.Grey;
    const auto paperAt = sorted.begin() + std::ptrdiff_t(sorted.size() * 4 / 5);
    std::nth_element(sorted.begin(), paperAt, sorted.end());
    const double paper = *paperAt;
    const int n = int(profile.Grey.size());
    std::vector<double> darkness(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        darkness[size_t(i)] = paper - profile.Grey[size_t(i)];
    if (profile.LocalGround) {
        // The lighter of the brightest pixels within Ground on either side:
        // a tint wider than that is ground, a line on it stands out.
        constexpr int Ground = 8;
        const std::vector<float>& g = profile.Grey;
        for (int i = 0; i < n; ++i) {
            float before = g[size_t(i)], after = g[size_t(i)];
            for (int d = 1; d <= Ground; ++d) {
                before = std::max(before, g[size_t(std::max(0, i - d))]);
                after = std::max(after, g[size_t(std::min(n - 1, i + d))]);
            }
            darkness[size_t(i)] = std::min(before, after) - g[size_t(i)];
        }
    }
    std::vector<bool> taken(size_t(n), false);
    const int lowIndex = std::max(0, int(std::ceil(low)) - profile.First);
    const int highIndex = std::min(n - 1, int(std::floor(high)) - profile.First);

    std::vector<TPeak> peaks;
    for (int found = 0; found < 4; ++found) {
        int top = -1;
        for (int i = lowIndex; i <= highIndex; ++i)
            if (!taken[size_t(i)] && (top < 0 || darkness[size_t(i)] > darkness[size_t(top)]))
                top = i;
        if (top < 0 || darkness[size_t(top)] < minHeight)
            break;
        const double half = darkness[size_t(top)] / 2;
        int left = top, right = top;
        while (left > 0 && darkness[size_t(left - 1)] > half && !taken[size_t(left - 1)])
            --left;
        while (right + 1 < n && darkness[size_t(right + 1)] > half && !taken[size_t(right + 1)])
            ++right;
        for (int i = std::max(0, left - 1); i <= std::min(n - 1, right + 1); ++i)
            taken[size_t(i)] = true;
        if (const auto centre = LineCentre(profile.Grey, left, right, paper, profile.LocalGround))
            peaks.push_back({profile.First + *centre, darkness[size_t(top)], right - left + 1});
    }
    return peaks;
}

struct TLineFit {
    TSideLine Line;
    Eigen::Matrix4d Covariance;
    int Used = 0;
    double Residual = 0;
};

// Terms of the side's curve: a cubic along it, whose bends paper curvature
// needs (a side bows up to a few tenths of a percent of its length) and
// whose ends stay tame between the profiles and the corners.
constexpr int CurveTerms = 4;
// A side bends when the median distance of its profiles from a straight
// line strays by this much in one of BendBins stretches along it, and a
// cubic leaves at most this share of those distances' squares (the centres
// of a thin line drawn across pixels waver by a few tenths of a pixel as it
// passes them at a slant).
constexpr int BendBins = 12;
constexpr double LeastBend = 1.0, MostBendMisfit = 0.3;
// The stretch of a bending side nearest a corner, fitted alone, places the
// corner.
constexpr double EndShare = 0.3;

// A smooth curve through the points (a cubic along the side, see
// TSideLine), iteratively reweighted (Tukey's biweight on a robust scale of
// the residuals) from the start line, then fitted by least squares to the
// points within three of those scales.
std::optional<TLineFit> RobustLine(const std::vector<double>& u, const std::vector<double>& v, TSideLine line,
                                   int terms = CurveTerms)
{
    const int n = int(u.size());
    if (n < 3 * terms)
        return std::nullopt;
    if (line.Half <= 1) {
        const auto [low, high] = std::minmax_element(u.begin(), u.end());
        line.Half = std::max(1.0, (*high - *low) / 2);
    }
    std::vector<double> residuals(static_cast<size_t>(n));
    auto residualsAndScale = [&] {
        for (int k = 0; k < n; ++k)
            residuals[size_t(k)] = v[size_t(k)] - line.At(u[size_t(k)]);
        const double centre = Median(residuals);
        std::vector<double> deviations(static_cast<size_t>(n));
        for (int k = 0; k < n; ++k)
            deviations[size_t(k)] = std::abs(residuals[size_t(k)] - centre);
        return std::max(0.05, 1.4826 * Median(deviations));
    };
    // The start line may be off by a constant: begin from its median offset.
    residualsAndScale();
    line.Offset += Median(residuals);

    auto fit = [&](const std::vector<double>& weights) {
        Eigen::MatrixXd a(n, terms);
        Eigen::VectorXd b(n);
        for (int k = 0; k < n; ++k) {
            const double root = std::sqrt(weights[size_t(k)]);
            const double d = u[size_t(k)] - line.CentreU, t = d / line.Half;
            const double term[4] = {1, d, t * t, t * t * t};
            for (int j = 0; j < terms; ++j)
                a(k, j) = root * term[j];
            b(k) = root * v[size_t(k)];
        }
        const Eigen::VectorXd p = a.colPivHouseholderQr().solve(b);
        double* parameter[4] = {&line.Offset, &line.Slope, &line.Bend2, &line.Bend3};
        for (int j = 0; j < 4; ++j)
            *parameter[j] = j < terms ? p(j) : 0;
        return a;
    };
    std::vector<double> weights(static_cast<size_t>(n));
    double scale = 0;
    for (int iteration = 0; iteration < 12; ++iteration) {
        scale = residualsAndScale();
        const double limit = 4.685 * scale;
        for (int k = 0; k < n; ++k) {
            const double r = residuals[size_t(k)] / limit;
            weights[size_t(k)] = std::abs(r) < 1 ? (1 - r * r) * (1 - r * r) : 0;
        }
        fit(weights);
    }
    scale = residualsAndScale();
    int used = 0;
    for (int k = 0; k < n; ++k) {
        weights[size_t(k)] = std::abs(residuals[size_t(k)]) <= 3 * scale ? 1 : 0;
        used += int(weights[size_t(k)]);
    }
    if (used < 3 * terms)
        return std::nullopt;
    const Eigen::MatrixXd a = fit(weights);
    residualsAndScale();
    double squares = 0;
    for (int k = 0; k < n; ++k)
        squares += weights[size_t(k)] * residuals[size_t(k)] * residuals[size_t(k)];
    TLineFit result;
    result.Line = line;
    result.Used = used;
    result.Residual = std::sqrt(squares / used);
    result.Covariance = Eigen::Matrix4d::Zero();
    result.Covariance.topLeftCorner(terms, terms) = (squares / (used - terms)) * (a.transpose() * a).inverse();
    return result;
}

// The line to follow the side along: straight, unless a cubic follows the
// profiles plainly better (paper bowing a few pixels), so that a line
// beside the side near its ends does not bend the path.
std::optional<TLineFit> PathFit(const std::vector<double>& u, const std::vector<double>& v, const TSideLine& start)
{
    std::optional<TLineFit> straight = RobustLine(u, v, start, 2);
    if (straight && straight->Residual < 0.7 && straight->Used >= 0.8 * double(u.size()))
        return straight;
    std::optional<TLineFit> curved = RobustLine(u, v, start);
    if (curved && (!straight || (curved->Residual < 0.8 * straight->Residual && curved->Used >= straight->Used)))
        return curved;
    return straight;
}

// The cross-profiles along the side between its corners, leaving out a
// stretch at either end where the crossing sides and their neighbours lie.
std::vector<TProfile> ReadProfiles(const TGreyReader& grey, const TSideGuess& guess, int& count)
{
    const double length = guess.To - guess.From;
    const double margin = std::max(3 * guess.Reach, 0.02 * length);
    count = int(std::clamp((length - 2 * margin) / 3, 0.0, 600.0));
    if (count < 10)
        return {};
    const int halfWindow = int(std::ceil(guess.Reach)) + 12;
    std::vector<TProfile> profiles;
    for (int k = 0; k < count; ++k) {
        TProfile profile;
        const int u = int(std::lround(guess.From + margin + (length - 2 * margin) * (k + 0.5) / count));
        profile.U = u;
        profile.Predicted = guess.Line.At(u);
        profile.LocalGround = guess.OnTint;
        const int first = int(std::floor(profile.Predicted)) - halfWindow;
        if (ReadProfile(grey, guess.AlongRows, u, first, 2 * halfWindow + 2, profile))
            profiles.push_back(std::move(profile));
    }
    return profiles;
}

// The darkest pixel of the profile between v = low and v = high, at least
// reach pixels clear of its ends, and how much darker it is than the
// profile's paper; none where it is not as dark as a line.
struct TDarkest {
    int At = 0;
    double Height = 0;
    double Paper = 0;
};

std::optional<TDarkest> DarkestBetween(const TProfile& profile, double low, double high, int reach)
{
    const std::vector<float>& g = profile.Grey;
    const int n = int(g.size());
    const int from = std::max(reach + 1, int(std::ceil(low)) - profile.First);
    const int to = std::min(n - reach - 2, int(std::floor(high)) - profile.First);
    if (from > to)
        return std::nullopt;
    int darkest = from;
    for (int i = from; i <= to; ++i)
        if (g[size_t(i)] < g[size_t(darkest)])
            darkest = i;
    std::vector<float> sorted = g;
    const auto paperAt = sorted.begin() + std::ptrdiff_t(sorted.size() * 4 / 5);
    std::nth_element(sorted.begin(), paperAt, sorted.end());
    const double height = *paperAt - g[size_t(darkest)];
    if (height < LeastDarkness)
        return std::nullopt;
    return TDarkest{darkest, height, *paperAt};
}

// The line whose darkest pixel lies between v = low and v = high, its
// centre midway between its two edges, each where the grey changes fastest
// on that side of the darkest pixel: a line printed a pixel or two from
// another (a neatline against a graduated border's band) keeps its edges
// where the grey between the two would pull a centroid towards the other.
// Height is its darkness, Width the distance between the edges.
std::optional<TPeak> BetweenEdges(const TProfile& profile, double low, double high)
{
    const std::vector<float>& g = profile.Grey;
    constexpr int Reach = 4;
    const std::optional<TDarkest> found = DarkestBetween(profile, low, high, Reach);
    if (!found)
        return std::nullopt;
    const int darkest = found->At;
    const double height = found->Height;
    // The steepest step on either side, from the pixel pair i, i + 1 with
    // the grey falling into the line (side -1) or rising out of it (+1),
    // placed to a fraction of a pixel by a parabola through the steps.
    auto edge = [&](int side) -> std::optional<double> {
        auto step = [&](int i) { return side * double(g[size_t(i + 1)] - g[size_t(i)]); };
        int best = side < 0 ? darkest - 1 : darkest;
        for (int d = 1; d < Reach; ++d) {
            const int i = side < 0 ? darkest - 1 - d : darkest + d;
            if (step(i) > step(best))
                best = i;
        }
        const double s0 = step(best - 1), s1 = step(best), s2 = step(best + 1);
        if (s1 < height / 4)
            return std::nullopt;
        const double curve = s0 - 2 * s1 + s2;
        return best + 0.5 + (curve < 0 ? std::clamp((s0 - s2) / (2 * curve), -0.5, 0.5) : 0.0);
    };
    const std::optional<double> before = edge(-1), after = edge(1);
    if (!before || !after)
        return std::nullopt;
    TPeak peak;
    peak.Centre = profile.First + (*before + *after) / 2;
    peak.Height = height;
    peak.Width = int(std::lround(*after - *before));
    return peak;
}

// A wide line printed against a thinner one a fraction of a pixel outside
// it (a neatline against a graduated border's inner line) in one dark run:
// its centre midway between its inner edge, where the grey changes
// fastest on the side away from the other line, and the lighter pixel
// that the gap between the two leaves, placed by a parabola, within a few
// pixels outside that edge. Width is the distance between the two.
std::optional<TPeak> InnerEdgeToGap(const TProfile& profile, double low, double high, int outward)
{
    const std::vector<float>& g = profile.Grey;
    const int n = int(g.size());
    constexpr int Reach = 4, Widest = 8;
    // The gap's pixel stands this much lighter than both its neighbours.
    constexpr double LeastGap = 10;
    const std::optional<TDarkest> found = DarkestBetween(profile, low, high, Reach);
    if (!found)
        return std::nullopt;
    const int darkest = found->At;
    const double height = found->Height, paper = found->Paper;
    // The inner edge: the steepest step from the pixel pair i, i - outward
    // into the line.
    const int inward = -outward;
    auto step = [&](int i) { return double(g[size_t(i + inward)] - g[size_t(i)]); };
    int best = darkest;
    for (int d = 1; d < Reach; ++d)
        if (step(darkest + inward * d) > step(best))
            best = darkest + inward * d;
    const double s0 = step(best - inward), s1 = step(best), s2 = step(best + inward);
    if (s1 < height / 4)
        return std::nullopt;
    const double curve = s0 - 2 * s1 + s2;
    const double edge = best + inward * (0.5 + (curve < 0 ? std::clamp((s0 - s2) / (2 * curve), -0.5, 0.5) : 0.0));
    // The gap: the first pixel outward from the darkest that stands clear
    // above both its neighbours, while the grey stays dark.
    for (int d = 1; d <= Widest; ++d) {
        const int i = darkest + outward * d;
        if (i - 1 < 0 || i + 1 >= n)
            break;
        const double here = g[size_t(i)], before = g[size_t(i - 1)], after = g[size_t(i + 1)];
        if (paper - here < height / 2)
            break;
        if (here < std::max(before, after) + LeastGap)
            continue;
        const double bend = before - 2 * here + after;
        const double gap = i + (bend < 0 ? std::clamp((before - after) / (2 * bend), -0.5, 0.5) : 0.0);
        if (outward * (gap - edge) < 2)
            continue;
        TPeak peak;
        peak.Centre = profile.First + (edge + gap) / 2;
        peak.Height = height;
        peak.Width = int(std::lround(std::abs(gap - edge)));
        return peak;
    }
    return std::nullopt;
}

// The line fitted through the line nearest start in each profile, within
// near pixels of it, with how dark and wide it usually is and the grey
// beyond it; straight unless bends are allowed. With byEdges each line's
// centre lies midway between its edges (BetweenEdges).
std::optional<TSideFit> FollowLine(const std::vector<TProfile>& profiles, int count, const TSideLine& start,
                                   double near, int outward, bool allowBends = true, bool byEdges = false,
                                   bool toGap = false)
{
    std::vector<double> us, vs, darkness, widths, beyond;
    auto nearestPeak = [&](const TProfile& p) -> std::optional<TPeak> {
        const double at = start.At(p.U);
        if (toGap)
            return InnerEdgeToGap(p, at - near, at + near, outward);
        if (byEdges)
            return BetweenEdges(p, at - near, at + near);
        std::optional<TPeak> nearest;
        for (const TPeak& peak : Peaks(p, at - near, at + near, LeastDarkness))
            if (!nearest || std::abs(peak.Centre - at) < std::abs(nearest->Centre - at))
                nearest = peak;
        return nearest;
    };
    std::vector<std::optional<TPeak>> taken(profiles.size());
    std::vector<double> takenWidths;
    for (size_t k = 0; k < profiles.size(); ++k)
        if ((taken[k] = nearestPeak(profiles[k])))
            takenWidths.push_back(taken[k]->Width);
    // A tint up to the line along a stretch of the side, more than half as
    // dark as the line, widens its core there and pulls its centre into the
    // tint: there the line is measured against the ground beside it.
    const double usualWidth = takenWidths.empty() ? 0 : Median(takenWidths);
    for (size_t k = 0; k < profiles.size() && !byEdges && !toGap; ++k)
        if (taken[k] && !profiles[k].LocalGround && taken[k]->Width > 1.5 * usualWidth + 2) {
            TProfile local = profiles[k];
            local.LocalGround = true;
            if (const std::optional<TPeak> peak = nearestPeak(local))
                taken[k] = peak;
        }
    for (size_t k = 0; k < profiles.size(); ++k) {
        const TProfile& p = profiles[k];
        const TPeak* nearest = taken[k] ? &*taken[k] : nullptr;
        if (!nearest)
            continue;
        us.push_back(p.U);
        vs.push_back(nearest->Centre);
        darkness.push_back(nearest->Height);
        // The grey a few pixels outside the line.
        const double from = nearest->Centre + outward * (nearest->Width / 2.0 + 3);
        double sum = 0;
        int summed = 0;
        for (int d = 0; d <= 4; ++d) {
            const int i = int(std::lround(from + outward * d)) - p.First;
            if (i >= 0 && i < int(p.Grey.size())) {
                sum += p.Grey[size_t(i)];
                ++summed;
            }
        }
        if (summed)
            beyond.push_back(sum / summed);
        widths.push_back(nearest->Width);
    }
    std::optional<TLineFit> line = RobustLine(us, vs, start, allowBends ? CurveTerms : 2);
    if (!line)
        return std::nullopt;
    // A straight line unless the side bends plainly: the profiles' median
    // distances from the straight line in stretches along the side stray
    // that far and the cubic follows them (a stretch of profiles pulled
    // aside by what touches the line does not bend it).
    if (const std::optional<TLineFit> straight = RobustLine(us, vs, start, 2)) {
        const auto [first, last] = std::minmax_element(us.begin(), us.end());
        std::vector<std::vector<double>> offsets(BendBins), places(BendBins);
        for (size_t k = 0; k < us.size(); ++k) {
            const int bin = std::min(BendBins - 1, int((us[k] - *first) / std::max(1.0, *last - *first) * BendBins));
            offsets[size_t(bin)].push_back(vs[k] - straight->Line.At(us[k]));
            places[size_t(bin)].push_back(us[k]);
        }
        double most = 0, squares = 0, misfit = 0;
        for (int bin = 0; bin < BendBins; ++bin) {
            if (offsets[size_t(bin)].size() < 5)
                continue;
            const double offset = Median(offsets[size_t(bin)]), u = Median(places[size_t(bin)]);
            const double curve = line->Line.At(u) - straight->Line.At(u);
            most = std::max(most, std::abs(offset));
            squares += offset * offset;
            misfit += (offset - curve) * (offset - curve);
        }
        if (most < LeastBend || misfit > MostBendMisfit * squares)
            line = straight;
    }
    TSideFit fit;
    fit.Line = line->Line;
    fit.Covariance = line->Covariance;
    // A side that bends is fitted near each corner on its own, a quadratic
    // through the stretch of the side nearest it: a cubic over the whole
    // side need not follow paper that curls at its ends.
    const auto [lowest, highest] = std::minmax_element(us.begin(), us.end());
    const bool bends = line->Line.Bend2 != 0 || line->Line.Bend3 != 0;
    for (int end = 0; end < 2; ++end) {
        fit.Ends[size_t(end)] = line->Line;
        fit.EndCovariance[size_t(end)] = line->Covariance;
        if (!bends)
            continue;
        const double stretch = EndShare * (*highest - *lowest);
        std::vector<double> endUs, endVs;
        for (size_t k = 0; k < us.size(); ++k)
            if (end == 0 ? us[k] <= *lowest + stretch : us[k] >= *highest - stretch) {
                endUs.push_back(us[k]);
                endVs.push_back(vs[k]);
            }
        if (const auto local = RobustLine(endUs, endVs, line->Line, 3)) {
            fit.Ends[size_t(end)] = local->Line;
            fit.EndCovariance[size_t(end)] = local->Covariance;
        }
    }
    // The medians of the profiles in the two stretches nearest each end,
    // against the curve that places the corner there.
    {
        const double span = std::max(1.0, *highest - *lowest);
        for (int end = 0; end < 2; ++end) {
            double most = 0;
            for (int bin = 0; bin < 2; ++bin) {
                std::vector<double> offsets;
                for (size_t k = 0; k < us.size(); ++k) {
                    const int at = std::min(BendBins - 1, int((us[k] - *lowest) / span * BendBins));
                    const double off = vs[k] - fit.Ends[size_t(end)].At(us[k]);
                    // Of the profiles the curve was fitted to.
                    if (at == (end == 0 ? bin : BendBins - 1 - bin) && std::abs(off) <= std::max(1.0, 3 * line->Residual))
                        offsets.push_back(off);
                }
                // Beyond what the profiles' own scatter gives a median of
                // so many (the covariance counts that).
                if (offsets.size() >= 5)
                    most = std::max(most, std::abs(Median(offsets)) -
                                              2.5 * line->Residual / std::sqrt(double(offsets.size())));
            }
            fit.EndMisfit[size_t(end)] = most;
        }
    }
    fit.Profiles = count;
    fit.Used = line->Used;
    fit.Residual = line->Residual;
    fit.Darkness = Median(darkness);
    fit.Width = Median(widths);
    fit.Beyond = Median(beyond);
    return fit;
}

// The side's line in two passes. First, in each profile the outermost line
// of those nearly as dark as the side's usual darkness, so that a grid line
// running close inside the frame is not taken for it; or, with nearest, the
// one nearest the guess.
std::optional<TSideFit> FollowSide(const std::vector<TProfile>& profiles, int count, const TSideGuess& guess,
                                   bool nearest)
{
    std::vector<std::vector<TPeak>> found(profiles.size());
    std::vector<double> heights;
    for (size_t k = 0; k < profiles.size(); ++k) {
        const TProfile& p = profiles[k];
        found[k] = Peaks(p, p.Predicted - guess.Reach, p.Predicted + guess.Reach, LeastDarkness);
        if (!found[k].empty())
            heights.push_back(found[k].front().Height);
    }
    const double strong = std::max(LeastDarkness, 0.4 * Median(heights));
    std::vector<double> us, vs;
    for (size_t k = 0; k < profiles.size(); ++k) {
        const TPeak* chosen = nullptr;
        const double predicted = profiles[k].Predicted;
        for (const TPeak& peak : found[k])
            if (peak.Height >= strong &&
                (!chosen || (nearest ? std::abs(peak.Centre - predicted) < std::abs(chosen->Centre - predicted)
                                     : guess.Outward * (peak.Centre - chosen->Centre) > 0)))
                chosen = &peak;
        if (chosen) {
            us.push_back(profiles[k].U);
            vs.push_back(chosen->Centre);
        }
    }
    const auto first = PathFit(us, vs, guess.Line);
    if (!first)
        return std::nullopt;
    // Second pass: the line nearest the first fit, within a few pixels.
    return FollowLine(profiles, count, first->Line, 2.5, guess.Outward);
}

// Every line along the side followed on its own along at least leastShare
// of the profiles, outermost first.
std::vector<TSideFit> ParallelLines(const std::vector<TProfile>& profiles, int count, const TSideGuess& guess,
                                    double leastShare)
{
    // The lines' common direction from the darkest line in each profile,
    // looked for a little beyond the reach: the guess may lie on a line
    // beside the side.
    const double Wider = guess.Reach + 4;
    std::vector<std::vector<TPeak>> found(profiles.size());
    std::vector<double> us, vs;
    for (size_t k = 0; k < profiles.size(); ++k) {
        const TProfile& p = profiles[k];
        found[k] = Peaks(p, p.Predicted - Wider, p.Predicted + Wider, LeastDarkness);
        if (!found[k].empty()) {
            us.push_back(p.U);
            vs.push_back(found[k].front().Centre);
        }
    }
    const auto darkest = RobustLine(us, vs, guess.Line, 2);
    if (!darkest)
        return {};
    // Every line's distance from a line along the side, in quarter pixels:
    // the profiles showing a line within three quarters of a pixel of each
    // distance.
    constexpr double Bin = 0.25;
    const int reach = int(std::ceil(2 * Wider / Bin)) + 4;
    auto linesAt = [&](const TSideLine& from) {
        std::vector<int> near(size_t(2 * reach + 1), 0);
        for (size_t k = 0; k < profiles.size(); ++k) {
            std::vector<bool> shows(near.size(), false);
            for (const TPeak& peak : found[k]) {
                const int at = int(std::lround((peak.Centre - from.At(profiles[k].U)) / Bin)) + reach;
                for (int b = std::max(0, at - 3); b <= std::min(2 * reach, at + 3); ++b)
                    shows[size_t(b)] = true;
            }
            for (size_t b = 0; b < near.size(); ++b)
                near[b] += shows[b] ? 1 : 0;
        }
        return near;
    };
    // Where the darkest line in each profile is now one line, now another,
    // the line through them takes a direction of its own: the commonest
    // line, followed, gives the direction they share.
    std::vector<int> near = linesAt(darkest->Line);
    TSideLine along = darkest->Line;
    along.Offset += double(std::max_element(near.begin(), near.end()) - near.begin() - reach) * Bin;
    if (const std::optional<TSideFit> commonest = FollowLine(profiles, count, along, 1.0, guess.Outward, false))
        along = commonest->Line;
    near = linesAt(along);
    std::vector<TSideFit> lines;
    const int least = int(std::ceil(leastShare * count));
    for (int b = 0; b <= 2 * reach; ++b) {
        const int n = near[size_t(b)];
        // A line seen along half the share is followed; it is kept when
        // followed along the whole share.
        const bool peak = n >= least / 2 && (b == 0 || n > near[size_t(b - 1)]) &&
                          (b == 2 * reach || n >= near[size_t(b + 1)]);
        if (!peak)
            continue;
        TSideLine start = along;
        start.Offset += (b - reach) * Bin;
        const std::optional<TSideFit> fit = FollowLine(profiles, count, start, 1.0, guess.Outward, false);
        if (fit && fit->Used >= least &&
            std::none_of(lines.begin(), lines.end(), [&](const TSideFit& other) {
                return std::abs(other.Line.At(other.Line.CentreU) - fit->Line.At(other.Line.CentreU)) < 1;
            }))
            lines.push_back(*fit);
    }
    std::sort(lines.begin(), lines.end(), [&](const TSideFit& a, const TSideFit& b) {
        return guess.Outward * (a.Line.At(a.Line.CentreU) - b.Line.At(a.Line.CentreU)) > 0;
    });
    return lines;
}

} // namespace

TSideLines FitSideLines(const TGreyReader& grey, const TSideGuess& guess, double leastShare)
{
    int count = 0;
    const std::vector<TProfile> profiles = ReadProfiles(grey, guess, count);
    if (profiles.empty())
        return {};
    return {FollowSide(profiles, count, guess, false), FollowSide(profiles, count, guess, true),
            ParallelLines(profiles, count, guess, leastShare)};
}

std::optional<TSideFit> FollowBetweenEdges(const TGreyReader& grey, const TSideGuess& guess, const TSideLine& line)
{
    int count = 0;
    const std::vector<TProfile> profiles = ReadProfiles(grey, guess, count);
    if (profiles.empty())
        return std::nullopt;
    return FollowLine(profiles, count, line, 1.5, guess.Outward, true, true);
}

namespace {

// The border, with black pieces least pixels wide or wider.
TGraduatedBorder BorderWithPieces(const TGreyReader& grey, const TSideGuess& guess, const TSideFit& fit, int least)
{
    constexpr double Across = 24;
    TSideGuess wide = guess;
    wide.Line = fit.Line;
    wide.Reach = Across;
    int count = 0;
    const std::vector<TProfile> profiles = ReadProfiles(grey, wide, count);
    TGraduatedBorder border;
    if (profiles.size() < 20)
        return border;
    // A black piece: a run of pixels as dark as the line or darker, that
    // ends inside the window on both sides (a tint up to the frame runs on
    // beyond it).
    const double dark = std::max(LeastDarkness, fit.Darkness / 2);
    // Every piece's edge nearer the line taken, outward positive.
    std::vector<std::vector<double>> edges(profiles.size());
    std::vector<double> all;
    for (size_t k = 0; k < profiles.size(); ++k) {
        const TProfile& p = profiles[k];
        std::vector<float> sorted = p.Grey;
        const auto paperAt = sorted.begin() + std::ptrdiff_t(sorted.size() * 4 / 5);
        std::nth_element(sorted.begin(), paperAt, sorted.end());
        const double paper = *paperAt, at = fit.Line.At(p.U);
        const int n = int(p.Grey.size());
        for (int i = 0; i < n;) {
            if (paper - p.Grey[size_t(i)] < dark) {
                ++i;
                continue;
            }
            int j = i;
            while (j + 1 < n && paper - p.Grey[size_t(j + 1)] >= dark)
                ++j;
            if (i >= 2 && j <= n - 3 && j - i + 1 >= least) {
                const double a = guess.Outward * (p.First + i - 0.5 - at), b = guess.Outward * (p.First + j + 0.5 - at);
                edges[k].push_back(std::min(a, b));
                all.push_back(std::min(a, b));
            }
            i = j + 1;
        }
    }
    // The band's inner edge: where most profiles show a piece beginning.
    constexpr double Agree = 1.5;
    std::vector<int> piece(profiles.size(), 0);
    int most = 0;
    for (const double candidate : all) {
        int here = 0;
        for (const std::vector<double>& e : edges)
            here += std::any_of(e.begin(), e.end(), [&](double x) { return std::abs(x - candidate) <= Agree; });
        if (here > most) {
            most = here;
            border.InnerEdge = candidate;
        }
    }
    std::vector<double> inner;
    for (size_t k = 0; k < profiles.size(); ++k)
        for (const double x : edges[k])
            if (std::abs(x - border.InnerEdge) <= Agree) {
                piece[k] = 1;
                inner.push_back(x);
                break;
            }
    // Black and white pieces alike in length: about half the profiles.
    border.Share = double(inner.size()) / double(profiles.size());
    if (border.Share < 0.3 || border.Share > 0.7)
        return border;
    // Pieces, not specks: at least two runs of piece profiles and two of
    // white ones, each of three profiles or more.
    int pieces = 0, whites = 0;
    for (size_t k = 0; k < piece.size();) {
        size_t end = k;
        while (end + 1 < piece.size() && piece[end + 1] == piece[k])
            ++end;
        if (end - k + 1 >= 3)
            ++(piece[k] ? pieces : whites);
        k = end + 1;
    }
    if (pieces < 2 || whites < 2)
        return border;
    border.InnerEdge = Median(inner);
    border.Found = true;
    // The neatline: in each profile the outermost clear line between the
    // band's inner edge less 1.5 pixels and 20 pixels inside it.
    std::vector<double> us, vs, heights;
    std::vector<std::vector<TPeak>> found(profiles.size());
    for (size_t k = 0; k < profiles.size(); ++k) {
        const TProfile& p = profiles[k];
        const double at = fit.Line.At(p.U), near = at + guess.Outward * (border.InnerEdge - 1.5),
                     far = at + guess.Outward * (border.InnerEdge - 20);
        found[k] = Peaks(p, std::min(near, far), std::max(near, far), LeastDarkness);
        // The flank of the band's inner line reaches into the window: a
        // line whose centre lies beyond it is not looked for.
        std::erase_if(found[k], [&](const TPeak& peak) {
            return peak.Centre < std::min(near, far) || peak.Centre > std::max(near, far);
        });
        for (const TPeak& peak : found[k])
            heights.push_back(peak.Height);
    }
    // A neatline a pixel or two from the band's inner line prints as one
    // dark run with it and the black pieces: the band then seems to begin
    // at the neatline's inner edge, and the neatline is the line there, found
    // between its edges (the lighter gap outside it still shows) alike
    // across the black pieces and the white.
    auto atBandEdge = [&]() -> TGraduatedBorder& {
        // The line taken lies on that run (a band beyond white paper is an
        // outer frame's, or lies beyond a neatline of its own).
        if (border.InnerEdge > 0)
            return border;
        TSideLine start = fit.Line;
        start.Offset += guess.Outward * (border.InnerEdge + 2);
        std::optional<TSideFit> neatline = FollowLine(profiles, count, start, 1.5, guess.Outward, true, true);
        // A neatline wider than the reach of its edges from its darkest
        // pixel, the gap outside it narrower than a pixel: from its inner
        // edge to the gap.
        bool toGap = false;
        if (!neatline || neatline->Used < 0.7 * neatline->Profiles) {
            neatline = FollowLine(profiles, count, start, 2.5, guess.Outward, true, false, true);
            toGap = true;
        }
        if (!neatline || neatline->Used < 0.7 * neatline->Profiles)
            return border;
        int across = 0, pieces = 0;
        for (size_t k = 0; k < profiles.size(); ++k) {
            if (!piece[k])
                continue;
            ++pieces;
            const double at = neatline->Line.At(profiles[k].U);
            const std::optional<TPeak> line = toGap ? InnerEdgeToGap(profiles[k], at - 1.5, at + 1.5, guess.Outward)
                                                    : BetweenEdges(profiles[k], at - 1.5, at + 1.5);
            across += line && std::abs(line->Centre - at) <= 1 ? 1 : 0;
        }
        if (across >= 0.7 * pieces) {
            neatline->BandGap = 0.5; // the band right against it
            border.Neatline = neatline;
            border.OneRun = true;
        }
        return border;
    };
    if (heights.empty())
        return atBandEdge();
    const double strong = std::max(LeastDarkness, 0.4 * Median(heights));
    for (size_t k = 0; k < profiles.size(); ++k) {
        const TPeak* chosen = nullptr;
        for (const TPeak& peak : found[k])
            if (peak.Height >= strong && (!chosen || guess.Outward * (peak.Centre - chosen->Centre) > 0))
                chosen = &peak;
        if (chosen) {
            us.push_back(profiles[k].U);
            vs.push_back(chosen->Centre);
        }
    }
    const auto path = PathFit(us, vs, fit.Line);
    if (!path)
        return atBandEdge();
    std::optional<TSideFit> neatline = FollowLine(profiles, count, path->Line, 2.5, guess.Outward);
    if (neatline && neatline->Used >= 0.6 * neatline->Profiles &&
        guess.Outward * (neatline->Line.At(fit.Line.CentreU) - fit.Line.At(fit.Line.CentreU)) < border.InnerEdge - 1) {
        neatline->BandGap =
            border.InnerEdge - guess.Outward * (neatline->Line.At(fit.Line.CentreU) - fit.Line.At(fit.Line.CentreU));
        border.Neatline = neatline;
        return border;
    }
    return atBandEdge();
}

} // namespace

TGraduatedBorder GraduatedBorderBeside(const TGreyReader& grey, const TSideGuess& guess, const TSideFit& fit)
{
    // Pieces wider than the line and at least 3 pixels; the line taken may
    // be a piece itself, as wide as the band, when narrower ones count too.
    const int least = std::max(3, int(std::lround(fit.Width)) + 2);
    TGraduatedBorder border = BorderWithPieces(grey, guess, fit, least);
    if (!border.Found && least > 5)
        border = BorderWithPieces(grey, guess, fit, 3);
    // A wide neatline in one dark run with the band's inner line makes a
    // run as wide as a narrow piece in every profile: pieces are wider.
    if (!border.Found && border.Share > 0.7)
        border = BorderWithPieces(grey, guess, fit, least + 4);
    return border;
}

namespace {

// The paper's grey of a profile: lighter than four fifths of it.
float Lightest(std::vector<float> grey)
{
    const auto paperAt = grey.begin() + std::ptrdiff_t(grey.size() * 4 / 5);
    std::nth_element(grey.begin(), paperAt, grey.end());
    return *paperAt;
}

// The paper's grey beside the line at u: what the few pixels either side of
// it show, or where those are crowded with ink (a graduated border's black
// piece just outside the line, a river ending against it near a corner)
// and a window twice as wide shows paper lighter by more than a line's
// least darkness, that.
float PaperBeside(const TGreyReader& grey, bool alongRows, int u, int centre, const TProfile& near)
{
    constexpr int Wide = 16;
    const float paper = Lightest(near.Grey);
    TProfile wide;
    if (!ReadProfile(grey, alongRows, u, centre - Wide, 2 * Wide + 1, wide))
        return paper;
    const float widePaper = Lightest(wide.Grey);
    return widePaper > paper + LeastDarkness ? widePaper : paper;
}

} // namespace

double ShareInked(const TGreyReader& grey, const TSideFit& side, bool alongRows, double from, double to, bool lineOnly)
{
    const int first = int(std::ceil(std::min(from, to))), last = int(std::floor(std::max(from, to)));
    const double least = std::max(LeastDarkness, side.Darkness / 2);
    // The ground either side is looked at just clear of the line's core,
    // from the pixel next to it: the light gap between the two lines of a
    // double frame may be no wider.
    const int clear = std::clamp(int(std::ceil(side.Width / 2)) + 1, 2, 5), next = std::max(2, clear - 1);
    int looked = 0, inked = 0;
    for (int u = first; u <= last; ++u) {
        TProfile profile;
        const double at = side.Line.At(u);
        ++looked;
        constexpr int Half = 8;
        if (!ReadProfile(grey, alongRows, u, int(std::lround(at)) - Half, 2 * Half + 1, profile))
            continue;
        const float paper = lineOnly ? Lightest(profile.Grey) : PaperBeside(grey, alongRows, u, int(std::lround(at)), profile);
        // The darkest of the pixel the line passes and its two neighbours
        // (with lineOnly, with lighter ground on either side).
        const float darkest = std::min({profile.Grey[Half - 1], profile.Grey[Half], profile.Grey[Half + 1]});
        const float before = *std::max_element(profile.Grey.begin() + Half - clear - 2, profile.Grey.begin() + Half - next + 1);
        const float after = *std::max_element(profile.Grey.begin() + Half + next, profile.Grey.begin() + Half + clear + 3);
        inked += paper - darkest >= least && (!lineOnly || std::min(before, after) - darkest >= least / 2) ? 1 : 0;
    }
    return looked ? double(inked) / looked : 0.0;
}

