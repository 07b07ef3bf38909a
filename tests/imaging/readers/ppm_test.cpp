// The portable any-map reader on files written here: header layouts and
// comments, plain and raw samples, 16-bit samples, reading across buffer
// blocks, and every failure with its text. Files of netpbm and ImageMagick
// are decoded in tests/tools/sgi_rla_ppm_cli_test.cpp.
#include "imaging/readers/ppm_graphic.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Pixels = std::vector<uint32_t>; // 0xRRGGBB, row by row

struct GoodCase {
    const char* Name;
    std::string File;
    TBitmapFormat Format;
    int Width, Height;
    Pixels Want;
    std::vector<uint8_t> FirstRow = {}; // the scan line's first bytes, when checked
};

void PrintTo(const GoodCase& c, std::ostream* os)
{
    *os << c.Name;
}

constexpr uint32_t Black = 0x000000, White = 0xFFFFFF;

uint32_t Grey(uint32_t v)
{
    return v * 0x010101u;
}

std::string Repeat(const std::string& text, int count)
{
    std::string out;
    for (int i = 0; i < count; ++i)
        out += text;
    return out;
}

class PpmGood : public ::testing::TestWithParam<GoodCase> {};

TEST_P(PpmGood, ShowsTheSamples)
{
    const GoodCase& c = GetParam();
    TMemoryStream stream(c.File.data(), c.File.size());
    TPPMGraphic ppm;
    ppm.LoadFromStream(stream);
    ASSERT_EQ(ppm.PixelFormat(), c.Format);
    ASSERT_EQ(ppm.Width(), c.Width);
    ASSERT_EQ(ppm.Height(), c.Height);
    Pixels got(c.Want.size());
    for (int y = 0; y < c.Height; ++y)
        ppm.RowToARGB(y, 0, c.Width, got.data() + size_t(y) * size_t(c.Width));
    for (uint32_t& p : got)
        p &= 0xFFFFFF;
    EXPECT_EQ(got, c.Want);
    for (size_t i = 0; i < c.FirstRow.size(); ++i)
        EXPECT_EQ(ppm.ScanLine(0)[i], c.FirstRow[i]) << "byte " << i;
}

const Pixels Ten = {Black, White, White, White, White, White, White, White, Black, Black};

INSTANTIATE_TEST_SUITE_P(
    Files, PpmGood,
    ::testing::Values(
        GoodCase{"P1DigitsWithoutBlanks", "P1\n10 1\n1000000011\n", bf1Bit, 10, 1, Ten, {0x80, 0xC0}},
        GoodCase{"P1DigitsWithBlanks", "P1 10 1 1 0 0 0 0 0 0 0 1 1", bf1Bit, 10, 1, Ten, {0x80, 0xC0}},
        GoodCase{"P4Width10", std::string("P4\n10 1\n\x80\xC0", 10), bf1Bit, 10, 1, Ten, {0x80, 0xC0}},
        GoodCase{"P2Maxval15Unscaled", "P2 3 1 15\n0 7 15", bf8Bit, 3, 1, {Grey(0), Grey(7), Grey(15)}},
        GoodCase{"P2LowByte", "P2\n2 1\n255\n256 511\n", bf8Bit, 2, 1, {Grey(0), Grey(255)}},
        GoodCase{"P2Sixteen", "P2 2 1 65535\n65535 32768\n", bf8Bit, 2, 1, {Grey(255), Grey(127)}},
        GoodCase{"P5Sixteen", std::string("P5 2 1 1000\n\x03\xE8\x00\xFF", 16), bf8Bit, 2, 1, {Grey(3), Grey(0)}},
        GoodCase{"P3", "P3\n# c\n2 1 255 1 2 3 4 5 6", bf24Bit, 2, 1, {0x010203, 0x040506}},
        GoodCase{"P6Sixteen", std::string("P6 1 1 65535\n\xFF\xFF\x80\x00\x00\xFF", 19), bf24Bit, 1, 1,
                 {0xFF7F00}},
        GoodCase{"P6OneLineHeader", "P6 2 1 255\n\x01\x02\x03\x04\x05\x06", bf24Bit, 2, 1, {0x010203, 0x040506}},
        GoodCase{"CommentsHoldingDigits", "P5#7\n2 # 99\n# 77\n1\n# 12\n255\n\x09\x0A", bf8Bit, 2, 1,
                 {Grey(9), Grey(10)}},
        GoodCase{"CrLf", "P2\r\n# x\r\n2 1\r\n255\r\n3 4\r\n", bf8Bit, 2, 1, {Grey(3), Grey(4)}},
        // Numbers and rows that straddle the 4096-byte blocks.
        GoodCase{"PlainAcrossBlocks", "P2 1500 1 255\n" + Repeat("200 ", 1500), bf8Bit, 1500, 1,
                 Pixels(1500, Grey(200))},
        GoodCase{"RawAcrossBlocks", "P5 3000 2 255\n" + std::string(6000, '\x11'), bf8Bit, 3000, 2,
                 Pixels(6000, Grey(0x11))}),
    [](const ::testing::TestParamInfo<GoodCase>& info) { return std::string(info.param.Name); });

