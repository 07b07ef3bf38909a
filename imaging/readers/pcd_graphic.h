#pragma once
// TPCDGraphic: Photo-CD image packs at the base resolution of 768 x 512,
// into a 24-bit bitmap. The base image is stored uncompressed as a luma
// plane and two half-resolution chroma planes in Photo-YCC; the chroma
// planes are enlarged with Upsample2x, the rows converted by the colour
// manager and the picture turned by the rotation the file records.
//
// Overview (contact-sheet) files load their first picture at 192 x 128, or
// end quietly with an empty bitmap when they hold none.
#include "imaging/raster_graphic.h"

class TPCDGraphic : public TRasterGraphic {
    PW_GRAPHIC_CLASS(TPCDGraphic)
public:
    TPCDGraphic() = default;

    // True when more than 6144 bytes remain and the stream starts with
    // "PCD_OPA" or holds "PCD" at offset 2048. The position is left where it
    // was.
    static bool CanLoadStream(TStream& stream);
    // imageIndex selects the resolution level, 0 (192 x 128) to 5 (6144 x
    // 4096); overview files always report level 0. False when neither
    // signature is present; a stream shorter than 6144 bytes raises the
    // stream's read error.
    bool LoadProperties(TStream& stream, int imageIndex) override;
    // Loads level 2 (level 0 for overview files). A stream without either
    // signature ends the load quietly with an empty bitmap; an image pack
    // too short for its base image raises the stream's read error.
    void LoadFromStream(TStream& stream) override;
    const char* DisplayName() const override { return "PCD"; }

private:
    void StartStage(const char* message);
};
