#pragma once
// Whether a crossing lies on a grid line as the line is followed from a
// crossing known to lie on it. From the start the line is tracked in short
// stations towards the crossing: at each, a profile across the line is read
// where the stations before put it, and the ridge nearest that place (a
// line of ink, not the edge of a fill) moves the track. The track's last
// stretch, carried on to the crossing, says how far the crossing lies beside
// the line. A crossing the snap took where another line crosses (a line of
// another grid a few pixels beside this one's, a road) lies beside the line
// followed by as much; one the neighbour check cannot tell in a lattice of
// a few crossings.
#include "analysis/grid_spacing.h"

#include <optional>
#include <vector>

class TBitmap;

struct TLineFollowed {
    // Distance of the end from the line as followed, pixels, signed (to
    // the left of the way followed positive), and its standard error.
    double Offset = 0;
    double Sigma = 0;
    int Stations = 0; // where the line was found
};

// Follows the line from `from` to `to` (both crossings, on the line if all
// is right), setting out in the direction `heading` (the grid's line there,
// as the lattice around `from` gives it; a unit vector) and turning from it
// only as far as the line found does. `between` holds places of crossings
// on the way (left out of the stations, as are both ends). Nothing when the
// line is not found along enough of the way, or not near the end, to tell.
std::optional<TLineFollowed> FollowGridLine(const TBitmap& bitmap, TGridPoint from, TGridPoint to, TGridPoint heading,
                                            const std::vector<TGridPoint>& between = {});
