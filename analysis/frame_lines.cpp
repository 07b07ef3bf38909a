#include "analysis/frame_lines.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

double TFrameLine::Share(const std::vector<int>& counts, double x0, double x1)
{
    const int width = int(counts.size()) - 1;
    const int first = int(std::lround(std::min(x0, x1))), last = int(std::lround(std::max(x0, x1)));
    const int from = std::clamp(first, 0, width), to = std::clamp(last + 1, 0, width);
    return to > from ? double(counts[size_t(to)] - counts[size_t(from)]) / double(last - first + 1) : 0.0;
}

namespace {

// How much darker each pixel is than both pixels one, two or three rows
// above and below it: thin dark lines along the rows stand out (also two
// close together), a step from dark to light (the edge of the paper on a
// dark scanner lid) gives nothing.
std::vector<float> RidgeStrength(const std::vector<float>& image, int width, int height)
{
    std::vector<float> ridge(image.size(), 0.0f);
    for (int y = 0; y < height; ++y) {
        const float* middle = &image[size_t(y) * width];
        float* out = &ridge[size_t(y) * width];
        for (int reach = 1; reach <= 3; ++reach) {
            if (y < reach || y + reach >= height)
                continue;
            const float* above = middle - size_t(reach) * width;
            const float* below = middle + size_t(reach) * width;
            for (int x = 0; x < width; ++x)
                out[x] = std::max(out[x], std::min(above[x], below[x]) - middle[x]);
        }
    }
    return ridge;
}

// The ridge strength a line must have: well above what paper grain, noise
// and map content give (their spread measured robustly), and never below
// ten grey levels.
float RidgeThreshold(const std::vector<float>& image, int width, int height)
{
    std::vector<float> values;
    for (int y = 2; y + 2 < height; y += 3)
        for (int x = y % 7; x < width; x += 7) {
            const float middle = image[size_t(y) * width + x];
            values.push_back(std::min(image[size_t(y - 2) * width + x], image[size_t(y + 2) * width + x]) - middle);
        }
    if (values.empty())
        return 10.0f;
    auto median = [](std::vector<float>& v) {
        std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
        return v[v.size() / 2];
    };
    const float centre = median(values);
    for (float& v : values)
        v = std::abs(v - centre);
    return std::max(10.0f, 2.5f * 1.4826f * median(values));
}

// The marks with clear paper on at least one side, three to six rows away:
// a frame line has the margin beside it, while where contours, hatching or
// text crowd together a straight line through them would find marks all
// along its length.
std::vector<uint8_t> IsolatedMarks(const std::vector<uint8_t>& marks, int width, int height)
{
    constexpr int Near = 3, Far = 6;
    std::vector<uint8_t> isolated(marks.size(), 0);
    std::vector<int> above(static_cast<size_t>(height) + 1);
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y)
            above[size_t(y) + 1] = above[size_t(y)] + marks[size_t(y) * width + x];
        auto count = [&](int from, int to) {
            from = std::clamp(from, 0, height);
            to = std::clamp(to, 0, height);
            return to > from ? above[size_t(to)] - above[size_t(from)] : 0;
        };
        for (int y = 0; y < height; ++y)
            if (marks[size_t(y) * width + x] && (count(y - Far, y - Near + 1) == 0 || count(y + Near, y + Far + 1) == 0))
                isolated[size_t(y) * width + x] = 1;
    }
    return isolated;
}

struct TCandidate {
    double Offset, Slope;
    int Score;
};

class TLineSearch {
public:
    // Lines are sought and placed among the isolated marks, and their
    // coverage measured on all marks.
    TLineSearch(std::vector<uint8_t> isolated, std::vector<uint8_t> marks, int width, int height)
        : FIsolated(std::move(isolated)), FMarks(std::move(marks)), FWidth(width), FHeight(height),
          FCentreX((width - 1) / 2.0)
    {
    }

    // Marked pixels on the line through (CentreX, offset) with the slope,
    // taking in each column the row the line passes nearest.
    int Score(int offset, const std::vector<int>& rowSteps) const
    {
        int score = 0;
        for (int x = 0; x < FWidth; ++x) {
            const int y = offset + rowSteps[size_t(x)];
            if (y >= 0 && y < FHeight)
                score += FIsolated[size_t(y) * FWidth + x];
        }
        return score;
    }

    std::vector<int> RowSteps(double slope) const
    {
        std::vector<int> steps(static_cast<size_t>(FWidth));
        for (int x = 0; x < FWidth; ++x)
            steps[size_t(x)] = int(std::lround((x - FCentreX) * slope));
        return steps;
    }

