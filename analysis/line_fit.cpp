#include "analysis/line_fit.h"

#include "analysis/darkness_window.h"
#include "analysis/line_profile.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

constexpr int Rounds = 4, RoughRounds = 2, WarmRounds = 2;
constexpr int StepsPerRound = 8, RoughStepsPerRound = 5;
// A round that moves the line by less than this (pixels, at the origin and
// at the reach) and changes no bin ends the fit.
constexpr double Settled = 0.002;
constexpr double TukeyLimit = 4.685;    // residual scales
constexpr double InkedShare = 0.35;     // of the contrast, for a bin to hold the line
constexpr double InkedSignificance = 3; // amplitude errors, likewise
constexpr double OutlierShift = 0.3;    // pixels; and five shift errors
constexpr double OutlierErrors = 5;
constexpr double MinWidth = 0.3, MaxWidth = 12, MinBlur = 0.05, MaxBlur = 4;
// The blur may fall to this in the first round, and to half as much in each
// further one: a sharp profile has corners on which the steps stall far
// from the line, a blurred one leads them there first.
constexpr double FirstBlurFloor = 0.5;
// A bilevel scan's edges are whole pixels, a staircase along the line; a
// profile at least this blurred averages the stairs instead of fitting one.
constexpr double BilevelBlur = 0.5;
// How far the steps of a bilevel line move one bin's centre: each edge
// lies anywhere within a pixel, a deviation of 0.29, and the centre between
// two of them.
constexpr double StaircaseShift = 0.2;
// Pixels are not trusted to fit the model better than this share of the
// line's darkness (nor better than half a grey level), whatever the
// residuals say; a noiseless picture would otherwise claim no error at all.
constexpr double ModelMisfit = 0.01;

using TVector4 = Eigen::Matrix<double, 4, 1>;
using TMatrix4 = Eigen::Matrix<double, 4, 4>;

// Offset (at the origin), normal angle, width, blur.
struct TState {
    TVector4 Q;
    double Offset() const { return Q[0]; }
    double Angle() const { return Q[1]; }
    double Width() const { return Q[2]; }
    double Blur() const { return Q[3]; }
};

struct TPixel {
    double X, Y; // from the origin
    double Value;
    double Weight;
    int Bin;
};

struct TBinState {
    int First = 0, End = 0; // pixel range
    int Masked = 0;
    bool Geometry = false; // may shape the geometry (inked, not an outlier, on a used side)
    bool Side = true;      // on a side the request lets shape the geometry
    double Paper = 0, Amplitude = 0;
    double FreeAmplitude = 0, FreeAmplitudeError = 0;
    bool Inked = false, Outlier = false;
    double Shift = 0, ShiftError = 0;
};

struct TEvaluation {
    double Cost = 0;
    double WeightSum = 0;
    TMatrix4 Normal = TMatrix4::Zero();
    TVector4 Gradient = TVector4::Zero();
    std::vector<double> Residuals;
};

class TFitter {
public:
    TFitter(const TDarknessWindow& window, const TLineFitRequest& request, double noise, bool bilevel)
        : FWindow(window), FRequest(request), FNoise(noise), FBilevel(bilevel)
    {
        const double angle = request.Start.NormalAngle;
        FState.Q << request.Start.Distance - std::cos(angle) * request.OriginX - std::sin(angle) * request.OriginY,
            angle, std::clamp(request.Width, MinWidth, MaxWidth), std::clamp(request.Blur, MinBlur, MaxBlur);
    }

    TFittedLine Run();

private:
    void Select(bool first);
    TEvaluation Evaluate(const TState& state, bool jacobian);
    void EvaluateStepped(const TState& state, bool jacobian, TEvaluation& e);
    void Reweigh(const TEvaluation& e);
    void UpdateBins(const TEvaluation& e);
    TFittedLine Result(const TEvaluation& e) const;
    double CorrelationFactor(const TEvaluation& e) const;

    const TDarknessWindow& FWindow;
    const TLineFitRequest& FRequest;
    double FNoise;
    bool FBilevel;
    TState FState;
    std::vector<TPixel> FPixels;
    std::vector<double> FShape;    // the profile at each pixel, and its slopes,
    std::vector<TVector4> FSlopes; // kept between evaluations for their memory
    std::vector<double> FStep;      // the ground's step at each pixel, and its slopes
    std::vector<TVector4> FStepSlopes;
    int FStepSide = 0; // the side of the tint along the normal, 0 till known
    std::vector<TBinState> FBins;
    int FFirstBin = 0;
    double FScale = 0;
    double FContrast = 0;
    double FPeak = 0; // darkness of the model at the line's centre
    bool FRobust = false;
};

