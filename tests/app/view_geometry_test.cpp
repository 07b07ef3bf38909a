// The zoom arithmetic of the image view and the overview it paints from.
#include "app/overview_pyramid.h"
#include "app/view_geometry.h"
#include "platform/bitmap.h"
#include "platform/palette.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(ViewGeometry, ZoomLevelsStepByScaleWithFitAmongThem)
{
    struct TCase {
        double Fit;
        int From;
        int In;
        int Out;
    };
    const TCase cases[] = {
        {0.3, 1, 1, 2},          // 1:1 is the end going in
        {0.3, 2, 1, kZoomFit},
        {0.3, 4, kZoomFit, 8},   // fit (0.3) lies between 1:4 and 1:2
        {0.3, kZoomFit, 2, 4},
        {0.3, 16, 8, 16},        // 1:16 is the end going out
        {0.01, 16, 8, kZoomFit}, // a huge image fits below 1:16
        {0.01, kZoomFit, 16, kZoomFit},
        {1.0, kZoomFit, kZoomFit, 2}, // a small image fits at 1:1: both count as one
        {0.25, 4, 2, 8},              // fit equal to 1:4 is skipped
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(ZoomText(c.From)) + " fit " + std::to_string(c.Fit));
        EXPECT_EQ(ZoomIn(c.From, c.Fit), c.In);
        EXPECT_EQ(ZoomOut(c.From, c.Fit), c.Out);
        EXPECT_EQ(ZoomFromText(ZoomText(c.From)), c.From);
    }
    EXPECT_EQ(ZoomFromText("1:3"), -1);
    EXPECT_DOUBLE_EQ(FitScale(20000, 15000, 1000, 1000), 0.05);
    EXPECT_DOUBLE_EQ(FitScale(200, 100, 1000, 1000), 1.0);
}

TEST(ViewGeometry, MapsViewPixelsToWholeImagePixelsAndBack)
{
    struct TCase {
        double View;
        double Scale;
        int Extent;
        int Pixel;
    };
    const TCase cases[] = {
        {0, 1, 100, 0},       {99, 1, 100, 99},     {37.9, 0.25, 1000, 151}, {36, 0.25, 1000, 144},
        {249.99, 0.25, 1000, 999}, {250, 0.25, 1000, 999}, {-3, 0.5, 10, 0},     {10, 0.3, 1000, 33},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.View) + " at " + std::to_string(c.Scale));
        EXPECT_EQ(ImagePixelAt(c.View, c.Scale, c.Extent), c.Pixel);
    }
    EXPECT_DOUBLE_EQ(ViewOfPixelCentre(151, 0.25), 37.875);
    EXPECT_EQ(ViewExtent(1001, 0.25), 251);
    EXPECT_EQ(ViewExtent(20000, 0.05), 1000);
    // Scroll 400 with the cursor at 100 shows image point 500 at 1:1; at 1:4
    // that point is at 125, so the scroll becomes 25.
    EXPECT_EQ(ScrollKeepingPoint(400, 100, 1.0, 0.25), 25);
    EXPECT_EQ(ScrollKeepingPoint(25, 100, 0.25, 1.0), 400);
    EXPECT_EQ(OverviewLevelFor(1.0, 4), 0);
    EXPECT_EQ(OverviewLevelFor(0.5, 4), 1);
    EXPECT_EQ(OverviewLevelFor(0.3, 4), 1);
    EXPECT_EQ(OverviewLevelFor(0.0625, 4), 4);
    EXPECT_EQ(OverviewLevelFor(0.01, 4), 4);
    EXPECT_EQ(OverviewLevelFor(0.01, 2), 2);
}

// Pixel (x, y) of a 5 x 3 picture: distinct values, so that every mean shows.
uint8_t Sample(int x, int y, int channel)
{
    return static_cast<uint8_t>(10 * x + 60 * y + channel);
}

