#include "analysis/feature_snap.h"

#include "analysis/darkness_window.h"
#include "analysis/line_fit.h"
#include "analysis/line_profile.h"
#include "analysis/line_seeds.h"
#include "platform/bitmap.h"
#include "platform/exceptions.h"

#include <Eigen/Dense>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// Each arm is judged over this length beyond the other line, and the window
// reaches that far beyond the radius.
constexpr double ArmReach = 24;
// Ink an arm needs within ArmReach to count as present, pixels.
constexpr double MinArmInk = 10;
// The length a dashed line's gaps are looked for over, and the least gap
// that is a dashes' gap, pixels.
constexpr double DashReach = 2 * ArmReach;
constexpr double MinDashGap = 3;
// A line that ends at the feature has one arm only, which must be longer.
constexpr double MinLoneArmInk = 14;
// An arm that is the only one of its line must start this close to the
// other line: two lines that merely point at each other make no corner.
constexpr double CornerGap = 4;
// How much farther a lone arm's ink may start and its line still count as
// meeting the other (an end a letter or a fold spoilt), pixels.
constexpr double SpoiltEnd = 2;
// The farthest a lone arm's ink may start, pixels, for lines crossing its
// start to have hidden it (its pair then meets, though unmeasured).
constexpr double HiddenStart = ArmReach / 2;
// How far along each line a junction's fits reach from it, pixels; and
// the shorter reach a bent line is measured again over.
constexpr double FullReach = ArmReach + 16;
constexpr double ShortReach = 20;
constexpr double MinCrossingAngle = 45 * M_PI / 180;
// Two pieces of a curve meet at more than this angle (closer, they are one
// line fitted twice).
constexpr double MinPieceAngle = 4 * M_PI / 180;
// Snaps less certain than this are not trusted (a pixel is three of them);
// a crossing, whose lines are each measured on both sides of it, a little
// less certain than a corner, whose lines are extrapolated to it.
constexpr double MaxSigma = 0.3;
constexpr double MaxCrossingSigma = 0.35;
// Two features whose distances from the position differ by less than this
// make the click ambiguous.
constexpr double AmbiguityMargin = 2;
// Two lines that seem to meet nearer to the click than the feature found,
// by more than this, but that could not be measured, may be the feature
// meant (whose line a river or a letter spoilt), pixels.
constexpr double FailedMargin = 0;
// Two features closer together than this make any click between them
// unsure, pixels.
constexpr double CloseFeatures = 4;
// How far a crossing of two rough lines may lie from the measured one.
constexpr double RoughError = 1.5;
// A measured junction farther than this from the crossing of its rough
// lines is another line's, pixels.
constexpr double SlidAway = 2 * RoughError;
// A line passing within this of a feature adds up to this much to its
// standard error, pixels.
constexpr double NeighbourReach = 6;
constexpr double NeighbourPull = 0.15;
// A corner's lines end at it and are extrapolated to it through the
// neighbour's flank: a neighbour inked within twice the reach along it, off
// the corner's lines, and more than this angle across both, pulls up to
// this much.
constexpr double CornerNeighbourPull = 0.3;
constexpr double NeighbourAngle = 5 * M_PI / 180;
// Beyond a T's bar, ink this much of its stem's where the stem's own curve
// drawn on lies, over this share of this length: the stem is a curve going
// on across the bar.
constexpr double GoOnInk = 0.4;
constexpr double GoOnShare = 0.6;
constexpr double GoOnLength = 14;
// The radii of the bends, pixels, along which a stem is drawn on beyond its
// bar besides its own parabola's: contours and rivers of a sheet curve so.
constexpr double GoOnRadii[] = {300, 150, 80, 50, 30};
// A rough fit this far off a line's direction may still be that line,
// which its full fit brings onto it.
constexpr double OwnLineAngle = 12 * M_PI / 180;
// Two pairs of lines that measure a feature this close are one pair, the
// lines of one of them seeded twice, pixels.
constexpr double SameFit = 0.05;
// A fit with less than this share of the contrast of a feature's lines is
// no line the click may have meant beside them.
constexpr double FaintShare = 0.2;
// Positions closer than this are one feature found twice.
constexpr double SameFeature = 1;
constexpr int MaxSeeds = 8;
// The lines seeded when the strongest make no feature near the click.
constexpr int MoreSeeds = 16;
// A fit more blurred than this has found a smudge, not a line. (Its width
// says little: a hairline's width and ink trade against each other.)
constexpr double MaxLineBlur = 2.2;
// Lines within this angle and distance of each other run alongside.
constexpr double AlongsideAngle = 2.5 * M_PI / 180;
constexpr double AlongsideDistance = 14;
// Lines closer than this in angle and offset are one line found twice.
constexpr double SameLineAngle = 1.5 * M_PI / 180;
constexpr double SameLineOffset = 1.5;
// Two fits alongside whose inks lie closer than this (pixels) may be the
// two edges of one line.
constexpr double EdgesGap = 0.5;
// Wider than this (pixels), a line fitted over both is more likely two lines
// alongside, which the blur merged.
constexpr double MaxEdgesWidth = 5.5;
// A bent line (a contour) moves its middle by more than this against its
// ends, over the length fitted, pixels; and by more than this many errors.
constexpr double MaxSagitta = 0.25;
constexpr double SagittaErrors = 4;
// A bent line is measured again over a shorter length only when its inked
// bins span this much of each side and it curves no tighter than this
// radius, pixels: a graticule curving across the sheet, not a contour.
constexpr double GentleSpan = 30;
constexpr double GentleRadius = 1000;
// A line's bins may stand off it by this many squared errors on average,
// and their ink differ from the middle by this share (for half of them).
constexpr double MaxShiftSquares = 9;
constexpr double MaxInkSpread = 0.45;
// How well a line's width and blur are known before it is fitted, pixels:
// a pen's width and a scanner's blur are never exact, nor wholly unknown.
constexpr double ShapePrior = 0.5;
// How far the centre of a line's ink may stand from the model's centre, as
// a share of its half-width and blur, for a misfit as large as the line's
// darkness.
constexpr double MisfitShare = 0.7;
// The least blur a line's errors are worked out with, pixels: a sharper
// profile than the pixels can tell lets a hairline's position slide.
constexpr double ErrorBlur = 0.3;
// Deviation of the smoothing of a bilevel window, pixels.
constexpr double BilevelSmoothing = 0.6;
// The darkness of black ink on white paper, the most any ink can be.
constexpr double MaxInkDarkness = 255;
// A profile blurred less than this holds more detail than the pixels sample.
constexpr double SharpBlur = 0.5;
// How far a wider line's centre may lie from such a hairline's, in its
// sampled centroid's offsets.
constexpr double SharpLineSlide = 2;
// A fit wider than this, and than this many times the other line's width
// and its blur, may hold two inks that the blur merged (a line and another
// alongside it, or a curve running into it), pixels.
constexpr double TwoInkWidth = 4.5;
constexpr double TwoInkWider = 1.8;
// It does when its cross-section shows two ridges at least this far apart
// (pixels) with a valley between them deeper than this share of the lower
// ridge's ink, or differs from its mirror image by more than this share of
// its ink.
constexpr double TwoInkRidges = 1.5;
constexpr double TwoInkValley = 0.1;
constexpr double TwoInkAsymmetry = 0.15;

// A line whose ink stops within this of a junction on both sides, with
// this much bare paper beyond, is a piece of a curve leaving the strip it
// was fitted in (or a stroke), not a printed line running on, pixels.
constexpr double PieceLength = 30;
constexpr double PieceBare = 8;
// The ink along a line is read over this much beside its strip's middle
// (and half its width), pixels, with lines at this angle across it or more
// left out; bins holding less than this share of the typical bin's ink
// hold none of the line. Its middle bends when its parabola moves the
// middle by more than this against the ends (pixels: a printed straight
// line moves by a tenth), by more than this many errors.
constexpr double BendsStrip = 5;
constexpr double BendsAcross = MinCrossingAngle;
constexpr double BendsInk = 0.4;
constexpr double BendsSagitta = 0.6;
constexpr double BendsErrors = 4;
// A line curves, for a feature beside one of straight lines, when its bins'
// parabola moves its middle by more than this against its ends, pixels,
// by more than this many errors: less than a line is refused as bent for,
// but far more than a printed straight line shows.
constexpr double CurveSagitta = 0.15;
constexpr double CurveErrors = 2.5;

// A line that ends at one line of a feature may point on at a line running
// beside that one: halfway between the two, its centre darker than the
// paper beside it by less than this share of the ink it would add there is
// bare, and it does not reach the farther line. That ink must stand above
// this many times the noise, and be this share of the line's own at least
// (the two lines' blurred edges darken the paper between them, and a line
// laid over them darkens them less).
constexpr double BareShare = 0.3;
constexpr double GapNoises = 3;
constexpr double MinGapShare = 0.15;
// Lines this near in direction run beside each other for that test; an arm
// this near in direction leaves a feature towards a place, degrees.
constexpr double BesideAngle = 8 * M_PI / 180;
constexpr double ArmTurn = 10;

struct TPoint {
    double X = 0, Y = 0;
};

double Distance(TPoint a, TPoint b)
{
    return std::hypot(a.X - b.X, a.Y - b.Y);
}

std::optional<TPoint> Intersect(const TStraightLine& a, const TStraightLine& b)
{
    const double ca = std::cos(a.NormalAngle), sa = std::sin(a.NormalAngle);
    const double cb = std::cos(b.NormalAngle), sb = std::sin(b.NormalAngle);
    const double det = ca * sb - sa * cb;
    if (std::fabs(det) < std::sin(MinCrossingAngle) - 1e-9)
        return std::nullopt;
    return TPoint {(a.Distance * sb - b.Distance * sa) / det, (ca * b.Distance - cb * a.Distance) / det};
}

// Ink and blur of a fitted line and a margin: the band another fit leaves out.
TBandMask BandOf(const TFittedLine& line)
{
    return {line.Line, 0.5 * line.Width + 2 * line.Blur + 1.5};
}

bool SameLine(const TFittedLine& a, const TFittedLine& b, TPoint near)
{
    double da = std::fabs(a.Line.NormalAngle - b.Line.NormalAngle);
    const bool opposite = da > M_PI / 2;
    if (opposite)
        da = M_PI - da;
    auto offset = [&](const TStraightLine& l) {
        return l.Distance - near.X * std::cos(l.NormalAngle) - near.Y * std::sin(l.NormalAngle);
    };
    const double dd = opposite ? offset(a.Line) + offset(b.Line) : offset(a.Line) - offset(b.Line);
    return da < SameLineAngle && std::fabs(dd) < SameLineOffset;
}

int InkedBins(const TFittedLine& line)
{
    return static_cast<int>(
        std::count_if(line.Bins.begin(), line.Bins.end(), [](const TLineBin& b) { return b.Inked; }));
}

// Of two fits to one line, the one with more ink, or with as much and
// closer to its pixels (two lines alongside fitted as one miss theirs).
bool Better(const TFittedLine& a, const TFittedLine& b)
{
    const int inkA = InkedBins(a), inkB = InkedBins(b);
    if (std::abs(inkA - inkB) > std::max(inkA, inkB) / 5)
        return inkA > inkB;
    return a.ResidualScale < b.ResidualScale;
}

bool UsableLine(const TFittedLine& line)
{
    return line.Valid && InkedBins(line) * LineBinLength >= MinArmInk && line.Blur <= MaxLineBlur;
}

// One side of a line from a feature.
struct TArm {
    double Ink = 0; // pixels
    bool Present = false;
    bool ReachesFeature = false;
    double Start = 0; // where its ink starts beyond the other line, pixels
    double LongestGap = 0;
    // Ink within ArmReach and a dashes' gap more, pixels.
    double LoneInk = 0;
};

