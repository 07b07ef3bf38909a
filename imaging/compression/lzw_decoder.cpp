#include "imaging/compression/lzw_decoder.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr uint32_t ClearCode = 256;
constexpr uint32_t EndCode = 257;
constexpr uint32_t FirstCode = 258;
constexpr uint32_t TableSize = 4096;

} // namespace

TLZWDecoder::TLZWDecoder() : FEntries(TableSize) {}

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
    // Offsets are kept in 32 bits; no strip comes near 4 GB.
    TargetSize = std::min<size_t>(TargetSize, 0xFFFFFFFFu);
    const uint8_t* src = Source;
    const uint8_t* const srcEnd = Source + SourceSize;
    size_t pos = 0;
    uint64_t buffer = 0; // unread bits: the next ones highest (MSB first) or lowest (LSB first)
    uint32_t count = 0;
    uint32_t width = 9;
    uint32_t next = FirstCode;
    uint32_t previousLength = 0; // 0 right after a Clear: no string to extend
    size_t previousStart = 0;    // where the previous code's string was written
    uint64_t* const entries = FEntries.data();

    for (;;) {
        if constexpr (!OldStyle) {
            // Eight bytes at once while they last: the bits already held
            // stay, the loaded ones below them repeat bits held in part.
            if (srcEnd - src >= 8) {
                uint64_t word;
                std::memcpy(&word, src, 8);
                if constexpr (std::endian::native == std::endian::little)
                    word = __builtin_bswap64(word);
                buffer |= word >> count;
                src += (63 - count) >> 3;
                count |= 56;
            }
        }
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

        if (code - ClearCode < 2) {
            if (code == EndCode)
                break;
            width = 9;
            next = FirstCode;
            previousLength = 0;
            continue;
        }
        if (pos >= TargetSize)
            break;

        const size_t start = pos;
        uint32_t length;
        if (code < 256) {
            Target[pos++] = static_cast<uint8_t>(code);
            length = 1;
        } else if (code < next) {
            const uint64_t entry = entries[code];
            const size_t from = static_cast<uint32_t>(entry);
            length = static_cast<uint32_t>(entry >> 32);
            const size_t n = std::min<size_t>(length, TargetSize - pos);
            // Most strings are short: one fixed copy when the room allows;
            // from lies before pos, at least a string's length back.
            if (n <= 16 && pos + 16 <= TargetSize && pos - from >= 16)
                std::memcpy(Target + pos, Target + from, 16);
            else
                std::memmove(Target + pos, Target + from, n);
            pos += n;
        } else if (code == next && previousLength != 0 && next < TableSize) {
            // The string of the previous code and its own first byte: copied
            // byte by byte, the last byte being the first one just written.
            length = previousLength + 1;
            const size_t n = std::min<size_t>(length, TargetSize - pos);
            for (size_t i = 0; i < n; ++i)
                Target[pos + i] = Target[previousStart + i];
            pos += n;
        } else {
            break; // a code that is not defined yet
        }

        if (previousLength != 0 && next < TableSize) {
            // The new string is the previous one and the first byte of this
            // one, which follows it in the target.
            entries[next] = previousStart | uint64_t(previousLength + 1) << 32;
            ++next;
            // The width grows one code early in the TIFF coding.
            if (next >= (1u << width) - (OldStyle ? 0u : 1u) && width < 12)
                ++width;
        }
        previousLength = length;
        previousStart = start;
    }
    const size_t unread = count / 8;
    return {static_cast<size_t>(src - Source) - unread, pos};
}
