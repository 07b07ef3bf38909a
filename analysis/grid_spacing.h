#pragma once
// The spacing of a printed grid in pixels, measured along one of its lines:
// the lines of the other family cross it at steady steps. Ink is gathered
// in two short bands beside the line (one either side, the line itself left
// out), each band's slowly changing background taken away; a crossing line
// inks both bands at once, lettering beside the line mostly only one. The
// steps are then the period at which that signal peaks, compared as a share
// of the known crossing's own line so that a heavier second grid (a
// graticule under a kilometre grid) counts no more than a line of the grid.
#include <optional>
#include <vector>

class TBitmap;

struct TGridPoint {
    double X = 0; // column
    double Y = 0; // row
};

struct TGridFace; // grid_face.h

struct TSpacingProbe {
    TGridPoint Origin;  // the known crossing
    TGridPoint Along;   // unit direction of the line followed
    TGridPoint Across;  // unit direction of the lines that cross it
    double MinSpacing = 30;
};

struct TMeasuredSpacing {
    double Pixels = 0; // distance between neighbouring crossings along the line
    double Score = 0;  // share of the expected crossings seen, 0 to 1
    int Seen = 0;      // crossings that inked both bands
    // Lines of a second grid crossing the same line off this step's places
    // (a dense red grid over a sparser one): their own step, and how many
    // were seen. 0: none. Set on the likeliest step only.
    double RivalPixels = 0;
    int RivalSeen = 0;
};

// Nothing when fewer than two crossings are seen at a steady step.
std::optional<TMeasuredSpacing> MeasureSpacing(const TBitmap& bitmap, const TGridFace& face, const TSpacingProbe& probe);
// The likeliest step first, then another that the crossings seen also fit
// (few lines on a sheet leave room for doubt), for the lattice to settle.
std::vector<TMeasuredSpacing> MeasureSpacings(const TBitmap& bitmap, const TGridFace& face, const TSpacingProbe& probe);