// The side (-1 or 1) of a line beyond the feature at centre (along the
// line from its fit's origin), whose first `exclusion` pixels the other
// line covers.
TArm JudgeArm(const TFittedLine& line, double centre, int side, double exclusion)
{
    std::vector<double> inked; // distances of the inked bins beyond the exclusion
    for (const TLineBin& b : line.Bins) {
        const double from = side * (b.Along - centre) - exclusion;
        if (from >= 0 && from < DashReach && b.Inked)
            inked.push_back(from);
    }
    std::sort(inked.begin(), inked.end());
    // A dashed line's gaps show over a longer length than the arm is judged
    // on: its first dash may fill all of that.
    double longestGap = 0;
    for (size_t k = 0; k + 1 < inked.size(); ++k)
        longestGap = std::max(longestGap, inked[k + 1] - inked[k] - LineBinLength);
    auto inkWithin = [&](double reach) {
        return std::count_if(inked.begin(), inked.end(), [&](double from) { return from < reach; }) * LineBinLength;
    };
    TArm arm;
    arm.Ink = inkWithin(ArmReach);
    // A lone arm is judged over a gap more, so that a gap costs it no ink.
    arm.LoneInk = inkWithin(ArmReach + (longestGap >= MinDashGap ? longestGap : 0));
    arm.Present = arm.Ink >= MinArmInk;
    // A dashed line may meet the other in a gap between its dashes.
    arm.ReachesFeature = !inked.empty() && inked.front() < CornerGap + longestGap;
    arm.Start = inked.empty() ? ArmReach : inked.front();
    arm.LongestGap = longestGap;
    return arm;
}

// Where the ink of one side (-1 or 1) of a line beyond the feature at
// centre stops, pixels beyond `exclusion`, with PieceBare of bare strip
// after it (dashes' gaps are shorter); infinite when it runs on to the end
// of the strip or the strip is not seen there.
double InkEnd(const TFittedLine& line, double centre, int side, double exclusion)
{
    // Distances of the bins beyond the exclusion that are inked, or seen
    // bare (not mostly left out by the masks).
    std::vector<std::pair<double, bool>> seen;
    for (const TLineBin& b : line.Bins) {
        const double from = side * (b.Along - centre) - exclusion;
        if (from >= 0 && (b.Inked || b.Pixels > 2 * b.Masked))
            seen.push_back({from, b.Inked});
    }
    std::sort(seen.begin(), seen.end());
    double last = 0;
    for (const auto& [from, inked] : seen) {
        if (from - last > PieceBare + LineBinLength)
            return last;
        if (inked)
            last = from;
    }
    return !seen.empty() && seen.back().first - last >= PieceBare ? last : INFINITY;
}

// How far along `line` from a crossing with `other` the other's band (as a
// fit leaves it out) reaches into the line's strip.
double Exclusion(const TFittedLine& line, const TFittedLine& other)
{
    const double sine = std::fabs(std::sin(line.Line.NormalAngle - other.Line.NormalAngle));
    const double cosine = std::fabs(std::cos(line.Line.NormalAngle - other.Line.NormalAngle));
    return BandOf(other).HalfWidth / sine + (0.5 * line.Width + line.Blur) * cosine / sine;
}

double AlongAt(const TFittedLine& line, TPoint origin, TPoint p)
{
    return -std::sin(line.Line.NormalAngle) * (p.X - origin.X) + std::cos(line.Line.NormalAngle) * (p.Y - origin.Y);
}

// The parabola through the shifts of a line's bins (those inked, not
// standing apart, on the sides used): its square term and that term's
// error, and half the span of the bins along the line; nothing for fewer
// than five bins.
struct TBinParabola {
    double Curvature = 0;
    double Error = 0;
    double HalfSpan = 0;
    Eigen::Vector3d Coefficients = Eigen::Vector3d::Zero(); // of 1, along, along squared
};

std::optional<TBinParabola> FitBinParabola(const TFittedLine& line, bool before, bool after)
{
    Eigen::Matrix3d normal = Eigen::Matrix3d::Zero();
    Eigen::Vector3d right = Eigen::Vector3d::Zero();
    double low = INFINITY, high = -INFINITY;
    int count = 0;
    auto used = [&](const TLineBin& b) {
        return b.Inked && !b.Outlier && b.ShiftError > 0 && (b.Along < 0 ? before : after);
    };
    for (const TLineBin& b : line.Bins)
        if (used(b)) {
            const Eigen::Vector3d f(1, b.Along, b.Along * b.Along);
            const double w = 1 / (b.ShiftError * b.ShiftError);
            normal += w * f * f.transpose();
            right += w * f * b.Shift;
            low = std::min(low, b.Along);
            high = std::max(high, b.Along);
            ++count;
        }
    if (count < 5)
        return std::nullopt;
    const Eigen::Matrix3d inverse = normal.inverse();
    const Eigen::Vector3d fit = inverse * right;
    double chi2 = 0;
    for (const TLineBin& b : line.Bins)
        if (used(b)) {
            const double r = b.Shift - fit[0] - fit[1] * b.Along - fit[2] * b.Along * b.Along;
            chi2 += r * r / (b.ShiftError * b.ShiftError);
        }
    return TBinParabola {fit[2], std::sqrt(inverse(2, 2) * std::max(1.0, chi2 / (count - 3))), 0.5 * (high - low), fit};
}

// Whether the bins of a line bend away from the straight line fitted to
// them: the parabola through their shifts, with its error.
// gentle: the bend is a long, slow curve (a graticule curving across the
// sheet) whose ink stays in the strip over its whole length, not a contour
// that leaves it within a few dozen pixels.
bool Bent(const TFittedLine& line, bool* gentle = nullptr, bool before = true, bool after = true)
{
    if (gentle)
        *gentle = false;
    const std::optional<TBinParabola> p = FitBinParabola(line, before, after);
    if (!p)
        return false;
    const double curvature = std::fabs(p->Curvature);
    const bool bent = curvature > SagittaErrors * p->Error && curvature * p->HalfSpan * p->HalfSpan > MaxSagitta;
    if (gentle)
        *gentle = bent && p->HalfSpan >= GentleSpan && curvature <= 0.5 / GentleRadius;
    return bent;
}

// Whether the bins of a line curve more than a printed straight line does,
// though less than Bent refuses it for: a piece of a gentle curve (a contour
// or a river of a few hundred pixels' radius).
bool Curving(const TFittedLine& line, bool before, bool after)
{
    const std::optional<TBinParabola> p = FitBinParabola(line, before, after);
    return p && std::fabs(p->Curvature) > CurveErrors * p->Error &&
        std::fabs(p->Curvature) * p->HalfSpan * p->HalfSpan > CurveSagitta;
}

// Whether a fitted line is not one printed line: its bins stand off the
// straight line by more than their errors say (a row of letters, a wavy
// contour), or carry ink unevenly (blobs strung along a line).
bool Ragged(const TFittedLine& line, bool before = true, bool after = true)
{
    std::vector<double> amplitudes;
    double squares = 0;
    int measured = 0;
    for (const TLineBin& b : line.Bins) {
        if (!b.Inked || b.Outlier || !(b.Along < 0 ? before : after))
            continue;
        amplitudes.push_back(b.Amplitude);
        if (b.ShiftError > 0) {
            squares += (b.Shift / b.ShiftError) * (b.Shift / b.ShiftError);
            ++measured;
        }
    }
    if (amplitudes.empty())
        return true;
    std::nth_element(amplitudes.begin(), amplitudes.begin() + amplitudes.size() / 2, amplitudes.end());
    const double middle = amplitudes[amplitudes.size() / 2];
    std::vector<double> spread;
    for (const double a : amplitudes)
        spread.push_back(std::fabs(a / middle - 1));
    std::nth_element(spread.begin(), spread.begin() + spread.size() / 2, spread.end());
    return (measured > 0 && squares / measured > MaxShiftSquares) || spread[spread.size() / 2] > MaxInkSpread;
}

// How many times more the bins' own centres scatter about the fitted line
// than their errors say (1 at least): a wavy pen, JPEG blocks or scanner
// streaks move the line as a whole by as much more than the pixels' noise
// alone would.
double ScatterRatio(const TFittedLine& line, bool before, bool after)
{
    Eigen::Matrix2d normal = Eigen::Matrix2d::Zero();
    Eigen::Vector2d right = Eigen::Vector2d::Zero();
    int count = 0;
    auto used = [&](const TLineBin& b) {
        return b.Inked && !b.Outlier && b.ShiftError > 0 && (b.Along < 0 ? before : after);
    };
    for (const TLineBin& b : line.Bins)
        if (used(b)) {
            const Eigen::Vector2d f(1, b.Along);
            const double w = 1 / (b.ShiftError * b.ShiftError);
            normal += w * f * f.transpose();
            right += w * f * b.Shift;
            ++count;
        }
    if (count < 4 || normal.determinant() <= 0)
        return 1;
    const Eigen::Vector2d fit = normal.inverse() * right;
    double chi2 = 0;
    for (const TLineBin& b : line.Bins)
        if (used(b)) {
            const double r = (b.Shift - fit[0] - fit[1] * b.Along) / b.ShiftError;
            chi2 += r * r;
        }
    return std::max(1.0, chi2 / (count - 2));
}

// The error of a line's centre that no residual shows: where the pixels
// miss the model (a profile darker on one edge, JPEG's ringing, ink that
// spreads), the centre the model finds and the middle of the ink differ by
// up to a share of the line's half-width, in proportion to the misfit
// beyond the noise.
double ProfileMisfit(const TFittedLine& line, double noise)
{
    const double peak = line.Contrast * TLineProfile(line.Width, std::max(line.Blur, 0.3), 0).At(0).Value;
    if (!(peak > 0))
        return 0;
    const double misfit = std::sqrt(std::max(0.0, line.ResidualScale * line.ResidualScale - noise * noise));
    return MisfitShare * std::min(1.0, misfit / peak) * (0.5 * line.Width + line.Blur);
}

// A bilevel scan puts each edge of a line on a whole pixel: the centre is
// off by a variance of 1/24 pixel squared, which averages out only as the
// line's steps pass through every phase of the pixels, once per pixel of
// sideways travel along its inked length.
double StaircaseVariance(const TFittedLine& line)
{
    const double c = std::fabs(std::cos(line.Line.NormalAngle)), s = std::fabs(std::sin(line.Line.NormalAngle));
    const double travel = InkedBins(line) * LineBinLength * std::min(c, s);
    return 1.0 / 24 / (1 + travel);
}

// A sharp line fitted darker than any ink can be (a pixel wholly covered by
// it would be darker than black) is a hairline profile standing in for a
// wider line: its few pixels across say no more of which of the two it is.
// Where the pixels sample it evenly on its two sides, both have one centre;
// where unevenly, the wider line's lies beyond the samples' centroid from
// the hairline's, about as far again. (A blurred profile is sampled finely
// enough for its centre to hold whatever its width.)
double SharpLineVariance(const TFittedLine& line)
{
    if (!(line.Contrast > MaxInkDarkness && line.Blur < SharpBlur))
        return 0;
    return std::pow(SharpLineSlide * line.SampledCentroid, 2);
}

double Trusted(const TSnappedFeature& feature)
{
    return feature.Kind == TFeatureKind::Crossing ? MaxCrossingSigma : MaxSigma;
}

double ArmDirection(const TStraightLine& line, int side)
{
    // Along the line: (-sin, cos) of the normal angle, in degrees.
    double degrees = std::atan2(side * std::cos(line.NormalAngle), -side * std::sin(line.NormalAngle)) * 180 / M_PI;
    return degrees < 0 ? degrees + 360 : degrees;
}

