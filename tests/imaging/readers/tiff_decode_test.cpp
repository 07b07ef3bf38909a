// Decoding TIFF pixel data: every colour scheme and compression the reader
// takes, strips, tiles and planes, built byte by byte.
#include "imaging/readers/tiff_graphic.h"
#include "platform/exceptions.h"
#include "tests/support/test_support.h"
#include "tests/imaging/readers/tiff_test_builder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <functional>

using namespace tifftest;

namespace {

using Bytes = std::vector<uint8_t>;
using Pix = std::vector<uint32_t>;
using pwtest::Bits;

const std::string NotSupported = "Cannot load image. The compression scheme is not supported for TIF/TIFF files.";
const std::string Invalid = "Cannot load image. Invalid or unexpected TIF/TIFF image format.";

Bytes Deflate(const Bytes& data)
{
    uLongf size = compressBound(data.size());
    Bytes out(size);
    compress2(out.data(), &size, data.data(), data.size(), 9);
    out.resize(size);
    return out;
}

Bytes Reversed(Bytes bytes)
{
    for (auto& b : bytes) {
        uint8_t r = 0;
        for (int i = 0; i < 8; ++i)
            if (b & (1 << i))
                r |= static_cast<uint8_t>(0x80 >> i);
        b = r;
    }
    return bytes;
}

// 16-bit values in a byte order.
Bytes Words(std::initializer_list<uint32_t> values, bool big)
{
    Bytes out;
    for (uint32_t v : values) {
        if (big) {
            out.push_back(static_cast<uint8_t>(v >> 8));
            out.push_back(static_cast<uint8_t>(v));
        } else {
            out.push_back(static_cast<uint8_t>(v));
            out.push_back(static_cast<uint8_t>(v >> 8));
        }
    }
    return out;
}

uint32_t Grey(uint32_t v)
{
    return v * 0x010101;
}

constexpr uint32_t W = 0xFFFFFF;
constexpr uint32_t K = 0x000000;

std::vector<uint32_t> ColorMap16()
{
    std::vector<uint32_t> map;
    for (uint32_t i = 0; i < 16; ++i)
        map.push_back(i * 4369);
    for (uint32_t i = 0; i < 16; ++i)
        map.push_back(65535 - i * 4369);
    for (uint32_t i = 0; i < 16; ++i)
        map.push_back(0x8000);
    return map;
}

// Two RGB rows wider than the pieces the reader decodes PackBits RGB rows in
// (2048 pixels), in literal packets of 128 bytes that cross pixels and
// pieces; the data end one byte into pixel 2070 of the second row.
constexpr int kWide = 2100;
constexpr size_t kWideCut = (kWide + 2070) * 3 + 1;

uint8_t WideSample(size_t i)
{
    return static_cast<uint8_t>(i * 7 + i / 251);
}

Bytes WidePackBitsStrip()
{
    Bytes strip;
    for (size_t i = 0; i < kWideCut; i += 128) {
        const size_t n = std::min<size_t>(128, kWideCut - i);
        strip.push_back(static_cast<uint8_t>(n - 1));
        for (size_t k = i; k < i + n; ++k)
            strip.push_back(WideSample(k));
    }
    return strip;
}

Pix WidePixels()
{
    Pix pixels;
    for (size_t i = 0; i < size_t(2 * kWide) * 3; i += 3) {
        uint32_t v = 0;
        for (size_t k = 0; k < 3; ++k)
            v = v << 8 | (i + k < kWideCut ? WideSample(i + k) : 0);
        pixels.push_back(v);
    }
    return pixels;
}

struct DecodeCase {
    const char* name;
    std::function<TiffBuilder()> make;
    int width;
    int height;
    TBitmapFormat format;
    Pix pixels;
};

} // namespace

