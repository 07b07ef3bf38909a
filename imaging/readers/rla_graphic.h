#pragma once
// TRLAGraphic: run-length encoded RLA images with red, green and blue
// channels and an optional matte channel. A 740-byte big-endian header is
// followed by one offset per stored row; at each offset every channel of the
// row follows as a 2-byte length and its run-length coded bytes. Channels
// of more than 8 bits are stored as big-endian words and reduced to 8 bits
// by the colour manager.
#include "imaging/raster_graphic.h"

#include <cstdint>
#include <string>

class TRLAGraphic : public TRasterGraphic {
    PW_GRAPHIC_CLASS(TRLAGraphic)
public:
    TRLAGraphic() = default;

    // True when more than 740 bytes remain, the revision is 0xFFFE and the
    // channel space is "rgb" or "xyz" (any letter case). The position is left
    // where it was.
    static bool CanLoadStream(TStream& stream);
    // False for the channel space "xyz", which the loader then passes over
    // quietly; a short header raises the stream's read error.
    bool LoadProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;
    const char* DisplayName() const override { return "RLA"; }

private:
    // The header fields this reader uses.
    struct THeader {
        int16_t ActiveLeft = 0;
        int16_t ActiveRight = 0;
        int16_t ActiveBottom = 0;
        int16_t ActiveTop = 0;
        int16_t ColorChannels = 0;  // the low byte counts
        int16_t MatteChannels = 0;
        uint16_t Revision = 0;      // 0xFFFE
        std::string Gamma;          // decimal text
        std::string Space;          // "rgb" or "xyz"
        int16_t ChannelBits = 0;    // the low byte counts
    };

    static THeader ReadHeader(TStream& stream);
    void LoadRows(TStream& stream);
};
