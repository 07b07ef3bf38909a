// The row routines that ConvertLine dispatches to. Each routine looks at the
// description once, picks a kernel instantiated for its depths, converters and
// layout, and the kernel walks raw pointers with fixed steps.
#include "imaging/color/color_manager.h"

#include "imaging/color/color_arith.h"
#include "imaging/color/row_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

using namespace pwcolor;

namespace {

// Byte address of every sample of source pixel 0 and the byte distance from
// one pixel to the next.
struct TSourcePlanes {
    const uint8_t* Sample[4];
    size_t Step;
};

// One buffer: interleaved samples, samplesPerPixel apart. Several: one buffer
// per sample. A planar call with fewer than `needed` (non-null) buffers is
// refused rather than read out of bounds.
bool MakePlanes(const void* const* sources, int sourceCount, int needed, size_t samplesPerPixel, size_t bytes,
                TSourcePlanes& planes)
{
    if (sourceCount > 1) {
        if (sourceCount < needed)
            return false;
        for (int k = 0; k < 4; ++k) {
            if (k < needed && !sources[k])
                return false;
            planes.Sample[k] = static_cast<const uint8_t*>(k < needed ? sources[k] : sources[0]);
        }
        planes.Step = bytes;
    } else {
        const auto* base = static_cast<const uint8_t*>(sources[0]);
        for (size_t k = 0; k < 4; ++k)
            planes.Sample[k] = base + k * bytes;
        planes.Step = samplesPerPixel * bytes;
    }
    return true;
}

template <int Bytes>
inline void Put(uint8_t* p, uint32_t v)
{
    if constexpr (Bytes == 1)
        *p = static_cast<uint8_t>(v);
    else
        Store16(p, v);
}

// Sample readers.
struct Read8 {
    uint32_t operator()(const uint8_t* p) const { return *p; }
};
template <bool Swap>
struct Read16 {
    uint32_t operator()(const uint8_t* p) const { return Swap ? Swap16(Load16(p)) : Load16(p); }
};
// A 16-bit sample brought to 8 bits.
template <bool Swap>
struct Read16As8 {
    uint32_t operator()(const uint8_t* p) const { return Scale16To8(Read16<Swap>()(p)); }
};

// Per-sample converters; the byte swap of 16-bit sources is done by the reader.
struct Pass {
    uint32_t operator()(uint32_t v) const { return v; }
};
struct Gamma {
    const uint8_t* Table;
    uint32_t operator()(uint32_t v) const { return Table[v]; }
};
struct Scale {
    uint32_t operator()(uint32_t v) const { return Scale16To8(v); }
};
struct ScaleGamma {
    const uint8_t* Table;
    uint32_t operator()(uint32_t v) const { return Table[Scale16To8(v)]; }
};
// 8 to 16 bits: the 8-bit converter, widened, and swapped when the source
// carries sfSwapBytes (the target keeps the source's byte order).
template <class Inner, bool Swap>
struct Widen {
    Inner Convert;
    uint32_t operator()(uint32_t v) const
    {
        const uint32_t w = Widen8To16(Convert(v));
        return Swap ? Swap16(w) : w;
    }
};

template <int N>
using Bytes = std::integral_constant<int, N>;

// ---- RGB family ---------------------------------------------------------

template <class Reader, int DB, bool Exchange, bool Alpha, class C, class A>
void RGBRow(const TSourcePlanes& s, uint8_t* d, size_t dstStep, uint32_t count, uint8_t mask, C conv, A aconv)
{
    constexpr size_t T0 = (Exchange ? 2 : 0) * DB;
    constexpr size_t T2 = (Exchange ? 0 : 2) * DB;
    const Reader read;
    WalkRow(count, mask, [&](size_t j, size_t i) {
        const size_t so = j * s.Step;
        uint8_t* t = d + i * dstStep;
        Put<DB>(t + T0, conv(read(s.Sample[0] + so)));
        Put<DB>(t + DB, conv(read(s.Sample[1] + so)));
        Put<DB>(t + T2, conv(read(s.Sample[2] + so)));
        if constexpr (Alpha)
            Put<DB>(t + 3 * DB, aconv(read(s.Sample[3] + so)));
    });
}

struct TRGBJob {
    TSourcePlanes Planes;
    bool Interleaved;
    uint8_t* Target;
    size_t TargetStep;
    uint32_t Count;
    uint8_t Mask;
    bool Source16, Target16, Gamma, Swap, BothAlpha, SourceAlpha, TargetAlpha;
    const uint8_t* Table;
};

template <bool X>
void RunRGB(const TRGBJob& job)
{
    const auto go = [&](auto reader, auto bytes, auto conv, auto aconv) {
        using R = decltype(reader);
        constexpr int DB = decltype(bytes)::value;
        if (job.BothAlpha)
            RGBRow<R, DB, X, true>(job.Planes, job.Target, job.TargetStep, job.Count, job.Mask, conv, aconv);
        else
            RGBRow<R, DB, X, false>(job.Planes, job.Target, job.TargetStep, job.Count, job.Mask, conv, aconv);
    };
    const Gamma gamma{job.Table};
    if (!job.Source16 && !job.Target16) {
        if (job.Gamma) {
            go(Read8{}, Bytes<1>{}, gamma, Pass{});
        } else if (job.Interleaved && job.Mask == 0xFF) {
            const uint8_t* s = job.Planes.Sample[0];
            if (job.BothAlpha)
                simd::Shuffle4(s, job.Target, job.Count, X);
            else if (job.SourceAlpha)
                simd::Pack4To3(s, job.Target, job.Count, X);
            else if (job.TargetAlpha)
                simd::Spread3To4(s, job.Target, job.Count, X);
            else if (X)
                simd::Exchange3(s, job.Target, job.Count);
            else
                std::memcpy(job.Target, s, static_cast<size_t>(job.Count) * 3);
        } else {
            go(Read8{}, Bytes<1>{}, Pass{}, Pass{});
        }
    } else if (!job.Source16) {
        if (job.Swap) {
            if (job.Gamma)
                go(Read8{}, Bytes<2>{}, Widen<Gamma, true>{gamma}, Widen<Pass, true>{});
            else
                go(Read8{}, Bytes<2>{}, Widen<Pass, true>{}, Widen<Pass, true>{});
        } else {
            if (job.Gamma)
                go(Read8{}, Bytes<2>{}, Widen<Gamma, false>{gamma}, Widen<Pass, false>{});
            else
                go(Read8{}, Bytes<2>{}, Widen<Pass, false>{}, Widen<Pass, false>{});
        }
    } else if (!job.Target16) {
        const ScaleGamma scaleGamma{job.Table};
        if (!job.Gamma && job.Interleaved && job.Mask == 0xFF && !job.SourceAlpha && !job.TargetAlpha) {
            simd::RGB16To8(job.Planes.Sample[0], job.Target, job.Count, job.Swap, X);
        } else if (job.Swap) {
            if (job.Gamma)
                go(Read16<true>{}, Bytes<1>{}, scaleGamma, Scale{});
            else
                go(Read16<true>{}, Bytes<1>{}, Scale{}, Scale{});
        } else {
            if (job.Gamma)
                go(Read16<false>{}, Bytes<1>{}, scaleGamma, Scale{});
            else
                go(Read16<false>{}, Bytes<1>{}, Scale{}, Scale{});
        }
    } else {
        if (job.Swap)
            go(Read16<true>{}, Bytes<2>{}, Pass{}, Pass{});
        else
            go(Read16<false>{}, Bytes<2>{}, Pass{}, Pass{});
    }
}

// ---- Indexed and grey family --------------------------------------------

// Packed fields of S bits into fields of T bits (both 1, 2, 4 or 8), read and
// written from the most significant end of each byte. Target bytes are
// updated field by field so that the bits of skipped positions survive.
template <unsigned S, unsigned T>
void PackedRow(const uint8_t* src, uint8_t* dst, uint32_t count, uint8_t mask, const uint16_t* scale,
               const std::array<uint8_t, 8>* expand)
{
    constexpr unsigned SPer = 8 / S, TPer = 8 / T;
    constexpr unsigned SMask = (1u << S) - 1, TMask = (1u << T) - 1;
    const auto convert = [&](size_t j, size_t i) {
        unsigned v;
        if constexpr (S == 8)
            v = src[j];
        else
            v = (src[j / SPer] >> (8 - S * (j % SPer + 1))) & SMask;
        const unsigned w = scale[v];
        if constexpr (T == 8) {
            dst[i] = static_cast<uint8_t>(w);
        } else {
            uint8_t& b = dst[i / TPer];
            const unsigned shift = 8 - T * (i % TPer + 1);
            b = static_cast<uint8_t>((b & ~(TMask << shift)) | (w << shift));
        }
    };
    if constexpr (T == 8 && (S == 1 || S == 4)) {
        if (mask == 0xFF) {
            uint8_t values[16];
            for (unsigned v = 0; v <= SMask; ++v)
                values[v] = static_cast<uint8_t>(scale[v]);
            if constexpr (S == 1)
                simd::Expand1To8(src, dst, count, values);
            else
                simd::Expand4To8(src, dst, count, values);
            return;
        }
    } else if constexpr (T == 8 && S < 8) {
        if (mask == 0xFF) {
            // Whole source bytes through the expansion table, the rest by field.
            const size_t whole = count / SPer;
            for (size_t b = 0; b < whole; ++b)
                std::memcpy(dst + b * SPer, expand[src[b]].data(), SPer);
            for (size_t i = whole * SPer; i < count; ++i)
                convert(i, i);
            return;
        }
    }
    WalkRow(count, mask, convert);
}

template <unsigned S>
bool PackedRowTo(unsigned t, const uint8_t* src, uint8_t* dst, uint32_t count, uint8_t mask, const uint16_t* scale,
                 const std::array<uint8_t, 8>* expand)
{
    switch (t) {
    case 1: PackedRow<S, 1>(src, dst, count, mask, scale, expand); return true;
    case 2: PackedRow<S, 2>(src, dst, count, mask, scale, expand); return true;
    case 4: PackedRow<S, 4>(src, dst, count, mask, scale, expand); return true;
    case 8: PackedRow<S, 8>(src, dst, count, mask, scale, expand); return true;
    default: return false;
    }
}

// 16-bit samples into packed fields of T bits.
template <unsigned T, bool Swap>
void Packed16Row(const uint8_t* src, uint8_t* dst, uint32_t count, uint8_t mask)
{
    constexpr unsigned TPer = 8 / T, TMask = (1u << T) - 1;
    const Read16<Swap> read;
    WalkRow(count, mask, [&](size_t j, size_t i) {
        const unsigned w = MulDiv16(read(src + 2 * j), TMask, 65535);
        if constexpr (T == 8) {
            dst[i] = static_cast<uint8_t>(w);
        } else {
            uint8_t& b = dst[i / TPer];
            const unsigned shift = 8 - T * (i % TPer + 1);
            b = static_cast<uint8_t>((b & ~(TMask << shift)) | (w << shift));
        }
    });
}

// Packed fields of S bits into 16-bit words.
template <unsigned S>
void PackedTo16Row(const uint8_t* src, uint8_t* dst, uint32_t count, uint8_t mask, const uint16_t* scale, bool swap)
{
    constexpr unsigned SPer = 8 / S, SMask = (1u << S) - 1;
    WalkRow(count, mask, [&](size_t j, size_t i) {
        unsigned v;
        if constexpr (S == 8)
            v = src[j];
        else
            v = (src[j / SPer] >> (8 - S * (j % SPer + 1))) & SMask;
        const uint32_t w = scale[v];
        Store16(dst + 2 * i, swap ? Swap16(w) : w);
    });
}

template <class Reader, class Convert, int SB, int DB>
void GrayRow(const uint8_t* src, size_t srcStep, uint8_t* dst, uint32_t count, uint8_t mask, Convert conv)
{
    const Reader read;
    WalkRow(count, mask, [&](size_t j, size_t i) { Put<DB>(dst + i * DB, conv(read(src + j * srcStep))); });
}

// ---- CMYK -----------------------------------------------------------------

struct Ink8To8 {
    uint32_t operator()(uint32_t x, uint32_t k) const
    {
        return ClampByte(255 - (static_cast<int32_t>(x + k) - static_cast<int32_t>(MulDiv16(x, k, 255))));
    }
};
struct Ink8To16 {
    uint32_t operator()(uint32_t x, uint32_t k) const { return Widen8To16(Ink8To8()(x, k)); }
};
struct Ink16To8 {
    uint32_t operator()(uint32_t x, uint32_t k) const
    {
        const uint32_t u = (x - MulDiv16(x, k, 65535) + k) & 0xFFFFu;
        return ClampByte(255 - static_cast<int32_t>(MulDiv16(u, 255, 65535)));
    }
};
struct Ink16To16 {
    uint32_t operator()(uint32_t x, uint32_t k) const { return 65535u - ((x - MulDiv16(x, k, 65535) + k) & 0xFFFFu); }
};

template <class Reader, int DB, bool BGR, class Ink>
void CMYKRow(const TSourcePlanes& s, uint8_t* d, size_t dstStep, uint32_t count, uint8_t mask)
{
    const Reader read;
    const Ink ink;
    WalkRow(count, mask, [&](size_t j, size_t i) {
        const size_t so = j * s.Step;
        const uint32_t k = read(s.Sample[3] + so);
        const uint32_t red = ink(read(s.Sample[0] + so), k);
        const uint32_t green = ink(read(s.Sample[1] + so), k);
        const uint32_t blue = ink(read(s.Sample[2] + so), k);
        uint8_t* t = d + i * dstStep;
        Put<DB>(t, BGR ? blue : red);
        Put<DB>(t + DB, green);
        Put<DB>(t + 2 * DB, BGR ? red : blue);
    });
}

template <bool BGR>
void RunCMYK(const TSourcePlanes& s, bool interleaved, uint8_t* d, size_t dstStep, uint32_t count, uint8_t mask,
             bool source16, bool target16, bool swap)
{
    if (!source16 && !target16 && interleaved && mask == 0xFF && dstStep == 3) {
        simd::CMYK8To3(s.Sample[0], d, count, BGR);
    } else if (!source16) {
        if (target16)
            CMYKRow<Read8, 2, BGR, Ink8To16>(s, d, dstStep, count, mask);
        else
            CMYKRow<Read8, 1, BGR, Ink8To8>(s, d, dstStep, count, mask);
    } else if (swap) {
        if (target16)
            CMYKRow<Read16<true>, 2, BGR, Ink16To16>(s, d, dstStep, count, mask);
        else
            CMYKRow<Read16<true>, 1, BGR, Ink16To8>(s, d, dstStep, count, mask);
    } else {
        if (target16)
            CMYKRow<Read16<false>, 2, BGR, Ink16To16>(s, d, dstStep, count, mask);
        else
            CMYKRow<Read16<false>, 1, BGR, Ink16To8>(s, d, dstStep, count, mask);
    }
}

// ---- CIE L*a*b* -----------------------------------------------------------

template <class Reader, class Input, int DB, bool BGR>
void LabRow(const TSourcePlanes& s, uint8_t* d, size_t dstStep, uint32_t count, uint8_t mask, Input input)
{
    const Reader read;
    WalkRow(count, mask, [&](size_t j, size_t i) {
        const size_t so = j * s.Step;
        const uint32_t l = read(s.Sample[0] + so), a = read(s.Sample[1] + so), b = read(s.Sample[2] + so);
        uint32_t rgb[3];
        LabPixel(input, l, a, b, rgb);
        uint32_t red = rgb[0], green = rgb[1], blue = rgb[2];
        if constexpr (DB == 2) {
            red = Widen8To16(red);
            green = Widen8To16(green);
            blue = Widen8To16(blue);
        }
        uint8_t* t = d + i * dstStep;
        Put<DB>(t, BGR ? blue : red);
        Put<DB>(t + DB, green);
        Put<DB>(t + 2 * DB, BGR ? red : blue);
    });
}

template <bool BGR>
void RunLab(const TSourcePlanes& s, uint8_t* d, size_t dstStep, uint32_t count, uint8_t mask, bool source16,
            bool target16, bool swap, TLabInput in)
{
    if (!target16 && mask == 0xFF && dstStep == 3) {
        const TLabSamples samples{{s.Sample[0], s.Sample[1], s.Sample[2]}, s.Step, source16, swap, in.ByteL,
                                  in.OffsetAB};
        simd::LabTo3(samples, d, count, BGR);
    } else if (!source16) {
        if (target16)
            LabRow<Read8, LabFrom8, 2, BGR>(s, d, dstStep, count, mask, LabFrom8{in});
        else
            LabRow<Read8, LabFrom8, 1, BGR>(s, d, dstStep, count, mask, LabFrom8{in});
    } else if (swap) {
        if (target16)
            LabRow<Read16<true>, LabFrom16, 2, BGR>(s, d, dstStep, count, mask, LabFrom16{in});
        else
            LabRow<Read16<true>, LabFrom16, 1, BGR>(s, d, dstStep, count, mask, LabFrom16{in});
    } else {
        if (target16)
            LabRow<Read16<false>, LabFrom16, 2, BGR>(s, d, dstStep, count, mask, LabFrom16{in});
        else
            LabRow<Read16<false>, LabFrom16, 1, BGR>(s, d, dstStep, count, mask, LabFrom16{in});
    }
}

// ---- YCbCr and Photo-YCC --------------------------------------------------

// Reader yields 8-bit luma and chroma; the results are 8-bit, widened for a
// 16-bit target. The sums are formed in 64 bits: table entries of extreme
// coefficients are saturated 32-bit values.
template <class Reader, int DB, bool BGR>
void YCCRow(const TSourcePlanes& s, uint8_t* d, size_t dstStep, uint32_t count, uint8_t mask, TChromaTables tables)
{
    const Reader read;
    WalkRow(count, mask, [&](size_t j, size_t i) {
        const size_t so = j * s.Step;
        const int64_t y = read(s.Sample[0] + so);
        const uint32_t c1 = read(s.Sample[1] + so);
        const uint32_t c2 = read(s.Sample[2] + so);
        const auto clamp = [](int64_t v) { return v < 0 ? 0u : v > 255 ? 255u : static_cast<uint32_t>(v); };
        uint32_t blue = clamp(y + tables.CbToBlue[c1]);
        uint32_t green = clamp(y + tables.CbToGreen[c1] + tables.CrToGreen[c2]);
        uint32_t red = clamp(y + tables.CrToRed[c2]);
        if constexpr (DB == 2) {
            red = Widen8To16(red);
            green = Widen8To16(green);
            blue = Widen8To16(blue);
        }
        uint8_t* t = d + i * dstStep;
        Put<DB>(t, BGR ? blue : red);
        Put<DB>(t + DB, green);
        Put<DB>(t + 2 * DB, BGR ? red : blue);
    });
}

// 16-bit source to 16-bit target, computed directly and clamped to 0..65535.
// Photo-YCC uses its luma gain and the chroma offsets 156 and 137 at 16 bits;
// YCbCr uses the factors of the luma coefficients around 32768.
template <bool Swap, bool BGR, bool Photo>
void YCC16Row(const TSourcePlanes& s, uint8_t* d, size_t dstStep, uint32_t count, uint8_t mask,
              const std::array<float, 4>& f)
{
    const Read16<Swap> read;
    WalkRow(count, mask, [&](size_t j, size_t i) {
        const size_t so = j * s.Step;
        const long double y = read(s.Sample[0] + so);
        const long double c1 = read(s.Sample[1] + so);
        const long double c2 = read(s.Sample[2] + so);
        long double red, green, blue;
        if constexpr (Photo) {
            const long double yy = y * 1.3584L, cc1 = c1 - 40092, cc2 = c2 - 35209;
            blue = yy + 2.2179L * cc1;
            green = yy - 0.9271435L * cc2 - 0.4302726L * cc1;
            red = yy + 1.8215L * cc2;
        } else {
            const long double cb = c1 - 32768, cr = c2 - 32768;
            red = y + f[0] * cr;
            green = y - f[1] * cr - f[3] * cb;
            blue = y + f[2] * cb;
        }
        uint8_t* t = d + i * dstStep;
        Store16(t, ClampWord(RoundSaturated(BGR ? blue : red)));
        Store16(t + 2, ClampWord(RoundSaturated(green)));
        Store16(t + 4, ClampWord(RoundSaturated(BGR ? red : blue)));
    });
}

template <bool BGR>
void RunYCC(const TSourcePlanes& s, bool interleaved, uint8_t* d, size_t dstStep, uint32_t count, uint8_t mask,
            bool source16, bool target16, bool swap, bool photo, const TChromaTables& tables,
            const std::array<float, 4>& f)
{
    if (!source16 && !target16 && interleaved && mask == 0xFF && dstStep == 3) {
        simd::YCC8To3(s.Sample[0], d, count, tables, BGR);
    } else if (!source16) {
        if (target16)
            YCCRow<Read8, 2, BGR>(s, d, dstStep, count, mask, tables);
        else
            YCCRow<Read8, 1, BGR>(s, d, dstStep, count, mask, tables);
    } else if (!target16) {
        if (swap)
            YCCRow<Read16As8<true>, 1, BGR>(s, d, dstStep, count, mask, tables);
        else
            YCCRow<Read16As8<false>, 1, BGR>(s, d, dstStep, count, mask, tables);
    } else if (photo) {
        if (swap)
            YCC16Row<true, BGR, true>(s, d, dstStep, count, mask, f);
        else
            YCC16Row<false, BGR, true>(s, d, dstStep, count, mask, f);
    } else {
        if (swap)
            YCC16Row<true, BGR, false>(s, d, dstStep, count, mask, f);
        else
            YCC16Row<false, BGR, false>(s, d, dstStep, count, mask, f);
    }
}

inline bool Is8Or16(uint8_t bits)
{
    return bits == 8 || bits == 16;
}

} // namespace

