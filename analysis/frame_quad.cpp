#include "analysis/frame_quad.h"

#include <algorithm>
#include <cmath>
#include <optional>

TPointD Intersection(const TFrameLine& alongRows, const TFrameLine& alongColumns)
{
    // y = a + b (x - cx) and x = c + d (y - cy)
    const double a = alongRows.Offset, b = alongRows.Slope, cx = alongRows.CentreX;
    const double c = alongColumns.Offset, d = alongColumns.Slope, cy = alongColumns.CentreX;
    const double x = (c + d * (a - b * cx - cy)) / (1 - d * b);
    return {x, a + b * (x - cx)};
}

namespace {

// Past a corner a line "runs on" when it is inked along at least this share
// of the few pixels from RunFrom to RunTo beyond it: a frame's lines stop
// there, a grid line or the next frame's line carries on. Further out the
// next frame may already cross, a few millimetres away.
constexpr double RunsOnShare = 0.6;
constexpr double RunFrom = 2, RunTo = 4;
// A side must be inked along this share of its length between its corners.
constexpr double SideInkedShare = 0.7;
// The frame spans at least this share of the sheet's width and height.
constexpr double LeastSpan = 0.3;
// A rectangle whose lines seem to run on past its corners is still worth a
// look at full resolution when at most this many of its eight arms do: a
// grid's cell has all eight.
constexpr long MostDoubtfulArms = 4;
// Those must be inked along this share of the few pixels inside each corner.
constexpr double ReachShare = 0.6, ReachLength = 4;
// The gap between a decorative frame and the map's is a few millimetres:
// more than a double line's, less than three hundredths of the sheet.
constexpr double LeastFrameGap = 3, MostFrameGapShare = 0.03;
// On a small sheet the gap takes a larger share: a frame round a rectangle
// that is not one is looked for out to this share, to be safe.
constexpr double MostFrameRoundShare = 0.08;
// The sides of a neatline may run on as rules across the margin out to the
// outer frame, through the corner labels: on a small sheet with a wide
// margin, up to this share of its width or height.
constexpr double MostArmShare = 0.2;
// Opposite sides are parallel (a grid line turned against the frame is not
// one of them): their slopes differ by less than that of half a degree.
constexpr double MostSlopeDifference = 0.0087;

// Where a line along the rows meets one along the columns, and which of
// their four arms run on from there.
struct TJunction {
    TPointD Point;
    bool Left, Right, Up, Down;
};

double Area(const std::array<TPointD, 4>& p)
{
    double twice = 0;
    for (int i = 0; i < 4; ++i) {
        const TPointD& a = p[size_t(i)];
        const TPointD& b = p[size_t((i + 1) % 4)];
        twice += a.X * b.Y - b.X * a.Y;
    }
    return std::abs(twice) / 2;
}

} // namespace

namespace {

// Whether the line, inked on past the corner at u = at in the direction
// (+1 or -1), ends at the first crossing line beyond it (an outer frame's:
// at either of a double frame's two lines, the nearer of which the overview
// may not show there), within a frame's gap: crossings holds where the
// lines across it cross it.
std::optional<double> RunsToLineBeyond(const TFrameLine& line, double at, int direction,
                                       const std::vector<double>& crossings, double extent)
{
    constexpr double Window = 4, LeastInked = 0.5, Tolerance = 2.5, DoubleFrame = 8;
    const double most = MostArmShare * extent;
    double end = RunFrom;
    while (end < most + Window &&
           line.NearCoverage(at + direction * end, at + direction * (end + Window)) >= LeastInked)
        end += 1;
    end += Window / 2;
    if (end > most)
        return std::nullopt;
    std::optional<double> capped;
    for (const double c : crossings) {
        const double d = direction * (c - at);
        if (d <= RunFrom)
            continue;
        if (d >= end - Tolerance && d <= end + DoubleFrame)
            capped = std::min(d, capped.value_or(d));
        else if (d < end - DoubleFrame)
            return std::nullopt; // crosses a line and runs on, as a grid's does
    }
    return capped;
}

} // namespace

