#pragma once
// LZW data as TIFF writes it: codes of 9 to 12 bits, most significant bit
// first, Clear (256) and EndOfInformation (257), the first free code 258, and
// the code width growing one code early (at 511, 1023 and 2047). Data from
// very old writers, recognisable by the Clear code stored least significant
// bit first (first byte 0, lowest bit of the second set), are read in that
// order, with the width growing at 512, 1024 and 2048.
//
// Expand (contract in decoder.h) decodes one strip or tile: every call starts
// a new code table. It reads at most min(PackedSize, SourceSize) bytes,
// writes at most min(UnpackedSize, TargetSize) bytes and advances neither
// pointer. Data that end early, a code not yet defined or a code past 4095
// end the block: the bytes decoded up to there are the result (Produced),
// nothing is raised. Bytes of the target after the last one produced may
// have been written over.
#include "imaging/compression/decoder.h"

#include <vector>

class TLZWDecoder : public TDecoder {
public:
    TLZWDecoder();

    TExpandResult Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                         size_t TargetSize, size_t PackedSize, size_t UnpackedSize) override;
    void Compress(const uint8_t* Source, uint8_t* Target, uint32_t Count,
                  uint32_t& BytesStored) override;

private:
    template <bool OldStyle>
    TExpandResult Decode(const uint8_t* Source, size_t SourceSize, uint8_t* Target, size_t TargetSize);

    // The string of each code: where it starts and how long it is. A string
    // of the table starts where it was first written in the target; the
    // single bytes (0..255) start in a constant table of all byte values, so
    // that every code is copied the same way. Clear and EndOfInformation have
    // a length no string has; the last entry takes what would be added to a
    // full table.
    std::vector<const uint8_t*> FStarts;
    std::vector<uint16_t> FLengths;
};
