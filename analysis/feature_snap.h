#pragma once
// Snapping a picked position to the printed feature under it: the crossing
// of two straight lines (a grid or graticule crossing), or the corner where
// two lines meet and one or both end (a map-frame corner, a T or an L), to a
// small fraction of a pixel, with its standard error.
//
// Positions are pixel positions as in the world file: integer values are
// pixel centres. Only a window around the position is read from the bitmap.
// When nothing trustworthy lies within the radius the answer is "nothing":
// a wrong snap is worse than none.
#include <optional>
#include <string>
#include <vector>

class TBitmap;

enum class TFeatureKind { Crossing, Corner };
// What a snap may land on.
enum class TSnapTarget { Any, Crossing, Corner };

struct TSnapOptions {
    double Radius = 12; // image pixels around the position
    TSnapTarget Target = TSnapTarget::Any;
};

// The largest radius a snap looks within, pixels.
constexpr double MaxSnapRadius = 64;

struct TSnappedFeature {
    TFeatureKind Kind = TFeatureKind::Crossing;
    double Column = 0;
    double Row = 0;
    // Standard error of the position along either axis (the root mean
    // square of the column's and the row's), pixels: the pixels' noise,
    // and what it does not show, the lines' waviness along their length,
    // the misfit of their profile across it and the pull of another line
    // passing within a few pixels.
    double Sigma = 0;
    // Directions in which the lines leave the feature, degrees from the
    // column axis towards increasing rows, 0 to 360: four for a crossing,
    // three for a T, two for an L.
    std::vector<double> Arms;
};

// The feature within options.Radius of (column, row), or nothing. Raises
// Exception for a radius that is not above 0 and at most MaxSnapRadius.
std::optional<TSnappedFeature> SnapToFeature(
    const TBitmap& bitmap, double column, double row, const TSnapOptions& options = {});

// For finders that know roughly where a corner is (the map frame): the
// corner within radius of (column, row), refined on its two lines.
std::optional<TSnappedFeature> RefineCorner(const TBitmap& bitmap, double column, double row, double radius);

// "crossing" or "corner".
const char* FeatureKindName(TFeatureKind kind);

// What the workbench shows after a snap: "crossing, ±0.04 px" (the standard
// error, two decimals, at least 0.01) or "nothing to snap to".
std::string SnapSummary(const std::optional<TSnappedFeature>& feature);
