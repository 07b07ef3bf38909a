#include "georef/fit_quality.h"

#include "platform/exceptions.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// A point named as mistyped must miss by this much left out of the fit (a
// point picked to a fraction of a pixel that misses by less is no mistake
// worth naming), and by more than this many times the root mean square of
// the others.
constexpr double MinSuspectPixels = 2.0;
constexpr double SuspectRatio = 3.0;
// Points whose spread across their main direction is under this share of
// their spread along it lie nearly on one line.
constexpr double MinSpreadRatio = 0.1;
// Points whose outline covers less than this share of the sheet leave most
// of it to extrapolation.
constexpr double MinCoveredShare = 0.25;

std::string Format(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

TRootMeanSquare RootMeanSquare(const std::vector<const TPointResidual*>& residuals, double divisor)
{
    TRootMeanSquare rms;
    for (const TPointResidual* r : residuals) {
        rms.Pixels += r->Pixels * r->Pixels;
        rms.Map += r->Distance * r->Distance;
    }
    rms.Pixels = std::sqrt(rms.Pixels / divisor);
    rms.Map = std::sqrt(rms.Map / divisor);
    return rms;
}

struct TPixel {
    double X, Y;
};

double Cross(const TPixel& o, const TPixel& a, const TPixel& b)
{
    return (a.X - o.X) * (b.Y - o.Y) - (a.Y - o.Y) * (b.X - o.X);
}

// Area of the convex outline (monotone chain).
double HullArea(std::vector<TPixel> points)
{
    std::sort(points.begin(), points.end(),
              [](const TPixel& a, const TPixel& b) { return a.X < b.X || (a.X == b.X && a.Y < b.Y); });
    std::vector<TPixel> hull(2 * points.size());
    size_t k = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        while (k >= 2 && Cross(hull[k - 2], hull[k - 1], points[i]) <= 0)
            --k;
        hull[k++] = points[i];
    }
    for (size_t i = points.size() - 1, lower = k + 1; i-- > 0;) {
        while (k >= lower && Cross(hull[k - 2], hull[k - 1], points[i]) <= 0)
            --k;
        hull[k++] = points[i];
    }
    double twice = 0;
    for (size_t i = 0; i + 1 < k; ++i)
        twice += hull[i].X * hull[i + 1].Y - hull[i + 1].X * hull[i].Y;
    return std::fabs(twice) / 2;
}

// The smaller spread of the points over the larger, from the eigenvalues of
// their covariance.
double SpreadRatio(const std::vector<TPixel>& points)
{
    double mx = 0, my = 0;
    for (const TPixel& p : points) {
        mx += p.X;
        my += p.Y;
    }
    mx /= static_cast<double>(points.size());
    my /= static_cast<double>(points.size());
    double sxx = 0, syy = 0, sxy = 0;
    for (const TPixel& p : points) {
        sxx += (p.X - mx) * (p.X - mx);
        syy += (p.Y - my) * (p.Y - my);
        sxy += (p.X - mx) * (p.Y - my);
    }
    const double half = (sxx + syy) / 2, root = std::hypot((sxx - syy) / 2, sxy);
    const double larger = half + root, smaller = std::max(0.0, half - root);
    return larger > 0 ? std::sqrt(smaller / larger) : 0;
}

} // namespace

