#pragma once
// TBitmap: a device-independent bitmap held in memory. Rows are 4-byte
// aligned, row 0 is the top row. The pixel buffer is allocated (zeroed) on the
// first scan-line request after a change of size or format, so setting the
// format, width and height costs one allocation.
#include "platform/graphic.h"
#include "platform/palette.h"

#include <cstdint>
#include <memory>

enum TBitmapFormat : uint8_t { bfDevice, bf1Bit, bf4Bit, bf8Bit, bf15Bit, bf16Bit, bf24Bit, bf32Bit, bfCustom };

// Bits per pixel of a bitmap format (bfDevice and bfCustom are stored as 32).
int BitsPerPixelOf(TBitmapFormat format);

// 0x00BBGGRR colour, as the platform stores a colour.
using TColor = uint32_t;
constexpr TColor clNone = 0x1FFFFFFF;

class TBitmap : public TGraphic {
    PW_GRAPHIC_CLASS(TBitmap)
public:
    TBitmap() = default;
    ~TBitmap() override;

    int Width() const override { return FWidth; }
    int Height() const override { return FHeight; }
    void SetWidth(int width) { SetSize(width, FHeight); }
    void SetHeight(int height) { SetSize(FWidth, height); }
    void SetSize(int width, int height);

    TBitmapFormat PixelFormat() const { return FFormat; }
    void SetPixelFormat(TBitmapFormat format);
    int BitsPerPixel() const { return BitsPerPixelOf(FFormat); }
    // Bytes from one row to the next (4-byte aligned).
    int64_t RowStride() const;
    int64_t ImageSize() const { return RowStride() * FHeight; }
    // Bytes allocated after the last row, for a reader that stages data
    // there before the rows take it over (not copied by Assign; FreeImage
    // drops it). Changing it drops the pixels, as a change of size does.
    void SetTailSlack(size_t bytes);
    // For a reader about to write every row: the pixel memory of the next
    // allocation is made present by a thread of its own while the reader
    // writes (large bitmaps only; platform/large_memory.h).
    void SetPrefault(bool prefault) { FPrefault = prefault; }

    // Start of row y (0 = top). Raises EInvalidGraphic for a row outside the
    // bitmap or when the pixel memory cannot be had.
    uint8_t* ScanLine(int y);
    const uint8_t* ScanLine(int y) const;

    // The palette of an indexed bitmap (null when none was set).
    const HPALETTE& Palette() const { return FPalette; }
    void SetPalette(HPALETTE palette) { FPalette = std::move(palette); }
    // Palette entry for index, falling back to the format's default palette.
    TPaletteEntry PaletteColor(int index) const;

    // A 32-bit bitmap whose fourth byte is alpha.
    bool AlphaPresent() const { return FAlphaPresent; }
    void SetAlphaPresent(bool present) { FAlphaPresent = present; }

    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool transparent) { FTransparent = transparent; }
    TColor TransparentColor() const { return FTransparentColor; }
    void SetTransparentColor(TColor color) { FTransparentColor = color; }

    // Drops the pixels, palette and flags: an empty 0 x 0 bitmap.
    void FreeImage();
    // Copies size, format, palette, flags and pixels of source.
    virtual void Assign(const TBitmap& source);

    // Reads a BMP file (file header, then a DIB).
    void LoadFromStream(TStream& stream) override;
    static bool CanLoadStream(TStream& stream);

    TBitmap& ViewBitmap() override { return *this; }

    // Converts count pixels of row y, from column x, to 0xAARRGGBB values
    // (alpha 255 unless the bitmap carries alpha).
    void RowToARGB(int y, int x, int count, uint32_t* out) const;

    using TGraphic::Progress;

protected:
    // Reads a DIB (info header, colours, bits) from the stream position; the
    // BMP file header gives the offset of the bits when known (0: packed).
    // iconImage: the DIB of an icon entry, whose header height counts the
    // colour bits and the AND mask below them; only the colour bits are read.
    // Uncompressed bits leave the stream just after them.
    void LoadDIB(TStream& stream, int64_t bitsOffset, int64_t dibStart, bool iconImage = false);

private:
    void Allocate() const;

    int FWidth = 0;
    int FHeight = 0;
    TBitmapFormat FFormat = bf24Bit;
    size_t FTailSlack = 0;
    bool FPrefault = false;
    mutable std::unique_ptr<uint8_t, void (*)(void*)> FBits{nullptr, nullptr};
    HPALETTE FPalette;
    bool FAlphaPresent = false;
    bool FTransparent = false;
    TColor FTransparentColor = clNone;

    friend class TIcon;
};
