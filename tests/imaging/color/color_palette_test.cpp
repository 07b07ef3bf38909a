#include "tests/imaging/color/color_test_util.h"

#include <gtest/gtest.h>

using namespace colortest;

namespace {

using Entries = std::vector<TPaletteEntry>;

Entries EntriesOf(const HPALETTE& palette)
{
    return palette ? palette->Entries() : Entries{};
}

} // namespace

TEST(ColorPalette, EveryLayout)
{
    const std::vector<uint8_t> i3{10, 20, 30, 40, 50, 60};
    const std::vector<uint8_t> i4{10, 20, 30, 99, 40, 50, 60, 99};
    const std::vector<uint8_t> r8{10, 40}, g8{20, 50}, b8{30, 60};
    const std::vector<uint8_t> w3 = Words({10 * 257, 20 * 257, 30 * 257, 40 * 257, 50 * 257, 60 * 257});
    const std::vector<uint8_t> w4 = Words({10 * 257, 20 * 257, 30 * 257, 7, 40 * 257, 50 * 257, 60 * 257, 7});
    const std::vector<uint8_t> r16 = Words({10 * 257, 40 * 257}), g16 = Words({20 * 257, 50 * 257}),
                               b16 = Words({30 * 257, 60 * 257});
    const Entries rgb{{10, 20, 30, 0}, {40, 50, 60, 0}};
    const Entries bgr{{30, 20, 10, 0}, {60, 50, 40, 0}};
    struct Case {
        TPaletteLayout Layout;
        std::vector<const void*> Data;
        bool BlueFirst;
        Entries Expected;
    };
    const Case cases[] = {
        {plInterleaved8x3, {i3.data()}, false, rgb},
        {plInterleaved8x3, {i3.data()}, true, bgr},
        {plInterleaved8x4, {i4.data()}, false, rgb},
        {plInterleaved8x4, {i4.data()}, true, bgr},
        {plPlanar8x3, {r8.data(), g8.data(), b8.data()}, false, rgb},
        {plPlanar8x4, {r8.data(), g8.data(), b8.data()}, true, rgb},
        // 16-bit interleaved words run the other way round.
        {plInterleaved16x3, {w3.data()}, false, bgr},
        {plInterleaved16x3, {w3.data()}, true, rgb},
        {plInterleaved16x4, {w4.data()}, false, bgr},
        {plInterleaved16x4, {w4.data()}, true, rgb},
        {plPlanar16x3, {r16.data(), g16.data(), b16.data()}, false, rgb},
        {plPlanar16x4, {r16.data(), g16.data(), b16.data()}, true, rgb},
        // Unknown layouts and missing buffers leave the entries black.
        {TPaletteLayout(8), {i3.data()}, false, Entries(2)},
        {plPlanar8x3, {r8.data()}, false, Entries(2)},
        {plPlanar16x3, {r16.data(), nullptr, b16.data()}, false, Entries(2)},
    };
    for (const Case& c : cases) {
        TColorManager cm;
        EXPECT_EQ(EntriesOf(cm.MakeColorPalette(c.Data, c.Layout, 2, c.BlueFirst)), c.Expected)
            << "layout " << int(c.Layout) << (c.BlueFirst ? " blue first" : "");
    }
}

TEST(ColorPalette, SixteenBitEntriesAreSwappedScaledAndGammaCorrected)
{
    TColorManager cm;
    cm.SetSourceFlags(sfSwapBytes);
    const std::vector<uint8_t> r = Words({65535, 128 * 257}, true), g = Words({65534, 0}, true),
                               b = Words({256, 1 * 257}, true);
    EXPECT_EQ(EntriesOf(cm.MakeColorPalette({r.data(), g.data(), b.data()}, plPlanar16x3, 2, false)),
              (Entries{{255, 254, 0, 0}, {128, 0, 1, 0}}));
    cm.SetTargetFlags(sfGamma);
    EXPECT_EQ(EntriesOf(cm.MakeColorPalette({r.data(), g.data(), b.data()}, plPlanar16x3, 2, false)),
              (Entries{{255, 255, 0, 0}, {186, 0, 21, 0}}));
    const std::vector<uint8_t> bytes{1, 64, 128};
    EXPECT_EQ(EntriesOf(cm.MakeColorPalette({bytes.data()}, plInterleaved8x3, 1, false)),
              (Entries{{21, 136, 186, 0}}));
}

