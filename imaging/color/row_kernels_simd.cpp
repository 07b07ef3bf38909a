// The vector forms of the row kernels. This file is compiled once per
// instruction set (foreach_target); the rest of a row that does not fill a
// whole vector goes through the reference loop.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/color/row_kernels_simd.cpp"
#include <hwy/foreach_target.h> // IWYU pragma: keep

#include <hwy/highway.h>

#include "imaging/color/row_kernels.h"

#include "imaging/color/color_arith.h"

#include <array>
#include <cstring>

HWY_BEFORE_NAMESPACE();
namespace pwcolor {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#if HWY_TARGET == HWY_SCALAR
// Single-lane "vectors" gain nothing over the reference loops.
#define PW_FORWARD_ROW_KERNEL(name, parameters, arguments) \
    void name##Impl parameters { scalar::name arguments; }
PW_ROW_KERNELS(PW_FORWARD_ROW_KERNEL)
#undef PW_FORWARD_ROW_KERNEL
#else
// Byte j ^ 1 at every byte j: as a byte shuffle, it exchanges the two bytes
// of every 16-bit word.
alignas(64) constexpr auto WordBytesExchanged = [] {
    std::array<uint8_t, 64> o{};
    for (size_t j = 0; j < 64; ++j)
        o[j] = static_cast<uint8_t>(j ^ 1);
    return o;
}();

#if HWY_TARGET != HWY_AVX3_DL
// Output byte j of a run of 3-byte pixels is input byte j + 2, j or j - 2 by
// j mod 3. Within a 16-byte block those bytes lie in two loads, 2 bytes before
// and 2 bytes after the block, so each vector is the union of two byte
// shuffles (the lanes of each that the other fills are zeroed). Three vectors
// cover a whole number of pixels and share three pairs of patterns. A block of
// three vectors is loaded whole before it is stored, and no lane it keeps lies
// before it, so that the same loop works in place.
//
// The source of byte g, counted from 2 bytes before its 16-byte block, is 0
// to 19: the early patterns take 0 to 15, the late ones the others from a load
// 4 bytes further on; each zeroes the lanes of the other.
template <size_t N>
struct TExchange3Patterns {
    uint8_t Early[3 * N], Late[3 * N];
    constexpr TExchange3Patterns() : Early(), Late()
    {
        for (size_t g = 0; g < 3 * N; ++g) {
            const size_t from = g % 16 + 4 - 2 * (g % 3);
            Early[g] = from <= 15 ? static_cast<uint8_t>(from) : 0x80;
            Late[g] = from > 15 ? static_cast<uint8_t>(from - 4) : 0x80;
        }
    }
};

// Converts pixels 1 up to the pixel it returns (0 for a row shorter than a
// block and its margins); pixel 0 is the caller's, as the first load reaches 2
// bytes back.
size_t Exchange3Blocks(const uint8_t* s, uint8_t* d, size_t count)
{
    const hn::ScalableTag<uint8_t> d8;
    using V = hn::Vec<decltype(d8)>;
    constexpr size_t N = hn::MaxLanes(d8);
    static constexpr TExchange3Patterns<N> patterns;
    const size_t bytes = 3 * count;
    if (bytes < 3 * N + 5)
        return 0;
    V early[3], late[3];
    for (size_t k = 0; k < 3; ++k) {
        early[k] = hn::LoadU(d8, patterns.Early + k * N);
        late[k] = hn::LoadU(d8, patterns.Late + k * N);
    }
    const auto block = [&](size_t i, V (&out)[3]) {
        for (size_t k = 0; k < 3; ++k) {
            const uint8_t* p = s + i + k * N;
            out[k] = hn::Or(hn::TableLookupBytesOr0(hn::LoadU(d8, p - 2), early[k]),
                            hn::TableLookupBytesOr0(hn::LoadU(d8, p + 2), late[k]));
        }
    };
    // The last vector of a block is stored after the next block's loads: the
    // first of them reaches 2 bytes into it (lanes it does not keep), and a
    // load that overlaps a store just before it would wait for the store.
    V out[3];
    block(3, out);
    size_t i = 3;
    for (; i + 6 * N + 2 <= bytes; i += 3 * N) {
        V next[3];
        block(i + 3 * N, next);
        for (size_t k = 0; k < 3; ++k) {
            hn::StoreU(out[k], d8, d + i + k * N);
            out[k] = next[k];
        }
    }
    for (size_t k = 0; k < 3; ++k)
        hn::StoreU(out[k], d8, d + i + k * N);
    return (i + 3 * N) / 3;
}
#endif

void Exchange3Impl(const uint8_t* s, uint8_t* d, size_t count)
{
    size_t done = 0; // pixels
#if HWY_TARGET == HWY_AVX3_DL
    // One byte permutation across the whole vector does it: 21 pixels per
    // 64-byte load and store, the last byte rewritten by the next store.
    static constexpr auto order = [] {
        std::array<uint8_t, 64> o{};
        for (size_t j = 0; j < 64; ++j)
            o[j] = static_cast<uint8_t>(j == 63 ? 63 : j + 2 - 2 * (j % 3));
        return o;
    }();
    const __m512i permutation = _mm512_loadu_si512(order.data());
    for (; 3 * done + 64 <= 3 * count; done += 21)
        _mm512_storeu_si512(d + 3 * done, _mm512_permutexvar_epi8(permutation, _mm512_loadu_si512(s + 3 * done)));
#else
    done = Exchange3Blocks(s, d, count);
    if (done > 0)
        scalar::Exchange3(s, d, 1);
#endif
    scalar::Exchange3(s + 3 * done, d + 3 * done, count - done);
}

// In place, 64 pixels (three vectors) at a time: every byte a block's three
// stores need is loaded before them, from within the block. With two-table
// byte permutations each output vector comes from two loads; elsewhere the
// two-shuffle blocks work in place as they are.
void Exchange3InPlaceImpl(uint8_t* row, size_t count)
{
    size_t done = 0; // pixels
#if HWY_TARGET == HWY_AVX3_DL
    // Source of output byte j of each vector, in the two loads that feed it:
    // bytes 0-127, then 62-189, then 126-189 beside 128-191.
    static constexpr auto order = [] {
        std::array<std::array<uint8_t, 64>, 3> o{};
        const auto from = [](size_t b) { return b + 2 - 2 * (b % 3); };
        for (size_t j = 0; j < 64; ++j) {
            o[0][j] = static_cast<uint8_t>(from(j));
            o[1][j] = static_cast<uint8_t>(from(64 + j) - 62);
            const size_t third = from(128 + j);
            o[2][j] = static_cast<uint8_t>(third < 128 ? third - 126 : third - 128 + 64);
        }
        return o;
    }();
    const __m512i first = _mm512_loadu_si512(order[0].data()), second = _mm512_loadu_si512(order[1].data()),
                  third = _mm512_loadu_si512(order[2].data());
    for (uint8_t* p = row; done + 64 <= count; done += 64, p += 192) {
        const __m512i a = _mm512_loadu_si512(p), b = _mm512_loadu_si512(p + 64), c = _mm512_loadu_si512(p + 128);
        const __m512i ab = _mm512_loadu_si512(p + 62), bc = _mm512_loadu_si512(p + 126);
        _mm512_storeu_si512(p, _mm512_permutex2var_epi8(a, first, b));
        _mm512_storeu_si512(p + 64, _mm512_permutex2var_epi8(ab, second, bc));
        _mm512_storeu_si512(p + 128, _mm512_permutex2var_epi8(bc, third, c));
    }
#else
    done = Exchange3Blocks(row, row, count);
    if (done > 0)
        scalar::Exchange3InPlace(row, 1);
#endif
    scalar::Exchange3InPlace(row + 3 * done, count - done);
}

// Byte pattern for TableLookupBytes that puts pixel sample order[r] at
// position r of every 4-byte pixel of a 16-byte block.
template <class D>
hn::Vec<D> BlockPattern4(D d8, const int (&order)[4])
{
    uint8_t pattern[HWY_MAX_BYTES];
    for (size_t j = 0; j < hn::Lanes(d8); ++j) {
        const int o = order[j % 4];
        pattern[j] = o < 0 ? 0x80 : static_cast<uint8_t>((j % 16) / 4 * 4 + static_cast<size_t>(o));
    }
    return hn::LoadU(d8, pattern);
}

void Shuffle4Impl(const uint8_t* s, uint8_t* d, size_t count, bool exchange)
{
    const hn::ScalableTag<uint8_t> d8;
    const size_t N = hn::Lanes(d8);
    static constexpr int Exchanged[4] = {2, 1, 0, 3}, InOrder[4] = {0, 1, 2, 3};
    const auto pattern = BlockPattern4(d8, exchange ? Exchanged : InOrder);
    size_t i = 0; // bytes
    for (; i + N <= 4 * count; i += N)
        hn::StoreU(hn::TableLookupBytes(hn::LoadU(d8, s + i), pattern), d8, d + i);
    scalar::Shuffle4(s + i, d + i, count - i / 4, exchange);
}

// A vector of 4-byte pixels packed to 3-byte ones: its first 3N/4 bytes hold
// the pixels, the rest is for the next store to overwrite. One byte
// permutation across the vector does it where the processor has them;
// elsewhere each block's four pixels become 12 bytes at its start and a
// 32-bit lane permutation closes the gaps.
template <class D8>
class TPack4To3 {
public:
    TPack4To3(D8 d8, bool exchange)
    {
        const hn::Repartition<uint32_t, D8> d32;
        const size_t N = hn::Lanes(d8), N32 = hn::Lanes(d32);
        uint8_t pattern[HWY_MAX_BYTES];
#if HWY_TARGET == HWY_AVX3_DL
        for (size_t j = 0; j < N; ++j) {
            const size_t c = j % 3;
            pattern[j] = j < 3 * N / 4 ? static_cast<uint8_t>(4 * (j / 3) + (exchange && c != 1 ? 2 - c : c)) : 0;
        }
        (void)N32;
#else
        for (size_t j = 0; j < N; ++j) {
            const size_t r = (j % 16) % 12, q = (j % 16) / 12 == 0 ? r / 3 : 4;
            const size_t c = r % 3;
            pattern[j] = q == 4 ? 0x80 : static_cast<uint8_t>(4 * q + (exchange && c != 1 ? 2 - c : c));
        }
        int32_t lanes[HWY_MAX_BYTES / 4];
        for (size_t j = 0; j < N32; ++j)
            lanes[j] = j < 3 * N32 / 4 ? static_cast<int32_t>(j / 3 * 4 + j % 3) : 0;
        FLanes = hn::SetTableIndices(d32, lanes);
#endif
        FBytes = hn::LoadU(d8, pattern);
    }
    hn::Vec<D8> operator()(hn::Vec<D8> pixels) const
    {
#if HWY_TARGET == HWY_AVX3_DL
        return hn::Vec<D8>{_mm512_permutexvar_epi8(FBytes.raw, pixels.raw)};
#else
        const D8 d8;
        const hn::Repartition<uint32_t, D8> d32;
        const auto packed = hn::TableLookupBytesOr0(pixels, FBytes);
        return hn::BitCast(d8, hn::TableLookupLanes(hn::BitCast(d32, packed), FLanes));
#endif
    }

private:
    hn::Vec<D8> FBytes;
#if HWY_TARGET != HWY_AVX3_DL
    decltype(hn::SetTableIndices(hn::Repartition<uint32_t, D8>(), static_cast<const int32_t*>(nullptr))) FLanes;
#endif
};

// The store writes 3N/4 bytes of pixels and N/4 bytes that the next store
// overwrites.
void Pack4To3Impl(const uint8_t* s, uint8_t* d, size_t count, bool exchange)
{
    const hn::ScalableTag<uint8_t> d8;
    const size_t N = hn::Lanes(d8);
    const TPack4To3 pack(d8, exchange);
    size_t p = 0; // pixels
    for (; 3 * p + N <= 3 * count; p += N / 4)
        hn::StoreU(pack(hn::LoadU(d8, s + 4 * p)), d8, d + 3 * p);
    scalar::Pack4To3(s + 4 * p, d + 3 * p, count - p, exchange);
}

// The 32-bit lane permutation gives every block the 12 bytes of its four
// pixels; the byte shuffle spreads them, and the fourth byte of each target
// pixel is taken back from the target.
void Spread3To4Impl(const uint8_t* s, uint8_t* d, size_t count, bool exchange)
{
    const hn::ScalableTag<uint8_t> d8;
    const hn::Repartition<uint32_t, decltype(d8)> d32;
    const size_t N = hn::Lanes(d8), N32 = hn::Lanes(d32);
    int32_t lanes[HWY_MAX_BYTES / 4];
    for (size_t j = 0; j < N32; ++j)
        lanes[j] = static_cast<int32_t>(j / 4 * 3 + (j % 4 < 3 ? j % 4 : 2));
    const auto indices = hn::SetTableIndices(d32, lanes);
    uint8_t pattern[HWY_MAX_BYTES], keep[HWY_MAX_BYTES];
    for (size_t j = 0; j < N; ++j) {
        const size_t q = (j % 16) / 4, r = j % 4;
        pattern[j] = r == 3 ? 0x80 : static_cast<uint8_t>(3 * q + (exchange ? 2 - r : r));
        keep[j] = r == 3 ? 0xFF : 0;
    }
    const auto bytePattern = hn::LoadU(d8, pattern);
    const auto keepMask = hn::MaskFromVec(hn::LoadU(d8, keep));
    size_t p = 0;
    for (; p + N / 4 <= count && 3 * p + N <= 3 * count; p += N / 4) {
        const auto spread = hn::BitCast(d8, hn::TableLookupLanes(hn::BitCast(d32, hn::LoadU(d8, s + 3 * p)), indices));
        const auto pixels = hn::TableLookupBytes(spread, bytePattern);
        hn::StoreU(hn::IfThenElse(keepMask, hn::LoadU(d8, d + 4 * p), pixels), d8, d + 4 * p);
    }
    scalar::Spread3To4(s + 3 * p, d + 4 * p, count - p, exchange);
}

#if HWY_TARGET == HWY_AVX3_DL
// v div 257 = (v * 0xFF01) >> 24 for every 16-bit v: the high multiply leaves
// each of 32 words' quotient (swapped first when asked) in its high byte, and
// one two-register byte permutation of 64 such words, by the odd byte index
// 2w + 1 of word w, takes the quotients in any order.
__m512i Scale16To8(__m512i v, bool swap)
{
    if (swap)
        v = _mm512_shldi_epi16(v, v, 8);
    return _mm512_mulhi_epu16(v, _mm512_set1_epi16(static_cast<short>(0xFF01)));
}
#endif

void Words16To8Impl(const uint8_t* s, uint8_t* d, size_t n, bool swap)
{
    size_t i = 0;
#if HWY_TARGET == HWY_AVX3_DL
    uint8_t high[64];
    for (size_t j = 0; j < 64; ++j)
        high[j] = static_cast<uint8_t>(2 * j + 1);
    const __m512i order = _mm512_loadu_si512(high);
    for (; i + 64 <= n; i += 64) {
        const __m512i a = Scale16To8(_mm512_loadu_si512(s + 2 * i), swap);
        const __m512i b = Scale16To8(_mm512_loadu_si512(s + 2 * i + 64), swap);
        _mm512_storeu_si512(d + i, _mm512_permutex2var_epi8(a, order, b));
    }
#endif
    // Elsewhere the quotients of two vectors are their high bytes, taken
    // together into one; a byte shuffle swaps the bytes of each word.
    const hn::ScalableTag<uint16_t> d16;
    const hn::Repartition<uint8_t, decltype(d16)> d8;
    const size_t N = hn::Lanes(d16);
    const auto factor = hn::Set(d16, 0xFF01);
    const auto pairs = hn::LoadU(d8, WordBytesExchanged.data());
    const auto scaled = [&](const uint8_t* p) {
        auto v = hn::LoadU(d8, p);
        if (swap)
            v = hn::TableLookupBytes(v, pairs);
        return hn::BitCast(d8, hn::MulHigh(hn::BitCast(d16, v), factor));
    };
    for (; i + 2 * N <= n; i += 2 * N)
        hn::StoreU(hn::ConcatOdd(d8, scaled(s + 2 * i + 2 * N), scaled(s + 2 * i)), d8, d + i);
    scalar::Words16To8(s + 2 * i, d + i, n - i, swap);
}

void RGB16To8Impl(const uint8_t* s, uint8_t* d, size_t count, bool swap, bool exchange)
{
    if (!exchange) {
        Words16To8Impl(s, d, 3 * count, swap);
        return;
    }
    size_t done = 0; // pixels
#if HWY_TARGET == HWY_AVX3_DL
    // One pass: 64 words scaled as in Words16To8, their quotients taken
    // straight into exchanged order, 21 pixels per 64-byte store (its last
    // byte rewritten by the next store).
    uint8_t order[64];
    for (size_t j = 0; j < 64; ++j)
        order[j] = static_cast<uint8_t>(2 * (j == 63 ? 63 : j + 2 - 2 * (j % 3)) + 1);
    const __m512i permutation = _mm512_loadu_si512(order);
    for (; 6 * done + 128 <= 6 * count; done += 21) {
        const __m512i a = Scale16To8(_mm512_loadu_si512(s + 6 * done), swap);
        const __m512i b = Scale16To8(_mm512_loadu_si512(s + 6 * done + 64), swap);
        _mm512_storeu_si512(d + 3 * done, _mm512_permutex2var_epi8(a, permutation, b));
    }
#else
    // Scaled in chunks that stay in the first-level cache, then reordered.
    constexpr size_t Chunk = 1024;
    uint8_t scaled[3 * Chunk];
    while (done < count) {
        const size_t n = count - done < Chunk ? count - done : Chunk;
        Words16To8Impl(s + 6 * done, scaled, 3 * n, swap);
        Exchange3Impl(scaled, d + 3 * done, n);
        done += n;
    }
#endif
    scalar::RGB16To8(s + 6 * done, d + 3 * done, count - done, swap, true);
}

// The ink formula 255 - (x + k - x * k div 255) equals
// (255 - x) * (255 - k) div 255 for all bytes x and k, and p div 255 is
// (p * 0x8081) >> 23 for every such product. Whole pixels are worked in 16-bit
// lanes: C and Y in the low bytes of their words, M and K in the high bytes,
// each multiplied by the pixel's K; the fourth byte is then packed away.
void CMYK8To3Impl(const uint8_t* s, uint8_t* d, size_t count, bool bgr)
{
    const hn::ScalableTag<uint8_t> d8;
    const hn::Repartition<uint16_t, decltype(d8)> d16;
    const size_t N = hn::Lanes(d8);
    uint8_t black[HWY_MAX_BYTES];
    for (size_t j = 0; j < N; ++j)
        black[j] = j % 2 ? 0x80 : static_cast<uint8_t>((j % 16) / 4 * 4 + 3);
    const auto blackPattern = hn::LoadU(d8, black);
    const auto lowByte = hn::Set(d16, 0x00FF), divide = hn::Set(d16, 0x8081);
    const TPack4To3 pack(d8, bgr);
    const auto ink = [&](auto x, auto k) { return hn::ShiftRight<7>(hn::MulHigh(hn::Mul(x, k), divide)); };
    size_t p = 0;
    for (; 3 * p + N <= 3 * count; p += N / 4) {
        const auto inverted = hn::Not(hn::LoadU(d8, s + 4 * p));
        const auto words = hn::BitCast(d16, inverted);
        const auto k = hn::BitCast(d16, hn::TableLookupBytesOr0(inverted, blackPattern));
        const auto even = ink(hn::And(words, lowByte), k), odd = ink(hn::ShiftRight<8>(words), k);
        hn::StoreU(pack(hn::BitCast(d8, hn::Or(even, hn::ShiftLeft<8>(odd)))), d8, d + 3 * p);
    }
    scalar::CMYK8To3(s + 4 * p, d + 3 * p, count - p, bgr);
}

#if HWY_TARGET == HWY_AVX3_DL
// A chroma table's entries v as saturated byte parts: P = min(max(v, 0), 255)
// and M = min(max(-v, 0), 255), so that clamp(y + v) = y + P - M in saturating
// byte arithmetic (one of the two is 0). Made for every row, so in vectors too.
struct TSplitTable {
    alignas(64) uint8_t P[256];
    alignas(64) uint8_t M[256];
    bool WithinByte; // every |v| <= 255

