#include "tests/imaging/color/color_test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace colortest;

namespace {

using Bytes = std::vector<uint8_t>;

// v * 255 div 65535, written out as the product and quotient.
uint8_t Scale16To8(uint32_t v)
{
    return static_cast<uint8_t>(static_cast<uint64_t>(v) * 255 / 65535);
}

uint32_t Field(const Bytes& buffer, size_t index, unsigned bits)
{
    const size_t bit = index * bits;
    return (buffer[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
}

void SetField(Bytes& buffer, size_t index, unsigned bits, uint32_t value)
{
    const size_t bit = index * bits;
    const unsigned shift = 8 - bits - bit % 8;
    const unsigned mask = ((1u << bits) - 1) << shift;
    buffer[bit / 8] = static_cast<uint8_t>((buffer[bit / 8] & ~mask) | (value << shift));
}

// Position-by-position model of the packed index conversion.
Bytes PackedReference(const Bytes& source, unsigned s, unsigned t, uint32_t count, uint8_t mask, Bytes target)
{
    if (s == t && mask == 0xFF) {
        std::copy_n(source.begin(), (count * s + 7) / 8, target.begin());
        return target;
    }
    size_t j = 0;
    for (size_t i = 0; i < count; ++i)
        if (mask & (0x80 >> (i % 8)))
            SetField(target, i, t, Field(source, j++, s) * ((1u << t) - 1) / ((1u << s) - 1));
    return target;
}

Bytes RandomBytes(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes bytes(n);
    for (auto& b : bytes)
        b = static_cast<uint8_t>(rng());
    return bytes;
}

} // namespace

TEST(ColorRoutines, RGBFamilyOrdersSamples)
{
    struct Case {
        TPixelScheme Source, Target;
        Bytes Expected;
    };
    const Case cases[] = {{psRGB, psBGR, {30, 20, 10}}, {psBGR, psRGB, {30, 20, 10}},
                          {psRGB, psRGB, {10, 20, 30}}, {psBGR, psBGR, {10, 20, 30}}};
    const Bytes pixel{10, 20, 30};
    const Bytes red{10}, green{20}, blue{30};
    for (const Case& c : cases) {
        TColorManager cm;
        Describe(cm, {c.Source, 8, 3}, {c.Target, 8, 3});
        EXPECT_EQ(Convert(cm, {pixel.data()}, 3, 1), c.Expected);
        EXPECT_EQ(Convert(cm, {red.data(), green.data(), blue.data()}, 3, 1), c.Expected);
    }
}

TEST(ColorRoutines, RGBFamilyAlphaHandling)
{
    struct Case {
        TPixelScheme Source, Target;
        TSampleFlags TargetFlags;
        Bytes Expected;
    };
    const Bytes row{10, 20, 30, 40, 50, 60, 70, 80};
    const Case cases[] = {
        // Both sides with alpha: copied, untouched by gamma.
        {psBGRA, psBGRA, sfGamma, {59, 80, 96, 40, 122, 132, 142, 80}},
        {psRGBA, psBGRA, 0, {30, 20, 10, 40, 70, 60, 50, 80}},
        // Source alpha dropped; target alpha that the source cannot supply left alone.
        {psRGBA, psBGR, 0, {30, 20, 10, 70, 60, 50, Fill, Fill}},
        {psRGB, psBGRA, 0, {30, 20, 10, Fill, 60, 50, 40, Fill}},
    };
    for (const Case& c : cases) {
        TColorManager cm;
        const bool sourceAlpha = c.Source == psRGBA || c.Source == psBGRA;
        Describe(cm, {c.Source, 8, uint8_t(sourceAlpha ? 4 : 3)}, {c.Target, 8, 4, c.TargetFlags});
        EXPECT_EQ(Convert(cm, {row.data()}, 8, 2), c.Expected) << int(c.Source) << " -> " << int(c.Target);
        // The masked walk and the planar layout give the same pixels.
        EXPECT_EQ(Convert(cm, {row.data()}, 8, 2, 0xC0), c.Expected);
    }
    // Planar with an alpha plane.
    TColorManager cm;
    Describe(cm, {psRGBA, 8, 4}, {psBGRA, 8, 4});
    const Bytes r{1}, g{2}, b{3}, a{4};
    EXPECT_EQ(Convert(cm, {r.data(), g.data(), b.data(), a.data()}, 4, 1), (Bytes{3, 2, 1, 4}));
}

TEST(ColorRoutines, SixteenToEightBitScaleAndSwapScaleOverEveryValue)
{
    std::vector<uint16_t> all(65536);
    for (uint32_t v = 0; v < 65536; ++v)
        all[v] = static_cast<uint16_t>(v);
    for (bool swapped : {false, true}) {
        const Bytes stored = Words(all, swapped);
        const TSampleFlags flags = swapped ? sfSwapBytes : 0;

        TColorManager grey;
        Describe(grey, {psGray, 16, 1, flags}, {psGray, 8, 1});
        const Bytes g = Convert(grey, {stored.data()}, 65536, 65536);

        // The same values as the red, green and blue of 21845 RGB pixels (+1 value),
        // written blue first.
        TColorManager rgb;
        Describe(rgb, {psRGB, 16, 3, flags}, {psBGR, 8, 3});
        const Bytes c = Convert(rgb, {stored.data()}, 65535, 21845);
        for (uint32_t v = 0; v < 65536; ++v) {
            ASSERT_EQ(g[v], Scale16To8(v)) << v << (swapped ? " swapped" : "");
            if (v < 65535) {
                ASSERT_EQ(c[v / 3 * 3 + 2 - v % 3], Scale16To8(v)) << v << (swapped ? " swapped" : "");
            }
        }
    }
    // Bytes as stored in a big-endian file.
    TColorManager cm;
    Describe(cm, {psGray, 16, 1, sfSwapBytes}, {psGray, 8, 1});
    const Bytes stored{0xFF, 0xFE, 0xFF, 0xFF, 0x01, 0x00};
    EXPECT_EQ(Convert(cm, {stored.data()}, 3, 3), (Bytes{254, 255, 0}));
}

TEST(ColorRoutines, RGBFamilyDepthsAndConverters)
{
    struct Case {
        uint8_t SourceBits, TargetBits;
        TSampleFlags SourceFlags, TargetFlags;
        Bytes Source;
        Bytes Expected;
    };
    const Case cases[] = {
        // 8 -> 16: gamma first, then widen, then swap when the source is marked swapped.
        {8, 16, 0, 0, {1, 128, 255}, Words({65535, 128 * 257, 257})},
        {8, 16, 0, sfGamma, {1, 128, 255}, Words({65535, 186 * 257, 21 * 257})},
        {8, 16, sfSwapBytes, 0, {1, 128, 255}, Words({65535, 128 * 257, 257}, true)},
        // 16 -> 8 with gamma after scaling.
        {16, 8, 0, sfGamma, Words({257, 128 * 257, 65535}), {255, 186, 21}},
        {16, 8, sfSwapBytes, sfGamma, Words({257, 128 * 257, 65534}, true), {255, 186, 21}},
        // 16 -> 16: pass or swap, never gamma.
        {16, 16, 0, sfGamma, Words({1, 2, 0x1234}), Words({0x1234, 2, 1})},
        {16, 16, sfSwapBytes, 0, Words({1, 2, 0x1234}, true), Words({0x1234, 2, 1})},
        // Depths other than 8 and 16 are not handled: nothing is written.
        {4, 8, 0, 0, {0x12, 0x34}, {Fill, Fill, Fill}},
        {8, 12, 0, 0, {1, 2, 3}, {Fill, Fill, Fill}},
    };
    for (const Case& c : cases) {
        TColorManager cm;
        Describe(cm, {psRGB, c.SourceBits, 3, c.SourceFlags}, {psBGR, c.TargetBits, 3, c.TargetFlags});
        EXPECT_EQ(Convert(cm, {c.Source.data()}, c.Expected.size(), 1), c.Expected)
            << int(c.SourceBits) << " -> " << int(c.TargetBits);
    }
    // Alpha of 16-bit sources is scaled (and swapped) but never gamma-corrected.
    TColorManager cm;
    Describe(cm, {psRGBA, 16, 4, sfSwapBytes}, {psRGBA, 8, 4, sfGamma});
    const Bytes row = Words({0, 257, 65535, 128 * 257}, true);
    EXPECT_EQ(Convert(cm, {row.data()}, 4, 1), (Bytes{0, 21, 255, 128}));
    Describe(cm, {psRGBA, 8, 4, sfSwapBytes}, {psRGBA, 16, 4});
    const Bytes row8{0, 1, 2, 3};
    EXPECT_EQ(Convert(cm, {row8.data()}, 8, 1), Words({0, 257, 514, 771}, true));
}

TEST(ColorRoutines, GrayToGray)
{
    struct Case {
        TPixelScheme Scheme;
        uint8_t SourceBits, TargetBits;
        TSampleFlags Flags;
        Bytes Source;
        Bytes Expected;
    };
    const Case cases[] = {
        {psGray, 8, 16, 0, {255, 1, 0}, Words({65535, 257, 0})},
        {psGray, 16, 16, sfSwapBytes, Words({0x1234, 7}, true), Words({0x1234, 7})},
        {psGray, 16, 16, 0, Words({0x1234, 7}), Words({0x1234, 7})},
        {psGrayAlpha, 8, 8, 0, {10, 1, 20, 2, 30, 3}, {10, 20, 30}},
        {psGrayAlpha, 8, 16, 0, {10, 1, 20, 2}, Words({2570, 5140})},
        {psGrayAlpha, 16, 8, sfSwapBytes, Words({65535, 1, 257, 2}, true), {255, 1}},
    };
    for (const Case& c : cases) {
        TColorManager cm;
        Describe(cm, {c.Scheme, c.SourceBits, 1, c.Flags}, {psGray, c.TargetBits, 1});
        const uint32_t count = static_cast<uint32_t>(c.Expected.size() / (c.TargetBits / 8));
        EXPECT_EQ(Convert(cm, {c.Source.data()}, c.Expected.size(), count), c.Expected)
            << int(c.Scheme) << " " << int(c.SourceBits) << " -> " << int(c.TargetBits);
    }
    // Planar grey and alpha: the first buffer holds only grey samples.
    TColorManager cm;
    Describe(cm, {psGrayAlpha, 8, 2}, {psGray, 8, 1});
    const Bytes grey{10, 20, 30}, alpha{1, 2, 3};
    EXPECT_EQ(Convert(cm, {grey.data(), alpha.data()}, 3, 3), (Bytes{10, 20, 30}));
    EXPECT_EQ(Convert(cm, {grey.data(), alpha.data()}, 3, 3, 0x40), (Bytes{Fill, 10, Fill}));
}

TEST(ColorRoutines, IndexedToIndexedExamples)
{
    TColorManager cm;
    Describe(cm, {psIndexed, 1, 1}, {psIndexed, 8, 1});
    const Bytes bits{0xA0};
    EXPECT_EQ(Convert(cm, {bits.data()}, 8, 8), (Bytes{255, 0, 255, 0, 0, 0, 0, 0}));

    Describe(cm, {psGray, 8, 1}, {psGray, 4, 1});
    const Bytes bytes{255, 17, 34};
    std::vector<uint8_t> target{0x00, 0x0B, 0x77};
    cm.ConvertLine({bytes.data()}, target.data(), 3);
    EXPECT_EQ(target, (Bytes{0xF1, 0x2B, 0x77}));

    Describe(cm, {psGray, 4, 1}, {psGray, 8, 1});
    const Bytes nibbles{0x0F, 0x8A};
    EXPECT_EQ(Convert(cm, {nibbles.data()}, 4, 4), (Bytes{0, 255, 136, 170}));
}

TEST(ColorRoutines, IndexedToIndexedEveryDepthPairAndMask)
{
    const unsigned depths[] = {1, 2, 4, 8};
    uint32_t seed = 1;
    for (unsigned s : depths)
        for (unsigned t : depths) {
            TColorManager cm;
            Describe(cm, {psIndexed, uint8_t(s), 1}, {psIndexed, uint8_t(t), 1});
            for (uint32_t count : {1u, 7u, 37u, 64u})
                for (int mask = 0; mask < 256; ++mask) {
                    const Bytes source = RandomBytes(64, seed++);
                    const Bytes before = RandomBytes(64, seed++);
                    Bytes target = before;
                    cm.ConvertLine({source.data()}, target.data(), count, uint8_t(mask));
                    ASSERT_EQ(target, PackedReference(source, s, t, count, uint8_t(mask), before))
                        << s << " -> " << t << " bits, count " << count << ", mask " << mask;
                }
        }
}

TEST(ColorRoutines, SixteenBitIndices)
{
    TColorManager cm;
    // 16 -> 4 bits, swapped source, other bits of the target byte kept.
    Describe(cm, {psIndexed, 16, 1, sfSwapBytes}, {psIndexed, 4, 1});
    const Bytes wide = Words({65535, 4369, 4368}, true);
    Bytes target{0x00, 0x0C};
    cm.ConvertLine({wide.data()}, target.data(), 3, 0xFF);
    EXPECT_EQ(target, (Bytes{0xF1, 0x0C}));

    // 2 -> 16 bits, stored swapped when the source says so.
    Describe(cm, {psIndexed, 2, 1, sfSwapBytes}, {psIndexed, 16, 1});
    const Bytes packed{0x1B};
    EXPECT_EQ(Convert(cm, {packed.data()}, 8, 4), Words({0, 21845, 43690, 65535}, true));
    cm.SetSourceFlags(0);
    EXPECT_EQ(Convert(cm, {packed.data()}, 8, 4, 0x50), Words({Fill * 257, 0, Fill * 257, 21845}));

    // 16 -> 16: block copy, swap, or masked copy.
    Describe(cm, {psIndexed, 16, 1}, {psIndexed, 16, 1});
    const Bytes words = Words({1, 2, 3});
    EXPECT_EQ(Convert(cm, {words.data()}, 6, 3), words);
    EXPECT_EQ(Convert(cm, {words.data()}, 6, 3, 0xA0), Words({1, Fill * 257, 2}));
    cm.SetSourceFlags(sfSwapBytes);
    EXPECT_EQ(Convert(cm, {words.data()}, 6, 3), Words({1, 2, 3}, true));
}

TEST(ColorRoutines, CMYK)
{
    struct Case {
        uint8_t SourceBits, TargetBits;
        TSampleFlags SourceFlags;
        Bytes Source; // C, M, Y, K
        Bytes Expected; // B, G, R
    };
    const Case cases[] = {
        {8, 8, 0, {0, 0, 0, 255}, {0, 0, 0}},
        {8, 8, 0, {255, 0, 0, 0}, {255, 255, 0}},
        {8, 8, 0, {0, 0, 0, 0}, {255, 255, 255}},
        {8, 8, 0, {100, 50, 200, 30}, {48, 180, 136}},
        {8, 16, 0, {100, 50, 200, 30}, Words({48 * 257, 180 * 257, 136 * 257})},
        {16, 8, 0, Words({25700, 12850, 51400, 7710}), {49, 181, 137}},
        // A big-endian file's samples are swapped before use.
        {16, 8, sfSwapBytes, Words({25700, 12850, 51400, 7710}, true), {49, 181, 137}},
        {16, 16, 0, Words({0, 65535, 1000, 0}), Words({64535, 0, 65535})},
        {16, 16, 0, Words({30000, 0, 0, 40000}), Words({25535, 25535, 13845})},
        {4, 8, 0, {0x12, 0x34}, {Fill, Fill, Fill}},
    };
    for (const Case& c : cases) {
        TColorManager cm;
        Describe(cm, {psCMYK, c.SourceBits, 4, c.SourceFlags}, {psBGR, c.TargetBits, 3});
        EXPECT_EQ(Convert(cm, {c.Source.data()}, c.Expected.size(), 1), c.Expected)
            << int(c.SourceBits) << " -> " << int(c.TargetBits) << " " << int(c.Source[0]);
    }
    // Planar with exactly four buffers, RGB order, target alpha left alone.
    TColorManager cm;
    Describe(cm, {psCMYK, 8, 4}, {psRGBA, 8, 4});
    const Bytes cy{100, 255}, ma{50, 0}, ye{200, 0}, k{30, 0};
    EXPECT_EQ(Convert(cm, {cy.data(), ma.data(), ye.data(), k.data()}, 8, 2),
              (Bytes{136, 180, 48, Fill, 0, 255, 255, Fill}));
    // Three buffers: the first is read as interleaved C, M, Y, K.
    const Bytes interleaved{255, 0, 0, 0};
    EXPECT_EQ(Convert(cm, {interleaved.data(), ma.data(), ye.data()}, 4, 1), (Bytes{0, 255, 255, Fill}));
}

TEST(ColorRoutines, CMYKEveryInkAndBlack)
{
    // Interleaved rows take the vectorised kernel, planar ones the general walk.
    Bytes interleaved, c, m, y, k;
    for (int x = 0; x < 256; ++x)
        for (int b = 0; b < 256; ++b) {
            interleaved.insert(interleaved.end(), {uint8_t(x), uint8_t(255 - x), uint8_t(x ^ 0x55), uint8_t(b)});
            c.push_back(uint8_t(x));
            m.push_back(uint8_t(255 - x));
            y.push_back(uint8_t(x ^ 0x55));
            k.push_back(uint8_t(b));
        }
    const auto ink = [](int x, int b) {
        const int v = 255 - (x + b - x * b / 255);
        return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
    };
    TColorManager cm;
    Describe(cm, {psCMYK, 8, 4}, {psBGR, 8, 3});
    const Bytes fast = Convert(cm, {interleaved.data()}, 3 * 65536, 65536);
    const Bytes planar = Convert(cm, {c.data(), m.data(), y.data(), k.data()}, 3 * 65536, 65536);
    for (size_t i = 0; i < 65536; ++i) {
        const Bytes expected{ink(y[i], k[i]), ink(m[i], k[i]), ink(c[i], k[i])};
        ASSERT_EQ(Bytes(fast.begin() + 3 * i, fast.begin() + 3 * i + 3), expected) << i;
        ASSERT_EQ(Bytes(planar.begin() + 3 * i, planar.begin() + 3 * i + 3), expected) << i;
    }
}

TEST(ColorRoutines, Lab)
{
    struct Case {
        uint8_t Bits;
        TSampleFlags Flags;
        Bytes Source;
        Bytes Expected; // R, G, B
    };
    const auto s8 = [](int v) { return static_cast<uint8_t>(v); };
    const Case cases[] = {
        {8, 0, {0, 0, 0}, {0, 0, 0}},
        {8, 0, {100, 0, 0}, {255, 255, 255}}, // red from 254.745
        {8, 0, {50, 20, s8(-30)}, {53, 40, 101}},
        {8, 0, {5, 10, 10}, {4, 1, 0}}, // the linear segment below L* 8
        {8, sfLabByteL, {200, 0, 0}, {137, 138, 138}},
        {8, sfLabOffsetAB, {60, 28, 178}, {0, 114, 7}},
        {8, sfLabOffsetAB, {50, 108, 128 + 30}, {35, 54, 15}},
        // 16 bits: L* by v * 255 / 65535, a* and b* as signed values / 256 ...
        {16, sfLabByteL, Words({128 * 257, 20 * 256, uint16_t(-30 * 256)}), {53, 40, 101}},
        // ... or unsigned ones centred on 32768, and swapped when the file is big-endian.
        {16, sfLabByteL | sfLabOffsetAB | sfSwapBytes, Words({128 * 257, 148 * 256, 98 * 256}, true), {53, 40, 101}},
    };
    for (const Case& c : cases) {
        TColorManager cm;
        Describe(cm, {psCIELab, c.Bits, 3, c.Flags}, {psRGB, 8, 3});
        EXPECT_EQ(Convert(cm, {c.Source.data()}, 3, 1), c.Expected) << int(c.Source[0]) << " flags " << int(c.Flags);
    }
    // BGR order, a 16-bit target gets the results widened, target alpha left alone.
    TColorManager cm;
    Describe(cm, {psCIELab, 8, 3}, {psBGRA, 16, 4});
    const Bytes pixel{50, 20, s8(-30)};
    EXPECT_EQ(Convert(cm, {pixel.data()}, 8, 1), Words({101 * 257, 40 * 257, 53 * 257, Fill * 257}));
}

TEST(ColorRoutines, ChromaTablesMatchTheirFormulas)
{
    struct Case {
        TPixelScheme Scheme;
        std::vector<float> Coefficients;
        int OffsetR, OffsetB;
    };
    const Case cases[] = {
        {psYCbCr, {0.299f, 0.587f, 0.114f}, 128, 128},
        {psYCbCr, {0.2125f, 0.7154f, 0.0721f}, 128, 128},
        {psPhotoYCC, {0.299f, 0.587f, 0.114f}, 137, 156},
        {psPhotoYCC, {0.2125f, 0.7154f, 0.0721f}, 137, 156},
    };
    const auto clamp = [](long v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
    for (const Case& c : cases) {
        const float cr = c.Coefficients[0], cg = c.Coefficients[1], cb = c.Coefficients[2];
        const float fRed = 2 - 2 * cr, fBlue = 2 - 2 * cb;
        const float fGreenCr = cr * fRed / cg, fGreenCb = cb * fBlue / cg;
        TColorManager cm;
        Describe(cm, {c.Scheme, 8, 3}, {psRGB, 8, 3});
        cm.SetChromaParameters(c.Coefficients, 1, 1);
        // Luma 0 and 255 expose positive and negative contributions unclamped;
        // the neutral chroma contributes nothing to green.
        for (int y : {0, 128, 255})
            for (int i = 0; i < 256; ++i) {
                const Bytes cbVaries{uint8_t(y), uint8_t(i), uint8_t(c.OffsetR)};
                const Bytes crVaries{uint8_t(y), uint8_t(c.OffsetB), uint8_t(i)};
                const long dr = i - c.OffsetR, db = i - c.OffsetB;
                const Bytes a = Convert(cm, {cbVaries.data()}, 3, 1);
                const Bytes b = Convert(cm, {crVaries.data()}, 3, 1);
                ASSERT_EQ(a[2], clamp(y + std::lrint(double(db) * fBlue))) << c.Scheme << " Cb " << i;
                ASSERT_EQ(a[1], clamp(y - std::lrint(double(db) * fGreenCb))) << c.Scheme << " Cb " << i;
                ASSERT_EQ(a[0], clamp(y)) << c.Scheme << " Cb " << i;
                ASSERT_EQ(b[0], clamp(y + std::lrint(double(dr) * fRed))) << c.Scheme << " Cr " << i;
                ASSERT_EQ(b[1], clamp(y - std::lrint(double(dr) * fGreenCr))) << c.Scheme << " Cr " << i;
                ASSERT_EQ(b[2], clamp(y)) << c.Scheme << " Cr " << i;
            }
    }
}

TEST(ColorRoutines, ChromaKernelAgreesWithTheTables)
{
    // Interleaved full rows use fixed-point factors; planar rows and masked
    // walks look the contributions up. Both must give the same pixels.
    const std::vector<float> coefficients[] = {{0.299f, 0.587f, 0.114f}, {0.2125f, 0.7154f, 0.0721f},
                                               {0.2126f, 0.7152f, 0.0722f}};
    for (TPixelScheme scheme : {psYCbCr, psPhotoYCC})
        for (const auto& co : coefficients) {
            TColorManager cm;
            Describe(cm, {scheme, 8, 3}, {psBGR, 8, 3});
            cm.SetChromaParameters(co, 1, 1);
            Bytes interleaved, ys, cbs, crs;
            for (int y : {0, 77, 128, 255})
                for (int cb = 0; cb < 256; ++cb)
                    for (int cr = 0; cr < 256; ++cr) {
                        interleaved.insert(interleaved.end(), {uint8_t(y), uint8_t(cb), uint8_t(cr)});
                        ys.push_back(uint8_t(y));
                        cbs.push_back(uint8_t(cb));
                        crs.push_back(uint8_t(cr));
                    }
            const auto n = static_cast<uint32_t>(ys.size());
            const Bytes fast = Convert(cm, {interleaved.data()}, 3 * n, n);
            const Bytes tables = Convert(cm, {ys.data(), cbs.data(), crs.data()}, 3 * n, n);
            ASSERT_EQ(fast, tables) << int(scheme) << " " << co[0];
        }
}

TEST(ColorRoutines, YCbCr)
{
    TColorManager cm;
    Describe(cm, {psYCbCr, 8, 3}, {psBGR, 8, 3});
    const Bytes grey{128, 128, 128}, bright{200, 50, 220};
    EXPECT_EQ(Convert(cm, {grey.data()}, 3, 1), (Bytes{128, 128, 128}));
    // blue 200 + rnd(-78 * 1.772) = 62; green 200 + 27 - 66 = 161; red 200 + 129 -> 255
    EXPECT_EQ(Convert(cm, {bright.data()}, 3, 1), (Bytes{62, 161, 255}));
    const Bytes y{200}, cb{50}, cr{220};
    EXPECT_EQ(Convert(cm, {y.data(), cb.data(), cr.data()}, 3, 1), (Bytes{62, 161, 255}));

    // Exact halves round to the even neighbour: factors 1.5 and 0.75.
    cm.SetChromaParameters({0.25f, 0.5f, 0.25f}, 1, 1);
    cm.SetSourceScheme(psPhotoYCC);
    cm.SetSourceScheme(psYCbCr);
    const Bytes halves{100, 129, 131}; // db 1 -> 1.5 -> 2, 0.75 -> 1; dr 3 -> 4.5 -> 4, 2.25 -> 2
    EXPECT_EQ(Convert(cm, {halves.data()}, 3, 1), (Bytes{102, 97, 104}));

    // 16-bit sources are scaled (and swapped) first; 16-bit targets get the results widened.
    TColorManager wide;
    Describe(wide, {psYCbCr, 16, 3, sfSwapBytes}, {psRGBA, 8, 4});
    const Bytes stored = Words({200 * 257, 50 * 257 + 256, 220 * 257}, true);
    EXPECT_EQ(Convert(wide, {stored.data()}, 4, 1), (Bytes{255, 161, 62, Fill}));
    Describe(wide, {psYCbCr, 8, 3}, {psRGB, 16, 3});
    EXPECT_EQ(Convert(wide, {bright.data()}, 6, 1), Words({65535, 161 * 257, 62 * 257}));
}

TEST(ColorRoutines, SixteenBitChromaToSixteenBitTargetIsClamped)
{
    TColorManager cm;
    Describe(cm, {psPhotoYCC, 16, 3}, {psBGR, 16, 3});
    // Y' = 30000 * 1.3584 = 40752; C1' = 40092 - 40092 = 0; C2' = 45209 - 35209 = 10000
    const Bytes photo = Words({30000, 40092, 45209});
    EXPECT_EQ(Convert(cm, {photo.data()}, 6, 1), Words({40752, 31481, 58967}));
    const Bytes bright = Words({65535, 65535, 65535});
    // Y' = 89022.744 and blue and red beyond the range; green = 49958.79.
    EXPECT_EQ(Convert(cm, {bright.data()}, 6, 1), Words({65535, 49959, 65535}));
    const Bytes dark = Words({0, 0, 0});
    EXPECT_EQ(Convert(cm, {dark.data()}, 6, 1), Words({0, 49894, 0}));

    Describe(cm, {psYCbCr, 16, 3}, {psRGB, 16, 3});
    const Bytes neutral = Words({1234, 32768, 32768});
    EXPECT_EQ(Convert(cm, {neutral.data()}, 6, 1), Words({1234, 1234, 1234}));
    const Bytes strong = Words({60000, 0, 65535});
    EXPECT_EQ(Convert(cm, {strong.data()}, 6, 1), Words({65535, 47877, 1935}));
}

TEST(ColorRoutines, ExtremeLumaCoefficientsStayDefined)
{
    // A file may store a zero green weight; the conversion must stay defined.
    TColorManager cm;
    Describe(cm, {psYCbCr, 8, 3}, {psBGR, 8, 3});
    cm.SetChromaParameters({0.3f, 0.0f, 1e30f}, 1, 1);
    std::vector<uint8_t> row;
    for (int i = 0; i < 256; ++i)
        row.insert(row.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i)});
    const Bytes out = Convert(cm, {row.data()}, 768, 256);
    EXPECT_EQ(out[0 * 3 + 0], 0);   // Cb 255: blue weight 1e30 -> saturated
    EXPECT_EQ(out[200 * 3 + 0], 255); // Cb 55
}
