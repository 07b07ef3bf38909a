// BMP, DIB and RLE files: the file header, the core (OS/2 1.x), info, OS/2
// 2.x, V2-V5 headers, 1/4/8-bit indexed, 16/24/32-bit direct and bit-field
// pixels, RLE4 and RLE8, bottom-up and top-down rows.
#include "platform/bitmap.h"

#include "platform/exceptions.h"
#include "platform/streams.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* InvalidBitmap = "Bitmap image is not valid";
constexpr const char* BitmapTooLarge = "Bitmap image is too large (%lld x %lld pixels)";
constexpr const char* UnsupportedCompression = "Bitmap compression %u is not supported";

// Refused before any pixel memory is taken; the same limits as the image
// library's readers.
#ifdef PW_FUZZ_MAX_IMAGE_BYTES
constexpr int64_t MaxImageBytes = PW_FUZZ_MAX_IMAGE_BYTES;
#else
constexpr int64_t MaxImageBytes = int64_t(4) << 30;
#endif
constexpr int64_t MaxImageSide = int64_t(1) << 20;

enum : uint32_t {
    BI_RGB = 0,
    BI_RLE8 = 1,
    BI_RLE4 = 2,
    BI_BITFIELDS = 3,
    BI_ALPHABITFIELDS = 6,
};

constexpr uint32_t CoreHeaderSize = 12;
constexpr uint32_t InfoHeaderSize = 40;
constexpr uint32_t V2HeaderSize = 52; // info header plus red, green and blue masks
constexpr uint32_t V3HeaderSize = 56; // ... plus the alpha mask
constexpr uint32_t V4HeaderSize = 108;
constexpr uint32_t V5HeaderSize = 124;

[[noreturn]] void RaiseInvalid()
{
    throw EInvalidGraphic(InvalidBitmap);
}

[[noreturn]] void RaiseTooLarge(int64_t width, int64_t height)
{
    char text[96];
    std::snprintf(text, sizeof text, BitmapTooLarge, static_cast<long long>(width), static_cast<long long>(height));
    throw EInvalidGraphic(text);
}

[[noreturn]] void RaiseUnsupported(uint32_t compression)
{
    char text[64];
    std::snprintf(text, sizeof text, UnsupportedCompression, compression);
    throw EInvalidGraphic(text);
}

uint16_t GetU16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t GetU32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

struct TDibHeader {
    uint32_t Size = 0;
    int64_t Width = 0;
    int64_t Height = 0; // negative: the top row is stored first
    uint16_t BitCount = 0;
    uint32_t Compression = BI_RGB;
    uint32_t ClrUsed = 0;
    std::array<uint32_t, 4> Masks{}; // red, green, blue, alpha
    int MasksInHeader = 0;           // how many of the masks the header holds
    bool OS2 = false;                // OS/2 2.x: compression codes 3 and 4 mean other things
};

TDibHeader ReadDibHeader(TStream& stream)
{
    uint8_t raw[V5HeaderSize] = {};
    if (stream.Read(raw, 4) != 4)
        RaiseInvalid();
    TDibHeader h;
    h.Size = GetU32(raw);
    if (h.Size == CoreHeaderSize) {
        if (stream.Read(raw + 4, 8) != 8)
            RaiseInvalid();
        h.Width = GetU16(raw + 4);
        h.Height = GetU16(raw + 6);
        h.BitCount = GetU16(raw + 10);
        return h;
    }
    // OS/2 2.x headers may stop after any field from the bit count on; the
    // fields left out are zero.
    if (h.Size < 16 || h.Size > V5HeaderSize)
        RaiseInvalid();
    if (stream.Read(raw + 4, h.Size - 4) != h.Size - 4)
        RaiseInvalid();
    h.Width = static_cast<int32_t>(GetU32(raw + 4));
    h.Height = static_cast<int32_t>(GetU32(raw + 8));
    h.BitCount = GetU16(raw + 14);
    h.Compression = GetU32(raw + 16);
    h.ClrUsed = GetU32(raw + 32);
    h.OS2 = h.Size != InfoHeaderSize && h.Size != V2HeaderSize && h.Size != V3HeaderSize &&
            h.Size != V4HeaderSize && h.Size != V5HeaderSize;
    if (!h.OS2 && h.Size >= V2HeaderSize) {
        h.MasksInHeader = h.Size >= V3HeaderSize ? 4 : 3;
        for (int i = 0; i < h.MasksInHeader; ++i)
            h.Masks[i] = GetU32(raw + 40 + 4 * i);
    }
    return h;
}

// One colour component held under a bit mask, widened to 8 bits by repeating
// its bits (5 bits v become (v << 3) | (v >> 2)).
struct TMaskField {
    uint32_t Mask = 0;
    int Shift = 0;
    int Bits = 0;

