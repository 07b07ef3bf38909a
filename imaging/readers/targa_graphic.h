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

    // True when more than 18 bytes remain and the header check finds no
    // fault. The position is left where it was.
    static bool CanLoadStream(TStream& stream);
    // Always true; a short header raises the stream's read error.
    bool LoadProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;
    const char* DisplayName() const override { return "TGA"; }

private:
    // Image types: colour-mapped, true-colour and grey, plain or run-length.
    enum TImageType : uint8_t {
        itNoImage = 0,
        itColorMapped = 1,
        itTrueColor = 2,
        itGray = 3,
        itColorMappedRLE = 9,
        itTrueColorRLE = 10,
        itGrayRLE = 11,
    };
    enum TColorMapType : uint8_t { mtNone = 0, mtPresent = 1 };
    static constexpr uint8_t TopDownBit = 0x20;     // in the descriptor
    static constexpr uint8_t RightToLeftBit = 0x10; // in the descriptor

    // The 18-byte file header, little-endian, with the values as stored.
    struct THeader {
        uint8_t IDLength = 0;
        uint8_t ColorMapType = 0;    // TColorMapType
        uint8_t ImageType = 0;       // TImageType
        uint16_t ColorMapStart = 0;  // pixel value of the first map entry
        uint16_t ColorMapLength = 0; // entries
        uint8_t ColorMapEntrySize = 0;
        uint16_t XOrigin = 0;
        uint16_t YOrigin = 0;
        uint16_t Width = 0;
        uint16_t Height = 0;
        uint8_t PixelDepth = 0;
        uint8_t Descriptor = 0;

        bool IsGray() const { return ImageType == itGray || ImageType == itGrayRLE; }
        bool IsRunLength() const { return ImageType >= itColorMappedRLE && ImageType <= itGrayRLE; }
        bool HasPixelData() const { return (ImageType >= itColorMapped && ImageType <= itGray) || IsRunLength(); }
        bool TopDown() const { return (Descriptor & TopDownBit) != 0; }
        bool RightToLeft() const { return (Descriptor & RightToLeftBit) != 0; }
        // Grey images of 16 bits hold grey and alpha, a byte each.
        bool IsGrayAlpha() const { return IsGray() && PixelDepth == 16; }
    };

    // The header fields that hold no value this reader knows, as a set.
    enum THeaderFault : unsigned {
        hfImageType = 1,
        hfColorMapType = 2,
        hfColorMapEntrySize = 4,
        hfPixelDepth = 8,
    };
    static unsigned HeaderFaults(const THeader& header);

    static THeader ReadHeader(TStream& stream);
    void ReadColorMap(TStream& stream, const THeader& header);
    void ReadPlainRows(TStream& stream, const THeader& header, uint32_t rowBytes);
    void ReadRunLengthRows(TStream& stream, const THeader& header, uint32_t rowBytes);
    // Puts a decoded row into the scan line of stored row i: the grey of
    // grey-plus-alpha pixels only, and in left-to-right order.
    void StoreRow(const THeader& header, uint32_t i, uint8_t* row);
};
