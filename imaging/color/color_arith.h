#pragma once
// Sample arithmetic shared by the colour manager's routines (internal).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace pwcolor {

// a * b / c on 16-bit operands: 32-bit product, truncated quotient kept to
// 16 bits. c is never 0 here (it is always 2^bits - 1).
inline uint32_t MulDiv16(uint32_t a, uint32_t b, uint32_t c)
{
    return ((a & 0xFFFFu) * (b & 0xFFFFu) / (c & 0xFFFFu)) & 0xFFFFu;
}

// v * 255 div 65535. Since 65535 = 255 * 257 this is v div 257, which the
// compiler turns into a multiply it can also vectorise.
inline uint32_t Scale16To8(uint32_t v)
{
    return static_cast<uint16_t>(v) / 257u;
}

// v * 65535 div 255 = v * 257.
inline uint32_t Widen8To16(uint32_t v)
{
    return v * 257u;
}

inline uint32_t Swap16(uint32_t v)
{
    return ((v >> 8) & 0xFFu) | ((v & 0xFFu) << 8);
}

inline uint32_t ClampByte(int32_t v)
{
    return v < 0 ? 0u : v > 255 ? 255u : static_cast<uint32_t>(v);
}

inline uint32_t ClampWord(int64_t v)
{
    return v < 0 ? 0u : v > 65535 ? 65535u : static_cast<uint32_t>(v);
}

// Nearest integer, halves to even, saturated to the 32-bit range (0 for NaN),
// so that extreme coefficients cannot make the conversion undefined.
inline int32_t RoundSaturated(long double x)
{
    if (!(x == x))
        return 0;
    if (x >= 2147483647.0L)
        return 2147483647;
    if (x <= -2147483648.0L)
        return -2147483647 - 1;
    return static_cast<int32_t>(std::nearbyint(x));
}

// Samples are read and written through memcpy: rows need not be aligned.
inline uint32_t Load16(const uint8_t* p)
{
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

inline void Store16(uint8_t* p, uint32_t v)
{
    const uint16_t w = static_cast<uint16_t>(v);
    std::memcpy(p, &w, 2);
}

// Walks the target positions of one row. convert(j, i) converts source pixel
// j into target position i; positions whose mask bit is clear are skipped and
// consume no source pixel. The mask bits are consulted from the highest down
// and repeat every 8 positions.
template <class Convert>
inline void WalkRow(uint32_t count, uint8_t mask, Convert&& convert)
{
    if (mask == 0xFF) {
        for (size_t i = 0; i < count; ++i)
            convert(i, i);
        return;
    }
    if (mask == 0)
        return;
    size_t j = 0;
    unsigned cursor = 0x80;
    for (size_t i = 0; i < count; ++i) {
        if (mask & cursor)
            convert(j++, i);
        cursor = cursor == 1 ? 0x80 : cursor >> 1;
    }
}

// ---- CIE L*a*b* ---------------------------------------------------------

struct TLabInput {
    bool ByteL;    // L* on 0..255, divided by 2.55
    bool OffsetAB; // a*, b* unsigned with 128 added
};

// L*, a*, b* of one pixel at the 8-bit scale, in the precision asked for.
struct LabFrom8 {
    TLabInput In;
    template <class T>
    void operator()(uint32_t l, uint32_t a, uint32_t b, T& L, T& A, T& B) const
    {
        L = In.ByteL ? l / T(2.55L) : static_cast<T>(l);
        A = In.OffsetAB ? static_cast<T>(static_cast<int32_t>(a) - 128) : static_cast<int8_t>(a);
        B = In.OffsetAB ? static_cast<T>(static_cast<int32_t>(b) - 128) : static_cast<int8_t>(b);
    }
};
// 16-bit samples are first brought to the 8-bit scale: L* by v * 255 / 65535,
// a* and b* by v / 256 (signed values, or unsigned ones centred on 32768).
struct LabFrom16 {
    TLabInput In;
    template <class T>
    void operator()(uint32_t l, uint32_t a, uint32_t b, T& L, T& A, T& B) const
    {
        const T l8 = l / T(257.0L);
        L = In.ByteL ? l8 / T(2.55L) : l8;
        A = In.OffsetAB ? a / T(256.0L) - 128 : static_cast<int16_t>(a) / T(256.0L);
        B = In.OffsetAB ? b / T(256.0L) - 128 : static_cast<int16_t>(b) / T(256.0L);
    }
};

constexpr long double LabLinearLimit = 7.9996L;

// Red, green and blue of one pixel before scaling to 0..255. The colour
// values are defined by this computation in extended precision.
template <class T>
void LabToLinear(T L, T a, T b, T (&rgb)[3])
{
    T X, Y, Z;
    if (L < T(LabLinearLimit)) {
        Y = L / T(903.3L);
        X = Y + a / T(3893.5L);
        Z = Y - b / T(1557.4L);
    } else {
        const T f = (L + 16) / 116;
        const T fx = f + a / 500;
        const T fz = f - b / 200;
        X = fx * fx * fx;
        Y = f * f * f;
        Z = fz * fz * fz;
    }
    rgb[0] = T(2.998L) * X - T(1.458L) * Y - T(0.541L) * Z;
    rgb[1] = T(-0.952L) * X + T(1.893L) * Y + T(0.059L) * Z;
    rgb[2] = T(0.099L) * X - T(0.198L) * Y + T(1.099L) * Z;
}

inline uint32_t LabChannel(long double v)
{
    return ClampByte(RoundSaturated(255 * v));
}

// The channels worked out in double precision, which is some twenty times
// faster; they round to the same bytes unless a scaled value lies within
// 1e-7 of a rounding boundary (the two computations differ by less than
// 1e-11 there) or L* as near the limit of the linear part, where this
// returns false and the pixel is computed in extended precision.
inline bool LabChannelsFast(double L, double a, double b, uint32_t (&out)[3])
{
    double rgb[3];
    LabToLinear(L, a, b, rgb);
    // Rounded to the nearest whole number by adding and taking away 1.5 * 2^52,
    // so that no branch depends on the data. Scaled values of the inputs lie
    // within +-20000; anything else goes to the exact computation.
    constexpr double Round = 6755399441055744.0;
    bool near = std::fabs(L - double(LabLinearLimit)) < 1e-7;
    for (int c = 0; c < 3; ++c) {
        const double t = 255 * rgb[c];
        const double whole = (t + Round) - Round;
        near |= !(std::fabs(t) < 1e6) | (std::fabs(std::fabs(t - whole) - 0.5) < 1e-7);
        const int32_t v = static_cast<int32_t>(near ? 0 : whole);
        out[c] = static_cast<uint32_t>(std::min(std::max(v, 0), 255));
    }
    return !near;
}

// One pixel's channels, 0..255: in double precision where that is sure to
// give the same bytes, otherwise in extended precision.
template <class Input>
void LabPixel(const Input& input, uint32_t l, uint32_t a, uint32_t b, uint32_t (&rgb)[3])
{
    double fastL, fastA, fastB;
    input(l, a, b, fastL, fastA, fastB);
    if (!LabChannelsFast(fastL, fastA, fastB, rgb)) {
        long double L, A, B, exact[3];
        input(l, a, b, L, A, B);
        LabToLinear(L, A, B, exact);
        for (int c = 0; c < 3; ++c)
            rgb[c] = LabChannel(exact[c]);
    }
}

} // namespace pwcolor