    explicit TSplitTable(const int32_t* table)
    {
        const __m512i zero = _mm512_setzero_si512(), limit = _mm512_set1_epi32(255);
        const __m512i negativeLimit = _mm512_set1_epi32(-255);
        __mmask16 outside = 0;
        for (size_t i = 0; i < 256; i += 16) {
            const __m512i v = _mm512_loadu_si512(table + i);
            outside |= _mm512_cmpgt_epi32_mask(v, limit) | _mm512_cmplt_epi32_mask(v, negativeLimit);
            const __m512i p = _mm512_min_epi32(_mm512_max_epi32(v, zero), limit);
            const __m512i m = _mm512_max_epi32(_mm512_sub_epi32(zero, _mm512_max_epi32(v, negativeLimit)), zero);
            _mm_store_si128(reinterpret_cast<__m128i*>(P + i), _mm512_cvtepi32_epi8(p));
            _mm_store_si128(reinterpret_cast<__m128i*>(M + i), _mm512_cvtepi32_epi8(m));
        }
        WithinByte = outside == 0;
    }
};

bool Zero128(const uint8_t* bytes)
{
    return _mm512_test_epi8_mask(_mm512_load_si512(bytes), _mm512_load_si512(bytes)) == 0 &&
           _mm512_test_epi8_mask(_mm512_load_si512(bytes + 64), _mm512_load_si512(bytes + 64)) == 0;
}

// Any table: each part is 256 bytes in four registers, looked up by two
// two-register permutations on the index's low seven bits and a choice by its
// top bit.
struct TFullParts {
    __m512i P[4], M[4];
    bool Load(const TSplitTable& table)
    {
        for (size_t q = 0; q < 4; ++q) {
            P[q] = _mm512_load_si512(table.P + 64 * q);
            M[q] = _mm512_load_si512(table.M + 64 * q);
        }
        return true;
    }
    static __m512i Lookup(const __m512i (&part)[4], __m512i index, __mmask64 top)
    {
        return _mm512_mask_blend_epi8(top, _mm512_permutex2var_epi8(part[0], index, part[1]),
                                      _mm512_permutex2var_epi8(part[2], index, part[3]));
    }
    void operator()(__m512i index, __mmask64 top, __mmask64, __m512i& p, __m512i& m) const
    {
        p = Lookup(P, index, top);
        m = Lookup(M, index, top);
    }
};

// A table whose positive entries all lie in the upper half of the index range
// (Upper) or all in the lower half, and its negative ones in the other, as
// around the offset 128 of YCbCr: each part is 128 bytes in two registers, one
// permutation with the other half's lanes zeroed.
template <bool Upper>
struct THalfParts {
    __m512i P[2], M[2];
    bool Load(const TSplitTable& table)
    {
        const uint8_t* pHalf = Upper ? table.P + 128 : table.P;
        const uint8_t* mHalf = Upper ? table.M : table.M + 128;
        if (!Zero128(Upper ? table.P : table.P + 128) || !Zero128(Upper ? table.M + 128 : table.M))
            return false;
        for (size_t q = 0; q < 2; ++q) {
            P[q] = _mm512_load_si512(pHalf + 64 * q);
            M[q] = _mm512_load_si512(mHalf + 64 * q);
        }
        return true;
    }
    // top: the lanes whose index is 128 or more; low: the others.
    void operator()(__m512i index, __mmask64 top, __mmask64 low, __m512i& p, __m512i& m) const
    {
        p = _mm512_maskz_permutex2var_epi8(Upper ? top : low, P[0], index, P[1]);
        m = _mm512_maskz_permutex2var_epi8(Upper ? low : top, M[0], index, M[1]);
    }
};

// Byte m of a three-register run of 3-byte pixels, gathered from (or spread
// to) three 64-byte planes: the first two through one two-register
// permutation, the third by a masked one. Orders 0 to 2 gather plane 0, 1 or
// 2 from pixels; orders 3 to 5 spread the planes to pixel register 0, 1 or 2.
struct alignas(64) TPlaneOrders {
    uint8_t Pair[6][64];
    uint8_t Third[6][64];
    uint64_t FromThird[6];
};

constexpr TPlaneOrders MakePlaneOrders()
{
    TPlaneOrders o{};
    for (size_t k = 0; k < 6; ++k) {
        for (size_t j = 0; j < 64; ++j) {
            bool third = false;
            if (k < 3) {
                const size_t m = 3 * j + k;
                o.Pair[k][j] = static_cast<uint8_t>(m & 127);
                o.Third[k][j] = static_cast<uint8_t>(m & 63);
                third = m >= 128;
            } else {
                const size_t m = 64 * (k - 3) + j, pixel = m / 3, plane = m % 3;
                o.Pair[k][j] = static_cast<uint8_t>(plane == 1 ? 64 + pixel : pixel);
                o.Third[k][j] = static_cast<uint8_t>(pixel);
                third = plane == 2;
            }
            o.FromThird[k] |= uint64_t{third} << j;
        }
    }
    return o;
}

constexpr TPlaneOrders PlaneOrders = MakePlaneOrders();

struct TPlaneOrder {
    __m512i Pair, Third;
    __mmask64 FromThird;
    explicit TPlaneOrder(size_t k)
        : Pair(_mm512_load_si512(PlaneOrders.Pair[k])), Third(_mm512_load_si512(PlaneOrders.Third[k])),
          FromThird(PlaneOrders.FromThird[k])
    {
    }
};

__m512i Gather(const TPlaneOrder& o, __m512i a, __m512i b, __m512i c)
{
    return _mm512_mask_permutexvar_epi8(_mm512_permutex2var_epi8(a, o.Pair, b), o.FromThird, o.Third, c);
}

// Runs of 64 pixels, the last one shorter, loaded and stored under masks;
// returns how many pixels it converted (none when a table does not suit the
// parts). Green sums two entries: its parts are P = (P1 + P2) - (M1 + M2) and
// M = (M1 + M2) - (P1 + P2), saturated, which is exact while the green entries
// lie within -255..255 (the caller checks).
template <class BlueRedParts, class GreenParts>
size_t YCC64(const uint8_t* s, uint8_t* d, size_t count, const TSplitTable (&tables)[4], bool bgr)
{
    BlueRedParts blueParts, redParts;
    GreenParts greenCb, greenCr;
    if (!blueParts.Load(tables[0]) || !redParts.Load(tables[1]) || !greenCb.Load(tables[2]) ||
        !greenCr.Load(tables[3]))
        return 0;
    const TPlaneOrder y(0), cb(1), cr(2);
    const TPlaneOrder out[3] = {TPlaneOrder(3), TPlaneOrder(4), TPlaneOrder(5)};
    const auto convert = [&](const __m512i (&in)[3], __m512i (&pixels)[3]) {
        const __m512i luma = Gather(y, in[0], in[1], in[2]);
        const __m512i c1 = Gather(cb, in[0], in[1], in[2]), c2 = Gather(cr, in[0], in[1], in[2]);
        const __mmask64 top1 = _mm512_movepi8_mask(c1), top2 = _mm512_movepi8_mask(c2);
        const __mmask64 low1 = _knot_mask64(top1), low2 = _knot_mask64(top2);
        __m512i up, down, up1, down1, up2, down2;
        blueParts(c1, top1, low1, up, down);
        const __m512i blue = _mm512_subs_epu8(_mm512_adds_epu8(luma, up), down);
        redParts(c2, top2, low2, up, down);
        const __m512i red = _mm512_subs_epu8(_mm512_adds_epu8(luma, up), down);
        greenCb(c1, top1, low1, up1, down1);
        greenCr(c2, top2, low2, up2, down2);
        up = _mm512_adds_epu8(up1, up2);
        down = _mm512_adds_epu8(down1, down2);
        const __m512i green =
            _mm512_subs_epu8(_mm512_adds_epu8(luma, _mm512_subs_epu8(up, down)), _mm512_subs_epu8(down, up));
        const __m512i first = bgr ? blue : red, last = bgr ? red : blue;
        for (size_t r = 0; r < 3; ++r)
            pixels[r] = Gather(out[r], first, green, last);
    };
    size_t p = 0;
    for (; p + 64 <= count; p += 64) {
        const uint8_t* q = s + 3 * p;
        const __m512i in[3] = {_mm512_loadu_si512(q), _mm512_loadu_si512(q + 64), _mm512_loadu_si512(q + 128)};
        __m512i pixels[3];
        convert(in, pixels);
        for (size_t r = 0; r < 3; ++r)
            _mm512_storeu_si512(d + 3 * p + 64 * r, pixels[r]);
    }
    if (p < count) {
        // Only registers that hold some of the row are addressed.
        const size_t bytes = 3 * (count - p);
        __m512i in[3] = {}, pixels[3];
        for (size_t r = 0; 64 * r < bytes; ++r)
            in[r] = _mm512_maskz_loadu_epi8(_bzhi_u64(~uint64_t{0}, static_cast<unsigned>(bytes - 64 * r)),
                                            s + 3 * p + 64 * r);
        convert(in, pixels);
        for (size_t r = 0; 64 * r < bytes; ++r)
            _mm512_mask_storeu_epi8(d + 3 * p + 64 * r, _bzhi_u64(~uint64_t{0}, static_cast<unsigned>(bytes - 64 * r)),
                                    pixels[r]);
    }
    return count;
}
#endif

#if HWY_TARGET != HWY_AVX3_DL
// Without byte permutations: the fixed-point factors in 32-bit lanes (d * F
// stays within 32 bits for the factors accepted). Returns how many pixels it
// converted.
size_t YCCFixed(const uint8_t* s, uint8_t* d, size_t count, const TChromaTables& f, bool bgr)
{
    // A whole vector of pixels is separated into its samples and put
    // together again at once; the arithmetic runs on quarters of it.
    const hn::ScalableTag<uint8_t> d8;
    const hn::Half<decltype(d8)> dHalf8;
    const hn::Half<decltype(dHalf8)> dQuarter8;
    const hn::Rebind<int32_t, decltype(dQuarter8)> d32;
    const size_t N = hn::Lanes(d8);
    const auto half = hn::Set(d32, 1 << (f.Shift - 1));
    const auto offR = hn::Set(d32, f.OffsetR), offB = hn::Set(d32, f.OffsetB);
    const auto fRed = hn::Set(d32, f.Red), fGreenCr = hn::Set(d32, f.GreenCr);
    const auto fBlue = hn::Set(d32, f.Blue), fGreenCb = hn::Set(d32, f.GreenCb);
    const int shift = f.Shift;
    const auto term = [&](auto delta, auto factor) {
        return hn::ShiftRightSame(hn::Add(hn::Mul(delta, factor), half), shift);
    };
    // Quarter q (0..3) of a vector of bytes, widened.
    const auto quarter = [&](auto v, int q) {
        const auto h = q < 2 ? hn::LowerHalf(dHalf8, v) : hn::UpperHalf(dHalf8, v);
        return hn::PromoteTo(d32, q % 2 ? hn::UpperHalf(dQuarter8, h) : hn::LowerHalf(dQuarter8, h));
    };
    // Four quarters of 32-bit results, saturated to bytes.
    const auto narrow = [&](const hn::Vec<decltype(d32)>(&v)[4]) {
        const auto low = hn::Combine(dHalf8, hn::DemoteTo(dQuarter8, v[1]), hn::DemoteTo(dQuarter8, v[0]));
        const auto high = hn::Combine(dHalf8, hn::DemoteTo(dQuarter8, v[3]), hn::DemoteTo(dQuarter8, v[2]));
        return hn::Combine(d8, high, low);
    };
    size_t p = 0;
    for (; p + N <= count; p += N) {
        hn::Vec<decltype(d8)> y8, cb8, cr8;
        hn::LoadInterleaved3(d8, s + 3 * p, y8, cb8, cr8);
        hn::Vec<decltype(d32)> blue[4], green[4], red[4];
        for (int q = 0; q < 4; ++q) {
            const auto y = quarter(y8, q);
            const auto db = hn::Sub(quarter(cb8, q), offB);
            const auto dr = hn::Sub(quarter(cr8, q), offR);
            blue[q] = hn::Add(y, term(db, fBlue));
            green[q] = hn::Sub(hn::Sub(y, term(db, fGreenCb)), term(dr, fGreenCr));
            red[q] = hn::Add(y, term(dr, fRed));
        }
        if (bgr)
            hn::StoreInterleaved3(narrow(blue), narrow(green), narrow(red), d8, d + 3 * p);
        else
            hn::StoreInterleaved3(narrow(red), narrow(green), narrow(blue), d8, d + 3 * p);
    }
    return p;
}
#endif

// Byte permutations look the tables up where the processor has them;
// elsewhere the fixed-point factors serve when there are any.
void YCC8To3Impl(const uint8_t* s, uint8_t* d, size_t count, const TChromaTables& t, bool bgr)
{
    size_t p = 0;
#if HWY_TARGET == HWY_AVX3_DL
    if (count >= 64) {
        const TSplitTable tables[4] = {TSplitTable(t.CbToBlue), TSplitTable(t.CrToRed), TSplitTable(t.CbToGreen),
                                       TSplitTable(t.CrToGreen)};
        if (tables[2].WithinByte && tables[3].WithinByte) {
            p = YCC64<THalfParts<true>, THalfParts<false>>(s, d, count, tables, bgr);
            if (p == 0)
                p = YCC64<TFullParts, TFullParts>(s, d, count, tables, bgr);
        }
    }
#else
    if (t.Shift > 0)
        p = YCCFixed(s, d, count, t, bgr);
#endif
    scalar::YCC8To3(s + 3 * p, d + 3 * p, count - p, t, bgr);
}

// L*, a*, b* to the three channels, scaled to 0..255 but not rounded, in the
// order of the target's bytes: the reference's double-precision form with
// multiplications by reciprocals and the scale 255 folded into the matrix.
// AbScale (a power of two) takes a* and b* to the 8-bit scale inside the
// factors that use them, which changes no bit of any product.
struct TLabFormula {
    using D = hn::ScalableTag<double>;
    using V = hn::Vec<D>;
    V Limit, Matrix[3][3];
    double AbScale;
    TLabFormula(bool bgr, double abScale) : Limit(hn::Set(D(), double(LabLinearLimit))), AbScale(abScale)
    {
        const double red[3] = {2.998, -1.458, -0.541}, green[3] = {-0.952, 1.893, 0.059};
        const double blue[3] = {0.099, -0.198, 1.099};
        const double* rows[3] = {bgr ? blue : red, green, bgr ? red : blue};
        for (int c = 0; c < 3; ++c)
            for (int k = 0; k < 3; ++k)
                Matrix[c][k] = hn::Set(D(), 255 * rows[c][k]);
    }
    void operator()(V L, V a, V b, V (&t)[3]) const
    {
        const D df;
        const auto cube = [](V v) { return hn::Mul(hn::Mul(v, v), v); };
        const auto linear = hn::Lt(L, Limit);
        const V f = hn::MulAdd(L, hn::Set(df, 1 / 116.0), hn::Set(df, 16 / 116.0));
        const V fx = hn::MulAdd(a, hn::Set(df, AbScale / 500), f), fz = hn::NegMulAdd(b, hn::Set(df, AbScale / 200), f);
        const V yLinear = hn::Mul(L, hn::Set(df, 1 / 903.3));
        const V X = hn::IfThenElse(linear, hn::MulAdd(a, hn::Set(df, AbScale / 3893.5), yLinear), cube(fx));
        const V Y = hn::IfThenElse(linear, yLinear, cube(f));
        const V Z = hn::IfThenElse(linear, hn::NegMulAdd(b, hn::Set(df, AbScale / 1557.4), yLinear), cube(fz));
        for (int c = 0; c < 3; ++c)
            t[c] = hn::MulAdd(Matrix[c][0], X, hn::MulAdd(Matrix[c][1], Y, hn::Mul(Matrix[c][2], Z)));
    }
};

#if HWY_TARGET == HWY_AVX3_DL
// A block of 64 bytes of each sample (64 pixels of 8-bit samples, 32 of
// 16-bit ones): the block's L*, a* and b* are gathered into a vector each, and
// each channel's eight results are rounded by adding 1.5 * 2^52, which leaves
// the whole number in the low byte of the double, so that two byte
// permutations interleave eight pixels' three channels. A channel is trusted
// where it lies more than 0.5 - 1e-7 from the nearest whole number (VREDUCEPD
// gives the distance in one step), and 16-bit L* where it lies more than 1e-7
// from the limit of the linear part (8-bit L* never comes that near). Pixels
// too near go to nearPixel(i) once their block is stored. Returns the pixels
// done. The formula is a copy of its own, which the stores cannot reach, so
// that its factors stay in registers.
template <class T, bool Planar, class Near>
size_t LabBlocks(const TLabSamples& s, uint8_t* d, size_t count, TLabFormula formula, const Near& nearPixel)
{
    constexpr bool Wide = sizeof(T) == 2;
    constexpr size_t Block = 64 / sizeof(T);
    // 16-bit samples: sample k of pixel j is word 3j + k of the three loads,
    // in the first two unless marked in High[k], then in the third. 8-bit
    // samples are gathered as the YCbCr planes are.
    struct TWordOrders {
        uint16_t Pick[3][32];
        uint32_t High[3];
    };
    static constexpr TWordOrders words = [] {
        TWordOrders o{};
        for (size_t k = 0; k < 3; ++k)
            for (size_t j = 0; j < 32; ++j) {
                o.Pick[k][j] = static_cast<uint16_t>((3 * j + k) % 64);
                o.High[k] |= uint32_t{3 * j + k >= 64} << j;
            }
        return o;
    }();
    const TPlaneOrder bytes[3] = {TPlaneOrder(0), TPlaneOrder(1), TPlaneOrder(2)};
    const __m512i wordPick[3] = {_mm512_loadu_si512(words.Pick[0]), _mm512_loadu_si512(words.Pick[1]),
                                 _mm512_loadu_si512(words.Pick[2])};
    const auto gather = [&](__m512i v0, __m512i v1, __m512i v2, int k) {
        if constexpr (Wide)
            return _mm512_mask_permutexvar_epi16(_mm512_permutex2var_epi16(v0, wordPick[k], v1), words.High[k],
                                                 wordPick[k], v2);
        else
            return Gather(bytes[k], v0, v1, v2);
    };
    // Output byte 3i + c of eight pixels is byte 0 of lane i of channel c.
    static constexpr auto spread = [] {
        std::array<uint8_t, 64> o{};
        for (size_t j = 0; j < 24; ++j)
            o[j] = static_cast<uint8_t>(8 * (j / 3) + (j % 3 == 1 ? 64 : 0));
        return o;
    }();
    const __m512i spreadOrder = _mm512_loadu_si512(spread.data());
    const __m512i swapOrder = _mm512_loadu_si512(WordBytesExchanged.data());
    const __mmask64 third = 0x924924; // bytes 3i + 2 of 24
    const __m512i flip = Wide ? _mm512_set1_epi16(s.OffsetAB ? static_cast<short>(0x8000) : 0)
                              : _mm512_set1_epi8(s.OffsetAB ? static_cast<char>(0x80) : 0);
    const __m512d lScale = _mm512_set1_pd((Wide ? 1 / 257.0 : 1.0) * (s.ByteL ? 1 / 2.55 : 1.0));
    const __m512d margin = _mm512_set1_pd(1e-7);
    const __m512d nearHalf = _mm512_set1_pd(0.5 - 1e-7), zero = _mm512_setzero_pd(), top = _mm512_set1_pd(255);
    const __m512d Round = _mm512_set1_pd(6755399441055744.0);
    const __m512d absMask = _mm512_castsi512_pd(_mm512_set1_epi64(INT64_MAX));
    size_t i = 0;
    for (; i + Block <= count; i += Block) {
        __m512i plane[3];
        if constexpr (Planar) {
            for (int k = 0; k < 3; ++k)
                plane[k] = _mm512_loadu_si512(s.Sample[k] + sizeof(T) * i);
        } else {
            const uint8_t* p = s.Sample[0] + 3 * sizeof(T) * i;
            const __m512i v0 = _mm512_loadu_si512(p), v1 = _mm512_loadu_si512(p + 64);
            const __m512i v2 = _mm512_loadu_si512(p + 128);
            for (int k = 0; k < 3; ++k)
                plane[k] = gather(v0, v1, v2, k);
        }
        if (Wide && s.Swap)
            for (auto& v : plane)
                v = _mm512_shuffle_epi8(v, swapOrder);
        // a* and b* as two's complement samples.
        plane[1] = _mm512_xor_si512(plane[1], flip);
        plane[2] = _mm512_xor_si512(plane[2], flip);
        uint64_t near = 0;
        // Sixteen pixels: their samples widened to 32 bits.
        const auto sixteen = [&]<int q>() {
            __m512i l32, a32, b32;
            if constexpr (Wide) {
                l32 = _mm512_cvtepu16_epi32(_mm512_extracti64x4_epi64(plane[0], q));
                a32 = _mm512_cvtepi16_epi32(_mm512_extracti64x4_epi64(plane[1], q));
                b32 = _mm512_cvtepi16_epi32(_mm512_extracti64x4_epi64(plane[2], q));
            } else {
                l32 = _mm512_cvtepu8_epi32(_mm512_extracti32x4_epi32(plane[0], q));
                a32 = _mm512_cvtepi8_epi32(_mm512_extracti32x4_epi32(plane[1], q));
                b32 = _mm512_cvtepi8_epi32(_mm512_extracti32x4_epi32(plane[2], q));
            }
            for (int h = 0; h < 2; ++h) {
                const auto half = [h](__m512i v) {
                    return _mm512_cvtepi32_pd(h ? _mm512_extracti64x4_epi64(v, 1) : _mm512_castsi512_si256(v));
                };
                const __m512d L = _mm512_mul_pd(half(l32), lScale);
                TLabFormula::V channels[3];
                formula(TLabFormula::V{L}, TLabFormula::V{half(a32)}, TLabFormula::V{half(b32)}, channels);
                __m512d t[3], off = zero;
                for (int c = 0; c < 3; ++c) {
                    t[c] = channels[c].raw;
                    off = _mm512_range_pd(off, _mm512_reduce_pd(t[c], 0), 0b1011); // larger magnitude
                    t[c] = _mm512_add_pd(_mm512_min_pd(_mm512_max_pd(t[c], zero), top), Round);
                }
                __mmask8 nearHere = _mm512_cmp_pd_mask(off, nearHalf, _CMP_GT_OQ);
                if constexpr (Wide) {
                    const __m512d fromLimit = _mm512_and_pd(_mm512_sub_pd(L, formula.Limit.raw), absMask);
                    nearHere |= _mm512_cmp_pd_mask(fromLimit, margin, _CMP_LT_OQ);
                }
                near |= uint64_t{nearHere} << (16 * q + 8 * h);
                const __m512i two =
                    _mm512_permutex2var_epi8(_mm512_castpd_si512(t[0]), spreadOrder, _mm512_castpd_si512(t[1]));
                const __m512i three =
                    _mm512_mask_permutexvar_epi8(two, third, spreadOrder, _mm512_castpd_si512(t[2]));
                _mm512_mask_storeu_epi8(d + 3 * (i + 16 * q + 8 * h), 0xFFFFFF, three);
            }
        };
        sixteen.template operator()<0>();
        sixteen.template operator()<1>();
        if constexpr (!Wide) {
            sixteen.template operator()<2>();
            sixteen.template operator()<3>();
        }
        for (; near; near &= near - 1)
            nearPixel(i + static_cast<size_t>(__builtin_ctzll(near)));
    }
    return i;
}
#endif

// One pixel per double lane, worked out by TLabFormula: that changes the
// scaled channels by some 1e-12 from the reference's double-precision form,
// far inside the 1e-7 by which a channel must stay clear of a rounding
// boundary to be trusted. A pixel that comes nearer goes to the reference,
// which works it out in extended precision. T is the sample type, 8 or 16
// bits; the samples are interleaved (Planar false) or each in a plane of its
// own.
template <class T, bool Planar>
void LabRowTo3(const TLabSamples& s, uint8_t* d, size_t count, bool bgr)
{
    const hn::ScalableTag<double> df;
    const hn::Rebind<int32_t, decltype(df)> di;
    const hn::Rebind<T, decltype(df)> dt;
    const hn::Rebind<uint8_t, decltype(df)> d8;
    const size_t N = hn::Lanes(df);
    constexpr bool Wide = sizeof(T) == 2;
    const TLabFormula formula(bgr, Wide ? 1 / 256.0 : 1.0);
    // n pixels from pixel first on, through the reference.
    const auto reference = [&](size_t first, size_t n) {
        TLabSamples part = s;
        for (auto& sample : part.Sample)
            sample += first * s.Step;
        scalar::LabTo3(part, d + 3 * first, n, bgr);
    };
    size_t i = 0;
#if HWY_TARGET == HWY_AVX3_DL
    i = LabBlocks<T, Planar>(s, d, count, formula, [&](size_t p) { reference(p, 1); });
#endif
    // At the 8-bit scale: L* = l / 257 for 16-bit samples, then / 2.55 when
    // ByteL; a* and b* signed, from two's complement samples or from samples
    // with half their range added (the top bit flipped gives the same); the
    // formula divides 16-bit a* and b* by 256.
    const int32_t half = Wide ? 32768 : 128;
    const auto flip = hn::Set(di, s.OffsetAB ? 0 : half), offset = hn::Set(di, half);
    const auto lScale = hn::Set(df, (Wide ? 1 / 257.0 : 1.0) * (s.ByteL ? 1 / 2.55 : 1.0));
    // Scaled channels lie within +-7900, so their nearest whole numbers
    // convert to 32 bits exactly.
    const auto margin = hn::Set(df, 1e-7), nearHalf = hn::Set(df, 0.5 - 1e-7);
    const bool swap = s.Swap;
    const auto sample = [&](auto v) {
        if constexpr (Wide) {
            if (swap)
                v = hn::Or(hn::ShiftLeft<8>(v), hn::ShiftRight<8>(v));
        }
        return hn::PromoteTo(di, v);
    };
    const auto toSigned = [&](auto v) { return hn::PromoteTo(df, hn::Sub(hn::Xor(sample(v), flip), offset)); };
    const auto at = [&](int k, size_t i) { return reinterpret_cast<const T*>(s.Sample[k] + i * s.Step); };
    uint8_t nearBits[8];
    for (; i + N <= count; i += N) {
        hn::Vec<decltype(dt)> lt, aSamples, bSamples;
        if constexpr (Planar) {
            lt = hn::LoadU(dt, at(0, i));
            aSamples = hn::LoadU(dt, at(1, i));
            bSamples = hn::LoadU(dt, at(2, i));
        } else {
            hn::LoadInterleaved3(dt, at(0, i), lt, aSamples, bSamples);
        }
        const auto L = hn::Mul(hn::PromoteTo(df, sample(lt)), lScale);
        hn::Vec<decltype(df)> t[3];
        formula(L, toSigned(aSamples), toSigned(bSamples), t);
        auto near = hn::Lt(hn::Abs(hn::Sub(L, formula.Limit)), margin);
        hn::Vec<decltype(d8)> channel[3];
        for (int c = 0; c < 3; ++c) {
            const auto whole = hn::Round(t[c]);
            near = hn::Or(near, hn::Gt(hn::Abs(hn::Sub(t[c], whole)), nearHalf));
            channel[c] = hn::DemoteTo(d8, hn::DemoteTo(di, whole)); // saturated to 0..255
        }
        hn::StoreInterleaved3(channel[0], channel[1], channel[2], d8, d + 3 * i);
        // Pixels too near a boundary: the reference works them out again.
        if (!hn::AllFalse(df, near)) {
            hn::StoreMaskBits(df, near, nearBits);
            for (size_t k = 0; k < N; ++k)
                if (nearBits[k / 8] >> (k % 8) & 1)
                    reference(i + k, 1);
        }
    }
    reference(i, count - i);
}

// Interleaved samples, or samples in planes; any other layout goes to the
// reference.
void LabTo3Impl(const TLabSamples& s, uint8_t* d, size_t count, bool bgr)
{
    const size_t bytes = s.Wide ? 2 : 1;
    const bool interleaved =
        s.Step == 3 * bytes && s.Sample[1] == s.Sample[0] + bytes && s.Sample[2] == s.Sample[0] + 2 * bytes;
    if (s.Step == bytes)
        s.Wide ? LabRowTo3<uint16_t, true>(s, d, count, bgr) : LabRowTo3<uint8_t, true>(s, d, count, bgr);
    else if (interleaved)
        s.Wide ? LabRowTo3<uint16_t, false>(s, d, count, bgr) : LabRowTo3<uint8_t, false>(s, d, count, bgr);
    else
        scalar::LabTo3(s, d, count, bgr);
}

// Every lane picks its source byte from a copy of 16 source bytes in each
// block and tests its own bit.
void Expand1To8Impl(const uint8_t* s, uint8_t* d, size_t count, const uint8_t* values)
{
#if HWY_TARGET == HWY_AVX3_DL
    // Eight source bytes in every 64-bit lane; the bit shuffle takes each
    // target lane's bit, high bit first, into a mask that chooses the value.
    // The last run of fewer than 64 pixels is loaded and stored under masks.
    static constexpr auto order = [] {
        std::array<uint8_t, 64> o{};
        for (size_t j = 0; j < 64; ++j)
            o[j] = static_cast<uint8_t>(j / 8 * 8 + 7 - j % 8);
        return o;
    }();
    const __m512i bits = _mm512_loadu_si512(order.data());
    const __m512i zero = _mm512_set1_epi8(static_cast<char>(values[0]));
    const __m512i one = _mm512_set1_epi8(static_cast<char>(values[1]));
    const auto expand = [&](uint64_t bytes) {
        return _mm512_mask_blend_epi8(_mm512_bitshuffle_epi64_mask(_mm512_set1_epi64(static_cast<int64_t>(bytes)), bits),
                                      zero, one);
    };
    size_t i = 0;
    for (; i + 64 <= count; i += 64) {
        uint64_t bytes;
        std::memcpy(&bytes, s + i / 8, sizeof bytes);
        _mm512_storeu_si512(d + i, expand(bytes));
    }
    if (i < count) {
        const size_t n = count - i;
        uint64_t bytes = 0;
        std::memcpy(&bytes, s + i / 8, (n + 7) / 8);
        _mm512_mask_storeu_epi8(d + i, _bzhi_u64(~uint64_t{0}, static_cast<unsigned>(n)), expand(bytes));
    }
#else
    const hn::ScalableTag<uint8_t> d8;
    const size_t N = hn::Lanes(d8);
    uint8_t index[HWY_MAX_BYTES], bit[HWY_MAX_BYTES];
    for (size_t j = 0; j < N; ++j) {
        index[j] = static_cast<uint8_t>(j / 8);
        bit[j] = static_cast<uint8_t>(0x80 >> (j % 8));
    }
    const auto indexV = hn::LoadU(d8, index), bitV = hn::LoadU(d8, bit);
    const auto zero = hn::Set(d8, values[0]), one = hn::Set(d8, values[1]);
    const size_t sourceBytes = (count + 7) / 8;
    size_t i = 0;
    if (N <= 128) {
        for (; i + N <= count && i / 8 + 16 <= sourceBytes; i += N) {
            const auto bytes = hn::TableLookupBytes(hn::LoadDup128(d8, s + i / 8), indexV);
            hn::StoreU(hn::IfThenElse(hn::TestBit(bytes, bitV), one, zero), d8, d + i);
        }
    }
    scalar::Expand1To8(s + i / 8, d + i, count - i, values);
#endif
}

// The 64-bit lane permutation gives every block its 8 source bytes;
// each lane takes its byte, then its nibble, then the nibble's value.
void Expand4To8Impl(const uint8_t* s, uint8_t* d, size_t count, const uint8_t* values)
{
    size_t i = 0;
#if HWY_TARGET == HWY_AVX3_DL
    // Four source bytes widened into every 64-bit lane; the multishift moves
    // each lane's nibble to the bottom of its byte, and the byte permutation
    // looks it up in the 16 values repeated four times, so that the bits
    // above the nibble do not matter.
    uint8_t shifts[64];
    for (size_t j = 0; j < 64; ++j)
        shifts[j] = static_cast<uint8_t>(8 * (j % 8 / 2) + (j % 2 ? 0 : 4));
    const __m512i shift = _mm512_loadu_si512(shifts);
    const __m512i table = _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(values)));
    for (; i + 64 <= count; i += 64) {
        const __m512i spread = _mm512_cvtepu32_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i / 2)));
        _mm512_storeu_si512(d + i, _mm512_permutexvar_epi8(_mm512_multishift_epi64_epi8(shift, spread), table));
    }
