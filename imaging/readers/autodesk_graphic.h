#pragma once
// TAutodeskGraphic: uncompressed 8-bit Autodesk cel and picture images. A
// 32-byte header, a 256-colour palette of 6-bit components and the pixels,
// one byte each, top row first; rows go straight into an 8-bit bitmap.
#include "imaging/raster_graphic.h"

class TAutodeskGraphic : public TRasterGraphic {
    PW_GRAPHIC_CLASS(TAutodeskGraphic)
public:
    TAutodeskGraphic() = default;

    // True when more than 32 bytes remain, the magic is 0x9119, bits per
    // pixel 8 and compression 0. The position is left where it was.
    static bool CanLoadStream(TStream& stream);
    // False unless the magic is 0x9119; a short header raises the stream's
    // read error.
    bool LoadProperties(TStream& stream, int imageIndex) override;
    // Reads any file with the magic as uncompressed 8-bit data. Pixels
    // missing at the end of a short file stay as the fresh bitmap has them.
    void LoadFromStream(TStream& stream) override;
    const char* DisplayName() const override { return "Autodesk"; }
};
