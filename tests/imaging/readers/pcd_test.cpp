// The Photo-CD reader on image packs and overview files built byte by byte.
#include "imaging/readers/pcd_graphic.h"
#include "platform/exceptions.h"
#include "platform/streams.h"
#include "tests/support/reader_test_support.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using Bytes = std::vector<uint8_t>;
using Plane = std::function<int(int x, int y)>; // a sample of the full-size picture

// A file whose signature sits at signatureAt, with the picture from sector
// `sector`: rows in pairs, two luma rows, then one row of each chroma plane
// at half width.
Bytes Pcd(const char* signature, size_t signatureAt, int sector, int width, int height, const Plane& luma,
          const Plane& c1 = [](int, int) { return 156; }, const Plane& c2 = [](int, int) { return 137; })
{
    Bytes out(size_t(sector) * 2048, 0);
    std::copy(signature, signature + 7, out.begin() + long(signatureAt));
    for (int y = 0; y < height; y += 2) {
        for (int x = 0; x < 2 * width; ++x)
            out.push_back(uint8_t(luma(x % width, y + x / width)));
        for (const Plane* chroma : {&c1, &c2})
            for (int x = 0; x < width; x += 2)
                out.push_back(uint8_t((*chroma)(x, y)));
    }
    return out;
}

Bytes Pack(uint8_t rotationByte, const Plane& luma, const Plane& c1 = [](int, int) { return 156; },
           const Plane& c2 = [](int, int) { return 137; })
{
    Bytes out = Pcd("PCD_IPI", 2048, 96, 768, 512, luma, c1, c2);
    out[0xE02] = rotationByte;
    return out;
}

Bytes Overview(uint16_t count, const Plane& luma)
{
    Bytes out = Pcd("PCD_OPA", 0, 5, 192, 128, luma);
    out[10] = uint8_t(count >> 8), out[11] = uint8_t(count);
    return out;
}

int Ramp(int x, int y)
{
    return (x + 3 * y) & 0xFF;
}

uint32_t Grey(int v)
{
    return pwtest::Grey(uint32_t(v));
}

// Luma 100; the first chroma 180 in the left half and 156 in the right, the
// second 150 in the top half and 137 in the bottom; enlarged, the seams get
// 168 (column 383) and 144 (row 255). Worked by hand from the Photo-YCC
// offsets 156 and 137 and the luma weights 0.2125, 0.7154, 0.0721: C1 180,
// 168 add 45, 22 to blue and -4, -2 to green; C2 150, 144 add 20, 11 to red
// and -6, -3 to green.
uint32_t SplitColour(int column, int row)
{
    const int c1 = column < 383 ? 0 : column == 383 ? 1 : 2;
    const int c2 = row < 255 ? 0 : row == 255 ? 1 : 2;
    const int blue[] = {45, 22, 0}, greenC1[] = {-4, -2, 0}, red[] = {20, 11, 0}, greenC2[] = {-6, -3, 0};
    return 0xFF000000u | uint32_t(100 + red[c2]) << 16 | uint32_t(100 + greenC1[c1] + greenC2[c2]) << 8 |
           uint32_t(100 + blue[c1]);
}

struct Case {
    const char* Name;
    Bytes File;
    int Width, Height;
    std::function<uint32_t(int column, int row)> Pixel; // empty: no pixels to check
    std::string Error;
};

