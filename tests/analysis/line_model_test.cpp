// What the fits stand on: the darkness read from each pixel format, and the
// line profile, which must equal a line's exact area coverage and have the
// slopes the fits step along.
#include "analysis/darkness_window.h"
#include "analysis/line_profile.h"
#include "bench/snap_patches.h"
#include "platform/bitmap.h"
#include "platform/palette.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(LineModel, DarknessFromEveryPixelFormat)
{
    // One row of four pixels: white, black, and two colours, in each format;
    // the window starts left of the bitmap and is clipped to it.
    struct Case {
        TBitmapFormat Format;
        bool Alpha;
        std::vector<uint8_t> Row;
        std::vector<float> Darkness;
    } cases[] = {
        {bf24Bit, false, {255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 0, 200}, {0, 255, 255 - 29.07f, 255 - 59.8f}},
        // Laid over white paper by their alpha: a transparent black pixel
        // is paper, a half-transparent blue one half blue.
        {bf32Bit, true, {255, 255, 255, 255, 0, 0, 0, 0, 255, 0, 0, 128, 0, 0, 200, 255},
            {0, 0, 255 - (29.07f * 128 + 255 * 127) / 255, 255 - 59.8f}},
        {bf8Bit, false, {1, 0, 2, 3}, {0, 255, 255 - 29.07f, 255 - 59.8f}},
        {bf4Bit, false, {0x10, 0x23}, {0, 255, 255 - 29.07f, 255 - 59.8f}},
        {bf1Bit, false, {0x40}, {255, 0, 255, 255}},
        // Five bits of red, 25, widen to 206.
        {bf16Bit, false, {0xFF, 0x7F, 0, 0, 0x1F, 0, 0, 0x64}, {0, 255, 255 - 29.07f, 255 - 61.59f}},
    };
    const std::vector<TPaletteEntry> palette = {{0, 0, 0, 0}, {255, 255, 255, 0}, {0, 0, 255, 0}, {200, 0, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.Format));
        TBitmap bitmap;
        bitmap.SetPixelFormat(c.Format);
        bitmap.SetSize(4, 2);
        bitmap.SetAlphaPresent(c.Alpha);
        bitmap.SetPalette(CreatePalette(palette));
        std::copy(c.Row.begin(), c.Row.end(), bitmap.ScanLine(1));
        const TDarknessWindow w = ReadDarknessWindow(bitmap, -3, 1, 10, 5);
        ASSERT_EQ(w.Left, 0);
        ASSERT_EQ(w.Top, 1);
        ASSERT_EQ(w.Width, 4);
        ASSERT_EQ(w.Height, 1);
        for (int x = 0; x < 4; ++x)
            EXPECT_NEAR(w.At(x, 0), c.Darkness[x], 0.2) << "pixel " << x;
    }
    TBitmap bitmap;
    bitmap.SetSize(4, 2);
    EXPECT_EQ(ReadDarknessWindow(bitmap, 4, 0, 3, 3).Width, 0);
}

TEST(LineModel, ProfileIsTheExactCoverageAndSlopesAreItsDerivatives)
{
    struct Case {
        double Width, Angle; // degrees of the line from the column axis
    } cases[] = {{1, 0}, {1.6, 0}, {0.7, 3}, {2.5, 17}, {4.2, 45}, {3, 80}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.Width) + " px at " + std::to_string(c.Angle));
        // A long black stroke on white, without blur: each pixel's darkness
        // is its exact share of the band.
        TScene scene;
        scene.Paper = {255, 255, 255};
        const double cx = 50.3, cy = 49.8, a = c.Angle * M_PI / 180;
        AddLine(scene, cx, cy, c.Angle, -80, 80, c.Width, {0, 0, 0});
        const std::vector<uint8_t> rgb = RenderScene(scene);
        const double normal = a + M_PI / 2;
        const TLineProfile sharp(c.Width, 1e-3, normal);
        for (int y = 40; y < 60; ++y)
            for (int x = 40; x < 60; ++x) {
                const double d = std::cos(normal) * (x - cx) + std::sin(normal) * (y - cy);
                EXPECT_NEAR(255 * sharp.At(d).Value, 255 - rgb[(y * scene.Width + x) * 3], 0.51) << x << "," << y;
            }
        // The slopes against differences of the values, blurred and not.
        for (const double blur : {0.05, 0.6, 1.5})
            for (double d = -4; d <= 4; d += 0.37) {
                const double h = 1e-5;
                const TLineProfile p(c.Width, blur, normal);
                const TProfileValue v = p.At(d);
                EXPECT_NEAR(v.Slope, (p.At(d + h).Value - p.At(d - h).Value) / (2 * h), 1e-4);
                EXPECT_NEAR(v.ByWidth,
                    (TLineProfile(c.Width + h, blur, normal).At(d).Value -
                        TLineProfile(c.Width - h, blur, normal).At(d).Value) /
                        (2 * h),
                    1e-4);
                EXPECT_NEAR(v.ByBlur,
                    (TLineProfile(c.Width, blur + h, normal).At(d).Value -
                        TLineProfile(c.Width, blur - h, normal).At(d).Value) /
                        (2 * h),
                    1e-3);
                // The fits read a blurred profile from its samples.
                if (blur >= TProfileTable::MinBlur) {
                    EXPECT_NEAR(TProfileTable(p).At(d).Value, v.Value, 1e-4);
                }
            }
    }
}

} // namespace