TEST(OverviewPyramid, EachLevelIsTheRoundedMeanOfTwoByTwoPixels)
{
    struct TCase {
        const char* Name;
        TBitmapFormat Format;
        bool Alpha;
        int BytesPerPixel;
        // Level 1 pixel (2, 1), the odd corner, and level 2 pixel (0, 0), first channel stored.
        std::vector<uint8_t> Corner;
        std::vector<uint8_t> Top;
    };
    // Level 1 (3 x 2): pixel (2, 1) covers only source pixel (4, 2), repeated.
    // Level 2 (2 x 1): pixel (0, 0) is the mean of level 1's (0..1, 0..1).
    const TCase cases[] = {
        {"grey 8-bit", bf8Bit, false, 1, {160}, {90}},
        {"colour 24-bit", bf24Bit, false, 3, {160, 161, 162}, {90, 91, 92}},
        {"colour with alpha", bf32Bit, true, 4, {160, 161, 162, 163}, {90, 91, 92, 93}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TBitmap bitmap;
        bitmap.SetPixelFormat(c.Format);
        bitmap.SetSize(5, 3);
        if (c.Format == bf8Bit) {
            std::vector<TPaletteEntry> grey(256);
            for (int i = 0; i < 256; ++i)
                grey[i] = TPaletteEntry{uint8_t(i), uint8_t(i), uint8_t(i), 0};
            bitmap.SetPalette(CreatePalette(grey));
        }
        bitmap.SetAlphaPresent(c.Alpha);
        const int stored = c.Format == bf8Bit ? 1 : c.Format == bf24Bit ? 3 : 4;
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                for (int k = 0; k < stored; ++k)
                    bitmap.ScanLine(y)[x * stored + k] = Sample(x, y, k);

        TOverviewPyramid pyramid;
        std::atomic<bool> stop{false};
        pyramid.Build(bitmap, stop);
        ASSERT_EQ(pyramid.Levels(), 3);
        ASSERT_EQ(pyramid.ReadyLevels(), 3);
        const TOverviewLevel& first = pyramid.Level(1);
        EXPECT_EQ(first.Width, 3);
        EXPECT_EQ(first.Height, 2);
        EXPECT_EQ(first.BytesPerPixel, c.BytesPerPixel);
        EXPECT_EQ(std::vector<uint8_t>(first.Row(1) + 2 * c.BytesPerPixel, first.Row(1) + 3 * c.BytesPerPixel),
                  c.Corner);
        const TOverviewLevel& second = pyramid.Level(2);
        EXPECT_EQ(second.Width, 2);
        EXPECT_EQ(second.Height, 1);
        EXPECT_EQ(std::vector<uint8_t>(second.Row(0), second.Row(0) + c.BytesPerPixel), c.Top);
        EXPECT_EQ(pyramid.Level(3).Width, 1);
    }
}

// Level 1 of pictures of every row layout, against the rounded mean of the
// colours the bitmap itself gives for each 2 x 2 block (odd edges repeated).
TEST(OverviewPyramid, LevelOneIsTheMeanOfTheBitmapsOwnColoursInEveryLayout)
{
    struct TCase {
        const char* Name;
        TBitmapFormat Format;
        bool Alpha;
        int Palette; // 0 none, 1 grey in reverse, 2 colours
        int BytesPerPixel;
    };
    const TCase cases[] = {
        {"1-bit", bf1Bit, false, 0, 1},
        {"4-bit colours", bf4Bit, false, 2, 3},
        {"8-bit grey in reverse", bf8Bit, false, 1, 1},
        {"8-bit colours", bf8Bit, false, 2, 3},
        {"16-bit", bf16Bit, false, 0, 3},
        {"32-bit without alpha", bf32Bit, false, 0, 3},
    };
    constexpr int kWidth = 7, kHeight = 5;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TBitmap bitmap;
        bitmap.SetPixelFormat(c.Format);
        bitmap.SetSize(kWidth, kHeight);
        if (c.Palette != 0) {
            std::vector<TPaletteEntry> entries(size_t(1) << bitmap.BitsPerPixel());
            for (size_t i = 0; i < entries.size(); ++i) {
                const auto v = static_cast<uint8_t>(255 - i);
                entries[i] = c.Palette == 1 ? TPaletteEntry{v, v, v, 0}
                                            : TPaletteEntry{uint8_t(i * 37), uint8_t(i * 91), v, 0};
            }
            bitmap.SetPalette(CreatePalette(entries));
        }
        bitmap.SetAlphaPresent(c.Alpha);
        uint32_t seed = 12345;
        for (int y = 0; y < kHeight; ++y)
            for (int64_t i = 0; i < bitmap.RowStride(); ++i)
                bitmap.ScanLine(y)[i] = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);

        TOverviewPyramid pyramid;
        std::atomic<bool> stop{false};
        pyramid.Build(bitmap, stop);
        const TOverviewLevel& level = pyramid.Level(1);
        ASSERT_EQ(level.BytesPerPixel, c.BytesPerPixel);
        std::vector<uint32_t> argb(size_t(kWidth) * kHeight);
        for (int y = 0; y < kHeight; ++y)
            bitmap.RowToARGB(y, 0, kWidth, argb.data() + y * kWidth);
        for (int y = 0; y < level.Height; ++y)
            for (int x = 0; x < level.Width; ++x)
                for (int k = 0; k < c.BytesPerPixel; ++k) {
                    int sum = 0;
                    for (int dy = 0; dy < 2; ++dy)
                        for (int dx = 0; dx < 2; ++dx)
                            sum += (argb[std::min(2 * y + dy, kHeight - 1) * kWidth + std::min(2 * x + dx, kWidth - 1)] >>
                                    (8 * k)) & 0xFF;
                    EXPECT_EQ(level.Row(y)[x * c.BytesPerPixel + k], (sum + 2) >> 2)
                        << "pixel " << x << ", " << y << " byte " << k;
                }
    }
}

TEST(OverviewPyramid, StopsWhenAskedAndStaysWithinAThirdOfAColourBitmap)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(bf24Bit);
    bitmap.SetSize(1000, 600);
    std::atomic<bool> stop{true};
    TOverviewPyramid stopped;
    stopped.Build(bitmap, stop);
    EXPECT_EQ(stopped.ReadyLevels(), 0);

    stop = false;
    TOverviewPyramid pyramid;
    pyramid.Build(bitmap, stop);
    EXPECT_EQ(pyramid.ReadyLevels(), 4);
    EXPECT_LE(double(pyramid.MemoryBytes()), double(bitmap.ImageSize()) / 3);
}

} // namespace
