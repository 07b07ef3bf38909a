// pinwright-cli convert on metafiles that Inkscape wrote from the SVG drawings
// beside them (tests/data/metafile/make.sh): each comes out close to the same
// drawing rasterised by rsvg-convert, and damaged copies fail with a message.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

struct DrawingCase {
    std::string File;
    double MinimumPSNR;
};

void PrintTo(const DrawingCase& c, std::ostream* os)
{
    *os << c.File;
}

pwtest::CommandResult Convert(const std::string& input, const std::string& output)
{
    return pwtest::Run({pwtest::BinPath("pinwright-cli"), "convert", input, output});
}

// The top-left part of an image, width x height.
pwtest::Image Crop(const pwtest::Image& image, int width, int height)
{
    pwtest::Image part{width, height, image.Channels, {}};
    for (int y = 0; y < height; ++y) {
        const auto row = image.Pixels.begin() + static_cast<std::ptrdiff_t>(y) * image.Width * image.Channels;
        part.Pixels.insert(part.Pixels.end(), row, row + static_cast<std::ptrdiff_t>(width) * image.Channels);
    }
    return part;
}

class MetafileDrawingTest : public ::testing::TestWithParam<DrawingCase> {};

// Inkscape gives an EMF a frame a pixel or two larger than the drawing, at
// the drawing's scale, so the pictures are compared over their common part.
TEST_P(MetafileDrawingTest, MatchesTheSvgRasterisedByRsvg)
{
    if (!pwtest::HaveProgram("rsvg-convert"))
        GTEST_SKIP() << "rsvg-convert (librsvg2-bin) is not installed";
    const DrawingCase& c = GetParam();
    const std::string svg = pwtest::DataPath("metafile/" + c.File.substr(0, c.File.rfind('.')) + ".svg");
    pwtest::TempDir dir;
    const auto rendered = pwtest::Run({"rsvg-convert", "--background-color=white", "-o", dir.File("ref.png"), svg});
    ASSERT_EQ(rendered.ExitCode, 0) << rendered.Err;
    ASSERT_EQ(Convert(dir.File("ref.png"), dir.File("ref.ppm")).ExitCode, 0);
    const auto result = Convert(pwtest::DataPath("metafile/" + c.File), dir.File("out.ppm"));
    ASSERT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_EQ(result.Err, "");

    const pwtest::Image reference = pwtest::ToRGB(pwtest::ReadNetpbm(dir.File("ref.ppm")));
    const pwtest::Image got = pwtest::ReadNetpbm(dir.File("out.ppm"));
    EXPECT_LE(std::abs(got.Width - reference.Width), 4);
    EXPECT_LE(std::abs(got.Height - reference.Height), 4);
    const int width = std::min(got.Width, reference.Width);
    const int height = std::min(got.Height, reference.Height);
    const double psnr = pwtest::PSNR(Crop(got, width, height), Crop(reference, width, height));
    RecordProperty("psnr", std::to_string(psnr));
    EXPECT_GE(psnr, c.MinimumPSNR) << c.File;
}

INSTANTIATE_TEST_SUITE_P(InkscapeFiles, MetafileDrawingTest,
                         // Measured: 42.1, 48.8, 32.5, 31.4, 31.8 and 32.7 dB (text and the
                         // scaled image differ most, in their antialiased edges).
                         ::testing::Values(DrawingCase{"shapes.wmf", 40}, DrawingCase{"shapes.emf", 46},
                                           DrawingCase{"text.wmf", 30}, DrawingCase{"text.emf", 29},
                                           DrawingCase{"image.wmf", 29.5}, DrawingCase{"image.emf", 30.5}),
                         [](const auto& info) {
                             std::string name = info.param.File;
                             std::replace(name.begin(), name.end(), '.', '_');
                             return name;
                         });

TEST(MetafileCli, DamagedFilesFailWithTheirMessage)
{
    const auto emf = pwtest::ReadBytes(pwtest::DataPath("metafile/shapes.emf"));
    const auto wmf = pwtest::ReadBytes(pwtest::DataPath("metafile/shapes.wmf"));
    auto badSignature = emf;
    badSignature[40] = 'X';
    auto brokenRecord = wmf;
    // The first record after the 22-byte placeable and 18-byte standard headers
    // claims more words than the file holds.
    brokenRecord[40] = 0xFF;
    brokenRecord[41] = 0xFF;
    const std::vector<std::pair<std::vector<uint8_t>, std::pair<std::string, std::string>>> cases = {
        {badSignature, {"bad.emf", "Cannot load image. Invalid or unexpected EMF image format.\n"}},
        {std::vector<uint8_t>(emf.begin(), emf.end() - 200),
         {"cut.emf", "Cannot load image. Broken record at byte 1884 of the EMF file.\n"}},
        {brokenRecord, {"broken.wmf", "Cannot load image. Broken record at byte 40 of the WMF file.\n"}},
        {std::vector<uint8_t>(wmf.begin(), wmf.begin() + 40), {"short.wmf",
                                                              "Cannot load image. The WMF file ends before its end record.\n"}},
    };
    pwtest::TempDir dir;
    for (const auto& [bytes, expected] : cases) {
        pwtest::WriteBytes(dir.File(expected.first), bytes);
        const auto result = Convert(dir.File(expected.first), dir.File("out.ppm"));
        EXPECT_EQ(result.ExitCode, 1) << expected.first;
        EXPECT_EQ(result.Err, expected.second) << expected.first;
        EXPECT_FALSE(pwtest::FileExists(dir.File("out.ppm"))) << expected.first;
    }
}

} // namespace