void MarkRunsToFrame(TFrameQuad& quad, const std::vector<TFrameLine>& rowLines,
                     const std::vector<TFrameLine>& columnLines, int width, int height)
{
    auto crossingsOf = [&](const TFrameLine& line, bool alongRows) {
        std::vector<double> at;
        for (const TFrameLine& other : alongRows ? columnLines : rowLines) {
            const TPointD p = alongRows ? Intersection(line, other) : Intersection(other, line);
            // Only where the line across is inked on both sides of the
            // junction (at the junction itself the two lines blur into each
            // other): a line that crosses it.
            const double across = alongRows ? p.Y : p.X;
            if (other.NearCoverage(across - 8, across - 3) >= 0.5 && other.NearCoverage(across + 3, across + 8) >= 0.5)
                at.push_back(alongRows ? p.X : p.Y);
        }
        return at;
    };
    quad.RunsToFrame = {};
    quad.Arms = {};
    std::vector<double> arms;
    const TFrameLine* sides[4] = {&quad.Top, &quad.Bottom, &quad.Left, &quad.Right};
    // The side's two ends, as u along it, from the corners.
    const std::array<TPointD, 4>& c = quad.Corners;
    const double from[4] = {c[0].X, c[3].X, c[0].Y, c[1].Y}, to[4] = {c[1].X, c[2].X, c[3].Y, c[2].Y};
    for (int side = 0; side < 4; ++side) {
        const bool alongRows = side < 2;
        const std::vector<double> crossings = crossingsOf(*sides[side], alongRows);
        const double extent = alongRows ? width : height;
        auto endRuns = [&](double at, int direction) {
            return sides[side]->NearCoverage(at + direction * RunFrom, at + direction * RunTo) >= RunsOnShare;
        };
        if (!endRuns(from[side], -1) || !endRuns(to[side], 1))
            return;
        for (const int direction : {-1, 1}) {
            const std::optional<double> arm =
                RunsToLineBeyond(*sides[side], direction < 0 ? from[side] : to[side], direction, crossings, extent);
            if (!arm)
                return;
            arms.push_back(*arm);
        }
    }
    // All eight arms reach the lines of one frame round the rectangle, a
    // like gap out (grid lines crossing a frame's side to an outer frame
    // make a rectangle with arms of two lengths).
    constexpr double MostArmRatio = 1.35, ArmTolerance = 2;
    const auto [shortest, longest] = std::minmax_element(arms.begin(), arms.end());
    if (*longest <= MostArmRatio * *shortest + ArmTolerance) {
        quad.RunsToFrame = {true, true, true, true};
        for (size_t side = 0; side < 4; ++side)
            quad.Arms[side] = {arms[2 * side], arms[2 * side + 1]};
    }
}

bool InsideQuad(const std::array<TPointD, 4>& quad, const TPointD& p)
{
    constexpr double Tolerance = 1;
    for (int i = 0; i < 4; ++i) {
        const TPointD& a = quad[size_t(i)];
        const TPointD& b = quad[size_t((i + 1) % 4)];
        // Corners run clockwise on the image (y down): inside is to the right.
        const double length = std::hypot(b.X - a.X, b.Y - a.Y);
        if (((b.X - a.X) * (p.Y - a.Y) - (b.Y - a.Y) * (p.X - a.X)) / length < -Tolerance)
            return false;
    }
    return true;
}

bool FramesRound(const std::array<TPointD, 4>& outer, const std::array<TPointD, 4>& inner, int width, int height)
{
    if (!Holds(outer, inner))
        return false;
    int framed = 0;
    for (int i = 0; i < 4; ++i) {
        const TPointD& a = outer[size_t(i)];
        const TPointD& b = outer[size_t((i + 1) % 4)];
        const double length = std::hypot(b.X - a.X, b.Y - a.Y);
        auto inside = [&](const TPointD& p) { return ((b.X - a.X) * (p.Y - a.Y) - (b.Y - a.Y) * (p.X - a.X)) / length; };
        const double gap = std::min(inside(inner[size_t(i)]), inside(inner[size_t((i + 1) % 4)]));
        // The top and bottom sides lie apart across the sheet's height.
        const double extent = i % 2 == 0 ? height : width;
        if (gap >= LeastFrameGap && gap <= MostFrameRoundShare * extent)
            ++framed;
    }
    return framed >= 2;
}

bool Holds(const std::array<TPointD, 4>& outer, const std::array<TPointD, 4>& inner)
{
    return std::all_of(inner.begin(), inner.end(), [&](const TPointD& p) { return InsideQuad(outer, p); });
}