std::vector<Case> Cases()
{
    const Bytes plain = Pack(0, Ramp);
    Bytes noSignature = plain;
    noSignature[2048] = 'X';
    Bytes shortOverview = Overview(1, Ramp);
    shortOverview.pop_back();
    const auto stored = [](int c, int r) { return Grey(Ramp(c, r)); };
    return {
        {"NeutralChromaShowsLumaAsGrey", plain, 768, 512, stored, ""},
        {"PhotoYCCColoursWithEnlargedChroma",
         Pack(0, [](int, int) { return 100; }, [](int x, int) { return x < 384 ? 180 : 156; },
              [](int, int y) { return y < 256 ? 150 : 137; }),
         768, 512, SplitColour, ""},
        // Code 1 (in a byte with other bits set): the stored top row is the
        // left column, bottom to top. Code 3: the right column, top to bottom.
        {"RotationOne", Pack(0xF1, Ramp), 512, 768, [](int c, int r) { return Grey(Ramp(767 - r, c)); }, ""},
        {"RotationTwoLoadsAsStored", Pack(2, Ramp), 768, 512, stored, ""},
        {"RotationThree", Pack(3, Ramp), 512, 768, [](int c, int r) { return Grey(Ramp(r, 511 - c)); }, ""},
        {"OverviewShowsItsFirstPicture", Overview(3, Ramp), 192, 128, stored, ""},
        {"OverviewWithoutPicturesEndsQuietly", Overview(0, Ramp), 0, 0, {}, ""},
        {"OverviewTooShortForItsPictureEndsQuietly", shortOverview, 0, 0, {}, ""},
        {"NoSignatureEndsQuietly", noSignature, 0, 0, {}, ""},
        {"ShortHeader", Bytes(plain.begin(), plain.begin() + 6143), 0, 0, {}, "Stream read error"},
        {"EndsBeforeTheBaseImage", Bytes(plain.begin(), plain.begin() + 50 * 2048), 0, 0, {}, "Stream read error"},
        {"BaseImageCutShort", Bytes(plain.begin(), plain.end() - 1), 0, 0, {}, "Stream read error"},
    };
}

class PCDCases : public ::testing::TestWithParam<Case> {};

TEST_P(PCDCases, DecodeOrFailExactly)
{
    const Case& c = GetParam();
    TPCDGraphic image;
    try {
        TMemoryStream stream(c.File.data(), c.File.size());
        image.LoadFromStream(stream);
        EXPECT_EQ(c.Error, "") << "no exception";
    } catch (const EReadError& e) {
        EXPECT_EQ(e.what(), c.Error);
    }
    ASSERT_EQ(image.Width(), c.Width);
    ASSERT_EQ(image.Height(), c.Height);
    std::vector<uint32_t> row(size_t(c.Width));
    for (int r = 0; c.Pixel && r < c.Height; ++r) {
        image.RowToARGB(r, 0, c.Width, row.data());
        for (int col = 0; col < c.Width; ++col)
            ASSERT_EQ(row[size_t(col)], c.Pixel(col, r)) << "column " << col << ", row " << r;
    }
}

INSTANTIATE_TEST_SUITE_P(PCD, PCDCases, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.Name); });

TEST(PCD, PropertiesDescribeTheLevelAskedForAndTheFormatTest)
{
    const Bytes rotated = Pack(1, Ramp);
    const Bytes overview = Overview(0x0102, Ramp);
    const struct {
        const Bytes& File;
        int Index;
        uint32_t Width, Height;
        TCompressionKind Kind;
    } cases[] = {{rotated, 0, 128, 192, ckNone},
                 {rotated, 2, 512, 768, ckNone},
                 {rotated, 4, 2048, 3072, ckPhotoCDHuffman},
                 {rotated, 9, 4096, 6144, ckPhotoCDHuffman},
                 {overview, 4, 192, 128, ckNone}};
    for (const auto& c : cases) {
        TPCDGraphic image;
        TMemoryStream stream(c.File.data(), c.File.size());
        ASSERT_TRUE(image.LoadProperties(stream, c.Index));
        const TImageProperties& p = image.ImageProperties;
        EXPECT_EQ(p.Width, c.Width) << c.Index;
        EXPECT_EQ(p.Height, c.Height) << c.Index;
        EXPECT_EQ(p.CompressionKind, c.Kind) << c.Index;
        EXPECT_EQ(p.PCDOverview, &c.File == &overview);
        EXPECT_EQ(p.PCDImageCount, &c.File == &overview ? 0x0102 : 0);
    }
    // More than three sectors and a signature.
    const std::pair<Bytes, bool> files[] = {{Bytes(rotated.begin(), rotated.begin() + 6145), true},
                                            {Bytes(overview.begin(), overview.begin() + 6145), true},
                                            {Bytes(rotated.begin(), rotated.begin() + 6144), false},
                                            {Bytes(rotated.begin() + 1, rotated.begin() + 6146), false}};
    for (const auto& [file, expected] : files) {
        TMemoryStream stream(file.data(), file.size());
        stream.SetPosition(0);
        EXPECT_EQ(TPCDGraphic::CanLoadStream(stream), expected) << file.size();
        EXPECT_EQ(stream.Position(), 0);
    }
}

} // namespace