void TFitter::Select(bool first)
{
    const double c = std::cos(FState.Angle()), s = std::sin(FState.Angle());
    // The first round keeps close to the guess, so that a line running
    // alongside stays out until the weights can tell it from this one; the
    // later ones reach the paper on both sides.
    const double halfStrip = first ? std::clamp(0.5 * FState.Width() + FState.Blur() + 1.5, 3.0, 5.0)
                                   : std::clamp(0.5 * FState.Width() + 2.5 * FState.Blur() + 2.5, 3.5, 12.0);
    const std::vector<TBinState> previous = std::move(FBins);
    const int previousFirst = FFirstBin;
    struct TCandidate {
        TPixel Pixel;
        bool Masked;
    };
    std::vector<TCandidate> found;
    int lowBin = 0, highBin = -1;
    for (int y = 0; y < FWindow.Height; ++y)
        for (int x = 0; x < FWindow.Width; ++x) {
            const double dx = x - FRequest.OriginX, dy = y - FRequest.OriginY;
            if (std::fabs(c * dx + s * dy - FState.Offset()) > halfStrip ||
                std::fabs(-s * dx + c * dy) > FRequest.Reach)
                continue;
            bool masked = false;
            const double own = std::fabs(c * dx + s * dy - FState.Offset());
            for (const TBandMask& m : FRequest.Masks) {
                const double there =
                    std::fabs(std::cos(m.Line.NormalAngle) * x + std::sin(m.Line.NormalAngle) * y - m.Line.Distance);
                masked = masked || there <= (m.Alongside ? own : m.HalfWidth);
            }
            const int bin = static_cast<int>(std::floor((-s * dx + c * dy) / LineBinLength));
            if (highBin < lowBin)
                lowBin = highBin = bin;
            lowBin = std::min(lowBin, bin);
            highBin = std::max(highBin, bin);
            found.push_back({{dx, dy, FWindow.At(x, y), 1.0, bin}, masked});
        }
    FFirstBin = lowBin;
    FBins.assign(std::max(0, highBin - lowBin + 1), {});
    std::vector<int> counts(FBins.size(), 0);
    for (TCandidate& f : found) {
        f.Pixel.Bin -= lowBin;
        if (f.Masked)
            ++FBins[f.Pixel.Bin].Masked;
        else
            ++counts[f.Pixel.Bin];
    }
    int start = 0;
    for (size_t b = 0; b < FBins.size(); ++b) {
        TBinState& bin = FBins[b];
        bin.First = bin.End = start;
        start += counts[b];
        bin.Side = static_cast<int>(b) + lowBin < 0 ? FRequest.UseBefore : FRequest.UseAfter;
        // A bin keeps what the last round learnt of it.
        const int old = static_cast<int>(b) + lowBin - previousFirst;
        if (old >= 0 && old < static_cast<int>(previous.size())) {
            bin.Inked = previous[old].Inked;
            bin.Outlier = previous[old].Outlier;
            bin.Geometry = previous[old].Geometry && bin.Side;
        } else {
            bin.Geometry = previous.empty() && bin.Side;
        }
    }
    FPixels.assign(start, {});
    for (const TCandidate& f : found)
        if (!f.Masked)
            FPixels[FBins[f.Pixel.Bin].End++] = f.Pixel;
}

