// pinwright-cli convert on PNG files: every file that PIL and ImageMagick
// wrote (tests/data/png/make.sh) comes out pixel-exact, and damaged copies of
// one of them fail with the reader's exact message.
#include "imaging/color/color_manager.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <functional>

namespace {

using Bytes = std::vector<uint8_t>;

struct CliCase {
    std::string Png, Reference;
    uint32_t Gama = 0;
};

void PrintTo(const CliCase& c, std::ostream* os)
{
    *os << c.Png;
}

std::vector<CliCase> ReadCases()
{
    std::vector<CliCase> cases;
    std::ifstream in(pwtest::DataPath("png/cases.txt"));
    std::string key;
    for (CliCase c; in >> c.Png >> c.Reference >> c.Gama >> key;)
        cases.push_back(c);
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

class PngCliTest : public ::testing::TestWithParam<CliCase> {};

TEST_P(PngCliTest, ConvertsPixelExact)
{
    const CliCase& c = GetParam();
    pwtest::TempDir dir;
    const auto result = Convert(pwtest::DataPath("png/" + c.Png), dir.File("out.pam"));
    ASSERT_EQ(result.ExitCode, 0) << result.Err;
    const pwtest::Image got = pwtest::ReadNetpbm(dir.File("out.pam"));
    pwtest::Image expected = pwtest::ReadNetpbm(pwtest::DataPath("png/" + c.Reference));
    TColorManager cm;
    cm.SetGammaValues(static_cast<float>(c.Gama) / 100000.0f, 2.2f);
    // RGB_ALPHA only where the bitmap keeps alpha (RGBA files); the colour
    // channels go through the gamma table when the file has gAMA.
    pwtest::Image want{expected.Width, expected.Height, got.Channels, {}};
    for (size_t i = 0; i < expected.Pixels.size(); ++i)
        if (i % 4 < size_t(got.Channels))
            want.Pixels.push_back(i % 4 == 3 || !c.Gama ? expected.Pixels[i] : cm.GammaTable()[expected.Pixels[i]]);
    EXPECT_EQ(got.Channels, c.Reference.find("rgba") != std::string::npos ? 4 : 3);
    EXPECT_EQ(got, want) << pwtest::FirstDifference(got, want);
}

INSTANTIATE_TEST_SUITE_P(Files, PngCliTest, ::testing::ValuesIn(ReadCases()),
                         [](const ::testing::TestParamInfo<CliCase>& info) {
                             std::string name = info.param.Png.substr(0, info.param.Png.size() - 4);
                             for (char& ch : name)
                                 if (!isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return name;
                         });

// ---- Damaged files ---------------------------------------------------------

struct Chunk {
    std::string Type;
    Bytes Data;
};

std::vector<Chunk> Chunks(const Bytes& file)
{
    std::vector<Chunk> chunks;
    for (size_t p = 8; p + 12 <= file.size();) {
        const size_t n = (size_t(file[p]) << 24) | (file[p + 1] << 16) | (file[p + 2] << 8) | file[p + 3];
        chunks.push_back({std::string(file.begin() + p + 4, file.begin() + p + 8),
                          Bytes(file.begin() + p + 8, file.begin() + p + 8 + n)});
        p += 12 + n;
    }
    return chunks;
}

Bytes Build(const std::vector<Chunk>& chunks)
{
    Bytes out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    const auto put = [&out](uint32_t v) {
        out.insert(out.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
    };
    for (const Chunk& c : chunks) {
        put(static_cast<uint32_t>(c.Data.size()));
        Bytes typed(c.Type.begin(), c.Type.end());
        typed.insert(typed.end(), c.Data.begin(), c.Data.end());
        out.insert(out.end(), typed.begin(), typed.end());
        put(static_cast<uint32_t>(crc32(0, typed.data(), static_cast<uInt>(typed.size()))));
    }
    return out;
}

TEST(PngCliFailures, DamagedFilesGiveTheReadersMessages)
{
    // pil_pal2.png: IHDR, PLTE, IDAT, IEND.
    const Bytes original = pwtest::ReadBytes(pwtest::DataPath("png/pil_pal2.png"));
    const std::vector<Chunk> chunks = Chunks(original);
    ASSERT_EQ(chunks.size(), 4u);
    const auto with = [&chunks](const std::function<void(std::vector<Chunk>&)>& change) {
        std::vector<Chunk> c = chunks;
        change(c);
        return Build(c);
    };
    Bytes badSignature = original;
    badSignature[0] = 0x88;
    Bytes badCrc = original;
    badCrc[original.size() - 20] ^= 1; // inside the image data
    const struct {
        const char* Name;
        Bytes File;
        std::string Message;
    } cases[] = {
        {"signature", badSignature, "Cannot load image. Invalid or unexpected PNG image format."},
        {"CRC", badCrc, "Cannot load image. CRC error found in PNG file."},
        {"critical chunk", with([](auto& c) { c.insert(c.begin() + 1, {"QUUX", {1}}); }),
         "Cannot load PNG image. Unexpected but critical chunk detected."},
        {"PLTE length", with([](auto& c) { c[1].Data.pop_back(); }),
         "Cannot load image. Palette in PNG file is invalid."},
        {"colour type and depth", with([](auto& c) { c[0].Data[8] = 16; }), "Invalid color format in PNG file."},
        {"compression method", with([](auto& c) { c[0].Data[10] = 1; }),
         "Cannot load image. The compression scheme is not supported for PNG files."},
        // Bytes after the end of the compressed stream are ignored
        // (zl_rgb8_trailing.png); a stream that ends before the image is not.
        {"stream ends before the image", with([](auto& c) {
             Bytes raw(1 << 16);
             uLongf size = raw.size();
             ASSERT_EQ(uncompress(raw.data(), &size, c[2].Data.data(), c[2].Data.size()), Z_OK);
             raw.resize(size / 2);
             Bytes packed(compressBound(raw.size()));
             uLongf packedSize = packed.size();
             ASSERT_EQ(compress(packed.data(), &packedSize, raw.data(), raw.size()), Z_OK);
             packed.resize(packedSize);
             c[2].Data = packed;
         }),
         "Cannot load image. Extra compressed data found in PNG file."},
    };
    pwtest::TempDir dir;
    for (const auto& c : cases) {
        pwtest::WriteBytes(dir.File("bad.png"), c.File);
        const auto result = Convert(dir.File("bad.png"), dir.File("out.ppm"));
        EXPECT_EQ(result.ExitCode, 1) << c.Name;
        EXPECT_EQ(LastLine(result.Err), c.Message) << c.Name;
        EXPECT_FALSE(pwtest::FileExists(dir.File("out.ppm"))) << c.Name;
    }
}

} // namespace
