// The vector forms of the row kernels. This file is compiled once per
// instruction set (foreach_target); the rest of a row that does not fill a
// whole vector goes through the reference loop.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/color/row_kernels_simd.cpp"
#include <hwy/foreach_target.h> // IWYU pragma: keep

#include <hwy/highway.h>

#include "imaging/color/row_kernels.h"

HWY_BEFORE_NAMESPACE();
namespace pwcolor {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#if HWY_TARGET == HWY_SCALAR
// Single-lane "vectors" gain nothing over the reference loops.
void Exchange3Impl(const uint8_t* s, uint8_t* d, size_t count) { scalar::Exchange3(s, d, count); }
void Shuffle4Impl(const uint8_t* s, uint8_t* d, size_t count, bool x) { scalar::Shuffle4(s, d, count, x); }
void Pack4To3Impl(const uint8_t* s, uint8_t* d, size_t count, bool x) { scalar::Pack4To3(s, d, count, x); }
void Spread3To4Impl(const uint8_t* s, uint8_t* d, size_t count, bool x) { scalar::Spread3To4(s, d, count, x); }
void Words16To8Impl(const uint8_t* s, uint8_t* d, size_t n, bool swap) { scalar::Words16To8(s, d, n, swap); }
void RGB16To8Impl(const uint8_t* s, uint8_t* d, size_t count, bool swap, bool x) { scalar::RGB16To8(s, d, count, swap, x); }
void CMYK8To3Impl(const uint8_t* s, uint8_t* d, size_t count, bool bgr) { scalar::CMYK8To3(s, d, count, bgr); }
void YCC8To3Impl(const uint8_t* s, uint8_t* d, size_t count, const TChromaFixed& f, bool bgr) { scalar::YCC8To3(s, d, count, f, bgr); }
void Expand1To8Impl(const uint8_t* s, uint8_t* d, size_t count, const uint8_t* v) { scalar::Expand1To8(s, d, count, v); }
void Expand4To8Impl(const uint8_t* s, uint8_t* d, size_t count, const uint8_t* v) { scalar::Expand4To8(s, d, count, v); }
#else
// Output byte j of a run of 3-byte pixels is input byte j + 2, j or j - 2 by
// j mod 3, so each vector is a blend of three overlapping loads. Three
// vectors cover a whole number of pixels and share three blend patterns.
void Exchange3Impl(const uint8_t* s, uint8_t* d, size_t count)
{
    const hn::ScalableTag<uint8_t> d8;
    const size_t N = hn::Lanes(d8);
    const size_t bytes = 3 * count;
    size_t done = 0; // pixels
#if HWY_TARGET == HWY_AVX3_DL
    // One byte permutation across the whole vector does it: 21 pixels per
    // 64-byte load and store, the last byte rewritten by the next store.
    uint8_t order[64];
    for (size_t j = 0; j < 64; ++j)
        order[j] = static_cast<uint8_t>(j == 63 ? 63 : j + 2 - 2 * (j % 3));
    const __m512i permutation = _mm512_loadu_si512(order);
    (void)N;
    for (; 3 * done + 64 <= bytes; done += 21)
        _mm512_storeu_si512(d + 3 * done, _mm512_permutexvar_epi8(permutation, _mm512_loadu_si512(s + 3 * done)));
#else
    if (bytes >= 3 * N + 5) {
        scalar::Exchange3(s, d, 1);
        uint8_t phase[3 * HWY_MAX_BYTES];
        for (size_t j = 0; j < 3 * N; ++j)
            phase[j] = static_cast<uint8_t>(j % 3);
        using M = decltype(hn::FirstN(d8, 0));
        M first[3], last[3];
        for (size_t k = 0; k < 3; ++k) {
            const auto p = hn::LoadU(d8, phase + k * N);
            first[k] = hn::Eq(p, hn::Zero(d8));
            last[k] = hn::Eq(p, hn::Set(d8, 2));
        }
        size_t i = 3;
        for (; i + 3 * N + 2 <= bytes; i += 3 * N) {
            for (size_t k = 0; k < 3; ++k) {
                const uint8_t* p = s + i + k * N;
                const auto a = hn::LoadU(d8, p), next = hn::LoadU(d8, p + 2), prev = hn::LoadU(d8, p - 2);
                hn::StoreU(hn::IfThenElse(first[k], next, hn::IfThenElse(last[k], prev, a)), d8, d + i + k * N);
            }
        }
        done = i / 3;
    }
#endif
    scalar::Exchange3(s + 3 * done, d + 3 * done, count - done);
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

// Each block's four pixels become 12 bytes at its start; the 32-bit lane
// permutation then closes the gaps, and the store writes 3N/4 bytes of
// pixels followed by N/4 bytes that the next store overwrites.
void Pack4To3Impl(const uint8_t* s, uint8_t* d, size_t count, bool exchange)
{
    const hn::ScalableTag<uint8_t> d8;
    const hn::Repartition<uint32_t, decltype(d8)> d32;
    const size_t N = hn::Lanes(d8), N32 = hn::Lanes(d32);
    uint8_t pattern[HWY_MAX_BYTES];
    for (size_t j = 0; j < N; ++j) {
        const size_t r = (j % 16) % 12, q = (j % 16) / 12 == 0 ? r / 3 : 4;
        const size_t c = r % 3;
        pattern[j] = q == 4 ? 0x80 : static_cast<uint8_t>(4 * q + (exchange && c != 1 ? 2 - c : c));
    }
    const auto bytePattern = hn::LoadU(d8, pattern);
    int32_t lanes[HWY_MAX_BYTES / 4];
    for (size_t j = 0; j < N32; ++j)
        lanes[j] = j < 3 * N32 / 4 ? static_cast<int32_t>(j / 3 * 4 + j % 3) : 0;
    const auto indices = hn::SetTableIndices(d32, lanes);
    size_t p = 0; // pixels
    for (; p + N / 4 <= count && 3 * p + N <= 3 * count; p += N / 4) {
        const auto packed = hn::TableLookupBytes(hn::LoadU(d8, s + 4 * p), bytePattern);
        hn::StoreU(hn::BitCast(d8, hn::TableLookupLanes(hn::BitCast(d32, packed), indices)), d8, d + 3 * p);
    }
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

// v div 257 = (v * 0xFF01) >> 24 for every 16-bit v.
void Words16To8Impl(const uint8_t* s, uint8_t* d, size_t n, bool swap)
{
    const hn::ScalableTag<uint16_t> d16;
    const hn::Rebind<int16_t, decltype(d16)> di16;
    const hn::Rebind<uint8_t, decltype(d16)> d8;
    const size_t N = hn::Lanes(d16);
    const auto factor = hn::Set(d16, 0xFF01);
    size_t i = 0;
    for (; i + N <= n; i += N) {
        auto v = hn::LoadU(d16, reinterpret_cast<const uint16_t*>(s + 2 * i));
        if (swap)
            v = hn::Or(hn::ShiftLeft<8>(v), hn::ShiftRight<8>(v));
        const auto q = hn::ShiftRight<8>(hn::MulHigh(v, factor));
        hn::StoreU(hn::DemoteTo(d8, hn::BitCast(di16, q)), d8, d + i);
    }
    scalar::Words16To8(s + 2 * i, d + i, n - i, swap);
}

void RGB16To8Impl(const uint8_t* s, uint8_t* d, size_t count, bool swap, bool exchange)
{
    if (!exchange) {
        Words16To8Impl(s, d, 3 * count, swap);
        return;
    }
    // Scaled in chunks that stay in the first-level cache, then reordered.
    constexpr size_t Chunk = 1024;
    uint8_t scaled[3 * Chunk];
    for (size_t p = 0; p < count; p += Chunk) {
        const size_t n = count - p < Chunk ? count - p : Chunk;
        Words16To8Impl(s + 6 * p, scaled, 3 * n, swap);
        Exchange3Impl(scaled, d + 3 * p, n);
    }
}

// The ink formula in 16-bit lanes: x * k <= 65025, and
// p div 255 = (p * 0x8081) >> 23 for every such product.
template <class D16, class V>
V Ink(D16 d16, V x, V k)
{
    const auto q = hn::ShiftRight<7>(hn::MulHigh(hn::Mul(x, k), hn::Set(d16, 0x8081)));
    return hn::Sub(hn::Sub(hn::Add(hn::Set(d16, 255), q), x), k);
}

void CMYK8To3Impl(const uint8_t* s, uint8_t* d, size_t count, bool bgr)
{
    const hn::ScalableTag<uint8_t> d8;
    const hn::RepartitionToWide<decltype(d8)> d16;
    const hn::Rebind<int16_t, decltype(d16)> di16;
    const hn::Rebind<uint8_t, decltype(d16)> dh;
    const size_t N = hn::Lanes(d8);
    const auto ink = [&](auto x, auto k) {
        const auto lo = Ink(d16, hn::PromoteTo(d16, hn::LowerHalf(dh, x)), hn::PromoteTo(d16, hn::LowerHalf(dh, k)));
        const auto hi = Ink(d16, hn::PromoteTo(d16, hn::UpperHalf(dh, x)), hn::PromoteTo(d16, hn::UpperHalf(dh, k)));
        return hn::Combine(d8, hn::DemoteTo(dh, hn::BitCast(di16, hi)), hn::DemoteTo(dh, hn::BitCast(di16, lo)));
    };
    size_t p = 0;
    for (; p + N <= count; p += N) {
        hn::Vec<decltype(d8)> c, m, y, k;
        hn::LoadInterleaved4(d8, s + 4 * p, c, m, y, k);
        const auto red = ink(c, k), green = ink(m, k), blue = ink(y, k);
        if (bgr)
            hn::StoreInterleaved3(blue, green, red, d8, d + 3 * p);
        else
            hn::StoreInterleaved3(red, green, blue, d8, d + 3 * p);
    }
    scalar::CMYK8To3(s + 4 * p, d + 3 * p, count - p, bgr);
}

// 32-bit lanes: d * F stays within 32 bits for the factors accepted.
void YCC8To3Impl(const uint8_t* s, uint8_t* d, size_t count, const TChromaFixed& f, bool bgr)
{
    const hn::ScalableTag<int32_t> d32;
    const hn::Rebind<uint8_t, decltype(d32)> d8;
    const size_t N = hn::Lanes(d32);
    const auto half = hn::Set(d32, 1 << (f.Shift - 1));
    const auto offR = hn::Set(d32, f.OffsetR), offB = hn::Set(d32, f.OffsetB);
    const auto fRed = hn::Set(d32, f.Red), fGreenCr = hn::Set(d32, f.GreenCr);
    const auto fBlue = hn::Set(d32, f.Blue), fGreenCb = hn::Set(d32, f.GreenCb);
    const int shift = f.Shift;
    const auto term = [&](auto delta, auto factor) {
        return hn::ShiftRightSame(hn::Add(hn::Mul(delta, factor), half), shift);
    };
    size_t p = 0;
    for (; p + N <= count; p += N) {
        hn::Vec<decltype(d8)> y8, cb8, cr8;
        hn::LoadInterleaved3(d8, s + 3 * p, y8, cb8, cr8);
        const auto y = hn::PromoteTo(d32, y8);
        const auto db = hn::Sub(hn::PromoteTo(d32, cb8), offB);
        const auto dr = hn::Sub(hn::PromoteTo(d32, cr8), offR);
        const auto blue = hn::DemoteTo(d8, hn::Add(y, term(db, fBlue)));
        const auto green = hn::DemoteTo(d8, hn::Sub(hn::Sub(y, term(db, fGreenCb)), term(dr, fGreenCr)));
        const auto red = hn::DemoteTo(d8, hn::Add(y, term(dr, fRed)));
        if (bgr)
            hn::StoreInterleaved3(blue, green, red, d8, d + 3 * p);
        else
            hn::StoreInterleaved3(red, green, blue, d8, d + 3 * p);
    }
    scalar::YCC8To3(s + 3 * p, d + 3 * p, count - p, f, bgr);
}

// Every lane picks its source byte from a copy of 16 source bytes in each
// block and tests its own bit.
void Expand1To8Impl(const uint8_t* s, uint8_t* d, size_t count, const uint8_t* values)
{
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
}

// The 64-bit lane permutation gives every block its 8 source bytes; each
// lane takes its byte, then its nibble, then the nibble's value.
void Expand4To8Impl(const uint8_t* s, uint8_t* d, size_t count, const uint8_t* values)
{
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
    size_t i = 0;
    if (N >= 16) {
        for (; i + N <= count && i / 2 + N <= sourceBytes; i += N) {
            const auto spread = hn::BitCast(d8, hn::TableLookupLanes(hn::BitCast(d64, hn::LoadU(d8, s + i / 2)), indices));
            const auto bytes = hn::TableLookupBytes(spread, indexV);
            const auto nibble = hn::IfThenElse(oddMask, hn::And(bytes, low), hn::ShiftRight<4>(bytes));
            hn::StoreU(hn::TableLookupBytes(table, nibble), d8, d + i);
        }
    }
    scalar::Expand4To8(s + i / 2, d + i, count - i, values);
}

#endif

} // namespace HWY_NAMESPACE
} // namespace pwcolor
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace pwcolor::simd {

HWY_EXPORT(Exchange3Impl);
HWY_EXPORT(Shuffle4Impl);
HWY_EXPORT(Pack4To3Impl);
HWY_EXPORT(Spread3To4Impl);
HWY_EXPORT(Words16To8Impl);
HWY_EXPORT(RGB16To8Impl);
HWY_EXPORT(CMYK8To3Impl);
HWY_EXPORT(YCC8To3Impl);
HWY_EXPORT(Expand1To8Impl);
HWY_EXPORT(Expand4To8Impl);

void Exchange3(const uint8_t* s, uint8_t* d, size_t count)
{
    HWY_DYNAMIC_DISPATCH(Exchange3Impl)(s, d, count);
}

void Shuffle4(const uint8_t* s, uint8_t* d, size_t count, bool exchange)
{
    HWY_DYNAMIC_DISPATCH(Shuffle4Impl)(s, d, count, exchange);
}

void Pack4To3(const uint8_t* s, uint8_t* d, size_t count, bool exchange)
{
    HWY_DYNAMIC_DISPATCH(Pack4To3Impl)(s, d, count, exchange);
}

void Spread3To4(const uint8_t* s, uint8_t* d, size_t count, bool exchange)
{
    HWY_DYNAMIC_DISPATCH(Spread3To4Impl)(s, d, count, exchange);
}

void Words16To8(const uint8_t* s, uint8_t* d, size_t n, bool swap)
{
    HWY_DYNAMIC_DISPATCH(Words16To8Impl)(s, d, n, swap);
}

void RGB16To8(const uint8_t* s, uint8_t* d, size_t count, bool swap, bool exchange)
{
    HWY_DYNAMIC_DISPATCH(RGB16To8Impl)(s, d, count, swap, exchange);
}

void CMYK8To3(const uint8_t* s, uint8_t* d, size_t count, bool bgr)
{
    HWY_DYNAMIC_DISPATCH(CMYK8To3Impl)(s, d, count, bgr);
}

void YCC8To3(const uint8_t* s, uint8_t* d, size_t count, const TChromaFixed& f, bool bgr)
{
    HWY_DYNAMIC_DISPATCH(YCC8To3Impl)(s, d, count, f, bgr);
}

void Expand1To8(const uint8_t* s, uint8_t* d, size_t count, const uint8_t* values)
{
    HWY_DYNAMIC_DISPATCH(Expand1To8Impl)(s, d, count, values);
}

void Expand4To8(const uint8_t* s, uint8_t* d, size_t count, const uint8_t* values)
{
    HWY_DYNAMIC_DISPATCH(Expand4To8Impl)(s, d, count, values);
}

} // namespace pwcolor::simd
#endif