std::vector<TFrameQuad> RankFrameQuads(const std::vector<TFrameLine>& rowLines,
                                       const std::vector<TFrameLine>& columnLines, int width, int height,
                                       std::string& reason)
{
    if (rowLines.size() < 2 || columnLines.size() < 2) {
        reason = "the sheet has no long straight lines that could be its sides";
        return {};
    }
    // Sides are measured from a few pixels inside their corners, clear of
    // the crossing line.
    const double gap = 3;
    const size_t rows = rowLines.size(), columns = columnLines.size();
    std::vector<TJunction> junctions(rows * columns);
    for (size_t i = 0; i < rows; ++i)
        for (size_t k = 0; k < columns; ++k) {
            const TFrameLine& h = rowLines[i];
            const TFrameLine& v = columnLines[k];
            TJunction& j = junctions[i * columns + k];
            j.Point = Intersection(h, v);
            // Marks within two pixels count, so that a line whose marks
            // come and go beside the other line of a double frame runs on.
            auto runsOn = [&](const TFrameLine& line, double at, double direction) {
                return line.NearCoverage(at + direction * RunFrom, at + direction * RunTo) >= RunsOnShare;
            };
            j.Left = runsOn(h, j.Point.X, -1);
            j.Right = runsOn(h, j.Point.X, 1);
            j.Up = runsOn(v, j.Point.Y, -1);
            j.Down = runsOn(v, j.Point.Y, 1);
        }
    auto junction = [&](size_t i, size_t k) -> const TJunction& { return junctions[i * columns + k]; };

    std::vector<TFrameQuad> valid;
    // Rectangles whose lines seem to run on past a few of their corners in
    // the overview, where a line a pixel or two beside a frame's side (a
    // grid line through the margin, say) looks like its continuation. Only
    // the full resolution tells them from a grid's, so they come last.
    struct TDoubtful {
        TFrameQuad Quad;
        long RunningArms;
        double Area;
    };
    std::vector<TDoubtful> doubtful;
    for (size_t top = 0; top < rows; ++top)
        for (size_t bottom = 0; bottom < rows; ++bottom) {
            if (rowLines[bottom].At(width / 2.0) - rowLines[top].At(width / 2.0) < LeastSpan * height ||
                std::abs(rowLines[top].Slope - rowLines[bottom].Slope) > MostSlopeDifference)
                continue;
            for (size_t left = 0; left < columns; ++left) {
                const TJunction& ul = junction(top, left);
                const TJunction& ll = junction(bottom, left);
                if (columnLines[left].Coverage(ul.Point.Y + gap, ll.Point.Y - gap) < SideInkedShare)
                    continue;
                for (size_t right = 0; right < columns; ++right) {
                    const TJunction& ur = junction(top, right);
                    const TJunction& lr = junction(bottom, right);
                    if (std::min(ur.Point.X - ul.Point.X, lr.Point.X - ll.Point.X) < LeastSpan * width ||
                        std::abs(columnLines[left].Slope - columnLines[right].Slope) > MostSlopeDifference)
                        continue;
                    const TFrameLine &t = rowLines[top], &b = rowLines[bottom], &l = columnLines[left],
                                     &r = columnLines[right];
                    if (t.Coverage(ul.Point.X + gap, ur.Point.X - gap) < SideInkedShare ||
                        b.Coverage(ll.Point.X + gap, lr.Point.X - gap) < SideInkedShare ||
                        r.Coverage(ur.Point.Y + gap, lr.Point.Y - gap) < SideInkedShare)
                        continue;
                    // The sides whose lines run on past a corner: none for a
                    // map frame, or one where a grid line happens to run along it.
                    const bool runsOn[4] = {ul.Left || ur.Right, ll.Left || lr.Right, ul.Up || ll.Down,
                                            ur.Up || lr.Down};
                    TFrameQuad quad{t, b, l, r, {ul.Point, ur.Point, lr.Point, ll.Point}, {}};
                    MarkRunsToFrame(quad, rowLines, columnLines, width, height);
                    int running = 0;
                    for (int side = 0; side < 4; ++side)
                        running += runsOn[side] && !quad.RunsToFrame[size_t(side)] ? 1 : 0;
                    if (running <= 1) {
                        valid.push_back(quad);
                        continue;
                    }
                    const bool arms[8] = {ul.Left, ul.Up, ur.Right, ur.Up, lr.Right, lr.Down, ll.Left, ll.Down};
                    const long runningArms = std::count(arms, arms + 8, true);
                    // A frame's sides reach its corners; lines of two
                    // frames, or a grid line ending at the map's frame, stop
                    // short of where they meet another frame's.
                    auto reaches = [&](const TFrameLine& line, double from, double to) {
                        return line.Coverage(from + gap, from + gap + ReachLength) >= ReachShare &&
                               line.Coverage(to - gap - ReachLength, to - gap) >= ReachShare;
                    };
                    if (runningArms <= MostDoubtfulArms && reaches(t, ul.Point.X, ur.Point.X) &&
                        reaches(b, ll.Point.X, lr.Point.X) && reaches(l, ul.Point.Y, ll.Point.Y) &&
                        reaches(r, ur.Point.Y, lr.Point.Y))
                        doubtful.push_back({quad, runningArms, Area(quad.Corners)});
                }
            }
        }

    struct TRanked {
        const TFrameQuad* Quad;
        bool Innermost; // holds no other
        long Held;      // how many others hold it
        double Area;
    };
    std::vector<TRanked> ranked;
    for (const TFrameQuad& candidate : valid) {
        TRanked r{&candidate, true, 0, Area(candidate.Corners)};
        for (const TFrameQuad& other : valid) {
            if (&other == &candidate)
                continue;
            if (Holds(candidate.Corners, other.Corners))
                r.Innermost = false;
            if (Holds(other.Corners, candidate.Corners))
                ++r.Held;
        }
        ranked.push_back(r);
    }
    // A rectangle that takes a side from a line running across the map or
    // from the paper's edge overlaps the frame and few hold it.
    std::sort(ranked.begin(), ranked.end(), [](const TRanked& a, const TRanked& b) {
        if (a.Innermost != b.Innermost)
            return a.Innermost;
        if (a.Innermost)
            return a.Held != b.Held ? a.Held > b.Held : a.Area > b.Area;
        return a.Area < b.Area;
    });
    constexpr size_t MostCandidates = 12, MostDoubtful = 12;
    std::vector<TFrameQuad> quads;
    for (size_t i = 0; i < ranked.size() && i < MostCandidates; ++i)
        quads.push_back(*ranked[i].Quad);
    // Those with the fewest running arms first, then from the inside out.
    std::sort(doubtful.begin(), doubtful.end(), [](const TDoubtful& a, const TDoubtful& b) {
        return a.RunningArms != b.RunningArms ? a.RunningArms < b.RunningArms : a.Area < b.Area;
    });
    for (size_t i = 0; i < doubtful.size() && i < MostDoubtful; ++i)
        quads.push_back(doubtful[i].Quad);
    if (quads.empty())
        reason = "its long straight lines close into no frame";
    return quads;
}

