#pragma once
// Deflate (zlib stream) data of TIFF, PNG and Paint Shop Pro files, over
// zlib's inflate.
//
// ExpandStart initialises the stream (raises "LZ77 decompression error." when
// zlib cannot), ExpandFinish ends it (the destructor ends it too when an
// error cut the load short). Expand inflates min(PackedSize, SourceSize)
// input bytes into min(UnpackedSize, TargetSize) output bytes with the flush
// mode given at creation and advances both Source and Target past what it
// consumed and produced. With auto reset every call starts a new zlib stream
// (TIFF strips); without it the calls continue one stream (PNG rows, a Paint
// Shop Pro channel), and once zlib has reported the end of the stream or a
// data error, later calls do nothing. Errors of the data are not raised: the
// caller sees them as output left over (OutputLeft, Produced).
//
// ExpandWhole is the TIFF reader's way for a strip or tile held whole in
// memory: one call with libdeflate, about twice as fast as the streaming
// inflate; data that libdeflate cannot take whole go through Expand instead.
#include "imaging/compression/decoder.h"

#include <zlib.h>

#include <memory>

struct libdeflate_decompressor;

class TLZ77Decoder : public TDecoder {
public:
    // FlushMode: a zlib flush value (1 partial flush for TIFF and PNG,
    // 4 finish for Paint Shop Pro).
    TLZ77Decoder(int FlushMode, bool AutoReset);
    ~TLZ77Decoder() override;

    TExpandResult Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                         size_t TargetSize, size_t PackedSize, size_t UnpackedSize) override;
    void ExpandFinish() override;
    void ExpandStart() override;
    void Compress(const uint8_t* Source, uint8_t* Target, uint32_t Count,
                  uint32_t& BytesStored) override;

    // Inflates one whole stream (auto reset only) of SourceSize bytes into
    // Target, at most TargetSize bytes, and returns the bytes produced: the
    // same bytes as Expand(Source, SourceSize, Target, TargetSize,
    // SourceSize, TargetSize). WholeSize is what the stream is expected to
    // inflate to when only its first TargetSize bytes are wanted (a tile at
    // the image's edge); such a stream is inflated whole into a buffer of the
    // decoder and its start copied. When libdeflate reports damaged or short
    // data, or more output than max(TargetSize, WholeSize), the stream goes
    // through Expand, which keeps what zlib decodes before the damage.
    // Target bytes after the produced ones are undefined. After a libdeflate
    // decode LastResult is Z_STREAM_END.
    size_t ExpandWhole(const uint8_t* Source, size_t SourceSize, uint8_t* Target, size_t TargetSize,
                       size_t WholeSize = 0);

    // Input and output bytes left over by the last Expand.
    size_t InputLeft() const { return FStream.avail_in; }
    size_t OutputLeft() const { return FStream.avail_out; }
    // The last zlib result (0 before the first call; 1 at the stream end).
    int LastResult() const { return FLastResult; }

private:
    z_stream FStream{};
    int FFlushMode;
    bool FAutoReset;
    bool FInitialized = false;
    int FLastResult = 0;
    libdeflate_decompressor* FWhole = nullptr; // made at the first ExpandWhole
    std::unique_ptr<uint8_t[]> FWholeBuffer;    // for streams cut short by TargetSize
    size_t FWholeBufferSize = 0;
};
