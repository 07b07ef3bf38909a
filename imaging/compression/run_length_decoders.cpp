#include "imaging/compression/run_length_decoders.h"

#include "imaging/compression/packbits_simd.h"

#include <algorithm>
#include <cstring>

namespace {

// The output of one Expand call: writes are cut at End, so a packet that
// codes more than fits is written as far as it fits and dropped beyond.
struct TSink {
    uint8_t* Pos;
    uint8_t* End;

    size_t Room() const { return static_cast<size_t>(End - Pos); }
    void Fill(uint8_t value, size_t count)
    {
        count = std::min(count, Room());
        if (count == 0)
            return;
        std::memset(Pos, value, count);
        Pos += count;
    }
    void Copy(const uint8_t* source, size_t count)
    {
        count = std::min(count, Room());
        if (count == 0)
            return;
        std::memcpy(Pos, source, count);
        Pos += count;
    }
    // count copies of a pixel of size bytes, whole pixels only.
    void FillPixel(const uint8_t* pixel, size_t size, size_t count)
    {
        count = std::min(count, Room() / size);
        if (count == 0)
            return;
        std::memcpy(Pos, pixel, size);
        // Doubling copies: few calls also for long runs of wide pixels.
        size_t done = 1;
        while (done < count) {
            const size_t chunk = std::min(done, count - done);
            std::memcpy(Pos + done * size, Pos, chunk * size);
            done += chunk;
        }
        Pos += count * size;
    }
};

// The input of one Expand call.
struct TSource {
    const uint8_t* Pos;
    const uint8_t* End;

    size_t Left() const { return static_cast<size_t>(End - Pos); }
    bool Empty() const { return Pos == End; }
};

TExpandResult ResultOf(const uint8_t* sourceStart, const TSource& source, const uint8_t* targetStart,
                       const TSink& sink)
{
    return {static_cast<size_t>(source.Pos - sourceStart), static_cast<size_t>(sink.Pos - targetStart)};
}

size_t TargaPixelSize(int depth)
{
    switch (depth) {
    case 8:
        return 1;
    case 15:
    case 16:
        return 2;
    case 24:
        return 3;
    case 32:
        return 4;
    default:
        return 0;
    }
}

} // namespace

// ---- Targa ------------------------------------------------------------------

TTargaRLEDecoder::TTargaRLEDecoder(int ColorDepth)
    : FColorDepth(ColorDepth), FPixelSize(TargaPixelSize(ColorDepth))
{
}

void TTargaRLEDecoder::ExpandStart()
{
    FPendingPixels = 0;
}

TExpandResult TTargaRLEDecoder::Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                                       size_t TargetSize, size_t, size_t UnpackedSize)
{
    if (FPixelSize == 0)
        return {};
    const size_t p = FPixelSize;
    const uint8_t* start = Source;
    TSource in{Source, Source + SourceSize};
    // Pixels beyond the target but within UnpackedSize are decoded and
    // dropped: the sink cuts them.
    TSink out{Target, Target + std::min(TargetSize, UnpackedSize > SIZE_MAX / p ? SIZE_MAX : UnpackedSize * p)};
    size_t left = UnpackedSize;

    // Literal pixels, as many as the source holds; false when it ran short.
    auto copyPixels = [&](size_t count) {
        const size_t available = std::min(count, in.Left() / p);
        out.Copy(in.Pos, available * p);
        in.Pos += available * p;
        left -= available;
        return available == count;
    };

    if (FPendingPixels > 0) {
        const size_t n = std::min(FPendingPixels, left);
        FPendingPixels -= n;
        if (FPendingRun) {
            out.FillPixel(FRunPixel, p, n);
            left -= n;
        } else if (!copyPixels(n)) {
            FPendingPixels = 0;
            left = 0;
        }
    }
    while (left > 0 && !in.Empty()) {
        const uint8_t k = *in.Pos++;
        const size_t count = (k & 0x7Fu) + 1u;
        const size_t n = std::min(count, left);
        if (k & 0x80) {
            if (in.Left() < p)
                break;
            std::memcpy(FRunPixel, in.Pos, p);
            in.Pos += p;
            out.FillPixel(FRunPixel, p, n);
            left -= n;
            FPendingRun = true;
        } else {
            if (!copyPixels(n))
                break;
            FPendingRun = false;
        }
        FPendingPixels = count - n;
    }
    Source = in.Pos;
    return ResultOf(start, in, Target, out);
}

void TTargaRLEDecoder::Compress(const uint8_t*, uint8_t*, uint32_t, uint32_t& BytesStored)
{
    BytesStored = 0;
}

// ---- PackBits ---------------------------------------------------------------

