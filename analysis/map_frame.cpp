#include "analysis/map_frame.h"

#include "analysis/frame_faint_line.h"
#include "analysis/frame_grey.h"
#include "analysis/frame_lines.h"
#include "analysis/frame_overview.h"
#include "analysis/frame_quad.h"
#include "analysis/frame_side_fit.h"

#include <Eigen/Core>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <optional>
#include <sstream>
#include <vector>

const char* const FrameCornerNames[4] = {"UL", "UR", "LR", "LL"};
const char* const FrameSideNames[4] = {"top", "bottom", "left", "right"};

namespace {

enum TSide { sdTop, sdBottom, sdLeft, sdRight };
const char* const* const SideNames = FrameSideNames;

// Lines that can be a side of the frame are inked along this share of the
// overview's width (or height).
constexpr double LongLineShare = 0.25;
// A side is followed at full resolution along at least this share of the
// profiles taken, and its profiles lie this close to one straight line.
constexpr double LeastFollowedShare = 0.6;
constexpr double MostResidual = 1.0;
// Lines beside a side are looked for along at least this share of it.
constexpr double LeastSeenShare = 0.4;
// Opposite sides of a scanned rectangle stay parallel and equally long;
// neighbouring sides stay near a right angle.
constexpr double MostSkewBetweenOpposites = 0.3; // degrees
constexpr double MostLengthDifference = 0.01;
constexpr double MostCornerSkew = 3; // degrees from a right angle
constexpr double MostAspect = 4;
constexpr double MostSigma = 0.5;
// A frame's gap, from a decorative outer frame in to the map's: at most this
// share of the sheet's height (for the top and bottom sides) or width, a
// share that holds on small sheets too.
constexpr double MostGapShare = 0.08;
// A line at the same gap inside all four sides makes a frame (a grid's
// lines lie at gaps of their own); the gaps may differ by this share and a
// pixel, the scan's scales along its two axes differing by a percent or so.
constexpr double MostGapDeviation = 0.02;
// How far the line's averaged dip must stand above the spread of others.
constexpr double LeastClearness = 4.5;
// Sides of a neatline may run on past its corners out to this share of the
// sheet; a side through where they end lies within this slope of the line
// it replaces (half a degree).
constexpr double MostArmShare = 0.2;
constexpr double MostArmSlopeDifference = 0.0087;
// Between a neatline and the outer frame its sides run on to lies the
// margin's paper; a grid's outermost lines run on to the neatline across
// the map, and a sea tinted up to the neatline lies beyond them. The band
// beyond a side is looked at in this many pieces along it: a piece is
// tinted where even its lighter tenth is this many grey levels darker than
// the paper beside the band (the map's inside it, or the margin's beyond
// where the arms end, whichever is lighter), and a side with this many
// tinted pieces has a tint beyond it.
constexpr int TintPieces = 8;
constexpr double LeastTintDrop = 12;
constexpr int LeastTintedPieces = 2;

class TRefusal {
public:
    explicit TRefusal(std::string text, bool notFrame = false) : Text(std::move(text)), NotFrame(notFrame) {}
    std::string Text;
    // The rectangle's lines do not meet in a frame's L-shaped corners (they
    // run on past them, as a grid's, or stop short of them, as lines of two
    // frames do), or two of them are not parallel (a grid line turned
    // against the frame crossing it): the map's frame may share a side with
    // it or hold it, but a frame round it is likely an outer one round the
    // map's frame with a side taken amiss.
    bool NotFrame;
};

std::string Fixed(double value, int decimals)
{
    std::ostringstream out;
    out.setf(std::ios::fixed);
    out.precision(decimals);
    out << value;
    return out.str();
}

// A line of the overview, in scan pixels: an overview pixel stands for the
// block whose centre is scale * p + (scale - 1) / 2.
TSideLine FromOverview(const TFrameLine& line, int scale, double centreU)
{
    const double half = (scale - 1) / 2.0;
    const double overviewU = (centreU - half) / scale;
    return {scale * line.At(overviewU) + half, line.Slope, centreU};
}

// Where the sides meet: h gives the row for a column, v the column for a
// row. From where their tangents at the middle meet, each curve followed in
// turn (their slopes are small, so this settles in a few rounds).
Eigen::Vector2d Meet(const TSideLine& h, const TSideLine& v)
{
    const double a = h.Offset, b = h.Slope, cx = h.CentreU;
    const double c = v.Offset, d = v.Slope, cy = v.CentreU;
    double x = (c + d * (a - b * cx - cy)) / (1 - d * b);
    double y = a + b * (x - cx);
    for (int round = 0; round < 30; ++round) {
        // Newton on x - v(h(x)) = 0.
        const double hy = h.At(x);
        const double step = (x - v.At(hy)) / (1 - v.SlopeAt(hy) * h.SlopeAt(x));
        x -= step;
        y = h.At(x);
        if (std::abs(step) < 1e-9)
            break;
    }
    return {x, y};
}

// The corner and its standard error, carried from both fits' covariances:
// where the ends of the two sides that meet there cross (hEnd, vEnd: 0 for
// a side's start, at the smaller column or row, 1 for its end).
// The stated error also counts what each side's curve misses of the line
// near the corner (across the side: one coordinate each);
// fromFit, when given, takes the error from the fits' covariances alone.
TFrameCorner Corner(const TSideFit& h, int hEnd, const TSideFit& v, int vEnd, double* fromFit = nullptr)
{
    const TSideLine& hLine = h.Ends[size_t(hEnd)];
    const TSideLine& vLine = v.Ends[size_t(vEnd)];
    const Eigen::Vector2d at = Meet(hLine, vLine);
    Eigen::Matrix<double, 2, 8> jacobian;
    for (int p = 0; p < 8; ++p) {
        TSideLine hh = hLine, vv = vLine;
        constexpr double Step = 1e-6;
        double* parameter[] = {&hh.Offset, &hh.Slope, &hh.Bend2, &hh.Bend3,
                               &vv.Offset, &vv.Slope, &vv.Bend2, &vv.Bend3};
        *parameter[p] += Step;
        jacobian.col(p) = (Meet(hh, vv) - at) / Step;
    }
    Eigen::Matrix<double, 8, 8> covariance = Eigen::Matrix<double, 8, 8>::Zero();
    covariance.topLeftCorner<4, 4>() = h.EndCovariance[size_t(hEnd)];
    covariance.bottomRightCorner<4, 4>() = v.EndCovariance[size_t(vEnd)];
    const Eigen::Matrix2d cornerCovariance = jacobian * covariance * jacobian.transpose();
    if (fromFit)
        *fromFit = std::sqrt(cornerCovariance.trace() / 2);
    const double hMisfit = h.EndMisfit[size_t(hEnd)], vMisfit = v.EndMisfit[size_t(vEnd)];
    return {at.x(), at.y(), std::sqrt((cornerCovariance.trace() + hMisfit * hMisfit + vMisfit * vMisfit) / 2)};
}

// The largest distance of the side's curve from the chord between its
// corners (u = from to u = to), signed as v.
double BowOf(const TSideLine& line, double from, double to)
{
    const double vFrom = line.At(from), vTo = line.At(to);
    double bow = 0;
    constexpr int Steps = 64;
    for (int k = 1; k < Steps; ++k) {
        const double u = from + (to - from) * k / Steps;
        const double off = line.At(u) - (vFrom + (vTo - vFrom) * k / Steps);
        if (std::abs(off) > std::abs(bow))
            bow = off;
    }
    return bow;
}

double Degrees(double radians)
{
    return radians * 180 / std::numbers::pi;
}

double Distance(const TFrameCorner& a, const TFrameCorner& b)
{
    return std::hypot(a.Col - b.Col, a.Row - b.Row);
}

// Angle at corner b between the sides to a and to c, in degrees.
double AngleAt(const TFrameCorner& a, const TFrameCorner& b, const TFrameCorner& c)
{
    const double ux = a.Col - b.Col, uy = a.Row - b.Row, vx = c.Col - b.Col, vy = c.Row - b.Row;
    return Degrees(std::atan2(std::abs(ux * vy - uy * vx), ux * vx + uy * vy));
}

// Whether the line of the side runs on past either of its ends: a frame's
// lines end at its corners. Looked at from just clear of the crossing line,
// over a few pixels (a grid line close inside a frame's side ends a few
// pixels short of the corner) and a few overview pixels.
// With ends, which of its two ends it runs on past (start, end).
bool RunsOn(const TGreyReader& grey, const TSideFit& side, bool alongRows, const TFrameCorner& start,
            const TFrameCorner& end, const TSideFit& atStart, const TSideFit& atEnd, int scale,
            std::array<bool, 2>* ends = nullptr)
{
    constexpr double Short = 5, ShortShare = 0.6, LongShare = 0.5;
    const double reach = 3 * scale + 4;
    // Beyond a crossing side found inside a graduated border, only up to
    // the band: the end of one of its pieces across the line's way is no
    // line running on.
    auto runsFrom = [&](double corner, const TSideFit& crossing, int direction) {
        const double clear = crossing.Width / 2 + 2;
        const double most = crossing.BandGap > 0 ? crossing.BandGap - 1 - clear : reach;
        if (most < 2)
            return false;
        const double from = corner + direction * clear;
        return ShareInked(grey, side, alongRows, from, from + direction * std::min(Short, most), true) >= ShortShare ||
               ShareInked(grey, side, alongRows, from, from + direction * std::min(reach, most), true) >= LongShare;
    };
    if (ends) {
        *ends = {runsFrom(alongRows ? start.Col : start.Row, atStart, -1),
                 runsFrom(alongRows ? end.Col : end.Row, atEnd, 1)};
        return (*ends)[0] || (*ends)[1];
    }
    return runsFrom(alongRows ? start.Col : start.Row, atStart, -1) ||
           runsFrom(alongRows ? end.Col : end.Row, atEnd, 1);
}

// How far the side's line runs on past its corner at u = corner (direction
// -1 before its start, +1 past its end): while half the few pixels ahead
// are inked as a line (a faint line's ink comes and goes), up to most.
double ArmLength(const TGreyReader& grey, const TSideFit& side, bool alongRows, double corner, int direction,
                 double clear, double most)
{
    constexpr double Step = 2, Ahead = 8, LeastShare = 0.5;
    double length = clear;
    while (length + Ahead <= most &&
           ShareInked(grey, side, alongRows, corner + direction * length, corner + direction * (length + Ahead), true) >=
               LeastShare)
        length += Step;
    return length == clear ? clear : length + Ahead / 2;
}

// A rectangle that takes one side from a grid line inside the map's frame
// (the frame's own side too faint beside a tint, a sea up to it, for the
// overview to offer) has the two sides crossing that one run on past it at
// the same end, and only there, out to the frame's side. The rectangle
// with that side through where they end instead, when there is one: the
// arms end short of their reach, and no line of the overview along the
// side taken lies between it and a few overview pixels short of their
// ends (a grid's cell has the next grid line there; the frame's side
// itself, seen along a stretch, lies at their ends).
std::optional<TFrameQuad> FrameOutToArms(const TGreyReader& grey, const TFrameQuad& quad,
                                         const std::array<TSideFit, 4>& sides,
                                         const std::array<TFrameCorner, 4>& corners, int scale,
                                         const std::vector<TFrameLine>& rowLines,
                                         const std::vector<TFrameLine>& columnLines)
{
    std::array<std::array<bool, 2>, 4> ends{};
    RunsOn(grey, sides[sdTop], true, corners[0], corners[1], sides[sdLeft], sides[sdRight], scale, &ends[sdTop]);
    RunsOn(grey, sides[sdBottom], true, corners[3], corners[2], sides[sdLeft], sides[sdRight], scale, &ends[sdBottom]);
    RunsOn(grey, sides[sdLeft], false, corners[0], corners[3], sides[sdTop], sides[sdBottom], scale, &ends[sdLeft]);
    RunsOn(grey, sides[sdRight], false, corners[1], corners[2], sides[sdTop], sides[sdBottom], scale, &ends[sdRight]);
    for (int taken = 0; taken < 4; ++taken) {
        // The crossing sides, the end of theirs at the side taken, and the
        // side opposite it, which ends at its corners.
        const bool alongRows = taken == sdLeft || taken == sdRight; // the crossing sides'
        const int first = alongRows ? sdTop : sdLeft, second = alongRows ? sdBottom : sdRight;
        const int end = taken == sdTop || taken == sdLeft ? 0 : 1;
        const int opposite = taken ^ 1;
        if (!ends[size_t(first)][size_t(end)] || !ends[size_t(second)][size_t(end)] || ends[size_t(opposite)][0] ||
            ends[size_t(opposite)][1])
            continue;
        const int direction = end == 0 ? -1 : 1;
        const double extent = alongRows ? grey.Width() : grey.Height();
        const double clear = sides[size_t(taken)].Width / 2 + 2;
        const TFrameCorner& a = corners[size_t(alongRows ? (end == 0 ? 0 : 1) : (end == 0 ? 0 : 3))];
        const TFrameCorner& b = corners[size_t(alongRows ? (end == 0 ? 3 : 2) : (end == 0 ? 1 : 2))];
        const double fromA = alongRows ? a.Col : a.Row, fromB = alongRows ? b.Col : b.Row;
        const double most = MostArmShare * extent;
        const double lengthA = ArmLength(grey, sides[size_t(first)], alongRows, fromA, direction, clear, most);
        const double lengthB = ArmLength(grey, sides[size_t(second)], alongRows, fromB, direction, clear, most);
        if (std::max(lengthA, lengthB) > most - 8)
            continue;
        // Where the arms end, across the sheet (u along the crossing sides,
        // v across them), in overview pixels.
        const double half = (scale - 1) / 2.0;
        const double uA = fromA + direction * lengthA, uB = fromB + direction * lengthB;
        const double vA = sides[size_t(first)].Line.At(uA), vB = sides[size_t(second)].Line.At(uB);
        if (lengthA < clear + 2 || lengthB < clear + 2 || std::abs(vB - vA) < 1)
            continue;
        TFrameLine line;
        line.CentreX = ((vA + vB) / 2 - half) / scale;
        line.Offset = ((uA + uB) / 2 - half) / scale;
        line.Slope = (uB - uA) / (vB - vA);
        const TFrameLine* old[4] = {&quad.Top, &quad.Bottom, &quad.Left, &quad.Right};
        if (std::abs(line.Slope - old[taken]->Slope) > MostArmSlopeDifference)
            continue;
        const double armV[2] = {(vA - half) / scale, (vB - half) / scale};
        const double armU[2] = {(uA - half) / scale, (uB - half) / scale};
        const bool between = std::any_of(
            (alongRows ? columnLines : rowLines).begin(), (alongRows ? columnLines : rowLines).end(),
            [&](const TFrameLine& other) {
                if (std::abs(other.Slope - old[taken]->Slope) > MostArmSlopeDifference)
                    return false;
                for (int arm = 0; arm < 2; ++arm) {
                    const double at = direction * (other.At(armV[arm]) - old[taken]->At(armV[arm]));
                    if (at >= 1 && at <= direction * (armU[arm] - old[taken]->At(armV[arm])) - 4)
                        return true;
                }
                return false;
            });
        if (between)
            continue;
        TFrameQuad wider = quad;
        TFrameLine* lines[4] = {&wider.Top, &wider.Bottom, &wider.Left, &wider.Right};
        *lines[taken] = line;
        wider.Corners = {Intersection(wider.Top, wider.Left), Intersection(wider.Top, wider.Right),
                         Intersection(wider.Bottom, wider.Right), Intersection(wider.Bottom, wider.Left)};
        wider.RunsToFrame = {};
        return wider;
    }
    return std::nullopt;
}

// Whether the line of the side reaches both its corners, as a frame's lines
// do. A rectangle that takes one side from an outer frame has its other
// sides stop short of that side's corners.
bool ReachesCorners(const TGreyReader& grey, const TSideFit& side, bool alongRows, const TFrameCorner& start,
                    const TFrameCorner& end, const TSideFit& atStart, const TSideFit& atEnd)
{
    constexpr double Short = 5, ReachShare = 0.6;
    const double first = (alongRows ? start.Col : start.Row) + atStart.Width / 2 + 2;
    const double last = (alongRows ? end.Col : end.Row) - atEnd.Width / 2 - 2;
    return ShareInked(grey, side, alongRows, first, first + Short) >= ReachShare &&
           ShareInked(grey, side, alongRows, last - Short, last) >= ReachShare;
}

// The corners at either end of the side, from the sides' lines.
std::pair<TFrameCorner, TFrameCorner> SideCorners(int side, const std::array<TSideFit, 4>& fits)
{
    if (side == sdTop || side == sdBottom)
        return {Corner(fits[size_t(side)], 0, fits[sdLeft], side == sdTop ? 0 : 1),
                Corner(fits[size_t(side)], 1, fits[sdRight], side == sdTop ? 0 : 1)};
    return {Corner(fits[sdTop], side == sdLeft ? 0 : 1, fits[size_t(side)], 0),
            Corner(fits[sdBottom], side == sdLeft ? 0 : 1, fits[size_t(side)], 1)};
}

// Whether the side's line reaches its corners and stops there, as a
// frame's does (or runs on only to an outer frame, as the overview saw).
bool EndsAtCorners(const TGreyReader& grey, int side, const std::array<TSideFit, 4>& fits, int scale,
                   const TFrameQuad& quad)
{
    const bool alongRows = side == sdTop || side == sdBottom;
    const auto [start, end] = SideCorners(side, fits);
    const TSideFit& fit = fits[size_t(side)];
    const TSideFit& atStart = fits[alongRows ? sdLeft : sdTop];
    const TSideFit& atEnd = fits[alongRows ? sdRight : sdBottom];
    return ReachesCorners(grey, fit, alongRows, start, end, atStart, atEnd) &&
           (quad.RunsToFrame[size_t(side)] || !RunsOn(grey, fit, alongRows, start, end, atStart, atEnd, scale));
}

// The line of each side at full resolution. Where a grid line runs beside
// a side, inside or outside it, the profiles may take it for the side, now
// and then or all along: of the lines there, the side is the one that
// reaches its corners and ends at them, the outermost if several do.
std::array<TSideFit, 4> FitSides(const TGreyReader& grey, const TFrameQuad& quad, int scale)
{
    const double half = (scale - 1) / 2.0;
    auto full = [&](const TPointD& p) { return TPointD{scale * p.X + half, scale * p.Y + half}; };
    const TPointD ul = full(quad.Corners[0]), ur = full(quad.Corners[1]), lr = full(quad.Corners[2]),
                  ll = full(quad.Corners[3]);
    const TFrameLine* lines[4] = {&quad.Top, &quad.Bottom, &quad.Left, &quad.Right};
    const double from[4] = {ul.X, ll.X, ul.Y, ur.Y}, to[4] = {ur.X, lr.X, ll.Y, lr.Y};
    std::array<std::optional<TSideFit>, 4> chosen;
    std::array<std::vector<TSideFit>, 4> others;
    std::array<std::optional<TRefusal>, 4> refusals;
    std::array<std::vector<TSideFit>, 4> seen;
    std::array<TSideGuess, 4> guesses;
    for (int side = 0; side < 4; ++side) {
        TSideGuess& guess = guesses[size_t(side)];
        guess.Line = FromOverview(*lines[side], scale, (from[side] + to[side]) / 2);
        guess.Line.Half = std::max(1.0, (to[side] - from[side]) / 2);
        guess.AlongRows = side == sdTop || side == sdBottom;
        guess.Outward = side == sdTop || side == sdLeft ? -1 : 1;
        guess.From = from[side];
        guess.To = to[side];
        // The overview places a line within its block, give or take a block.
        guess.Reach = 1.5 * scale + 2;
    }
    auto fitSide = [&](int side) {
        TSideGuess& guess = guesses[size_t(side)];
        chosen[size_t(side)].reset();
        others[size_t(side)].clear();
        seen[size_t(side)].clear();
        const std::string name = SideNames[side];
        auto doubt = [&](const std::optional<TSideFit>& fit, bool nearGuess = true) -> std::optional<TRefusal> {
            if (!fit)
                return TRefusal("the " + name + " side of the frame cannot be followed at full resolution");
            if (fit->Used < LeastFollowedShare * fit->Profiles)
                return TRefusal("the " + name + " side of the frame shows a clear line along only " +
                                Fixed(100.0 * fit->Used / fit->Profiles, 0) + " % of its length");
            if (fit->Residual > MostResidual)
                return TRefusal("the " + name + " side of the frame is not one smooth line (it strays " +
                                Fixed(fit->Residual, 1) + " pixels)");
            for (const double u : {guess.From, guess.To})
                if (nearGuess && std::abs(fit->Line.At(u) - guess.Line.At(u)) > guess.Reach + 1)
                    return TRefusal("the " + name + " side of the frame lies away from the line the overview shows");
            return std::nullopt;
        };
        TSideLines lines = FitSideLines(grey, guess, LeastSeenShare);
        // A tint up to the side (a sea up to the frame) as dark as a faint
        // neatline hides it in the profiles that cross the tint: the line
        // is looked for again against the ground beside it.
        auto followed = [&](const TSideLines& found) {
            return !doubt(found.Outermost) || !doubt(found.Nearest) ||
                   std::any_of(found.Parallel.begin(), found.Parallel.end(),
                               [&](const TSideFit& line) { return !doubt(line); });
        };
        if (!followed(lines)) {
            guess.OnTint = true;
            TSideLines tinted = FitSideLines(grey, guess, LeastSeenShare);
            if (followed(tinted))
                lines = std::move(tinted);
            else
                guess.OnTint = false;
        }
        refusals[size_t(side)] = doubt(lines.Outermost);
        // Profiles that take now the side, now a line running beside it
        // outside, give a broken or crooked fit: the line the overview
        // found, followed on its own, may be straight all along.
        const std::optional<TSideFit>& fit = refusals[size_t(side)] ? lines.Nearest : lines.Outermost;
        if (!doubt(fit))
            chosen[size_t(side)] = fit;
        for (const TSideFit& line : lines.Parallel) {
            if (!doubt(line))
                others[size_t(side)].push_back(line);
            seen[size_t(side)].push_back(line);
        }
        // The overview may put the side on a graduated border, whose lines
        // break at its pieces: the neatline is the continuous line inside
        // it, beyond the overview's reach.
        if (!chosen[size_t(side)]) {
            std::vector<TSideFit> tried(lines.Parallel);
            for (const std::optional<TSideFit>& fit : {lines.Outermost, lines.Nearest})
                if (fit)
                    tried.push_back(*fit);
            for (const TSideFit& fit : tried) {
                const TGraduatedBorder border = GraduatedBorderBeside(grey, guess, fit);
                if (border.Found && border.Neatline && !doubt(border.Neatline, false)) {
                    chosen[size_t(side)] = border.Neatline;
                    break;
                }
            }
        }
    };
    for (int side = 0; side < 4; ++side)
        fitSide(side);
    // A map line close inside a side along much of it may tilt the
    // overview's line there, so that the side runs out of reach towards one
    // corner: a side with no line of its own is looked for again along the
    // opposite side's direction, from either end of the overview's line.
    for (int side = 0; side < 4; ++side) {
        const int opposite = side ^ 1;
        if (chosen[size_t(side)] || !others[size_t(side)].empty() || !chosen[size_t(opposite)])
            continue;
        const TSideGuess first = guesses[size_t(side)];
        const std::optional<TRefusal> refusal = refusals[size_t(side)];
        const double slope = chosen[size_t(opposite)]->Line.SlopeAt(first.Line.CentreU);
        for (const double end : {first.From, first.To}) {
            TSideGuess& guess = guesses[size_t(side)];
            guess = first;
            guess.Line.Offset = first.Line.At(end) + slope * (first.Line.CentreU - end);
            guess.Line.Slope = slope;
            fitSide(side);
            if (chosen[size_t(side)])
                break;
        }
        if (!chosen[size_t(side)]) {
            guesses[size_t(side)] = first;
            fitSide(side);
            refusals[size_t(side)] = refusal;
        }
    }
    // A side without a line of its own takes one of the others, which needs
    // the crossing sides' lines to tell where its corners are.
    for (int side = 0; side < 4; ++side)
        if (!chosen[size_t(side)] && others[size_t(side)].empty())
            throw *refusals[size_t(side)];
    for (int side = 0; side < 4; ++side)
        if (!chosen[size_t(side)] &&
            (side < sdLeft ? !chosen[sdLeft] || !chosen[sdRight] : !chosen[sdTop] || !chosen[sdBottom]))
            throw *refusals[size_t(side)];
    std::array<TSideFit, 4> fits;
    for (int side = 0; side < 4; ++side)
        fits[size_t(side)] = chosen[size_t(side)] ? *chosen[size_t(side)] : others[size_t(side)].front();
    // Twice round, as a side's choice moves its neighbours' corners.
    for (int round = 0; round < 2; ++round)
        for (int side = 0; side < 4; ++side) {
            if (chosen[size_t(side)] && EndsAtCorners(grey, side, fits, scale, quad))
                continue;
            const TSideFit current = fits[size_t(side)];
            bool replaced = false;
            for (const TSideFit& line : others[size_t(side)]) {
                fits[size_t(side)] = line;
                if (EndsAtCorners(grey, side, fits, scale, quad)) {
                    chosen[size_t(side)] = line;
                    replaced = true;
                    break;
                }
            }
            if (!replaced) {
                if (!chosen[size_t(side)])
                    throw *refusals[size_t(side)];
                fits[size_t(side)] = current;
            }
        }
    // A graduated border beside a side: the neatline is the continuous line
    // just inside its band of black and white pieces, whichever of the
    // band's lines the side was taken on.
    // A neatline printing as one dark run with the band may show so only
    // from another of the lines along the side (the side taken on the
    // band's outer line).
    for (int side = 0; side < 4; ++side) {
        std::vector<TSideFit> bases{fits[size_t(side)]};
        bases.insert(bases.end(), seen[size_t(side)].begin(), seen[size_t(side)].end());
        for (const TSideFit& base : bases) {
            const TGraduatedBorder border = GraduatedBorderBeside(grey, guesses[size_t(side)], base);
            if (border.Found && border.Neatline && (&base == &bases.front() || border.OneRun)) {
                const TSideFit current = fits[size_t(side)];
                fits[size_t(side)] = *border.Neatline;
                if (EndsAtCorners(grey, side, fits, scale, quad))
                    break;
                fits[size_t(side)] = current;
            }
        }
    }
    // A side that runs on past its corners may be a grid line running along
    // the map's frame, and a line just outside it, too faint or too close
    // to follow cleanly, the frame itself.
    for (int side = 0; side < 4; ++side) {
        if (EndsAtCorners(grey, side, fits, scale, quad))
            continue;
        const TSideLine& line = fits[size_t(side)].Line;
        const int outward = side == sdTop || side == sdLeft ? -1 : 1;
        // Such a faint line a few pixels from the grid line is drawn
        // towards it in each profile, so that it is not followed cleanly
        // and seems to run on with it: it is followed between its edges
        // instead, and taken when it then ends at the corners.
        bool outside = false, replaced = false;
        for (const TSideFit& other : seen[size_t(side)]) {
            if (outward * (other.Line.At(line.CentreU) - line.Offset) < 1)
                continue;
            outside = true;
            const std::optional<TSideFit> edges = FollowBetweenEdges(grey, guesses[size_t(side)], other.Line);
            if (!edges || edges->Used < LeastFollowedShare * edges->Profiles || edges->Residual > MostResidual ||
                outward * (edges->Line.At(line.CentreU) - line.Offset) < 1)
                continue;
            const TSideFit current = fits[size_t(side)];
            fits[size_t(side)] = *edges;
            if (EndsAtCorners(grey, side, fits, scale, quad)) {
                replaced = true;
                break;
            }
            fits[size_t(side)] = current;
        }
        if (outside && !replaced)
            throw TRefusal("a line runs just outside the " + std::string(SideNames[side]) +
                           " side of the frame, which may be the map's own frame");
    }
    return fits;
}

void CheckShape(const std::array<TFrameCorner, 4>& c)
{
    const double top = Distance(c[0], c[1]), bottom = Distance(c[3], c[2]);
    const double left = Distance(c[0], c[3]), right = Distance(c[1], c[2]);
    auto direction = [](const TFrameCorner& a, const TFrameCorner& b) { return std::atan2(b.Row - a.Row, b.Col - a.Col); };
    const double skewTopBottom = Degrees(std::abs(direction(c[0], c[1]) - direction(c[3], c[2])));
    const double skewLeftRight = Degrees(std::abs(direction(c[0], c[3]) - direction(c[1], c[2])));
    if (skewTopBottom > MostSkewBetweenOpposites)
        throw TRefusal("the top and bottom sides of the frame are not parallel (they differ by " +
                       Fixed(skewTopBottom, 2) + " degrees)", true);
    if (skewLeftRight > MostSkewBetweenOpposites)
        throw TRefusal("the left and right sides of the frame are not parallel (they differ by " +
                       Fixed(skewLeftRight, 2) + " degrees)", true);
    if (std::abs(top - bottom) > MostLengthDifference * std::max(top, bottom))
        throw TRefusal("the top and bottom sides of the frame differ in length by " +
                       Fixed(100 * std::abs(top - bottom) / std::max(top, bottom), 1) + " %");
    if (std::abs(left - right) > MostLengthDifference * std::max(left, right))
        throw TRefusal("the left and right sides of the frame differ in length by " +
                       Fixed(100 * std::abs(left - right) / std::max(left, right), 1) + " %");
    for (int i = 0; i < 4; ++i) {
        const double angle = AngleAt(c[size_t((i + 3) % 4)], c[size_t(i)], c[size_t((i + 1) % 4)]);
        if (std::abs(angle - 90) > MostCornerSkew)
            throw TRefusal("the frame's " + std::string(FrameCornerNames[i]) + " corner is not square (" +
                           Fixed(angle, 1) + " degrees)");
    }
    const double aspect = (top + bottom) / (left + right);
    if (aspect > MostAspect || aspect < 1 / MostAspect)
        throw TRefusal("the frame's proportions (" + Fixed(aspect, 2) + " : 1) are not those of a map sheet");
}

// The paper's grey within the rectangle: of the overview blocks inside it,
// the commonest grey among the brighter half (the map's blank ground).
double PaperInside(const TFrameOverview& overview, const TFrameQuad& quad)
{
    std::vector<float> inside;
    for (int y = 0; y < overview.Height; ++y)
        for (int x = 0; x < overview.Width; ++x)
            if (InsideQuad(quad.Corners, {double(x), double(y)}))
                inside.push_back(overview.Mean[size_t(y) * overview.Width + x]);
    if (inside.empty())
        return 0;
    const auto middle = inside.begin() + std::ptrdiff_t(inside.size() / 2);
    std::nth_element(inside.begin(), middle, inside.end());
    int histogram[256] = {};
    for (auto v = middle; v != inside.end(); ++v)
        ++histogram[std::clamp(int(std::lround(*v)), 0, 255)];
    return double(std::max_element(histogram, histogram + 256) - histogram);
}

// A thin neatline on a small scan may be too faint to follow while the
// decorative frame a few millimetres outside it is plain: averaged along the
// sides, the neatline still shows as a line at the same gap inside them all
// (a grid line runs at a gap of its own on each side), and the rectangle is
// that outer frame.
// With gapFound, where it refuses: the middle of the gaps at which the line
// shows, pixels in from the sides.
void CheckNoFrameInside(const TGreyReader& grey, const std::array<TSideFit, 4>& sides,
                        const std::array<TFrameCorner, 4>& c, double* gapFound = nullptr)
{
    const double from[4] = {c[0].Col, c[3].Col, c[0].Row, c[1].Row}, to[4] = {c[1].Col, c[2].Col, c[3].Row, c[2].Row};
    std::vector<TLinesInside> inside;
    double mostGap = 0;
    for (int side = 0; side < 4; ++side) {
        const bool alongRows = side == sdTop || side == sdBottom;
        const double extent = MostGapShare * (alongRows ? grey.Height() : grey.Width());
        inside.emplace_back(grey, sides[size_t(side)], alongRows, side == sdTop || side == sdLeft ? -1 : 1,
                            from[side], to[side], extent);
        mostGap = std::max(mostGap, extent);
    }
    // A sea tinted up to the neatline may hide it along a side or two: there
    // the tint's edge at the same gap counts, where the line itself shows
    // along two sides at least.
    constexpr int LeastSidesShowingLine = 2;
    std::string edges;
    bool lineAlone = false;
    double firstGap = -1, lastGap = -1;
    for (double gap = 0; gap <= mostGap; gap += 0.5) {
        const double tolerance = MostGapDeviation * gap + 1;
        int showingLine = 0;
        bool all = true;
        std::string edgeSides;
        for (int side = 0; side < 4; ++side)
            if (inside[size_t(side)].Clearness(gap, tolerance) >= LeastClearness)
                ++showingLine;
            else if (inside[size_t(side)].EdgeClearness(gap, tolerance) >= LeastClearness)
                edgeSides += std::string(edgeSides.empty() ? "" : " and ") + SideNames[side];
            else
                all = false;
        if (!all || showingLine < LeastSidesShowingLine)
            continue;
        // The first run of gaps at which it shows.
        if (firstGap < 0 || lastGap == gap - 0.5) {
            if (firstGap < 0)
                firstGap = gap;
            lastGap = gap;
        }
        if (edgeSides.empty())
            lineAlone = true;
        else if (edges.empty())
            edges = edgeSides;
    }
    if (firstGap >= 0 && gapFound)
        *gapFound = (firstGap + lastGap) / 2;
    if (lineAlone)
        throw TRefusal("a faint line runs inside the frame found, which may be the map's own frame");
    if (!edges.empty())
        throw TRefusal("a faint line runs inside the frame found, which may be the map's own frame, with the edge of "
                       "a tint at the same gap inside its " + edges + " side");
}

// Which side of a rectangle whose sides all run on to the lines of a frame
// round it has a tint beyond it, out to those lines (sdTop .. sdRight), or
// -1 for none. From the overview's block means; paper is the grey of the
// paper inside the rectangle.
int SideWithTintBeyond(const TFrameOverview& overview, const TFrameQuad& quad, double paper)
{
    const TFrameLine* lines[4] = {&quad.Top, &quad.Bottom, &quad.Left, &quad.Right};
    const std::array<TPointD, 4>& c = quad.Corners;
    const double from[4] = {c[0].X, c[3].X, c[0].Y, c[1].Y}, to[4] = {c[1].X, c[2].X, c[3].Y, c[2].Y};
    for (int side = 0; side < 4; ++side) {
        const bool alongRows = side == sdTop || side == sdBottom;
        const int end = side == sdTop || side == sdLeft ? 0 : 1, outward = end == 0 ? -1 : 1;
        // The band's width: how far the crossing sides run on at this end.
        const int first = alongRows ? sdLeft : sdTop, second = alongRows ? sdRight : sdBottom;
        const double width = std::min(quad.Arms[size_t(first)][size_t(end)], quad.Arms[size_t(second)][size_t(end)]);
        if (width < 6)
            continue;
        const double start = from[side] + 2, stop = to[side] - 2;
        int tinted = 0;
        for (int piece = 0; piece < TintPieces; ++piece) {
            // The grey of the piece's lighter tenth between d0 and d1
            // pixels out from the side.
            auto lighterTenth = [&](double d0, double d1) {
                std::vector<float> greys;
                for (int u = int(start + (stop - start) * piece / TintPieces);
                     u < int(start + (stop - start) * (piece + 1) / TintPieces); ++u)
                    for (double d = d0; d <= d1; d += 1) {
                        const int v = int(std::lround(lines[side]->At(u) + outward * d));
                        const int x = alongRows ? u : v, y = alongRows ? v : u;
                        if (x >= 0 && y >= 0 && x < overview.Width && y < overview.Height)
                            greys.push_back(overview.Mean[size_t(y) * overview.Width + x]);
                    }
                if (greys.empty())
                    return 0.0;
                const auto at = greys.begin() + std::ptrdiff_t(greys.size() * 9 / 10);
                std::nth_element(greys.begin(), at, greys.end());
                return double(*at);
            };
            const double band = lighterTenth(2, width - 2);
            const double beside = std::min(paper, std::max(lighterTenth(-width + 2, -2), lighterTenth(width + 3, 2 * width)));
            if (beside - band > LeastTintDrop)
                ++tinted;
        }
        if (tinted >= LeastTintedPieces)
            return side;
    }
    return -1;
}

// The rectangle of the lines that the sides of the quad run on to, one a
// like gap (a pixel at least) outside each side; none when some side has
// no such line.
std::optional<TFrameQuad> QuadAtArmEnds(const TFrameQuad& quad, const std::vector<TFrameLine>& rowLines,
                                        const std::vector<TFrameLine>& columnLines, int width, int height)
{
    constexpr double Tolerance = 3;
    const TFrameLine* sides[4] = {&quad.Top, &quad.Bottom, &quad.Left, &quad.Right};
    const std::array<TPointD, 4>& c = quad.Corners;
    const double from[4] = {c[0].X, c[3].X, c[0].Y, c[1].Y}, to[4] = {c[1].X, c[2].X, c[3].Y, c[2].Y};
    std::array<const TFrameLine*, 4> found{};
    for (int side = 0; side < 4; ++side) {
        const bool alongRows = side == sdTop || side == sdBottom;
        const int end = side == sdTop || side == sdLeft ? 0 : 1, outward = end == 0 ? -1 : 1;
        const int first = alongRows ? sdLeft : sdTop, second = alongRows ? sdRight : sdBottom;
        const double shortest = std::min(quad.Arms[size_t(first)][size_t(end)], quad.Arms[size_t(second)][size_t(end)]);
        const double longest = std::max(quad.Arms[size_t(first)][size_t(end)], quad.Arms[size_t(second)][size_t(end)]);
        const double middle = (from[side] + to[side]) / 2;
        double nearest = std::numeric_limits<double>::max();
        for (const TFrameLine& line : alongRows ? rowLines : columnLines) {
            if (std::abs(line.Slope - sides[side]->Slope) > MostArmSlopeDifference)
                continue;
            const double gap = outward * (line.At(middle) - sides[side]->At(middle));
            // Outward by a pixel at least, so that trying the wider
            // rectangle in its turn ends.
            if (gap >= std::max(shortest - Tolerance, 1.0) && gap <= longest + Tolerance && gap < nearest) {
                nearest = gap;
                found[size_t(side)] = &line;
            }
        }
        if (!found[size_t(side)])
            return std::nullopt;
    }
    const TFrameLine &t = *found[0], &b = *found[1], &l = *found[2], &r = *found[3];
    TFrameQuad wider{t, b, l, r, {Intersection(t, l), Intersection(t, r), Intersection(b, r), Intersection(b, l)}, {}, {}};
    MarkRunsToFrame(wider, rowLines, columnLines, width, height);
    return wider;
}

// The corners of the rectangle at full resolution and the bows of its
// sides, or a refusal saying why they are not a map frame's.
TMapFrame ConfirmFrame(const TGreyReader& grey, const TFrameOverview& overview,
                                         const TFrameQuad& quad, const std::vector<TFrameLine>* rowLines = nullptr,
                                         const std::vector<TFrameLine>* columnLines = nullptr,
                                         double outerGap = 0);

// The rectangle gap pixels inside each side of the quad, in the overview.
TFrameQuad QuadInside(const TFrameQuad& quad, double gap, int scale)
{
    TFrameQuad inner = quad;
    TFrameLine* lines[4] = {&inner.Top, &inner.Bottom, &inner.Left, &inner.Right};
    for (int side = 0; side < 4; ++side) {
        const int inward = side == sdTop || side == sdLeft ? 1 : -1;
        lines[side]->Offset += inward * gap / scale * std::hypot(1.0, lines[side]->Slope);
    }
    inner.Corners = {Intersection(inner.Top, inner.Left), Intersection(inner.Top, inner.Right),
                     Intersection(inner.Bottom, inner.Right), Intersection(inner.Bottom, inner.Left)};
    inner.RunsToFrame = {};
    return inner;
}

TMapFrame ConfirmFrame(const TGreyReader& grey, const TFrameOverview& overview, const TFrameQuad& quad,
                       const std::vector<TFrameLine>* rowLines, const std::vector<TFrameLine>* columnLines,
                       double outerGap)
{
    const int scale = overview.Scale;
    // A rectangle whose sides all run on to a frame round it, with a tint
    // beyond a side: the grid's outermost lines, whose arms end at the
    // map's frame, which the tint hid from the overview's rectangles.
    if (outerGap == 0 && rowLines && columnLines &&
        std::all_of(quad.RunsToFrame.begin(), quad.RunsToFrame.end(), [](bool runs) { return runs; }))
        if (const int tinted = SideWithTintBeyond(overview, quad, PaperInside(overview, quad)); tinted >= 0) {
            if (const std::optional<TFrameQuad> wider =
                    QuadAtArmEnds(quad, *rowLines, *columnLines, overview.Width, overview.Height)) {
                try {
                    return ConfirmFrame(grey, overview, *wider, rowLines, columnLines);
                } catch (const TRefusal&) {
                    // Refused for the rectangle found, as below.
                }
            }
            throw TRefusal("a tint lies beyond the " + std::string(SideNames[tinted]) +
                           " side of the frame found, out to the lines its neighbours run on to: it may be the "
                           "rectangle of a grid's outermost lines inside the map's frame", true);
        }
    const std::array<TSideFit, 4> sides = FitSides(grey, quad, scale);
    // Beyond a frame's side lies paper; the shadow of the paper's edge on a
    // white scanner lid is a line with the brighter lid beyond it.
    constexpr double LidAbovePaper = 6;
    const double paper = PaperInside(overview, quad);
    for (int side = 0; side < 4; ++side)
        if (sides[size_t(side)].Beyond > paper + LidAbovePaper)
            throw TRefusal("beyond the " + std::string(SideNames[side]) +
                           " side lies the scanner's lid, not paper: it is the edge of the sheet");
    std::array<double, 4> fromFit{};
    const std::array<TFrameCorner, 4> corners = {
        Corner(sides[sdTop], 0, sides[sdLeft], 0, &fromFit[0]), Corner(sides[sdTop], 1, sides[sdRight], 0, &fromFit[1]),
        Corner(sides[sdBottom], 1, sides[sdRight], 1, &fromFit[2]),
        Corner(sides[sdBottom], 0, sides[sdLeft], 1, &fromFit[3])};
    CheckShape(corners);
    // What the lines' own scatter leaves uncertain; the misfit of a curve
    // to a real side is stated, not refused.
    for (int i = 0; i < 4; ++i)
        if (fromFit[size_t(i)] > MostSigma)
            throw TRefusal("the frame's " + std::string(FrameCornerNames[i]) + " corner is uncertain (" +
                           Fixed(fromFit[size_t(i)], 2) + " pixels)");
    const bool reaches[4] = {
        ReachesCorners(grey, sides[sdTop], true, corners[0], corners[1], sides[sdLeft], sides[sdRight]),
        ReachesCorners(grey, sides[sdBottom], true, corners[3], corners[2], sides[sdLeft], sides[sdRight]),
        ReachesCorners(grey, sides[sdLeft], false, corners[0], corners[3], sides[sdTop], sides[sdBottom]),
        ReachesCorners(grey, sides[sdRight], false, corners[1], corners[2], sides[sdTop], sides[sdBottom])};
    for (int side = 0; side < 4; ++side)
        if (!reaches[side])
            throw TRefusal("the " + std::string(SideNames[side]) + " side of the frame stops short of its corners", true);
    // A grid line may happen to run along one side; lines running on past
    // the corners of two sides or more make a grid's rectangle, not a frame.
    bool runsOn[4] = {
        !quad.RunsToFrame[sdTop] && RunsOn(grey, sides[sdTop], true, corners[0], corners[1], sides[sdLeft], sides[sdRight], scale),
        !quad.RunsToFrame[sdBottom] && RunsOn(grey, sides[sdBottom], true, corners[3], corners[2], sides[sdLeft], sides[sdRight], scale),
        !quad.RunsToFrame[sdLeft] && RunsOn(grey, sides[sdLeft], false, corners[0], corners[3], sides[sdTop], sides[sdBottom], scale),
        !quad.RunsToFrame[sdRight] && RunsOn(grey, sides[sdRight], false, corners[1], corners[2], sides[sdTop], sides[sdBottom], scale)};
    // Inside an outer frame found outerGap pixels outside it, the sides may
    // run on as rules across the margin out to that frame and end there.
    if (outerGap > 0) {
        constexpr double BeyondOuter = 6;
        const double from[4] = {corners[0].Col, corners[3].Col, corners[0].Row, corners[1].Row},
                     to[4] = {corners[1].Col, corners[2].Col, corners[3].Row, corners[2].Row};
        for (int side = 0; side < 4; ++side) {
            if (!runsOn[side])
                continue;
            const bool alongRows = side < 2;
            const TSideFit& a = sides[alongRows ? sdLeft : sdTop];
            const TSideFit& b = sides[alongRows ? sdRight : sdBottom];
            const double most = outerGap + 2 * BeyondOuter;
            runsOn[side] =
                ArmLength(grey, sides[size_t(side)], alongRows, from[side], -1, a.Width / 2 + 2, most) > outerGap + BeyondOuter ||
                ArmLength(grey, sides[size_t(side)], alongRows, to[side], 1, b.Width / 2 + 2, most) > outerGap + BeyondOuter;
        }
    }
    if (std::count(runsOn, runsOn + 4, true) > 1) {
        const TRefusal refusal("the lines found run on past the corners of more than one side, as a grid's do", true);
        if (rowLines && columnLines)
            if (const std::optional<TFrameQuad> wider =
                    FrameOutToArms(grey, quad, sides, corners, scale, *rowLines, *columnLines)) {
                try {
                    return ConfirmFrame(grey, overview, *wider);
                } catch (const TRefusal&) {
                    // Refused for the rectangle found, as before.
                }
            }
        throw refusal;
    }
    // The faint line inside, when it can be followed at full resolution
    // all round (too faint a line for the overview to offer), is the map's
    // frame, and this one an outer frame round it.
    double gap = -1;
    try {
        CheckNoFrameInside(grey, sides, corners, outerGap == 0 ? &gap : nullptr);
    } catch (const TRefusal&) {
        if (gap > 0) {
            try {
                return ConfirmFrame(grey, overview, QuadInside(quad, gap, scale), nullptr, nullptr, gap);
            } catch (const TRefusal&) {
                // Refused for the rectangle found, as before.
            }
        }
        throw;
    }
    TMapFrame frame;
    frame.Found = true;
    frame.Corners = corners;
    frame.Bow = {BowOf(sides[sdTop].Line, corners[0].Col, corners[1].Col),
                 BowOf(sides[sdBottom].Line, corners[3].Col, corners[2].Col),
                 BowOf(sides[sdLeft].Line, corners[0].Row, corners[3].Row),
                 BowOf(sides[sdRight].Line, corners[1].Row, corners[2].Row)};
    return frame;
}

bool SameCorners(const std::array<TPointD, 4>& a, const std::array<TPointD, 4>& b)
{
    for (size_t i = 0; i < 4; ++i)
        if (std::hypot(a[i].X - b[i].X, a[i].Y - b[i].Y) > 0.5)
            return false;
    return true;
}

std::optional<TMapFrame> ConfirmedOrNot(const TGreyReader& grey, const TFrameOverview& overview,
                                                          const TFrameQuad& quad)
{
    try {
        return ConfirmFrame(grey, overview, quad);
    } catch (const TRefusal&) {
        return std::nullopt;
    }
}

} // namespace

