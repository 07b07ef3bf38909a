#pragma once
// TPSPGraphic: the first raster layer of Paint Shop Pro image files, major
// versions 3 and later. The file is a chain of blocks: the image attributes
// first, then (among others) a palette and a layer bank whose layers carry
// their channels uncompressed, run-length encoded or deflated. 1, 4 and 8-bit
// grey or indexed images and 24-bit RGB ones.
#include "imaging/raster_graphic.h"

#include <cstdint>
#include <vector>

class TByteReader;

class TPSPGraphic : public TRasterGraphic {
    PW_GRAPHIC_CLASS(TPSPGraphic)
public:
    TPSPGraphic() = default;

    // True when more than 36 bytes remain, the first 25 are "Paint Shop Pro
    // Image File" in any letter case and the major version is at least 3.
    // The position is left where it was.
    static bool CanLoadStream(TStream& stream);
    // False unless the signature and version pass as above; the index is ignored.
    bool LoadProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;
    const char* DisplayName() const override { return "PSP"; }

private:
    struct TBlockHeader {
        uint8_t Identifier[4] = {}; // "~BK" and a 0 byte
        uint16_t Type = 0;
        uint32_t Length = 0;        // bytes of block data after the header
    };
    // One buffer per channel type 0 (grey, index or the fourth plane) to 3 (blue).
    using TChannels = std::vector<uint8_t>[4];

    static bool HasSignature(TByteReader& in, uint16_t& majorVersion);
    bool ReadBlockHeader(TByteReader& in, TBlockHeader& header) const;
    void ReadAttributes(TByteReader& in);
    void ReadPalette(TByteReader& in);
    void ReadLayerBank(TByteReader& in);
    // False when the layer is not drawn; true once its rows are in the bitmap.
    bool ReadLayer(TByteReader& in);
    void ReadChannel(TByteReader& in, TChannels& channels);
    void TransferRows(TChannels& channels);
    // Bytes from one row of a channel to the next.
    uint32_t ChannelStride() const;
};