TEST(PpmReader, PropertiesAndSignature)
{
    const std::string file = "P6\n3 2\n1023\n" + std::string(36, '\0');
    TMemoryStream stream(file.data(), file.size());
    EXPECT_TRUE(TPPMGraphic::CanLoadStream(stream));
    EXPECT_EQ(stream.Position(), 0);
    TPPMGraphic ppm;
    ASSERT_TRUE(ppm.LoadProperties(stream, 0));
    const TImageProperties& p = ppm.ImageProperties;
    EXPECT_EQ(p.Width, 3u);
    EXPECT_EQ(p.Height, 2u);
    EXPECT_EQ(p.PixelScheme, psRGB);
    EXPECT_EQ(p.BitsPerSample, 16);
    EXPECT_EQ(p.BitsPerPixel, 48);
    EXPECT_EQ(p.CompressionKind, ckNone);

    for (const std::string text : {"P7 1 1 255\n\x01", "P6 1 1 2\n", "Q6 1 1 255\n\x01\x02\x03"}) {
        TMemoryStream s(text.data(), text.size());
        EXPECT_FALSE(TPPMGraphic::CanLoadStream(s)) << text;
    }
}

TEST(PpmReader, FailuresGiveTheirMessages)
{
    const std::string invalid = "Cannot load image. Invalid or unexpected PBM, PGM or PPM image format.";
    const std::string readError = "Stream read error in PPM file.";
    const struct {
        const char* Name;
        std::string File;
        std::string Message;
    } cases[] = {
        {"not P", "Q6 1 1 255\n\x01\x02\x03", invalid},
        {"P7", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\nENDHDR\n\x01", invalid},
        {"digit missing", "Px 1 1\n\x01\x02\x03\x04", "'x' is not a valid integer value"},
        {"magic alone", "P\n1 1 255\n\x01\x02\x03", "'' is not a valid integer value"},
        {"empty", "", readError},
        {"header cut", "P6 4", readError},
        {"plain data short", "P2 3 1 255\n1 2", readError},
        {"raw data short", "P5 4 1 255\n\x01\x02\x03", readError},
        // The end of the data falls into the second block; what the buffer
        // held before is no pixel.
        {"short in the second block", "P5 5001 1 255\n" + std::string(4999, '\x01'), readError},
        {"zero width", "P5 0 3 255\n\x01\x02\x03", invalid},
        {"oversize", "P6 100000 100000 255\n\x01\x02\x03",
         "Cannot load image. The PBM, PGM or PPM image is too large (100000 x 100000 pixels)."},
    };
    for (const auto& c : cases) {
        TMemoryStream stream(c.File.data(), c.File.size());
        TPPMGraphic ppm;
        try {
            ppm.LoadFromStream(stream);
            ADD_FAILURE() << c.Name << ": loaded";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), c.Message) << c.Name;
        }
    }
}

} // namespace