class TSnapper {
public:
    TSnapper(const TDarknessWindow& window, TPoint click, const TSnapOptions& options, bool bilevel)
        : FWindow(window), FClick(click), FOptions(options), FNoise(NoiseLevel(window)), FBilevel(bilevel)
    {
    }
    // For a second run: the lines `first` seeded are seeded again, and with
    // them the strongest lines of the window with those taken out.
    struct TBeyond {};
    TSnapper(const TSnapper& first, TBeyond)
        : FWindow(first.FWindow), FClick(first.FClick), FOptions(first.FOptions), FNoise(first.FNoise),
          FBilevel(first.FBilevel), FSeeded(first.FSeeded), FBeyond(true)
    {
    }

    std::optional<TSnappedFeature> Run();
    // Whether the last run measured no feature at all near the click.
    bool FoundNothing() const { return FFoundNothing; }

private:
    struct TCandidate {
        TSnappedFeature Feature; // in window coordinates
        double Distance = 0;
        size_t Lines[2] = {0, 0};
        // Every line a pair that measured this feature holds: its lines as
        // seeded more than once (a rough fit a few degrees off that the full
        // fit brought onto the line).
        std::vector<size_t> Own;
        bool Owns(size_t k) const { return std::find(Own.begin(), Own.end(), k) != Own.end(); }
        // A T whose stem's ink goes on beyond its bar (GoesOnBeyond).
        bool GoesOn = false;
        // One of its lines is inked only within PieceLength of it, either
        // side, or curves (Curving): a curve passing a line, not a crossing
        // of printed lines.
        bool Curve = false;
        // A line of it is inked only within PieceLength of it.
        bool Piece = false;
    };
    struct TLinePair {
        size_t First, Second;
        TPoint At;
    };

    TFittedLine Fit(const TFittedLine& start, TPoint origin, std::vector<TBandMask> masks, bool rough, double reach,
        bool before = true, bool after = true, bool warm = false, bool stepped = false) const;
    void FindLines();
    // The feature the lines found make, the pieces of curves left out or not.
    std::optional<TSnappedFeature> Answer(bool leaveCurves);
    std::vector<TBandMask> Alongside(
        const TFittedLine& line, const std::vector<TFittedLine>& lines, bool overlapping = false) const;
    bool MayJoin(size_t i, size_t j, TPoint at) const;
    // Two rough fits on the two edges of one wide line whose ink fills the
    // strip between them (a sharp bar that each fit took a side of, leaving
    // the other's pixels): that line fitted whole, if it fits.
    // (lines: those found, a and b among them.)
    std::optional<TFittedLine> OneWideLine(
        const TFittedLine& a, const TFittedLine& b, const std::vector<TFittedLine>& lines, double reach) const;
    // Whether lines i and j are two straight pieces of one curve (a contour
    // or a river seeded piecewise): they meet at a small angle, each inked
    // up to their meeting on one side of it and bare beyond it, the one
    // going on where the other stops.
    bool CurvePieces(size_t i, size_t j) const;
    // Whether the ink along line k (a rough fit) bends as a contour or a
    // river does: the middle of the ink across its strip, bin by bin, read
    // from the pixels, moves along a parabola off the line. (A sharp
    // curve's bins show no shift in the fit: where its ink leaves the fit's
    // profile the fit gives it no weight.)
    // (leave: lines whose ink is left out at any angle, the answer's own.)
    bool InkBends(size_t k, const size_t* leave = nullptr, size_t leaveCount = 0) const;
    // Whether ink goes on beyond the bar of a T where the stem's own curve
    // (the parabola through its bins) leads: a curve crossing the bar, not a
    // line ending there.
    bool GoesOnBeyond(const TFittedLine& stem, const TFittedLine& bar, TPoint origin, TPoint at, int armSide) const;
    // Whether a wide fit of a line has taken in two inks side by side: its
    // cross-section, over the inked bins of the sides used beyond the
    // exclusion, the bands of the other lines left out, has two ridges.
    bool TwoInks(const TFittedLine& line, const TFittedLine& other, TPoint origin, TPoint at, const bool sides[2],
        double exclusion, const std::vector<TBandMask>& masks) const;
    // Whether `line` stops at `nearLine` short of `farLine`, a line beside
    // it: between the two, where `line` drawn on would cross to the
    // farther, its centre is bare paper (BareShare).
    bool StopsShort(const TFittedLine& line, const TFittedLine& nearLine, const TFittedLine& farLine) const;
    // Whether corner `c` is where one of its lines only points at the
    // other: that line leaves c towards feature `near` alone, and stops
    // short of c at near's other line, which runs beside c's (a T's stem
    // that ends at its bar, pointing on at a line beside the bar).
    bool PointsPast(const TCandidate& c, const TCandidate& near) const;
    // Whether corner `c` lies well away from the click on a line of it that
    // runs on, inked, from c towards the click, where c has no arm: the
    // line crosses c's other line short of its end, and the feature meant
    // lies where it ends, nearer the click (a third line crossing the arm
    // of an L a few pixels from its corner).
    bool RunsOnToClick(const TCandidate& c) const;
    // Whether line s of `feature`, which has no arm towards `there`, stops
    // short of line k crossing it there at the feature's other line a, k
    // running beside a.
    bool EndsBefore(const TSnappedFeature& feature, size_t s, size_t a, size_t k, TPoint there) const;
    // How much of the first `start` pixels of one side (-1 or 1) of a line
    // beyond the feature at `at` (past `exclusion`) no other line's band
    // covers: the bare paper before its ink begins.
    double BareStart(const TFittedLine& line, TPoint origin, TPoint at, int side, double exclusion, double start,
        const std::vector<TFittedLine>& others) const;
    // Whether fit k, none of `best`'s lines, lies where its full fit met at
    // `at` between two lines found beside it, one of them best's: a fit
    // across both, which the blur merged.
    bool OverTwoLines(size_t k, TPoint at, const TCandidate& best) const;
    // meets: whether both lines have ink at the junction (false when one
    // of them turns out to pass it by without an arm there).
    // bent: whether a line of the pair turned out bent over `reach`.
    // uncertain: whether a corner asked for was measured, but less certain
    // than trusted.
    // stepped: the lines are fitted on a ground that steps across them.
    // measured: where the full fits of the pair crossed, when they did;
    // bentLine: the line of the pair refused as bent, if one was.
    std::optional<TCandidate> Junction(const TLinePair& pair, double reach, bool& meets, bool& bent, bool& uncertain,
        bool stepped = false, std::optional<TPoint>* measured = nullptr,
        std::optional<size_t>* bentLine = nullptr, bool* twoInks = nullptr, bool* unfit = nullptr,
        bool* hidden = nullptr) const;

    const TDarknessWindow& FWindow;
    TPoint FClick;
    TSnapOptions FOptions;
    double FNoise;
    bool FBilevel;
    // The seeds' lines with their half-widths; whether to seed beyond them.
    std::vector<TBandMask> FSeeded;
    bool FBeyond = false;
    bool FFoundNothing = false;
    std::vector<TFittedLine> FLines; // rough fits, origins at the foot of the click
    std::vector<TPoint> FOrigins;
    // Lines found to be pieces of a curve, whose T's are looked past first.
    std::vector<bool> FCurve;
};

TFittedLine TSnapper::Fit(const TFittedLine& start, TPoint origin, std::vector<TBandMask> masks, bool rough,
    double reach, bool before, bool after, bool warm, bool stepped) const
{
    TLineFitRequest request;
    request.OriginX = origin.X;
    request.OriginY = origin.Y;
    request.Start = start.Line;
    request.Width = start.Width;
    request.Blur = start.Blur;
    request.Masks = std::move(masks);
    request.UseBefore = before;
    request.UseAfter = after;
    request.Reach = reach;
    request.Rough = rough;
    request.Warm = warm;
    request.SteppedGround = stepped;
    request.ShapePrior = ShapePrior;
    request.ErrorBlur = ErrorBlur;
    return FitLine(FWindow, request, FNoise, FBilevel);
}

// The lines near the click, each found once: seeds from the accumulator,
// roughly fitted from the foot of the click on them; a line with another
// alongside is fitted again with the pixels nearer that one left out.
void TSnapper::FindLines()
{
    const double reach = FOptions.Radius + ArmReach + 8;
    struct TFound {
        TFittedLine Line;
        TPoint Foot;
    };
    std::vector<TFound> found;
    std::vector<TFittedLine> valid, seeds;
    std::vector<TLineSeed> seeded = FindLineSeeds(FWindow, FClick.X, FClick.Y, FOptions.Radius + 6, FNoise, MaxSeeds);
    if (FBeyond) {
        // The window with the first seeds' lines painted over in the
        // paper's darkness: what is left seeds the weaker lines.
        TDarknessWindow rest = FWindow;
        std::vector<float> sorted = rest.Values;
        std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
        const float paper = sorted[sorted.size() / 2];
        for (int y = 0; y < rest.Height; ++y)
            for (int x = 0; x < rest.Width; ++x)
                for (const TBandMask& band : FSeeded)
                    if (std::fabs(std::cos(band.Line.NormalAngle) * x + std::sin(band.Line.NormalAngle) * y -
                            band.Line.Distance) <= band.HalfWidth) {
                        rest.Values[static_cast<size_t>(y) * rest.Width + x] = paper;
                        break;
                    }
        for (const TLineSeed& seed :
            FindLineSeeds(rest, FClick.X, FClick.Y, FOptions.Radius + 6, FNoise, MoreSeeds - MaxSeeds))
            seeded.push_back(seed);
    }
    for (const TLineSeed& seed : seeded) {
        TFittedLine start;
        start.Line = seed.Line;
        start.Width = std::clamp(seed.Width, 1.0, 6.0);
        start.Blur = 1;
        seeds.push_back(start);
        if (!FBeyond)
            FSeeded.push_back({seed.Line, 0.5 * start.Width + 1.5});
    }
    for (const TFittedLine& start : seeds) {
        const double c = std::cos(start.Line.NormalAngle), s = std::sin(start.Line.NormalAngle);
        const double off = start.Line.Distance - c * FClick.X - s * FClick.Y;
        const TPoint foot {FClick.X + c * off, FClick.Y + s * off};
        TFittedLine line = Fit(start, foot, Alongside(start, seeds), true, reach);
        if (!line.Valid)
            line = start;
        else if (UsableLine(line))
            valid.push_back(line);
        found.push_back({std::move(line), foot});
    }
    for (size_t i = 0; i < found.size(); ++i)
        for (size_t j = i + 1; j < found.size(); ++j) {
            if (std::optional<TFittedLine> wide = OneWideLine(found[i].Line, found[j].Line, valid, reach)) {
                const double c = std::cos(wide->Line.NormalAngle), s = std::sin(wide->Line.NormalAngle);
                const double off = wide->Line.Distance - c * FClick.X - s * FClick.Y;
                found[i] = {std::move(*wide), {FClick.X + c * off, FClick.Y + s * off}};
                found.erase(found.begin() + static_cast<std::ptrdiff_t>(j));
                valid.clear();
                for (const TFound& f : found)
                    if (UsableLine(f.Line))
                        valid.push_back(f.Line);
                --j;
            }
        }
    for (TFound& f : found) {
        std::vector<TBandMask> alongside = Alongside(f.Line, valid);
        if (!alongside.empty()) {
            TFittedLine again = Fit(f.Line, f.Foot, std::move(alongside), true, reach);
            if (again.Valid)
                f.Line = std::move(again);
        }
        if (!f.Line.Valid || !UsableLine(f.Line))
            continue;
        const auto same = std::find_if(
            FLines.begin(), FLines.end(), [&](const TFittedLine& l) { return SameLine(l, f.Line, FClick); });
        if (same == FLines.end()) {
            FLines.push_back(f.Line);
            FOrigins.push_back(f.Foot);
            if (!FBeyond)
                FSeeded.push_back(BandOf(f.Line));
        } else if (Better(f.Line, *same)) {
            *same = f.Line;
            FOrigins[same - FLines.begin()] = f.Foot;
        }
    }
}