namespace {

// Copies and fills of 1 to 128 bytes as two overlapping moves of a fixed
// size: a variable-sized memcpy of at most 128 bytes is compiled into a
// string instruction that costs more than the copy itself, and writing
// whole fixed blocks past the packet would leave stray bytes behind the
// last one.
template <size_t Size>
inline void CopyTwo(uint8_t* target, const uint8_t* source, size_t n)
{
    std::memcpy(target, source, Size);
    std::memcpy(target + n - Size, source + n - Size, Size);
}

inline void CopyShort(uint8_t* target, const uint8_t* source, size_t n)
{
    if (n > 32) {
        if (n > 64)
            CopyTwo<64>(target, source, n);
        else
            CopyTwo<32>(target, source, n);
    } else if (n > 8) {
        if (n > 16)
            CopyTwo<16>(target, source, n);
        else
            CopyTwo<8>(target, source, n);
    } else if (n >= 4) {
        CopyTwo<4>(target, source, n);
    } else {
        target[0] = source[0];
        target[n / 2] = source[n / 2];
        target[n - 1] = source[n - 1];
    }
}

template <size_t Size>
inline void FillTwo(uint8_t* target, uint8_t value, size_t n)
{
    std::memset(target, value, Size);
    std::memset(target + n - Size, value, Size);
}

inline void FillShort(uint8_t* target, uint8_t value, size_t n)
{
    if (n > 32) {
        if (n > 64)
            FillTwo<64>(target, value, n);
        else
            FillTwo<32>(target, value, n);
    } else if (n > 8) {
        if (n > 16)
            FillTwo<16>(target, value, n);
        else
            FillTwo<8>(target, value, n);
    } else if (n >= 4) {
        FillTwo<4>(target, value, n);
    } else {
        FillTwo<1>(target, value, n);
        target[1] = value;
    }
}

// While a packet of the largest size fits on both sides, nothing is cut:
// the control byte, then 128 bytes read and written at most.
void WholePackets(const uint8_t*& source, const uint8_t* sourceEnd, uint8_t*& target, uint8_t* targetEnd)
{
    if (pwpackbits::VectorWholePackets(source, sourceEnd, target, targetEnd))
        return;
    const uint8_t* in = source;
    uint8_t* out = target;
    while (targetEnd - out >= 128 && sourceEnd - in > 128) {
        // Each packet's place depends on the one before, which keeps the
        // processor from reading ahead on its own: ask for the data early.
        __builtin_prefetch(in + 4096);
        const int8_t b = static_cast<int8_t>(*in++);
        if (b >= 0) {
            const size_t n = size_t(b) + 1;
            CopyShort(out, in, n);
            in += n;
            out += n;
        } else if (b != -128) {
            const size_t n = size_t(1 - b);
            FillShort(out, *in++, n);
            out += n;
        }
    }
    source = in;
    target = out;
}

} // namespace

TPackBitsReader::TPackBitsReader(const uint8_t* source, size_t size) : FPos(source), FEnd(source + size) {}

size_t TPackBitsReader::Read(uint8_t* target, size_t count)
{
    TSource in{FPos, FEnd};
    TSink out{target, target + count};
    // A packet that the previous piece cut goes on first.
    if (FLiteral > 0) {
        const size_t n = std::min(FLiteral, out.Room());
        out.Copy(in.Pos, n);
        in.Pos += n;
        FLiteral -= n;
    } else if (FRun > 0) {
        const size_t n = std::min(FRun, out.Room());
        out.Fill(FValue, n);
        FRun -= n;
    }
    WholePackets(in.Pos, in.End, out.Pos, out.End);
    // The last packets; one that does not fit is kept for the next piece.
    while (out.Room() > 0 && !in.Empty()) {
        const int8_t b = static_cast<int8_t>(*in.Pos++);
        if (b >= 0) {
            const size_t n = std::min<size_t>(b + 1, in.Left());
            const size_t now = std::min(n, out.Room());
            out.Copy(in.Pos, now);
            in.Pos += now;
            FLiteral = n - now;
        } else if (b != -128) {
            if (in.Empty())
                break;
            FValue = *in.Pos++;
            const size_t n = static_cast<size_t>(1 - b);
            const size_t now = std::min(n, out.Room());
            out.Fill(FValue, now);
            FRun = n - now;
        }
    }
    FPos = in.Pos;
    return static_cast<size_t>(out.Pos - target);
}

TExpandResult TPackbitsRLEDecoder::Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                                          size_t TargetSize, size_t PackedSize, size_t UnpackedSize)
{
    TPackBitsReader reader(Source, std::min(SourceSize, PackedSize));
    const size_t produced = reader.Read(Target, std::min(TargetSize, UnpackedSize));
    // A literal cut at the end counts as read whole.
    return {reader.Consumed(Source), produced};
}

void TPackbitsRLEDecoder::Compress(const uint8_t*, uint8_t*, uint32_t, uint32_t& BytesStored)
{
    BytesStored = 0;
}

// ---- PCX --------------------------------------------------------------------

TExpandResult TPCXRLEDecoder::Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                                     size_t TargetSize, size_t, size_t UnpackedSize)
{
    TSource in{Source, Source + SourceSize};
    TSink out{Target, Target + std::min(TargetSize, UnpackedSize)};
    while (out.Room() > 0 && !in.Empty()) {
        const uint8_t b = *in.Pos++;
        if ((b & 0xC0) == 0xC0) {
            if (in.Empty())
                break;
            out.Fill(*in.Pos++, b & 0x3Fu);
        } else {
            *out.Pos++ = b;
        }
    }
    return ResultOf(Source, in, Target, out);
}

