#pragma once
// LZMA2 data in the .xz container, as TIFF strips and tiles store them
// (compression 34925), over liblzma.
//
// Expand (contract in decoder.h) decodes one strip or tile: every call
// starts a new stream, reusing the decoder's memory. It reads at most
// min(PackedSize, SourceSize) bytes, writes at most min(UnpackedSize,
// TargetSize) bytes and advances neither pointer. Data that end early or are
// damaged end the block: what was decoded before is the result (Produced),
// nothing is raised. A stream whose dictionary needs more than
// MemoryLimit bytes, or a decoder liblzma cannot set up, raises
// "LZMA decompression error.". ExpandFinish frees the decoder's memory (the
// destructor does too when an error cut the load short).
#include "imaging/compression/decoder.h"

#include <lzma.h>

class TLZMADecoder : public TDecoder {
public:
    // The largest preset (9) asks for 64 MiB of dictionary; room for that
    // and more, but not for the gigabytes a damaged header may declare.
    static constexpr uint64_t MemoryLimit = uint64_t(256) << 20;

    TLZMADecoder() = default;
    ~TLZMADecoder() override;

    TExpandResult Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                         size_t TargetSize, size_t PackedSize, size_t UnpackedSize) override;
    void ExpandFinish() override;
    void Compress(const uint8_t* Source, uint8_t* Target, uint32_t Count,
                  uint32_t& BytesStored) override;

private:
    lzma_stream FStream = LZMA_STREAM_INIT;
};
