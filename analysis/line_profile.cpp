#include "analysis/line_profile.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <initializer_list>

namespace {

// Below this a footprint box is taken as a point: the line runs along a
// pixel axis within a degree, and dividing by the box width would only
// magnify the rounding of the integrals.
constexpr double PointBox = 0.02;
// Beyond this many deviations the distribution function is 0 or 1 and the
// density 0, to better than 1e-9.
constexpr double FarOut = 6;

// The Gaussian's distribution function and density at z from one
// exponential: erfc by Abramowitz and Stegun 7.1.26 (error below 1.5e-7),
// taken for |z| and mirrored, so that Phi(-z) = 1 - Phi(z) holds exactly and
// the profile stays exactly symmetric.
struct TGauss {
    double Cdf, Pdf;
};

// e^x for x from -20 to 0, to 1e-13 relative: a power of two and Taylor's
// series of the rest (|r| <= ln 2 / 2). The profile spends its time here.
double ExpNegative(double x)
{
    const double n = std::nearbyint(x * M_LOG2E);
    const double r = x - n * M_LN2;
    double p = 1.0 / 3628800;
    for (const double c :
        {1.0 / 362880, 1.0 / 40320, 1.0 / 5040, 1.0 / 720, 1.0 / 120, 1.0 / 24, 1.0 / 6, 0.5, 1.0, 1.0})
        p = p * r + c;
    // 2^n built from its exponent bits: n lies between -30 and 0.
    return p * std::bit_cast<double>(static_cast<uint64_t>(static_cast<int64_t>(n) + 1023) << 52);
}

TGauss Gauss(double z)
{
    if (z > FarOut)
        return {1, 0};
    if (z < -FarOut)
        return {0, 0};
    const double e = ExpNegative(-0.5 * z * z);
    const double x = std::fabs(z) * M_SQRT1_2;
    const double t = 1 / (1 + 0.3275911 * x);
    const double tail =
        0.5 * t * (0.254829592 + t * (-0.284496736 + t * (1.421413741 + t * (-1.453152027 + t * 1.061405429)))) * e;
    return {z >= 0 ? 1 - tail : tail, 0.3989422804014327 * e};
}

// Repeated integrals of the Gaussian's distribution function at x, for
// deviation s, and their derivatives by s. With z = x / s:
//   I0 = Phi(z), I1 = s (z Phi + phi), I2 = s^2 ((z^2 + 1) Phi + z phi) / 2,
//   dI1/ds = phi, dI2/ds = s Phi.
struct TIntegrals {
    double I0, I1, I2, I1ByBlur, I2ByBlur;
};

TIntegrals Integrals(double x, double s)
{
    const double z = x / s;
    const TGauss g = Gauss(z);
    return {g.Cdf, s * (z * g.Cdf + g.Pdf), 0.5 * s * s * ((z * z + 1) * g.Cdf + z * g.Pdf), g.Pdf, s * g.Cdf};
}

} // namespace

TLineProfile::TLineProfile(double width, double blur, double normalAngle, bool rough)
    : FWidth(width), FBlur(blur), FRough(rough)
{
    const double c = std::fabs(std::cos(normalAngle)), s = std::fabs(std::sin(normalAngle));
    FFootprint[0] = std::max(c, s);
    FFootprint[1] = std::min(c, s);
    // A box of width a has the variance a^2 / 12.
    FRoughBlur = std::sqrt(blur * blur + (c * c + s * s) / 12);
}

double TLineProfile::Reach() const
{
    if (FRough)
        return 0.5 * FWidth + FarOut * FRoughBlur;
    return 0.5 * (FWidth + FFootprint[0] + FFootprint[1]) + FarOut * FBlur;
}

TProfileValue TLineProfile::At(double d) const
{
    TProfileValue out;
    if (FRough) {
        const double s = FRoughBlur;
        const double zHigh = (d + 0.5 * FWidth) / s, zLow = (d - 0.5 * FWidth) / s;
        const TGauss high = Gauss(zHigh), low = Gauss(zLow);
        out.Value = high.Cdf - low.Cdf;
        out.Slope = (high.Pdf - low.Pdf) / s;
        out.ByWidth = 0.5 * (high.Pdf + low.Pdf) / s;
        out.ByBlur = -(zHigh * high.Pdf - zLow * low.Pdf) / s * (FBlur / s);
        return out;
    }
    // The band's two edges, then each footprint box, are finite differences
    // of the next integral; the normalised boxes divide by their widths.
    const double a = FFootprint[0], b = FFootprint[1];
    const bool twoBoxes = b >= PointBox;
    for (int edge = 0; edge < 2; ++edge) {
        const double edgeSign = edge == 0 ? 1 : -1;
        const double x0 = d + edgeSign * 0.5 * FWidth;
        for (int i = 0; i < 2; ++i) {
            const double signA = i == 0 ? 1 : -1;
            const double xa = x0 + signA * 0.5 * a;
            for (int j = 0; j < (twoBoxes ? 2 : 1); ++j) {
                const double xb = twoBoxes ? xa + (j == 0 ? 0.5 : -0.5) * b : xa;
                const double sign = signA * (j == 0 ? 1 : -1);
                const TIntegrals g = Integrals(xb, FBlur);
                if (twoBoxes) {
                    out.Value += edgeSign * sign * g.I2;
                    out.Slope += edgeSign * sign * g.I1;
                    out.ByWidth += 0.5 * sign * g.I1;
                    out.ByBlur += edgeSign * sign * g.I2ByBlur;
                } else {
                    out.Value += edgeSign * sign * g.I1;
                    out.Slope += edgeSign * sign * g.I0;
                    out.ByWidth += 0.5 * sign * g.I0;
                    out.ByBlur += edgeSign * sign * g.I1ByBlur;
                }
            }
        }
    }
    const double scale = twoBoxes ? 1 / (a * b) : 1 / a;
    out.Value *= scale;
    out.Slope *= scale;
    out.ByWidth *= scale;
    out.ByBlur *= scale;
    return out;
}

TProfileTable::TProfileTable(const TLineProfile& profile) : FReach(profile.Reach())
{
    const int count = static_cast<int>(std::ceil(2 * FReach / Step)) + 2;
    FSamples.reserve(count);
    for (int k = 0; k < count; ++k)
        FSamples.push_back(profile.At(k * Step - FReach));
}

TProfileValue TProfileTable::At(double d) const
{
    const double position = (d + FReach) / Step;
    const int k = static_cast<int>(std::floor(position));
    if (k < 0 || k + 1 >= static_cast<int>(FSamples.size()))
        return {};
    const double t = position - k, u = 1 - t;
    const TProfileValue& a = FSamples[k];
    const TProfileValue& b = FSamples[k + 1];
    TProfileValue out;
    out.Value =
        a.Value * u * u * (1 + 2 * t) + b.Value * t * t * (1 + 2 * u) + Step * t * u * (a.Slope * u - b.Slope * t);
    out.Slope = a.Slope * u + b.Slope * t;
    out.ByWidth = a.ByWidth * u + b.ByWidth * t;
    out.ByBlur = a.ByBlur * u + b.ByBlur * t;
    return out;
}
