#include "imaging/compression/thunder_decoder.h"

#include <algorithm>

namespace {
constexpr int Delta2[4] = {0, 1, 0, -1}; // code 2: no pixel
constexpr int Delta3[8] = {0, 1, 2, 3, 0, -3, -2, -1}; // code 4: no pixel
} // namespace

TThunderDecoder::TThunderDecoder(int Width) : FWidth(Width) {}

TExpandResult TThunderDecoder::Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                                      size_t TargetSize, size_t PackedSize, size_t UnpackedSize)
{
    if (FWidth <= 0)
        return {};
    const uint8_t* in = Source;
    const uint8_t* const inEnd = Source + std::min(SourceSize, PackedSize);
    const size_t outSize = std::min(TargetSize, UnpackedSize);
    const size_t width = static_cast<size_t>(FWidth);
    const size_t rowBytes = (width + 1) / 2;
    size_t produced = 0;

    for (size_t rowStart = 0; rowStart < outSize && in != inEnd; rowStart += rowBytes) {
        uint8_t* row = Target + rowStart;
        // The last row may be cut by the target.
        const size_t pixels = std::min(width, 2 * (outSize - rowStart));
        size_t count = 0;
        unsigned last = 0;
        auto put = [&](int value) {
            last = static_cast<unsigned>(value) & 0xF;
            if (count < pixels) {
                if (count & 1)
                    row[count >> 1] |= static_cast<uint8_t>(last);
                else
                    row[count >> 1] = static_cast<uint8_t>(last << 4);
            }
            ++count;
        };
        while (in != inEnd && count < width) {
            const unsigned b = *in++;
            switch (b >> 6) {
            case 0: // run of the last pixel
                for (size_t n = std::min<size_t>(b & 0x3F, width - count); n > 0; --n)
                    put(static_cast<int>(last));
                break;
            case 1: // three 2-bit deltas
                for (int shift = 4; shift >= 0; shift -= 2) {
                    const unsigned d = (b >> shift) & 3;
                    if (d != 2)
                        put(static_cast<int>(last) + Delta2[d]);
                }
                break;
            case 2: // two 3-bit deltas
                for (int shift = 3; shift >= 0; shift -= 3) {
                    const unsigned d = (b >> shift) & 7;
                    if (d != 4)
                        put(static_cast<int>(last) + Delta3[d]);
                }
                break;
            default: // a raw pixel
                put(static_cast<int>(b));
                break;
            }
        }
        produced = rowStart + std::min(rowBytes, (std::min(count, pixels) + 1) / 2);
    }
    return {static_cast<size_t>(in - Source), produced};
}

void TThunderDecoder::Compress(const uint8_t*, uint8_t*, uint32_t, uint32_t& BytesStored)
{
    BytesStored = 0;
}
