#pragma once
// Synthetic scanned map sheets with known map-frame corners: a map whose
// content runs up to a thin inner neatline, a decorative outer frame a few
// millimetres outside it, margin text, a grid, on paper that lies turned
// and scaled a little differently along the scanner's axes, with folds,
// stains, a torn edge, on a dark or white scanner lid, blurred and noisy.
// Lines are drawn by exact area coverage (sheet_canvas.h).
#include "bench/sheet_canvas.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

enum TOuterFrameKind { okNone, okSingle, okDouble, okGraduated };

struct TSheetPlan {
    uint32_t Seed = 1;
    // The neatline's centre line, millimetres on the paper.
    double FrameWidthMm = 150;
    double FrameHeightMm = 110;
    double Dpi = 120;             // along the scanner's x
    double StretchY = 1;          // the scanner's y scale over its x scale
    double RotationDegrees = 0;
    double NeatlineMm = 0.25;
    TOuterFrameKind OuterFrame = okSingle;
    double OuterGapMm = 6;        // from the neatline to the outer frame
    double OuterWidthMm = 0.8;
    double MarginMm = 20;         // paper beyond the outer frame
    double ScanBeyondMm = 30;     // scanned beyond the outer frame (less than the margin: the paper is cut off)
    bool DarkBackground = false;
    double GridSpacingMm = 30;    // 0: no grid
    double GridAngleDegrees = 0;  // against the frame
    bool GridAcrossFrame = false; // grid lines run on through the margin to the outer frame
    double GridWidthMm = 0.12;
    double ContentDensity = 1;    // 0: an empty map
    int Folds = 0;                // 0, 1 or 2
    double FoldShiftPx = 0.3;     // how far the paper beyond a fold lies displaced
    int Stains = 0;
    double TearMm = 0;            // depth of a tear in one edge of the paper
    double BlurPx = 0.6;
    double Noise = 3;             // grey levels, standard deviation
    bool Grey = false;            // an 8-bit grey scan instead of 24-bit colour
    bool NoFrame = false;         // only the map's content, no frame at all
    // Paper that is not flat: how far the neatline's top, bottom, left and
    // right sides bow off their chords at their middles, mm (positive
    // towards the paper's larger y or x); their corners stay where they are.
    std::array<double, 4> SideBowMm{};
    // A graduated border right outside the neatline, as national series
    // print it: a band BorderGapMm to BorderGapMm + BorderWidthMm outside
    // the neatline's centre, in pieces BorderPieceMm long, alternately
    // black and white, between two thin lines. 0: none.
    double BorderWidthMm = 0;
    double BorderGapMm = 0.5;
    double BorderPieceMm = 4;
    // A tint (a sea in blue) filling the map up to the neatline along the
    // sides of these bits (1 top, 2 bottom, 4 left, 8 right), in from a
    // wavy coast a few centimetres inside, over the whole side or a stretch
    // from one of its corners. 0: none.
    int FillSides = 0;
    // A second line a few pixels inside a side (0 top, 1 bottom, 2 left,
    // 3 right; -1: none): MergeGapMm inside it at one corner, running in
    // to merge with it MergeShare of the way along.
    int MergeSide = -1;
    double MergeGapMm = 0.5;
    double MergeShare = 0.5;
    bool MergeFromEnd = false; // from the side's far corner (larger x or y)
    // The neatline's sides run on past its corners as rules across the
    // margin, out to the outer frame's innermost line (the corner labels
    // printed between them).
    bool RulesToOuterFrame = false;
};

struct TSheet {
    std::unique_ptr<TBitmap> Bitmap;
    // Where the neatline's centre lines meet: upper left, upper right, lower
    // right, lower left, in scan pixels (integers at pixel centres).
    std::array<TSheetPoint, 4> Corners;
};

TSheet DrawSheet(const TSheetPlan& plan);

// A sheet of every kind the finder meets, drawn from the seed, at about
// the given size in megapixels.
TSheetPlan RandomSheetPlan(uint32_t seed, double megapixels);

// Bows the neatline's sides of a third of the sheets (by the plan's seed),
// each side its own way, up to 0.3 % of its length off its chord.
void AddPaperBow(TSheetPlan& plan);

// The variations that real sheets show beside a frame's sides.
enum TSheetVariation { svNone, svGraduatedBorder, svFillToFrame, svMergingLine };
extern const char* const SheetVariationNames[4];

// Gives a quarter of the sheets (by the plan's seed) each one of the
// variations, sized in the plan's pixels: a graduated border 3 to 18
// pixels outside the neatline, a sea tint up to it on one to three sides,
// or a second line 2 to 6 pixels inside a side merging with it. Returns
// the variation given.
TSheetVariation AddSheetVariation(TSheetPlan& plan);

// The plan in one line, for reports.
std::string DescribeSheet(const TSheetPlan& plan);
