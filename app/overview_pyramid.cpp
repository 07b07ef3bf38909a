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

void TOverviewPyramid::Build(const TBitmap& bitmap, const std::atomic<bool>& stop)
{
    const int width = bitmap.Width();
    const int height = bitmap.Height();
    FLevels = bitmap.Empty() ? 0 : LevelCount(width, height);
    if (FLevels == 0)
        return;
    const int bytesPerPixel = BytesPerPixelFor(bitmap);

    std::vector<uint32_t> argb(static_cast<size_t>(width));
    std::vector<uint8_t> upper(size_t(width) * bytesPerPixel);
    std::vector<uint8_t> lower(upper.size());
    int sourceWidth = width;
    int sourceHeight = height;
    for (int level = 0; level < FLevels; ++level) {
        TOverviewLevel& target = FLevel[level];
        target.Width = (sourceWidth + 1) / 2;
        target.Height = (sourceHeight + 1) / 2;
        target.BytesPerPixel = bytesPerPixel;
        target.Pixels.resize(size_t(target.Width) * target.Height * bytesPerPixel);
        for (int y = 0; y < target.Height; ++y) {
            if (stop.load(std::memory_order_relaxed))
                return;
            const int y0 = 2 * y;
            const int y1 = std::min(2 * y + 1, sourceHeight - 1);
            const uint8_t* a;
            const uint8_t* b;
            if (level == 0 && bitmap.PixelFormat() == bf24Bit) {
                // Already in the overview's layout.
                a = bitmap.ScanLine(y0);
                b = bitmap.ScanLine(y1);
            } else if (level == 0) {
                bitmap.RowToARGB(y0, 0, width, argb.data());
                PackRow(argb.data(), width, bytesPerPixel, upper.data());
                bitmap.RowToARGB(y1, 0, width, argb.data());
                PackRow(argb.data(), width, bytesPerPixel, lower.data());
                a = upper.data();
                b = lower.data();
            } else {
                a = FLevel[level - 1].Row(y0);
                b = FLevel[level - 1].Row(y1);
            }
            HalveRows(a, b, sourceWidth, bytesPerPixel,
                      target.Pixels.data() + size_t(y) * target.Width * bytesPerPixel);
        }
        FReady.store(level + 1, std::memory_order_release);
        sourceWidth = target.Width;
        sourceHeight = target.Height;
    }
}

size_t TOverviewPyramid::MemoryBytes() const
{
    size_t bytes = 0;
    for (const TOverviewLevel& level : FLevel)
        bytes += level.Pixels.capacity();
    return bytes;
}
