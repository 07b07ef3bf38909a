#include "platform/bitmap.h"

#include "platform/exceptions.h"
#include "platform/large_memory.h"
#include "platform/streams.h"


#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

PW_DEFINE_GRAPHIC_CLASS(TBitmap, TGraphic)

int BitsPerPixelOf(TBitmapFormat format)
{
    switch (format) {
    case bf1Bit:
        return 1;
    case bf4Bit:
        return 4;
    case bf8Bit:
        return 8;
    case bf15Bit:
    case bf16Bit:
        return 16;
    case bf24Bit:
        return 24;
    case bf32Bit:
    case bfDevice:
    case bfCustom:
        return 32;
    }
    return 32;
}

TBitmap::~TBitmap() = default;

void TBitmap::SetSize(int width, int height)
{
    if (width < 0 || height < 0)
        throw EInvalidGraphic("Invalid bitmap size");
    if (width == FWidth && height == FHeight)
        return;
    FWidth = width;
    FHeight = height;
    FBits.reset();
}

void TBitmap::SetPixelFormat(TBitmapFormat format)
{
    if (format == FFormat)
        return;
    FFormat = format;
    FBits.reset();
}

void TBitmap::SetTailSlack(size_t bytes)
{
    if (bytes == FTailSlack)
        return;
    FTailSlack = bytes;
    FBits.reset();
}

int64_t TBitmap::RowStride() const
{
    return ((static_cast<int64_t>(FWidth) * BitsPerPixel() + 31) / 32) * 4;
}


namespace {

// Pixel memory of large bitmaps is mapped (platform/large_memory.h).
constexpr size_t BitmapMappedFrom = size_t(8) << 20;

} // namespace

void TBitmap::Allocate() const
{
    const int64_t pixels = ImageSize();
    if (pixels <= 0)
        return;
    if (static_cast<uint64_t>(pixels) > std::numeric_limits<size_t>::max() / 4 ||
        FTailSlack > std::numeric_limits<size_t>::max() / 4)
        throw EInvalidGraphic("Out of system resources");
    const size_t size = static_cast<size_t>(pixels) + FTailSlack;
    if (size >= BitmapMappedFrom) {
        if (uint8_t* block = pwmemory::MapLargeBlock(size, FPrefault)) {
            FBits = std::unique_ptr<uint8_t, void (*)(void*)>(block, &pwmemory::UnmapLargeBlock);
            return;
        }
    }
    // calloc hands large blocks out as fresh zero pages, so untouched rows cost nothing.
    void* memory = std::calloc(size, 1);
    if (!memory)
        throw EInvalidGraphic("Out of system resources");
    FBits = std::unique_ptr<uint8_t, void (*)(void*)>(static_cast<uint8_t*>(memory), &std::free);
}

uint8_t* TBitmap::ScanLine(int y)
{
    return const_cast<uint8_t*>(static_cast<const TBitmap*>(this)->ScanLine(y));
}

const uint8_t* TBitmap::ScanLine(int y) const
{
    if (y < 0 || y >= FHeight || FWidth == 0)
        throw EInvalidGraphic("Scan line index out of range");
    if (!FBits)
        Allocate();
    return FBits.get() + RowStride() * y;
}

TPaletteEntry TBitmap::PaletteColor(int index) const
{
    if (FPalette && index >= 0 && index < FPalette->Count())
        return (*FPalette)[index];
    if (FFormat == bf1Bit)
        return index ? TPaletteEntry{255, 255, 255, 0} : TPaletteEntry{0, 0, 0, 0};
    if (FFormat == bf4Bit && index >= 0 && index < 16)
        return DefaultPalette16()[index];
    if (FFormat == bf8Bit && index >= 0 && index < 256 && !FPalette) {
        const auto v = static_cast<uint8_t>(index);
        return TPaletteEntry{v, v, v, 0};
    }
    return TPaletteEntry{0, 0, 0, 0};
}

void TBitmap::FreeImage()
{
    FWidth = 0;
    FHeight = 0;
    ClearEarlyEnd();
    FBits.reset();
    FTailSlack = 0;
    FPalette.reset();
    FAlphaPresent = false;
    FTransparent = false;
    FTransparentColor = clNone;
}

void TBitmap::Assign(const TBitmap& source)
{
    if (&source == this)
        return;
    FreeImage();
    FFormat = source.FFormat;
    FWidth = source.FWidth;
    FHeight = source.FHeight;
    FPalette = source.FPalette ? std::make_shared<TPalette>(*source.FPalette) : nullptr;
    FAlphaPresent = source.FAlphaPresent;
    FTransparent = source.FTransparent;
    FTransparentColor = source.FTransparentColor;
    if (source.FBits && ImageSize() > 0) {
        Allocate();
        std::memcpy(FBits.get(), source.FBits.get(), static_cast<size_t>(ImageSize()));
    }
    Changed();
}

void TBitmap::RowToARGB(int y, int x, int count, uint32_t* out) const
{
    const uint8_t* row = ScanLine(y);
    auto fromEntry = [](const TPaletteEntry& e) {
        return 0xFF000000u | (uint32_t(e.peRed) << 16) | (uint32_t(e.peGreen) << 8) | e.peBlue;
    };
    auto expand5 = [](uint32_t v) { return (v << 3) | (v >> 2); };
    switch (FFormat) {
    case bf1Bit:
    case bf4Bit:
    case bf8Bit: {
        // A table of the whole palette pays off on rows longer than the
        // palette; shorter rows (tall, narrow images) look each pixel up.
        uint32_t lookup[256];
        const int entries = 1 << BitsPerPixel();
        const bool table = count >= entries;
        for (int i = 0; table && i < entries; ++i)
            lookup[i] = fromEntry(PaletteColor(i));
        for (int i = 0; i < count; ++i) {
            const int c = x + i;
            int index;
            if (FFormat == bf1Bit)
                index = (row[c >> 3] >> (7 - (c & 7))) & 1;
            else if (FFormat == bf4Bit)
                index = (c & 1) ? (row[c >> 1] & 0x0F) : (row[c >> 1] >> 4);
            else
                index = row[c];
            out[i] = table ? lookup[index] : fromEntry(PaletteColor(index));
        }
        break;
    }
    case bf15Bit:
    case bf16Bit:
        for (int i = 0; i < count; ++i) {
            const uint32_t p = row[2 * (x + i)] | (uint32_t(row[2 * (x + i) + 1]) << 8);
            out[i] = 0xFF000000u | (expand5((p >> 10) & 31) << 16) | (expand5((p >> 5) & 31) << 8) |
                     expand5(p & 31);
        }
        break;
    case bf24Bit:
        for (int i = 0; i < count; ++i) {
            const uint8_t* p = row + 3 * (x + i);
            out[i] = 0xFF000000u | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
        }
        break;
    default:
        for (int i = 0; i < count; ++i) {
            const uint8_t* p = row + 4 * (x + i);
            const uint32_t alpha = FAlphaPresent ? p[3] : 255;
            out[i] = (alpha << 24) | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
        }
        break;
    }
}