TEST(TiffDecode, GoodFilesOfEveryVariant)
{
    const DecodeCase cases[] = {
        {"8-bit grey, little-endian",
         [] { return std::move(TiffBuilder().Image(2, 2, 8, 1, 1, 1, {{0, 50, 200, 255}})); }, 2, 2, bf8Bit,
         {Grey(0), Grey(50), Grey(200), Grey(255)}},
        {"8-bit grey, big-endian",
         [] { return std::move(TiffBuilder(true).Image(2, 2, 8, 1, 1, 1, {{0, 50, 200, 255}})); }, 2, 2, bf8Bit,
         {Grey(0), Grey(50), Grey(200), Grey(255)}},
        {"8-bit min-is-white",
         [] { return std::move(TiffBuilder().Image(3, 1, 8, 1, 0, 1, {{0, 55, 255}})); }, 3, 1, bf8Bit,
         {Grey(255), Grey(200), Grey(0)}},
        {"1-bit min-is-black, 10 wide",
         [] { return std::move(TiffBuilder().Image(10, 1, 1, 1, 1, 1, {{0xA0, 0x40}})); }, 10, 1, bf1Bit,
         {W, K, W, K, K, K, K, K, K, W}},
        {"1-bit min-is-white",
         [] { return std::move(TiffBuilder().Image(4, 1, 1, 1, 0, 1, {{0x50}})); }, 4, 1, bf1Bit, {W, K, W, K}},
        {"1-bit, fill order 2",
         [] { return std::move(TiffBuilder().Image(8, 1, 1, 1, 1, 1, {{0x05}}).Short(266, 2)); }, 8, 1, bf1Bit,
         {W, K, W, K, K, K, K, K}},
        {"PackBits RGB, fill order 2",
         [] { return std::move(TiffBuilder().Image(1, 1, 8, 3, 2, 32773, {Reversed({0x02, 1, 2, 3})}).Short(266, 2)); },
         1, 1, bf24Bit, {0x010203}},
        {"2-bit grey in a 4-bit bitmap",
         [] { return std::move(TiffBuilder().Image(5, 1, 2, 1, 1, 1, {{0x1B, 0xC0}})); }, 5, 1, bf4Bit,
         {Grey(0), Grey(85), Grey(170), Grey(255), Grey(255)}},
        {"4-bit palette",
         [] {
             TiffBuilder b;
             b.Image(4, 1, 4, 1, 3, 1, {{0x01, 0x2F}}).Tag(320, ftShort, ColorMap16());
             return b;
         },
         4, 1, bf4Bit, {0x00FF7F, 0x11EE7F, 0x22DD7F, 0xFF007F}},
        {"8-bit palette, big-endian colour map",
         [] {
             std::vector<uint32_t> map(768, 0);
             map[1] = 0xFFFF;          // red of 1
             map[256 + 2] = 0x8000;    // green of 2
             map[512 + 255] = 0xFEFF;  // blue of 255
             TiffBuilder b(true);
             b.Image(3, 1, 8, 1, 3, 1, {{1, 2, 255}}).Tag(320, ftShort, map);
             return b;
         },
         3, 1, bf8Bit, {0xFF0000, 0x007F00, 0x0000FE}},
        {"16-bit grey, little-endian",
         [] {
             return std::move(TiffBuilder().Image(4, 1, 16, 1, 1, 1, {Words({0xFFFF, 0xFFFE, 0x0100, 0x8000}, false)}));
         },
         4, 1, bf8Bit, {Grey(255), Grey(254), Grey(0), Grey(127)}},
        {"16-bit grey, big-endian",
         [] {
             return std::move(
                 TiffBuilder(true).Image(4, 1, 16, 1, 1, 1, {Words({0xFFFF, 0xFFFE, 0x0100, 0x8000}, true)}));
         },
         4, 1, bf8Bit, {Grey(255), Grey(254), Grey(0), Grey(127)}},
        {"16-bit grey min-is-white",
         [] { return std::move(TiffBuilder().Image(2, 1, 16, 1, 0, 1, {Words({0, 0xFFFF}, false)})); }, 2, 1, bf8Bit,
         {Grey(255), Grey(0)}},
        {"16-bit RGB, big-endian",
         [] {
             return std::move(TiffBuilder(true).Image(1, 1, 16, 3, 2, 1, {Words({0xFFFF, 0x8000, 0x0100}, true)}));
         },
         1, 1, bf24Bit, {0xFF7F00}},
        {"16-bit RGB, little-endian",
         [] {
             return std::move(TiffBuilder().Image(1, 1, 16, 3, 2, 1, {Words({0xFFFF, 0x8000, 0x0100}, false)}));
         },
         1, 1, bf24Bit, {0xFF7F00}},
        {"8-bit RGB",
         [] { return std::move(TiffBuilder().Image(2, 1, 8, 3, 2, 1, {{10, 20, 30, 200, 100, 0}})); }, 2, 1,
         bf24Bit, {0x0A141E, 0xC86400}},
        {"grey with alpha",
         [] {
             TiffBuilder b;
             b.Image(2, 1, 8, 2, 1, 1, {{10, 255, 200, 0}}).Tag(338, ftShort, {2});
             return b;
         },
         2, 1, bf8Bit, {Grey(10), Grey(200)}},
        {"palette with alpha",
         [] {
             std::vector<uint32_t> map(768, 0);
             map[3] = 0xFFFF;
             TiffBuilder b;
             b.Image(2, 1, 8, 2, 3, 1, {{3, 255, 0, 9}}).Tag(338, ftShort, {1}).Tag(320, ftShort, map);
             return b;
         },
         2, 1, bf8Bit, {0xFF0000, 0x000000}},
        {"CMYK",
         [] {
             return std::move(
                 TiffBuilder().Image(4, 1, 8, 4, 5, 1, {{0, 0, 0, 255, 255, 0, 0, 0, 0, 0, 0, 0, 100, 50, 0, 0}}));
         },
         4, 1, bf24Bit, {K, 0x00FFFF, W, 0x9BCDFF}},
        {"CIE L*a*b*",
         [] { return std::move(TiffBuilder().Image(3, 1, 8, 3, 8, 1, {{0, 0, 0, 128, 0, 0, 255, 0, 0}})); }, 3, 1,
         bf24Bit, {K, 0x2F2F2F, W}},
        {"YCbCr without subsampling",
         [] {
             TiffBuilder b;
             b.Image(2, 1, 8, 3, 6, 1, {{128, 128, 128, 76, 85, 255}}).Tag(530, ftShort, {1, 1});
             return b;
         },
         2, 1, bf24Bit, {0x808080, 0xFE0000}},
        {"strips share one RowsPerStrip; the last is short",
         [] { return std::move(TiffBuilder().Image(2, 3, 8, 1, 1, 1, {{1, 2, 3, 4}, {5, 6, 99, 99}}, 2)); }, 2, 3,
         bf8Bit, {Grey(1), Grey(2), Grey(3), Grey(4), Grey(5), Grey(6)}},
        {"planar RGB, one strip per plane",
         [] {
             TiffBuilder b;
             b.Image(2, 1, 8, 3, 2, 1, {{10, 20}, {30, 40}, {50, 60}}).Short(284, 2);
             return b;
         },
         2, 1, bf24Bit, {0x0A1E32, 0x14283C}},
        {"planar grey with alpha uses the grey plane",
         [] {
             TiffBuilder b;
             b.Image(2, 1, 8, 2, 1, 1, {{10, 20}, {255, 255}}).Short(284, 2).Tag(338, ftShort, {2});
             return b;
         },
         2, 1, bf8Bit, {Grey(10), Grey(20)}},
        {"PackBits",
         [] { return std::move(TiffBuilder().Image(6, 1, 8, 1, 1, 32773, {{0x01, 1, 2, 0xFD, 3}})); }, 6, 1,
         bf8Bit, {Grey(1), Grey(2), Grey(3), Grey(3), Grey(3), Grey(3)}},
        {"PackBits grey that fills the bitmap's rows, two strips",
         [] {
             return std::move(
                 TiffBuilder().Image(4, 3, 8, 1, 1, 32773, {{0x03, 1, 2, 3, 4, 0xFD, 9}, {0x80, 0xFD, 7}}, 2));
         },
         4, 3, bf8Bit,
         {Grey(1), Grey(2), Grey(3), Grey(4), Grey(9), Grey(9), Grey(9), Grey(9), Grey(7), Grey(7), Grey(7), Grey(7)}},
        {"PackBits RGB whose packets cross the row ends",
         [] {
             return std::move(
                 TiffBuilder().Image(2, 2, 8, 3, 2, 32773, {{0x03, 1, 2, 3, 4, 0xFD, 5, 0x03, 6, 7, 8, 9}}));
         },
         2, 2, bf24Bit, {0x010203, 0x040505, 0x050506, 0x070809}},
        {"PackBits RGB wider than a decoding piece, cut in the second row",
         [] { return std::move(TiffBuilder().Image(kWide, 2, 8, 3, 2, 32773, {WidePackBitsStrip()})); }, kWide, 2,
         bf24Bit, WidePixels()},
        {"Deflate 8 with predictor 2, RGB",
         [] {
             TiffBuilder b;
             b.Image(3, 1, 8, 3, 2, 8, {Deflate({10, 20, 30, 5, 5, 5, 251, 0, 1})}).Short(317, 2);
             return b;
         },
         3, 1, bf24Bit, {0x0A141E, 0x0F1923, 0x0A1924}},
        {"Deflate 32946 without predictor",
         [] { return std::move(TiffBuilder().Image(2, 2, 8, 1, 1, 32946, {Deflate({1, 2, 3, 4})})); }, 2, 2,
         bf8Bit, {Grey(1), Grey(2), Grey(3), Grey(4)}},
        {"Deflate with predictor 2, 16-bit grey, big-endian",
         [] {
             TiffBuilder b(true);
             // 0x80FF, +0x0001 carries into the high byte, +0x7F00 wraps to 0
             b.Image(3, 1, 16, 1, 1, 8, {Deflate(Words({0x80FF, 0x0001, 0x7F00}, true))}).Short(317, 2);
             return b;
         },
         3, 1, bf8Bit, {Grey(128), Grey(128), Grey(0)}},
        {"Deflate with predictor 2, 16-bit grey, little-endian",
         [] {
             TiffBuilder b;
             // 0x1234, 0x1334, 0x0334
             b.Image(3, 1, 16, 1, 1, 8, {Deflate(Words({0x1234, 0x0100, 0xF000}, false))}).Short(317, 2);
             return b;
         },
         3, 1, bf8Bit, {Grey(18), Grey(19), Grey(3)}},
        {"predictor 2 is ignored for uncompressed data",
         [] {
             TiffBuilder b;
             b.Image(2, 1, 8, 1, 1, 1, {{10, 10}}).Short(317, 2);
             return b;
         },
         2, 1, bf8Bit, {Grey(10), Grey(10)}},
        {"ThunderScan",
         [] {
             return std::move(TiffBuilder().Image(6, 2, 4, 1, 1, 32809,
                                                  {{0xC5, 0xC7, 0x02, 0x8B, 0xC0, 0x45, 0x02}}));
         },
         6, 2, bf4Bit,
         {Grey(85), Grey(119), Grey(119), Grey(119), Grey(136), Grey(187), Grey(0), Grey(0), Grey(17), Grey(34),
          Grey(34), Grey(34)}},
        {"modified Huffman",
         [] {
             // W2 B2 | W0 B4, each row on a byte boundary
             return std::move(TiffBuilder().Image(4, 2, 1, 1, 0, 2, {Bits("0111 11 00  00110101 011")}));
         },
         4, 2, bf1Bit, {W, W, K, K, K, K, K, K}},
        {"Group 3 one-dimensional",
         [] {
             return std::move(TiffBuilder().Image(
                 4, 2, 1, 1, 0, 3, {Bits("000000000001 0111 11 000000000001 00110101 011 000000000001")}));
         },
         4, 2, bf1Bit, {W, W, K, K, K, K, K, K}},
        {"Group 3, fill order 2",
         [] {
             TiffBuilder b;
             b.Image(4, 2, 1, 1, 0, 3, {Reversed(Bits("000000000001 0111 11 000000000001 00110101 011"))})
                 .Short(266, 2);
             return b;
         },
         4, 2, bf1Bit, {W, W, K, K, K, K, K, K}},
        {"Group 3 with black-is-zero: white runs are 0 bits, which are black",
         [] {
             return std::move(
                 TiffBuilder().Image(4, 1, 1, 1, 1, 3, {Bits("000000000001 0111 11 000000000001")}));
         },
         4, 1, bf1Bit, {K, K, W, W}},
        {"tiled, edge tiles clipped",
         [] {
             // 20 x 18 grey in 16 x 16 tiles: tile t holds the value t + 1 everywhere.
             TiffBuilder b;
             b.Long(256, 20).Long(257, 18).Short(258, 8).Short(259, 1).Short(262, 1).Short(277, 1);
             b.Long(322, 16).Long(323, 16);
             std::vector<size_t> blocks;
             for (uint8_t t = 0; t < 4; ++t)
                 blocks.push_back(b.Block(Bytes(256, static_cast<uint8_t>(t + 1))));
             b.Offsets(324, blocks).Tag(325, ftLong, {256, 256, 256, 256});
             return b;
         },
         20, 18, bf8Bit,
         [] {
             Pix p;
             for (int y = 0; y < 18; ++y)
                 for (int x = 0; x < 20; ++x)
                     p.push_back(Grey(1 + (x >= 16) + 2 * (y >= 16)));
             return p;
         }()},
        {"tiled PackBits RGB",
         [] {
             // 3 x 1 in 2 x 1 tiles (a tile width that is no multiple of 16 still decodes).
             TiffBuilder b;
             b.Long(256, 3).Long(257, 1).Tag(258, ftShort, {8, 8, 8}).Short(259, 32773).Short(262, 2).Short(277, 3);
             b.Long(322, 2).Long(323, 1);
             const Bytes t0 = {0x05, 1, 2, 3, 4, 5, 6};
             const Bytes t1 = {0xFB, 9};
             b.Offsets(324, {b.Block(t0), b.Block(t1)}).Tag(325, ftLong, {7, 2});
             return b;
         },
         3, 1, bf24Bit, {0x010203, 0x040506, 0x090909}},
        {"tiled 1-bit",
         [] {
             TiffBuilder b;
             b.Long(256, 20).Long(257, 1).Short(258, 1).Short(259, 1).Short(262, 1).Short(277, 1);
             b.Long(322, 16).Long(323, 1);
             b.Offsets(324, {b.Block({0xFF, 0x00}), b.Block({0xA0, 0x00})}).Tag(325, ftLong, {2, 2});
             return b;
         },
         20, 1, bf1Bit,
         {W, W, W, W, W, W, W, W, K, K, K, K, K, K, K, K, W, K, W, K}},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<TTIFFGraphic> g;
        ASSERT_NO_THROW(g = Load(c.make().Build()));
        EXPECT_EQ(g->Width(), c.width);
        EXPECT_EQ(g->Height(), c.height);
        EXPECT_EQ(g->PixelFormat(), c.format);
        EXPECT_EQ(Pixels(*g), c.pixels);
    }
}

