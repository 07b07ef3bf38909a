#pragma once
// TCUTGraphic: Dr. Halo CUT images. 8-bit run-length coded rows that
// TCUTRLEDecoder expands straight into the bitmap; the colours live in a
// separate palette file beside the image, with the extension ".pal". Without
// it the image shows as grey levels equal to the pixel values.
#include "imaging/raster_graphic.h"

#include <string>

class TCUTGraphic : public TRasterGraphic {
    PW_GRAPHIC_CLASS(TCUTGraphic)
public:
    TCUTGraphic() = default;

    // CUT files carry no signature: they are known by their extension only.
    static bool CanLoadStream(TStream&) { return false; }
    // Remembers the palette file beside fileName, then loads the file.
    void LoadImageFile(const std::string& fileName);
    void LoadFromFile(const std::string& fileName) override { LoadImageFile(fileName); }
    // Reads width and height; always true (a short header raises the
    // stream's read error).
    bool LoadProperties(TStream& stream, int imageIndex) override;
    // A stream that is not a file uses the palette file of the last file
    // this object loaded, if any.
    void LoadFromStream(TStream& stream) override;
    const char* DisplayName() const override { return "CUT"; }

    // Set by LoadImageFile: the image's name with the extension ".pal" (or
    // ".PAL" when only that one exists).
    std::string PaletteFileName;

private:
    void LoadCUTPalette();
};
