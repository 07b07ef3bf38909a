// The TIFF container: header, directory, tag values in both byte orders, and
// the image properties made from them.
#include "imaging/readers/tiff_directory.h"
#include "imaging/readers/tiff_graphic.h"
#include "platform/exceptions.h"
#include "tests/imaging/readers/tiff_test_builder.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace tifftest;

namespace {

// A 1 x 1 grey image with the given extra tags.
TiffBuilder Minimal(bool big = false)
{
    TiffBuilder b(big);
    b.Image(1, 1, 8, 1, 1, 1, {{0x80}});
    return b;
}

std::unique_ptr<TTIFFGraphic> Properties(const TiffBuilder& b, bool expected = true, int index = 0)
{
    auto graphic = std::make_unique<TTIFFGraphic>();
    auto stream = b.Stream();
    EXPECT_EQ(graphic->LoadProperties(*stream, index), expected);
    return graphic;
}

} // namespace

TEST(TiffDirectory, TagValuesOfEveryIntegerTypeInBothByteOrders)
{
    for (const bool big : {false, true}) {
        SCOPED_TRACE(big ? "big-endian" : "little-endian");
        TiffBuilder b = Minimal(big);
        b.Tag(300, ftByte, {0xAB})
            .Tag(301, ftShort, {0xBEEF})
            .Tag(302, ftSShort, {0xFFFE})
            .Tag(303, ftLong, {0xDEADBEEF})
            .Tag(304, ftSLong, {0x80000001})
            .Tag(305, ftShort, {7, 9})            // two values inline
            .Tag(306, ftShort, {1, 2, 3, 4, 5})   // at an offset
            .Tag(307, ftByte, {1, 2, 3, 4, 5, 6}) // bytes at an offset
            .Tag(308, ftLong, {100000, 200000, 300000})
            .Bytes(309, ftUndefined, {9, 8})
            .Rational(310, {1, 3});
        const auto g = Properties(b);
        const TTIFFDirectory& d = g->Directory;
        auto stream = b.Stream();
        EXPECT_EQ(d.GetTagValue(300, 0), 0xABu);
        EXPECT_EQ(d.GetTagValue(301, 0), 0xBEEFu);
        EXPECT_EQ(d.GetTagValue(302, 0), 0xFFFEu);
        EXPECT_EQ(d.GetTagValue(303, 0), 0xDEADBEEFu);
        EXPECT_EQ(d.GetTagValue(304, 0), 0x80000001u);
        EXPECT_EQ(d.GetTagValue(310, 77), 77u) << "a RATIONAL is no integer";
        EXPECT_EQ(d.GetTagValue(999, 5), 5u);
        uint32_t count = 99;
        EXPECT_EQ(d.GetTagValueAndCount(999, count, 4), 4u);
        EXPECT_EQ(count, 0u);
        d.GetTagValueAndCount(306, count, 0);
        EXPECT_EQ(count, 5u);

        EXPECT_EQ(d.ReadTagIntegers(*stream, 305), (TCardinalArray{7, 9}));
        EXPECT_EQ(d.ReadTagIntegers(*stream, 306), (TCardinalArray{1, 2, 3, 4, 5}));
        EXPECT_EQ(d.ReadTagIntegers(*stream, 307), (TCardinalArray{1, 2, 3, 4, 5, 6}));
        EXPECT_EQ(d.ReadTagIntegers(*stream, 308), (TCardinalArray{100000, 200000, 300000}));
        EXPECT_EQ(d.ReadTagIntegers(*stream, 999), TCardinalArray{});
        EXPECT_EQ(d.ReadTagBytes(*stream, 307), (TByteArray{1, 2, 3, 4, 5, 6}));
        EXPECT_EQ(d.ReadTagBytes(*stream, 309), (TByteArray{9, 8}));
        EXPECT_EQ(d.ReadTagBytes(*stream, 306), (TByteArray{1, 2, 3, 4, 5}));
        EXPECT_EQ(d.ReadTagBytes(*stream, 308), (TByteArray{0xA0, 0x40, 0xE0}));
        EXPECT_FLOAT_EQ(d.GetTagFloat(*stream, 310, 0), 1.0f / 3);
        EXPECT_FLOAT_EQ(d.GetTagFloat(*stream, 301, 0), 48879.0f);
        EXPECT_FLOAT_EQ(d.GetTagFloat(*stream, 306, -1), -1.0f) << "count other than 1";
        EXPECT_EQ(d.ReadTagFloats(*stream, 305), (TFloatArray{7, 9}));
    }
}