    explicit TMaskField(uint32_t mask) : Mask(mask)
    {
        if (mask == 0)
            return;
        Shift = std::countr_zero(mask);
        Bits = std::popcount(mask);
    }
    bool Contiguous() const { return Mask == 0 || std::popcount(Mask >> Shift) == std::countr_one(Mask >> Shift); }

    uint8_t Extract(uint32_t pixel) const
    {
        if (Bits == 0)
            return 0;
        const uint32_t v = (pixel & Mask) >> Shift;
        if (Bits >= 8)
            return static_cast<uint8_t>(v >> (Bits - 8));
        uint32_t r = v << (8 - Bits);
        for (int s = Bits; s < 8; s *= 2)
            r |= r >> s;
        return static_cast<uint8_t>(r);
    }
};

// How the rows of the file reach the bitmap.
enum class TRowMode {
    Copy,    // the stored row already has the bitmap's layout
    Convert, // 16/32-bit bit-field pixels turned into 24- or 32-bit pixels
    RLE8,
    RLE4,
};

// Buffered bytes of the compressed bits, up to the end of the stream.
class TRunSource {
public:
    explicit TRunSource(TStream& stream) : FStream(stream), FBuffer(64 * 1024) {}

    bool Next(uint8_t& value)
    {
        if (FPosition == FEnd) {
            const int64_t got = FStream.Read(FBuffer.data(), static_cast<int64_t>(FBuffer.size()));
            if (got <= 0)
                return false;
            FPosition = 0;
            FEnd = static_cast<size_t>(got);
        }
        value = FBuffer[FPosition++];
        return true;
    }

private:
    TStream& FStream;
    std::vector<uint8_t> FBuffer;
    size_t FPosition = 0;
    size_t FEnd = 0;
};

// RLE8 and RLE4: runs are clipped at the row's end, a delta moves right and
// up, and a stream that ends early ends the image (rows not reached stay zero).
// Returns the row, counted in the file's order, in which the data ended, or
// -1 when they did not end early.
int64_t DecodeRunLength(TRunSource& source, TBitmap& bitmap, int64_t width, int64_t height, bool topDown, bool rle4)
{
    int64_t x = 0;
    int64_t row = 0;
    uint8_t* line = nullptr;
    auto selectRow = [&] {
        line = row < height ? bitmap.ScanLine(static_cast<int>(topDown ? row : height - 1 - row)) : nullptr;
    };
    auto put = [&](int64_t at, uint8_t index) {
        if (at >= width)
            return;
        if (!rle4) {
            line[at] = index;
            return;
        }
        uint8_t& b = line[at >> 1];
        b = (at & 1) ? static_cast<uint8_t>((b & 0xF0) | index) : static_cast<uint8_t>((b & 0x0F) | (index << 4));
    };
    selectRow();
    uint8_t count = 0;
    uint8_t value = 0;
    while (row < height && source.Next(count) && source.Next(value)) {
        if (count > 0) {
            if (!rle4) {
                if (x < width)
                    std::memset(line + x, value, static_cast<size_t>(std::min<int64_t>(count, width - x)));
            } else {
                for (int i = 0; i < count; ++i)
                    put(x + i, (i & 1) ? (value & 0x0F) : (value >> 4));
            }
            x += count;
            continue;
        }
        switch (value) {
        case 0: // end of line
            x = 0;
            ++row;
            selectRow();
            break;
        case 1: // end of bitmap
            return -1;
        case 2: { // delta
            uint8_t dx = 0;
            uint8_t dy = 0;
            if (!source.Next(dx) || !source.Next(dy))
                return row;
            x += dx;
            if (dy) {
                row += dy;
                selectRow();
            }
            break;
        }
        default: { // absolute run of value pixels, padded to a 16-bit boundary
            const int pixels = value;
            const int bytes = rle4 ? (pixels + 1) / 2 : pixels;
            for (int j = 0; j < bytes; ++j) {
                uint8_t b = 0;
                if (!source.Next(b))
                    return row;
                if (!rle4) {
                    put(x + j, b);
                } else {
                    put(x + 2 * j, b >> 4);
                    if (2 * j + 1 < pixels)
                        put(x + 2 * j + 1, b & 0x0F);
                }
            }
            x += pixels;
            uint8_t pad = 0;
            if ((bytes & 1) && !source.Next(pad))
                return row;
            break;
        }
        }
    }
    return row < height ? row : -1;
}

} // namespace

bool TBitmap::CanLoadStream(TStream& stream)
{
    const int64_t position = stream.Position();
    uint8_t signature[2] = {};
    const bool isBitmap = stream.Read(signature, 2) == 2 && signature[0] == 'B' && signature[1] == 'M';
    stream.SetPosition(position);
    return isBitmap;
}