// ---- Indexed and grey routines ----------------------------------------------

void TColorManager::IndexedToIndexed(const void* const* sources, int, uint8_t* target, uint32_t count, uint8_t mask)
{
    const auto* src = static_cast<const uint8_t*>(sources[0]);
    const unsigned s = FSourceBPS, t = FTargetBPS;
    if (s == t && mask == 0xFF) {
        std::memcpy(target, src, static_cast<size_t>((static_cast<uint64_t>(count) * s + 7) / 8));
        return;
    }
    const uint16_t* scale = FIndexScale.data();
    const auto* expand = FIndexExpand.data();
    switch (s) {
    case 1: PackedRowTo<1>(t, src, target, count, mask, scale, expand); break;
    case 2: PackedRowTo<2>(t, src, target, count, mask, scale, expand); break;
    case 4: PackedRowTo<4>(t, src, target, count, mask, scale, expand); break;
    case 8: PackedRowTo<8>(t, src, target, count, mask, scale, expand); break;
    default: break; // fields that straddle bytes are not defined
    }
}

void TColorManager::Indexed16ToN(const void* const* sources, int, uint8_t* target, uint32_t count, uint8_t mask)
{
    const auto* src = static_cast<const uint8_t*>(sources[0]);
    const bool swap = FSourceOptions & sfSwapBytes;
    switch (FTargetBPS) {
    case 1: swap ? Packed16Row<1, true>(src, target, count, mask) : Packed16Row<1, false>(src, target, count, mask); break;
    case 2: swap ? Packed16Row<2, true>(src, target, count, mask) : Packed16Row<2, false>(src, target, count, mask); break;
    case 4: swap ? Packed16Row<4, true>(src, target, count, mask) : Packed16Row<4, false>(src, target, count, mask); break;
    case 8: swap ? Packed16Row<8, true>(src, target, count, mask) : Packed16Row<8, false>(src, target, count, mask); break;
    default: break;
    }
}

