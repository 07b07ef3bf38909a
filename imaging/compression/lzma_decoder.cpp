#include "imaging/compression/lzma_decoder.h"

#include "imaging/strings/messages.h"

#include <algorithm>

TLZMADecoder::~TLZMADecoder()
{
    lzma_end(&FStream);
}

void TLZMADecoder::ExpandFinish()
{
    lzma_end(&FStream);
}

TExpandResult TLZMADecoder::Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target, size_t TargetSize,
                                   size_t PackedSize, size_t UnpackedSize)
{
    const size_t inSize = std::min(SourceSize, PackedSize);
    const size_t outSize = std::min(TargetSize, UnpackedSize);
    if (inSize == 0 || outSize == 0)
        return {};
    if (lzma_stream_decoder(&FStream, MemoryLimit, 0) != LZMA_OK)
        CompressionError(msg::LZMAError);
    FStream.next_in = Source;
    FStream.avail_in = inSize;
    FStream.next_out = Target;
    FStream.avail_out = outSize;
    lzma_ret result = LZMA_OK;
    while (result == LZMA_OK && FStream.avail_in > 0 && FStream.avail_out > 0) {
        const size_t before = FStream.avail_in + FStream.avail_out;
        result = lzma_code(&FStream, LZMA_RUN);
        if (FStream.avail_in + FStream.avail_out == before)
            break;
    }
    if (result == LZMA_MEMLIMIT_ERROR || result == LZMA_MEM_ERROR)
        CompressionError(msg::LZMAError);
    return {inSize - FStream.avail_in, outSize - FStream.avail_out};
}

void TLZMADecoder::Compress(const uint8_t*, uint8_t*, uint32_t, uint32_t& BytesStored)
{
    BytesStored = 0;
}
