#include "imaging/compression/webp_decoder.h"

#include <webp/decode.h>

#include <algorithm>
#include <climits>

TWebPDecoder::TWebPDecoder(uint32_t Samples, uint32_t Width) : FSamples(Samples), FWidth(Width) {}

TExpandResult TWebPDecoder::Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target, size_t TargetSize,
                                   size_t PackedSize, size_t UnpackedSize)
{
    const size_t inSize = std::min(SourceSize, PackedSize);
    const size_t rowBytes = size_t(FWidth) * FSamples;
    if ((FSamples != 3 && FSamples != 4) || rowBytes == 0 || rowBytes > INT_MAX)
        return {};
    const size_t rows = std::min(TargetSize, UnpackedSize) / rowBytes;
    WebPBitstreamFeatures features;
    if (rows == 0 || WebPGetFeatures(Source, inSize, &features) != VP8_STATUS_OK || features.has_animation ||
        uint32_t(features.width) != FWidth || uint32_t(features.height) != rows)
        return {};
    // The incremental decoder keeps the rows it finished when the data end
    // early or turn bad; the one-call decoder would keep none.
    WebPIDecoder* decoder =
        WebPINewRGB(FSamples == 4 ? MODE_RGBA : MODE_RGB, Target, rows * rowBytes, static_cast<int>(rowBytes));
    if (!decoder)
        return {};
    const VP8StatusCode status = WebPIUpdate(decoder, Source, inSize);
    int decodedRows = 0;
    if (status == VP8_STATUS_OK)
        decodedRows = static_cast<int>(rows);
    else if (!WebPIDecGetRGB(decoder, &decodedRows, nullptr, nullptr, nullptr))
        decodedRows = 0;
    WebPIDelete(decoder);
    return {inSize, size_t(std::clamp(decodedRows, 0, static_cast<int>(rows))) * rowBytes};
}

void TWebPDecoder::Compress(const uint8_t*, uint8_t*, uint32_t, uint32_t& BytesStored)
{
    BytesStored = 0;
}