TEvaluation TFitter::Evaluate(const TState& state, bool jacobian)
{
    TEvaluation e;
    e.Residuals.resize(FPixels.size());
    const double c = std::cos(state.Angle()), s = std::sin(state.Angle());
    const TLineProfile profile(state.Width(), state.Blur(), state.Angle(), FRequest.Rough);
    // A blurred full profile is sampled once rather than worked out at
    // every pixel; a sharp one has corners the samples would round.
    std::optional<TProfileTable> table;
    if (!FRequest.Rough && state.Blur() >= TProfileTable::MinBlur)
        table.emplace(profile);
    std::vector<double>& shape = FShape;
    std::vector<TVector4>& slopes = FSlopes;
    shape.resize(FPixels.size());
    slopes.resize(jacobian ? FPixels.size() : 0);
    for (size_t i = 0; i < FPixels.size(); ++i) {
        const TPixel& p = FPixels[i];
        const double along = -s * p.X + c * p.Y;
        const double d = c * p.X + s * p.Y - state.Offset();
        const TProfileValue v = table ? table->At(d) : profile.At(d);
        shape[i] = v.Value;
        if (jacobian)
            slopes[i] << -v.Slope, v.Slope * along, v.ByWidth, v.ByBlur;
    }
    if (FRequest.SteppedGround && !FRequest.Rough) {
        EvaluateStepped(state, jacobian, e);
        return e;
    }
    for (TBinState& bin : FBins) {
        double sw = 0, swp = 0, swpp = 0, swv = 0, swpv = 0;
        for (int i = bin.First; i < bin.End; ++i) {
            const double w = FPixels[i].Weight, v = FPixels[i].Value, p = shape[i];
            sw += w, swp += w * p, swpp += w * p * p, swv += w * v, swpv += w * p * v;
        }
        const double det = sw * swpp - swp * swp;
        const bool twoLevels = bin.Geometry && det > 1e-9 * std::max(1.0, sw * swpp);
        if (twoLevels) {
            bin.Paper = (swpp * swv - swp * swpv) / det;
            bin.Amplitude = (sw * swpv - swp * swv) / det;
        } else {
            bin.Paper = sw > 0 ? swv / sw : 0;
            bin.Amplitude = 0;
        }
        for (int i = bin.First; i < bin.End; ++i) {
            const double r = FPixels[i].Value - bin.Paper - bin.Amplitude * shape[i];
            e.Residuals[i] = r;
            e.Cost += FPixels[i].Weight * r * r;
            e.WeightSum += FPixels[i].Weight;
        }
        if (!jacobian || !twoLevels)
            continue;
        // The model's derivatives with the bin's own paper and amplitude
        // fitted out of them (variable projection).
        TVector4 sg = TVector4::Zero(), spg = TVector4::Zero();
        for (int i = bin.First; i < bin.End; ++i) {
            const TVector4 g = bin.Amplitude * slopes[i];
            sg += FPixels[i].Weight * g;
            spg += FPixels[i].Weight * shape[i] * g;
        }
        const TVector4 k0 = (swpp * sg - swp * spg) / det, k1 = (sw * spg - swp * sg) / det;
        for (int i = bin.First; i < bin.End; ++i) {
            const TVector4 g = bin.Amplitude * slopes[i] - k0 - k1 * shape[i];
            const double w = FPixels[i].Weight;
            e.Normal.noalias() += w * g * g.transpose();
            e.Gradient += w * g * e.Residuals[i];
        }
    }
    return e;
}

