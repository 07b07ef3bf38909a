#include "analysis/grid_line_follow.h"

#include "analysis/darkness_window.h"

#include <algorithm>
#include <cmath>

namespace {

// Stations lie this far apart along the way, pixels (a tenth of the way
// within these bounds).
constexpr double MinPitch = 8;
constexpr double MaxPitch = 24;
// No station this near a crossing, whose other line darkens the profile.
constexpr double CrossingBand = 10;
// Each profile is the mean of this many pixels either side of the station
// along the line.
constexpr int HalfLength = 8;
// A ridge is the profile above both its sides this far off.
constexpr double Side = 4;
// The line is looked for this far either side of where the track puts it.
constexpr double Search = 3;
constexpr double ProfileStep = 0.5;
// The ridge must stand this high, grey levels, and above the profile's noise.
constexpr double MinRidge = 4;
constexpr double RidgeNoises = 4;
// The track is taken from this many stations before and the start, each
// with this standard error (pixels), and the heading to this many radians.
constexpr size_t TrackStations = 12;
constexpr double StationError = 0.5;
constexpr double StartError = 0.3;
constexpr double TurnError = 0.02;
// The line must be found at this share of the stations, and at this many
// of those of the last stretch before the end.
constexpr double MinFoundShare = 0.3;
constexpr int MinEndStations = 4;

struct TStation {
    double T = 0, U = 0; // along the way from the start, and beside it
};

// Least squares u = a + b t.
bool FitStraight(const std::vector<TStation>& points, double& a, double& b)
{
    const double n = double(points.size());
    if (points.size() < 2)
        return false;
    double st = 0, su = 0;
    for (const TStation& p : points)
        st += p.T, su += p.U;
    const double mt = st / n, mu = su / n;
    double stt = 0, stu = 0;
    for (const TStation& p : points)
        stt += (p.T - mt) * (p.T - mt), stu += (p.T - mt) * (p.U - mu);
    if (stt <= 0)
        return false;
    b = stu / stt;
    a = mu - b * mt;
    return true;
}

// Least squares u = a + b t through the stations, with the start (a = 0)
// and the heading (b = turn) as priors.
void TrackThrough(const std::vector<TStation>& points, double turn, double& a, double& b)
{
    const double wu = 1 / (StationError * StationError);
    double n00 = 1 / (StartError * StartError), n01 = 0, n11 = 1 / (TurnError * TurnError), r0 = 0,
           r1 = turn / (TurnError * TurnError);
    for (const TStation& p : points) {
        n00 += wu, n01 += wu * p.T, n11 += wu * p.T * p.T;
        r0 += wu * p.U, r1 += wu * p.T * p.U;
    }
    const double det = n00 * n11 - n01 * n01;
    a = (n11 * r0 - n01 * r1) / det;
    b = (n00 * r1 - n01 * r0) / det;
}

// The ridge nearest the station's place across the way, or nothing.
std::optional<double> RidgeAt(const TBitmap& bitmap, TGridPoint at, TGridPoint along, TGridPoint normal)
{
    const double reach = Search + Side + 1;
    const int half = int(std::ceil(HalfLength + reach)) + 2;
    const int left = int(std::floor(at.X)) - half, top = int(std::floor(at.Y)) - half;
    const TDarknessWindow window = ReadDarknessWindow(bitmap, left, top, 2 * half + 1, 2 * half + 1);
    if (window.Width < 2 * half + 1 || window.Height < 2 * half + 1)
        return std::nullopt;
    const int count = int(std::lround(2 * reach / ProfileStep)) + 1;
    std::vector<double> profile(size_t(count), 0);
    for (int k = 0; k < count; ++k) {
        const double v = -reach + k * ProfileStep;
        double sum = 0;
        for (int s = -HalfLength; s <= HalfLength; ++s) {
            const double value = window.Interpolated(at.X - left + s * along.X + v * normal.X,
                                                         at.Y - top + s * along.Y + v * normal.Y, -1);
            if (value < 0)
                return std::nullopt;
            sum += value;
        }
        profile[size_t(k)] = sum / (2 * HalfLength + 1);
    }
    const int side = int(std::lround(Side / ProfileStep));
    std::vector<double> ridge(size_t(count), -1e9);
    for (int k = side; k + side < count; ++k)
        ridge[size_t(k)] = profile[size_t(k)] - std::max(profile[size_t(k - side)], profile[size_t(k + side)]);
    const int from = int(std::lround((reach - Search) / ProfileStep)), to = count - 1 - from;
    // Of the ridges standing half as high as the highest or more, the one
    // nearest the track.
    const double noise = NoiseLevel(window) / std::sqrt(2.0 * HalfLength + 1);
    double highest = std::max(MinRidge, RidgeNoises * noise);
    std::vector<int> peaks;
    for (int k = from + 1; k < to; ++k)
        if (ridge[size_t(k)] >= ridge[size_t(k - 1)] && ridge[size_t(k)] >= ridge[size_t(k + 1)] &&
            ridge[size_t(k)] >= highest / 2) {
            peaks.push_back(k);
            highest = std::max(highest, ridge[size_t(k)]);
        }
    const int middle = (count - 1) / 2;
    int best = -1;
    for (const int k : peaks)
        if (ridge[size_t(k)] >= highest / 2 && (best < 0 || std::abs(k - middle) < std::abs(best - middle)))
            best = k;
    if (best < 0 || ridge[size_t(best)] < std::max(MinRidge, RidgeNoises * noise))
        return std::nullopt;
    const double l = ridge[size_t(best - 1)], c = ridge[size_t(best)], r = ridge[size_t(best + 1)];
    const double curve = l - 2 * c + r;
    const double shift = curve < 0 ? std::clamp(0.5 * (l - r) / curve, -0.5, 0.5) : 0;
    return -reach + (best + shift) * ProfileStep;
}

} // namespace

