// JPEG files through pinwright-cli: the decoded bitmap as the program shows
// it, against djpeg's decoding of the same file.
#include "tests/support/test_support.h"

#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>

#include <gtest/gtest.h>

namespace {

std::string Fixture(const std::string& name)
{
    return pwtest::DataPath("jpeg/" + name);
}

pwtest::CommandResult Cli(const std::vector<std::string>& args)
{
    std::vector<std::string> argv{pwtest::BinPath("pinwright-cli")};
    argv.insert(argv.end(), args.begin(), args.end());
    return pwtest::Run(argv);
}

} // namespace

TEST(JPEGConvert, PixelsAreDjpegs)
{
    if (!pwtest::HaveProgram("djpeg"))
        GTEST_SKIP() << "djpeg not installed";
    const struct {
        const char* File;
        std::vector<std::string> Djpeg;
        bool Gray;
    } cases[] = {
        {"baseline420.jpg", {"-dct", "float"}, false},
        {"baseline444.jpg", {"-dct", "float"}, false},
        {"progressive.jpg", {"-dct", "float"}, false},
        {"restart.jpg", {"-dct", "float"}, false},
        {"imagemagick.jpg", {"-dct", "float"}, false},
        {"truncated.jpg", {"-dct", "float"}, false},
        {"gray.jpg", {"-dct", "float", "-colors", "236"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.File);
        pwtest::TempDir dir;
        const pwtest::CommandResult result = Cli({"convert", Fixture(c.File), dir.File("ours.ppm")});
        ASSERT_EQ(result.ExitCode, 0) << result.Err;
        // A cut file decodes as far as its data reach, with a warning.
        EXPECT_EQ(result.Err, c.File == std::string("truncated.jpg")
                                  ? "Warning: " + Fixture(c.File) +
                                        ": The file ends early, in row 0; the rest of the image is empty.\n"
                                  : "");
        std::vector<std::string> djpeg{"djpeg"};
        djpeg.insert(djpeg.end(), c.Djpeg.begin(), c.Djpeg.end());
        djpeg.insert(djpeg.end(), {"-outfile", dir.File("reference.pnm"), Fixture(c.File)});
        pwtest::Run(djpeg);
        const pwtest::Image ours = pwtest::ReadNetpbm(dir.File("ours.ppm"));
        const pwtest::Image reference = pwtest::ToRGB(pwtest::ReadNetpbm(dir.File("reference.pnm")));
        EXPECT_EQ(ours, reference) << pwtest::FirstDifference(ours, reference);

        const pwtest::CommandResult info = Cli({"info", Fixture(c.File)});
        EXPECT_NE(info.Out.find(c.Gray ? "\"bf8Bit\"" : "\"bf24Bit\""), std::string::npos) << info.Out;
    }
}

TEST(JPEGConvert, BrokenFilesGiveTheLibraryMessageNumber)
{
    pwtest::TempDir dir;
    pwtest::WriteBytes(dir.File("png.jpg"), {0x89, 'P', 'N', 'G', 13, 10, 26, 10});
    const struct {
        std::string File;
        int Code;
    } cases[] = {
        {Fixture("empty.jpg"), JERR_INPUT_EMPTY},
        {dir.File("png.jpg"), JERR_NO_SOI},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.File);
        const pwtest::CommandResult result = Cli({"convert", c.File, dir.File("out.ppm")});
        EXPECT_EQ(result.ExitCode, 1);
        EXPECT_EQ(result.Err, "JPEG error #" + std::to_string(c.Code) + ".\n");
        EXPECT_FALSE(pwtest::FileExists(dir.File("out.ppm")));
    }
    EXPECT_EQ(JERR_INPUT_EMPTY, 42); // the number users of this libjpeg see
}

// info reads the header only: a file claiming 6000 x 4000 with the data of a
// tiny picture reports its size (decoding is left to the imaging tests).
TEST(JPEGConvert, LargeHeaderIsReportedWithoutDecoding)
{
    std::vector<uint8_t> bytes = pwtest::ReadBytes(Fixture("baseline444.jpg"));
    size_t sof = 2;
    while (!(bytes[sof] == 0xFF && bytes[sof + 1] == 0xC0))
        sof += 2 + (bytes[sof + 2] << 8 | bytes[sof + 3]);
    bytes[sof + 5] = 4000 >> 8;
    bytes[sof + 6] = 4000 & 0xFF;
    bytes[sof + 7] = 6000 >> 8;
    bytes[sof + 8] = 6000 & 0xFF;
    pwtest::TempDir dir;
    pwtest::WriteBytes(dir.File("large.jpeg"), bytes);
    const pwtest::CommandResult info = Cli({"info", dir.File("large.jpeg")});
    EXPECT_NE(info.Out.find("\"width\": 6000"), std::string::npos) << info.Out;
    EXPECT_NE(info.Out.find("\"height\": 4000"), std::string::npos) << info.Out;
}
