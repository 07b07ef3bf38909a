#pragma once
// Fitting one printed straight line to the pixels of a window, to a small
// fraction of a pixel.
//
// The pixels in a strip along the line are cut into short bins along it.
// Each bin has its own paper level and its own ink amplitude, so that dashes,
// uneven ink and shading cost nothing; the line's direction, offset, width
// and blur are shared and found by Levenberg-Marquardt steps on the
// residuals left after the per-bin levels (variable projection). Pixels far
// off the model lose their weight (Tukey's biweight), bins whose centre
// stands apart from the rest (a symbol touching the line) are left out, and
// bins without ink take no part in the geometry. The standard errors come
// from the fit's own residuals.
#include "analysis/line_seeds.h"

#include <vector>

struct TDarknessWindow;

// A strip of the window a fit leaves out: where another line lies. A line
// running alongside the fitted one (Alongside) takes the pixels nearer to it
// than to the fitted line instead, so that each keeps its own flanks.
struct TBandMask {
    TStraightLine Line;
    double HalfWidth = 0;
    bool Alongside = false;
};

struct TLineFitRequest {
    // The point t = 0 along the line; offsets and their errors are
    // reported there (window coordinates).
    double OriginX = 0;
    double OriginY = 0;
    TStraightLine Start;
    double Width = 2; // first guesses
    double Blur = 1;
    std::vector<TBandMask> Masks;
    // Whether the bins before (t < 0) and after (t > 0) the origin may
    // shape the geometry; amplitudes are reported for both either way.
    bool UseBefore = true;
    bool UseAfter = true;
    // Pixels farther along the line from the origin are left out.
    double Reach = 1e9;
    // A rough fit (a Gaussian profile, fewer steps) finds a line from a
    // first guess; only a full fit measures it.
    bool Rough = false;
    // The start is a full fit of this line already (from a nearby origin,
    // or with other sides): two rounds, no search from afar.
    bool Warm = false;
    // When above 0, the standard errors take the width and blur as known to
    // about this many pixels beforehand: where the pixels cannot tell them
    // (a sharp line square to the pixels has no slope by its blur), their
    // trade with the offset no longer swamps the offset's error. 0: the
    // pixels alone.
    double ShapePrior = 0;
    // The least blur the standard errors are worked out with, pixels (0:
    // the fitted blur). A fitted profile sharper than the pixels' spacing
    // can slide between two samples without changing either, and its slopes
    // then say nothing of how well the line's position is known.
    double ErrorBlur = 0;
    // The ground steps at the line: each bin's paper differs by its own
    // amount on the two sides (a tint filled up to a frame's line on one
    // side, bare paper on the other). Full fits only.
    bool SteppedGround = false;
};

struct TLineBin {
    double Along = 0;     // centre of the bin, pixels from the origin along the line
    int Pixels = 0;       // pixels of the strip in the bin
    int Masked = 0;       // pixels of the strip left out by the masks
    double Amplitude = 0; // ink above the paper
    double AmplitudeError = 0;
    bool Inked = false; // holds the line (and shapes the geometry)
    double Shift = 0;   // how far this bin alone would move the line
    double ShiftError = 0;
    bool Outlier = false; // inked, but its centre stands apart
};

struct TFittedLine {
    bool Valid = false;
    TStraightLine Line;
    double Width = 0;
    double Blur = 0;
    double Contrast = 0;       // typical amplitude of the inked bins
    double ResidualScale = 0;  // robust deviation of the pixels from the model
    double OffsetVariance = 0; // of the line's distance from the origin
    double AngleVariance = 0;  // radians squared
    double OffsetAngleCovariance = 0;
    // How far the middle of the line's darkness (its centroid across the
    // line, over the inked bins) stands from the fitted centre along the
    // normal, pixels: a profile darker on one edge, or ringing on one side,
    // puts the two apart, and which of them is "the line" is then a matter
    // of definition.
    double InkOffset = 0;
    // How far the centroid of the model's darkness, as the pixels sample it
    // (over the inked bins), stands from the fitted centre along the normal,
    // pixels: a sharp profile sampled unevenly on its two sides.
    double SampledCentroid = 0;
    std::vector<TLineBin> Bins; // ordered along the line
};

// Length of a bin along the line, pixels.
constexpr double LineBinLength = 2;

// noise: the window's noise level; bilevel: the window has two values only.
TFittedLine FitLine(const TDarknessWindow& window, const TLineFitRequest& request, double noise, bool bilevel);
