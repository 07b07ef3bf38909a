#pragma once
// A grid crossing measured where the lattice says it lies: both lines'
// directions are known there, so each is fitted along its own strip (the
// other's band left out) over most of the way to the next crossing, longer
// than a snap looks, and the crossing is where the two fits meet. For
// crossings the snap cannot take alone: thin, faint or broken lines on a
// low-resolution or busy scan.
#include <optional>

class TBitmap;

struct TGridCrossingGuess {
    double X = 0, Y = 0;           // predicted position
    double AlongX = 0, AlongY = 0; // unit direction of the row-wise line there
    double DownX = 0, DownY = 0;   // of the column-wise line
    double Reach = 40;             // of each fit along its line, pixels either side
    // The two lines' width and blur (row-wise line first) where a neighbour
    // on each measured them: with the position and directions known to a
    // fraction of a pixel, each line is then fitted once, from there. 0: not known.
    double Width[2] = {0, 0};
    double Blur[2] = {0, 0};
};

struct TMeasuredCrossing {
    double X = 0, Y = 0;
    double Sigma = 0; // standard error along either axis, pixels
    double Width[2] = {0, 0}; // of the row-wise and the column-wise line
    double Blur[2] = {0, 0};
};

// Nothing when either line is not there on both sides of the crossing, turns
// away from the direction given, or cannot be measured to a quarter pixel.
std::optional<TMeasuredCrossing> MeasureGridCrossing(const TBitmap& bitmap, const TGridCrossingGuess& guess);