TEST(ColorPalette, CountAndRespreadForDepthChanges)
{
    std::vector<uint8_t> table;
    for (int j = 0; j < 300; ++j)
        table.insert(table.end(), {uint8_t(j), uint8_t(255 - j % 256), uint8_t(j / 2)});
    const auto entry = [&](int j) { return TPaletteEntry{table[3 * j], table[3 * j + 1], table[3 * j + 2], 0}; };

    struct Case {
        uint8_t SourceBits, TargetBits;
        uint32_t Count;
        Entries Expected;
    };
    std::vector<Case> cases;
    {
        Entries e;
        for (int i = 0; i < 256; ++i)
            e.push_back(entry(i));
        cases.push_back({8, 8, 300, e});
    }
    {
        Entries e;
        for (int i = 0; i < 16; ++i)
            e.push_back(entry(17 * i));
        cases.push_back({8, 4, 256, e});
    }
    {
        Entries e; // a widening spread repeats each entry (read before it is overwritten)
        for (int i = 0; i < 256; ++i)
            e.push_back(entry(i * 15 / 255));
        cases.push_back({4, 8, 16, e});
    }
    cases.push_back({1, 2, 2, {entry(0), entry(0), entry(0), entry(1)}});
    // Entries beyond the colour count are black.
    cases.push_back({8, 1, 100, {entry(0), TPaletteEntry{}}});
    // 16-bit indices: the palette is taken as given; so for a 16-bit target.
    cases.push_back({16, 8, 3, {entry(0), entry(1), entry(2)}});
    cases.push_back({4, 16, 3, {entry(0), entry(1), entry(2)}});
    cases.push_back({8, 8, 0, {}}); // nothing to make: null handle

    for (const Case& c : cases) {
        TColorManager cm;
        cm.SetSourceBits(c.SourceBits);
        cm.SetTargetBits(c.TargetBits);
        EXPECT_EQ(EntriesOf(cm.MakeColorPalette({table.data()}, plInterleaved8x3, c.Count, false)), c.Expected)
            << int(c.SourceBits) << " -> " << int(c.TargetBits) << " bits, " << c.Count << " colours";
    }
}

TEST(ColorPalette, GrayRamps)
{
    struct Case {
        uint8_t Bits, Samples;
        bool WhiteIsZero;
        TSampleFlags Flags;
        std::vector<uint8_t> Levels;
    };
    std::vector<uint8_t> identity(256), gamma(256);
    TColorManager reference;
    for (int i = 0; i < 256; ++i) {
        identity[i] = uint8_t(i);
        gamma[i] = reference.GammaTable()[i];
    }
    std::vector<uint8_t> down = identity;
    std::reverse(down.begin(), down.end());
    const Case cases[] = {
        {1, 1, false, 0, {0, 255}},
        {1, 1, true, 0, {255, 0}},
        {2, 1, false, 0, {0, 85, 170, 255}},
        {3, 1, false, 0, {0, 36, 72, 108, 144, 180, 216, 252}},
        {4, 1, true, 0, {255, 238, 221, 204, 187, 170, 153, 136, 119, 102, 85, 68, 51, 34, 17, 0}},
        {2, 2, false, 0, {0, 17, 34, 51, 68, 85, 102, 119, 136, 153, 170, 187, 204, 221, 238, 255}},
        {8, 1, false, 0, identity},
        {8, 3, true, 0, down},
        {16, 1, false, 0, identity},
        {8, 1, false, sfGamma, gamma},
        {1, 1, false, sfGamma, {0, 255}},
    };
    for (const Case& c : cases) {
        TColorManager cm;
        cm.SetTargetBits(c.Bits);
        cm.SetTargetSamples(c.Samples);
        cm.SetTargetFlags(c.Flags);
        Entries expected;
        for (uint8_t v : c.Levels)
            expected.push_back({v, v, v, 0});
        EXPECT_EQ(EntriesOf(cm.MakeGrayPalette(c.WhiteIsZero)), expected)
            << int(c.Bits) << " x " << int(c.Samples) << (c.WhiteIsZero ? " white is zero" : "");
    }
}
