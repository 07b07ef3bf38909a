#include "imaging/compression/lzw_decoder.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr uint32_t ClearCode = 256;
constexpr uint32_t EndCode = 257;
constexpr uint32_t FirstCode = 258;
constexpr uint32_t TableSize = 4096;
constexpr uint32_t MaxWidth = 12;
// Strings up to this length are copied with one fixed-size move.
constexpr size_t CopyBytes = 16;
constexpr uint16_t SpecialLength = 0xFFFF;

// Every byte value, and room after the last for a fixed-size copy.
struct TByteValues {
    uint8_t Bytes[256 + CopyBytes];
    constexpr TByteValues() : Bytes{}
    {
        for (int i = 0; i < 256; ++i)
            Bytes[i] = static_cast<uint8_t>(i);
    }
};
constexpr TByteValues ByteValues;

// The code of Width bits that starts Bit (0..7) bits into P; four bytes at P
// are readable.
template <bool OldStyle>
inline uint32_t CodeAt(const uint8_t* p, size_t bit, uint32_t width)
{
    uint32_t word;
    std::memcpy(&word, p, 4);
    if constexpr (OldStyle) {
        if constexpr (std::endian::native == std::endian::big)
            word = __builtin_bswap32(word);
        return (word >> bit) & ((1u << width) - 1);
    } else {
        if constexpr (std::endian::native == std::endian::little)
            word = __builtin_bswap32(word);
        return (word << bit) >> (32 - width);
    }
}

// The code past which the width grows, once it is Width bits wide; at the
// widest, the end of the table.
template <bool OldStyle>
constexpr uint32_t LimitFor(uint32_t width)
{
    return width < MaxWidth ? (1u << width) - (OldStyle ? 0u : 1u) : TableSize;
}

} // namespace

TLZWDecoder::TLZWDecoder() : FStarts(TableSize + 1), FLengths(TableSize + 1)
{
    for (uint32_t i = 0; i < 256; ++i) {
        FStarts[i] = ByteValues.Bytes + i;
        FLengths[i] = 1;
    }
    for (uint32_t code : {ClearCode, EndCode}) {
        FStarts[code] = ByteValues.Bytes;
        FLengths[code] = SpecialLength;
    }
}

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
    const uint8_t** const starts = FStarts.data();
    uint16_t* const lengths = FLengths.data();
    uint8_t* out = Target;
    uint8_t* const outEnd = Target + TargetSize;
    size_t bit = 0; // bits read

    const auto read = [&](uint32_t width, uint32_t& code) {
        if (bit + width > SourceSize * 8)
            return false;
        const size_t at = bit >> 3;
        if (SourceSize - at >= 4) {
            code = CodeAt<OldStyle>(Source + at, bit & 7, width);
        } else {
            uint8_t tail[4] = {};
            std::memcpy(tail, Source + at, SourceSize - at);
            code = CodeAt<OldStyle>(tail, bit & 7, width);
        }
        bit += width;
        return true;
    };

    for (;;) {
        // A new table. Its first code is a single byte (or Clear or
        // EndOfInformation): there is no string before it to extend.
        uint32_t width = 9;
        uint32_t limit = LimitFor<OldStyle>(width);
        uint32_t next = FirstCode;
        uint32_t code;
        if (!read(width, code) || code == EndCode)
            break;
        if (code == ClearCode)
            continue;
        if (code > 255 || out == outEnd)
            break;
        const uint8_t* previous = out; // the previous code's string
        uint32_t previousLength = 1;
        *out++ = static_cast<uint8_t>(code);

        // Each code adds the previous string and the first byte of its own,
        // which follows that string in the target.
        const auto add = [&] {
            starts[next] = previous;
            lengths[next] = static_cast<uint16_t>(previousLength + 1);
            if (++next >= limit) {
                if (width < MaxWidth)
                    limit = LimitFor<OldStyle>(++width);
                else
                    next = TableSize; // full: what the data add goes to the spare entry
            }
        };

        for (;;) {
            // As many codes as surely have four bytes to read them from and
            // a fixed copy's room in the target are decoded without those
            // checks. Codes that need more than a fixed copy leave the run.
            const size_t roomCodes = size_t(outEnd - out) / CopyBytes;
            const size_t bitCodes = SourceSize >= 4 && bit <= (SourceSize - 4) * 8
                                        ? ((SourceSize - 4) * 8 - bit) / MaxWidth
                                        : 0;
            for (size_t run = std::min(roomCodes, bitCodes); run > 0; --run) {
                code = CodeAt<OldStyle>(Source + (bit >> 3), bit & 7, width);
                if (code >= next)
                    break;
                const uint8_t* from = starts[code];
                const uint32_t length = lengths[code];
                if (length > CopyBytes)
                    break;
                bit += width;
                // Through a register: the string may end less than a fixed
                // copy before the place it is copied to.
                uint8_t piece[CopyBytes];
                std::memcpy(piece, from, CopyBytes);
                std::memcpy(out, piece, CopyBytes);
                add();
                previous = out;
                previousLength = length;
                out += length;
            }

            // One code with every check.
            if (!read(width, code) || code == EndCode)
                goto done;
            if (code == ClearCode)
                break;
            const uint8_t* from;
            uint32_t length;
            const bool repeat = code == next; // the string being defined
            if (code < next) {
                from = starts[code];
                length = lengths[code];
            } else if (repeat) {
                from = previous;
                length = previousLength + 1;
            } else {
                goto done; // not defined yet
            }
            if (out == outEnd)
                goto done;
            const size_t n = std::min<size_t>(length, size_t(outEnd - out));
            if (repeat) {
                // Its last byte is its first one, written just before.
                for (size_t i = 0; i < n; ++i)
                    out[i] = from[i];
            } else {
                std::memcpy(out, from, n);
            }
            add();
            previous = out;
            previousLength = length;
            out += n;
        }
    }
done:
    return {(bit + 7) / 8, size_t(out - Target)};
}
