#pragma once
// TPCXGraphic: PCX paintbrush images and the screen captures (first byte
// 0xCD) that share their layout. One plane of 1, 2, 4 or 8 bits (indexed),
// four 1-bit planes (16 colours) or three 8-bit planes (true colour), plain
// or run-length coded. The pixel data are read and expanded in one piece;
// rows go through the colour manager, except the 16-colour planes, which are
// merged here.
#include "imaging/raster_graphic.h"

#include <cstdint>
#include <vector>

class TPCXGraphic : public TRasterGraphic {
    PW_GRAPHIC_CLASS(TPCXGraphic)
public:
    TPCXGraphic() = default;

    // True when more than 128 bytes remain and the header has manufacturer
    // 10 or 205, version 0, 2, 3 or 5 and encoding 0 or 1. The position is
    // left where it was.
    static bool CanLoadStream(TStream& stream);
    // False when the manufacturer byte is neither 10 nor 205; a short header
    // raises the stream's read error.
    bool LoadProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;
    // The name of the invalid-format message; the colour-format message and
    // the size checks say "PCX".
    const char* DisplayName() const override { return "PCX or SCR"; }

private:
    // The 128-byte file header, little-endian; the filler is not kept.
    struct THeader {
        uint8_t Manufacturer = 0; // 10, or 205 for screen captures
        uint8_t Version = 0;      // 3: the default 16-colour palette
        uint8_t Encoding = 0;     // 1: run-length
        uint8_t BitsPerPixel = 0; // per plane
        uint16_t XMin = 0;
        uint16_t YMin = 0;
        uint16_t XMax = 0;
        uint16_t YMax = 0;
        uint16_t HRes = 0;
        uint16_t VRes = 0;
        uint8_t ColorMap[48] = {}; // 16 red-green-blue triples
        uint8_t Reserved = 0;
        uint8_t Planes = 0;
        uint16_t BytesPerLine = 0; // of one plane of one row
        uint16_t PaletteInfo = 0;  // 2: grey
    };

    static THeader ReadHeader(TStream& stream);
    // The bitmap palette; reads the 256-colour block at the end of the stream
    // when there is one and tells whether it did.
    bool SetupPalette(TStream& stream, const THeader& header, TBitmapFormat format);
    // Reads (and expands) the pixel data of Height rows of rowBytes into
    // data; returns how many rows the file holds data for, at most Height.
    uint64_t ReadPixelData(TStream& stream, int64_t available, uint32_t rowBytes, std::vector<uint8_t>& data);
    void MergePlanes(const uint8_t* row, uint32_t planeBytes, uint8_t* target) const;
};
