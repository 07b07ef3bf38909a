#pragma once
// The map frame of a scanned sheet: the four corners of its inner neatline,
// the thin line where the map's content ends (a heavier decorative frame
// often runs a few millimetres outside it, with the margin's text beyond).
// The sheet may lie turned by up to a dozen degrees and be scaled a little
// differently along its two axes.
//
// The frame is first looked for on a reduced copy built row by row from the
// bitmap; each side is then followed at full resolution in short
// cross-profiles and fitted as a straight line, and the corners are where
// the lines meet. When the four do not make a plausible frame the finder
// says why instead of guessing.
#include "platform/bitmap.h"

#include <array>
#include <string>

struct TFrameCorner {
    double Col = 0; // pixel position; integers are pixel centres
    double Row = 0;
    double Sigma = 0; // standard error of each coordinate, pixels
};

// Upper left, upper right, lower right, lower left, as the image lies.
enum TFrameCornerIndex { fcUpperLeft, fcUpperRight, fcLowerRight, fcLowerLeft };
extern const char* const FrameCornerNames[4]; // "UL", "UR", "LR", "LL"
extern const char* const FrameSideNames[4];   // "top", "bottom", "left", "right"

struct TMapFrame {
    bool Found = false;
    std::array<TFrameCorner, 4> Corners{};
    // How far each side (top, bottom, left, right) bows off the straight
    // chord between its corners at most, pixels: positive towards larger
    // rows (top, bottom) or columns (left, right). Paper is not flat.
    std::array<double, 4> Bow{};
    // When not found: why, as a sentence for the user.
    std::string Refusal;
};

TMapFrame FindMapFrame(const TBitmap& bitmap);