TEST(TiffDirectory, RationalWithZeroDenominatorReadsAsZero)
{
    TiffBuilder b = Minimal();
    b.Rational(282, {300, 0}).Rational(283, {0, 0}).Rational(529, {1, 0, 587, 1000, 114, 1000});
    const auto g = Properties(b);
    EXPECT_EQ(g->ImageProperties.XResolution, 0.0f);
    EXPECT_EQ(g->ImageProperties.YResolution, 0.0f);
    auto stream = b.Stream();
    EXPECT_EQ(g->Directory.ReadTagFloats(*stream, 529), (TFloatArray{0.0f, 0.587f, 0.114f}));
}

// FLOAT fields read as integers: NaN and negatives give 0, as a RATIONAL
// with a zero denominator does.
TEST(TiffDirectory, FloatFieldsReadAsIntegersClampNaNToZero)
{
    TiffBuilder b = Minimal();
    b.Tag(311, ftFloat, {0x7FC00000 /* NaN */, 0xC0400000 /* -3 */, 0x40400000 /* 3 */});
    const auto g = Properties(b);
    auto stream = b.Stream();
    EXPECT_EQ(g->Directory.ReadTagIntegers(*stream, 311), (TCardinalArray{0, 0, 3}));
}

TEST(TiffDirectory, ValuesOutsideTheFileAreRejected)
{
    TiffBuilder b = Minimal();
    const auto g = Properties(b);
    TTIFFDirectory d = g->Directory;
    d.Entries.push_back({400, ftLong, 0x40000000u, 8});
    SortDirectory(d.Entries);
    auto stream = b.Stream();
    EXPECT_EQ(ErrorOf([&] { d.ReadTagIntegers(*stream, 400); }),
              "Cannot load image. Invalid or unexpected TIF/TIFF image format.");
}

