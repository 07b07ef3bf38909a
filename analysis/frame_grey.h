#pragma once
// Grey levels (0 black .. 255 white) of a bitmap's pixels, for the map-frame
// finder: any pixel format, read a row or a window at a time so that a large
// scan is never copied.
#include "platform/bitmap.h"

#include <cstdint>
#include <vector>

class TGreyReader {
public:
    explicit TGreyReader(const TBitmap& bitmap);

    int Width() const { return FBitmap.Width(); }
    int Height() const { return FBitmap.Height(); }

    // Grey of count pixels of row y from column x; the span must lie inside
    // the bitmap.
    void Row(int y, int x, int count, uint8_t* out) const;
    // Grey of count pixels of column x from row y downwards.
    void Column(int x, int y, int count, uint8_t* out) const;

private:
    const TBitmap& FBitmap;
    // Grey of every palette index of an indexed bitmap.
    uint8_t FIndexGrey[256] = {};
    mutable std::vector<uint32_t> FArgb;
};

// Luminance of an 8-bit RGB colour, rounded (weights 77, 150, 29 of 256).
inline uint8_t GreyOf(uint32_t red, uint32_t green, uint32_t blue)
{
    return static_cast<uint8_t>((77 * red + 150 * green + 29 * blue + 128) >> 8);
}
