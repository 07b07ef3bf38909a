#pragma once
// TSGIGraphic: SGI image files (.sgi, .rgb, .rgba, .bw). A 512-byte
// big-endian header is followed by planar channel rows, bottom row first,
// stored verbatim or run-length coded with a table of row offsets and one of
// row lengths. Three channels load as true colour, four as true colour with
// alpha; any other count shows its first channel as an 8-bit grey image.
// 16-bit samples are reduced to 8 bits by the colour manager.
#include "imaging/raster_graphic.h"

#include <cstdint>
#include <memory>
#include <vector>

class TSGIRLEDecoder;

class TSGIGraphic : public TRasterGraphic {
    PW_GRAPHIC_CLASS(TSGIGraphic)
public:
    TSGIGraphic();
    ~TSGIGraphic() override;

    // True when more than 512 bytes remain, the magic is 474, the sample
    // size 1 or 2 bytes and the dimension 1, 2 or 3. The position is left
    // where it was.
    static bool CanLoadStream(TStream& stream);
    // False when the magic is not 474; a short header raises the stream's
    // read error.
    bool LoadProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;
    const char* DisplayName() const override { return "sgi, bw or rgb(a)"; }

private:
    // The header fields this reader uses; the rest of the 512 bytes (value
    // range, name, colour map kind) is passed over.
    struct THeader {
        uint16_t Magic = 0;
        uint8_t Storage = 0;        // 1: run-length, anything else verbatim
        uint8_t BytesPerSample = 0; // 1 or 2
        uint16_t Dimension = 0;
        uint16_t XSize = 0;
        uint16_t YSize = 0;
        uint16_t ZSize = 0;         // channels; the low byte counts
    };

    static THeader ReadHeader(TStream& stream);
    void LoadRows(TStream& stream, uint32_t channels);
    void ReadRowTables(TStream& stream, uint32_t channels);
    // Fills targets[k] with channel k of stored row y, for k < count.
    // Reads row y of the first count channels; false when the file holds
    // nothing of it (the targets are then left as they were).
    bool ReadSGIRow(uint32_t y, uint8_t* const* targets, uint32_t count);
    // Reads what the file holds of one channel row into target and returns
    // the bytes produced; notes an early end when the data stop short.
    size_t ReadChannelRow(uint32_t y, uint32_t channel, uint8_t* target);

    // Valid during a load only.
    std::unique_ptr<TSGIRLEDecoder> Decoder; // none for verbatim files
    TCardinalArray RowStart;                 // k x height + y: offset from the file start
    TCardinalArray RowSize;                  // k x height + y: compressed bytes
    std::vector<uint8_t> PackedRow;          // one compressed channel row
    uint32_t RowBytes = 0;                   // one expanded channel row
    int64_t StreamSize = 0;
};
