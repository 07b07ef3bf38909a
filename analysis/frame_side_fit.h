#pragma once
// One side of the map frame at full resolution: the line's centre found to
// a fraction of a pixel in many short cross-profiles along the side, read
// from the bitmap a few pixels at a time, and a smooth curve (a cubic along
// the side) fitted through them with the profiles that disagree left out.
#include "analysis/frame_grey.h"

#include <Eigen/Core>

#include <array>
#include <optional>
#include <vector>

// A side given as v = Offset + Slope * (u - CentreU) + Bend2 * t^2 +
// Bend3 * t^3 with t = (u - CentreU) / Half, where u runs along the side
// (the column for the top and bottom sides, the row for the left and right
// ones) and v across it, in scan pixels (integers at pixel centres). Paper
// is not flat: a side bows a few pixels off its chord, which the bends
// follow; they are zero for a straight line.
struct TSideLine {
    double Offset = 0;
    double Slope = 0;
    double CentreU = 0;
    double Bend2 = 0;
    double Bend3 = 0;
    double Half = 1; // half the side's length along u
    double At(double u) const
    {
        const double t = (u - CentreU) / Half;
        return Offset + Slope * (u - CentreU) + (Bend2 + Bend3 * t) * t * t;
    }
    // dv / du at u.
    double SlopeAt(double u) const
    {
        const double t = (u - CentreU) / Half;
        return Slope + (2 * Bend2 + 3 * Bend3 * t) * t / Half;
    }
};

struct TSideGuess {
    TSideLine Line;         // where the overview puts the side
    bool AlongRows = true;  // top or bottom side
    int Outward = -1;       // the sign of v towards the sheet's margin
    double From = 0, To = 0; // u at its two corners
    double Reach = 4;       // how far from Line the side may lie, pixels
    // A tint filled up to the side (a sea up to the frame) may be as dark
    // as a faint line: the line is looked for against the lighter ground a
    // few pixels either side of it, and a tint darker than half the line
    // still counts as a tint when the line is a clear step darker.
    bool OnTint = false;
};

struct TSideFit {
    TSideLine Line;
    Eigen::Matrix4d Covariance; // of Offset, Slope, Bend2 and Bend3
    // The side near its start (smallest u) and its end, fitted there alone:
    // where the corners lie.
    std::array<TSideLine, 2> Ends;
    std::array<Eigen::Matrix4d, 2> EndCovariance;
    // How far the profiles' medians near each end stray from the curve
    // there at most, pixels: what the curve misses of the real line (a bow
    // too slight to be fitted, a curl at the corner), beyond the noise the
    // covariance counts.
    std::array<double, 2> EndMisfit{};
    int Profiles = 0;           // cross-profiles read
    int Used = 0;               // profiles the line was fitted to
    double Residual = 0;        // RMS distance of those from the curve, pixels
    double Darkness = 0;        // usual darkness of the line below the paper, grey levels
    double Width = 0;           // usual width of its darker half, pixels
    double Beyond = 0;          // usual grey a few pixels outside it
    // How far outside the line a graduated border's band begins, pixels,
    // when the line was found inside one; 0 when none.
    double BandGap = 0;
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

// A graduated border beside a side's line: a band of pieces alternately
// black and white a few pixels outside the neatline (or the line taken
// being one of the band's own edges), and the neatline inside it.
struct TGraduatedBorder {
    bool Found = false;
    double InnerEdge = 0; // how far outside the line taken the band's pieces begin, pixels (negative: inside)
    double Share = 0;     // share of the profiles across a black piece
    // The continuous line nearest inside the band, when there is one.
    std::optional<TSideFit> Neatline;
    // Whether that line prints as one dark run with the band, whose pieces
    // then seem to begin at its inner edge.
    bool OneRun = false;
};

// Looks across the side's line fit, up to about 24 pixels either way.
TGraduatedBorder GraduatedBorderBeside(const TGreyReader& grey, const TSideGuess& guess, const TSideFit& fit);

// Share of the cross-profiles from u = from to u = to (beyond the side's
// end, say) with ink where the fit puts the line, half as dark as the line
// is along the side or darker: whether the line, or anything as dark, runs
// there. With lineOnly the ink counts only as a line, with lighter ground
// on either side: the edge of a dark area (a graduated border's black
// piece beyond a corner) is no line running on.
double ShareInked(const TGreyReader& grey, const TSideFit& side, bool alongRows, double from, double to,
                  bool lineOnly = false);

// The line near line (within a pixel and a half of it) followed along the
// side with each profile's centre midway between its two edges: a faint
// line a few pixels from another (a grid line beside a neatline) keeps its
// own place where a centroid is drawn towards the other.
std::optional<TSideFit> FollowBetweenEdges(const TGreyReader& grey, const TSideGuess& guess, const TSideLine& line);