namespace {

// Much the same gap on every side: grid lines inside a map's frame lie at
// any distance from it.
constexpr double MostGapRatio = 1.35;

// The nearest long line inside a side of a rectangle, parallel to it and
// inked along it between the crossing sides, and its distance from the
// side (at the side's middle); none when there is none.
struct TInside {
    const TFrameLine* Line = nullptr;
    double Gap = 0;
};

TInside NearestInside(const TFrameLine& side, int inward, bool alongRows, const TFrameLine& first,
                      const TFrameLine& second, double extent, const std::vector<TFrameLine>& rowLines,
                      const std::vector<TFrameLine>& columnLines)
{
    TInside nearest;
    for (const TFrameLine& line : alongRows ? rowLines : columnLines) {
        if (std::abs(line.Slope - side.Slope) > MostSlopeDifference)
            continue;
        const TPointD a = alongRows ? Intersection(line, first) : Intersection(first, line);
        const TPointD b = alongRows ? Intersection(line, second) : Intersection(second, line);
        const double from = alongRows ? a.X : a.Y, to = alongRows ? b.X : b.Y;
        const double middle = (from + to) / 2;
        const double gap = inward * (line.At(middle) - side.At(middle));
        if (gap < LeastFrameGap || gap > MostFrameGapShare * extent)
            continue;
        if (line.Coverage(std::min(from, to) + gap + 3, std::max(from, to) - gap - 3) < SideInkedShare)
            continue;
        if (!nearest.Line || gap < nearest.Gap)
            nearest = {&line, gap};
    }
    return nearest;
}

// The nearest line inside each side of the rectangle: top, bottom, left, right.
std::array<TInside, 4> NearestInside(const TFrameQuad& quad, const std::vector<TFrameLine>& rowLines,
                                     const std::vector<TFrameLine>& columnLines, int width, int height)
{
    return {NearestInside(quad.Top, 1, true, quad.Left, quad.Right, height, rowLines, columnLines),
            NearestInside(quad.Bottom, -1, true, quad.Left, quad.Right, height, rowLines, columnLines),
            NearestInside(quad.Left, 1, false, quad.Top, quad.Bottom, width, rowLines, columnLines),
            NearestInside(quad.Right, -1, false, quad.Top, quad.Bottom, width, rowLines, columnLines)};
}

} // namespace

