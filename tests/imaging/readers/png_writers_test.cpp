// PNG files written by PIL and ImageMagick (tests/data/png/make.sh) decode to
// the pixels of their references, gamma-corrected where they carry gAMA, with
// the transparent colour their tRNS chunk gives.
#include "imaging/color/color_manager.h"
#include "imaging/readers/png_graphic.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

struct WriterCase {
    std::string Png, Reference;
    uint32_t Gama = 0;
    std::string Key; // RRGGBB or "-"
};

void PrintTo(const WriterCase& c, std::ostream* os)
{
    *os << c.Png;
}

std::vector<WriterCase> ReadCases()
{
    std::vector<WriterCase> cases;
    std::ifstream in(pwtest::DataPath("png/cases.txt"));
    for (WriterCase c; in >> c.Png >> c.Reference >> c.Gama >> c.Key;)
        cases.push_back(c);
    return cases;
}

// The reference with its colour channels through the reader's gamma table.
pwtest::Image Expected(const WriterCase& c)
{
    pwtest::Image image = pwtest::ReadNetpbm(pwtest::DataPath("png/" + c.Reference));
    if (c.Gama != 0) {
        TColorManager cm;
        cm.SetGammaValues(static_cast<float>(c.Gama) / 100000.0f, 2.2f);
        for (size_t i = 0; i < image.Pixels.size(); ++i)
            if (i % 4 != 3)
                image.Pixels[i] = cm.GammaTable()[image.Pixels[i]];
    }
    return image;
}

pwtest::Image ToRGBA(const TBitmap& bitmap)
{
    pwtest::Image image{bitmap.Width(), bitmap.Height(), 4, {}};
    std::vector<uint32_t> row(static_cast<size_t>(bitmap.Width()));
    for (int y = 0; y < bitmap.Height(); ++y) {
        bitmap.RowToARGB(y, 0, bitmap.Width(), row.data());
        for (uint32_t p : row)
            image.Pixels.insert(image.Pixels.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p), uint8_t(p >> 24)});
    }
    return image;
}

class PngWriterTest : public ::testing::TestWithParam<WriterCase> {};

TEST_P(PngWriterTest, DecodesPixelExact)
{
    const WriterCase& c = GetParam();
    TPNGGraphic png;
    png.LoadFromFile(pwtest::DataPath("png/" + c.Png));
    const pwtest::Image expected = Expected(c);
    const pwtest::Image got = ToRGBA(png);
    EXPECT_EQ(got, expected) << pwtest::FirstDifference(got, expected);
    EXPECT_FLOAT_EQ(png.ImageProperties.Gamma, c.Gama ? static_cast<float>(c.Gama) / 100000.0f : 1.0f);
    EXPECT_EQ(png.Transparent(), c.Key != "-");
    if (c.Key != "-") {
        const uint32_t rgb = static_cast<uint32_t>(std::stoul(c.Key, nullptr, 16));
        const TColor key = (rgb >> 16) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
        EXPECT_EQ(png.TransparentColor(), key);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, PngWriterTest, ::testing::ValuesIn(ReadCases()),
                         [](const ::testing::TestParamInfo<WriterCase>& info) {
                             std::string name = info.param.Png.substr(0, info.param.Png.size() - 4);
                             for (char& ch : name)
                                 if (!isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return name;
                         });

TEST(PngWriterCases, AreAllListed)
{
    EXPECT_GE(ReadCases().size(), 50u);
}

} // namespace