void TColorManager::IndexedNTo16(const void* const* sources, int, uint8_t* target, uint32_t count, uint8_t mask)
{
    const auto* src = static_cast<const uint8_t*>(sources[0]);
    const bool swap = FSourceOptions & sfSwapBytes;
    const uint16_t* scale = FIndexScale.data();
    switch (FSourceBPS) {
    case 1: PackedTo16Row<1>(src, target, count, mask, scale, swap); break;
    case 2: PackedTo16Row<2>(src, target, count, mask, scale, swap); break;
    case 4: PackedTo16Row<4>(src, target, count, mask, scale, swap); break;
    case 8: PackedTo16Row<8>(src, target, count, mask, scale, swap); break;
    default: break;
    }
}

void TColorManager::Indexed16To16(const void* const* sources, int, uint8_t* target, uint32_t count, uint8_t mask)
{
    const auto* src = static_cast<const uint8_t*>(sources[0]);
    if (FSourceOptions & sfSwapBytes)
        GrayRow<Read16<true>, Pass, 2, 2>(src, 2, target, count, mask, Pass{});
    else if (mask == 0xFF)
        std::memcpy(target, src, static_cast<size_t>(count) * 2);
    else
        GrayRow<Read16<false>, Pass, 2, 2>(src, 2, target, count, mask, Pass{});
}

