#pragma once
// TPNGGraphic: Portable Network Graphics files. Reads the chunks IHDR, PLTE,
// IDAT, IEND, gAMA, bKGD and tRNS, skips every other ancillary chunk and
// refuses any other critical one. A plain image whose stored rows are no
// wider than the bitmap's is inflated in one call into the end of the
// bitmap's own memory and unfiltered and converted row by row from there.
// Every other image, and data that cannot be inflated whole, are inflated
// row by row straight out of the IDAT chunks, unfiltered in place and handed
// to the colour manager; Adam7 passes are scattered into the rows by pixel
// masks.
#include "imaging/raster_graphic.h"

#include <cstdint>
#include <memory>
#include <vector>

class TLZ77Decoder;

class TPNGGraphic : public TRasterGraphic {
    PW_GRAPHIC_CLASS(TPNGGraphic)
public:
    TPNGGraphic();
    ~TPNGGraphic() override;

    // True when more than 8 bytes follow the position and the next 8 are the
    // PNG signature. The position is left where it was.
    static bool CanLoadStream(TStream& stream);
    bool LoadProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;
    const char* DisplayName() const override { return "PNG"; }

private:
    // The IHDR fields as stored, width and height in host order.
    struct THeader {
        uint32_t Width = 0;
        uint32_t Height = 0;
        uint8_t BitDepth = 0;
        uint8_t ColorType = 0;   // TColorType
        uint8_t Compression = 0; // 0 deflate
        uint8_t Filter = 0;      // 0 the five filter types
        uint8_t Interlace = 0;   // TInterlace
    };
    enum TColorType : uint8_t { ctGray = 0, ctRGB = 2, ctIndexed = 3, ctGrayAlpha = 4, ctRGBA = 6 };
    enum TInterlace : uint8_t { ilNone = 0, ilAdam7 = 1 };

    // What the header check finds, in the order the loader reports it.
    enum class THeaderFault {
        None,
        Format,      // zero size, unknown filter or interlace method
        Compression, // not deflate: LoadProperties still succeeds
        ColorFormat, // colour type and bit depth not a pair of the format
    };
    static THeaderFault CheckHeader(const THeader& header);

    // Everything one load works with; reset at its start and its end.
    struct TLoadState {
        std::unique_ptr<TLZ77Decoder> DeflateDecoder;
        int64_t StreamSize = 0;
        uint32_t ChunkLength = 0;
        uint8_t ChunkType[4] = {};
        uint32_t ChunkCRC = 0; // over the type, then the data
        std::vector<uint8_t> ChunkData;
        uint32_t IDATLeft = 0;
        const uint8_t* IDATCursor = nullptr;
        THeader Header;
        uint32_t PixelBytes = 0;        // of a complete pixel, at least 1
        bool ColorManagerReady = false; // SetupColorManager has run
        HPALETTE PendingPalette;
        TColor KeyColor = clNone;
        TColor FillColor = 0xFFFFFF;
        int32_t GrayKeySample = -1; // tRNS grey sample of a 1, 2 or 4-bit image, resolved once the palette exists
        bool ImageDataSeen = false; // the IDAT run has been decoded
        uint32_t RowsFilled = 0;    // rows of a non-interlaced image already delivered
        bool DataEnded = false;     // the image data stopped before the image did
    };

    void ReadChunkHeader();
    void LoadChunk();
    int64_t SkipChunk(); // returns the new position
    bool IsChunk(const char* name) const;
    THeader HeaderFromChunk() const;
    void RunChunkLoop();
    void FinishLoad();

    uint32_t SetupColorManager(uint8_t colorType, uint8_t bitDepth);
    void DecodeImageData();
    // The compressed data of the IDAT run in one piece.
    struct TPackedData {
        const uint8_t* Data = nullptr;
        size_t Size = 0;
        std::unique_ptr<uint8_t, void (*)(void*)> Owned{nullptr, nullptr};
    };
    // From the header of the first IDAT chunk: true with the data of every
    // IDAT chunk in one piece (a view of a memory stream's bytes for a single
    // chunk) and the header of the chunk after them read, as the row-by-row
    // reading leaves it. False when a chunk is cut short or fails its check,
    // or memory is short.
    bool GatherImageData(TPackedData& packed);
    // Decodes a plain image whose stored rows fit the bitmap's rows; false,
    // with the stream and the bitmap's pixels as before, when the data are
    // not one whole, sound stream of exactly the image's size.
    bool DecodeWhole(uint8_t* current, uint8_t* previous, uint32_t rowSize);
    // Unfilters and converts the inflated rows (rowSize bytes each, from
    // stored on) on several threads, each a stripe of columns
    // (png_stripes.cpp); false, having done nothing, where one thread is to
    // do it.
    bool DeliverInStripes(const uint8_t* stored, uint32_t rowSize);
    void DecodeRows(uint8_t*& current, uint8_t*& previous, uint32_t firstRow, uint32_t rowStep, uint32_t rowSize,
                    uint8_t mask, bool lastPass);
    // False when the image data end before count bytes.
    bool ReadRowBytes(uint8_t* buffer, uint32_t count);
    // True when painting the background costs no more than the file could
    // have made the image cost: Deflate expands at most 1032 times.
    bool BackgroundAffordable() const;
    void ApplyGamma(const uint8_t* data);
    void ReadBackground();
    void ReadTransparency();
    void ResolveGrayKey();
    void FillRows(uint32_t firstRow, uint32_t lastRow);

    TLoadState State;
};