#else
    const hn::ScalableTag<uint8_t> d8;
    const hn::Repartition<uint64_t, decltype(d8)> d64;
    const size_t N = hn::Lanes(d8), N64 = hn::Lanes(d64);
    int64_t lanes[HWY_MAX_BYTES / 8];
    for (size_t j = 0; j < N64; ++j)
        lanes[j] = static_cast<int64_t>(j / 2);
    const auto indices = hn::SetTableIndices(d64, lanes);
    uint8_t index[HWY_MAX_BYTES], odd[HWY_MAX_BYTES];
    for (size_t j = 0; j < N; ++j) {
        index[j] = static_cast<uint8_t>((j % 16) / 2);
        odd[j] = j % 2 ? 0xFF : 0;
    }
    const auto indexV = hn::LoadU(d8, index);
    const auto oddMask = hn::MaskFromVec(hn::LoadU(d8, odd));
    const auto table = hn::LoadDup128(d8, values);
    const auto low = hn::Set(d8, 0x0F);
    const size_t sourceBytes = (count + 1) / 2;
    if (N >= 16) {
        for (; i + N <= count && i / 2 + N <= sourceBytes; i += N) {
            const auto source = hn::BitCast(d64, hn::LoadU(d8, s + i / 2));
            const auto spread = hn::BitCast(d8, hn::TableLookupLanes(source, indices));
            const auto bytes = hn::TableLookupBytes(spread, indexV);
            const auto nibble = hn::IfThenElse(oddMask, hn::And(bytes, low), hn::ShiftRight<4>(bytes));
            hn::StoreU(hn::TableLookupBytes(table, nibble), d8, d + i);
        }
    }
#endif
    scalar::Expand4To8(s + i / 2, d + i, count - i, values);
}

#endif

} // namespace HWY_NAMESPACE
} // namespace pwcolor
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace pwcolor::simd {

#define PW_DISPATCH_ROW_KERNEL(name, parameters, arguments) \
    HWY_EXPORT(name##Impl);                                   \
    void name parameters { HWY_DYNAMIC_DISPATCH(name##Impl) arguments; }
PW_ROW_KERNELS(PW_DISPATCH_ROW_KERNEL)
#undef PW_DISPATCH_ROW_KERNEL

} // namespace pwcolor::simd
#endif
