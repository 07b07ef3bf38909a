#pragma once
// TTIFFGraphic: the Tagged Image File Format reader. It turns the first
// image of a TIFF or BigTIFF stream into the bitmap: strips or tiles, chunky
// or planar samples, uncompressed, PackBits, CCITT modified Huffman, Group 3
// (one- and two-dimensional) and Group 4, LZW, Deflate, ZSTD, LZMA, WebP,
// JPEG and ThunderScan data; grey of 12 bits besides the usual depths.
// Old-style JPEG and the rarer schemes are refused.
//
// The container (header, directory, tag values) is in tiff_directory.h.
#include "imaging/raster_graphic.h"
#include "imaging/readers/tiff_directory.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

class TDecoder;

class TTIFFGraphic : public TRasterGraphic {
    PW_GRAPHIC_CLASS(TTIFFGraphic)
public:
    // True when more than 8 bytes remain, the mark is "II" or "MM", the
    // version 42 (or 43 with 8-byte offsets) and the first directory lies
    // before the end.
    static bool CanLoadStream(TStream& stream);

    // Reads the header at BasePosition and directory imageIndex into
    // Directory and ImageProperties. False for a version other than 42 or 43, a
    // missing directory or a zero width or height.
    bool LoadProperties(TStream& stream, int imageIndex) override;
    // Decodes the first image from the stream's position.
    void LoadFromStream(TStream& stream) override;
    const char* DisplayName() const override { return TIFFDisplayName; }

    // The directory last read, sorted by tag.
    TTIFFDirectory Directory;
    // The ColorMap as stored (file byte order): red, green, blue planes.
    std::array<uint16_t, 3 * 256> ColorMapData{};
    uint32_t YCbCrPositioning = 0;
    TFloatArray YCbCrCoefficients;

private:
    struct TLayout;

    void ConfigureColorManager(TLayout& layout);
    void SetPaletteFor(TStream& stream);
    std::unique_ptr<TDecoder> CreateDecoder(TStream& stream);
    void CheckLayout(const TLayout& layout) const;
    void DecodeImage(TStream& stream, TLayout& layout, TDecoder* decoder);
    // Strips of rows that have the bitmap's layout, uncompressed, PackBits or
    // JPEG, read or decoded straight into the bitmap.
    void ReadStripsDirect(TStream& stream, TLayout& layout, TDecoder* decoder);
    // PackBits strips of chunky rows that need converting, row by row.
    void DecodePackBitsRows(TStream& stream, TLayout& layout);
    // The stored bytes of compressed block index (size of them): in the
    // stream's own memory where they can be decoded as they lie, otherwise
    // read into the layout's packed buffer.
    const uint8_t* PackedBlock(TStream& stream, TLayout& layout, size_t index, size_t& size);
    // Reads data block index (from byte skip on, uncompressed) or decodes it
    // into target, blockBytes bytes; what the file does not hold is zero.
    // Returns where the block's bytes are: at rowsOffset in the layout's row
    // buffer (grown to rowsSize when first needed), or for whole uncompressed
    // data in a memory stream, in the stream's own memory; filled tells how
    // many bytes the file gave.
    const uint8_t* ReadBlock(TStream& stream, TLayout& layout, TDecoder* decoder, size_t index, uint64_t skip,
                             size_t rowsOffset, size_t rowsSize, size_t blockBytes, uint32_t decoderRows,
                             size_t& filled);
    // Stream position of data block index, skip bytes in; the stream's end
    // when the file places it beyond.
    int64_t BlockStart(const TLayout& layout, size_t index, uint64_t skip) const;
    // Tells the decoder the size of the block it decodes next.
    void DescribeBlock(const TLayout& layout, uint32_t rows);
    void UndoPredictor(const TLayout& layout, uint8_t* row, uint32_t pixels) const;

    // What the decoders read of the image: the block being decoded (its
    // width, rows and row bytes), otherwise a copy of ImageProperties.
    TImageProperties FDecoderProperties;
};