std::optional<TFittedLine> TSnapper::OneWideLine(
    const TFittedLine& a, const TFittedLine& b, const std::vector<TFittedLine>& lines, double reach) const
{
    if (!UsableLine(a) || !UsableLine(b))
        return std::nullopt;
    double da = std::fabs(a.Line.NormalAngle - b.Line.NormalAngle);
    const bool opposite = da > M_PI / 2;
    if ((opposite ? M_PI - da : da) > AlongsideAngle)
        return std::nullopt;
    auto offset = [&](const TStraightLine& l) {
        return l.Distance - FClick.X * std::cos(l.NormalAngle) - FClick.Y * std::sin(l.NormalAngle);
    };
    const double offsetA = offset(a.Line), offsetB = opposite ? -offset(b.Line) : offset(b.Line);
    const double apart = std::fabs(offsetA - offsetB);
    if (apart < SameLineOffset || apart - 0.5 * (a.Width + b.Width) > EdgesGap + 0.5 * (a.Blur + b.Blur))
        return std::nullopt;
    std::vector<TFittedLine> others;
    for (const TFittedLine& l : lines)
        if (!(l.Line.Distance == a.Line.Distance && l.Line.NormalAngle == a.Line.NormalAngle) &&
            !(l.Line.Distance == b.Line.Distance && l.Line.NormalAngle == b.Line.NormalAngle))
            others.push_back(l);
    TFittedLine start;
    start.Line = a.Line;
    start.Line.Distance += 0.5 * (offsetB - offsetA);
    start.Width = std::min(apart + 0.5 * (a.Width + b.Width), 12.0);
    start.Blur = 1;
    const double c = std::cos(start.Line.NormalAngle), s = std::sin(start.Line.NormalAngle);
    const double off = start.Line.Distance - c * FClick.X - s * FClick.Y;
    TFittedLine wide = Fit(start, {FClick.X + c * off, FClick.Y + s * off}, Alongside(start, others), true, reach);
    // It must take in the ink of both, centred between them.
    if (!wide.Valid || !UsableLine(wide) || wide.Width < apart || wide.Width > MaxEdgesWidth ||
        std::fabs(offset(wide.Line) - 0.5 * (offsetA + offsetB)) > 0.25 * apart ||
        5 * InkedBins(wide) < 4 * std::max(InkedBins(a), InkedBins(b)))
        return std::nullopt;
    return wide;
}

// Masks for the lines among `lines` that run alongside `line`: nearly
// parallel, distinct, and close.
std::vector<TBandMask> TSnapper::Alongside(
    const TFittedLine& line, const std::vector<TFittedLine>& lines, bool overlapping) const
{
    std::vector<TBandMask> masks;
    for (const TFittedLine& other : lines) {
        double da = std::fabs(line.Line.NormalAngle - other.Line.NormalAngle);
        const bool opposite = da > M_PI / 2;
        if ((opposite ? M_PI - da : da) > AlongsideAngle || SameLine(line, other, FClick))
            continue;
        auto offset = [&](const TStraightLine& l) {
            return l.Distance - FClick.X * std::cos(l.NormalAngle) - FClick.Y * std::sin(l.NormalAngle);
        };
        const double apart =
            std::fabs(opposite ? offset(line.Line) + offset(other.Line) : offset(line.Line) - offset(other.Line));
        // Fitted lines whose cores overlap at the click are one line found
        // twice (a faint line's rough fits apart by a degree or two), not a
        // line beside it whose pixels this one must leave.
        if (apart <= AlongsideDistance && !(overlapping && apart < SameLineOffset))
            masks.push_back({other.Line, 0, true});
    }
    return masks;
}

// Whether two roughly fitted lines could make a feature at `at`: each has
// an arm there. (Whether a lone arm reaches the other line is judged on the
// full fits, which leave the other line out.)
bool TSnapper::MayJoin(size_t i, size_t j, TPoint at) const
{
    const size_t index[2] = {i, j};
    for (int k = 0; k < 2; ++k) {
        const TFittedLine& line = FLines[index[k]];
        const double centre = AlongAt(line, FOrigins[index[k]], at);
        const double exclusion = Exclusion(line, FLines[index[1 - k]]);
        const TArm before = JudgeArm(line, centre, -1, exclusion), after = JudgeArm(line, centre, 1, exclusion);
        if (!before.Present && !after.Present)
            return false;
    }
    return true;
}

bool TSnapper::CurvePieces(size_t i, size_t j) const
{
    const TFittedLine& a = FLines[i];
    const TFittedLine& b = FLines[j];
    double angle = std::fabs(a.Line.NormalAngle - b.Line.NormalAngle);
    angle = std::min(angle, M_PI - angle);
    if (angle < MinPieceAngle || angle >= MinCrossingAngle)
        return false;
    const double ca = std::cos(a.Line.NormalAngle), sa = std::sin(a.Line.NormalAngle);
    const double cb = std::cos(b.Line.NormalAngle), sb = std::sin(b.Line.NormalAngle);
    const double det = ca * sb - sa * cb;
    const TPoint at {
        (a.Line.Distance * sb - b.Line.Distance * sa) / det, (ca * b.Line.Distance - cb * a.Line.Distance) / det};
    if (Distance(at, FClick) > FOptions.Radius + ArmReach)
        return false;
    // Beyond this distance from the meeting the other piece's ink has left
    // this one's strip.
    const double apart =
        (0.5 * (std::clamp(a.Width, 1.0, 6.0) + std::clamp(b.Width, 1.0, 6.0)) + a.Blur + b.Blur + 1) / std::sin(angle);
    // The side (-1, 1) of a line inked from the meeting, with the other bare
    // beyond `apart` over a length it could show ink on; 0 for none.
    auto inkedSide = [&](const TFittedLine& line, TPoint origin) {
        const double centre = AlongAt(line, origin, at);
        double near[2] = {0, 0}, far[2] = {0, 0}, seen[2] = {0, 0};
        for (const TLineBin& bin : line.Bins) {
            const double from = bin.Along - centre;
            const int s = from < 0 ? 0 : 1;
            const double d = std::fabs(from);
            if (d < ArmReach && bin.Inked)
                near[s] += LineBinLength;
            if (d >= apart && d < apart + ArmReach && bin.Pixels > 2 * bin.Masked) {
                seen[s] += LineBinLength;
                far[s] += bin.Inked ? LineBinLength : 0;
            }
        }
        for (int s = 0; s < 2; ++s)
            if (near[s] >= MinArmInk && seen[1 - s] >= MinArmInk && far[1 - s] <= LineBinLength)
                return s == 0 ? -1 : 1;
        return 0;
    };
    const int sideA = inkedSide(a, FOrigins[i]), sideB = inkedSide(b, FOrigins[j]);
    if (sideA == 0 || sideB == 0)
        return false;
    // The one goes on from the other: their inked sides leave the meeting
    // at an obtuse angle (two lines ending together at a sharp angle are
    // no curve).
    const double ua[2] = {-sa * sideA, ca * sideA}, ub[2] = {-sb * sideB, cb * sideB};
    return ua[0] * ub[0] + ua[1] * ub[1] < 0;
}

bool TSnapper::InkBends(size_t k, const size_t* leave, size_t leaveCount) const
{
    const TFittedLine& line = FLines[k];
    const double c = std::cos(line.Line.NormalAngle), s = std::sin(line.Line.NormalAngle);
    const double off = line.Line.Distance - c * FClick.X - s * FClick.Y;
    const TPoint foot {FClick.X + c * off, FClick.Y + s * off};
    // Lines across this one put their ink all over its strip: the bins they
    // pass are left out. The pixels of the lines left are read as paper.
    std::vector<TBandMask> across, left;
    for (size_t l = 0; l < FLines.size(); ++l) {
        const double da = std::fabs(FLines[l].Line.NormalAngle - line.Line.NormalAngle);
        if (l == k)
            continue;
        if (std::find(leave, leave + leaveCount, l) != leave + leaveCount)
            left.push_back(BandOf(FLines[l]));
        else if (std::min(da, M_PI - da) >= BendsAcross)
            across.push_back(BandOf(FLines[l]));
    }
    auto within = [](const std::vector<TBandMask>& bands, TPoint p) {
        return std::any_of(bands.begin(), bands.end(), [&](const TBandMask& band) {
            return std::fabs(std::cos(band.Line.NormalAngle) * p.X + std::sin(band.Line.NormalAngle) * p.Y -
                       band.Line.Distance) <= band.HalfWidth;
        });
    };
    const double half = BendsStrip + 0.5 * std::min(line.Width, 6.0);
    const double reach = FOptions.Radius + ArmReach;
    struct TBinInk {
        double Along, Ink, Middle;
    };
    std::vector<TBinInk> bins;
    for (double a = -reach; a <= reach; a += LineBinLength) {
        std::vector<double> profile, offsets;
        std::vector<bool> paperOnly;
        bool masked = false;
        for (double u = -half; u <= half && !masked; u += 0.5) {
            double sum = 0;
            bool ownLeft = false;
            for (const double t : {a - 0.5, a + 0.5}) {
                const TPoint p {foot.X - s * t + c * u, foot.Y + c * t + s * u};
                masked = masked || within(across, p);
                ownLeft = ownLeft || within(left, p);
                sum += FWindow.Interpolated(p.X, p.Y, NAN);
            }
            profile.push_back(0.5 * sum);
            offsets.push_back(u);
            paperOnly.push_back(ownLeft);
        }
        if (masked || std::any_of(profile.begin(), profile.end(), [](double v) { return std::isnan(v); }) ||
            2 * std::count(paperOnly.begin(), paperOnly.end(), true) > static_cast<long>(paperOnly.size()))
            continue;
        std::vector<double> sorted;
        for (size_t i = 0; i < profile.size(); ++i)
            if (!paperOnly[i])
                sorted.push_back(profile[i]);
        std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
        const double paper = sorted[sorted.size() / 2] + 3 * std::max(FNoise, 1.0);
        double ink = 0, moment = 0;
        for (size_t i = 0; i < profile.size(); ++i)
            if (profile[i] > paper && !paperOnly[i]) {
                ink += profile[i] - paper;
                moment += (profile[i] - paper) * offsets[i];
            }
        if (ink > 0)
            bins.push_back({a, ink, moment / ink});
    }
    if (bins.size() < 8)
        return false;
    // The bins that hold the line's ink: as much as most of them hold.
    std::vector<double> inks;
    for (const TBinInk& b : bins)
        inks.push_back(b.Ink);
    std::nth_element(inks.begin(), inks.begin() + inks.size() / 2, inks.end());
    const double typical = inks[inks.size() / 2];
    std::erase_if(bins, [&](const TBinInk& b) { return b.Ink < BendsInk * typical; });
    // The parabola through their middles, fitted twice: the second time
    // without the bins far off the first (a letter, a blot).
    std::vector<bool> used(bins.size(), true);
    Eigen::Vector3d fit = Eigen::Vector3d::Zero();
    double scatter = 0, low = INFINITY, high = -INFINITY;
    int count = 0;
    for (int pass = 0; pass < 2; ++pass) {
        Eigen::Matrix3d normal = Eigen::Matrix3d::Zero();
        Eigen::Vector3d right = Eigen::Vector3d::Zero();
        count = 0;
        for (size_t i = 0; i < bins.size(); ++i)
            if (used[i]) {
                const Eigen::Vector3d f(1, bins[i].Along, bins[i].Along * bins[i].Along);
                normal += f * f.transpose();
                right += f * bins[i].Middle;
                ++count;
            }
        if (count < 8)
            return false;
        fit = normal.ldlt().solve(right);
        double squares = 0;
        low = INFINITY, high = -INFINITY;
        for (size_t i = 0; i < bins.size(); ++i)
            if (used[i]) {
                const double a = bins[i].Along;
                squares += std::pow(bins[i].Middle - fit[0] - fit[1] * a - fit[2] * a * a, 2);
                low = std::min(low, a);
                high = std::max(high, a);
            }
        scatter = std::sqrt(squares / (count - 3));
        for (size_t i = 0; i < bins.size(); ++i) {
            const double a = bins[i].Along;
            used[i] = std::fabs(bins[i].Middle - fit[0] - fit[1] * a - fit[2] * a * a) <= std::max(3 * scatter, 0.3);
        }
        Eigen::Matrix3d inverse = normal.inverse();
        if (pass == 1) {
            const double halfSpan = 0.5 * (high - low);
            const double error = std::max(scatter, 0.05) * std::sqrt(inverse(2, 2));
            return std::fabs(fit[2]) > BendsErrors * error && std::fabs(fit[2]) * halfSpan * halfSpan > BendsSagitta;
        }
    }
    return false;
}