// As Evaluate's bins, with a third level in each bin that holds the line:
// the ground's step from one side of the line to the other. The tint lies on
// the side whose ground is darker; an opaque line hides it, so that it shows
// from the line's edge on, blurred as the line is (and by the pixel's own
// square).
void TFitter::EvaluateStepped(const TState& state, bool jacobian, TEvaluation& e)
{
    const double c = std::cos(state.Angle()), s = std::sin(state.Angle());
    const double edge = 0.5 * state.Width();
    const double blur = std::sqrt(state.Blur() * state.Blur() + 1.0 / 12);
    if (FStepSide == 0) {
        double sums[2] = {0, 0}, counts[2] = {0, 0};
        for (const TPixel& p : FPixels) {
            const double d = c * p.X + s * p.Y - state.Offset();
            if (std::fabs(d) > edge + 2 * blur + 0.5) {
                sums[d > 0] += p.Value;
                counts[d > 0] += 1;
            }
        }
        FStepSide = counts[0] > 0 && counts[1] > 0 && sums[0] / counts[0] > sums[1] / counts[1] ? -1 : 1;
    }
    FStep.resize(FPixels.size());
    FStepSlopes.resize(jacobian ? FPixels.size() : 0);
    for (size_t i = 0; i < FPixels.size(); ++i) {
        const TPixel& p = FPixels[i];
        const double d = c * p.X + s * p.Y - state.Offset();
        const double u = (FStepSide * d - edge) / blur;
        FStep[i] = 0.5 * std::erfc(-u / M_SQRT2);
        if (jacobian) {
            const double density = std::exp(-0.5 * u * u) / std::sqrt(2 * M_PI) / blur;
            FStepSlopes[i] << -FStepSide * density, FStepSide * density * (-s * p.X + c * p.Y), -0.5 * density,
                -u * density * state.Blur() / blur;
        }
    }
    for (TBinState& bin : FBins) {
        Eigen::Matrix3d normal = Eigen::Matrix3d::Zero();
        Eigen::Vector3d right = Eigen::Vector3d::Zero();
        double sw = 0, swv = 0;
        for (int i = bin.First; i < bin.End; ++i) {
            const double w = FPixels[i].Weight;
            const Eigen::Vector3d b(1, FShape[i], FStep[i]);
            normal.noalias() += w * b * b.transpose();
            right += w * b * FPixels[i].Value;
            sw += w, swv += w * FPixels[i].Value;
        }
        const bool levels = bin.Geometry && normal.determinant() > 1e-9 * std::max(1.0, normal.diagonal().prod());
        Eigen::Vector3d level(sw > 0 ? swv / sw : 0, 0, 0);
        Eigen::Matrix3d inverse;
        if (levels) {
            inverse = normal.inverse();
            level = inverse * right;
        }
        bin.Paper = level[0];
        bin.Amplitude = level[1];
        for (int i = bin.First; i < bin.End; ++i) {
            const double r = FPixels[i].Value - level[0] - level[1] * FShape[i] - level[2] * FStep[i];
            e.Residuals[i] = r;
            e.Cost += FPixels[i].Weight * r * r;
            e.WeightSum += FPixels[i].Weight;
        }
        if (!jacobian || !levels)
            continue;
        // Variable projection: the model's derivatives with the bin's three
        // levels fitted out of them.
        Eigen::Matrix<double, 3, 4> cross = Eigen::Matrix<double, 3, 4>::Zero();
        for (int i = bin.First; i < bin.End; ++i) {
            const TVector4 g = level[1] * FSlopes[i] + level[2] * FStepSlopes[i];
            cross.noalias() += FPixels[i].Weight * Eigen::Vector3d(1, FShape[i], FStep[i]) * g.transpose();
        }
        const Eigen::Matrix<double, 3, 4> k = inverse * cross;
        for (int i = bin.First; i < bin.End; ++i) {
            const TVector4 g = level[1] * FSlopes[i] + level[2] * FStepSlopes[i] -
                k.transpose() * Eigen::Vector3d(1, FShape[i], FStep[i]);
            const double w = FPixels[i].Weight;
            e.Normal.noalias() += w * g * g.transpose();
            e.Gradient += w * g * e.Residuals[i];
        }
    }
}

// Tukey's weights from the residuals and a robust scale of the inked bins.
void TFitter::Reweigh(const TEvaluation& e)
{
    std::vector<double> magnitudes;
    for (const TBinState& bin : FBins)
        if (bin.Geometry)
            for (int i = bin.First; i < bin.End; ++i)
                magnitudes.push_back(std::fabs(e.Residuals[i]));
    if (magnitudes.empty())
        return;
    auto middle = magnitudes.begin() + magnitudes.size() / 2;
    std::nth_element(magnitudes.begin(), middle, magnitudes.end());
    // A floor, so that a clean synthetic line (residuals near zero) does not
    // turn every small misfit into an outlier; a bilevel scan's edge pixels
    // miss any smooth model by up to half the line's darkness and must all
    // count.
    const double floor = FBilevel ? 0.25 * FPeak : std::max({0.5, 0.5 * FNoise, 0.03 * FPeak});
    FScale = std::max(1.4826 * *middle, floor);
    FRobust = true;
    for (size_t i = 0; i < FPixels.size(); ++i) {
        const double u = e.Residuals[i] / (TukeyLimit * FScale);
        FPixels[i].Weight = std::fabs(u) < 1 ? (1 - u * u) * (1 - u * u) : 0;
    }
}

