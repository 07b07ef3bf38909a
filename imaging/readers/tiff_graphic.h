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
    // One decoding thread's decoder and buffers.
    struct TWorkspace;
    // One strip, or one tile: where its rows go.
    struct TBlock {
        uint64_t Band;     // strip, or row of tiles
        uint64_t Across;   // tile in its row; 0 for a strip
        uint32_t FirstRow; // bitmap row of the band's first row
        uint32_t Rows;     // rows of the band in the bitmap
    };
    // What decoding blocks on another thread reports, kept until the blocks
    // before them have been taken (tiff_strip_runner.cpp).
    struct TPieceLog;

    void ConfigureColorManager(TLayout& layout);
    void SetPaletteFor(TStream& stream);
    // A decoder for the image's compression (null for none) that reads the
    // image's description from decoderProperties.
    std::unique_ptr<TDecoder> CreateDecoder(TImageProperties& decoderProperties);
    void CheckLayout(const TLayout& layout) const;

    // Decodes every block into the bitmap, on as many threads as may work
    // on them, and reports them in order (tiff_strip_runner.cpp).
    void DecodeBlocks(TStream& stream, TLayout& layout, TDecoder* decoder);
    // Whether the blocks decode alike whichever decoder had the ones before.
    bool BlocksIndependent(const TLayout& layout);
    void DecodeUnit(TLayout& layout, TWorkspace& work, const TBlock& block, TPieceLog* log);
    // Reports what a log holds, as the blocks would have at once; when a
    // report raises, the rows the one-thread load would not have written by
    // then are cleared (blocks holds the log's blocks) and it raises again.
    void ReplayLog(const TLayout& layout, TPieceLog& log, const std::vector<TBlock>& blocks);
    // Zeroes the block's rows from row on, as the fresh bitmap had them.
    void ClearBlock(const TLayout& layout, const TBlock& block, uint32_t row);
    // Reports for a block: at once with no log, else into it. rowByRow: each
    // row was written just before it is reported (otherwise the block's rows
    // all were).
    void Ended(TPieceLog* log, uint64_t row);
    void RowsDone(TPieceLog* log, uint32_t rows, bool rowByRow = false);
    void BandDone(TPieceLog* log, uint64_t band);

    // A strip of rows that have the bitmap's layout, uncompressed, PackBits
    // or JPEG, read or decoded straight into the bitmap.
    void DecodeStripDirect(TLayout& layout, TWorkspace& work, const TBlock& block, TPieceLog* log);
    // A PackBits strip of chunky rows that need converting, row by row.
    void DecodePackBitsStrip(TLayout& layout, TWorkspace& work, const TBlock& block, TPieceLog* log);
    // Any strip or tile, through the workspace's rows and the colour manager.
    void DecodeBlock(TLayout& layout, TWorkspace& work, const TBlock& block, TPieceLog* log);
    // The stored bytes of compressed block index (size of them): in the
    // stream's own memory where they can be decoded as they lie, otherwise
    // read into the workspace's packed buffer.
    const uint8_t* PackedBlock(TLayout& layout, TWorkspace& work, size_t index, size_t& size);
    // Reads data block index (from byte skip on, uncompressed) or decodes it
    // into target, blockBytes bytes; what the file does not hold is zero.
    // Returns where the block's bytes are: at rowsOffset in the workspace's
    // row buffer (grown to rowsSize when first needed), or for whole
    // uncompressed data in a memory stream, in the stream's own memory;
    // filled tells how many bytes the file gave.
    const uint8_t* ReadBlock(TLayout& layout, TWorkspace& work, size_t index, uint64_t skip, size_t rowsOffset,
                             size_t rowsSize, size_t blockBytes, uint32_t decoderRows, size_t& filled);
    // Stream position of data block index, skip bytes in; the stream's end
    // when the file places it beyond.
    int64_t BlockStart(const TLayout& layout, size_t index, uint64_t skip) const;
    // Tells a decoder the size of the block it decodes next.
    static void DescribeBlock(TImageProperties& decoderProperties, const TLayout& layout, uint32_t rows);
    void UndoPredictor(const TLayout& layout, uint8_t* row, uint32_t pixels) const;

    // What the load's decoder reads of the image: the block being decoded
    // (its width, rows and row bytes), otherwise a copy of ImageProperties.
    TImageProperties FDecoderProperties;
};
