#pragma once
// TPSDGraphic: the merged (flattened) image of Photoshop files; layers are
// passed over. Bitmap, greyscale, duotone, indexed, RGB, CMYK, multichannel
// and L*a*b* images of 1, 8 or 16 bits, raw or PackBits-compressed. The
// channels are stored one plane after the other, rows big-endian.
#include "imaging/raster_graphic.h"

#include <cstdint>
#include <vector>

class TByteReader;

class TPSDGraphic : public TRasterGraphic {
    PW_GRAPHIC_CLASS(TPSDGraphic)
public:
    TPSDGraphic() = default;

    // True when more than 26 bytes remain, the first four are "8BPS" in any
    // letter case and the version is 1. The position is left where it was.
    static bool CanLoadStream(TStream& stream);
    // False unless the signature is exactly "8BPS" and the version 1; the
    // index is ignored.
    bool LoadProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;
    const char* DisplayName() const override { return "PSD or PDD"; }

private:
    // The 26-byte file header, fields in host order.
    struct THeader {
        char Signature[4] = {};
        uint16_t Version = 0;
        uint16_t Channels = 0;
        uint32_t Height = 0;
        uint32_t Width = 0;
        uint16_t Depth = 0; // bits per channel
        uint16_t Mode = 0;  // colour mode
    };

    static THeader ReadHeader(TByteReader& in);
    void CheckLayout(const THeader& header) const;
    void SetupColorManager();
    void ReadColorModeData(TByteReader& in);
    std::vector<uint16_t> ReadRowCounts(TByteReader& in, uint16_t channels);
    void ReadSinglePlane(TByteReader& in, const std::vector<uint16_t>& counts);
    void ReadColorPlanes(TByteReader& in, const std::vector<uint16_t>& counts, uint16_t channels);
};