void TColorManager::GrayToGray(const void* const* sources, int sourceCount, uint8_t* target, uint32_t count,
                               uint8_t mask)
{
    if (!Is8Or16(FSourceBPS) || !Is8Or16(FTargetBPS))
        return;
    const auto* src = static_cast<const uint8_t*>(sources[0]);
    const bool source16 = FSourceBPS == 16, target16 = FTargetBPS == 16;
    const bool swap = FSourceOptions & sfSwapBytes;
    // Grey and alpha pairs when interleaved; a planar call holds grey alone in
    // its first buffer.
    const size_t pairs = (FSourceOptions & sfAlpha) && sourceCount == 1 ? 2 : 1;
    const size_t step = pairs * (source16 ? 2 : 1);
    if (!source16 && !target16) {
        if (step == 1 && mask == 0xFF)
            std::memcpy(target, src, count);
        else
            GrayRow<Read8, Pass, 1, 1>(src, step, target, count, mask, Pass{});
    } else if (!source16) {
        GrayRow<Read8, Widen<Pass, false>, 1, 2>(src, step, target, count, mask, Widen<Pass, false>{});
    } else if (!target16) {
        if (step == 2 && mask == 0xFF)
            simd::Words16To8(src, target, count, swap);
        else if (swap)
            GrayRow<Read16<true>, Scale, 2, 1>(src, step, target, count, mask, Scale{});
        else
            GrayRow<Read16<false>, Scale, 2, 1>(src, step, target, count, mask, Scale{});
    } else {
        if (swap)
            GrayRow<Read16<true>, Pass, 2, 2>(src, step, target, count, mask, Pass{});
        else
            GrayRow<Read16<false>, Pass, 2, 2>(src, step, target, count, mask, Pass{});
    }
}