bool TSnapper::GoesOnBeyond(
    const TFittedLine& stem, const TFittedLine& bar, TPoint origin, TPoint at, int armSide) const
{
    // The parabola through the shifts of the stem's bins on its arm.
    const std::optional<TBinParabola> parabola = FitBinParabola(stem, armSide < 0, armSide > 0);
    if (!parabola)
        return false;
    const Eigen::Vector3d& fit = parabola->Coefficients;
    const double c = std::cos(stem.Line.NormalAngle), s = std::sin(stem.Line.NormalAngle);
    const double off = stem.Line.Distance - c * origin.X - s * origin.Y;
    const TPoint foot {origin.X + c * off, origin.Y + s * off};
    const double centre = AlongAt(stem, origin, at);
    const double start = Exclusion(stem, bar) + 2;
    // Where the stem's curve, drawn on beyond the bar, lies, bent the more
    // by `bend` times the square of the distance beyond.
    auto curve = [&](double t, double u, double bend = 0) {
        const double a = centre - armSide * t;
        const double shift = fit[0] + fit[1] * a + fit[2] * a * a + bend * t * t + u;
        return TPoint {foot.X - s * a + c * shift, foot.Y + c * a + s * shift};
    };
    // (A straight stem's curve is its bare side beyond the bar.)
    const double core = 0.5 * stem.Width + stem.Blur;
    const double end = start + GoOnLength;
    std::vector<TBandMask> crossing {BandOf(bar)};
    for (const TFittedLine& l : FLines) {
        const double da = std::fabs(l.Line.NormalAngle - stem.Line.NormalAngle);
        if (std::min(da, M_PI - da) >= MinCrossingAngle)
            crossing.push_back(BandOf(l));
    }
    auto darkness = [&](TPoint p, bool& inside) {
        inside = false;
        const int x = static_cast<int>(std::floor(p.X)), y = static_cast<int>(std::floor(p.Y));
        if (x < 0 || y < 0 || x + 1 >= FWindow.Width || y + 1 >= FWindow.Height)
            return 0.0;
        for (const TBandMask& band : crossing)
            if (std::fabs(std::cos(band.Line.NormalAngle) * p.X + std::sin(band.Line.NormalAngle) * p.Y -
                    band.Line.Distance) <= band.HalfWidth)
                return 0.0;
        inside = true;
        const double fx = p.X - x, fy = p.Y - y;
        return (1 - fy) * ((1 - fx) * FWindow.At(x, y) + fx * FWindow.At(x + 1, y)) +
            fy * ((1 - fx) * FWindow.At(x, y + 1) + fx * FWindow.At(x + 1, y + 1));
    };
    std::vector<float> sorted = FWindow.Values;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const double paper = sorted[sorted.size() / 2];
    // The stem's own ink on its arm.
    std::vector<double> own;
    for (double t = start; t <= end; t += 1) {
        bool inside = false;
        const double d = darkness(curve(-t, 0), inside);
        if (inside)
            own.push_back(d - paper);
    }
    if (own.size() < 5)
        return false;
    std::nth_element(own.begin(), own.begin() + own.size() / 2, own.end());
    const double threshold = std::max(GoOnInk * own[own.size() / 2], 4 * FNoise);
    auto goesOn = [&](double bend) {
        int looked = 0, inked = 0;
        for (double t = start; t <= end; t += 1) {
            bool any = false, hit = false;
            for (double u = -core; u <= core; u += 0.5) {
                bool inside = false;
                const double d = darkness(curve(t, u, bend), inside);
                any = any || inside;
                hit = hit || (inside && d - paper > threshold);
            }
            looked += any;
            inked += hit;
        }
        return looked >= GoOnLength / 2 && inked >= GoOnShare * looked;
    };
    if (goesOn(0))
        return true;
    // A sharp curve's bins stand off a straight fit only where it is nearly
    // straight (further on its ink leaves the fit's profile and no bin
    // shows it), so that its parabola may be flat: it goes on as well where
    // it bends as a contour or a river does.
    for (const double radius : GoOnRadii)
        for (const int sign : {-1, 1})
            if (goesOn(sign * 0.5 / radius))
                return true;
    return false;
}

bool TSnapper::TwoInks(const TFittedLine& line, const TFittedLine& other, TPoint origin, TPoint at,
    const bool sides[2], double exclusion, const std::vector<TBandMask>& masks) const
{
    if (line.Width <= TwoInkWidth || line.Width <= TwoInkWider * other.Width + other.Blur)
        return false;
    const double c = std::cos(line.Line.NormalAngle), s = std::sin(line.Line.NormalAngle);
    const double offsetAtOrigin = origin.X * c + origin.Y * s - line.Line.Distance;
    const double half = 0.5 * line.Width + 1.5 * line.Blur + 1;
    constexpr double Step = 0.5;
    const int count = 2 * static_cast<int>(std::ceil(half / Step)) + 1;
    std::vector<double> sum(count, 0.0), weight(count, 0.0);
    const double centre = AlongAt(line, origin, at);
    for (const TLineBin& b : line.Bins) {
        const int side = b.Along < centre ? 0 : 1;
        if (!b.Inked || b.Outlier || !sides[side] || std::fabs(b.Along - centre) < exclusion + LineBinLength / 2)
            continue;
        for (double t = b.Along - 0.5 * LineBinLength + 0.25; t < b.Along + 0.5 * LineBinLength; t += 0.5)
            for (int i = 0; i < count; ++i) {
                const double n = (i - count / 2) * Step;
                // The point at `t` along the line and `n` off it.
                const double x = origin.X - s * t + c * (n - offsetAtOrigin);
                const double y = origin.Y + c * t + s * (n - offsetAtOrigin);
                if (std::any_of(masks.begin(), masks.end(), [&](const TBandMask& m) {
                        return std::fabs(x * std::cos(m.Line.NormalAngle) + y * std::sin(m.Line.NormalAngle) -
                                   m.Line.Distance) <= m.HalfWidth;
                    }))
                    continue;
                const double v = FWindow.Interpolated(x, y, NAN);
                if (std::isnan(v))
                    continue;
                sum[i] += v;
                weight[i] += 1;
            }
    }
    std::vector<double> profile(count);
    for (int i = 0; i < count; ++i) {
        if (weight[i] < 4)
            return false;
        profile[i] = sum[i] / weight[i];
    }
    const double ground = std::min(profile.front(), profile.back());
    // The highest ridge, and the highest other ridge far enough from it.
    const int first = static_cast<int>(std::max_element(profile.begin(), profile.end()) - profile.begin());
    int second = -1;
    for (int i = 1; i + 1 < count; ++i)
        if (std::abs(i - first) * Step >= TwoInkRidges && profile[i] >= profile[i - 1] &&
            profile[i] >= profile[i + 1] && (second < 0 || profile[i] > profile[second]))
            second = i;
    // A line's own profile mirrors itself about its centre; two inks of
    // different width or darkness merged into one fit do not.
    // (Over the ground's slope from one side to the other: a tint or a
    // shading beside the line is no second ink.)
    double mismatch = 0, ink = 0;
    auto above = [&](int i) {
        return profile[i] - (profile.front() + (profile.back() - profile.front()) * i / (count - 1));
    };
    for (int i = 0; i < count; ++i) {
        mismatch += std::fabs(above(i) - above(count - 1 - i));
        ink += above(i);
    }
    if (ink > 0 && mismatch > TwoInkAsymmetry * ink)
        return true;
    if (second < 0)
        return false;
    const double valley = *std::min_element(
        profile.begin() + std::min(first, second), profile.begin() + std::max(first, second) + 1);
    const double lower = profile[second] - ground;
    return lower > 0 && profile[second] - valley > TwoInkValley * lower + 2 * FNoise / std::sqrt(weight[second]);
}

bool TSnapper::StopsShort(const TFittedLine& line, const TFittedLine& nearLine, const TFittedLine& farLine) const
{
    const std::optional<TPoint> from = Intersect(line.Line, nearLine.Line), to = Intersect(line.Line, farLine.Line);
    if (!from || !to)
        return false;
    const double length = Distance(*from, *to);
    if (!(length > 0))
        return false;
    // Along the line from the near line to the far one, across it, and
    // along the near line.
    const TPoint u {(to->X - from->X) / length, (to->Y - from->Y) / length}, n {-u.Y, u.X};
    const TPoint v {-std::sin(nearLine.Line.NormalAngle), std::cos(nearLine.Line.NormalAngle)};
    const double sine = std::fabs(u.X * std::cos(nearLine.Line.NormalAngle) + u.Y * std::sin(nearLine.Line.NormalAngle));
    std::vector<float> sorted = FWindow.Values;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const double paper = sorted[sorted.size() / 2];
    // Mean darkness above the paper at p + d * k for each k.
    auto ink = [&](TPoint p, TPoint d, std::initializer_list<double> ks) {
        double sum = 0;
        int count = 0;
        for (const double k : ks) {
            const double value = FWindow.Interpolated(p.X + d.X * k, p.Y + d.Y * k, NAN);
            if (!std::isnan(value))
                sum += value - paper, ++count;
        }
        return count ? sum / count : NAN;
    };
    // Clear of the line's ink beside it.
    const double beside = 0.5 * line.Width + line.Blur + 1.5;
    // The line's own ink on its arm beyond the near line.
    double own = 0;
    for (const double t : {4.0, 6.0}) {
        const TPoint p {from->X - u.X * t, from->Y - u.Y * t};
        own += 0.5 * (ink(p, n, {0}) - ink(p, n, {-beside, beside}));
    }
    // Halfway between the two lines there must be paper beside the line
    // (along the near line, as far from both as the middle is): lines that
    // touch leave nothing to tell by.
    const TPoint middle {0.5 * (from->X + to->X), 0.5 * (from->Y + to->Y)};
    const double flank = ink(middle, v, {-beside / sine, beside / sine});
    const double lines = std::min(std::max(ink(*from, v, {-6}), ink(*from, v, {6})),
        std::max(ink(*to, v, {-6}), ink(*to, v, {6})));
    const double centre = ink(middle, v, {-0.3, 0, 0.3});
    // The ink the line would add there over the lines' blurred edges (a
    // line laid over ink darkens it by less than over paper), which the
    // noise must not hide.
    const double expected = own * (1 - std::max(0.0, flank) / lines);
    if (!(lines > 0) || !(expected > GapNoises * FNoise) || !(expected > MinGapShare * own))
        return false;
    return centre - flank < BareShare * expected;
}

bool TSnapper::EndsBefore(const TSnappedFeature& feature, size_t s, size_t a, size_t k, TPoint there) const
{
    // No arm of line s leaves the feature towards there.
    const double towards = std::atan2(there.Y - feature.Row, there.X - feature.Column) * 180 / M_PI;
    for (const double arm : feature.Arms)
        if (std::fabs(std::remainder(arm - towards, 360.0)) < ArmTurn)
            return false;
    // The line s stops at: a, or another fit through the feature beside k
    // (a's rough fit may be a line seeded across it that its full fit
    // brought onto it).
    for (size_t m = 0; m < FLines.size(); ++m) {
        const TStraightLine& l = FLines[m].Line;
        double da = std::fabs(l.NormalAngle - FLines[k].Line.NormalAngle);
        if (m == s || m == k || std::min(da, M_PI - da) > BesideAngle ||
            (m != a &&
                std::fabs(std::cos(l.NormalAngle) * feature.Column + std::sin(l.NormalAngle) * feature.Row -
                    l.Distance) > SameFeature))
            continue;
        if (StopsShort(FLines[s], FLines[m], FLines[k]))
            return true;
    }
    return false;
}