void TPCXRLEDecoder::Compress(const uint8_t*, uint8_t*, uint32_t, uint32_t& BytesStored)
{
    BytesStored = 0;
}

// ---- SGI --------------------------------------------------------------------

TSGIRLEDecoder::TSGIRLEDecoder(uint8_t SampleSize) : FSampleSize(SampleSize) {}

TExpandResult TSGIRLEDecoder::Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                                     size_t TargetSize, size_t, size_t)
{
    TSource in{Source, Source + SourceSize};
    TSink out{Target, Target + TargetSize};
    if (FSampleSize == 16) {
        while (in.Left() >= 2) {
            const unsigned w = (in.Pos[0] << 8) | in.Pos[1];
            in.Pos += 2;
            const size_t n = w & 0x7Fu;
            if (n == 0)
                break;
            if (w & 0x80) {
                const size_t bytes = std::min(2 * n, in.Left() & ~size_t{1});
                out.Copy(in.Pos, std::min(bytes, out.Room() & ~size_t{1}));
                in.Pos += bytes;
            } else {
                if (in.Left() < 2)
                    break;
                out.FillPixel(in.Pos, 2, n);
                in.Pos += 2;
            }
        }
    } else {
        while (!in.Empty()) {
            const uint8_t k = *in.Pos++;
            const size_t n = k & 0x7Fu;
            if (n == 0)
                break;
            if (k & 0x80) {
                const size_t bytes = std::min(n, in.Left());
                out.Copy(in.Pos, bytes);
                in.Pos += bytes;
            } else {
                if (in.Empty())
                    break;
                out.Fill(*in.Pos++, n);
            }
        }
    }
    return ResultOf(Source, in, Target, out);
}

void TSGIRLEDecoder::Compress(const uint8_t*, uint8_t*, uint32_t, uint32_t& BytesStored)
{
    BytesStored = 0;
}

// ---- Dr. Halo CUT -----------------------------------------------------------

TExpandResult TCUTRLEDecoder::Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                                     size_t TargetSize, size_t, size_t)
{
    const uint8_t* start = Source;
    TSource in{Source, Source + SourceSize};
    TSink out{Target, Target + TargetSize};
    // The row's byte count: the packets and the closing 0 say as much.
    in.Pos += std::min<size_t>(2, in.Left());
    while (!in.Empty()) {
        const uint8_t k = *in.Pos++;
        if (k == 0)
            break;
        const size_t n = k & 0x7Fu;
        if (k & 0x80) {
            if (in.Empty())
                break;
            out.Fill(*in.Pos++, n);
        } else {
            const size_t bytes = std::min(n, in.Left());
            out.Copy(in.Pos, bytes);
            in.Pos += bytes;
        }
    }
    Source = in.Pos;
    return ResultOf(start, in, Target, out);
}

void TCUTRLEDecoder::Compress(const uint8_t*, uint8_t*, uint32_t, uint32_t& BytesStored)
{
    BytesStored = 0;
}

// ---- Paint Shop Pro ---------------------------------------------------------

TExpandResult TPSPRLEDecoder::Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                                     size_t TargetSize, size_t PackedSize, size_t)
{
    TSource in{Source, Source + std::min(SourceSize, PackedSize)};
    TSink out{Target, Target + TargetSize};
    while (!in.Empty()) {
        const uint8_t k = *in.Pos++;
        if (k < 0x80) {
            const size_t bytes = std::min<size_t>(k, in.Left());
            out.Copy(in.Pos, bytes);
            in.Pos += bytes;
        } else {
            if (in.Empty())
                break;
            out.Fill(*in.Pos++, k - 0x80u);
        }
    }
    return ResultOf(Source, in, Target, out);
}

void TPSPRLEDecoder::Compress(const uint8_t*, uint8_t*, uint32_t, uint32_t& BytesStored)
{
    BytesStored = 0;
}

// ---- RLA --------------------------------------------------------------------

TExpandResult TRLADecoder::Expand(const uint8_t*& Source, size_t SourceSize, uint8_t*& Target,
                                  size_t TargetSize, size_t PackedSize, size_t)
{
    TSource in{Source, Source + std::min(SourceSize, PackedSize)};
    TSink out{Target, Target + TargetSize};
    while (!in.Empty()) {
        const int8_t b = static_cast<int8_t>(*in.Pos++);
        if (b >= 0) {
            if (in.Empty())
                break;
            out.Fill(*in.Pos++, static_cast<size_t>(b) + 1);
        } else {
            const size_t bytes = std::min<size_t>(-b, in.Left());
            out.Copy(in.Pos, bytes);
            in.Pos += bytes;
        }
    }
    return ResultOf(Source, in, Target, out);
}

void TRLADecoder::Compress(const uint8_t*, uint8_t*, uint32_t, uint32_t& BytesStored)
{
    BytesStored = 0;
}
