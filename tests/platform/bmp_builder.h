#pragma once
// Byte builders for BMP files, packed DIBs and icons, and a bitmap-to-image
// helper, for the bitmap and icon tests.
#include "platform/bitmap.h"
#include "tests/support/test_support.h"

#include <array>
#include <cstdint>
#include <vector>

namespace bmptest {

struct TBytes {
    std::vector<uint8_t> Data;
    void U8(uint8_t v) { Data.push_back(v); }
    void U16(uint16_t v)
    {
        U8(static_cast<uint8_t>(v));
        U8(static_cast<uint8_t>(v >> 8));
    }
    void U32(uint32_t v)
    {
        U16(static_cast<uint16_t>(v));
        U16(static_cast<uint16_t>(v >> 16));
    }
    void Append(const std::vector<uint8_t>& bytes) { Data.insert(Data.end(), bytes.begin(), bytes.end()); }
};

// A DIB: header of HeaderSize bytes (12 core, 40 info, 52/56 V2/V3, 108 V4,
// 124 V5, other sizes OS/2 2.x), masks, palette and pixel bytes as given.
struct TDib {
    uint32_t HeaderSize = 40;
    int32_t Width = 1;
    int32_t Height = 1;
    uint16_t BitCount = 24;
    uint32_t Compression = 0;
    uint32_t ClrUsed = 0;
    std::array<uint32_t, 4> Masks{};    // red, green, blue, alpha in headers of 52 bytes and more
    std::vector<uint32_t> MasksAfter;   // masks after a 40-byte header
    std::vector<uint32_t> Palette;      // 0x00RRGGBB
    std::vector<uint8_t> Pixels;

    std::vector<uint8_t> Packed() const
    {
        TBytes b;
        b.U32(HeaderSize);
        if (HeaderSize == 12) {
            b.U16(static_cast<uint16_t>(Width));
            b.U16(static_cast<uint16_t>(Height));
            b.U16(1);
            b.U16(BitCount);
        } else {
            b.U32(static_cast<uint32_t>(Width));
            b.U32(static_cast<uint32_t>(Height));
            b.U16(1);
            b.U16(BitCount);
            b.U32(Compression);
            b.U32(static_cast<uint32_t>(Pixels.size()));
            b.U32(2835);
            b.U32(2835);
            b.U32(ClrUsed);
            b.U32(0);
            const bool windows = HeaderSize == 52 || HeaderSize == 56 || HeaderSize == 108 || HeaderSize == 124;
            for (int i = 0; windows && i < 4 && 40 + 4 * i < static_cast<int>(HeaderSize); ++i)
                b.U32(Masks[i]);
            b.Data.resize(b.Data.size() + (HeaderSize - (b.Data.size())), 0);
        }
        for (uint32_t m : MasksAfter)
            b.U32(m);
        for (uint32_t c : Palette) {
            b.U8(static_cast<uint8_t>(c));
            b.U8(static_cast<uint8_t>(c >> 8));
            b.U8(static_cast<uint8_t>(c >> 16));
            if (HeaderSize != 12)
                b.U8(0);
        }
        b.Append(Pixels);
        return b.Data;
    }

    // With the 14-byte file header; bitsOffset -1 puts the true offset there.
    std::vector<uint8_t> File(int64_t bitsOffset = -1) const
    {
        const std::vector<uint8_t> dib = Packed();
        TBytes b;
        b.U8('B');
        b.U8('M');
        b.U32(static_cast<uint32_t>(14 + dib.size()));
        b.U32(0);
        b.U32(static_cast<uint32_t>(bitsOffset >= 0 ? bitsOffset : 14 + dib.size() - Pixels.size()));
        b.Append(dib);
        return b.Data;
    }
};

// The bitmap's pixels as 8-bit RGB (channels 3) or RGBA (channels 4).
inline pwtest::Image ImageOf(const TBitmap& bitmap, int channels)
{
    pwtest::Image image{bitmap.Width(), bitmap.Height(), channels, {}};
    std::vector<uint32_t> row(static_cast<size_t>(bitmap.Width()));
    for (int y = 0; y < bitmap.Height(); ++y) {
        bitmap.RowToARGB(y, 0, bitmap.Width(), row.data());
        for (uint32_t c : row) {
            image.Pixels.insert(image.Pixels.end(), {static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8),
                                                     static_cast<uint8_t>(c)});
            if (channels == 4)
                image.Pixels.push_back(static_cast<uint8_t>(c >> 24));
        }
    }
    return image;
}

} // namespace bmptest
