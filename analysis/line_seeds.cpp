#include "analysis/line_seeds.h"

#include "analysis/darkness_window.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace {

constexpr int AngleSteps = 180; // one degree
// Wider than the widest line with its blur, so that the opening takes lines
// away and keeps areas.
constexpr int OpeningSize = 11;
// Peaks this close (degrees, pixels) to a stronger one are the same line.
constexpr int SameAngle = 4;
constexpr double SameDistance = 2;
// The profile across a peak: its reach either side and its step, pixels;
// a bump must reach this share of the highest, and the dip between two
// must fall below this share of the lower.
constexpr double ProfileReach = 8, ProfileStep = 0.5;
constexpr double BumpShare = 0.3, BumpDip = 0.85;

struct TAccumulator {
    int Distances = 0;
    double Reach = 0;
    std::vector<double> Votes; // angle-major

    double& At(int angle, int distance) { return Votes[static_cast<size_t>(angle) * Distances + distance]; }
    // Angle steps wrap around with the distance mirrored.
    double Wrapped(int angle, int distance) const
    {
        if (angle < 0) {
            angle += AngleSteps;
            distance = Distances - 1 - distance;
        } else if (angle >= AngleSteps) {
            angle -= AngleSteps;
            distance = Distances - 1 - distance;
        }
        if (distance < 0 || distance >= Distances)
            return 0;
        return Votes[static_cast<size_t>(angle) * Distances + distance];
    }
};

// Vertex of the parabola through three samples, as an offset from the middle.
double PeakOffset(double before, double middle, double after)
{
    const double curvature = before - 2 * middle + after;
    return curvature < 0 ? std::clamp(0.5 * (before - after) / curvature, -0.5, 0.5) : 0;
}

// One line in the profile across a Hough peak: two lines a few pixels
// apart vote into one peak, and only the profile tells them apart.
struct TBump {
    double Offset; // from the peak's line, pixels
    double Width;  // where the bump stands above half its height
};

std::vector<TBump> Bumps(const cv::Mat& thin, const TStraightLine& line)
{
    constexpr int Steps = static_cast<int>(2 * ProfileReach / ProfileStep) + 1;
    double sums[Steps] = {}, counts[Steps] = {};
    const double c = std::cos(line.NormalAngle), s = std::sin(line.NormalAngle);
    for (int row = 0; row < thin.rows; ++row) {
        const float* values = thin.ptr<float>(row);
        for (int col = 0; col < thin.cols; ++col) {
            const double d = c * col + s * row - line.Distance;
            const int k = static_cast<int>(std::lround((d + ProfileReach) / ProfileStep));
            if (k < 0 || k >= Steps)
                continue;
            sums[k] += values[col];
            counts[k] += 1;
        }
    }
    double profile[Steps];
    for (int k = 0; k < Steps; ++k)
        profile[k] = counts[k] > 0 ? sums[k] / counts[k] : 0;
    double smooth[Steps];
    for (int k = 0; k < Steps; ++k)
        smooth[k] = 0.25 * profile[std::max(k - 1, 0)] + 0.5 * profile[k] + 0.25 * profile[std::min(k + 1, Steps - 1)];
    const double top = *std::max_element(smooth, smooth + Steps);
    std::vector<int> maxima;
    for (int k = 1; k + 1 < Steps; ++k)
        if (smooth[k] >= BumpShare * top && smooth[k] >= smooth[k - 1] && smooth[k] > smooth[k + 1]) {
            // Two maxima are two lines only with a dip between them.
            if (!maxima.empty()) {
                const int last = maxima.back();
                const double dip = *std::min_element(smooth + last, smooth + k + 1);
                if (dip > BumpDip * std::min(smooth[last], smooth[k])) {
                    if (smooth[k] > smooth[last])
                        maxima.back() = k;
                    continue;
                }
            }
            maxima.push_back(k);
        }
    std::vector<TBump> bumps;
    for (const int k : maxima) {
        int low = k, high = k;
        // Down to half the height, or to the dip before a neighbour.
        while (low > 0 && smooth[low - 1] >= 0.5 * smooth[k] && smooth[low - 1] <= smooth[low])
            --low;
        while (high + 1 < Steps && smooth[high + 1] >= 0.5 * smooth[k] && smooth[high + 1] <= smooth[high])
            ++high;
        bumps.push_back({k * ProfileStep - ProfileReach, (high - low + 1) * ProfileStep});
    }
    if (bumps.empty())
        bumps.push_back({0, 2});
    return bumps;
}

} // namespace