// ---- Colour routines --------------------------------------------------------

void TColorManager::ConvertRGBFamily(bool exchange, const void* const* sources, int sourceCount, uint8_t* target,
                                     uint32_t count, uint8_t mask)
{
    if (!Is8Or16(FSourceBPS) || !Is8Or16(FTargetBPS))
        return;
    TRGBJob job{};
    job.Source16 = FSourceBPS == 16;
    job.Target16 = FTargetBPS == 16;
    job.SourceAlpha = FSourceOptions & sfAlpha;
    job.TargetAlpha = FTargetOptions & sfAlpha;
    job.BothAlpha = job.SourceAlpha && job.TargetAlpha;
    job.Gamma = FTargetOptions & sfGamma;
    job.Swap = FSourceOptions & sfSwapBytes;
    job.Table = FGammaTable.data();
    job.Interleaved = sourceCount == 1;
    if (!MakePlanes(sources, sourceCount, job.BothAlpha ? 4 : 3, job.SourceAlpha ? 4 : 3, job.Source16 ? 2 : 1,
                    job.Planes))
        return;
    job.Target = target;
    job.TargetStep = (job.TargetAlpha ? 4 : 3) * (job.Target16 ? 2 : 1);
    job.Count = count;
    job.Mask = mask;
    if (exchange)
        RunRGB<true>(job);
    else
        RunRGB<false>(job);
}