TEST(TiffProperties, HeaderAndSizes)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> (*make)();
        bool expected;
    };
    const Case cases[] = {
        {"little-endian", [] { return Minimal(false).Build(); }, true},
        {"big-endian", [] { return Minimal(true).Build(); }, true},
        {"mark other than II or MM read as little-endian",
         [] {
             auto bytes = Minimal(false).Build();
             bytes[0] = 'X';
             bytes[1] = 'Y';
             return bytes;
         },
         true},
        {"version 43",
         [] {
             auto bytes = Minimal(false).Build();
             bytes[2] = 43;
             return bytes;
         },
         false},
        {"width 0", [] { return Minimal().Long(256, 0).Build(); }, false},
        {"height missing", [] { return Minimal().Remove(257).Build(); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto bytes = c.make();
        TMemoryStream stream(bytes.data(), bytes.size());
        TTIFFGraphic g;
        EXPECT_EQ(g.LoadProperties(stream, 0), c.expected);
        if (c.expected) {
            EXPECT_EQ(g.ImageProperties.FormatVersion, 42u);
            EXPECT_EQ(g.ImageProperties.Width, 1u);
            EXPECT_EQ(g.ImageProperties.FirstIFDOffset, 10u);
        }
    }
}

TEST(TiffProperties, SecondImageOfASingleImageFileIsAbsent)
{
    Properties(Minimal(), false, 1);
}

TEST(TiffProperties, StreamEndingInsideTheDirectoryRaisesReadError)
{
    auto bytes = Minimal().Build();
    bytes.resize(20);
    TMemoryStream stream(bytes.data(), bytes.size());
    TTIFFGraphic g;
    EXPECT_THROW(g.LoadProperties(stream, 0), EReadError);
}

TEST(TiffProperties, FieldsFromTags)
{
    TiffBuilder b(true);
    b.Image(10, 20, 8, 3, 6, 7, {{1}});
    b.Tag(530, ftShort, {2, 1})
        .Tag(338, ftShort, {2})
        .Rational(282, {100, 1})
        .Rational(283, {50, 1})
        .Short(296, 3)
        .Short(317, 2)
        .Short(266, 2)
        .Long(322, 16)
        .Long(323, 32)
        .Short(284, 2);
    b.Remove(278);
    const auto g = Properties(b);
    const TImageProperties& p = g->ImageProperties;
    EXPECT_EQ(p.Flags, ifBigEndian | ifReversedBitOrder | ifTiled);
    EXPECT_EQ(p.YCbCrSubSampling, (TByteArray{2, 1}));
    EXPECT_EQ(g->YCbCrPositioning, 1u);
    EXPECT_EQ(g->YCbCrCoefficients, (TFloatArray{0.299f, 0.587f, 0.114f}));
    EXPECT_TRUE(p.AlphaPresent);
    EXPECT_FLOAT_EQ(p.XResolution, 254.0f);
    EXPECT_FLOAT_EQ(p.YResolution, 127.0f);
    EXPECT_EQ(p.Predictor, 2u);
    EXPECT_EQ(p.TileWidth, 16u);
    EXPECT_EQ(p.TileLength, 32u);
    EXPECT_EQ(p.PlanarConfiguration, 2u);
    EXPECT_EQ(p.RowsPerStrip, (TCardinalArray{20}));
    EXPECT_EQ(p.BitsPerPixel, 24);
    EXPECT_EQ(p.JPEGColorMode, 0u);
    EXPECT_EQ(p.JPEGTablesMode, 3u);
    EXPECT_EQ(p.Gamma, 1.0f);
    EXPECT_EQ(p.RowIndex, 0u);
}

TEST(TiffProperties, DefaultsWhenTagsAreAbsent)
{
    TiffBuilder b;
    b.Long(256, 4).Long(257, 3).Long(278, 0xFFFFFFFF).Tag(338, ftShort, {2, 3});
    const auto g = Properties(b);
    const TImageProperties& p = g->ImageProperties;
    EXPECT_EQ(p.SamplesPerPixel, 1);
    EXPECT_EQ(p.BitsPerSample, 1);
    EXPECT_EQ(p.RowsPerStrip, (TCardinalArray{3}));
    EXPECT_EQ(p.PixelScheme, psGray);
    EXPECT_TRUE(p.Flags & ifMinIsWhite);
    EXPECT_FALSE(p.AlphaPresent) << "an extra sample above 2 is no alpha";
    EXPECT_EQ(p.XResolution, 0.0f);
    EXPECT_EQ(p.PlanarConfiguration, 1u) << "chunky is the default";
    EXPECT_EQ(p.Flags & ifTiled, 0);
}

TEST(TiffCanLoad, Signatures)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        bool expected;
    };
    auto le = Minimal(false).Build();
    auto be = Minimal(true).Build();
    auto other = le;
    other[0] = other[1] = 'X';
    auto farIFD = le;
    farIFD[4] = 0xF0;
    farIFD[5] = 0xFF;
    const Case cases[] = {
        {"II", le, true},
        {"MM", be, true},
        {"other mark", other, false},
        {"first directory beyond the end", farIFD, false},
        {"8 bytes only", std::vector<uint8_t>(le.begin(), le.begin() + 8), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TMemoryStream stream(c.bytes.data(), c.bytes.size());
        stream.SetPosition(0);
        EXPECT_EQ(TTIFFGraphic::CanLoadStream(stream), c.expected);
        EXPECT_EQ(stream.Position(), 0);
    }
}
