#include "imaging/compression/lz77_decoder.h"

#include "imaging/strings/messages.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include <libdeflate.h>

namespace {
uInt ZlibCount(size_t count)
{
    return static_cast<uInt>(std::min<size_t>(count, UINT_MAX));
}
} // namespace

TLZ77Decoder::TLZ77Decoder(int FlushMode, bool AutoReset) : FFlushMode(FlushMode), FAutoReset(AutoReset) {}

TLZ77Decoder::~TLZ77Decoder()
{
    if (FInitialized)
        inflateEnd(&FStream);
    if (FWhole)
        libdeflate_free_decompressor(FWhole);
}

void TLZ77Decoder::ExpandStart()
{
    if (FInitialized) {
        inflateEnd(&FStream);
        FInitialized = false;
    }
    FStream = z_stream{};
    FLastResult = 0;
    if (inflateInit(&FStream) < 0)
        CompressionError(msg::LZ77Error);
    FInitialized = true;
}

void TLZ77Decoder::ExpandFinish()
{
    if (!FInitialized)
        return;
    FInitialized = false;
    if (inflateEnd(&FStream) < 0)
        CompressionError(msg::LZ77Error);
}

TExpandResult TLZ77Decoder::Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                                   size_t TargetSize, size_t PackedSize, size_t UnpackedSize)
{
    FStream.next_in = const_cast<Bytef*>(Source);
    FStream.avail_in = ZlibCount(std::min(SourceSize, PackedSize));
    FStream.next_out = Target;
    FStream.avail_out = ZlibCount(std::min(TargetSize, UnpackedSize));
    if (!FInitialized)
        return {};
    if (FAutoReset)
        FLastResult = inflateReset(&FStream);
    // The end of the stream and data errors stop all later calls; a call
    // that could make no progress (Z_BUF_ERROR) does not.
    if (FLastResult != Z_OK && FLastResult != Z_BUF_ERROR)
        return {};
    FLastResult = inflate(&FStream, FFlushMode);
    const TExpandResult result{static_cast<size_t>(FStream.next_in - Source),
                               static_cast<size_t>(FStream.next_out - Target)};
    Source = FStream.next_in;
    Target = FStream.next_out;
    return result;
}

size_t TLZ77Decoder::ExpandWhole(const uint8_t* Source, size_t SourceSize, uint8_t* Target, size_t TargetSize,
                                 size_t WholeSize)
{
    // The counts Expand gives zlib, so that both ways see the same data.
    const size_t inCount = ZlibCount(SourceSize);
    const size_t outCount = ZlibCount(TargetSize);
    if (FInitialized && FAutoReset && outCount > 0) {
        if (!FWhole)
            FWhole = libdeflate_alloc_decompressor();
        uint8_t* out = Target;
        size_t outSize = outCount;
        if (FWhole && WholeSize > outCount) {
            if (FWholeBufferSize < WholeSize) {
                FWholeBuffer.reset();
                FWholeBuffer.reset(new (std::nothrow) uint8_t[WholeSize]);
                FWholeBufferSize = FWholeBuffer ? WholeSize : 0;
            }
            out = FWholeBuffer.get();
            outSize = WholeSize;
        }
        size_t consumed = 0;
        size_t produced = 0;
        if (FWhole && out &&
            libdeflate_zlib_decompress_ex(FWhole, Source, inCount, out, outSize, &consumed, &produced) ==
                LIBDEFLATE_SUCCESS) {
            if (out != Target) {
                produced = std::min(produced, outCount);
                std::memcpy(Target, out, produced);
            }
            FLastResult = Z_STREAM_END;
            return produced;
        }
    }
    return Expand(Source, SourceSize, Target, TargetSize, SourceSize, TargetSize).Produced;
}

void TLZ77Decoder::Compress(const uint8_t*, uint8_t*, uint32_t, uint32_t& BytesStored)
{
    BytesStored = 0;
}