void TColorManager::RGBToRGB(const void* const* sources, int n, uint8_t* target, uint32_t count, uint8_t mask)
{
    ConvertRGBFamily(false, sources, n, target, count, mask);
}

void TColorManager::RGBToBGR(const void* const* sources, int n, uint8_t* target, uint32_t count, uint8_t mask)
{
    ConvertRGBFamily(true, sources, n, target, count, mask);
}

void TColorManager::BGRToRGB(const void* const* sources, int n, uint8_t* target, uint32_t count, uint8_t mask)
{
    ConvertRGBFamily(true, sources, n, target, count, mask);
}

void TColorManager::BGRToBGR(const void* const* sources, int n, uint8_t* target, uint32_t count, uint8_t mask)
{
    ConvertRGBFamily(false, sources, n, target, count, mask);
}

void TColorManager::ConvertCMYK(bool bgr, const void* const* sources, int sourceCount, uint8_t* target,
                                uint32_t count, uint8_t mask)
{
    if (!Is8Or16(FSourceBPS) || !Is8Or16(FTargetBPS))
        return;
    const bool source16 = FSourceBPS == 16, target16 = FTargetBPS == 16;
    // Planar only with exactly four buffers; anything else reads the first
    // buffer as interleaved C, M, Y, K.
    TSourcePlanes planes;
    if (!MakePlanes(sources, sourceCount == 4 ? 4 : 1, 4, 4, source16 ? 2 : 1, planes))
        return;
    const size_t dstStep = ((FTargetOptions & sfAlpha) ? 4 : 3) * (target16 ? 2 : 1);
    const bool swap = FSourceOptions & sfSwapBytes;
    const bool interleaved = sourceCount != 4;
    if (bgr)
        RunCMYK<true>(planes, interleaved, target, dstStep, count, mask, source16, target16, swap);
    else
        RunCMYK<false>(planes, interleaved, target, dstStep, count, mask, source16, target16, swap);
}