std::optional<TFrameQuad> FrameInside(const TFrameQuad& quad, const std::vector<TFrameLine>& rowLines,
                                      const std::vector<TFrameLine>& columnLines, int width, int height)
{
    const std::array<TInside, 4> inside = NearestInside(quad, rowLines, columnLines, width, height);
    double smallest = inside[0].Gap, largest = inside[0].Gap;
    for (const TInside& side : inside) {
        if (!side.Line)
            return std::nullopt;
        smallest = std::min(smallest, side.Gap);
        largest = std::max(largest, side.Gap);
    }
    if (largest > MostGapRatio * smallest)
        return std::nullopt;
    const TFrameLine &t = *inside[0].Line, &b = *inside[1].Line, &l = *inside[2].Line, &r = *inside[3].Line;
    TFrameQuad inner{t, b, l, r, {Intersection(t, l), Intersection(t, r), Intersection(b, r), Intersection(b, l)}, {}};
    MarkRunsToFrame(inner, rowLines, columnLines, width, height);
    return inner;
}

std::optional<TFrameQuad> FrameInsideThreeSides(const TFrameQuad& quad, const std::vector<TFrameLine>& rowLines,
                                                const std::vector<TFrameLine>& columnLines, int width, int height)
{
    // The three gaps agree within a tenth and an overview pixel; the fourth
    // side's nearest line, if any, lies clearly further in (a grid line).
    constexpr double GapShare = 0.1, GapTolerance = 1, FurtherIn = 3;
    const std::array<TInside, 4> inside = NearestInside(quad, rowLines, columnLines, width, height);
    if (std::count_if(inside.begin(), inside.end(), [](const TInside& side) { return side.Line != nullptr; }) < 3)
        return std::nullopt;
    for (int drawn = 0; drawn < 4; ++drawn) {
        double smallest = 0, largest = 0, sum = 0;
        bool all = true;
        for (int side = 0; side < 4; ++side) {
            if (side == drawn)
                continue;
            const TInside& here = inside[size_t(side)];
            if (!here.Line) {
                all = false;
                break;
            }
            smallest = sum == 0 ? here.Gap : std::min(smallest, here.Gap);
            largest = std::max(largest, here.Gap);
            sum += here.Gap;
        }
        if (!all || largest - smallest > GapShare * smallest + GapTolerance)
            continue;
        const double gap = sum / 3;
        const TInside& missing = inside[size_t(drawn)];
        if (missing.Line && missing.Gap < gap + FurtherIn)
            continue;
        TFrameQuad inner = quad;
        TFrameLine* lines[4] = {&inner.Top, &inner.Bottom, &inner.Left, &inner.Right};
        for (int side = 0; side < 4; ++side)
            if (side != drawn)
                *lines[side] = *inside[size_t(side)].Line;
        // The side drawn: its rectangle's side moved in by the gap, parallel
        // to it, inked nowhere as far as the overview knows.
        TFrameLine& line = *lines[drawn];
        line.Offset += (drawn == 0 || drawn == 2 ? 1 : -1) * gap;
        const size_t length = size_t(drawn < 2 ? width : height) + 1;
        line.Inked.assign(length, 0);
        line.Near.assign(length, 0);
        inner.Corners = {Intersection(inner.Top, inner.Left), Intersection(inner.Top, inner.Right),
                         Intersection(inner.Bottom, inner.Right), Intersection(inner.Bottom, inner.Left)};
        inner.RunsToFrame = {};
        return inner;
    }
    return std::nullopt;
}
