#include "app/overview_pyramid.h"

#include "platform/bitmap.h"

#include <algorithm>

namespace {

// The mean of two rows' pixel pairs into one row of half the width; b is a
// when the level below has an odd last row. N, the bytes a pixel, is fixed
// per call so that the channel loop unrolls.
template <int N>
void HalveRowsOf(const uint8_t* a, const uint8_t* b, int sourceWidth, uint8_t* out)
{
    const int pairs = sourceWidth / 2;
    for (int x = 0; x < pairs; ++x) {
        const uint8_t* a0 = a + 2 * N * x;
        const uint8_t* b0 = b + 2 * N * x;
        for (int c = 0; c < N; ++c)
            out[N * x + c] = static_cast<uint8_t>((a0[c] + a0[N + c] + b0[c] + b0[N + c] + 2) >> 2);
    }
    if (sourceWidth % 2 != 0) {
        const uint8_t* a0 = a + 2 * N * pairs;
        const uint8_t* b0 = b + 2 * N * pairs;
        for (int c = 0; c < N; ++c)
            out[N * pairs + c] = static_cast<uint8_t>((2 * a0[c] + 2 * b0[c] + 2) >> 2);
    }
}

void HalveRows(const uint8_t* a, const uint8_t* b, int sourceWidth, int bytesPerPixel, uint8_t* out)
{
    switch (bytesPerPixel) {
    case 1: HalveRowsOf<1>(a, b, sourceWidth, out); break;
    case 3: HalveRowsOf<3>(a, b, sourceWidth, out); break;
    default: HalveRowsOf<4>(a, b, sourceWidth, out); break;
    }
}

// A bitmap row in the overview's layout.
void PackRow(const uint32_t* argb, int width, int bytesPerPixel, uint8_t* out)
{
    switch (bytesPerPixel) {
    case 1:
        for (int x = 0; x < width; ++x)
            out[x] = static_cast<uint8_t>(argb[x]);
        break;
    case 3:
        for (int x = 0; x < width; ++x) {
            out[3 * x] = static_cast<uint8_t>(argb[x]);
            out[3 * x + 1] = static_cast<uint8_t>(argb[x] >> 8);
            out[3 * x + 2] = static_cast<uint8_t>(argb[x] >> 16);
        }
        break;
    default:
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 4; ++c)
                out[4 * x + c] = static_cast<uint8_t>(argb[x] >> (8 * c));
    }
}

} // namespace

int TOverviewPyramid::LevelCount(int width, int height)
{
    int levels = 0;
    while (levels < kMaxLevels && (width > 1 || height > 1)) {
        width = (width + 1) / 2;
        height = (height + 1) / 2;
        ++levels;
    }
    return levels;
}

int TOverviewPyramid::BytesPerPixelFor(const TBitmap& bitmap)
{
    if (bitmap.AlphaPresent() && bitmap.BitsPerPixel() == 32)
        return 4;
    if (bitmap.BitsPerPixel() > 8)
        return 3;
    for (int i = 0; i < (1 << bitmap.BitsPerPixel()); ++i) {
        const TPaletteEntry entry = bitmap.PaletteColor(i);
        if (entry.peRed != entry.peGreen || entry.peGreen != entry.peBlue)
            return 3;
    }
    return 1;
}

TOverviewSource TOverviewSource::Of(const TBitmap& bitmap)
{
    TOverviewSource source;
    source.Width = bitmap.Width();
    source.Height = bitmap.Height();
    if (bitmap.Empty())
        return source;
    source.BytesPerPixel = TOverviewPyramid::BytesPerPixelFor(bitmap);
    source.Bits = bitmap.ScanLine(0);
    source.Stride = bitmap.RowStride();
    source.Rows24 = bitmap.PixelFormat() == bf24Bit;
    source.RowToARGB = [&bitmap](int y, uint32_t* argb) { bitmap.RowToARGB(y, 0, bitmap.Width(), argb); };
    return source;
}

void TRowsArrived::Set(int rows)
{
    {
        std::lock_guard lock(FMutex);
        FRows.store(rows, std::memory_order_release);
    }
    FChanged.notify_all();
}