bool TSnapper::OverTwoLines(size_t k, TPoint at, const TCandidate& best) const
{
    if (best.Owns(k))
        return false;
    const TFittedLine& wide = FLines[k];
    // The lines found beside k whose centres lie within its ink about `at`
    // (its full fit's place), and on which side of it along k's normal.
    std::vector<std::pair<size_t, double>> under;
    for (size_t m = 0; m < FLines.size(); ++m) {
        const TStraightLine& l = FLines[m].Line;
        double da = std::fabs(l.NormalAngle - wide.Line.NormalAngle);
        da = std::min(da, M_PI - da);
        const double sign = std::cos(l.NormalAngle - wide.Line.NormalAngle) > 0 ? 1 : -1;
        const double offset = sign * (l.Distance - std::cos(l.NormalAngle) * at.X - std::sin(l.NormalAngle) * at.Y);
        if (m != k && da <= BesideAngle && std::fabs(offset) <= 0.5 * wide.Width + wide.Blur)
            under.push_back({m, offset});
    }
    // One of best's lines on one side, another line on the other.
    for (const auto& [i, a] : under)
        for (const auto& [j, b] : under)
            if (best.Owns(i) && !best.Owns(j) && a * b < 0)
                return true;
    return false;
}

double TSnapper::BareStart(const TFittedLine& line, TPoint origin, TPoint at, int side, double exclusion,
    double start, const std::vector<TFittedLine>& others) const
{
    const double centre = AlongAt(line, origin, at);
    // The stretches of [0, start) beyond the exclusion that other lines'
    // bands cover, where they cross the line.
    std::vector<std::pair<double, double>> covered;
    for (const TFittedLine& other : others) {
        const std::optional<TPoint> crossing = Intersect(line.Line, other.Line);
        if (!crossing)
            continue;
        const double from = side * (AlongAt(line, origin, *crossing) - centre) - exclusion;
        const double reach = Exclusion(line, other);
        covered.push_back({std::max(0.0, from - reach), std::min(start, from + reach)});
    }
    std::sort(covered.begin(), covered.end());
    double bare = 0, reached = 0;
    for (const auto& [low, high] : covered) {
        if (high <= low)
            continue;
        bare += std::max(0.0, low - reached);
        reached = std::max(reached, high);
    }
    return bare + std::max(0.0, start - reached);
}

bool TSnapper::PointsPast(const TCandidate& c, const TCandidate& near) const
{
    if (c.Feature.Kind != TFeatureKind::Corner)
        return false;
    const TPoint nearAt {near.Feature.Column, near.Feature.Row};
    for (int k = 0; k < 2; ++k)
        for (int l = 0; l < 2; ++l)
            if (c.Lines[k] == near.Lines[l] && c.Lines[1 - k] != near.Lines[1 - l]) {
                // The shared line's arm at c points at near, none away.
                const TPoint at {c.Feature.Column, c.Feature.Row};
                const TPoint away {2 * at.X - nearAt.X, 2 * at.Y - nearAt.Y};
                const TSnappedFeature& f = c.Feature;
                auto arm = [&](TPoint to) {
                    const double towards = std::atan2(to.Y - at.Y, to.X - at.X) * 180 / M_PI;
                    return std::any_of(f.Arms.begin(), f.Arms.end(),
                        [&](double a) { return std::fabs(std::remainder(a - towards, 360.0)) < ArmTurn; });
                };
                if (arm(nearAt) && !arm(away) &&
                    EndsBefore(near.Feature, near.Lines[l], near.Lines[1 - l], c.Lines[1 - k], at))
                    return true;
            }
    return false;
}

bool TSnapper::RunsOnToClick(const TCandidate& c) const
{
    if (c.Feature.Kind != TFeatureKind::Corner || c.Distance <= CloseFeatures)
        return false;
    const TPoint at {c.Feature.Column, c.Feature.Row};
    for (int k = 0; k < 2; ++k) {
        const TFittedLine& line = FLines[c.Lines[k]];
        const TFittedLine& other = FLines[c.Lines[1 - k]];
        const TPoint u {-std::sin(line.Line.NormalAngle), std::cos(line.Line.NormalAngle)};
        const TPoint n {u.Y, -u.X};
        const double along = (FClick.X - at.X) * u.X + (FClick.Y - at.Y) * u.Y;
        const double across = (FClick.X - at.X) * n.X + (FClick.Y - at.Y) * n.Y;
        const int side = along < 0 ? -1 : 1;
        if (std::fabs(along) <= CloseFeatures || std::fabs(across) > 0.5 * line.Width + line.Blur + 1)
            continue;
        const double towards = ArmDirection(line.Line, side);
        if (std::any_of(c.Feature.Arms.begin(), c.Feature.Arms.end(),
                [&](double a) { return std::fabs(std::remainder(a - towards, 360.0)) < ArmTurn; }))
            continue;
        // The line's centre darker than the paper beside it, `t` pixels from
        // c on side `s`.
        const double beside = 0.5 * line.Width + line.Blur + 1.5;
        auto contrast = [&](double t, int s) {
            const TPoint p {at.X + s * t * u.X, at.Y + s * t * u.Y};
            const double centre = FWindow.Interpolated(p.X, p.Y, NAN);
            const double flank = 0.5 *
                (FWindow.Interpolated(p.X + beside * n.X, p.Y + beside * n.Y, NAN) +
                    FWindow.Interpolated(p.X - beside * n.X, p.Y - beside * n.Y, NAN));
            return centre - flank;
        };
        // Clear of the other line's ink; its own ink on its arm there.
        const double sine = std::fabs(std::sin(line.Line.NormalAngle - other.Line.NormalAngle));
        const double start = (0.5 * other.Width + other.Blur + 1) / std::max(sine, 0.5);
        double own = 0;
        int ownCount = 0;
        for (double t = start; t <= start + 6; t += 1) {
            const double v = contrast(t, -side);
            if (!std::isnan(v))
                own += v, ++ownCount;
        }
        if (ownCount == 0 || !(own / ownCount > GapNoises * FNoise))
            continue;
        own /= ownCount;
        int looked = 0, inked = 0;
        for (double t = start; t <= std::fabs(along) - 0.5; t += 0.5) {
            const double v = contrast(t, side);
            if (std::isnan(v))
                continue;
            ++looked;
            inked += v > 0.5 * own;
        }
        if (looked >= 3 && inked >= GoOnShare * looked)
            return true;
    }
    return false;
}

std::optional<TSnapper::TCandidate> TSnapper::Junction(const TLinePair& pair, double reach, bool& meets, bool& bent,
    bool& uncertain, bool stepped, std::optional<TPoint>* measured, std::optional<size_t>* bentLine,
    bool* twoInks, bool* unfit, bool* hidden) const
{
    if (hidden)
        *hidden = false;
    if (twoInks)
        *twoInks = false;
    if (unfit)
        *unfit = false;
    meets = true;
    bent = false;
    uncertain = false;
    if (measured)
        measured->reset();
    if (bentLine)
        bentLine->reset();
    TFittedLine lines[2] = {FLines[pair.First], FLines[pair.Second]};
    std::vector<TFittedLine> others;
    for (size_t k = 0; k < FLines.size(); ++k)
        if (k != pair.First && k != pair.Second)
            others.push_back(FLines[k]);

    // Each line is fitted with the other's band left out, from their
    // crossing, until the crossing stays put; then again from the arms that
    // are there only, so that the end of a corner's line does not count.
    bool sides[2][2] = {{true, true}, {true, true}};
    TArm arms[2][2];
    TPoint origin = pair.At;
    std::optional<TPoint> at = pair.At;
    for (int pass = 0; pass < 4; ++pass) {
        TFittedLine fitted[2];
        origin = *at;
        for (int k = 0; k < 2; ++k) {
            std::vector<TBandMask> masks = Alongside(lines[k], others, true);
            masks.push_back(BandOf(lines[1 - k]));
            fitted[k] =
                Fit(lines[k], origin, std::move(masks), false, reach, sides[k][0], sides[k][1], pass > 0, stepped);
            if (!fitted[k].Valid && unfit)
                *unfit = true;
            if (!fitted[k].Valid)
                return std::nullopt;
        }
        at = Intersect(fitted[0].Line, fitted[1].Line);
        if (!at)
            return std::nullopt;
        lines[0] = fitted[0];
        lines[1] = fitted[1];
        bool changed = false;
        for (int k = 0; k < 2; ++k) {
            const double centre = AlongAt(lines[k], origin, *at), exclusion = Exclusion(lines[k], lines[1 - k]);
            arms[k][0] = JudgeArm(lines[k], centre, -1, exclusion);
            arms[k][1] = JudgeArm(lines[k], centre, 1, exclusion);
            // A line without arms keeps both sides, and fails below.
            const bool any = arms[k][0].Present || arms[k][1].Present;
            for (int s = 0; s < 2; ++s) {
                const bool use = arms[k][s].Present || !any;
                changed = changed || use != sides[k][s];
                sides[k][s] = use;
            }
        }
        if (Distance(*at, origin) < 0.05 && !changed)
            break;
    }

    if (measured)
        *measured = *at;
    // A junction measured far from where its rough lines cross has had a
    // fit slide onto another line (a line alongside, darker): not this
    // pair's junction, and perhaps the feature meant.
    if (Distance(*at, pair.At) > SlidAway)
        return std::nullopt;
    TCandidate candidate;
    TSnappedFeature& f = candidate.Feature;
    int present = 0;
    meets = (arms[0][0].Present || arms[0][1].Present) && (arms[1][0].Present || arms[1][1].Present);
    for (int k = 0; k < 2; ++k) {
        const int count = arms[k][0].Present + arms[k][1].Present;
        bool gentle = false;
        if (count > 0 && Bent(lines[k], &gentle, sides[k][0], sides[k][1])) {
            bent = gentle;
            if (bentLine)
                *bentLine = k == 0 ? pair.First : pair.Second;
            return std::nullopt;
        }
        if (count == 0 || Ragged(lines[k], sides[k][0], sides[k][1]))
            return std::nullopt;
        if (!FBilevel) {
            std::vector<TBandMask> masks = Alongside(lines[k], others, true);
            masks.push_back(BandOf(lines[1 - k]));
            if (TwoInks(lines[k], lines[1 - k], origin, *at, sides[k], Exclusion(lines[k], lines[1 - k]), masks)) {
                if (twoInks)
                    *twoInks = true;
                return std::nullopt;
            }
        }
        const TArm& lone = arms[k][0].Present ? arms[k][0] : arms[k][1];
        // A lone arm whose ink starts well short of the other line (more
        // than a corner's gap and the dashes' own, by a spoilt end's
        // allowance) makes no junction there at all.
        // (Unless the bands of other lines crossing it there cover all but
        // a corner's gap of that start: a curve or a line crossing it by the
        // other line hid its first pixels, and the two may meet after all.)
        const int loneSide = arms[k][0].Present ? -1 : 1;
        if (count == 1 && lone.Start > CornerGap + lone.LongestGap + SpoiltEnd) {
            const bool covered = lone.Start <= HiddenStart &&
                BareStart(lines[k], origin, *at, loneSide, Exclusion(lines[k], lines[1 - k]), lone.Start, others) <
                    CornerGap + lone.LongestGap;
            if (!covered)
                meets = false;
            else if (hidden)
                *hidden = true;
        }
        // (A lone arm whose ink starts up to a spoilt end's allowance
        // farther does meet the other line where the bands of other lines
        // crossing it there cover that much of its start: they hid its
        // first pixels.)
        const bool hidden = count == 1 && !lone.ReachesFeature &&
            lone.Start <= CornerGap + lone.LongestGap + SpoiltEnd &&
            BareStart(lines[k], origin, *at, loneSide, Exclusion(lines[k], lines[1 - k]), lone.Start, others) <
                CornerGap + lone.LongestGap;
        if (count == 1 && ((!lone.ReachesFeature && !hidden) || lone.LoneInk < MinLoneArmInk))
            return std::nullopt;
        present += count;
        for (int s = 0; s < 2; ++s)
            if (arms[k][s].Present)
                f.Arms.push_back(ArmDirection(lines[k].Line, s == 0 ? -1 : 1));
    }
    std::sort(f.Arms.begin(), f.Arms.end());
    f.Kind = present == 4 ? TFeatureKind::Crossing : TFeatureKind::Corner;
    // A T whose stem goes on beyond its bar may be a curve crossing the bar.
    if (present == 3) {
        const int stem = arms[0][0].Present + arms[0][1].Present == 1 ? 0 : 1;
        candidate.GoesOn = GoesOnBeyond(lines[stem], lines[1 - stem], origin, *at, arms[stem][0].Present ? -1 : 1);
    }
    for (int k = 0; k < 2; ++k) {
        const double centre = AlongAt(lines[k], origin, *at), exclusion = Exclusion(lines[k], lines[1 - k]);
        candidate.Piece = candidate.Piece ||
            std::max(InkEnd(lines[k], centre, -1, exclusion), InkEnd(lines[k], centre, 1, exclusion)) < PieceLength;
        candidate.Curve = candidate.Curve || candidate.Piece || Curving(lines[k], sides[k][0], sides[k][1]);
    }

    // The crossing x = o + N^-1 d, o the fits' origin, N the rows of the
    // normals and d the offsets at o; an angle turns its line about o.
    Eigen::Matrix2d normals;
    for (int k = 0; k < 2; ++k)
        normals.row(k) << std::cos(lines[k].Line.NormalAngle), std::sin(lines[k].Line.NormalAngle);
    const Eigen::Matrix2d inverse = normals.inverse();
    Eigen::Matrix2d covariance = Eigen::Matrix2d::Zero();
    for (int k = 0; k < 2; ++k) {
        const TFittedLine& l = lines[k];
        Eigen::Matrix2d jacobian;
        jacobian.col(0) = inverse.col(k);
        jacobian.col(1) = -inverse.col(k) * AlongAt(l, origin, *at);
        Eigen::Matrix2d own;
        own << l.OffsetVariance, l.OffsetAngleCovariance, l.OffsetAngleCovariance, l.AngleVariance;
        // A bilevel line misses every smooth model by its steps, which its
        // own variance counts instead.
        if (FBilevel) {
            own(0, 0) += StaircaseVariance(l);
        } else {
            own *= ScatterRatio(l, sides[k][0], sides[k][1]);
            own(0, 0) += std::pow(ProfileMisfit(l, FNoise), 2) + l.InkOffset * l.InkOffset + SharpLineVariance(l);
        }
        covariance += jacobian * own * jacobian.transpose();
    }
    f.Sigma = std::sqrt(0.5 * covariance.trace());
    f.Column = at->X;
    f.Row = at->Y;
    candidate.Distance = Distance(*at, FClick);
    candidate.Lines[0] = pair.First;
    candidate.Lines[1] = pair.Second;
    candidate.Own = {pair.First, pair.Second};
    uncertain = FOptions.Target == TSnapTarget::Corner && f.Kind == TFeatureKind::Corner &&
        candidate.Distance <= FOptions.Radius && !(f.Sigma <= Trusted(f));
    if (!(f.Sigma <= Trusted(f)) || candidate.Distance > FOptions.Radius)
        return std::nullopt;
    return candidate;
}

