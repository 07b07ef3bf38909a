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

// The picture's rows in the overview's layout: read where they lie when
// they have it already (24-bit colour, 32-bit colour with alpha, 8-bit grey
// whose palette is the identity), else written into a row of scratch through
// a table of the palette or by dropping the unused fourth byte; any other
// layout through RowToARGB.
class TLevelOneRows {
public:
    explicit TLevelOneRows(const TOverviewSource& source) : FSource(source), FArgb(size_t(source.Width))
    {
        const int bytes = source.BytesPerPixel;
        const int bits = BitsPerPixelOf(source.Format);
        if ((source.Format == bf24Bit && bytes == 3) || (source.Format == bf32Bit && bytes == 4)) {
            FWay = TWay::AsTheyLie;
        } else if (source.Format == bf32Bit && bytes == 3) {
            FWay = TWay::DropFourthByte;
        } else if ((source.Format == bf1Bit || source.Format == bf4Bit || source.Format == bf8Bit) &&
                   source.Palette.size() == size_t(1) << bits && bytes != 4) {
            FWay = TWay::Indexed;
            bool identity = source.Format == bf8Bit && bytes == 1;
            for (size_t i = 0; i < source.Palette.size(); ++i) {
                const uint32_t argb = source.Palette[i];
                PackRow(&argb, 1, bytes, FLookup + bytes * i);
                identity = identity && FLookup[i * bytes] == i;
            }
            if (identity)
                FWay = TWay::AsTheyLie;
        }
    }

    const uint8_t* Row(int y, uint8_t* scratch)
    {
        const uint8_t* row = FSource.Bits + FSource.Stride * y;
        const int width = FSource.Width;
        switch (FWay) {
        case TWay::AsTheyLie:
            return row;
        case TWay::DropFourthByte:
            for (int x = 0; x < width; ++x) {
                scratch[3 * x] = row[4 * x];
                scratch[3 * x + 1] = row[4 * x + 1];
                scratch[3 * x + 2] = row[4 * x + 2];
            }
            return scratch;
        case TWay::Indexed:
            if (FSource.BytesPerPixel == 1)
                UnpackIndexed<1>(row, width, scratch);
            else
                UnpackIndexed<3>(row, width, scratch);
            return scratch;
        case TWay::ThroughARGB:
            break;
        }
        FSource.RowToARGB(y, FArgb.data());
        PackRow(FArgb.data(), width, FSource.BytesPerPixel, scratch);
        return scratch;
    }

private:
    template <int N>
    void UnpackIndexed(const uint8_t* row, int width, uint8_t* out) const
    {
        const auto put = [&](int x, int index) {
            for (int c = 0; c < N; ++c)
                out[N * x + c] = FLookup[N * index + c];
        };
        switch (FSource.Format) {
        case bf1Bit:
            for (int x = 0; x < width; ++x)
                put(x, (row[x >> 3] >> (7 - (x & 7))) & 1);
            break;
        case bf4Bit:
            for (int x = 0; x < width; ++x)
                put(x, (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4));
            break;
        default:
            for (int x = 0; x < width; ++x)
                put(x, row[x]);
            break;
        }
    }

    enum class TWay { ThroughARGB, AsTheyLie, DropFourthByte, Indexed };
    const TOverviewSource& FSource;
    TWay FWay = TWay::ThroughARGB;
    uint8_t FLookup[256 * 3] = {};
    std::vector<uint32_t> FArgb;
};

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
    source.Format = bitmap.PixelFormat();
    const int bits = bitmap.BitsPerPixel();
    for (int i = 0; bits <= 8 && i < (1 << bits); ++i) {
        const TPaletteEntry e = bitmap.PaletteColor(i);
        source.Palette.push_back(0xFF000000u | (uint32_t(e.peRed) << 16) | (uint32_t(e.peGreen) << 8) | e.peBlue);
    }
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

    TLevelOneRows pictureRows(source);
    std::vector<uint8_t> upper(size_t(width) * bytesPerPixel);
    std::vector<uint8_t> lower(upper.size());
    const auto halve = [&](int level, int y) {
        const int belowHeight = level == 0 ? height : FLevel[level - 1].Height;
        const int belowWidth = level == 0 ? width : FLevel[level - 1].Width;
        const int y0 = 2 * y;
        const int y1 = std::min(2 * y + 1, belowHeight - 1);
        const uint8_t* a;
        const uint8_t* b;
        if (level == 0) {
            a = pictureRows.Row(y0, upper.data());
            b = pictureRows.Row(y1, lower.data());
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
