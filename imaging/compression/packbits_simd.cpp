// The PackBits packet loop in vector code, compiled once per instruction set.
// With per-byte store masks (AVX-512) every packet is one or two 64-byte
// loads and masked stores, whatever its kind and length, so that the loop
// has no branch that noisy data would mispredict. Other processors keep the
// plain loop of run_length_decoders.cpp.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/compression/packbits_simd.cpp"
#include <hwy/foreach_target.h> // IWYU pragma: keep

#include <hwy/highway.h>

#include "imaging/compression/packbits_simd.h"

HWY_BEFORE_NAMESPACE();
namespace pwpackbits {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#if HWY_TARGET <= HWY_AVX3
bool WholePacketsImpl(const uint8_t*& source, const uint8_t* sourceEnd, uint8_t*& target, uint8_t* targetEnd)
{
    const hn::FixedTag<uint8_t, 64> d;
    const uint8_t* in = source;
    uint8_t* out = target;
    // The control byte and the 128 bytes after it lie in the source, so the
    // loads never leave it; the stores write exactly the packet's bytes, and
    // only a packet that fits in the target whole is decoded here.
    while (out < targetEnd && sourceEnd - in > 128) {
        __builtin_prefetch(in + 4096);
        const int32_t b = static_cast<int8_t>(in[0]);
        const bool literal = b >= 0;
        const bool skip = b == -128;
        const size_t n = literal ? size_t(b + 1) : (skip ? 0 : size_t(1 - b));
        if (n > size_t(targetEnd - out))
            break;
        const size_t step = literal ? n + 1 : (skip ? 1 : 2);
        const auto copy = hn::FirstN(d, literal ? 64 : 0);
        const auto fill = hn::Set(d, in[1]);
        const auto low = hn::IfThenElse(copy, hn::LoadU(d, in + 1), fill);
        const auto high = hn::IfThenElse(copy, hn::LoadU(d, in + 65), fill);
        hn::BlendedStore(low, hn::FirstN(d, n), d, out);
        hn::BlendedStore(high, hn::FirstN(d, n > 64 ? n - 64 : 0), d, out + 64);
        in += step;
        out += n;
    }
    source = in;
    target = out;
    return true;
}
#else
bool WholePacketsImpl(const uint8_t*&, const uint8_t*, uint8_t*&, uint8_t*)
{
    return false;
}
#endif

} // namespace HWY_NAMESPACE
} // namespace pwpackbits
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace pwpackbits {

HWY_EXPORT(WholePacketsImpl);

bool VectorWholePackets(const uint8_t*& source, const uint8_t* sourceEnd, uint8_t*& target, uint8_t* targetEnd)
{
    return HWY_DYNAMIC_DISPATCH(WholePacketsImpl)(source, sourceEnd, target, targetEnd);
}

} // namespace pwpackbits
#endif