std::optional<TSnappedFeature> TSnapper::Run()
{
    FindLines();
    FCurve.assign(FLines.size(), false);
    for (size_t i = 0; i < FLines.size(); ++i)
        for (size_t j = i + 1; j < FLines.size(); ++j)
            if (CurvePieces(i, j))
                FCurve[i] = FCurve[j] = true;
    // The pieces of a curve make T's with the lines they pass: the features
    // of the other lines are looked for first, alone; only where they give
    // none do the pieces take part.
    if (std::find(FCurve.begin(), FCurve.end(), true) != FCurve.end())
        if (std::optional<TSnappedFeature> feature = Answer(true))
            return feature;
    return Answer(false);
}

std::optional<TSnappedFeature> TSnapper::Answer(bool leaveCurves)
{
    std::vector<TLinePair> pairs;
    // How near the click the nearest pair left out meets.
    double nearestLeft = INFINITY;
    for (size_t i = 0; i < FLines.size(); ++i)
        for (size_t j = i + 1; j < FLines.size(); ++j) {
            const std::optional<TPoint> at = Intersect(FLines[i].Line, FLines[j].Line);
            if (!at || Distance(*at, FClick) > FOptions.Radius + 3 || !MayJoin(i, j, *at))
                continue;
            if (leaveCurves && (FCurve[i] || FCurve[j]))
                nearestLeft = std::min(nearestLeft, Distance(*at, FClick));
            else
                pairs.push_back({i, j, *at});
        }
    // Nearest first: a feature found settles the pairs farther off than it
    // by more than the margin (and the rough crossings' own error).
    std::sort(pairs.begin(), pairs.end(),
        [&](const TLinePair& a, const TLinePair& b) { return Distance(a.At, FClick) < Distance(b.At, FClick); });
    std::vector<TCandidate> found;
    // Pairs of lines that meet but could not be measured: where they cross,
    // and where their full fits crossed, if they did.
    struct TFailed {
        TLinePair Pair;
        std::optional<TPoint> Measured;
        std::optional<size_t> Bent;
        // Its lone arm's start hidden by lines crossing it.
        bool Hidden = false;
    };
    std::vector<TFailed> failed;
    // Where pairs one of whose lines' fits took in two inks met, and the pairs.
    std::vector<TPoint> mixed;
    std::vector<TLinePair> mixedPairs;
    for (const TLinePair& pair : pairs) {
        const double roughDistance = Distance(pair.At, FClick);
        // (A piece of a curve passing a line settles nothing.)
        const auto settled =
            std::find_if(found.begin(), found.end(), [](const TCandidate& f) { return !f.Piece; });
        if (settled != found.end() && roughDistance > settled->Distance + AmbiguityMargin + RoughError)
            break;
        // A line bent over the full length may still be straight near the
        // feature (a graticule curving gently across the sheet): measured
        // again over half the length. (A contour, which leaves a straight
        // strip within a few dozen pixels, is not.)
        bool meets = true, bent = false, uncertain = false;
        std::optional<TPoint> measured;
        std::optional<size_t> bentLine;
        bool twoInks = false, unfit = false, hidden = false;
        std::optional<TCandidate> c = Junction(
            pair, FullReach, meets, bent, uncertain, false, &measured, &bentLine, &twoInks, &unfit, &hidden);
        if (twoInks) {
            mixed.push_back(measured ? *measured : pair.At);
            mixedPairs.push_back(pair);
        }
        if (!c && bent)
            c = Junction(
                pair, ShortReach, meets, bent, uncertain, false, &measured, &bentLine, nullptr, nullptr, &hidden);
        // A corner asked for, measured but uncertain, may have a tint filled
        // up to its lines (a sea up to the frame), which the plain ground of
        // the fits takes for their ink: measured again on a stepped ground.
        if (!c && uncertain && !FBilevel)
            c = Junction(
                pair, FullReach, meets, bent, uncertain, true, &measured, &bentLine, nullptr, nullptr, &hidden);
        // (A pair one of whose lines no full fit finds at all, a smudge the
        // rough fit took for a line, meets nowhere.)
        if (!c) {
            if (meets && !unfit)
                failed.push_back({pair, measured, bentLine, hidden});
            continue;
        }
        // One feature found from two pairs of lines is what the pair that
        // saw more of its arms says: a crossing seen as a T from one side is
        // a crossing.
        const auto same = std::find_if(found.begin(), found.end(), [&](const TCandidate& f) {
            return std::hypot(f.Feature.Column - c->Feature.Column, f.Feature.Row - c->Feature.Row) < SameFeature;
        });
        if (same == found.end())
            found.push_back(*c);
        else {
            // The kept pair's lines, and those of the other that are its
            // lines seeded again (a line of it well across both of the
            // kept pair's lines is a third line through the feature).
            const bool replace = c->Feature.Arms.size() > same->Feature.Arms.size() ||
                (c->Feature.Arms.size() == same->Feature.Arms.size() && c->Feature.Sigma < same->Feature.Sigma);
            const TCandidate& kept = replace ? *c : *same;
            const TCandidate& other = replace ? *same : *c;
            auto near = [&](size_t k) {
                for (const size_t l : kept.Lines) {
                    const double da = std::fabs(FLines[k].Line.NormalAngle - FLines[l].Line.NormalAngle);
                    if (std::min(da, M_PI - da) <= OwnLineAngle)
                        return true;
                }
                return false;
            };
            // (Both pairs measure it where the other does: else the line
            // seeded again pulls it.)
            const bool alike = std::hypot(c->Feature.Column - same->Feature.Column, c->Feature.Row - same->Feature.Row) <
                SameFit;
            std::vector<size_t> own = kept.Own;
            for (const size_t k : other.Own)
                if (!kept.Owns(k) && alike && near(k))
                    own.push_back(k);
            if (replace)
                *same = *c;
            same->Own = std::move(own);
        }
        std::sort(found.begin(), found.end(),
            [](const TCandidate& a, const TCandidate& b) { return a.Distance < b.Distance; });
    }
    FFoundNothing = found.empty();
    std::erase_if(found, [&](const TCandidate& c) {
        return (FOptions.Target == TSnapTarget::Crossing && c.Feature.Kind != TFeatureKind::Crossing) ||
            (FOptions.Target == TSnapTarget::Corner && c.Feature.Kind != TFeatureKind::Corner);
    });
    if (found.empty())
        return std::nullopt;
    // A corner whose line only points at its other line, stopping short of
    // it at a line beside it where another feature found lies, is none.
    {
        std::vector<bool> past(found.size(), false);
        for (size_t i = 0; i < found.size(); ++i)
            for (size_t j = 0; j < found.size() && !past[i]; ++j)
                past[i] = i != j && PointsPast(found[i], found[j]);
        for (size_t i = found.size(); i-- > 0;)
            if (past[i])
                found.erase(found.begin() + static_cast<std::ptrdiff_t>(i));
    }
    // Nor is a line inked only within a few dozen pixels of it, where
    // lines that run on meet too.
    // (Nor is a pair that failed where one of them was measured.)
    std::vector<TPoint> pieces;
    if (std::any_of(found.begin(), found.end(), [](const TCandidate& f) { return !f.Piece; }))
        std::erase_if(found, [&](const TCandidate& f) {
            if (f.Piece)
                pieces.push_back({f.Feature.Column, f.Feature.Row});
            return f.Piece;
        });
    // A curve passing a line beside a crossing or corner of straight lines
    // found nearer is no other feature the click may have meant.
    if (!found.front().Curve)
        found.erase(std::remove_if(found.begin() + 1, found.end(), [](const TCandidate& f) { return f.Curve; }),
            found.end());
    // A piece of a curve that meets a line far nearer the click than the
    // feature found may be no curve at all (a line seen with a stray piece
    // beside it): the feature is then looked for with every line.
    if (leaveCurves && nearestLeft < found.front().Distance - CloseFeatures)
        return std::nullopt;
    // T's farther than the feature found whose stems go on beyond their bars
    // are curves crossing a line, not features the click may have meant.
    if (!found.front().GoesOn)
        std::erase_if(found, [](const TCandidate& c) { return c.GoesOn; });
    // A corner well away from the click whose line runs on towards it
    // crosses its other line there, short of the feature meant.
    if (RunsOnToClick(found.front()))
        return std::nullopt;
    // Another feature about as near makes the click ambiguous; and two
    // lines that seem to meet nearer than the feature found, but could not
    // be measured, may be the feature meant.
    if (found.size() > 1 && found[1].Distance - found[0].Distance < AmbiguityMargin)
        return std::nullopt;
    // (A failed pair crossing within a pixel of the answer, roughly or as
    // its full fits measured it, is the answer's own lines, one of them
    // fitted twice, or a line through the answer; so is one of the answer's lines
    // with a line whose ink overlaps its other line, closer to it than two
    // pieces of a curve meet: that line seeded again as a wider smudge.)
    const TCandidate& best = found.front();
    const TPoint answer {best.Feature.Column, best.Feature.Row};
    auto overlaps = [&](size_t k) {
        for (const size_t l : best.Lines) {
            const TFittedLine& a = FLines[k];
            const TFittedLine& b = FLines[l];
            double da = std::fabs(a.Line.NormalAngle - b.Line.NormalAngle);
            da = std::min(da, M_PI - da);
            if (k != l && da < MinPieceAngle && !best.Owns(k) &&
                std::fabs(std::cos(a.Line.NormalAngle) * answer.X + std::sin(a.Line.NormalAngle) * answer.Y -
                    a.Line.Distance) < 0.5 * (a.Width + b.Width) &&
                std::fabs(std::cos(b.Line.NormalAngle) * answer.X + std::sin(b.Line.NormalAngle) * answer.Y -
                    b.Line.Distance) < 0.5 * b.Width + 1)
                return true;
        }
        return false;
    };
    // A pair whose fit took in two inks beside the answer, or nearer the
    // click, leaves it unsure: the two inks may be the answer's line and
    // another, which pulls the answer's fit too, or the feature meant.
    // (Not where the two inks are the answer's line and another line beside
    // it, both found and each fitted with the other left out, the pair's
    // other line the answer's own.)
    for (size_t m = 0; m < mixed.size(); ++m) {
        const TLinePair& pair = mixedPairs[m];
        if ((best.Owns(pair.First) && OverTwoLines(pair.Second, mixed[m], best)) ||
            (best.Owns(pair.Second) && OverTwoLines(pair.First, mixed[m], best)))
            continue;
        if (Distance(mixed[m], answer) < SameFeature || Distance(mixed[m], FClick) < best.Distance + AmbiguityMargin)
            return std::nullopt;
    }
    for (const auto& [pair, measured, bentLine, hidden] : failed) {
        const TPoint at = pair.At;
        // (A pair whose lone arm's start is hidden meets only for an answer
        // that is itself a piece of a curve: elsewhere a line crossing a
        // line's start by another line leaves too little to tell by.)
        if (hidden && !best.Piece)
            continue;
        const bool again = (best.Owns(pair.First) && overlaps(pair.Second)) ||
            (best.Owns(pair.Second) && overlaps(pair.First)) || (measured && Distance(*measured, answer) < SameFeature);
        // (Nor is one whose line that is none of the answer's is bent: a
        // curve, which makes no feature with anything. Unless it meets the
        // other nearer the click than the answer by more than two close
        // features lie apart: a straight line under the click whose bins a
        // line crossing it bent is likelier, the answer a feature beyond.)
        // (Nor is one whose line that is none of the answer's bends, its ink
        // read from the pixels: a contour or a river passing the answer;
        // with the same proviso.)
        // (Read with the answer's own lines left out too: where a curve runs
        // beside one of them, their inks mix in its strip.)
        // (Nor where the answer is itself a piece of a curve passing a line:
        // then the pair nearer the click, curve or not, is likelier meant.)
        auto bends = [&](size_t k) {
            return !best.Owns(k) && (InkBends(k) || InkBends(k, best.Lines, 2));
        };
        const bool nearer = Distance(at, FClick) < best.Distance - CloseFeatures;
        const bool curve =
            (!nearer && !best.Piece &&
                ((bentLine && !best.Owns(*bentLine)) || bends(pair.First) || bends(pair.Second))) ||
            (measured && std::any_of(pieces.begin(), pieces.end(), [&](TPoint p) {
                return Distance(p, *measured) < SameFeature;
            }));
        // (Nor is one holding a fit far fainter than the answer's lines: a
        // smear of grain or ringing beside a line.)
        auto faint = [&](size_t k) {
            const double weaker = std::min(FLines[best.Lines[0]].Contrast, FLines[best.Lines[1]].Contrast);
            return !best.Owns(k) && FLines[k].Contrast < FaintShare * weaker;
        };
        if (faint(pair.First) || faint(pair.Second))
            continue;
        if (Distance(at, FClick) < best.Distance - FailedMargin && Distance(at, answer) >= SameFeature && !again && !curve)
            return std::nullopt;
    }
    // A second feature within a few pixels of the one found (a street's
    // edge beside a grid line crossing the other) leaves the click unsure
    // which of the two was meant, however near it lies to one of them.
    for (size_t k = 1; k < found.size(); ++k)
        if (Distance({found[k].Feature.Column, found[k].Feature.Row}, answer) < CloseFeatures)
            return std::nullopt;
    // So does a line running a few pixels beside one of the feature's and
    // crossing its other line there too, measured or not.
    for (int side = 0; side < 2; ++side) {
        const TFittedLine& line = FLines[found.front().Lines[side]];
        const TFittedLine& other = FLines[found.front().Lines[1 - side]];
        for (size_t k = 0; k < FLines.size(); ++k) {
            if (found.front().Owns(k) || SameLine(FLines[k], line, answer))
                continue;
            double da = std::fabs(FLines[k].Line.NormalAngle - line.Line.NormalAngle);
            da = std::min(da, M_PI - da);
            const std::optional<TPoint> there = Intersect(FLines[k].Line, other.Line);
            // Apart by more than their half-widths and a pixel: a second line,
            // not an edge of this one.
            const double apart = std::fabs(std::cos(FLines[k].Line.NormalAngle) * answer.X +
                std::sin(FLines[k].Line.NormalAngle) * answer.Y - FLines[k].Line.Distance);
            // (A curve running beside, a contour, crosses it nowhere a click
            // means.)
            if (da < AlongsideAngle && there && Distance(*there, answer) < CloseFeatures &&
                apart > 0.5 * (FLines[k].Width + line.Width) + 1 && !Curving(FLines[k], true, true) &&
                !EndsBefore(found.front().Feature, found.front().Lines[1 - side], found.front().Lines[side], k, *there))
                return std::nullopt;
        }
    }
    // A line passing close by pulls on the fits of the feature's lines by
    // more than their residuals show (its flank shares their strips): the
    // stated error counts that pull, most where the line passes nearest.
    TSnappedFeature feature = found.front().Feature;
    double pull = 0;
    for (size_t k = 0; k < FLines.size(); ++k) {
        if (k == found.front().Lines[0] || k == found.front().Lines[1] ||
            SameLine(FLines[k], FLines[found.front().Lines[0]], answer) ||
            SameLine(FLines[k], FLines[found.front().Lines[1]], answer))
            continue;
        const double apart = std::fabs(std::cos(FLines[k].Line.NormalAngle) * answer.X +
            std::sin(FLines[k].Line.NormalAngle) * answer.Y - FLines[k].Line.Distance);
        // Its ink beside a corner, whose lines end there, pulls harder.
        double most = NeighbourPull;
        // (Not a fit of one of its own lines again, a degree or two off.)
        auto across = [&](const TFittedLine& l) {
            const double da = std::fabs(FLines[k].Line.NormalAngle - l.Line.NormalAngle);
            return std::min(da, M_PI - da) > NeighbourAngle;
        };
        // (One of its lines seeded again, a few degrees off, pulls as any
        // line passing by, since the two fits of it disagree.)
        if (feature.Kind == TFeatureKind::Corner && !found.front().Owns(k) && across(FLines[found.front().Lines[0]]) &&
            across(FLines[found.front().Lines[1]])) {
            // Ink of its own, off the corner's lines (a line through the
            // corner that only the arms ink is no neighbour).
            const TFittedLine& l = FLines[k];
            const double c = std::cos(l.Line.NormalAngle), s = std::sin(l.Line.NormalAngle);
            const double along = AlongAt(l, FOrigins[k], answer);
            auto off = [&](TPoint p, const TFittedLine& own) {
                return std::fabs(std::cos(own.Line.NormalAngle) * p.X + std::sin(own.Line.NormalAngle) * p.Y -
                           own.Line.Distance) > 0.5 * (own.Width + l.Width) + own.Blur;
            };
            for (const TLineBin& b : l.Bins) {
                const TPoint p {FOrigins[k].X - s * b.Along, FOrigins[k].Y + c * b.Along};
                if (b.Inked && !b.Outlier && std::fabs(b.Along - along) <= 2 * NeighbourReach &&
                    off(p, FLines[found.front().Lines[0]]) && off(p, FLines[found.front().Lines[1]]))
                    most = CornerNeighbourPull;
            }
        }
        pull = std::max(pull, most * std::max(0.0, 1 - apart / NeighbourReach));
    }
    feature.Sigma = std::hypot(feature.Sigma, pull);
    if (!(feature.Sigma <= Trusted(feature)))
        return std::nullopt;
    return feature;
}

} // namespace

