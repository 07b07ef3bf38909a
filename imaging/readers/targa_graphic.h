#pragma once
// TTargaGraphic: Truevision Targa files, uncompressed and run-length encoded,
// colour-mapped, true-colour and grey. Targa keeps its pixels in the bitmap's
// own byte orders (5-5-5 words, blue-green-red, blue-green-red-alpha), so rows
// go into the scan lines unchanged; the colour manager only picks the bitmap
// format and builds palettes.
#include "imaging/raster_graphic.h"

#include <cstdint>

class TTargaGraphic : public TRasterGraphic {
    PW_GRAPHIC_CLASS(TTargaGraphic)
public:
    TTargaGraphic() = default;

    // True when more than 18 bytes remain and the header holds a known image
    // type, colour map type, pixel depth and, when a map is present, map entry
    // size. The position is left where it was.
    static bool CanLoadStream(TStream& stream);
    // Always true; a short header raises the stream's read error.
    bool LoadProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;
    const char* DisplayName() const override { return "TGA"; }

private:
    // The 18-byte file header, little-endian.
    struct THeader {
        uint8_t IDLength = 0;
        uint8_t ColorMapType = 0;    // 0 none, 1 present
        uint8_t ImageType = 0;       // 1, 2, 3 plain; 9, 10, 11 run-length; 0 no image
        uint16_t ColorMapStart = 0;  // pixel value of the first map entry
        uint16_t ColorMapLength = 0; // entries
        uint8_t ColorMapEntrySize = 0;
        uint16_t XOrigin = 0;
        uint16_t YOrigin = 0;
        uint16_t Width = 0;
        uint16_t Height = 0;
        uint8_t PixelDepth = 0;
        uint8_t Descriptor = 0;      // bit 5: top row stored first
    };

    static THeader ReadHeader(TStream& stream);
    void ReadColorMap(TStream& stream, const THeader& header);
    void ReadPlainRows(TStream& stream, bool topDown, uint32_t rowBytes);
    void ReadRunLengthRows(TStream& stream, bool topDown, uint32_t rowBytes, uint8_t depth);
};
