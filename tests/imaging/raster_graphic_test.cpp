#include "imaging/byte_reader.h"
#include "imaging/image_limits.h"
#include "imaging/raster_graphic.h"
#include "platform/exceptions.h"

#include <gtest/gtest.h>

#include <random>

TEST(ReaderHelpers, UndoDifferencingAddsThePixelToTheLeft)
{
    uint8_t row[] = {10, 20, 30, 1, 1, 1};
    UndoDifferencing3(row, 1);
    EXPECT_EQ(std::vector<uint8_t>(row, row + 6), (std::vector<uint8_t>{10, 20, 30, 11, 21, 31}));
    uint8_t wrap[] = {200, 100, 0, 0};
    UndoDifferencing1(wrap, 3);
    EXPECT_EQ(std::vector<uint8_t>(wrap, wrap + 4), (std::vector<uint8_t>{200, 44, 44, 44}));
    uint8_t single[] = {5, 6, 7, 8, 9};
    UndoDifferencing4(single, 0);
    EXPECT_EQ(single[4], 9);
}

TEST(ReaderHelpers, Upsample2xExample)
{
    uint8_t plane[4 * 4] = {0, 100, 0, 0, 100, 200};
    Upsample2x(2, 2, 4, plane);
    const std::vector<uint8_t> expected = {0, 50, 100, 100, 50, 100, 150, 150, 100, 150, 200, 200, 100, 150, 200, 200};
    EXPECT_EQ(std::vector<uint8_t>(plane, plane + 16), expected);
}

TEST(ReaderHelpers, Upsample2xMatchesAStraightforwardReference)
{
    std::mt19937 random(7);
    for (int round = 0; round < 50; ++round) {
        const uint32_t w = 2 + random() % 9, h = 2 + random() % 9, stride = 2 * w + random() % 3;
        std::vector<uint8_t> source(size_t(w) * h);
        for (auto& v : source)
            v = static_cast<uint8_t>(random());
        auto s = [&](uint32_t x, uint32_t y) { return int(source[size_t(y) * w + x]); };
        std::vector<uint8_t> expected(size_t(2 * w) * 2 * h);
        auto e = [&](uint32_t x, uint32_t y) -> uint8_t& { return expected[size_t(y) * 2 * w + x]; };
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                e(2 * x, 2 * y) = uint8_t(s(x, y));
                e(2 * x + 1, 2 * y) = uint8_t(x + 1 < w ? (s(x, y) + s(x + 1, y) + 1) / 2 : s(x, y));
            }
        for (uint32_t y = 0; y + 1 < h; ++y)
            for (uint32_t x = 0; x < 2 * w; ++x) {
                const int a = e(x, 2 * y), b = e(x, 2 * y + 2);
                if (x % 2 == 1 && x + 1 < 2 * w - 1)
                    e(x, 2 * y + 1) = uint8_t((e(x - 1, 2 * y) + e(x + 1, 2 * y) + e(x - 1, 2 * y + 2) + e(x + 1, 2 * y + 2) + 2) / 4);
                else
                    e(x, 2 * y + 1) = uint8_t((a + b + 1) / 2);
            }
        for (uint32_t x = 0; x < 2 * w; ++x)
            e(x, 2 * h - 1) = e(x, 2 * h - 2);
        std::vector<uint8_t> buffer(size_t(stride) * 2 * h, 0xEE);
        for (uint32_t y = 0; y < h; ++y)
            std::copy_n(&source[size_t(y) * w], w, &buffer[size_t(y) * stride]);
        Upsample2x(w, h, stride, buffer.data());
        for (uint32_t y = 0; y < 2 * h; ++y)
            for (uint32_t x = 0; x < 2 * w; ++x)
                ASSERT_EQ(buffer[size_t(y) * stride + x], e(x, y)) << w << "x" << h << " at " << x << "," << y;
    }
}

