// The feature snap on drawn patches whose crossing or corner is known
// exactly, with tolerances from bench/snap_accuracy (the 95th percentile of
// its error: 0.05 pixel on clean patches, 0.15 with another line close or
// 16 grey levels, 0.3 on a bilevel scan); on patches where nothing may be
// found; and on the sample map's grid.
#include "analysis/feature_snap.h"
#include "bench/snap_patches.h"
#include "platform/bitmap.h"
#include "platform/exceptions.h"
#include "platform/streams.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

enum TShape { Cross, Tee, Ell };

struct TPatchCase {
    const char* Name;
    TShape Shape;
    double Rotation, Angle, Width;
    TInk Ink;
    double Dash, Blur, Noise;
    int Jpeg;
    TBitmapFormat Format;
    double Alongside; // a third line this far beside the first, 0 for none
    double Tolerance;
};

constexpr double TruthX = 50.3, TruthY = 49.6;

TScene PatchScene(const TPatchCase& c)
{
    TScene s;
    s.Blur = c.Blur;
    s.Noise = c.Noise;
    s.JpegQuality = c.Jpeg;
    s.Format = c.Format;
    // A corner's lines run on across the other's width, as a frame's do.
    const double start = c.Shape == Ell ? -c.Width / 2 : -90;
    AddLine(s, TruthX, TruthY, c.Rotation, start, 90, c.Width, c.Ink, c.Dash, c.Dash / 2, 3);
    AddLine(s, TruthX, TruthY, c.Rotation + c.Angle,
        c.Shape == Cross     ? -90
            : c.Shape == Tee ? 0
                             : start,
        90, c.Width, c.Ink, c.Dash, c.Dash / 2, 5);
    if (c.Alongside > 0) {
        const double a = c.Rotation * M_PI / 180;
        AddLine(
            s, TruthX - c.Alongside * std::sin(a), TruthY + c.Alongside * std::cos(a), c.Rotation, -90, 90, 1.5, c.Ink);
    }
    return s;
}

TEST(FeatureSnap, FindsEachKindOfPrintedCrossingAndCorner)
{
    const TPatchCase cases[] = {
        {"black hairline, sharp, turned 3 degrees", Cross, 3, 90, 1, InkBlack, 0, 0, 0, 0, bf24Bit, 0, 0.05},
        {"grey at 60 degrees, blurred and noisy", Cross, -5, 60, 2, InkGrey, 0, 1.0, 6, 0, bf24Bit, 0, 0.05},
        {"blue and dashed at 115 degrees", Cross, 2, 115, 1.5, InkBlue, 10, 0.7, 3, 0, bf24Bit, 0, 0.05},
        {"red, square to the pixels, in a JPEG", Cross, 0, 90, 3, InkRed, 0, 0.8, 2, 75, bf24Bit, 0, 0.05},
        {"brown T, 5 pixels wide", Tee, 7, 80, 5, InkBrown, 0, 1.2, 4, 0, bf24Bit, 0, 0.05},
        {"frame corner", Ell, -1.5, 90, 3, InkBlack, 0, 0.8, 2, 0, bf24Bit, 0, 0.05},
        {"frame corner on a bilevel scan", Ell, 1.5, 90, 3, InkBlack, 0, 0.8, 0, 0, bf1Bit, 0, 0.3},
        {"grey palette of 256", Cross, -2, 70, 2.5, InkGrey, 0, 0.6, 3, 0, bf8Bit, 0, 0.05},
        {"grey palette of 16", Cross, 4, 95, 2.5, InkBlack, 0, 0.9, 2, 0, bf4Bit, 0, 0.15},
        {"32-bit pixels", Cross, 4, 100, 1.2, InkBlack, 0, 0.5, 2, 0, bf32Bit, 0, 0.05},
        {"T with a line 5 pixels beside its bar", Tee, 3, 90, 2, InkBlack, 0, 0.8, 2, 0, bf24Bit, 5, 0.15},
        {"sharp lines 5 pixels wide, turned 45 degrees", Cross, 45, 90, 4.9, InkGrey, 0, 0, 5.8, 0, bf24Bit, 0, 0.05},
    };
    for (const TPatchCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TBitmap bitmap;
        DrawScene(bitmap, PatchScene(c));
        const std::optional<TSnappedFeature> f = SnapToFeature(bitmap, TruthX + 2, TruthY - 1.5);
        ASSERT_TRUE(f.has_value());
        EXPECT_LE(std::hypot(f->Column - TruthX, f->Row - TruthY), c.Tolerance);
        EXPECT_EQ(f->Kind, c.Shape == Cross ? TFeatureKind::Crossing : TFeatureKind::Corner);
        EXPECT_EQ(f->Arms.size(), c.Shape == Cross ? 4u : c.Shape == Tee ? 3u : 2u);
        EXPECT_GT(f->Sigma, 0);
        EXPECT_LT(f->Sigma, 0.25);
        // Asked for the other kind, the snap finds nothing.
        EXPECT_FALSE(SnapToFeature(
            bitmap, TruthX + 2, TruthY - 1.5, {12, c.Shape == Cross ? TSnapTarget::Corner : TSnapTarget::Crossing}));
    }
}