    // The lines near a coarse one, each at its best slope: every offset whose
    // score is a local maximum over the offsets nearby.
    void Refine(double offset, double slope, double slopeStep, int offsetReach, int minScore,
                std::vector<TCandidate>& found) const
    {
        constexpr int SlopeSteps = 6;
        const int centre = int(std::lround(offset));
        const int offsets = 2 * offsetReach + 1;
        std::vector<int> best(size_t(offsets), -1);
        std::vector<double> bestSlope(static_cast<size_t>(offsets));
        for (int j = -SlopeSteps; j <= SlopeSteps; ++j) {
            const double s = slope + j * slopeStep / 4;
            const std::vector<int> steps = RowSteps(s);
            for (int i = 0; i < offsets; ++i) {
                const int score = Score(centre - offsetReach + i, steps);
                if (score > best[size_t(i)]) {
                    best[size_t(i)] = score;
                    bestSlope[size_t(i)] = s;
                }
            }
        }
        for (int i = 0; i < offsets; ++i) {
            const int score = best[size_t(i)];
            const bool peak = score >= minScore && (i == 0 || score >= best[size_t(i - 1)]) &&
                              (i + 1 == offsets || score > best[size_t(i + 1)]);
            if (peak)
                found.push_back({double(centre - offsetReach + i), bestSlope[size_t(i)], score});
        }
    }

    // The line through the marks near the candidate, by least squares:
    // once through those within two and a half rows, then through those
    // within one and a half of that line. One printed line found from
    // several coarse ones so ends up as one line, and its coverage is
    // measured along where it really runs.
    TCandidate Straighten(TCandidate candidate) const
    {
        for (const double band : {2.5, 1.5}) {
            double n = 0, su = 0, sv = 0, suu = 0, suv = 0;
            for (int x = 0; x < FWidth; ++x) {
                const double at = candidate.Offset + candidate.Slope * (x - FCentreX);
                const int from = std::max(0, int(std::ceil(at - band))), to = std::min(FHeight - 1, int(std::floor(at + band)));
                double rows = 0, marked = 0;
                for (int y = from; y <= to; ++y)
                    if (FIsolated[size_t(y) * FWidth + x]) {
                        rows += y;
                        ++marked;
                    }
                if (marked == 0)
                    continue;
                const double u = x - FCentreX, v = rows / marked;
                n += 1;
                su += u;
                sv += v;
                suu += u * u;
                suv += u * v;
            }
            const double determinant = n * suu - su * su;
            if (n < 10 || determinant <= 0)
                break;
            candidate.Slope = (n * suv - su * sv) / determinant;
            candidate.Offset = (sv - candidate.Slope * su) / n;
        }
        return candidate;
    }

    TFrameLine Line(const TCandidate& candidate) const
    {
        TFrameLine line;
        line.Offset = candidate.Offset;
        line.Slope = candidate.Slope;
        line.CentreX = FCentreX;
        line.Inked.assign(size_t(FWidth) + 1, 0);
        line.Near.assign(size_t(FWidth) + 1, 0);

        for (int x = 0; x < FWidth; ++x) {
            const int y = int(std::lround(line.At(x)));
            auto marked = [&](int reach) {
                for (int dy = -reach; dy <= reach; ++dy)
                    if (y + dy >= 0 && y + dy < FHeight && FMarks[size_t(y + dy) * FWidth + x])
                        return 1;
                return 0;
            };
            line.Inked[size_t(x) + 1] = line.Inked[size_t(x)] + marked(1);
            line.Near[size_t(x) + 1] = line.Near[size_t(x)] + marked(2);
        }
        return line;
    }

private:
    std::vector<uint8_t> FIsolated;
    std::vector<uint8_t> FMarks;
    int FWidth, FHeight;
    double FCentreX;
};

