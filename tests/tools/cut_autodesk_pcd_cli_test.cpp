// pinwright-cli convert on Dr. Halo, Autodesk and Photo-CD files: files built
// byte by byte come out as their formats define them, a Photo-CD file that
// ImageMagick wrote comes out close to ImageMagick's own decode, and damaged
// files fail with the readers' exact messages.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

namespace {

using Bytes = std::vector<uint8_t>;
using pwtest::Image;

pwtest::CommandResult Convert(const std::string& input, const std::string& output)
{
    return pwtest::Run({pwtest::BinPath("pinwright-cli"), "convert", input, output});
}

Image ConvertOrFail(const std::string& input, const pwtest::TempDir& dir)
{
    const auto result = Convert(input, dir.File("out.ppm"));
    EXPECT_EQ(result.ExitCode, 0) << input << ": " << result.Err;
    return result.ExitCode == 0 ? pwtest::ReadNetpbm(dir.File("out.ppm")) : Image{};
}

Image Rgb(int width, int height, const Bytes& samples)
{
    return Image{width, height, 3, samples};
}

// 3 x 2: a literal row 0 1 2, then a run of three 2s.
const Bytes CutFile = {3, 0, 2, 0, 0, 0, 5, 0, 3, 0, 1, 2, 0, 3, 0, 0x83, 2, 0};

// 2 x 2, pixels 3 2 1 0; palette entries i = (i, 2i, 63 - i), the rest 0.
Bytes AutodeskFile(uint16_t magic)
{
    Bytes out(804, 0);
    out[0] = uint8_t(magic), out[1] = uint8_t(magic >> 8), out[2] = 2, out[4] = 2, out[10] = 8;
    for (int i = 0; i < 4; ++i) {
        out[size_t(32 + 3 * i)] = uint8_t(i), out[size_t(33 + 3 * i)] = uint8_t(2 * i);
        out[size_t(34 + 3 * i)] = uint8_t(63 - i), out[size_t(800 + i)] = uint8_t(3 - i);
    }
    return out;
}

// An image pack with neutral chroma whose luma is (x + 2y) mod 256.
Bytes PcdFile(uint8_t rotation)
{
    Bytes out(96 * 2048, 0);
    std::copy_n("PCD_IPI", 7, out.begin() + 2048);
    out[0xE02] = rotation;
    for (int y = 0; y < 512; y += 2) {
        for (int row = y; row < y + 2; ++row)
            for (int x = 0; x < 768; ++x)
                out.push_back(uint8_t(x + 2 * row));
        out.resize(out.size() + 384, 156);
        out.resize(out.size() + 384, 137);
    }
    return out;
}

TEST(CutAutodeskPcdCli, BuiltFilesDecodeAsDefined)
{
    pwtest::TempDir dir;
    pwtest::WriteBytes(dir.File("grey.cut"), CutFile);
    EXPECT_EQ(ConvertOrFail(dir.File("grey.cut"), dir), Rgb(3, 2, {0, 0, 0, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2}));

    // Three entries; a word of 0x1FF keeps its low byte.
    Bytes pal(512, 0);
    pal[12] = 2;
    const uint16_t words[] = {10, 20, 30, 0x1FF, 0, 63, 1, 2, 3};
    for (size_t i = 0; i < std::size(words); ++i)
        pal[40 + 2 * i] = uint8_t(words[i]), pal[41 + 2 * i] = uint8_t(words[i] >> 8);
    pwtest::WriteBytes(dir.File("scan.cut"), CutFile);
    pwtest::WriteBytes(dir.File("scan.pal"), pal);
    EXPECT_EQ(ConvertOrFail(dir.File("scan.cut"), dir),
              Rgb(3, 2, {10, 20, 30, 255, 0, 63, 1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3}));

    // Components times 4.
    for (const std::string name : {"a.cel", "a.PIC"}) {
        pwtest::WriteBytes(dir.File(name), AutodeskFile(0x9119));
        EXPECT_EQ(ConvertOrFail(dir.File(name), dir), Rgb(2, 2, {12, 24, 240, 8, 16, 244, 4, 8, 248, 0, 0, 252}));
    }

    // Rotation code 1: stored (x, y) shows at column y, row 767 - x.
    pwtest::WriteBytes(dir.File("left.pcd"), PcdFile(1));
    const Image left = ConvertOrFail(dir.File("left.pcd"), dir);
    Image want{512, 768, 3, {}};
    for (int r = 0; r < 768; ++r)
        for (int c = 0; c < 512; ++c)
            want.Pixels.insert(want.Pixels.end(), 3, uint8_t((767 - r) + 2 * c));
    EXPECT_EQ(left, want) << pwtest::FirstDifference(left, want);
}

TEST(CutAutodeskPcdCli, PhotoCdWrittenByImageMagick)
{
    if (!pwtest::HaveProgram("convert"))
        GTEST_SKIP() << "ImageMagick's convert not installed";
    // Moderate colours, so that both decoders stay in gamut, over a fine
    // luma checker, so that a sample out of place shows.
    pwtest::TempDir dir;
    Image source{768, 512, 3, {}};
    for (int y = 0; y < 512; ++y)
        for (int x = 0; x < 768; ++x) {
            const int checker = ((x / 3 + y / 3) % 2) * 30;
            source.Pixels.insert(source.Pixels.end(),
                                 {uint8_t(50 + checker + 110 * x / 767), uint8_t(60 + checker + 90 * y / 511),
                                  uint8_t(110 + checker + 50 * std::sin(x / 60.0) * std::cos(y / 45.0))});
        }
    pwtest::WriteNetpbm(dir.File("source.ppm"), source);
    auto made = pwtest::Run({"convert", dir.File("source.ppm"), dir.File("magick.pcd")});
    ASSERT_EQ(made.ExitCode, 0) << made.Err;
    made = pwtest::Run({"convert", dir.File("magick.pcd"), "-depth", "8", dir.File("magick.ppm")});
    ASSERT_EQ(made.ExitCode, 0) << made.Err;
    const Image reference = pwtest::ReadNetpbm(dir.File("magick.ppm"));

    const Image got = ConvertOrFail(dir.File("magick.pcd"), dir);
    ASSERT_EQ(got.Width, 768);
    ASSERT_EQ(got.Height, 512);
    const double againstMagick = pwtest::PSNR(got, reference);
    const double ours = pwtest::PSNR(got, source);
    const double magicks = pwtest::PSNR(reference, source);
    std::printf("PSNR against ImageMagick's decode %.2f dB; against the source %.2f dB (ImageMagick %.2f dB)\n",
                againstMagick, ours, magicks);
    // The decoders differ in their Photo-YCC arithmetic and chroma
    // enlargement; a row or plane out of place costs some 10 dB.
    EXPECT_GE(againstMagick, 28.0);
    EXPECT_GE(ours, magicks - 3.0);
}

TEST(CutAutodeskPcdCli, FailuresAndQuietEnds)
{
    const Bytes autodesk = AutodeskFile(0x9119);
    const Bytes pcd = PcdFile(0);
    Bytes noSignature = pcd;
    noSignature[2048] = 'p';
    const struct {
        const char* Name;
        Bytes File;
        std::string Message;
    } cases[] = {
        {"bad.cel", AutodeskFile(0x9191), "Cannot load image. Invalid or unexpected Autodesk image format."},
        {"short.pic", Bytes(autodesk.begin(), autodesk.begin() + 600), "Stream read error."},
        {"short.cut", Bytes(CutFile.begin(), CutFile.begin() + 9), "Stream read error."},
        {"short.pcd", Bytes(pcd.begin(), pcd.end() - 1000), "Stream read error."},
        {"none.pcd", noSignature, "The file holds no image."},
    };
    pwtest::TempDir dir;
    for (const auto& c : cases) {
        pwtest::WriteBytes(dir.File(c.Name), c.File);
        const auto result = Convert(dir.File(c.Name), dir.File(std::string(c.Name) + ".ppm"));
        std::string err = result.Err;
        while (!err.empty() && err.back() == '\n')
            err.pop_back();
        EXPECT_EQ(err.substr(err.rfind('\n') + 1), c.Message) << c.Name;
        EXPECT_EQ(result.ExitCode, 1) << c.Name;
        EXPECT_FALSE(pwtest::FileExists(dir.File(std::string(c.Name) + ".ppm"))) << c.Name;
    }
}

} // namespace
