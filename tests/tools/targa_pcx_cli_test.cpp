// pinwright-cli convert on Targa and PCX files: every file that ImageMagick
// and netpbm wrote, and those built byte by byte where no writer exists
// (tests/data/targa/make.sh, tests/data/pcx/make.sh), comes out pixel-exact;
// every registered extension reaches its reader; damaged copies fail with the
// readers' exact messages.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

using Bytes = std::vector<uint8_t>;

struct CliCase {
    std::string File, Reference; // paths under tests/data
};

void PrintTo(const CliCase& c, std::ostream* os)
{
    *os << c.File;
}

std::vector<CliCase> ReadCases()
{
    std::vector<CliCase> cases;
    for (const std::string folder : {"targa/", "pcx/"}) {
        std::ifstream in(pwtest::DataPath(folder + "cases.txt"));
        for (CliCase c; in >> c.File >> c.Reference;)
            cases.push_back({folder + c.File, folder + c.Reference});
    }
    return cases;
}

pwtest::CommandResult Convert(const std::string& input, const std::string& output)
{
    return pwtest::Run({pwtest::BinPath("pinwright-cli"), "convert", input, output});
}

std::string LastLine(const std::string& text)
{
    std::string t = text;
    while (!t.empty() && t.back() == '\n')
        t.pop_back();
    const size_t cut = t.rfind('\n');
    return cut == std::string::npos ? t : t.substr(cut + 1);
}

void ExpectConvertsTo(const std::string& input, const std::string& reference)
{
    pwtest::TempDir dir;
    const auto result = Convert(input, dir.File("out.ppm"));
    ASSERT_EQ(result.ExitCode, 0) << input << ": " << result.Err;
    const pwtest::Image got = pwtest::ReadNetpbm(dir.File("out.ppm"));
    const pwtest::Image want = pwtest::ReadNetpbm(pwtest::DataPath(reference));
    EXPECT_EQ(got, want) << input << ": " << pwtest::FirstDifference(got, want);
}

class TargaPcxCliTest : public ::testing::TestWithParam<CliCase> {};

TEST_P(TargaPcxCliTest, ConvertsPixelExact)
{
    ExpectConvertsTo(pwtest::DataPath(GetParam().File), GetParam().Reference);
}

INSTANTIATE_TEST_SUITE_P(Files, TargaPcxCliTest, ::testing::ValuesIn(ReadCases()),
                         [](const ::testing::TestParamInfo<CliCase>& info) {
                             std::string name = info.param.File;
                             for (char& ch : name)
                                 if (!isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return name;
                         });

TEST(TargaPcxCli, EveryRegisteredExtensionReachesItsReader)
{
    pwtest::TempDir dir;
    const Bytes targa = pwtest::ReadBytes(pwtest::DataPath("targa/nb_pal8_rle.tga"));
    const Bytes pcx = pwtest::ReadBytes(pwtest::DataPath("pcx/nb_pal16_planes.pcx"));
    for (const char* extension : {"win", "VST", "vda", "Tga", "icb"}) {
        pwtest::WriteBytes(dir.File(std::string("image.") + extension), targa);
        ExpectConvertsTo(dir.File(std::string("image.") + extension), "targa/ref_pal.ppm");
    }
    for (const char* extension : {"PCX", "pcc", "scr"}) {
        pwtest::WriteBytes(dir.File(std::string("image.") + extension), pcx);
        ExpectConvertsTo(dir.File(std::string("image.") + extension), "pcx/ref_pal16.ppm");
    }
}

TEST(TargaPcxCli, DamagedFilesGiveTheReadersMessages)
{
    const Bytes targa = pwtest::ReadBytes(pwtest::DataPath("targa/im_rgb24.tga"));
    const Bytes pcx = pwtest::ReadBytes(pwtest::DataPath("pcx/nb_pal16_planes.pcx"));
    const auto patched = [](Bytes file, size_t at, uint8_t value) {
        file[at] = value;
        return file;
    };
    const struct {
        const char* Name;
        Bytes File;
        std::string Message;
    } cases[] = {
        {"a.tga", patched(targa, 16, 12), "Sample count per pixel does not correspond to the given color scheme."},
        {"b.tga", Bytes(targa.begin(), targa.end() - 5), "Stream read error."},
        {"c.tga", Bytes(targa.begin(), targa.begin() + 12), "Stream read error."},
        {"d.pcx", patched(pcx, 65, 3), "Invalid color format in PCX file."},
        {"e.pcx", patched(pcx, 66, 1), "Cannot load image. Invalid or unexpected PCX or SCR image format."},
        {"f.pcx", Bytes(pcx.begin(), pcx.begin() + 127), "Stream read error."},
    };
    pwtest::TempDir dir;
    for (const auto& c : cases) {
        pwtest::WriteBytes(dir.File(c.Name), c.File);
        const auto result = Convert(dir.File(c.Name), dir.File("out.ppm"));
        EXPECT_EQ(result.ExitCode, 1) << c.Name;
        EXPECT_EQ(LastLine(result.Err), c.Message) << c.Name;
        EXPECT_FALSE(pwtest::FileExists(dir.File("out.ppm"))) << c.Name;
    }
}

} // namespace