TEST(TiffDecode, RGBAKeepsItsAlpha)
{
    TiffBuilder b;
    b.Image(2, 1, 8, 4, 2, 1, {{10, 20, 30, 40, 50, 60, 70, 255}}).Tag(338, ftShort, {2});
    const auto g = Load(b.Build());
    EXPECT_EQ(g->PixelFormat(), bf32Bit);
    EXPECT_TRUE(g->AlphaPresent());
    uint32_t argb[2];
    g->RowToARGB(0, 0, 2, argb);
    EXPECT_EQ(argb[0], 0x280A141Eu);
    EXPECT_EQ(argb[1], 0xFF323C46u);
}

TEST(TiffDecode, PaletteOf16ColoursHas16Entries)
{
    TiffBuilder b;
    b.Image(1, 1, 4, 1, 3, 1, {{0x00}}).Tag(320, ftShort, ColorMap16());
    const auto g = Load(b.Build());
    ASSERT_TRUE(g->Palette());
    ASSERT_EQ(g->Palette()->Count(), 16);
    EXPECT_EQ((*g->Palette())[15], (TPaletteEntry{255, 0, 127, 0}));
}

TEST(TiffDecode, GreyPaletteRunsFromWhiteForMinIsWhite)
{
    const auto g = Load(TiffBuilder().Image(1, 1, 16, 1, 0, 1, {Words({0}, false)}).Build());
    ASSERT_TRUE(g->Palette());
    ASSERT_EQ(g->Palette()->Count(), 256);
    EXPECT_EQ((*g->Palette())[0], (TPaletteEntry{255, 255, 255, 0}));
    EXPECT_EQ((*g->Palette())[255], (TPaletteEntry{0, 0, 0, 0}));
}

