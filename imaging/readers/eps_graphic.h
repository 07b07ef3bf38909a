#pragma once
// TEPSGraphic: an Encapsulated PostScript file shown by its TIFF preview. The
// binary EPS header says where the preview lies; the PostScript itself is
// never read.
#include "imaging/readers/tiff_graphic.h"

class TEPSGraphic : public TTIFFGraphic {
    PW_GRAPHIC_CLASS(TEPSGraphic)
public:
    // True when more than 30 bytes remain, the magic matches, the preview
    // starts after the header and is not empty.
    static bool CanLoadStream(TStream& stream);
    // Moves to the TIFF preview and loads it; its offsets count from there.
    void LoadFromStream(TStream& stream) override;
    const char* DisplayName() const override { return "EPS"; }
};
