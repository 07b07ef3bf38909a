#pragma once
// The overview of a picture for the reduced zoom levels: each level half the
// size of the one below (rounded up), every pixel the mean of the 2 x 2
// pixels it covers (the last row and column, when odd, repeat). Level 1 is
// made from the bitmap, each further one from the level before. Grey
// pictures keep one byte a pixel, colour three, colour with alpha four, so
// that the whole overview stays near a third of a 24-bit bitmap.
#include <atomic>
#include <cstdint>
#include <vector>

class TBitmap;

struct TOverviewLevel {
    int Width = 0;
    int Height = 0;
    int BytesPerPixel = 0;            // 1 grey, 3 B G R, 4 B G R A (0xAARRGGBB words)
    std::vector<uint8_t> Pixels;      // rows of Width * BytesPerPixel bytes, top row first
    const uint8_t* Row(int y) const { return Pixels.data() + size_t(y) * Width * BytesPerPixel; }
};

class TOverviewPyramid {
public:
    // Levels down to 1:16 or until the picture is a single pixel.
    static constexpr int kMaxLevels = 4;
    static int LevelCount(int width, int height);
    // Bytes a pixel of the overview of this bitmap takes.
    static int BytesPerPixelFor(const TBitmap& bitmap);

    // Builds every level from the bitmap, which must not change meanwhile.
    // Each level becomes readable from another thread once ReadyLevels counts
    // it. Stops early when stop is set.
    void Build(const TBitmap& bitmap, const std::atomic<bool>& stop);

    int ReadyLevels() const { return FReady.load(std::memory_order_acquire); }
    int Levels() const { return FLevels; }
    // Level 1 .. ReadyLevels().
    const TOverviewLevel& Level(int level) const { return FLevel[level - 1]; }
    size_t MemoryBytes() const;

private:
    TOverviewLevel FLevel[kMaxLevels];
    int FLevels = 0;
    std::atomic<int> FReady{0};
};
