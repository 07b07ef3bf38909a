#pragma once
// The hot 8-bit row kernels of the colour manager (internal). Each exists as a
// plain loop in `scalar`, the reference, and in vector code in `simd`, built
// for several instruction sets with the best one chosen for the processor at
// run time. Both forms write identical bytes, leave every target byte they do
// not define untouched and read no source byte beyond the row. All take
// interleaved samples and convert every position of a row of `count` pixels:
//
//   Exchange3    3-byte pixels, samples 0 and 2 exchanged (RGB <-> BGR)
//   Shuffle4     4-byte pixels, samples 0 and 2 exchanged when asked
//   Pack4To3     4-byte to 3-byte pixels, the fourth sample dropped
//   Spread3To4   3-byte to 4-byte pixels, the fourth target byte not written
//   Words16To8   n 16-bit words (host order, or swapped) to n bytes, v div 257
//   RGB16To8     16-bit to 8-bit 3-sample pixels, exchanged when asked
//   CMYK8To3     C, M, Y, K to RGB or BGR
//   YCC8To3      Y, Cb, Cr to RGB or BGR with fixed-point factors
//   Expand1To8   packed 1-bit fields (high bit first) to bytes through 2 values
//   Expand4To8   packed 4-bit fields (high nibble first) through 16 values
#include <cstddef>
#include <cstdint>

namespace pwcolor {

// Fixed-point chroma factors: a contribution is (d * F + half) >> Shift.
struct TChromaFixed {
    int32_t Red, GreenCr, Blue, GreenCb;
    int32_t Shift;
    int32_t OffsetR, OffsetB;
};

namespace scalar {
void Exchange3(const uint8_t* s, uint8_t* d, size_t count);
void Shuffle4(const uint8_t* s, uint8_t* d, size_t count, bool exchange);
void Pack4To3(const uint8_t* s, uint8_t* d, size_t count, bool exchange);
void Spread3To4(const uint8_t* s, uint8_t* d, size_t count, bool exchange);
void Words16To8(const uint8_t* s, uint8_t* d, size_t n, bool swap);
void RGB16To8(const uint8_t* s, uint8_t* d, size_t count, bool swap, bool exchange);
void CMYK8To3(const uint8_t* s, uint8_t* d, size_t count, bool bgr);
void YCC8To3(const uint8_t* s, uint8_t* d, size_t count, const TChromaFixed& f, bool bgr);
void Expand1To8(const uint8_t* s, uint8_t* d, size_t count, const uint8_t* values);
void Expand4To8(const uint8_t* s, uint8_t* d, size_t count, const uint8_t* values);
} // namespace scalar

namespace simd {
void Exchange3(const uint8_t* s, uint8_t* d, size_t count);
void Shuffle4(const uint8_t* s, uint8_t* d, size_t count, bool exchange);
void Pack4To3(const uint8_t* s, uint8_t* d, size_t count, bool exchange);
void Spread3To4(const uint8_t* s, uint8_t* d, size_t count, bool exchange);
void Words16To8(const uint8_t* s, uint8_t* d, size_t n, bool swap);
void RGB16To8(const uint8_t* s, uint8_t* d, size_t count, bool swap, bool exchange);
void CMYK8To3(const uint8_t* s, uint8_t* d, size_t count, bool bgr);
void YCC8To3(const uint8_t* s, uint8_t* d, size_t count, const TChromaFixed& f, bool bgr);
void Expand1To8(const uint8_t* s, uint8_t* d, size_t count, const uint8_t* values);
void Expand4To8(const uint8_t* s, uint8_t* d, size_t count, const uint8_t* values);
} // namespace simd

} // namespace pwcolor
