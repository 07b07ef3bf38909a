#pragma once
// A grid printed only as ticks in the margin, just outside the neatline:
// its lines are had by joining each tick to the one opposite it across the
// face (top to bottom, left to right), and its crossings are where those
// lines meet. Each tick is found to sub-pixel along its side from the ink of
// a band just outside the neatline; the line through a pair is taken as
// straight, so the crossings are as good as the paper is flat. Only ticks
// that pair one to one (as many on opposite sides, each side at a steady
// step, the steps of opposite sides alike) make a lattice.
#include "analysis/grid_finder.h"

#include <optional>
#include <string>

struct TGridFace;

struct TTickGrid {
    std::optional<TGrid> Grid; // numbered, when the ticks make a lattice
    // When they do not: why, as a clause ("the ticks in the margin do not
    // pair up ..."), or as a sentence of its own when the known crossing
    // was found among the ticks' lines; empty when no ticks were seen at all.
    std::string Refusal;
    bool KnownFound = false;
};

// The face must be a map frame found on the sheet. The known crossing of
// the request (and the second, when given) is the tick lines' crossing
// nearest where it was picked, within `radius` pixels.
TTickGrid GridFromTicks(const TBitmap& bitmap, const TGridFace& face, const TGridRequest& request, double radius);