std::optional<TLineFollowed> FollowGridLine(const TBitmap& bitmap, TGridPoint from, TGridPoint to, TGridPoint heading,
                                            const std::vector<TGridPoint>& between)
{
    const double length = std::hypot(to.X - from.X, to.Y - from.Y);
    if (length < 4 * (CrossingBand + HalfLength))
        return std::nullopt;
    const TGridPoint d{(to.X - from.X) / length, (to.Y - from.Y) / length};
    const TGridPoint n{-d.Y, d.X};
    // The heading as a slope across the way.
    const double ahead = heading.X * d.X + heading.Y * d.Y;
    if (ahead < 0.9)
        return std::nullopt;
    const double turn = (heading.X * n.X + heading.Y * n.Y) / ahead;
    std::vector<double> skip{0, length};
    for (const TGridPoint& p : between)
        skip.push_back((p.X - from.X) * d.X + (p.Y - from.Y) * d.Y);
    const double pitch = std::clamp(length / 10, MinPitch, MaxPitch);
    std::vector<TStation> found;
    int stations = 0;
    // Each profile reaches this far along the line either side of its station.
    const double clear = CrossingBand + HalfLength;
    for (double t = clear; t <= length - clear; t += pitch) {
        if (std::any_of(skip.begin(), skip.end(), [&](double s) { return std::fabs(t - s) < clear; }))
            continue;
        ++stations;
        // Where the stations before put the line: straight through them
        // and the start, turned from the way to the end only as far as
        // they show, so that no street or lettering beside the line at one
        // station turns the track.
        double a = 0, b = 0;
        TrackThrough(std::vector<TStation>(found.end() - std::ptrdiff_t(std::min(found.size(), TrackStations)),
                                           found.end()),
                     turn, a, b);
        const double u = a + b * t;
        const double norm = std::hypot(1.0, b);
        const TGridPoint along{(d.X + b * n.X) / norm, (d.Y + b * n.Y) / norm};
        const TGridPoint normal{-along.Y, along.X};
        const TGridPoint at{from.X + t * d.X + u * n.X, from.Y + t * d.Y + u * n.Y};
        const std::optional<double> offset = RidgeAt(bitmap, at, along, normal);
        if (offset)
            found.push_back({t - *offset * b / norm, u + *offset / norm});
    }
    if (stations == 0 || double(found.size()) < MinFoundShare * stations)
        return std::nullopt;
    // The last stretch, carried on to the end.
    const double stretch = std::max(8 * pitch, 0.3 * length);
    std::vector<TStation> last;
    for (const TStation& s : found)
        if (s.T >= length - stretch)
            last.push_back(s);
    double a = 0, b = 0;
    for (int round = 0; round < 2; ++round) {
        if (int(last.size()) < MinEndStations || !FitStraight(last, a, b))
            return std::nullopt;
        std::vector<double> misfits;
        for (const TStation& s : last)
            misfits.push_back(std::fabs(s.U - a - b * s.T));
        std::vector<double> sorted = misfits;
        std::nth_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(sorted.size() / 2), sorted.end());
        const double bound = std::max(0.5, 3 * 1.4826 * sorted[sorted.size() / 2]);
        std::vector<TStation> kept;
        for (size_t k = 0; k < last.size(); ++k)
            if (misfits[k] <= bound)
                kept.push_back(last[k]);
        if (kept.size() == last.size())
            break;
        last = std::move(kept);
    }
    double mt = 0;
    for (const TStation& s : last)
        mt += s.T;
    mt /= double(last.size());
    double stt = 0, sum = 0;
    for (const TStation& s : last) {
        stt += (s.T - mt) * (s.T - mt);
        const double e = s.U - a - b * s.T;
        sum += e * e;
    }
    const double scatter = std::max(0.1, std::sqrt(sum / std::max<double>(1, double(last.size()) - 2)));
    TLineFollowed followed;
    followed.Offset = a + b * length;
    followed.Sigma = scatter * std::sqrt(1 / double(last.size()) + (length - mt) * (length - mt) / stt);
    followed.Stations = int(found.size());
    return followed;
}