TEST(FeatureSnap, AnswersNothingWhereNoFeatureCanBeTrusted)
{
    struct TEmptyCase {
        const char* Name;
        void (*Draw)(TScene&);
        double ClickX, ClickY;
    } cases[] = {
        {"blank paper", [](TScene&) {}, 50, 50},
        {"a single line", [](TScene& s) { AddLine(s, 50, 50, 20, -90, 90, 2, InkBlack); }, 51, 52},
        {"a line ending", [](TScene& s) { AddLine(s, 50, 50, 200, 0, 90, 3, InkBlue); }, 50, 50},
        {"two parallel lines",
            [](TScene& s) {
                AddLine(s, 50, 47, 10, -90, 90, 1.5, InkRed);
                AddLine(s, 50, 54, 10, -90, 90, 1.5, InkRed);
            },
            50, 50},
        {"letters and dots",
            [](TScene& s) {
                for (int i = 0; i < 5; ++i)
                    s.Blobs.push_back({38.0 + 6 * i, 50, 2.5, 3.5, 0, i % 2 ? 0.5 : 0.0, InkBlack});
            },
            50, 50},
        {"contours",
            [](TScene& s) {
                for (const double r : {30.0, 36.0, 42.0})
                    AddArc(s, 50, 85, r, 0, 360, 1.5, InkBrown);
            },
            50, 50},
        {"a crossing beyond the radius",
            [](TScene& s) {
                AddLine(s, 66, 50, 0, -90, 90, 2, InkBlack);
                AddLine(s, 66, 50, 90, -90, 90, 2, InkBlack);
            },
            50, 50},
        {"two crossings equally near",
            [](TScene& s) {
                AddLine(s, 50, 46, 0, -90, 90, 2, InkBlack);
                AddLine(s, 50, 54, 0, -90, 90, 2, InkBlack);
                AddLine(s, 50, 50, 90, -90, 90, 2, InkBlack);
            },
            50, 50},
    };
    for (const TEmptyCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TScene scene;
        scene.Blur = 0.8;
        scene.Noise = 3;
        c.Draw(scene);
        TBitmap bitmap;
        DrawScene(bitmap, scene);
        EXPECT_FALSE(SnapToFeature(bitmap, c.ClickX, c.ClickY).has_value());
    }
}

