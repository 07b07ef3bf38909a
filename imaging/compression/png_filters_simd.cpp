// The vector forms of the PNG row filters, compiled once per instruction set.
// Paeth depends on the pixel to the left, so it goes one pixel per step with
// its bytes in 16-bit lanes; Up has no such dependency and goes a whole
// vector per step.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/compression/png_filters_simd.cpp"
#include <hwy/foreach_target.h> // IWYU pragma: keep

#include <hwy/highway.h>

#include "imaging/compression/png_filters.h"

#include <algorithm>
#include <cstring>

HWY_BEFORE_NAMESPACE();
namespace pwpng {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#if HWY_TARGET == HWY_SCALAR
void UnfilterRowImpl(uint8_t type, uint8_t* row, const uint8_t* prev, size_t count, uint32_t pixelBytes, size_t from)
{
    scalar::UnfilterRow(type, row, prev, count, pixelBytes, from);
}
#else

void UndoUp(uint8_t* row, const uint8_t* prev, size_t count)
{
    const hn::ScalableTag<uint8_t> d8;
    const size_t N = hn::Lanes(d8);
    size_t i = 0;
    for (; i + N <= count; i += N)
        hn::StoreU(hn::Add(hn::LoadU(d8, row + i), hn::LoadU(d8, prev + i)), d8, row + i);
    for (; i < count; ++i)
        row[i] = static_cast<uint8_t>(row[i] + prev[i]);
}

// One pixel of P bytes in the low lanes of a 4-lane vector. A 3-byte pixel is
// loaded with the byte after it (lanes are independent, so the fourth lane
// carries along unused) except at the end of the row, and stored as 3 bytes
// so that its neighbour is not touched. The load goes straight to the row:
// a load from a 3-byte copy would wait for the copy to leave the store buffer.
template <size_t P>
struct TPixelIO {
    hn::FixedTag<uint8_t, 4> d;
    size_t Count; // bytes in the row
    hn::Vec<hn::FixedTag<uint8_t, 4>> Load(const uint8_t* row, size_t i) const
    {
        if (P == 4 || i + 4 <= Count)
            return hn::LoadU(d, row + i);
        uint8_t bytes[4] = {};
        std::memcpy(bytes, row + i, P);
        return hn::LoadU(d, bytes);
    }
    void Store(hn::Vec<hn::FixedTag<uint8_t, 4>> v, uint8_t* p) const
    {
        if constexpr (P == 4) {
            hn::StoreU(v, d, p);
        } else {
            uint8_t bytes[4];
            hn::StoreU(v, d, bytes);
            std::memcpy(p, bytes, P);
        }
    }
};

// Paeth: a if |b - c| <= |a - c| and |b - c| <= |a + b - 2c|, else b if
// |a - c| <= |a + b - 2c|, else c.
template <size_t P>
void UndoPaeth(uint8_t* row, const uint8_t* prev, size_t from, size_t count)
{
    // The left and upper-left neighbours of the first pixel are zero, which
    // makes the predictor of the first pixel the byte above.
    const TPixelIO<P> io{{}, count};
    const hn::FixedTag<int16_t, 4> d16;
    auto a = hn::Zero(d16), c = hn::Zero(d16);
    if (from >= P) {
        a = hn::PromoteTo(d16, io.Load(row, from - P));
        c = hn::PromoteTo(d16, io.Load(prev, from - P));
    }
    for (size_t i = from; i + P <= count; i += P) {
        const auto b = hn::PromoteTo(d16, io.Load(prev, i));
        const auto bc = hn::Sub(b, c), ac = hn::Sub(a, c);
        const auto pa = hn::Abs(bc), pb = hn::Abs(ac), pc = hn::Abs(hn::Add(bc, ac));
        const auto notA = hn::Or(hn::Lt(pb, pa), hn::Lt(pc, pa));
        const auto predictor = hn::IfThenElse(notA, hn::IfThenElse(hn::Lt(pc, pb), c, b), a);
        const auto x = hn::Add(io.Load(row, i), hn::DemoteTo(io.d, predictor));
        io.Store(x, row + i);
        a = hn::PromoteTo(d16, x);
        c = b;
    }
}

// Paeth on 1-byte pixels is one chain through the row, which the branches
// of the reference loop lengthen. For a given byte above (b) and above-left
// (c) the predictor is a piecewise function of the left byte a: a itself at
// or below lo and at or above hi, between them b on one side of a split
// point and c on the other. The thresholds depend on b and c only and are
// worked out beside the chain, which keeps three compares, two selects and
// an add per byte.
void UndoPaeth1(uint8_t* row, const uint8_t* prev, size_t from, size_t count)
{
    if (from >= count)
        return;
    if (from == 0)
        row[0] = static_cast<uint8_t>(row[0] + prev[0]);
    int32_t a = row[from == 0 ? 0 : from - 1];
    for (size_t i = std::max<size_t>(from, 1); i < count; ++i) {
        const int32_t b = prev[i], c = prev[i - 1], d = b - c;
        const int32_t s = d >> 31; // -1 where b < c
        const int32_t ad = (d ^ s) - s;
        const int32_t lo = c - ad - (ad & ~s);
        const int32_t hi = c + ad + (ad & s);
        const int32_t split = c - ((ad >> 1) ^ s);
        const int32_t swap = (b ^ c) & s;
        const int32_t up = b ^ swap, down = c ^ swap;
        // Masks rather than conditions: a branch here mispredicts on noise.
        const int32_t upper = -int32_t(a >= split);
        const int32_t own = -int32_t((a <= lo) | (a >= hi));
        int32_t p = down ^ ((up ^ down) & upper);
        p ^= (p ^ a) & own;
        a = (row[i] + p) & 0xFF;
        row[i] = static_cast<uint8_t>(a);
    }
}

// Sub and Average go through the reference loops: their bytes are three or
// four independent chains that the processor already overlaps, and one
// vector per pixel measured no faster on scans. Paeth's branches, which
// mispredict on noisy rows, become selects here.
void UnfilterRowImpl(uint8_t type, uint8_t* row, const uint8_t* prev, size_t count, uint32_t pixelBytes, size_t from)
{
    // Rows of whole pixels only: a row cut inside a pixel, which no valid
    // image has, goes through the reference loop.
    const bool paeth = type == 4 && (pixelBytes == 3 || pixelBytes == 4) && count % pixelBytes == 0 &&
                       from % pixelBytes == 0;
    if (type == 2 && from <= count)
        UndoUp(row + from, prev + from, count - from);
    else if (type == 4 && pixelBytes == 1)
        UndoPaeth1(row, prev, from, count);
    else if (paeth && pixelBytes == 3)
        UndoPaeth<3>(row, prev, from, count);
    else if (paeth)
        UndoPaeth<4>(row, prev, from, count);
    else
        scalar::UnfilterRow(type, row, prev, count, pixelBytes, from);
}
#endif

} // namespace HWY_NAMESPACE
} // namespace pwpng
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace pwpng::simd {

HWY_EXPORT(UnfilterRowImpl);

void UnfilterRow(uint8_t type, uint8_t* row, const uint8_t* prev, size_t count, uint32_t pixelBytes, size_t from)
{
    HWY_DYNAMIC_DISPATCH(UnfilterRowImpl)(type, row, prev, count, pixelBytes, from);
}

} // namespace pwpng::simd
#endif
