#pragma once
// Synthetic sheets with a printed grid or graticule and every crossing's
// true position: grids turned against the frame, dashed, interrupted by
// lettering and fills, faint over colour, curved graticules whose meridians
// converge and whose parallels are arcs, lines that stop at the neatline,
// roads crossing the grid lines, a line left out, paper distortion, grids
// printed only as ticks in the margin, a second grid turned a little over
// the first. Drawn by
// exact area coverage (sheet_canvas.h), blurred and noisy.
#include "bench/sheet_canvas.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct TGridSheetPlan {
    uint32_t Seed = 1;
    int Width = 1200;
    int Height = 900;
    double Step = 150;          // pixels between lines, both ways
    double TurnDegrees = 0;     // the grid against the frame and the image
    bool Graticule = false;     // meridians to an apex above the sheet, parallels arcs round it
    double ApexDistance = 30000; // from the sheet's centre to the apex, pixels
    bool Dashed = false;
    bool Lettering = false;     // blocks of strokes over the lines
    bool Fills = false;         // coloured areas under the lines
    bool Faint = false;         // the lines a pale colour
    int Roads = 0;              // thick lines crossing the grid near crossings
    bool MissingLine = false;   // one line of constant East not printed
    double Distortion = 0;      // paper distortion, pixels at most
    bool Frame = true;          // a neatline and outer frame; the grid stops at the neatline
    bool MarginTicks = false;   // no lines over the face: each only a tick outside the neatline
    // Lines of a second grid in red over the first's lines of constant
    // East (a yard grid over a graticule's meridians): their step, pixels
    // (0: none), turned this far against the first, one of them running
    // this far beside the crossing one step north of the known one, where
    // the first's line is broken (lettering over it).
    double SecondStep = 0;
    double SecondTurnDegrees = 2.7;
    double SecondOffset = 12;
    double LineWidth = 1.5;
    double Blur = 0.7;
    double Noise = 3;
};

struct TGridTruth {
    int East = 0; // lattice place from the known crossing (east right, north up)
    int North = 0;
    double X = 0; // true position, pixel centres at integers
    double Y = 0;
    bool Printed = true;   // both its lines are printed there
    bool Crossed = false;  // a road crosses a grid line within a few pixels
};

struct TGridSheet {
    std::unique_ptr<TBitmap> Bitmap;
    std::vector<TGridTruth> Crossings; // inside the face; the known crossing (0, 0) first
    // Where a place of the lattice lies (continuous, east and north in steps).
    std::function<TSheetPoint(double east, double north)> Place;
    // The face the lines fill: upper left, upper right, lower right, lower left.
    std::array<TSheetPoint, 4> Face;
};

TGridSheet DrawGridSheet(const TGridSheetPlan& plan);

// One line, for reports.
std::string DescribeGridPlan(const TGridSheetPlan& plan);