// What real sheets show beside a crossing: a contour or a river passing a
// few pixels off it, dashes with the crossing in a gap, a faint graticule on
// a tinted sheet, a chart turned 45 degrees, a frame corner with a sea
// filled up to it (asked for as a corner). Tolerances from snap_accuracy
// (95th percentile of each variation). A case that may answer nothing
// must never answer wrongly; whatever is answered states an error that
// covers its miss (three sigma and 0.05 pixel).
TEST(FeatureSnap, RealSheetVariationsAnsweredRightOrNotAtAll)
{
    struct TVariationCase {
        const char* Name;
        void (*Draw)(TScene&);
        bool MustAnswer;
        double Tolerance;
        TSnapTarget Target = TSnapTarget::Any;
        // Where the click lies from the truth.
        double ClickX = 1.5, ClickY = -1;
        // How far below and right of (TruthX, TruthY) the truth lies.
        double Below = 0, Right = 0;
    };
    const TSnapCase contour = MakeSnapCases(600, 200, 11)[529];
    const TVariationCase cases[] = {
        {"contour arc passing 2 pixels off the crossing",
            [](TScene& s) {
                AddLine(s, TruthX, TruthY, 3, -90, 90, 1.5, InkBlack);
                AddLine(s, TruthX, TruthY, 93, -90, 90, 1.5, InkBlack);
                // Centre 42 pixels away up and to the left, radius 40.
                AddArc(s, TruthX - 29.7, TruthY - 29.7, 40, -20, 110, 1.5, InkBrown);
            },
            false, 0.15},
        {"river arc merging with an arm of a corner",
            [](TScene& s) {
                AddLine(s, TruthX, TruthY, 0, -0.75, 90, 1.5, InkBlack);
                AddLine(s, TruthX, TruthY, 90, -0.75, 90, 1.5, InkBlack);
                AddArc(s, TruthX + 62.5, TruthY - 60, 60, 100, 200, 2, InkBlue);
            },
            false, 0.15},
        {"contour arc 6 pixels off, wide of both arms",
            [](TScene& s) {
                AddLine(s, TruthX, TruthY, -4, -90, 90, 2, InkGrey);
                AddLine(s, TruthX, TruthY, 86, -90, 90, 2, InkGrey);
                AddArc(s, TruthX + 4.2 + 70, TruthY + 4.2 + 70, 99, 200, 250, 1.2, InkBrown);
            },
            true, 0.15},
        {"contour passing 5 pixels off, seeded as straight pieces making T's",
            [](TScene& s) {
                s.Paper = {236, 228, 204};
                s.Blur = 0.57;
                s.Noise = 5.7;
                s.JpegQuality = 60;
                AddLine(s, TruthX, TruthY, 2.2, -90, 90, 3, InkBrown);
                AddLine(s, TruthX, TruthY, 108.8, -90, 90, 4.3, InkBrown);
                AddArc(s, TruthX + 177.6, TruthY - 186.4, 252, 113, 154, 1.9, InkBrown);
            },
            true, 0.05},
        {"contour 3 pixels off a dashed crossing, bent where it crosses a line nearer the click",
            [](TScene& s) {
                s.Paper = {236, 228, 204};
                s.Blur = 0.55;
                s.Noise = 0.4;
                s.JpegQuality = 54;
                const TInk red {210, 50, 40};
                AddLine(s, TruthX, TruthY, 6.8, -90, 90, 3.3, red, 13.5, 4.75, 16.8);
                AddLine(s, TruthX, TruthY, 101.5, -90, 90, 1.5, red, 13.5, 4.75, 18.3);
                AddArc(s, TruthX + 118.43, TruthY - 161.85, 197.45, 100.1, 152.3, 1.36, InkBrown);
            },
            true, 0.05, TSnapTarget::Any, 0.5, -2},
        {"contour of radius 260 crossing a line 3 pixels off the crossing, about as near the click",
            [](TScene& s) {
                s.Blur = 0;
                s.Noise = 6.9;
                AddLine(s, TruthX, TruthY, 185.81, -90, 90, 2.44, InkGrey);
                AddLine(s, TruthX, TruthY, 108.49, -90, 90, 2.44, InkGrey);
                AddArc(s, TruthX + 258.66, TruthY + 45.86, 259.5, 170.19, 209.92, 1.19, InkBrown);
            },
            true, 0.05, TSnapTarget::Any, 1.02, -0.82},
        {"contour of radius 290 running beside a line and crossing the other 5 pixels off",
            [](TScene& s) {
                s.Blur = 0.33;
                s.Noise = 6.2;
                AddLine(s, TruthX, TruthY, -7, -90, 90, 2.29, InkGrey);
                AddLine(s, TruthX, TruthY, 106.39, -90, 90, 2.29, InkGrey);
                AddArc(s, TruthX + 68.07, TruthY + 288.61, 292, 239.07, 274.39, 1.44, InkBrown);
            },
            true, 0.05, TSnapTarget::Any, 0.3, -1.64},
        {"contour of radius 280 crossing a sharp T's bar 4 pixels beside its stem, bending off the stem's line",
            [](TScene& s) {
                s.Blur = 0;
                s.Noise = 0.24;
                const double x = TruthX + 0.125, y = TruthY + 0.852;
                AddLine(s, x, y, 0, -90, 90, 4.12, InkBlack);
                AddLine(s, x, y, 86.36, 0, 90, 4.41, InkBlack);
                AddArc(s, x + 256.84, y + 126.56, 282.23, 187.96, 224.5, 1, InkBrown);
            },
            true, 0.05, TSnapTarget::Any, 1.19, 0.96, 0.852, 0.125},
        {"contour of radius 60 crossing a dashed line 3 pixels off the crossing, nearer the click",
            [](TScene& s) {
                // (This noise: with about half of the others the contour is
                // seeded a second time, as a piece too short for its bend to
                // show, whose failed pair still refuses the answer.)
                s.Seed = 3836203199;
                s.Blur = 0.375;
                s.Noise = 2.116;
                const double x = TruthX - 0.057, y = TruthY + 0.744;
                AddLine(s, x, y, 185.075, -90, 90, 2.756, InkBrown, 13.435, 3.008, 5.72);
                AddLine(s, x, y, 66.846, -90, 90, 2.756, InkBrown, 13.435, 3.008, 7.47);
                AddArc(s, x + 10.807, y - 61.989, 59.144, 372.702, 547.078, 1.399, InkBrown);
            },
            true, 0.05, TSnapTarget::Any, -2.748, -0.561, 0.744, -0.057},
        {"river passing 3 pixels beyond a corner and running on beside one of its arms",
            [](TScene& s) {
                s.Blur = 0;
                s.Noise = 4.74;
                const double x = TruthX - 0.655, y = TruthY + 0.221;
                AddLine(s, x, y, 179.146, -1.182, 90, 2.15, InkBrown);
                AddLine(s, x, y, 76.608, -1.075, 90, 2.364, InkBrown);
                AddArc(s, x + 208.939, y - 52.094, 211.132, 501.577, 550.424, 1.745, InkBlue);
            },
            true, 0.05, TSnapTarget::Any, 1.988, 1.84, 0.221, -0.655},
        {"both lines dashed, the crossing in both gaps",
            [](TScene& s) {
                // Dashes of 10 and gaps of 6 pixels, a gap centred on the crossing.
                AddLine(s, TruthX, TruthY, 2, -90, 90, 1.5, InkBlack, 10, 6, 3);
                AddLine(s, TruthX, TruthY, 92, -90, 90, 1.5, InkBlack, 10, 6, 3);
            },
            true, 0.06},
        {"dashed T whose stem's first dash starts a gap beyond the bar",
            [](TScene& s) {
                // Dashes of 12 and gaps of 8: the bar's dash over the
                // junction, the stem's stub under the bar, its first dash
                // from 9 pixels on.
                AddLine(s, TruthX, TruthY, 0, -90, 90, 2, InkBlack, 12, 8, 16);
                AddLine(s, TruthX, TruthY, 90, 0, 90, 2, InkBlack, 12, 8, 11);
            },
            true, 0.06},
        {"faint graticule, 15 grey levels on a blue tint",
            [](TScene& s) {
                s.Paper = {205, 225, 240};
                const TInk faint {190, 210, 225};
                AddLine(s, TruthX, TruthY, 1, -90, 90, 1.2, faint);
                AddLine(s, TruthX, TruthY, 91, -90, 90, 1.2, faint);
            },
            true, 0.3},
        {"graticule curving gently across the sheet, radius 1500 pixels",
            [](TScene& s) {
                // Half a pixel off its chord over 80 pixels, a tenth over 40.
                AddArc(s, TruthX, TruthY + 1500, 1500, 266, 274, 1.5, InkBlack);
                AddLine(s, TruthX, TruthY, 90, -90, 90, 1.5, InkBlack);
            },
            true, 0.1},
        {"a line ending 12 pixels short of the crossing's line, nearer the click",
            [](TScene& s) {
                AddLine(s, TruthX, TruthY, 0, -90, 90, 1.5, InkBlack);
                AddLine(s, TruthX, TruthY, 90, -90, 90, 1.5, InkBlack);
                // Pointing at the first line 2.5 pixels from the crossing.
                AddLine(s, TruthX + 2.5, TruthY, 300, 12, 60, 1.5, InkBlack);
            },
            true, 0.05},
        {"frame corner with a blue sea filled up to it",
            [](TScene& s) {
                // The sea fills the quadrant inside the frame; the margin is
                // bare paper.
                AddLine(s, TruthX + 1, TruthY + 45, 0, 0, 90, 90, {150, 195, 230});
                AddLine(s, TruthX, TruthY, 0, -1, 90, 2, InkBlack);
                AddLine(s, TruthX, TruthY, 90, -1, 90, 2, InkBlack);
            },
            true, 0.05, TSnapTarget::Corner},
        {"crossing beside a parallel line that the blur merges with it into one wide line",
            [](TScene& s) {
                s.Blur = 1.36;
                s.Noise = 6.2;
                const TInk brown {150, 90, 50};
                AddLine(s, TruthX, TruthY, 0, -90, 90, 2.54, brown);
                AddLine(s, TruthX, TruthY, 77.08, -90, 90, 2.54, brown);
                // 4.12 pixels from the first line's centre to its own.
                AddLine(s, TruthX, TruthY + 4.12, 0, -90, 90, 2.58, brown);
            },
            false, 0.15, TSnapTarget::Any, 0.38, 1.29},
        {"T whose bar has a line 3 pixels beside it on the far side from its stem, in a JPEG",
            [](TScene& s) {
                s.Blur = 0.73;
                s.Noise = 5.6;
                s.JpegQuality = 69;
                AddLine(s, TruthX, TruthY, 183.24, -90, 90, 1.17, InkGrey);
                AddLine(s, TruthX, TruthY, 65.5, 0, 90, 1.17, InkGrey);
                // The stem drawn on would cross it 3.4 pixels from the bar.
                AddLine(s, TruthX + 0.17, TruthY - 3.06, 183.24, -90, 90, 1.41, InkRed);
            },
            true, 0.15, TSnapTarget::Any, 0.73, -0.95},
        {"T whose bar has a line 3.6 pixels beside it on the far side from its stem",
            [](TScene& s) {
                s.Blur = 0.47;
                s.Noise = 7.1;
                AddLine(s, TruthX, TruthY, -7.74, -90, 90, 1.49, InkGrey);
                AddLine(s, TruthX, TruthY, 82.26, 0, 90, 1.49, InkGrey);
                AddLine(s, TruthX - 0.49, TruthY - 3.58, -7.74, -90, 90, 1.53, InkGrey);
            },
            true, 0.15, TSnapTarget::Any, 0.11, 0.41},
        {"L whose arm a third line crosses by its corner, hiding the arm's first pixels",
            [](TScene& s) {
                s.Paper = {236, 228, 204};
                s.Blur = 0.46;
                s.Noise = 7.86;
                AddLine(s, TruthX, TruthY, 0.72, -1.78, 90, 3.56, InkGrey);
                AddLine(s, TruthX, TruthY, 90.72, -1.78, 90, 3.56, InkGrey);
                AddLine(s, TruthX + 4.73, TruthY + 3.42, 111.66, -90, 90, 1.89, InkGrey);
            },
            true, 0.25, TSnapTarget::Any, -0.36, -0.77},
        {"T whose stem a brown line crosses 3 pixels below the bar, the crossing 6.5 pixels off",
            [](TScene& s) {
                s.Blur = 1.47;
                s.Noise = 2.35;
                AddLine(s, TruthX, TruthY, 0, -90, 90, 2.43, InkBlack);
                AddLine(s, TruthX, TruthY, 90, 0, 90, 2.8, InkBlack);
                AddLine(s, TruthX + 5.35, TruthY + 2.75, 113.43, -90, 90, 1.28, InkBrown);
            },
            false, 0.25, TSnapTarget::Any, -0.99, -0.9},
        {"L whose arm a third line crosses 6.6 pixels from its corner, the click at the corner",
            [](TScene& s) {
                s.Seed = 4178790182;
                s.Paper = {236, 228, 204};
                s.Blur = 1.4;
                s.Noise = 3.73;
                const TInk blue {40, 90, 200};
                const double x = TruthX - 0.15, y = TruthY + 0.58;
                AddLine(s, x, y, 2.6, -1.06, 90, 2.13, blue);
                AddLine(s, x, y, 67.56, -1.06, 90, 2.13, blue);
                AddLine(s, TruthX + 4.78, TruthY + 4.77, 140.87, -90, 90, 1.55, blue);
            },
            false, 0.25, TSnapTarget::Any, 0.67, -0.4, 0.58, -0.15},
        {"T whose stem a contour crosses 4 pixels below the bar, hiding the stem's start",
            [](TScene& s) {
                // (The benchmark's own patch, seed 11: the fault shows only
                // with its noise, its lines and its click to the last digit.)
                s = MakeSnapCases(600, 200, 11)[529].Scene;
            },
            false, 0.25, TSnapTarget::Any, contour.ClickX - contour.TruthX, contour.ClickY - contour.TruthY,
            contour.TruthY - TruthY, contour.TruthX - TruthX},
        {"sharp line square to the pixels, more of it in one row than the next, in a grey palette",
            [](TScene& s) {
                s.Blur = 0;
                s.Noise = 4.5;
                s.Format = bf8Bit;
                AddLine(s, TruthX, TruthY + 0.62, 0, -90, 90, 1.4, InkGrey);
                AddLine(s, TruthX, TruthY + 0.62, 92.2, -90, 90, 1.95, InkGrey);
            },
            true, 0.15, TSnapTarget::Any, 1.5, -1, 0.62},
        {"chart turned 45 degrees",
            [](TScene& s) {
                AddLine(s, TruthX, TruthY, 45, -90, 90, 1.5, InkBlack);
                AddLine(s, TruthX, TruthY, 135, -90, 90, 1.5, InkBlack);
            },
            true, 0.05},
    };
    for (const TVariationCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TScene scene;
        scene.Blur = 0.8;
        scene.Noise = 2;
        c.Draw(scene);
        TBitmap bitmap;
        DrawScene(bitmap, scene);
        const double truthX = TruthX + c.Right, truthY = TruthY + c.Below;
        const std::optional<TSnappedFeature> f =
            SnapToFeature(bitmap, truthX + c.ClickX, truthY + c.ClickY, {12, c.Target});
        EXPECT_TRUE(f || !c.MustAnswer);
        if (!f)
            continue;
        const double error = std::hypot(f->Column - truthX, f->Row - truthY);
        EXPECT_LE(error, c.Tolerance);
        EXPECT_LE(error, 3 * f->Sigma + 0.05);
    }
}

