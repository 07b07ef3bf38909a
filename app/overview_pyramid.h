#pragma once
// The overview of a picture for the reduced zoom levels: each level half the
// size of the one below (rounded up), every pixel the mean of the 2 x 2
// pixels it covers (the last row and column, when odd, repeat). Level 1 is
// made from the picture's rows, each further one from the level before.
// Grey pictures keep one byte a pixel, colour three, colour with alpha four,
// so that the whole overview stays near a third of a 24-bit bitmap.
//
// The levels are built as the picture's rows arrive: a level's rows become
// readable from another thread as BuiltRows counts them, and the level
// itself once ReadyLevels does.
#include "platform/bitmap.h"
#include "platform/large_memory.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>


// A level's memory is mapped when large, so that it costs a few page faults
// rather than one per 4 KB, and is not cleared first: every byte of a level
// is written before it is read.
template <class T>
struct TLevelAllocator : pwmemory::TLargeAllocator<T> {
    template <class U>
    struct rebind {
        using other = TLevelAllocator<U>;
    };
    template <class U>
    void construct(U* p) noexcept
    {
        ::new (static_cast<void*>(p)) U;
    }
};

struct TOverviewLevel {
    int Width = 0;
    int Height = 0;
    int BytesPerPixel = 0;            // 1 grey, 3 B G R, 4 B G R A (0xAARRGGBB words)
    std::vector<uint8_t, TLevelAllocator<uint8_t>> Pixels; // rows of Width * BytesPerPixel bytes, top row first
    const uint8_t* Row(int y) const { return Pixels.data() + size_t(y) * Width * BytesPerPixel; }
};

// The picture's rows for the overview (Bits, Stride, laid out as Format
// says). Rows of 1, 4 or 8 bits go through Palette (0xAARRGGBB per index,
// 1 << bits entries); 15- and 16-bit rows and any other layout through
// RowToARGB.
struct TOverviewSource {
    int Width = 0;
    int Height = 0;
    int BytesPerPixel = 0; // what the overview keeps, BytesPerPixelFor the picture
    const uint8_t* Bits = nullptr;
    int64_t Stride = 0;
    TBitmapFormat Format = bfDevice;
    std::vector<uint32_t> Palette;
    std::function<void(int y, uint32_t* argb)> RowToARGB;

    static TOverviewSource Of(const TBitmap& bitmap);
};

// How many of the picture's rows are there to read; grows while a picture
// is loaded.
class TRowsArrived {
public:
    void Set(int rows);
    // Waits until at least rows are there, or Set or Stop is called after
    // stop was set; returns how many are.
    int Wait(int rows, const std::atomic<bool>& stop);
    void Wake();
    int Rows() const { return FRows.load(std::memory_order_acquire); }

private:
    std::mutex FMutex;
    std::condition_variable FChanged;
    std::atomic<int> FRows{0};
};

class TOverviewPyramid {
public:
    // Levels down to 1:16 or until the picture is a single pixel.
    static constexpr int kMaxLevels = 4;
    static int LevelCount(int width, int height);
    // Bytes a pixel of the overview of this bitmap takes.
    static int BytesPerPixelFor(const TBitmap& bitmap);

    // Builds every level from the source's rows as rows says they arrive;
    // the rows read must not change meanwhile. Stops early when stop is set.
    void Build(const TOverviewSource& source, TRowsArrived& rows, const std::atomic<bool>& stop);
    // From a bitmap whose rows are all there.
    void Build(const TBitmap& bitmap, const std::atomic<bool>& stop);

    int ReadyLevels() const { return FReady.load(std::memory_order_acquire); }
    int Levels() const { return FLevels.load(std::memory_order_acquire); }
    // Rows of level (1 .. Levels()) built so far.
    int BuiltRows(int level) const { return FBuilt[level - 1].load(std::memory_order_acquire); }
    // Level 1 .. Levels(); its rows below BuiltRows are readable.
    const TOverviewLevel& Level(int level) const { return FLevel[level - 1]; }
    size_t MemoryBytes() const;

private:
    TOverviewLevel FLevel[kMaxLevels];
    std::atomic<int> FBuilt[kMaxLevels] = {};
    std::atomic<int> FLevels{0};
    std::atomic<int> FReady{0};
};