int TRowsArrived::Wait(int rows, const std::atomic<bool>& stop)
{
    std::unique_lock lock(FMutex);
    FChanged.wait(lock, [&] { return FRows.load(std::memory_order_relaxed) >= rows || stop.load(); });
    return FRows.load(std::memory_order_relaxed);
}

void TRowsArrived::Wake()
{
    {
        std::lock_guard lock(FMutex);
    }
    FChanged.notify_all();
}

void TOverviewPyramid::Build(const TOverviewSource& source, TRowsArrived& rows, const std::atomic<bool>& stop)
{
    const int width = source.Width;
    const int height = source.Height;
    const int levels = width > 0 && height > 0 ? LevelCount(width, height) : 0;
    if (levels == 0)
        return;
    const int bytesPerPixel = source.BytesPerPixel;
    int sourceWidth = width, sourceHeight = height;
    for (int level = 0; level < levels; ++level) {
        TOverviewLevel& target = FLevel[level];
        target.Width = (sourceWidth + 1) / 2;
        target.Height = (sourceHeight + 1) / 2;
        target.BytesPerPixel = bytesPerPixel;
        target.Pixels.resize(size_t(target.Width) * target.Height * bytesPerPixel);
        sourceWidth = target.Width;
        sourceHeight = target.Height;
    }
    FLevels.store(levels, std::memory_order_release);

    std::vector<uint32_t> argb(static_cast<size_t>(width));
    std::vector<uint8_t> upper(size_t(width) * bytesPerPixel);
    std::vector<uint8_t> lower(upper.size());
    const auto halve = [&](int level, int y) {
        const int belowHeight = level == 0 ? height : FLevel[level - 1].Height;
        const int belowWidth = level == 0 ? width : FLevel[level - 1].Width;
        const int y0 = 2 * y;
        const int y1 = std::min(2 * y + 1, belowHeight - 1);
        const uint8_t* a;
        const uint8_t* b;
        if (level == 0 && source.Rows24) {
            // Already in the overview's layout.
            a = source.Bits + source.Stride * y0;
            b = source.Bits + source.Stride * y1;
        } else if (level == 0) {
            source.RowToARGB(y0, argb.data());
            PackRow(argb.data(), width, bytesPerPixel, upper.data());
            source.RowToARGB(y1, argb.data());
            PackRow(argb.data(), width, bytesPerPixel, lower.data());
            a = upper.data();
            b = lower.data();
        } else {
            a = FLevel[level - 1].Row(y0);
            b = FLevel[level - 1].Row(y1);
        }
        TOverviewLevel& target = FLevel[level];
        HalveRows(a, b, belowWidth, bytesPerPixel, target.Pixels.data() + size_t(y) * target.Width * bytesPerPixel);
        FBuilt[level].store(y + 1, std::memory_order_release);
        if (y + 1 == target.Height)
            FReady.store(level + 1, std::memory_order_release);
    };
    // Row by row of level 1, each further level as far as the one below
    // reaches, so that all grow together while the picture arrives.
    int arrived = 0;
    for (int y = 0; y < FLevel[0].Height; ++y) {
        const int needed = std::min(2 * y + 2, height);
        if (arrived < needed)
            arrived = rows.Wait(needed, stop);
        if (stop.load(std::memory_order_relaxed) || arrived < needed)
            return;
        halve(0, y);
        for (int level = 1; level < levels; ++level) {
            const int below = FBuilt[level - 1].load(std::memory_order_relaxed);
            const int belowHeight = FLevel[level - 1].Height;
            for (int r = FBuilt[level].load(std::memory_order_relaxed);
                 r < FLevel[level].Height && below >= std::min(2 * r + 2, belowHeight); ++r)
                halve(level, r);
        }
    }
}

void TOverviewPyramid::Build(const TBitmap& bitmap, const std::atomic<bool>& stop)
{
    TRowsArrived rows;
    rows.Set(bitmap.Height());
    Build(TOverviewSource::Of(bitmap), rows, stop);
}

size_t TOverviewPyramid::MemoryBytes() const
{
    size_t bytes = 0;
    for (const TOverviewLevel& level : FLevel)
        bytes += level.Pixels.capacity();
    return bytes;
}