// Which bins hold ink, and which of those stand apart.
void TFitter::UpdateBins(const TEvaluation& e)
{
    const TLineProfile profile(FState.Width(), FState.Blur(), FState.Angle(), FRequest.Rough);
    const double c = std::cos(FState.Angle()), s = std::sin(FState.Angle());
    const double scale = std::max(FScale, std::max(0.5, FNoise));
    std::vector<double> amplitudes;
    for (TBinState& bin : FBins) {
        double sw = 0, swp = 0, swpp = 0, swv = 0, swpv = 0, sgg = 0, sgr = 0;
        for (int i = bin.First; i < bin.End; ++i) {
            const TPixel& px = FPixels[i];
            const TProfileValue v = profile.At(c * px.X + s * px.Y - FState.Offset());
            const double w = px.Weight;
            sw += w, swp += w * v.Value, swpp += w * v.Value * v.Value, swv += w * px.Value,
                swpv += w * v.Value * px.Value;
            const double g = -bin.Amplitude * v.Slope;
            sgg += w * g * g;
            sgr += w * g * e.Residuals[i];
        }
        const double det = sw * swpp - swp * swp;
        const bool solvable = bin.End - bin.First >= 3 && det > 1e-9 * std::max(1.0, sw * swpp);
        bin.FreeAmplitude = solvable ? (sw * swpv - swp * swv) / det : 0;
        bin.FreeAmplitudeError = solvable ? scale * std::sqrt(sw / det) : 0;
        bin.Shift = sgg > 0 ? sgr / sgg : 0;
        bin.ShiftError = sgg > 0 ? scale / std::sqrt(sgg) : 0;
        // On a bilevel scan a bin's centre is also off by its steps.
        if (FBilevel && sgg > 0)
            bin.ShiftError = std::hypot(bin.ShiftError, StaircaseShift);
        if (solvable)
            amplitudes.push_back(bin.FreeAmplitude);
    }
    // The contrast: the middle of the strongest quarter of the bins, so that
    // a line present along a quarter of the strip is still measured by its
    // ink, and a single blot does not set it.
    std::sort(amplitudes.begin(), amplitudes.end(), std::greater<>());
    const size_t top = std::max<size_t>(1, amplitudes.size() / 4);
    FContrast = amplitudes.empty() ? 0 : amplitudes[std::min(top, amplitudes.size()) / 2];
    // A hairline's width and amplitude trade against each other; the
    // darkness at its centre does not.
    FPeak = FContrast * profile.At(0).Value;
    std::vector<double> shifts;
    for (TBinState& bin : FBins) {
        bin.Inked = FContrast > 0 && bin.End - bin.First >= 3 && bin.FreeAmplitude > InkedShare * FContrast &&
            bin.FreeAmplitude > InkedSignificance * bin.FreeAmplitudeError;
        if (bin.Inked && bin.Side && bin.Amplitude > 0)
            shifts.push_back(bin.Shift);
    }
    double middle = 0;
    if (!shifts.empty()) {
        std::nth_element(shifts.begin(), shifts.begin() + shifts.size() / 2, shifts.end());
        middle = shifts[shifts.size() / 2];
    }
    for (TBinState& bin : FBins) {
        bin.Outlier = bin.Inked && bin.Amplitude > 0 &&
            std::fabs(bin.Shift - middle) > std::max(OutlierShift, OutlierErrors * bin.ShiftError);
        bin.Geometry = bin.Inked && !bin.Outlier && bin.Side;
    }
}

// How much fewer than their number the residuals count: noise that JPEG's
// blocks or a scanner's optics spread over neighbours, and a misfit of the
// model along the line, do not average out as independent noise does. The
// variance of a mean grows by 1 + 2 rho for a neighbour correlation rho, in
// either direction.
double TFitter::CorrelationFactor(const TEvaluation& e) const
{
    std::vector<float> map(static_cast<size_t>(FWindow.Width) * FWindow.Height, NAN);
    for (const TBinState& bin : FBins)
        if (bin.Geometry)
            for (int i = bin.First; i < bin.End; ++i) {
                const long x = std::lround(FPixels[i].X + FRequest.OriginX),
                           y = std::lround(FPixels[i].Y + FRequest.OriginY);
                if (FPixels[i].Weight > 0 && x >= 0 && y >= 0 && x < FWindow.Width && y < FWindow.Height)
                    map[static_cast<size_t>(y) * FWindow.Width + x] = static_cast<float>(e.Residuals[i]);
            }
    double factor = 1;
    for (const int step : {1, FWindow.Width}) {
        double products = 0, squares = 0;
        for (size_t i = 0; i + step < map.size(); ++i)
            if (!std::isnan(map[i]) && !std::isnan(map[i + step])) {
                products += map[i] * map[i + step];
                squares += 0.5 * (map[i] * map[i] + map[i + step] * map[i + step]);
            }
        if (squares > 0)
            factor *= 1 + 2 * std::clamp(products / squares, 0.0, 1.0);
    }
    return factor;
}

