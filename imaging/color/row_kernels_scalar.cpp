// The reference forms of the row kernels: plain loops over whole pixels.
#include "imaging/color/row_kernels.h"

#include "imaging/color/color_arith.h"

namespace pwcolor::scalar {

namespace {

template <size_t SS, size_t DS>
void Reorder(const uint8_t* __restrict s, uint8_t* __restrict d, size_t count, bool exchange, bool alpha)
{
    const size_t t0 = exchange ? 2 : 0, t2 = exchange ? 0 : 2;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = s + i * SS;
        uint8_t* t = d + i * DS;
        const uint8_t c0 = p[0], c1 = p[1], c2 = p[2];
        t[t0] = c0;
        t[1] = c1;
        t[t2] = c2;
        if (alpha)
            t[3] = p[3];
    }
}

} // namespace

void Exchange3(const uint8_t* s, uint8_t* d, size_t count)
{
    Reorder<3, 3>(s, d, count, true, false);
}

void Exchange3InPlace(uint8_t* row, size_t count)
{
    for (size_t i = 0; i < count; ++i, row += 3) {
        const uint8_t c0 = row[0];
        row[0] = row[2];
        row[2] = c0;
    }
}

void Shuffle4(const uint8_t* s, uint8_t* d, size_t count, bool exchange)
{
    Reorder<4, 4>(s, d, count, exchange, true);
}

void Pack4To3(const uint8_t* s, uint8_t* d, size_t count, bool exchange)
{
    Reorder<4, 3>(s, d, count, exchange, false);
}

void Spread3To4(const uint8_t* s, uint8_t* d, size_t count, bool exchange)
{
    Reorder<3, 4>(s, d, count, exchange, false);
}

void Words16To8(const uint8_t* s, uint8_t* d, size_t n, bool swap)
{
    for (size_t i = 0; i < n; ++i) {
        const uint32_t v = Load16(s + 2 * i);
        d[i] = static_cast<uint8_t>(Scale16To8(swap ? Swap16(v) : v));
    }
}

void RGB16To8(const uint8_t* s, uint8_t* d, size_t count, bool swap, bool exchange)
{
    Words16To8(s, d, 3 * count, swap);
    if (!exchange)
        return;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t first = d[3 * i];
        d[3 * i] = d[3 * i + 2];
        d[3 * i + 2] = first;
    }
}

// 255 - (x + k - x * k div 255); the result never leaves 0..255.
void CMYK8To3(const uint8_t* s, uint8_t* d, size_t count, bool bgr)
{
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = s + 4 * i;
        const uint32_t k = p[3];
        const auto ink = [k](uint32_t x) { return static_cast<uint8_t>(ClampByte(255 - static_cast<int32_t>(x + k - MulDiv16(x, k, 255)))); };
        uint8_t* t = d + 3 * i;
        t[bgr ? 2 : 0] = ink(p[0]);
        t[1] = ink(p[1]);
        t[bgr ? 0 : 2] = ink(p[2]);
    }
}

// The sums are formed in 64 bits: entries of extreme coefficients are
// saturated 32-bit values.
void YCC8To3(const uint8_t* s, uint8_t* d, size_t count, const TChromaTables& t, bool bgr)
{
    const auto clamp = [](int64_t v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = s + 3 * i;
        const int64_t y = p[0];
        const uint8_t blue = clamp(y + t.CbToBlue[p[1]]);
        const uint8_t green = clamp(y + t.CbToGreen[p[1]] + t.CrToGreen[p[2]]);
        const uint8_t red = clamp(y + t.CrToRed[p[2]]);
        uint8_t* q = d + 3 * i;
        q[0] = bgr ? blue : red;
        q[1] = green;
        q[2] = bgr ? red : blue;
    }
}

void LabTo3(const TLabSamples& s, uint8_t* d, size_t count, bool bgr)
{
    const TLabInput in{s.ByteL, s.OffsetAB};
    const auto read = [&s](int k, size_t i) {
        const uint8_t* p = s.Sample[k] + i * s.Step;
        return s.Wide ? (s.Swap ? Swap16(Load16(p)) : Load16(p)) : uint32_t{*p};
    };
    for (size_t i = 0; i < count; ++i) {
        uint32_t rgb[3];
        if (s.Wide)
            LabPixel(LabFrom16{in}, read(0, i), read(1, i), read(2, i), rgb);
        else
            LabPixel(LabFrom8{in}, read(0, i), read(1, i), read(2, i), rgb);
        uint8_t* q = d + 3 * i;
        q[0] = static_cast<uint8_t>(rgb[bgr ? 2 : 0]);
        q[1] = static_cast<uint8_t>(rgb[1]);
        q[2] = static_cast<uint8_t>(rgb[bgr ? 0 : 2]);
    }
}

void Expand1To8(const uint8_t* s, uint8_t* d, size_t count, const uint8_t* values)
{
    for (size_t i = 0; i < count; ++i)
        d[i] = values[(s[i / 8] >> (7 - i % 8)) & 1];
}

void Expand4To8(const uint8_t* s, uint8_t* d, size_t count, const uint8_t* values)
{
    for (size_t i = 0; i < count; ++i)
        d[i] = values[(s[i / 2] >> (i % 2 ? 0 : 4)) & 15];
}

} // namespace pwcolor::scalar
