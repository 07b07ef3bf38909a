#include "analysis/frame_quad.h"

#include <algorithm>
#include <cmath>

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
                    if (std::count(runsOn, runsOn + 4, true) > 1)
                        continue;
                    valid.push_back({t, b, l, r, {ul.Point, ur.Point, lr.Point, ll.Point}});
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
    constexpr size_t MostCandidates = 12;
    std::vector<TFrameQuad> quads;
    for (size_t i = 0; i < ranked.size() && i < MostCandidates; ++i)
        quads.push_back(*ranked[i].Quad);
    if (quads.empty())
        reason = "its long straight lines close into no frame";
    return quads;
}

bool HasFrameInside(const TFrameQuad& quad, const std::vector<TFrameLine>& rowLines,
                    const std::vector<TFrameLine>& columnLines, int width, int height)
{
    // The gap between a decorative frame and the map's is a few millimetres:
    // more than a double line's, less than three hundredths of the sheet,
    // and much the same on every side (grid lines inside a map's frame lie
    // at any distance from it).
    constexpr double LeastGap = 3, MostGapShare = 0.03, MostGapRatio = 1.35;
    // The nearest long line inside the side, parallel to it and inked along
    // it between the crossing sides; 0 when there is none.
    auto gapInside = [&](const TFrameLine& side, int inward, bool alongRows, const TFrameLine& first,
                         const TFrameLine& second, double extent) {
        double nearest = 0;
        for (const TFrameLine& line : alongRows ? rowLines : columnLines) {
            if (std::abs(line.Slope - side.Slope) > MostSlopeDifference)
                continue;
            const TPointD a = alongRows ? Intersection(line, first) : Intersection(first, line);
            const TPointD b = alongRows ? Intersection(line, second) : Intersection(second, line);
            const double from = alongRows ? a.X : a.Y, to = alongRows ? b.X : b.Y;
            const double middle = (from + to) / 2;
            const double gap = inward * (line.At(middle) - side.At(middle));
            if (gap < LeastGap || gap > MostGapShare * extent)
                continue;
            if (line.Coverage(std::min(from, to) + gap + 3, std::max(from, to) - gap - 3) < SideInkedShare)
                continue;
            if (nearest == 0 || gap < nearest)
                nearest = gap;
        }
        return nearest;
    };
    const double gaps[4] = {gapInside(quad.Top, 1, true, quad.Left, quad.Right, height),
                            gapInside(quad.Bottom, -1, true, quad.Left, quad.Right, height),
                            gapInside(quad.Left, 1, false, quad.Top, quad.Bottom, width),
                            gapInside(quad.Right, -1, false, quad.Top, quad.Bottom, width)};
    const double smallest = *std::min_element(gaps, gaps + 4), largest = *std::max_element(gaps, gaps + 4);
    return smallest > 0 && largest <= MostGapRatio * smallest;
}