void TColorManager::CMYKToRGB(const void* const* sources, int n, uint8_t* target, uint32_t count, uint8_t mask)
{
    ConvertCMYK(false, sources, n, target, count, mask);
}

void TColorManager::CMYKToBGR(const void* const* sources, int n, uint8_t* target, uint32_t count, uint8_t mask)
{
    ConvertCMYK(true, sources, n, target, count, mask);
}

void TColorManager::ConvertLab(bool bgr, const void* const* sources, int sourceCount, uint8_t* target,
                               uint32_t count, uint8_t mask)
{
    if (!Is8Or16(FSourceBPS) || !Is8Or16(FTargetBPS))
        return;
    const bool source16 = FSourceBPS == 16, target16 = FTargetBPS == 16;
    TSourcePlanes planes;
    if (!MakePlanes(sources, sourceCount, 3, 3, source16 ? 2 : 1, planes))
        return;
    const size_t dstStep = ((FTargetOptions & sfAlpha) ? 4 : 3) * (target16 ? 2 : 1);
    const bool swap = FSourceOptions & sfSwapBytes;
    const TLabInput in{(FSourceOptions & sfLabByteL) != 0, (FSourceOptions & sfLabOffsetAB) != 0};
    if (bgr)
        RunLab<true>(planes, target, dstStep, count, mask, source16, target16, swap, in);
    else
        RunLab<false>(planes, target, dstStep, count, mask, source16, target16, swap, in);
}