TFitQuality AssessFit(const TFitResult& fit, const TControlPoints& points, TImageSize imageSize)
{
    if (fit.Residuals.size() != points.size() || !fit.Model)
        throw Exception("The assessment needs the fit that measured the points");
    const TFitMethod& method = FindFitMethod(fit.Method);
    const size_t k = method.MinimumPoints;
    TFitQuality quality;
    std::vector<const TPointResidual*> fittedResiduals, checkResiduals;
    std::vector<size_t> fittedIndex;
    std::vector<TPixel> pixels;
    for (size_t i = 0; i < points.size(); ++i) {
        if (points[i].Role == TPointRole::Fitted) {
            fittedResiduals.push_back(&fit.Residuals[i]);
            fittedIndex.push_back(i);
            pixels.push_back({points[i].Col, points[i].Row});
        } else {
            checkResiduals.push_back(&fit.Residuals[i]);
        }
    }
    const size_t n = fittedResiduals.size();
    quality.Fitted = n;
    quality.Checks = checkResiduals.size();
    if (n > 0)
        quality.Rms = RootMeanSquare(fittedResiduals, static_cast<double>(n));
    if (n > k)
        quality.RmsFree = RootMeanSquare(fittedResiduals, static_cast<double>(n - k));
    if (!checkResiduals.empty())
        quality.CheckRms = RootMeanSquare(checkResiduals, static_cast<double>(checkResiduals.size()));

    // Each fitted point against the fit of all the others.
    quality.LeaveOneOut.assign(points.size(), std::nullopt);
    std::vector<TFitModelPtr> without(points.size());
    if (n > k) {
        for (const size_t i : fittedIndex) {
            TControlPoints others;
            for (const size_t j : fittedIndex)
                if (j != i)
                    others.push_back(points[j]);
            try {
                without[i] = method.Solve(others);
                quality.LeaveOneOut[i] = MeasurePoint(points[i], *without[i]).Pixels;
            } catch (const Exception&) {
                // These points alone do not determine the fit: no figure.
            }
        }
    }

    // A point is suspect when, fitted without it, it misses by more than
    // three times the root mean square of the others in that fit, taken with
    // their degrees of freedom: judged by a fit free of it, its pull on the
    // fit hides nothing. The largest error left out comes first; when more
    // points are suspect, the others cannot tell which of them is wrong (a
    // corner and the opposite one, for an affine of five points), and the
    // warning names them all rather than guess.
    struct TSuspect {
        size_t Index;
        double LeftOut, OthersRms;
    };
    std::vector<TSuspect> suspects;
    for (const size_t i : fittedIndex) {
        const auto& left = quality.LeaveOneOut[i];
        if (n <= k + 1 || !left || !std::isfinite(*left) || *left <= MinSuspectPixels)
            continue;
        std::vector<TPointResidual> others;
        for (const size_t j : fittedIndex)
            if (j != i)
                others.push_back(MeasurePoint(points[j], *without[i]));
        std::vector<const TPointResidual*> pointers;
        for (const TPointResidual& r : others)
            pointers.push_back(&r);
        const double othersRms = RootMeanSquare(pointers, static_cast<double>(n - 1 - k)).Pixels;
        if (*left > SuspectRatio * othersRms)
            suspects.push_back({i, *left, othersRms});
    }
    // Errors equal to a millionth of a pixel keep list order.
    std::stable_sort(suspects.begin(), suspects.end(), [](const TSuspect& a, const TSuspect& b) {
        return std::round(a.LeftOut * 1e6) > std::round(b.LeftOut * 1e6);
    });
    if (suspects.size() == 1) {
        quality.Warnings.push_back("Point " + std::to_string(points[suspects[0].Index].Id) +
                                   " may be mistyped or misplaced: fitted without it, it lies " +
                                   Format("%.3f", suspects[0].LeftOut) + " pixels from its coordinates, more than "
                                   "three times the " + Format("%.3f", suspects[0].OthersRms) +
                                   " pixels of the others");
    } else if (!suspects.empty()) {
        std::string names, figures;
        for (size_t s = 0; s < suspects.size(); ++s) {
            const std::string id = std::to_string(points[suspects[s].Index].Id);
            names += (s == 0 ? "Point " : s + 1 == suspects.size() ? " or point " : ", point ") + id;
            figures += (s == 0 ? ": fitted without point " : "; without point ") + id + ", it lies " +
                       Format("%.3f", suspects[s].LeftOut) + " pixels from its coordinates, the others " +
                       Format("%.3f", suspects[s].OthersRms);
        }
        quality.Warnings.push_back(names + " may be mistyped or misplaced, and the other points cannot tell which" +
                                   figures);
    }

    if (n > method.MinimumPoints && method.FirstTwoOnly)
        quality.Warnings.push_back("The transformation " + fit.Method +
                                   " goes through the first two fitted points only; the others are measured, "
                                   "not fitted");
    if (n >= 3 && k >= 3 && SpreadRatio(pixels) < MinSpreadRatio)
        quality.Warnings.push_back("The fitted points lie nearly on one line: the fit is uncertain across it");
    const double sheet = static_cast<double>(imageSize.Width) * imageSize.Height;
    if (n >= 3 && sheet > 0) {
        const double share = HullArea(pixels) / sheet;
        if (share < MinCoveredShare)
            quality.Warnings.push_back("The fitted points enclose only " + Format("%.0f", share * 100) +
                                       " % of the sheet: the fit is uncertain away from them");
    }
    return quality;
}
