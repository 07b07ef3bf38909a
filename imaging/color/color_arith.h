#pragma once
// Sample arithmetic shared by the colour manager's routines (internal).
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

} // namespace pwcolor
