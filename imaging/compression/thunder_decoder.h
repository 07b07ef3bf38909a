#pragma once
// ThunderScan 4-bit data (TIFF compression 32809).
//
// Output: 4-bit pixels, two per byte, the first in the high nibble; each row
// of Width pixels starts on a byte boundary, (Width + 1) / 2 bytes per row,
// which is the TIFF reader's row layout. Every row is coded on its own: the
// previous pixel starts at 0 and a packet reaching past the row end is cut
// there. Expand decodes rows while min(UnpackedSize, TargetSize) has room,
// reading at most min(PackedSize, SourceSize) bytes; neither pointer moves.
#include "imaging/compression/decoder.h"

class TThunderDecoder : public TDecoder {
public:
    explicit TThunderDecoder(int Width);

    TExpandResult Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                         size_t TargetSize, size_t PackedSize, size_t UnpackedSize) override;
    void Compress(const uint8_t* Source, uint8_t* Target, uint32_t Count,
                  uint32_t& BytesStored) override;

private:
    int FWidth;
};
