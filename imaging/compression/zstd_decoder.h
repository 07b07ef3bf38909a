#pragma once
// Zstandard data of TIFF strips and tiles (compression 50000), over libzstd.
//
// ExpandStart makes the decompression context ("ZSTD decompression error."
// when libzstd cannot), ExpandFinish frees it (the destructor frees it too
// when an error cut the load short). Expand (contract in decoder.h) decodes
// one strip or tile: every call starts a new frame, and frames that follow
// one another in the data are decoded in turn. It reads at most
// min(PackedSize, SourceSize) bytes, writes at most min(UnpackedSize,
// TargetSize) bytes and advances neither pointer. Data that end early or are
// damaged end the block: what was decoded before is the result (Produced),
// nothing is raised. Bytes of the target after the last one produced may
// have been written over.
#include "imaging/compression/decoder.h"

typedef struct ZSTD_DCtx_s ZSTD_DCtx;

class TZstdDecoder : public TDecoder {
public:
    TZstdDecoder() = default;
    ~TZstdDecoder() override;

    TExpandResult Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                         size_t TargetSize, size_t PackedSize, size_t UnpackedSize) override;
    void ExpandFinish() override;
    void ExpandStart() override;
    void Compress(const uint8_t* Source, uint8_t* Target, uint32_t Count,
                  uint32_t& BytesStored) override;

private:
    ZSTD_DCtx* FContext = nullptr;
};