TFittedLine TFitter::Result(const TEvaluation& e) const
{
    TFittedLine out;
    int geometryBins = 0, lineParameters = 0;
    for (size_t b = 0; b < FBins.size(); ++b) {
        const TBinState& bin = FBins[b];
        TLineBin line;
        line.Along = (static_cast<int>(b) + FFirstBin + 0.5) * LineBinLength;
        line.Pixels = bin.End - bin.First;
        line.Masked = bin.Masked;
        line.Amplitude = bin.FreeAmplitude;
        line.AmplitudeError = bin.FreeAmplitudeError;
        line.Inked = bin.Inked;
        line.Shift = bin.Shift;
        line.ShiftError = bin.ShiftError;
        line.Outlier = bin.Outlier;
        out.Bins.push_back(line);
        geometryBins += bin.Geometry;
        lineParameters += bin.Geometry ? 2 : 1;
    }
    const double c = std::cos(FState.Angle()), s = std::sin(FState.Angle());
    out.Line = {FState.Angle(), FState.Offset() + c * FRequest.OriginX + s * FRequest.OriginY};
    // The normal angle is reported in [0, pi); where that turns the normal
    // round, the line's direction turns too, and with it the bins' order
    // and the signs of what is measured along the normal.
    const double turns = std::floor(out.Line.NormalAngle / M_PI);
    const bool turned = static_cast<long long>(turns) % 2 != 0;
    out.Line.NormalAngle -= turns * M_PI;
    if (turned) {
        out.Line.Distance = -out.Line.Distance;
        std::reverse(out.Bins.begin(), out.Bins.end());
        for (TLineBin& bin : out.Bins) {
            bin.Along = -bin.Along;
            bin.Shift = -bin.Shift;
        }
    }
    out.Width = FState.Width();
    out.Blur = FState.Blur();
    {
        const double reach = 0.5 * FState.Width() + 2 * FState.Blur() + 1;
        double inkMoment = 0, ink = 0, modelMoment = 0, model = 0;
        for (const TBinState& bin : FBins) {
            if (!bin.Geometry)
                continue;
            for (int i = bin.First; i < bin.End; ++i) {
                const double d = c * FPixels[i].X + s * FPixels[i].Y - FState.Offset();
                if (std::fabs(d) > reach || i >= static_cast<int>(FShape.size()))
                    continue;
                const double m = bin.Amplitude * FShape[i];
                inkMoment += (m + e.Residuals[i]) * d;
                ink += m + e.Residuals[i];
                modelMoment += m * d;
                model += m;
            }
        }
        if (ink > 0 && model > 0)
            out.InkOffset = (turned ? -1 : 1) * (inkMoment / ink - modelMoment / model);
        if (model > 0)
            out.SampledCentroid = (turned ? -1 : 1) * modelMoment / model;
    }
    out.Contrast = FContrast;
    out.ResidualScale = FScale;

    // Standard errors of offset and angle: the width and blur are fitted
    // with them, so their block is taken out (Schur complement); a width the
    // pixels cannot tell from the amplitude (a hairline) must not make the
    // offset look uncertain, hence the pseudo-inverse.
    const double dof = e.WeightSum - lineParameters - 4;
    if (geometryBins < 3 || dof <= 0 || !std::isfinite(e.Cost))
        return out;
    const double floor = std::max(0.5, ModelMisfit * FPeak);
    const double variance = std::max(e.Cost / dof, floor * floor) * CorrelationFactor(e);
    const Eigen::Matrix2d a = e.Normal.topLeftCorner<2, 2>();
    const Eigen::Matrix2d b = e.Normal.topRightCorner<2, 2>();
    Eigen::Matrix2d d = e.Normal.bottomRightCorner<2, 2>();
    if (FRequest.ShapePrior > 0)
        d += Eigen::Matrix2d::Identity() * (variance / (FRequest.ShapePrior * FRequest.ShapePrior));
    Eigen::SelfAdjointEigenSolver<Eigen::Matrix2d> eigen(d);
    Eigen::Matrix2d dPlus = Eigen::Matrix2d::Zero();
    for (int k = 0; k < 2; ++k)
        if (eigen.eigenvalues()[k] > 1e-9 * std::max(1e-300, eigen.eigenvalues().cwiseAbs().maxCoeff()))
            dPlus += eigen.eigenvectors().col(k) * eigen.eigenvectors().col(k).transpose() / eigen.eigenvalues()[k];
    const Eigen::Matrix2d reduced = a - b * dPlus * b.transpose();
    if (reduced.determinant() <= 0)
        return out;
    const Eigen::Matrix2d covariance = variance * reduced.inverse();
    out.OffsetVariance = covariance(0, 0);
    out.AngleVariance = covariance(1, 1);
    out.OffsetAngleCovariance = turned ? -covariance(0, 1) : covariance(0, 1);
    out.Valid = std::isfinite(out.OffsetVariance) && std::isfinite(out.AngleVariance) && FContrast > 0;
    return out;
}

