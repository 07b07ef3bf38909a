#pragma once
// Integer scaling and rounding helpers used by the readers and the workbench.
#include <cmath>
#include <cstdint>

// a * b / c with a 64-bit product, rounded to the nearest integer, halves away
// from zero (the platform's multiply-then-divide); -1 when c is 0.
inline int32_t MulDiv(int32_t a, int32_t b, int32_t c)
{
    if (c == 0)
        return -1;
    const int64_t product = static_cast<int64_t>(a) * b;
    const bool negative = (product < 0) != (c < 0);
    const int64_t num = product < 0 ? -product : product;
    const int64_t den = c < 0 ? -static_cast<int64_t>(c) : c;
    const int64_t q = (num + den / 2) / den;
    return static_cast<int32_t>(negative ? -q : q);
}

// a * b / c with the product formed in 64 bits and the quotient truncated.
inline uint32_t MulDivTrunc(uint32_t a, uint32_t b, uint32_t c)
{
    return c == 0 ? 0 : static_cast<uint32_t>(static_cast<uint64_t>(a) * b / c);
}

// x rounded to the nearest integer, halves to the even neighbour.
inline double RoundHalfEven(double x)
{
    return std::nearbyint(x); // the default rounding mode is to nearest-even
}

inline int32_t RoundToInt(double x)
{
    return static_cast<int32_t>(RoundHalfEven(x));
}

inline uint8_t ClampByte(double x)
{
    if (x <= 0)
        return 0;
    if (x >= 255)
        return 255;
    return static_cast<uint8_t>(x);
}

inline uint8_t ClampByte(int32_t x)
{
    return static_cast<uint8_t>(x < 0 ? 0 : x > 255 ? 255 : x);
}
