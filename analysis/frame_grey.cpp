#include "analysis/frame_grey.h"

TGreyReader::TGreyReader(const TBitmap& bitmap) : FBitmap(bitmap)
{
    const TBitmapFormat format = bitmap.PixelFormat();
    if (format == bf1Bit || format == bf4Bit || format == bf8Bit) {
        const int entries = 1 << bitmap.BitsPerPixel();
        for (int i = 0; i < entries; ++i) {
            const TPaletteEntry e = bitmap.PaletteColor(i);
            FIndexGrey[i] = GreyOf(e.peRed, e.peGreen, e.peBlue);
        }
    }
}

void TGreyReader::Row(int y, int x, int count, uint8_t* out) const
{
    const uint8_t* row = FBitmap.ScanLine(y);
    switch (FBitmap.PixelFormat()) {
    case bf1Bit:
        for (int i = 0; i < count; ++i) {
            const int c = x + i;
            out[i] = FIndexGrey[(row[c >> 3] >> (7 - (c & 7))) & 1];
        }
        return;
    case bf4Bit:
        for (int i = 0; i < count; ++i) {
            const int c = x + i;
            out[i] = FIndexGrey[(c & 1) ? (row[c >> 1] & 0x0F) : (row[c >> 1] >> 4)];
        }
        return;
    case bf8Bit:
        for (int i = 0; i < count; ++i)
            out[i] = FIndexGrey[row[x + i]];
        return;
    case bf24Bit:
        for (const uint8_t* p = row + 3 * int64_t(x); count-- > 0; p += 3)
            *out++ = GreyOf(p[2], p[1], p[0]);
        return;
    case bf15Bit:
    case bf16Bit:
        FArgb.resize(size_t(count));
        FBitmap.RowToARGB(y, x, count, FArgb.data());
        for (int i = 0; i < count; ++i)
            out[i] = GreyOf((FArgb[i] >> 16) & 0xFF, (FArgb[i] >> 8) & 0xFF, FArgb[i] & 0xFF);
        return;
    default: // 32 bits a pixel; alpha plays no part in where lines are
        for (const uint8_t* p = row + 4 * int64_t(x); count-- > 0; p += 4)
            *out++ = GreyOf(p[2], p[1], p[0]);
        return;
    }
}

void TGreyReader::Column(int x, int y, int count, uint8_t* out) const
{
    for (int i = 0; i < count; ++i)
        Row(y + i, x, 1, out + i);
}