TMapFrame FindMapFrame(const TBitmap& bitmap)
{
    TMapFrame frame;
    try {
        if (bitmap.Width() < 32 || bitmap.Height() < 32)
            throw TRefusal("the image is too small to hold a map frame");
        const TGreyReader grey(bitmap);
        const int scale = FrameOverviewScale(bitmap.Width(), bitmap.Height());
        const TFrameOverview overview = BuildFrameOverview(grey, scale);
        const std::vector<TFrameLine> rowLines =
            FindLongLines(overview.RowLines, overview.Width, overview.Height, LongLineShare);
        const std::vector<TFrameLine> columnLines =
            FindLongLines(overview.ColumnLines, overview.Height, overview.Width, LongLineShare);
        std::string reason;
        const std::vector<TFrameQuad> quads =
            RankFrameQuads(rowLines, columnLines, overview.Width, overview.Height, reason);
        if (quads.empty())
            throw TRefusal(reason);

        // The likeliest rectangle that the full resolution confirms, unless
        // it holds one tried before it that may be a frame, or frames one
        // that is not: taking an outer frame for the map's would be a guess.
        std::optional<TRefusal> first;
        std::vector<const TFrameQuad*> refused, notFrames;
        std::vector<std::array<TPointD, 4>> triedInside;
        auto holdsRefused = [&](const TFrameQuad& quad) {
            return std::any_of(refused.begin(), refused.end(),
                               [&](const TFrameQuad* inner) { return Holds(quad.Corners, inner->Corners); });
        };
        auto framesNotFrame = [&](const TFrameQuad& quad) {
            return std::any_of(notFrames.begin(), notFrames.end(), [&](const TFrameQuad* inner) {
                return FramesRound(quad.Corners, inner->Corners, overview.Width, overview.Height);
            });
        };
        // The frame inside an outer frame along three of its sides at one
        // gap, the fourth side drawn at that gap where the overview shows no
        // line (a sea tinted up to a faint neatline), once, when it holds
        // nothing refused and no frame of its own lies inside it in turn.
        auto insideThreeSides = [&](const TFrameQuad& quad) -> std::optional<TMapFrame> {
            if (FrameInside(quad, rowLines, columnLines, overview.Width, overview.Height))
                return std::nullopt;
            const std::optional<TFrameQuad> inner =
                FrameInsideThreeSides(quad, rowLines, columnLines, overview.Width, overview.Height);
            if (!inner || holdsRefused(*inner) || framesNotFrame(*inner) ||
                std::any_of(triedInside.begin(), triedInside.end(),
                            [&](const std::array<TPointD, 4>& tried) { return SameCorners(tried, inner->Corners); }) ||
                FrameInside(*inner, rowLines, columnLines, overview.Width, overview.Height))
                return std::nullopt;
            triedInside.push_back(inner->Corners);
            return ConfirmedOrNot(grey, overview, *inner);
        };
        for (const TFrameQuad& quad : quads) {
            if (framesNotFrame(quad))
                continue;
            if (holdsRefused(quad)) {
                // A rectangle taking one side from an outer frame and the
                // others from the map's is refused, and the outer frame
                // holding it is not tried; the frame of its own inside
                // that one, at one gap from all four sides, still may be.
                const std::optional<TFrameQuad> inner =
                    FrameInside(quad, rowLines, columnLines, overview.Width, overview.Height);
                if (inner && !holdsRefused(*inner) && !framesNotFrame(*inner) &&
                    std::none_of(triedInside.begin(), triedInside.end(),
                                 [&](const std::array<TPointD, 4>& tried) { return SameCorners(tried, inner->Corners); }) &&
                    !FrameInside(*inner, rowLines, columnLines, overview.Width, overview.Height)) {
                    triedInside.push_back(inner->Corners);
                    if (const auto confirmed = ConfirmedOrNot(grey, overview, *inner))
                        return *confirmed;
                }
                if (const auto confirmed = insideThreeSides(quad))
                    return *confirmed;
                continue;
            }
            try {
                if (const std::optional<TFrameQuad> inner =
                        FrameInside(quad, rowLines, columnLines, overview.Width, overview.Height)) {
                    // The map's content runs up to the inner of the two:
                    // it bounds the map when it makes a frame of its own
                    // with none inside it in turn.
                    if (!FrameInside(*inner, rowLines, columnLines, overview.Width, overview.Height))
                        if (const auto confirmed = ConfirmedOrNot(grey, overview, *inner))
                            return *confirmed;
                    throw TRefusal("another frame lies just inside the one found, and which of them bounds the map "
                                   "is not clear");
                }
                return ConfirmFrame(grey, overview, quad, &rowLines, &columnLines);
            } catch (const TRefusal& refusal) {
                // An outer frame refused, with the map's frame inside it
                // along three sides and the fourth hidden from the overview.
                if (!refusal.NotFrame)
                    if (const auto confirmed = insideThreeSides(quad))
                        return *confirmed;
                if (!first)
                    first = refusal;
                (refusal.NotFrame ? notFrames : refused).push_back(&quad);
            }
        }
        throw *first;
    } catch (const TRefusal& refusal) {
        frame = TMapFrame{};
        frame.Refusal = "No map frame found: " + refusal.Text + ".";
    }
    return frame;
}
