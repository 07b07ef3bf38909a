// pinwright-cli convert on SGI files of ImageMagick and netpbm
// (tests/data/sgi/make.sh), portable any-maps of both (tests/data/ppm/make.sh)
// and RLA files built here: each comes out pixel-exact, and the failures of
// the three readers end with their exact messages.
#include "tests/imaging/readers/rla_test_builder.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

using Bytes = std::vector<uint8_t>;

struct FileCase {
    std::string File, Reference;
};

void PrintTo(const FileCase& c, std::ostream* os)
{
    *os << c.File;
}

std::vector<FileCase> ReadCases(const std::string& folder)
{
    std::vector<FileCase> cases;
    std::ifstream in(pwtest::DataPath(folder + "/cases.txt"));
    for (FileCase c; in >> c.File >> c.Reference;)
        cases.push_back({folder + "/" + c.File, folder + "/" + c.Reference});
    return cases;
}

pwtest::CommandResult Convert(const std::string& input, const std::string& output)
{
    return pwtest::Run({pwtest::BinPath("pinwright-cli"), "convert", input, output});
}

std::string LastLine(std::string text)
{
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    const size_t cut = text.rfind('\n');
    return cut == std::string::npos ? text : text.substr(cut + 1);
}

class SgiPpmCli : public ::testing::TestWithParam<FileCase> {};

TEST_P(SgiPpmCli, ConvertsPixelExact)
{
    const FileCase& c = GetParam();
    pwtest::TempDir dir;
    const auto result = Convert(pwtest::DataPath(c.File), dir.File("out.pam"));
    ASSERT_EQ(result.ExitCode, 0) << result.Err;
    const pwtest::Image got = pwtest::ReadNetpbm(dir.File("out.pam"));
    const pwtest::Image want = pwtest::ReadNetpbm(pwtest::DataPath(c.Reference));
    EXPECT_EQ(got, want) << pwtest::FirstDifference(got, want);
}

std::string CaseName(const ::testing::TestParamInfo<FileCase>& info)
{
    std::string name = info.param.File;
    for (char& ch : name)
        if (!isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Sgi, SgiPpmCli, ::testing::ValuesIn(ReadCases("sgi")), CaseName);
INSTANTIATE_TEST_SUITE_P(Ppm, SgiPpmCli, ::testing::ValuesIn(ReadCases("ppm")), CaseName);

// ---- RLA files built here ---------------------------------------------------

constexpr int W = 9, H = 6;

struct RlaCase {
    const char* Name;
    const char* Extension;
    int Matte;
    int Bits;
    bool TopDown;
};

void PrintTo(const RlaCase& c, std::ostream* os)
{
    *os << c.Name;
}

class RlaCli : public ::testing::TestWithParam<RlaCase> {};

TEST_P(RlaCli, ConvertsPixelExact)
{
    const RlaCase& c = GetParam();
    rlatest::RlaFile f;
    f.Right = W - 1;
    (c.TopDown ? f.Bottom : f.Top) = H - 1;
    f.MatteChannels = static_cast<int16_t>(c.Matte);
    f.Bits = static_cast<int16_t>(c.Bits);
    f.Rows = rlatest::Pattern(W, H, 3 + c.Matte);
    pwtest::Image want{W, H, 3 + c.Matte, {}};
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            for (int k = 0; k < want.Channels; ++k)
                want.Pixels.push_back(static_cast<uint8_t>(
                    f.Rows[static_cast<size_t>(c.TopDown ? y : H - 1 - y)][static_cast<size_t>(k)][static_cast<size_t>(x)]));
    if (c.Bits == 16)
        for (auto& row : f.Rows)
            for (auto& channel : row)
                for (auto& v : channel)
                    v = static_cast<uint16_t>(v * 257);

    pwtest::TempDir dir;
    const std::string input = dir.File(std::string("in.") + c.Extension);
    pwtest::WriteBytes(input, rlatest::Build(f));
    const auto result = Convert(input, dir.File("out.pam"));
    ASSERT_EQ(result.ExitCode, 0) << result.Err;
    const pwtest::Image got = pwtest::ReadNetpbm(dir.File("out.pam"));
    EXPECT_EQ(got, want) << pwtest::FirstDifference(got, want);
}

INSTANTIATE_TEST_SUITE_P(Files, RlaCli,
                         ::testing::Values(RlaCase{"Rgb8TopDown", "RLA", 0, 8, true},
                                           RlaCase{"Matte16BottomUp", "rpf", 1, 16, false}),
                         [](const ::testing::TestParamInfo<RlaCase>& info) { return std::string(info.param.Name); });

// ---- Failures ---------------------------------------------------------------

Bytes Fixture(const std::string& name)
{
    return pwtest::ReadBytes(pwtest::DataPath(name));
}

Bytes Cut(Bytes bytes, size_t size)
{
    bytes.resize(size);
    return bytes;
}

Bytes Patched(Bytes bytes, size_t at, uint8_t value)
{
    bytes[at] = value;
    return bytes;
}

Bytes Rla()
{
    rlatest::RlaFile f;
    f.Right = W - 1;
    f.Top = H - 1;
    f.Rows = rlatest::Pattern(W, H, 3);
    return rlatest::Build(f);
}

TEST(SgiRlaPpmCliFailures, FailuresGiveTheirMessages)
{
    const Bytes rla = Rla();
    const struct {
        const char* Name;
        std::string Extension;
        Bytes File;
        std::string Message;
    } cases[] = {
        {"SGI magic", "sgi", Patched(Fixture("sgi/nb_rgb8_rle.sgi"), 1, 0xDB),
         "Cannot load image. Invalid or unexpected sgi, bw or rgb(a) image format."},
        {"SGI short header", "bw", Cut(Fixture("sgi/nb_gray8_raw.bw"), 511), "Stream read error."},
        {"RLA short stream", "rla", Cut(rla, rla.size() - 1), "Stream read error."},
        {"PPM not P", "ppm", Patched(Fixture("ppm/nb_rgb_raw.ppm"), 0, 'Q'),
         "Cannot load image. Invalid or unexpected PBM, PGM or PPM image format."},
        {"PPM beyond the end", "ppm", Cut(Fixture("ppm/nb_rgb_raw.ppm"), 100), "Stream read error in PPM file."},
        {"PPM magic digit", "pgm", Patched(Fixture("ppm/nb_gray_raw.pgm"), 1, 'Q'),
         "'Q' is not a valid integer value."},
    };
    pwtest::TempDir dir;
    for (const auto& c : cases) {
        const std::string input = dir.File("bad." + c.Extension);
        pwtest::WriteBytes(input, c.File);
        const auto result = Convert(input, dir.File("out.ppm"));
        EXPECT_EQ(result.ExitCode, 1) << c.Name;
        EXPECT_EQ(LastLine(result.Err), c.Message) << c.Name;
        EXPECT_FALSE(pwtest::FileExists(dir.File("out.ppm"))) << c.Name;
    }
}

} // namespace
