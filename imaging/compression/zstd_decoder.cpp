#include "imaging/compression/zstd_decoder.h"

#include "imaging/strings/messages.h"

#include <algorithm>

#include <zstd.h>

TZstdDecoder::~TZstdDecoder()
{
    ZSTD_freeDCtx(FContext);
}

void TZstdDecoder::ExpandStart()
{
    if (!FContext)
        FContext = ZSTD_createDCtx();
    if (!FContext)
        CompressionError(msg::ZstdError);
}

void TZstdDecoder::ExpandFinish()
{
    ZSTD_freeDCtx(FContext);
    FContext = nullptr;
}

TExpandResult TZstdDecoder::Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target, size_t TargetSize,
                                   size_t PackedSize, size_t UnpackedSize)
{
    const size_t inSize = std::min(SourceSize, PackedSize);
    const size_t outSize = std::min(TargetSize, UnpackedSize);
    if (!FContext || inSize == 0 || outSize == 0)
        return {};
    // A frame that fits the target is decoded in one call, straight into it;
    // one that holds more (a tile at the image's edge), damaged or short data
    // go through the streaming decoder, which stops where the target is full
    // and keeps what it decoded before the damage.
    const unsigned long long content = ZSTD_getFrameContentSize(Source, inSize);
    if (content != ZSTD_CONTENTSIZE_ERROR && content != ZSTD_CONTENTSIZE_UNKNOWN && content <= outSize) {
        const size_t produced = ZSTD_decompressDCtx(FContext, Target, outSize, Source, inSize);
        if (!ZSTD_isError(produced))
            return {inSize, produced};
    }
    ZSTD_DCtx_reset(FContext, ZSTD_reset_session_only);
    ZSTD_inBuffer in{Source, inSize, 0};
    ZSTD_outBuffer out{Target, outSize, 0};
    while (in.pos < in.size && out.pos < out.size) {
        const size_t before = in.pos + out.pos;
        if (ZSTD_isError(ZSTD_decompressStream(FContext, &out, &in)) || in.pos + out.pos == before)
            break;
    }
    return {in.pos, out.pos};
}

void TZstdDecoder::Compress(const uint8_t*, uint8_t*, uint32_t, uint32_t& BytesStored)
{
    BytesStored = 0;
}