std::optional<TSnappedFeature> SnapToFeature(
    const TBitmap& bitmap, double column, double row, const TSnapOptions& options)
{
    if (!(options.Radius > 0 && options.Radius <= MaxSnapRadius))
        throw Exception("The snap radius must lie above 0 and at most 64 pixels");
    if (!std::isfinite(column) || !std::isfinite(row))
        return std::nullopt;
    const int half = static_cast<int>(std::ceil(options.Radius + ArmReach)) + 4;
    const double left = std::floor(column) - half, top = std::floor(row) - half;
    if (left + 2 * half < 0 || top + 2 * half < 0 || left > bitmap.Width() || top > bitmap.Height())
        return std::nullopt;
    TDarknessWindow window =
        ReadDarknessWindow(bitmap, static_cast<int>(left), static_cast<int>(top), 2 * half + 1, 2 * half + 1);
    if (window.Width < 16 || window.Height < 16)
        return std::nullopt;
    // A bilevel window is smoothed first: its lines become profiles the
    // fits can follow, and its steps a kind of noise.
    const bool bilevel = IsBilevel(window);
    if (bilevel) {
        cv::Mat values(window.Height, window.Width, CV_32F, window.Values.data());
        cv::GaussianBlur(values, values, cv::Size(0, 0), BilevelSmoothing);
    }
    const TPoint click {column - window.Left, row - window.Top};
    TSnapper snapper(window, click, options, bilevel);
    std::optional<TSnappedFeature> feature = snapper.Run();
    // Where the strongest lines make no feature near the click (a faint
    // grid line among buildings and street casings), the weaker lines are
    // seeded too.
    if (!feature && snapper.FoundNothing())
        feature = TSnapper(snapper, TSnapper::TBeyond {}).Run();
    if (feature) {
        feature->Column += window.Left;
        feature->Row += window.Top;
    }
    return feature;
}

std::optional<TSnappedFeature> RefineCorner(const TBitmap& bitmap, double column, double row, double radius)
{
    return SnapToFeature(bitmap, column, row, {radius, TSnapTarget::Corner});
}

const char* FeatureKindName(TFeatureKind kind)
{
    return kind == TFeatureKind::Crossing ? "crossing" : "corner";
}

std::string SnapSummary(const std::optional<TSnappedFeature>& feature)
{
    if (!feature)
        return "nothing to snap to";
    char text[64];
    std::snprintf(
        text, sizeof text, "%s, \u00b1%.2f px", FeatureKindName(feature->Kind), std::max(feature->Sigma, 0.01));
    return text;
}