// Crops of real scans around measured crossings (tests/data/snap/README.md):
// clicks up to 3 pixels off; each answer within the tolerance of the
// measurement (from snap_real: its largest error on that sheet) and within
// three stated errors plus 0.05 pixel and twice the measurement's own
// uncertainty; at least so many of the four clicks answered.
TEST(FeatureSnap, RealScanCropsAnsweredRightAndHonestly)
{
    struct TCropCase {
        const char* File;
        double X, Y, Uncertainty;
        int Answers;
        double Tolerance;
    } cases[] = {
        {"s01_right_2425.bmp", 50.14, 50.28, 0.12, 4, 0.5},
        {"s03_2710_8405.bmp", 49.57, 50.33, 0.12, 0, 0.4},
        {"s03_bottom_8410.bmp", 50.07, 49.66, 0.16, 2, 0.4},
        {"s04_E21_N51.bmp", 49.80, 50.30, 0.10, 0, 0.2},
        {"s05_0d30W_29d30N.bmp", 49.78, 49.99, 0.15, 3, 0.6},
        {"s07_122d30W_37d45N.bmp", 50.00, 50.00, 0.05, 4, 0.05},
    };
    const double clicks[4][2] = {{1.5, -1}, {-2, 0.7}, {0.5, 2.5}, {-1, -2.2}};
    for (const TCropCase& c : cases) {
        SCOPED_TRACE(c.File);
        TBitmap crop;
        TFileStream stream(pwtest::DataPath(std::string("snap/") + c.File), fmOpenRead);
        crop.LoadFromStream(stream);
        int answers = 0;
        for (const auto& click : clicks) {
            const std::optional<TSnappedFeature> f = SnapToFeature(crop, c.X + click[0], c.Y + click[1]);
            if (!f)
                continue;
            ++answers;
            const double error = std::hypot(f->Column - c.X, f->Row - c.Y);
            EXPECT_LE(error, c.Tolerance);
            EXPECT_LE(error, 3 * f->Sigma + 0.05 + 2 * c.Uncertainty);
        }
        EXPECT_GE(answers, c.Answers);
    }
}

