#pragma once
// WebP data of TIFF strips and tiles (compression 50001), over libwebp: each
// strip or tile is a whole WebP picture, lossy or lossless, of 8-bit RGB or
// RGBA pixels.
//
// Expand (contract in decoder.h) decodes one strip or tile of
// min(UnpackedSize, TargetSize) / (Width x Samples) rows into the target as
// red, green, blue (and alpha) bytes: a picture that carries alpha is
// delivered without it when the image has three samples, and one without
// alpha gets an opaque alpha when it has four. A picture of any other size
// than Width by the rows, or of more than one frame, decodes to nothing; one
// that ends early or is damaged gives the whole rows decoded before that
// (Produced). Nothing is raised and neither pointer is advanced. Each call
// stands alone.
#include "imaging/compression/decoder.h"

class TWebPDecoder : public TDecoder {
public:
    // Samples: 3 or 4 (any other count decodes nothing); Width: pixels per
    // row of a strip or tile.
    TWebPDecoder(uint32_t Samples, uint32_t Width);

    TExpandResult Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                         size_t TargetSize, size_t PackedSize, size_t UnpackedSize) override;
    void Compress(const uint8_t* Source, uint8_t* Target, uint32_t Count,
                  uint32_t& BytesStored) override;

private:
    uint32_t FSamples;
    uint32_t FWidth;
};
