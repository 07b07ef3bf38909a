#include "imaging/compression/lzw_decoder.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t ClearCode = 256;
constexpr uint32_t EndCode = 257;
constexpr uint32_t FirstCode = 258;
constexpr uint32_t TableSize = 4096;

} // namespace

TLZWDecoder::TLZWDecoder() : FOffset(TableSize), FLength(TableSize) {}

void TLZWDecoder::Compress(const uint8_t*, uint8_t*, uint32_t, uint32_t& BytesStored)
{
    BytesStored = 0;
}

TExpandResult TLZWDecoder::Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target, size_t TargetSize,
                                  size_t PackedSize, size_t UnpackedSize)
{
    const size_t in = std::min(SourceSize, PackedSize);
    const size_t out = std::min(TargetSize, UnpackedSize);
    if (in >= 2 && Source[0] == 0 && (Source[1] & 1))
        return Decode<true>(Source, in, Target, out);
    return Decode<false>(Source, in, Target, out);
}

template <bool OldStyle>
TExpandResult TLZWDecoder::Decode(const uint8_t* Source, size_t SourceSize, uint8_t* Target, size_t TargetSize)
{
    const uint8_t* src = Source;
    const uint8_t* const srcEnd = Source + SourceSize;
    size_t pos = 0;
    uint64_t buffer = 0; // unread bits: the next ones highest (MSB first) or lowest (LSB first)
    uint32_t count = 0;
    uint32_t width = 9;
    // Code at which the width grows: one early in the TIFF coding.
    uint32_t limit = OldStyle ? 512 : 511;
    uint32_t next = FirstCode;
    uint32_t previous = ClearCode; // no previous code after a Clear
    size_t previousStart = 0;      // where the previous code's string was written
    size_t* const offset = FOffset.data();
    uint32_t* const length = FLength.data();

    for (;;) {
        if (count < width) {
            while (count <= 56 && src != srcEnd) {
                if constexpr (OldStyle)
                    buffer |= uint64_t(*src++) << count;
                else
                    buffer |= uint64_t(*src++) << (56 - count);
                count += 8;
            }
            if (count < width)
                break;
        }
        uint32_t code;
        if constexpr (OldStyle) {
            code = static_cast<uint32_t>(buffer & ((1u << width) - 1));
            buffer >>= width;
        } else {
            code = static_cast<uint32_t>(buffer >> (64 - width));
            buffer <<= width;
        }
        count -= width;

        if (code == ClearCode) {
            width = 9;
            limit = OldStyle ? 512 : 511;
            next = FirstCode;
            previous = ClearCode;
            continue;
        }
        if (code == EndCode)
            break;
        if (pos >= TargetSize)
            break;

        if (previous == ClearCode) {
            // The first code after a Clear stands for itself.
            if (code > 255)
                break;
            Target[pos] = static_cast<uint8_t>(code);
            previous = code;
            previousStart = pos;
            ++pos;
            continue;
        }

        const uint32_t previousLength = previous < 256 ? 1 : length[previous];
        const size_t start = pos;
        if (code < 256) {
            Target[pos++] = static_cast<uint8_t>(code);
        } else if (code < next) {
            const size_t from = offset[code];
            const size_t n = std::min<size_t>(length[code], TargetSize - pos);
            // Most strings are short: one fixed copy when the room allows;
            // from lies before pos, at least a string's length back.
            if (n <= 16 && pos + 16 <= TargetSize && pos - from >= 16)
                std::memcpy(Target + pos, Target + from, 16);
            else
                std::memmove(Target + pos, Target + from, n);
            pos += n;
        } else if (code == next && next < TableSize) {
            // The string of the previous code and its own first byte: copied
            // byte by byte, the last byte being the first one just written.
            const size_t n = std::min<size_t>(previousLength + 1, TargetSize - pos);
            for (size_t i = 0; i < n; ++i)
                Target[pos + i] = Target[previousStart + i];
            pos += n;
        } else {
            break; // a code that is not defined yet
        }

        if (next < TableSize) {
            // The new string is the previous one and the first byte of this
            // one, which follows it in the target.
            offset[next] = previousStart;
            length[next] = previousLength + 1;
            ++next;
            if (next >= limit && width < 12) {
                ++width;
                limit = (limit + 1) * 2 - (OldStyle ? 0 : 1);
            }
        }
        previous = code;
        previousStart = start;
        if (pos >= TargetSize)
            break;
    }
    const size_t unread = count / 8;
    return {static_cast<size_t>(src - Source) - unread, pos};
}