TEST(FeatureSnap, SampleMapGridCrossingsWithinATenthOfAPixel)
{
    // samples/make_sample_map.py draws a one-pixel grid line on every 100th
    // column and row; the control points sit on (100, 100) and (500, 400)
    // under red crosses. Crossings hidden by the title block, the lake or
    // the roads may answer nothing, but never wrongly.
    TBitmap map;
    TFileStream stream(pwtest::SamplePath("sample_map.bmp"), fmOpenRead);
    map.LoadFromStream(stream);
    int found = 0;
    for (int row = 100; row <= 400; row += 100)
        for (int column = 100; column <= 600; column += 100) {
            SCOPED_TRACE(std::to_string(column) + "," + std::to_string(row));
            const std::optional<TSnappedFeature> f = SnapToFeature(map, column + 2.7, row - 3.2);
            if (!f)
                continue;
            ++found;
            EXPECT_LE(std::hypot(f->Column - column, f->Row - row), 0.1);
        }
    EXPECT_GE(found, 20);
    EXPECT_TRUE(SnapToFeature(map, 101, 99).has_value());
    EXPECT_TRUE(SnapToFeature(map, 499, 402).has_value());
}

TEST(FeatureSnap, SummarySaysKindAndErrorOrNothing)
{
    TSnappedFeature f;
    f.Sigma = 0.043;
    EXPECT_EQ(SnapSummary(f), "crossing, \u00b10.04 px");
    f.Kind = TFeatureKind::Corner;
    f.Sigma = 0.0004;
    EXPECT_EQ(SnapSummary(f), "corner, \u00b10.01 px");
    EXPECT_EQ(SnapSummary(std::nullopt), "nothing to snap to");
    TBitmap bitmap;
    bitmap.SetSize(40, 40);
    EXPECT_THROW(SnapToFeature(bitmap, 20, 20, {0, TSnapTarget::Any}), Exception);
    EXPECT_THROW(SnapToFeature(bitmap, 20, 20, {65, TSnapTarget::Any}), Exception);
    EXPECT_FALSE(SnapToFeature(bitmap, -500, 20).has_value());
}

} // namespace