TEST(TiffDecode, RefusedCompressions)
{
    const std::pair<const char*, std::function<TiffBuilder()>> cases[] = {
        {"old-style JPEG", [] { return std::move(TiffBuilder().Image(1, 1, 8, 3, 6, 6, {{0x00}})); }},
        {"JBIG", [] { return std::move(TiffBuilder().Image(1, 1, 1, 1, 0, 34661, {{0x00}})); }},
        {"Pixar log", [] { return std::move(TiffBuilder().Image(1, 1, 8, 1, 1, 32909, {{0x00}})); }},
        {"LERC", [] { return std::move(TiffBuilder().Image(1, 1, 8, 3, 2, 34887, {{0x00}})); }},
    };
    for (const auto& [name, make] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ErrorOf([&] { Load(make().Build()); }), NotSupported);
    }
}

// The codings of scanned archives, hand-built: LZW codes are 9 bits, most
// significant bit first (Clear 256, EndOfInformation 257); Group 4 rows as
// in the decoder tests.
TEST(TiffDecode, ScanArchiveCodings)
{
    const Bytes g4 = Bits("001 0111 10 1" "111"); // rows W W K K K W W W, twice
    const Pix g4Rows = {W, W, K, K, K, W, W, W, W, W, K, K, K, W, W, W};
    Pix inverted = g4Rows;
    for (auto& v : inverted)
        v ^= 0xFFFFFF;
    const std::tuple<const char*, std::function<TiffBuilder()>, Pix> cases[] = {
        {"no Compression tag: uncompressed",
         [] { return std::move(TiffBuilder().Image(2, 1, 8, 1, 1, 1, {{0x10, 0x20}}).Remove(259)); },
         {0x101010, 0x202020}},
        // Differences 10, 5, 5 restore to 10, 15, 20.
        {"LZW with predictor 2",
         [] {
             return std::move(
                 TiffBuilder().Image(3, 1, 8, 1, 1, 5, {{0x80, 0x02, 0x80, 0xA0, 0x58, 0x08}}).Short(317, 2));
         },
         {0x0A0A0A, 0x0F0F0F, 0x141414}},
        {"Group 4, min-is-white",
         [&] { return std::move(TiffBuilder().Image(8, 2, 1, 1, 0, 4, {g4})); }, g4Rows},
        {"Group 4, min-is-black, fill order 2",
         [&] { return std::move(TiffBuilder().Image(8, 2, 1, 1, 1, 4, {Reversed(g4)}).Short(266, 2)); }, inverted},
        {"Group 3 two-dimensional",
         [] {
             return std::move(TiffBuilder()
                                  .Image(8, 2, 1, 1, 0, 3, {Bits("000000000001 1 0111 10 1000 000000000001 0 111")})
                                  .Long(292, 1));
         },
         g4Rows},
    };
    for (const auto& [name, make, pixels] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Pixels(*Load(make().Build())), pixels);
    }
    // T6Options bit 1 allows uncompressed mode; data that use it are refused.
    EXPECT_EQ(ErrorOf([] { Load(TiffBuilder().Image(8, 1, 1, 1, 0, 4, {Bits("0000001111")}).Long(293, 2).Build()); }),
              "CCITT uncompressed mode is not supported.");
}

