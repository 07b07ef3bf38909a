#include "georef/fit_quality.h"

#include "platform/exceptions.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// A point named as mistyped must miss by this much left out of the fit, and
// by more than this many times the root mean square of the others.
constexpr double MinSuspectPixels = 1.0;
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

    std::optional<size_t> worst;
    for (const size_t i : fittedIndex)
        if (quality.LeaveOneOut[i] && std::isfinite(*quality.LeaveOneOut[i]) &&
            (!worst || *quality.LeaveOneOut[i] > *quality.LeaveOneOut[*worst]))
            worst = i;
    // The others are judged by the fit made without the suspect, with their
    // degrees of freedom, so that the suspect's pull on the fit hides nothing.
    if (worst && *quality.LeaveOneOut[*worst] > MinSuspectPixels && n - 1 > k) {
        std::vector<TPointResidual> others;
        for (const size_t j : fittedIndex)
            if (j != *worst)
                others.push_back(MeasurePoint(points[j], *without[*worst]));
        std::vector<const TPointResidual*> pointers;
        for (const TPointResidual& r : others)
            pointers.push_back(&r);
        const double othersRms = RootMeanSquare(pointers, static_cast<double>(n - 1 - k)).Pixels;
        const double suspect = *quality.LeaveOneOut[*worst];
        if (suspect > SuspectRatio * othersRms)
            quality.Warnings.push_back("Point " + std::to_string(points[*worst].Id) +
                                       " may be mistyped or misplaced: fitted without it, it lies " +
                                       Format("%.3f", suspect) + " pixels from its coordinates, more than three "
                                       "times the " + Format("%.3f", othersRms) + " pixels of the others");
    }

    if (n > method.MinimumPoints && (fit.Method == TwoPointFitName || fit.Method == SimilarityFitName))
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