// Straight-line votes over all slopes within the skew limit, on the marks
// pooled into blocks of pool x pool: local maxima with at least minScore.
std::vector<TCandidate> CoarseLines(const std::vector<uint8_t>& marks, int width, int height, int pool,
                                    double maxSlope, double minShare)
{
    const int pw = (width + pool - 1) / pool, ph = (height + pool - 1) / pool;
    std::vector<uint8_t> pooled(size_t(pw) * ph, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (marks[size_t(y) * width + x])
                pooled[size_t(y / pool) * pw + x / pool] = 1;

    const double centreX = (pw - 1) / 2.0, slopeStep = 1.0 / pw;
    const int slopes = 2 * int(std::ceil(maxSlope / slopeStep)) + 1;
    const int reach = int(std::ceil(maxSlope * pw / 2)) + 1;
    const int offsets = ph + 2 * reach;
    std::vector<int> votes(size_t(slopes) * offsets, 0);
    for (int y = 0; y < ph; ++y)
        for (int x = 0; x < pw; ++x) {
            if (!pooled[size_t(y) * pw + x])
                continue;
            for (int k = 0; k < slopes; ++k) {
                const double slope = (k - slopes / 2) * slopeStep;
                const int offset = int(std::lround(y - (x - centreX) * slope)) + reach;
                ++votes[size_t(k) * offsets + offset];
            }
        }

    const int minScore = std::max(3, int(minShare * pw));
    std::vector<TCandidate> coarse;
    for (int k = 0; k < slopes; ++k)
        for (int o = 0; o < offsets; ++o) {
            const int v = votes[size_t(k) * offsets + o];
            if (v < minScore)
                continue;
            bool peak = true;
            for (int dk = -2; dk <= 2 && peak; ++dk)
                for (int dO = -1; dO <= 1 && peak; ++dO) {
                    const int kk = k + dk, oo = o + dO;
                    if ((dk || dO) && kk >= 0 && kk < slopes && oo >= 0 && oo < offsets) {
                        const int w = votes[size_t(kk) * offsets + oo];
                        // Equal neighbours: the first one in scan order stands.
                        peak = w < v || (w == v && (dk > 0 || (dk == 0 && dO > 0)));
                    }
                }
            if (peak)
                coarse.push_back({double(o - reach), (k - slopes / 2) * slopeStep, v});
        }
    std::sort(coarse.begin(), coarse.end(), [](const TCandidate& a, const TCandidate& b) { return a.Score > b.Score; });
    constexpr size_t MostCoarseLines = 80;
    if (coarse.size() > MostCoarseLines)
        coarse.resize(MostCoarseLines);
    // From pooled coordinates back to the marks: a pooled pixel's centre.
    const double fullCentreX = (width - 1) / 2.0, half = (pool - 1) / 2.0;
    for (TCandidate& c : coarse) {
        const double pooledX = (fullCentreX - half) / pool;
        c.Offset = pool * (c.Offset + (pooledX - centreX) * c.Slope) + half;
    }
    return coarse;
}

} // namespace

std::vector<TFrameLine> FindLongLines(const std::vector<float>& image, int width, int height, double minShare)
{
    if (width < 8 || height < 8)
        return {};
    const std::vector<float> ridge = RidgeStrength(image, width, height);
    const float threshold = RidgeThreshold(image, width, height);
    std::vector<uint8_t> marks(ridge.size());
    for (size_t i = 0; i < ridge.size(); ++i)
        marks[i] = ridge[i] > threshold ? 1 : 0;
    std::vector<uint8_t> isolated = IsolatedMarks(marks, width, height);

    const double maxSlope = std::tan(MaxFrameSkewDegrees * std::numbers::pi / 180);
    const int pool = std::max(1, (width + 499) / 500);
    const std::vector<TCandidate> coarse = CoarseLines(isolated, width, height, pool, maxSlope, minShare);

    TLineSearch search(std::move(isolated), std::move(marks), width, height);
    const double coarseSlopeStep = 1.0 / ((width + pool - 1) / pool);
    const int minScore = std::max(3, int(minShare * width));
    std::vector<TCandidate> refined;
    for (const TCandidate& c : coarse)
        search.Refine(c.Offset, c.Slope, coarseSlopeStep, 2 * pool + 2, minScore, refined);

    // The same line found from several coarse ones: the best-covered stays.
    std::vector<TFrameLine> straightened;
    for (const TCandidate& c : refined)
        straightened.push_back(search.Line(search.Straighten(c)));
    std::sort(straightened.begin(), straightened.end(), [width](const TFrameLine& a, const TFrameLine& b) {
        return a.Coverage(0, width - 1) > b.Coverage(0, width - 1);
    });
    std::vector<TFrameLine> lines;
    for (TFrameLine& line : straightened) {
        const bool seen = std::any_of(lines.begin(), lines.end(), [&](const TFrameLine& other) {
            return std::abs(other.At(0) - line.At(0)) <= 2 && std::abs(other.At(width - 1) - line.At(width - 1)) <= 2;
        });
        if (!seen && line.Coverage(0, width - 1) >= minShare)
            lines.push_back(std::move(line));
    }
    return lines;
}
