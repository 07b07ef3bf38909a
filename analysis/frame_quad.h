#pragma once
// Which four of the long lines of an overview bound the map: the innermost
// rectangle of lines that end where they meet (a map frame's corners are
// L-shaped, while grid lines cross each other or run on to the frame), whose
// sides are inked along most of their length and which spans a good part of
// the sheet.
#include "analysis/frame_lines.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

struct TPointD {
    double X = 0;
    double Y = 0;
};

struct TFrameQuad {
    // In overview pixels: top and bottom from the lines along the rows,
    // left and right from the lines along the columns (whose "x" is the
    // overview row and whose "y" the overview column).
    TFrameLine Top, Bottom, Left, Right;
    // Upper left, upper right, lower right, lower left.
    std::array<TPointD, 4> Corners;
    // Top, bottom, left, right: whether the side's line runs on past its
    // corners only out to the first line beyond (an outer frame a few
    // millimetres away), as many series print the neatline's sides, so that
    // each corner is a cross rather than an L. A grid line runs on across
    // the lines beyond.
    std::array<bool, 4> RunsToFrame{};
    // When it does, how far each side's line runs on past its start (the
    // smaller column or row) and its end to that line, overview pixels.
    std::array<std::array<double, 2>, 4> Arms{};
};

// Fills in quad.RunsToFrame from the long lines of the overview.
void MarkRunsToFrame(TFrameQuad& quad, const std::vector<TFrameLine>& rowLines,
                     const std::vector<TFrameLine>& columnLines, int width, int height);

// The rectangles that may be the map frame, the likeliest first: the
// innermost of nested frames (those that hold no other, the one most others
// hold first), then the others from the inside out, then a few whose lines
// seem to run on past some of their corners. Empty, with why in reason,
// when there are none.
std::vector<TFrameQuad> RankFrameQuads(const std::vector<TFrameLine>& rowLines,
                                       const std::vector<TFrameLine>& columnLines, int width, int height,
                                       std::string& reason);

// The frame of its own a little way inside the rectangle (the map's, when
// the rectangle is a decorative outer frame): on each side the nearest long
// line parallel to it, at like distances on all four. None when some side
// has no such line or the distances differ.
std::optional<TFrameQuad> FrameInside(const TFrameQuad& quad, const std::vector<TFrameLine>& rowLines,
                                      const std::vector<TFrameLine>& columnLines, int width, int height);

// The frame of its own inside the rectangle along three of its sides, the
// nearest long line inside each at one gap, where the fourth side shows no
// long line at that gap (a sea tinted up to a faint neatline hides it from
// the overview, a grid line may run further in): that side drawn at the
// same gap inside the rectangle's, parallel to it. None when no side is
// missing so.
std::optional<TFrameQuad> FrameInsideThreeSides(const TFrameQuad& quad, const std::vector<TFrameLine>& rowLines,
                                                const std::vector<TFrameLine>& columnLines, int width, int height);

// Whether the point lies inside the rectangle (give or take a pixel).
bool InsideQuad(const std::array<TPointD, 4>& quad, const TPointD& p);

// Whether outer holds inner: every corner of inner inside outer (give or
// take a pixel).
bool Holds(const std::array<TPointD, 4>& outer, const std::array<TPointD, 4>& inner);

// Whether outer holds inner with two sides or more a frame's gap (a few
// millimetres) outside inner's: a frame round it, unlike a rectangle that
// shares sides with it or holds it far out.
bool FramesRound(const std::array<TPointD, 4>& outer, const std::array<TPointD, 4>& inner, int width, int height);

// Where a line along the rows meets a line along the columns.
TPointD Intersection(const TFrameLine& alongRows, const TFrameLine& alongColumns);