TEST(ReaderHelpers, SwapsReverseBytes)
{
    uint8_t words[] = {1, 2, 3, 4};
    SwapWords(words, 2);
    EXPECT_EQ(std::vector<uint8_t>(words, words + 4), (std::vector<uint8_t>{2, 1, 4, 3}));
    SwapLongs(words, 1);
    EXPECT_EQ(std::vector<uint8_t>(words, words + 4), (std::vector<uint8_t>{3, 4, 1, 2}));
    EXPECT_EQ(SwapLong(0x11223344u), 0x44332211u);
}

namespace {
class TPropertyTestGraphic : public TRasterGraphic {
    PW_GRAPHIC_CLASS(TPropertyTestGraphic)
public:
    bool LoadProperties(TStream& stream, int imageIndex) override
    {
        TRasterGraphic::LoadProperties(stream, imageIndex);
        ImageProperties.Width = 7;
        return true;
    }
};
PW_DEFINE_GRAPHIC_CLASS(TPropertyTestGraphic, TRasterGraphic)
} // namespace

TEST(RasterGraphic, LoadPropertiesResetsEverythingButGamma)
{
    TPropertyTestGraphic graphic;
    graphic.ImageProperties.Gamma = 2.5f;
    graphic.ImageProperties.RowsPerStrip = {1, 2};
    graphic.ImageProperties.Flags = ifTiled;
    TMemoryStream empty;
    EXPECT_TRUE(graphic.LoadProperties(empty, 0));
    EXPECT_EQ(graphic.ImageProperties.Gamma, 1.0f);
    EXPECT_TRUE(graphic.ImageProperties.RowsPerStrip.empty());
    EXPECT_EQ(graphic.ImageProperties.Flags, 0);
    EXPECT_EQ(graphic.ImageProperties.Width, 7u);
}

TEST(RasterGraphic, AssignCopiesPropertiesOnlyFromAnotherReader)
{
    TPropertyTestGraphic source, target;
    source.ImageProperties.JPEGTables = {1, 2, 3};
    source.SetPixelFormat(bf8Bit);
    source.SetSize(3, 2);
    source.ScanLine(1)[2] = 9;
    target.Assign(source);
    EXPECT_EQ(target.ImageProperties.JPEGTables, (TByteArray{1, 2, 3}));
    EXPECT_EQ(target.ScanLine(1)[2], 9);

    TBitmap plain;
    plain.SetSize(1, 1);
    target.Assign(plain);
    EXPECT_EQ(target.ImageProperties.JPEGTables, (TByteArray{1, 2, 3}));
    EXPECT_EQ(target.Width(), 1);
}

TEST(ImageLimits, AdmitsLargeScansAndRefusesAbsurdSizes)
{
    EXPECT_NO_THROW(CheckImageSize("TIF/TIFF", 20000, 15000, 32));
    EXPECT_NO_THROW(CheckImageSize("TIF/TIFF", 30000, 30000, 24));
    try {
        CheckImageSize("PNG", 100000, 100000, 32);
        FAIL();
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Cannot load image. The PNG image is too large (100000 x 100000 pixels).");
    }
    EXPECT_THROW(CheckImageSize("PNG", 0xFFFFFFFFull, 2, 8), EInvalidGraphic);
    EXPECT_THROW(CheckBufferSize("PNG", 1ull << 40, 8), EInvalidGraphic);
    EXPECT_THROW(CheckDeclaredSize("SGI", 101, 100), EInvalidGraphic);
}

TEST(ByteReader, ReadsBothByteOrdersAndRaisesOnShortData)
{
    const uint8_t data[] = {0x12, 0x34, 0x56, 0x78, 0x9A};
    TMemoryStream stream(data, sizeof data);
    TByteReader reader(stream);
    EXPECT_EQ(reader.U16LE(), 0x3412);
    EXPECT_EQ(reader.U16BE(), 0x5678);
    EXPECT_THROW(reader.U16LE(), EReadError);
    stream.SetPosition(0);
    EXPECT_EQ(reader.U32BE(), 0x12345678u);
    TByteReader named(stream, "Cannot load image. Invalid or unexpected SGI image format.");
    stream.SetPosition(1);
    EXPECT_EQ(named.U32LE(), 0x9A785634u);
    try {
        named.Skip(1);
        FAIL();
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Cannot load image. Invalid or unexpected SGI image format.");
    }
}