void TColorManager::LabToRGB(const void* const* sources, int n, uint8_t* target, uint32_t count, uint8_t mask)
{
    ConvertLab(false, sources, n, target, count, mask);
}

void TColorManager::LabToBGR(const void* const* sources, int n, uint8_t* target, uint32_t count, uint8_t mask)
{
    ConvertLab(true, sources, n, target, count, mask);
}

void TColorManager::ConvertYCC(bool bgr, bool photoYCC, const void* const* sources, int sourceCount,
                               uint8_t* target, uint32_t count, uint8_t mask)
{
    if (!Is8Or16(FSourceBPS) || !Is8Or16(FTargetBPS) || FCrToRedTable.size() != 256)
        return;
    const bool source16 = FSourceBPS == 16, target16 = FTargetBPS == 16;
    TSourcePlanes planes;
    if (!MakePlanes(sources, sourceCount, 3, 3, source16 ? 2 : 1, planes))
        return;
    const size_t dstStep = ((FTargetOptions & sfAlpha) ? 4 : 3) * (target16 ? 2 : 1);
    const bool swap = FSourceOptions & sfSwapBytes;
    const TChromaTables tables{FCrToRedTable.data(),
                               FCbToBlueTable.data(),
                               FCrToGreenTable.data(),
                               FCbToGreenTable.data(),
                               FChromaFixed[0],
                               FChromaFixed[1],
                               FChromaFixed[2],
                               FChromaFixed[3],
                               FChromaShift,
                               photoYCC ? 137 : 128,
                               photoYCC ? 156 : 128};
    const bool interleaved = sourceCount == 1;
    if (bgr)
        RunYCC<true>(planes, interleaved, target, dstStep, count, mask, source16, target16, swap, photoYCC, tables,
                     FChromaFactors);
    else
        RunYCC<false>(planes, interleaved, target, dstStep, count, mask, source16, target16, swap, photoYCC, tables,
                      FChromaFactors);
}

void TColorManager::YCbCrToRGB(const void* const* sources, int n, uint8_t* target, uint32_t count, uint8_t mask)
{
    ConvertYCC(false, false, sources, n, target, count, mask);
}

void TColorManager::YCbCrToBGR(const void* const* sources, int n, uint8_t* target, uint32_t count, uint8_t mask)
{
    ConvertYCC(true, false, sources, n, target, count, mask);
}

void TColorManager::PhotoYCCToRGB(const void* const* sources, int n, uint8_t* target, uint32_t count, uint8_t mask)
{
    ConvertYCC(false, true, sources, n, target, count, mask);
}

void TColorManager::PhotoYCCToBGR(const void* const* sources, int n, uint8_t* target, uint32_t count, uint8_t mask)
{
    ConvertYCC(true, true, sources, n, target, count, mask);
}