TEST(TiffDecode, Group3WithFillBitsOptionDecodes)
{
    // T4Options bit 2: end-of-line codes are byte aligned by leading zeros.
    const auto g = Load(TiffBuilder()
                            .Image(4, 1, 1, 1, 0, 3, {Bits("0000 000000000001 0111 11")})
                            .Long(292, 4)
                            .Build());
    EXPECT_EQ(Pixels(*g), (Pix{W, W, K, K}));
}

TEST(TiffDecode, NoStripOffsetsGiveAnEmptyImageOfTheRightSize)
{
    const auto g = Load(TiffBuilder().Image(3, 2, 8, 1, 1, 1, {{1}}).Remove(273).Build());
    EXPECT_EQ(g->Width(), 3);
    EXPECT_EQ(g->Height(), 2);
    EXPECT_EQ(Pixels(*g), Pix(6, 0));
}

TEST(TiffDecode, ProgressReportsEveryRow)
{
    TiffBuilder b;
    b.Image(2, 3, 8, 1, 1, 1, {{1, 2}, {3, 4}, {5, 6}}, 1);
    const Bytes bytes = b.Build();
    TTIFFGraphic g;
    std::vector<std::string> events;
    g.OnProgress = [&](TGraphic*, TProgressStage stage, uint8_t percent, bool redraw, const TRect& r,
                       const std::string& msg) {
        events.push_back(std::to_string(stage) + " " + std::to_string(percent) + (redraw ? " r " : " - ") +
                         std::to_string(r.Top) + "-" + std::to_string(r.Right) + " " + msg);
    };
    TMemoryStream stream(bytes.data(), bytes.size());
    g.LoadFromStream(stream);
    const std::vector<std::string> expected = {
        "0 0 - 0-0 Preparing...", "2 0 - 0-2 ",  "0 0 - 0-2 Transfering...", "1 33 r 0-2 ",
        "1 67 r 1-2 ",            "1 100 r 2-2 ", "2 0 - 3-2 ",
    };
    EXPECT_EQ(events, expected);
    EXPECT_EQ(g.ImageProperties.StripCount, 3u);
    EXPECT_EQ(g.ImageProperties.RowIndex, 3u);
    EXPECT_EQ(g.ImageProperties.RowBytes, 2u);
}