TFittedLine TFitter::Run()
{
    TEvaluation current;
    const int rounds = FRequest.Rough ? RoughRounds : FRequest.Warm ? WarmRounds : Rounds;
    const int steps = FRequest.Rough ? RoughStepsPerRound : StepsPerRound;
    for (int round = 0; round < rounds; ++round) {
        const double blurFloor =
            std::max(FBilevel ? BilevelBlur : MinBlur, FRequest.Warm ? 0.0 : std::ldexp(FirstBlurFloor, -round));
        FState.Q[3] = std::max(FState.Q[3], blurFloor);
        const TState before = FState;
        std::vector<bool> flags;
        for (const TBinState& bin : FBins)
            flags.push_back(bin.Geometry);
        Select(round == 0 && !FRequest.Warm);
        if (FPixels.size() < 8)
            return {};
        current = Evaluate(FState, true);
        if (FRobust) {
            Reweigh(current);
            current = Evaluate(FState, true);
        }
        double damping = 1e-3;
        for (int step = 0; step < steps; ++step) {
            TMatrix4 system = current.Normal;
            for (int k = 0; k < 4; ++k)
                system(k, k) += damping * std::max(current.Normal(k, k), 1e-12);
            TVector4 delta = system.ldlt().solve(current.Gradient);
            if (!delta.allFinite())
                break;
            // Width and blur change by half their value at most: a bold step
            // lands on a bound, and from a hairline's width no slope leads
            // back (its width and its ink trade against each other).
            delta[2] = std::clamp(delta[2], -0.5 * FState.Width(), 0.5 * FState.Width() + 0.3);
            delta[3] = std::clamp(delta[3], -0.5 * FState.Blur(), 0.5 * FState.Blur() + 0.2);
            TState trial = FState;
            trial.Q += delta;
            trial.Q[2] = std::clamp(trial.Q[2], MinWidth, MaxWidth);
            trial.Q[3] = std::clamp(trial.Q[3], blurFloor, MaxBlur);
            TEvaluation next = Evaluate(trial, true);
            if (next.Cost < current.Cost) {
                const bool settled = std::fabs(delta[0]) < 1e-5 && std::fabs(delta[1]) < 1e-7;
                FState = trial;
                current = std::move(next);
                damping = std::max(damping / 3, 1e-7);
                if (settled)
                    break;
            } else {
                damping *= 4;
                if (damping > 1e6)
                    break;
            }
        }
        UpdateBins(current);
        Reweigh(current);
        bool same = round > 0 && flags.size() == FBins.size();
        for (size_t b = 0; same && b < FBins.size(); ++b)
            same = flags[b] == FBins[b].Geometry;
        const double reach = std::min(FRequest.Reach, 0.5 * (FWindow.Width + FWindow.Height));
        if (same && std::fabs(FState.Offset() - before.Offset()) < Settled &&
            std::fabs(FState.Angle() - before.Angle()) * reach < Settled)
            break;
    }
    TMatrix4 errorNormal;
    const bool blurred = FState.Blur() < FRequest.ErrorBlur;
    if (blurred) {
        TState softer = FState;
        softer.Q[3] = FRequest.ErrorBlur;
        errorNormal = Evaluate(softer, true).Normal;
    }
    current = Evaluate(FState, true);
    if (blurred)
        current.Normal = errorNormal;
    return Result(current);
}

} // namespace

TFittedLine FitLine(const TDarknessWindow& window, const TLineFitRequest& request, double noise, bool bilevel)
{
    return TFitter(window, request, noise, bilevel).Run();
}