std::vector<TLineSeed> FindLineSeeds(
    const TDarknessWindow& window, double x, double y, double reach, double noise, int maxSeeds)
{
    if (window.Width < 3 || window.Height < 3)
        return {};
    const cv::Mat darkness(window.Height, window.Width, CV_32F, const_cast<float*>(window.Values.data()));
    cv::Mat thin;
    cv::morphologyEx(
        darkness, thin, cv::MORPH_TOPHAT, cv::getStructuringElement(cv::MORPH_RECT, {OpeningSize, OpeningSize}));

    // Noise leaves a small positive top-hat everywhere; only what rises
    // above it votes.
    std::vector<float> sorted(thin.begin<float>(), thin.end<float>());
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const double floor = sorted[sorted.size() / 2] + 2 * noise;

    TAccumulator acc;
    acc.Reach = std::ceil(reach);
    acc.Distances = 2 * static_cast<int>(acc.Reach) + 1;
    acc.Votes.assign(static_cast<size_t>(AngleSteps) * acc.Distances, 0);
    double cosines[AngleSteps], sines[AngleSteps];
    for (int k = 0; k < AngleSteps; ++k) {
        cosines[k] = std::cos(k * M_PI / AngleSteps);
        sines[k] = std::sin(k * M_PI / AngleSteps);
    }
    for (int row = 0; row < window.Height; ++row) {
        const float* values = thin.ptr<float>(row);
        for (int col = 0; col < window.Width; ++col) {
            const double vote = values[col] - floor;
            if (vote <= 0)
                continue;
            const double dx = col - x, dy = row - y;
            for (int k = 0; k < AngleSteps; ++k) {
                const double r = dx * cosines[k] + dy * sines[k] + acc.Reach;
                if (r < 0 || r >= acc.Distances - 1)
                    continue;
                const int i = static_cast<int>(r);
                const double f = r - i;
                acc.At(k, i) += vote * (1 - f);
                acc.At(k, i + 1) += vote * f;
            }
        }
    }

    // Local maxima over a 3 x 3 neighbourhood, strongest first, each
    // suppressing the weaker peaks of the same line.
    struct TPeak {
        int Angle, Distance;
        double Votes;
    };
    std::vector<TPeak> peaks;
    for (int k = 0; k < AngleSteps; ++k)
        for (int i = 0; i < acc.Distances; ++i) {
            const double v = acc.At(k, i);
            bool maximum = v > 0;
            for (int dk = -1; dk <= 1 && maximum; ++dk)
                for (int di = -1; di <= 1 && maximum; ++di)
                    if ((dk || di) && acc.Wrapped(k + dk, i + di) > v)
                        maximum = false;
            if (maximum)
                peaks.push_back({k, i, v});
        }
    std::sort(peaks.begin(), peaks.end(), [](const TPeak& a, const TPeak& b) { return a.Votes > b.Votes; });

    std::vector<TLineSeed> seeds;
    const double cutoff = peaks.empty() ? 0 : 0.1 * peaks.front().Votes;
    for (const TPeak& p : peaks) {
        if (static_cast<int>(seeds.size()) >= maxSeeds || p.Votes < cutoff)
            break;
        double angle =
            (p.Angle +
                PeakOffset(acc.Wrapped(p.Angle - 1, p.Distance), p.Votes, acc.Wrapped(p.Angle + 1, p.Distance))) *
            M_PI / AngleSteps;
        double distance = p.Distance - acc.Reach +
            PeakOffset(acc.Wrapped(p.Angle, p.Distance - 1), p.Votes, acc.Wrapped(p.Angle, p.Distance + 1));
        if (angle < 0 || angle >= M_PI) {
            angle += angle < 0 ? M_PI : -M_PI;
            distance = -distance;
        }
        auto fromPoint = [&](const TStraightLine& line) {
            return line.Distance - x * std::cos(line.NormalAngle) - y * std::sin(line.NormalAngle);
        };
        const TStraightLine peakLine {angle, distance + x * std::cos(angle) + y * std::sin(angle)};
        for (const TBump& bump : Bumps(thin, peakLine)) {
            const double here = distance + bump.Offset;
            const bool same = std::any_of(seeds.begin(), seeds.end(), [&](const TLineSeed& s) {
                const double da = std::fabs(angle - s.Line.NormalAngle);
                const bool opposite = da > M_PI / 2; // normals near 0 and near pi
                const double dd = opposite ? std::fabs(here + fromPoint(s.Line)) : std::fabs(here - fromPoint(s.Line));
                return (opposite ? M_PI - da : da) <= SameAngle * M_PI / AngleSteps && dd <= SameDistance;
            });
            if (same || static_cast<int>(seeds.size()) >= maxSeeds)
                continue;
            TLineSeed seed;
            seed.Line = {angle, peakLine.Distance + bump.Offset};
            seed.Strength = p.Votes;
            seed.Width = bump.Width;
            seeds.push_back(seed);
        }
    }
    return seeds;
}
