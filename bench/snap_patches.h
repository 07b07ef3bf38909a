#pragma once
// Patches of printed map lines with exactly known crossings and corners, for
// measuring the feature snap (snap_accuracy) and for its tests.
//
// A stroke is a straight band with square ends; each pixel takes the share
// of its square that lies inside the band, computed exactly by clipping the
// square against the band's four sides, and the strokes are laid over the
// paper one after the other. (Where two strokes overlap within one pixel
// that order makes the pixel approximate, as any painter does; such pixels
// lie at the crossing itself, which the snap leaves out.) Blobs (letters,
// symbols) are sampled 16 x 16 per pixel. The picture is then blurred by a
// Gaussian, given Gaussian noise, optionally JPEG-compressed, and stored in a
// bitmap of the chosen pixel format.
#include "analysis/feature_snap.h"
#include "platform/bitmap.h"

#include <cstdint>
#include <string>
#include <vector>

struct TInk {
    double R = 0, G = 0, B = 0;
};

struct TStroke {
    double X0 = 0, Y0 = 0, X1 = 0, Y1 = 0; // centre line, pixel coordinates (integer = pixel centre)
    double Width = 1;
    TInk Ink;
};

// A filled ellipse, or a ring when Hole (the inner radii's share) is above 0.
struct TBlob {
    double X = 0, Y = 0, RadiusX = 1, RadiusY = 1, Angle = 0, Hole = 0;
    TInk Ink;
};

struct TScene {
    int Width = 100;
    int Height = 100;
    TInk Paper {250, 250, 248};
    std::vector<TStroke> Strokes;
    std::vector<TBlob> Blobs;
    double Blur = 0;                // Gaussian deviation, pixels
    double Noise = 0;               // Gaussian deviation per channel, grey levels
    int JpegQuality = 0;            // 0: not compressed
    TBitmapFormat Format = bf24Bit; // bf8Bit, bf4Bit: grey palettes; bf1Bit: threshold at half
    uint32_t Seed = 1;
};

// A straight line through (x, y) at angle degrees (from the column axis
// towards increasing rows), from `from` to `to` pixels along it, dashed when
// dash > 0 (dash and gap lengths, the pattern shifted by phase).
void AddLine(TScene& scene, double x, double y, double angle, double from, double to, double width, TInk ink,
    double dash = 0, double gap = 0, double phase = 0);
// An arc of a circle, as short strokes.
void AddArc(
    TScene& scene, double cx, double cy, double radius, double fromAngle, double toAngle, double width, TInk ink);

// The scene as 8-bit RGB rows, top row first (after blur, noise and JPEG).
std::vector<uint8_t> RenderScene(const TScene& scene);
// Stores rendered RGB of the scene's size into bitmap at (left, top) in the
// bitmap's format (24 or 32 bits; 8 or 4 bits with a grey palette; 1 bit,
// black below half). The bitmap must be large enough and of that format.
void PutPatch(TBitmap& bitmap, int left, int top, const TScene& scene, const std::vector<uint8_t>& rgb);
// A bitmap of the scene alone, in the scene's format.
void DrawScene(TBitmap& bitmap, const TScene& scene);

// A line drawn whole on a patch (the letters and symbols aside): a straight
// line through (X, Y) at Angle degrees from From to To pixels along it, or an
// arc of the circle of Radius about (X, Y) from From to To degrees.
struct TDrawnLine {
    bool Arc = false;
    double X = 0, Y = 0, Angle = 0, From = 0, To = 0, Radius = 0;
    double Width = 1;
};

// A place where two drawn lines cross or meet, and whether one of them is
// an arc (a contour or a river, not a grid line).
struct TDrawnCrossing {
    double X = 0, Y = 0;
    bool Curved = false;
};

// One benchmark case: a scene, where a user clicked, and the truth.
struct TSnapCase {
    std::string Category;
    // What real sheets show that a plain patch does not, or "": "curved line
    // within 6 px", "dashed, crossing in a gap", "faint thin line on colour",
    // "turned 45 degrees".
    std::string Variation;
    TScene Scene;
    double ClickX = 0, ClickY = 0;
    bool Positive = false; // a feature lies within the default radius
    TFeatureKind Kind = TFeatureKind::Crossing;
    double TruthX = 0, TruthY = 0;
    // Every line drawn, a positive's two own lines first.
    std::vector<TDrawnLine> Lines;
};

// Where the drawn lines of a case cross or meet within its patch, each
// place once, but for the positive's own feature (its first two lines').
std::vector<TDrawnCrossing> OtherCrossings(const TSnapCase& c);

// Reproducible cases: positives of every kind and variation, hard ones
// with other lines, symbols or contours within 6 pixels, and negatives. One
// positive in ten of each shape has each of the four variations.
std::vector<TSnapCase> MakeSnapCases(int positives, int negatives, uint32_t seed);

// Inks of printed map lines.
extern const TInk InkBlack, InkGrey, InkBlue, InkRed, InkBrown;
