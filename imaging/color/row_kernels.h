#pragma once
// The hot 8-bit row kernels of the colour manager (internal). Each exists as a
// plain loop in `scalar`, the reference, and in vector code in `simd`, built
// for several instruction sets with the best one chosen for the processor at
// run time. Both forms write identical bytes, leave every target byte they do
// not define untouched and read no source byte beyond the row. All take
// interleaved samples and convert every position of a row of `count` pixels:
//
//   Exchange3    3-byte pixels, samples 0 and 2 exchanged (RGB <-> BGR)
//   Exchange3InPlace  the same where the row lies (no source row)
//   Shuffle4     4-byte pixels, samples 0 and 2 exchanged when asked
//   Pack4To3     4-byte to 3-byte pixels, the fourth sample dropped
//   Spread3To4   3-byte to 4-byte pixels, the fourth target byte not written
//   Words16To8   n 16-bit words (host order, or swapped) to n bytes, v div 257
//   RGB16To8     16-bit to 8-bit 3-sample pixels, exchanged when asked
//   CMYK8To3     C, M, Y, K to RGB or BGR
//   YCC8To3      Y, Cb, Cr to RGB or BGR through the four chroma tables
//   LabTo3       L*, a*, b* (interleaved or in planes, 8 or 16 bits) to 8-bit
//                RGB or BGR
//   Expand1To8   packed 1-bit fields (high bit first) to bytes through 2 values
//   Expand4To8   packed 4-bit fields (high nibble first) through 16 values
#include <cstddef>
#include <cstdint>

namespace pwcolor {

// The colour manager's chroma tables, 256 entries each: blue is
// clamp(y + CbToBlue[cb]), green clamp(y + CbToGreen[cb] + CrToGreen[cr]), red
// clamp(y + CrToRed[cr]). When Shift is not 0 the tables are also given as
// fixed-point factors that reproduce every entry exactly: with d = cr - OffsetR
// or cb - OffsetB, an entry is (d * F + half) >> Shift, negated for green.
struct TChromaTables {
    const int32_t* CrToRed;
    const int32_t* CbToBlue;
    const int32_t* CrToGreen;
    const int32_t* CbToGreen;
    int32_t Red, GreenCr, Blue, GreenCb;
    int32_t Shift;
    int32_t OffsetR, OffsetB;
};

// The samples of an L*a*b* row: pixel i's L*, a* and b* are at Sample[k] +
// i * Step; 16-bit samples in host order or swapped. ByteL: L* on 0..255
// (0..65535) rather than 0..100; OffsetAB: a* and b* unsigned, around the
// middle of their range, rather than two's complement.
struct TLabSamples {
    const uint8_t* Sample[3];
    size_t Step;
    bool Wide, Swap, ByteL, OffsetAB;
};

// Every kernel as (name, parameters, arguments), so that the two forms and the
// dispatch are declared from one list.
#define PW_ROW_KERNELS(X)                                                                                            \
    X(Exchange3, (const uint8_t* s, uint8_t* d, size_t count), (s, d, count))                                       \
    X(Exchange3InPlace, (uint8_t* row, size_t count), (row, count))                                                 \
    X(Shuffle4, (const uint8_t* s, uint8_t* d, size_t count, bool exchange), (s, d, count, exchange))               \
    X(Pack4To3, (const uint8_t* s, uint8_t* d, size_t count, bool exchange), (s, d, count, exchange))               \
    X(Spread3To4, (const uint8_t* s, uint8_t* d, size_t count, bool exchange), (s, d, count, exchange))             \
    X(Words16To8, (const uint8_t* s, uint8_t* d, size_t n, bool swap), (s, d, n, swap))                             \
    X(RGB16To8, (const uint8_t* s, uint8_t* d, size_t count, bool swap, bool exchange), (s, d, count, swap, exchange)) \
    X(CMYK8To3, (const uint8_t* s, uint8_t* d, size_t count, bool bgr), (s, d, count, bgr))                         \
    X(YCC8To3, (const uint8_t* s, uint8_t* d, size_t count, const TChromaTables& t, bool bgr), (s, d, count, t, bgr)) \
    X(LabTo3, (const TLabSamples& s, uint8_t* d, size_t count, bool bgr), (s, d, count, bgr))                     \
    X(Expand1To8, (const uint8_t* s, uint8_t* d, size_t count, const uint8_t* values), (s, d, count, values))       \
    X(Expand4To8, (const uint8_t* s, uint8_t* d, size_t count, const uint8_t* values), (s, d, count, values))

#define PW_DECLARE_ROW_KERNEL(name, parameters, arguments) void name parameters;

namespace scalar {
PW_ROW_KERNELS(PW_DECLARE_ROW_KERNEL)
} // namespace scalar

namespace simd {
PW_ROW_KERNELS(PW_DECLARE_ROW_KERNEL)
} // namespace simd

} // namespace pwcolor
