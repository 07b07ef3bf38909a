#pragma once
// One side of the map frame at full resolution: the line's centre found to
// a fraction of a pixel in many short cross-profiles along the side, read
// from the bitmap a few pixels at a time, and a straight line fitted through
// them with the profiles that disagree left out.
#include "analysis/frame_grey.h"

#include <Eigen/Core>

#include <optional>
#include <vector>

// A line given as v = Offset + Slope * (u - CentreU), where u runs along
// the side (the column for the top and bottom sides, the row for the left
// and right ones) and v across it, in scan pixels (integers at pixel centres).
struct TSideLine {
    double Offset = 0;
    double Slope = 0;
    double CentreU = 0;
    double At(double u) const { return Offset + Slope * (u - CentreU); }
};

struct TSideGuess {
    TSideLine Line;         // where the overview puts the side
    bool AlongRows = true;  // top or bottom side
    int Outward = -1;       // the sign of v towards the sheet's margin
    double From = 0, To = 0; // u at its two corners
    double Reach = 4;       // how far from Line the side may lie, pixels
};

struct TSideFit {
    TSideLine Line;
    Eigen::Matrix2d Covariance; // of Offset and Slope
    int Profiles = 0;           // cross-profiles read
    int Used = 0;               // profiles the line was fitted to
    double Residual = 0;        // RMS distance of those from the line, pixels
    double Darkness = 0;        // usual darkness of the line below the paper, grey levels
    double Width = 0;           // usual width of its darker half, pixels
    double Beyond = 0;          // usual grey a few pixels outside it
};

// The lines along a side, from one reading of its cross-profiles.
struct TSideLines {
    // The line each profile takes at first is the outermost of the strong
    // ones (a grid line may run close inside a frame's side); Nearest takes
    // the one nearest the guess instead (when another line runs along the
    // side a little way outside it, through the margin). Nullopt when too
    // few profiles show a line where the guess puts it.
    std::optional<TSideFit> Outermost;
    std::optional<TSideFit> Nearest;
    // Every line within reach of the guess (a grid line may run beside a
    // frame's side, inside or outside it), each followed on its own along
    // at least leastShare of the profiles: outermost first.
    std::vector<TSideFit> Parallel;
};

TSideLines FitSideLines(const TGreyReader& grey, const TSideGuess& guess, double leastShare);

// Share of the cross-profiles from u = from to u = to (beyond the side's
// end, say) with ink where the fit puts the line, half as dark as the line
// is along the side or darker: whether the line, or anything as dark, runs
// there.
double ShareInked(const TGreyReader& grey, const TSideFit& side, bool alongRows, double from, double to);