void TBitmap::LoadFromStream(TStream& stream)
{
    FreeImage();
    const int64_t start = stream.Position();
    uint8_t fileHeader[14];
    if (stream.Read(fileHeader, 2) == 2 && fileHeader[0] == 'B' && fileHeader[1] == 'M') {
        if (stream.Read(fileHeader + 2, 12) != 12)
            RaiseInvalid();
        const uint32_t bitsOffset = GetU32(fileHeader + 10);
        LoadDIB(stream, bitsOffset ? start + bitsOffset : 0, start + 14);
    } else {
        // A .dib file may be a packed DIB: the header without the file header.
        LoadDIB(stream, 0, start);
    }
    Changed();
}

void TBitmap::LoadDIB(TStream& stream, int64_t bitsOffset, int64_t dibStart, bool iconImage)
{
    const int64_t streamSize = stream.Size();
    stream.SetPosition(dibStart);
    TDibHeader header = ReadDibHeader(stream);
    const bool core = header.Size == CoreHeaderSize;

    const int64_t width = header.Width;
    int64_t height = header.Height;
    if (iconImage)
        height /= 2;
    const bool topDown = height < 0;
    if (topDown)
        height = -height;
    if (width < 0)
        RaiseInvalid();

    const int bits = header.BitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        RaiseInvalid();

    const uint32_t compression = header.Compression;
    if (header.OS2 && (compression == BI_BITFIELDS || compression == 4))
        RaiseUnsupported(compression); // OS/2 Huffman 1D and RLE24
    switch (compression) {
    case BI_RGB:
        break;
    case BI_RLE8:
        if (bits != 8)
            RaiseInvalid();
        break;
    case BI_RLE4:
        if (bits != 4)
            RaiseInvalid();
        break;
    case BI_BITFIELDS:
    case BI_ALPHABITFIELDS:
        if (bits != 16 && bits != 32)
            RaiseInvalid();
        break;
    default:
        RaiseUnsupported(compression);
    }

    // Masks: after a 40-byte header they follow it; larger headers hold them.
    int64_t position = dibStart + header.Size;
    if ((compression == BI_BITFIELDS || compression == BI_ALPHABITFIELDS) && header.MasksInHeader == 0) {
        const int count = compression == BI_ALPHABITFIELDS ? 4 : 3;
        uint8_t raw[16];
        if (stream.Read(raw, 4 * count) != 4 * count)
            RaiseInvalid();
        for (int i = 0; i < count; ++i)
            header.Masks[i] = GetU32(raw + 4 * i);
        position += 4 * count;
    }

    std::array<uint32_t, 4> masks{};
    if (bits == 16 || bits == 32) {
        if (compression == BI_RGB) {
            masks = bits == 16 ? std::array<uint32_t, 4>{0x7C00, 0x03E0, 0x001F, 0}
                               : std::array<uint32_t, 4>{0xFF0000, 0x00FF00, 0x0000FF, 0};
            // A V3-V5 header may name the fourth byte of 32-bit pixels alpha.
            if (bits == 32 && header.MasksInHeader == 4 && header.Masks[3] == 0xFF000000)
                masks[3] = 0xFF000000;
        } else {
            masks = header.Masks;
            if (compression == BI_BITFIELDS && header.MasksInHeader < 4)
                masks[3] = 0;
            if ((masks[0] | masks[1] | masks[2]) == 0)
                RaiseInvalid();
            for (uint32_t m : masks)
                if ((bits == 16 && m > 0xFFFF) || !TMaskField(m).Contiguous())
                    RaiseInvalid();
        }
    }

    TBitmapFormat format = bf24Bit;
    TRowMode mode = TRowMode::Copy;
    switch (bits) {
    case 1:
        format = bf1Bit;
        break;
    case 4:
        format = bf4Bit;
        mode = compression == BI_RLE4 ? TRowMode::RLE4 : TRowMode::Copy;
        break;
    case 8:
        format = bf8Bit;
        mode = compression == BI_RLE8 ? TRowMode::RLE8 : TRowMode::Copy;
        break;
    case 16:
        if (masks == std::array<uint32_t, 4>{0x7C00, 0x03E0, 0x001F, 0}) {
            format = bf15Bit;
        } else {
            format = masks[3] ? bf32Bit : bf24Bit;
            mode = TRowMode::Convert;
        }
        break;
    case 24:
        format = bf24Bit;
        break;
    case 32:
        if (masks[0] == 0xFF0000 && masks[1] == 0x00FF00 && masks[2] == 0x0000FF &&
            (masks[3] == 0 || masks[3] == 0xFF000000)) {
            format = bf32Bit;
        } else {
            format = masks[3] ? bf32Bit : bf24Bit;
            mode = TRowMode::Convert;
        }
        break;
    }
    const bool hasAlpha = masks[3] != 0;

    if (width > MaxImageSide || height > MaxImageSide ||
        ((width * BitsPerPixelOf(format) + 31) / 32) * 4 * height > MaxImageBytes)
        RaiseTooLarge(width, height);

    // Colour table: core headers store 3-byte entries, the others 4-byte ones.
    const int entrySize = core ? 3 : 4;
    const int64_t paletteStart = position;
    int64_t declaredEntries = header.ClrUsed;
    if (bits <= 8 && (core || declaredEntries == 0))
        declaredEntries = int64_t(1) << bits;
    const int64_t packedBits = paletteStart + declaredEntries * entrySize;
    if (bitsOffset < paletteStart || bitsOffset > streamSize)
        bitsOffset = packedBits;

    std::vector<TPaletteEntry> entries;
    if (bits <= 8) {
        int64_t count = std::min<int64_t>(declaredEntries, TPalette::MaxEntries);
        count = std::min(count, (bitsOffset - paletteStart) / entrySize);
        count = std::max<int64_t>(0, std::min(count, (streamSize - paletteStart) / entrySize));
        std::vector<uint8_t> raw(static_cast<size_t>(count * entrySize));
        stream.SetPosition(paletteStart);
        stream.ReadBuffer(raw.data(), static_cast<int64_t>(raw.size()));
        entries.resize(static_cast<size_t>(count));
        for (size_t i = 0; i < entries.size(); ++i) {
            const uint8_t* e = &raw[i * entrySize];
            entries[i] = TPaletteEntry{e[2], e[1], e[0], 0};
        }
    }

    const int64_t fileStride = ((width * bits + 31) / 32) * 4;
    const int64_t rowBytes = (width * bits + 7) / 8;
    if (width > 0 && height > 0 && (mode == TRowMode::Copy || mode == TRowMode::Convert)) {
        // The last row may go without its padding.
        const int64_t needed = fileStride * (height - 1) + rowBytes;
        if (bitsOffset + needed > streamSize)
            RaiseInvalid();
    }

    SetPixelFormat(format);
    SetSize(static_cast<int>(width), static_cast<int>(height));
    SetPalette(CreatePalette(entries));
    FAlphaPresent = false;
    if (width == 0 || height == 0)
        return;

    stream.SetPosition(bitsOffset);
    auto lineOf = [&](int64_t fileRow) { return ScanLine(static_cast<int>(topDown ? fileRow : height - 1 - fileRow)); };
    switch (mode) {
    case TRowMode::Copy: {
        uint8_t alpha = 0;
        for (int64_t i = 0; i < height; ++i) {
            uint8_t* line = lineOf(i);
            stream.ReadBuffer(line, i + 1 < height ? fileStride : rowBytes);
            if (hasAlpha)
                for (int64_t x = 0; x < width; ++x)
                    alpha |= line[4 * x + 3];
        }
        stream.Seek(fileStride - rowBytes, soCurrent);
        FAlphaPresent = alpha != 0;
        break;
    }
    case TRowMode::Convert: {
        const TMaskField red(masks[0]), green(masks[1]), blue(masks[2]), alphaField(masks[3]);
        const int outBytes = format == bf32Bit ? 4 : 3;
        std::vector<uint8_t> row(static_cast<size_t>(fileStride));
        uint8_t alpha = 0;
        for (int64_t i = 0; i < height; ++i) {
            stream.ReadBuffer(row.data(), i + 1 < height ? fileStride : rowBytes);
            uint8_t* out = lineOf(i);
            for (int64_t x = 0; x < width; ++x, out += outBytes) {
                const uint32_t pixel = bits == 16 ? GetU16(&row[2 * x]) : GetU32(&row[4 * x]);
                out[0] = blue.Extract(pixel);
                out[1] = green.Extract(pixel);
                out[2] = red.Extract(pixel);
                if (outBytes == 4) {
                    out[3] = alphaField.Extract(pixel);
                    alpha |= out[3];
                }
            }
        }
        stream.Seek(fileStride - rowBytes, soCurrent);
        FAlphaPresent = alpha != 0;
        break;
    }
    case TRowMode::RLE8:
    case TRowMode::RLE4: {
        TRunSource source(stream);
        const int64_t ended = DecodeRunLength(source, *this, width, height, topDown, mode == TRowMode::RLE4);
        if (ended >= 0)
            NoteEarlyEnd(static_cast<uint64_t>(ended));
        break;
    }
    }
}
