// End-to-end runs of pinwright-cli info and convert.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sys/resource.h>
#include <fcntl.h>
#include <unistd.h>

using pwtest::CommandResult;

namespace {

CommandResult Cli(const std::vector<std::string>& arguments)
{
    std::vector<std::string> argv = {pwtest::BinPath("pinwright-cli")};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return pwtest::Run(argv);
}

std::string LastLine(const std::string& text)
{
    std::string trimmed = text;
    while (!trimmed.empty() && trimmed.back() == '\n')
        trimmed.pop_back();
    const size_t newline = trimmed.find_last_of('\n');
    return newline == std::string::npos ? trimmed : trimmed.substr(newline + 1);
}

std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Little-endian BMP with a 40-byte header and 24-bit pixels, no pixel bytes.
std::vector<uint8_t> BmpHeader24(int32_t width, int32_t height, uint32_t pixelBytes)
{
    std::vector<uint8_t> b;
    auto u16 = [&](uint32_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); };
    auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
    b.insert(b.end(), {'B', 'M'});
    u32(54 + pixelBytes), u32(0), u32(54);
    u32(40), u32(static_cast<uint32_t>(width)), u32(static_cast<uint32_t>(height)), u16(1), u16(24);
    u32(0), u32(pixelBytes), u32(0), u32(0), u32(0), u32(0);
    return b;
}

// Fixtures made by independent tools (tests/data/*/make.sh) and the image
// each decodes to.
const std::pair<const char*, const char*> BitmapFixtures[] = {
    {"bmp/core_1.bmp", "bmp/mono.ppm"},     {"bmp/core_4.bmp", "bmp/pal16.ppm"},
    {"bmp/core_8.bmp", "bmp/pal256.ppm"},   {"bmp/core_24.bmp", "bmp/rgb.ppm"},
    {"bmp/info_1.bmp", "bmp/mono.ppm"},     {"bmp/info_4.bmp", "bmp/pal16.ppm"},
    {"bmp/info_8.bmp", "bmp/pal256.ppm"},   {"bmp/info_24.bmp", "bmp/rgb.ppm"},
    {"bmp/info_32.bmp", "bmp/rgb.ppm"},     {"bmp/info_555.bmp", "bmp/rgb15.ppm"},
    {"bmp/info_565.bmp", "bmp/rgb16.ppm"},  {"bmp/rle4.bmp", "bmp/pal16.ppm"},
    {"bmp/rle8.bmp", "bmp/pal256.ppm"},     {"bmp/v2_565.bmp", "bmp/rgb16.ppm"},
    {"bmp/v3_argb.bmp", "bmp/rgba.pam"},    {"bmp/v4_565.bmp", "bmp/rgb16.ppm"},
    {"bmp/v4_argb.bmp", "bmp/rgba.pam"},    {"bmp/v5_24.bmp", "bmp/rgb.ppm"},
    {"bmp/v5_555.bmp", "bmp/rgb15.ppm"},    {"bmp/v5_565.bmp", "bmp/rgb16.ppm"},
    {"bmp/v5_argb.bmp", "bmp/rgba.pam"},    {"bmp/v5_zero_alpha.bmp", "bmp/rgb.ppm"},
    {"bmp/topdown_8.bmp", "bmp/pal256.ppm"}, {"bmp/topdown_24.bmp", "bmp/rgb.ppm"},
    {"bmp/topdown_argb.bmp", "bmp/rgba.pam"}, {"bmp/packed.dib", "bmp/pal256.ppm"},
    {"ico/mono_1.ico", "ico/mono.pam"},     {"ico/pal_4.ico", "ico/pal16.pam"},
    {"ico/pal_8.ico", "ico/pal256.pam"},    {"ico/argb_32.ico", "ico/argb.pam"},
    {"ico/multi.ico", "ico/argb.pam"},      {"ico/png.ico", "ico/argb.pam"},
};

} // namespace

TEST(PinwrightCliConvert, BitmapsAndIconsAsPpmAndPam)
{
    pwtest::TempDir dir;
    for (const auto& [file, source] : BitmapFixtures) {
        SCOPED_TRACE(file);
        const pwtest::Image expected = pwtest::ReadNetpbm(pwtest::DataPath(source));
        const CommandResult pam = Cli({"convert", pwtest::DataPath(file), dir.File("out.pam")});
        ASSERT_EQ(pam.ExitCode, 0) << pam.Err;
        EXPECT_EQ(pwtest::FirstDifference(pwtest::ReadNetpbm(dir.File("out.pam")), expected), "");
        const CommandResult ppm = Cli({"convert", pwtest::DataPath(file), dir.File("out.ppm")});
        ASSERT_EQ(ppm.ExitCode, 0) << ppm.Err;
        EXPECT_EQ(pwtest::FirstDifference(pwtest::ReadNetpbm(dir.File("out.ppm")), pwtest::ToRGB(expected)), "");
    }
    EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string>{"out.pam", "out.ppm"}));
}

TEST(PinwrightCliConvert, PngOutputReadsBackWithNetpbm)
{
    if (!pwtest::HaveProgram("pngtopam"))
        GTEST_SKIP() << "pngtopam not installed";
    pwtest::TempDir dir;
    for (const char* file : {"bmp/info_8.bmp", "bmp/v5_555.bmp", "bmp/v5_argb.bmp", "ico/pal_4.ico"}) {
        SCOPED_TRACE(file);
        const CommandResult png = Cli({"convert", pwtest::DataPath(file), dir.File("out.PNG")});
        ASSERT_EQ(png.ExitCode, 0) << png.Err;
        const CommandResult pam = Cli({"convert", pwtest::DataPath(file), dir.File("ref.pam")});
        ASSERT_EQ(pam.ExitCode, 0) << pam.Err;
        const pwtest::Image reference = pwtest::ReadNetpbm(dir.File("ref.pam"));
        const CommandResult decoded =
            pwtest::Run({"sh", "-c", "pngtopam " + std::string(reference.Channels == 4 ? "-alphapam " : "") +
                                         dir.File("out.PNG") + " > " + dir.File("back.pam")});
        ASSERT_EQ(decoded.ExitCode, 0) << decoded.Err;
        EXPECT_EQ(pwtest::FirstDifference(pwtest::ReadNetpbm(dir.File("back.pam")), reference), "");
    }
}

TEST(PinwrightCliConvert, JpegIsDecoded)
{
    if (!pwtest::HaveProgram("cjpeg") || !pwtest::HaveProgram("djpeg"))
        GTEST_SKIP() << "cjpeg/djpeg not installed";
    pwtest::TempDir dir;
    const std::string jpeg = dir.File("photo.jpg");
    ASSERT_EQ(pwtest::Run({"sh", "-c", "cjpeg -quality 85 " + pwtest::DataPath("bmp/pal256.ppm") + " > " + jpeg +
                                           " && djpeg -dct float " + jpeg + " > " + dir.File("ref.ppm")})
                  .ExitCode,
              0);
    const CommandResult result = Cli({"convert", jpeg, dir.File("out.ppm")});
    ASSERT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_EQ(pwtest::FirstDifference(pwtest::ReadNetpbm(dir.File("out.ppm")),
                                      pwtest::ReadNetpbm(dir.File("ref.ppm"))),
              "");
}

TEST(PinwrightCliConvert, EmptyBitmap)
{
    // The reader accepts a 0 x 0 bitmap; convert has nothing to write.
    pwtest::TempDir dir;
    pwtest::WriteBytes(dir.File("empty.bmp"), BmpHeader24(0, 0, 0));
    for (const char* out : {"out.ppm", "out.pam", "out.png"}) {
        const CommandResult result = Cli({"convert", dir.File("empty.bmp"), dir.File(out)});
        EXPECT_EQ(result.ExitCode, 1);
        EXPECT_EQ(LastLine(result.Err), "The file holds no image.");
        EXPECT_FALSE(pwtest::FileExists(dir.File(out)));
    }
}

TEST(PinwrightCliConvert, ErrorsLeaveNoOutput)
{
    pwtest::TempDir dir;
    auto truncated = pwtest::ReadBytes(pwtest::DataPath("bmp/info_24.bmp"));
    truncated.resize(truncated.size() / 2);
    pwtest::WriteBytes(dir.File("cut.bmp"), truncated);
    pwtest::WriteBytes(dir.File("garbage.ico"), {0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0, 0xFF, 0xFF, 0, 0, 99});
    pwtest::WriteText(dir.File("photo.xyz"), "not a picture");
    pwtest::WriteText(dir.File("kept.ppm"), "previous");
    const std::string good = pwtest::DataPath("bmp/info_8.bmp");
    const struct {
        std::vector<std::string> Arguments;
        std::string Message;
    } cases[] = {
        {{"convert", dir.File("photo.xyz"), dir.File("out.ppm")}, "Unknown picture file extension (.xyz)."},
        {{"convert", good, dir.File("out.gif")}, "Unknown output file extension (.gif)."},
        {{"convert", dir.File("none.bmp"), dir.File("out.ppm")},
         "Cannot open file \"" + dir.File("none.bmp") + "\". No such file or directory."},
        {{"convert", dir.File("cut.bmp"), dir.File("kept.ppm")}, "Bitmap image is not valid."},
        {{"convert", dir.File("garbage.ico"), dir.File("out.pam")}, "Icon image is not valid."},
        {{"convert", good, dir.File("no/such/folder/out.ppm")},
         "Cannot create file \"" + dir.File("no/such/folder/out.ppm") + "\". No such file or directory."},
        {{"convert", good}, "Usage: pinwright-cli convert FILE OUT."},
        {{"info"}, "Usage: pinwright-cli info FILE."},
        {{"frobnicate"}, "Usage: pinwright-cli info FILE | convert FILE OUT | georef ARGUMENTS | check FILE... | snap IMAGE COL,ROW | corners IMAGE | grid ARGUMENTS."},
        {{}, "Usage: pinwright-cli info FILE | convert FILE OUT | georef ARGUMENTS | check FILE... | snap IMAGE COL,ROW | corners IMAGE | grid ARGUMENTS."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Message);
        const CommandResult result = Cli(c.Arguments);
        EXPECT_EQ(result.ExitCode, c.Message.rfind("Usage: ", 0) == 0 ? 2 : 1);
        EXPECT_EQ(LastLine(result.Err), c.Message);
        EXPECT_EQ(result.Out, "");
    }
    EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string>{"cut.bmp", "garbage.ico", "kept.ppm", "photo.xyz"}));
    EXPECT_EQ(pwtest::ReadText(dir.File("kept.ppm")), "previous");
}

TEST(PinwrightCliInfo, PlatformPictures)
{
    const CommandResult bmp = Cli({"info", pwtest::DataPath("bmp/v5_555.bmp")});
    ASSERT_EQ(bmp.ExitCode, 0) << bmp.Err;
    EXPECT_EQ(bmp.Out, "{\n  \"class\": \"TBitmap\",\n  \"width\": 13,\n  \"height\": 7,\n"
                       "  \"pixelFormat\": \"bf15Bit\"\n}\n");
    const CommandResult ico = Cli({"info", pwtest::DataPath("ico/multi.ico")});
    ASSERT_EQ(ico.ExitCode, 0) << ico.Err;
    EXPECT_EQ(ico.Out, "{\n  \"class\": \"TIcon\",\n  \"width\": 24,\n  \"height\": 24,\n"
                       "  \"pixelFormat\": \"bf32Bit\"\n}\n");
}

TEST(PinwrightCliInfo, JpegHeaderOnly)
{
    // A baseline header with no quantisation or Huffman tables: the header
    // reads, decoding fails. info must not decode.
    const std::vector<uint8_t> jpeg = {
        0xFF, 0xD8,                                                                        // SOI
        0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x05, 0x00, 0x07, 0x01, 0x01, 0x11, 0x00,      // SOF0 7 x 5, grey
        0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00,                        // SOS
        0x12, 0x34, 0x56, 0x78, 0xFF, 0xD9};
    pwtest::TempDir dir;
    pwtest::WriteBytes(dir.File("header.jpg"), jpeg);
    const CommandResult info = Cli({"info", dir.File("header.jpg")});
    ASSERT_EQ(info.ExitCode, 0) << info.Err;
    EXPECT_EQ(info.Out, "{\n  \"class\": \"TJPEGImage\",\n  \"width\": 7,\n  \"height\": 5,\n"
                        "  \"pixelFormat\": \"bf8Bit\"\n}\n");
    const CommandResult convert = Cli({"convert", dir.File("header.jpg"), dir.File("out.ppm")});
    EXPECT_EQ(convert.ExitCode, 1);
    EXPECT_EQ(LastLine(convert.Err).rfind("JPEG error #", 0), 0u) << convert.Err;
    EXPECT_FALSE(pwtest::FileExists(dir.File("out.ppm")));
}

TEST(PinwrightCliInfo, ReaderPropertiesListEveryField)
{
    if (!pwtest::HaveProgram("pnmtopng"))
        GTEST_SKIP() << "pnmtopng not installed";
    pwtest::TempDir dir;
    ASSERT_EQ(pwtest::Run({"sh", "-c", "pnmtopng -force " + pwtest::DataPath("bmp/rgb.ppm") + " > " + dir.File("rgb.png")})
                  .ExitCode,
              0);
    const CommandResult info = Cli({"info", dir.File("rgb.png")});
    ASSERT_EQ(info.ExitCode, 0) << info.Err;
    const char* fields[] = {
        "FormatVersion", "Flags", "Width", "Height", "PixelScheme", "BitsPerSample", "SamplesPerPixel",
        "BitsPerPixel", "CompressionKind", "Gamma", "XResolution", "YResolution", "IsInterlaced", "AlphaPresent",
        "FirstIFDOffset", "PlanarConfiguration", "RowIndex", "TileWidth", "TileLength", "RowBytes", "RowsPerStrip",
        "YCbCrSubSampling", "JPEGTables", "JPEGColorMode", "JPEGTablesMode", "StripIndex", "StripCount",
        "Predictor", "PCDOverview", "PCDRotation", "PCDImageCount", "StoredBottomUp", "ChannelCount",
        "PNGFilterMethod"};
    size_t at = info.Out.find("\"properties\": {");
    ASSERT_NE(at, std::string::npos) << info.Out;
    for (const char* field : fields) {
        const size_t next = info.Out.find("\n    \"" + std::string(field) + "\": ", at);
        ASSERT_NE(next, std::string::npos) << field << " missing or out of order in\n" << info.Out;
        at = next;
    }
    for (const char* member : {"\"class\": \"TPNGGraphic\"", "\"pixelFormat\": \"bf24Bit\"", "\"Width\": 13",
                               "\"PixelScheme\": \"psRGB\"", "\"CompressionKind\": \"ckDeflate\"",
                               "\"Flags\": [\"ifBigEndian\"", "\"Gamma\": 1,", "\"RowsPerStrip\": [],"})
        EXPECT_NE(info.Out.find(member), std::string::npos) << member << " not in\n" << info.Out;
}

TEST(PinwrightCliInfo, LargeBitmapLoadsInAboutOneCopy)
{
    // 20000 x 15000 at 24 bits: 900 MB of pixels in a sparse file.
    constexpr int width = 20000;
    constexpr int height = 15000;
    constexpr uint64_t pixelBytes = uint64_t(width) * 3 * height;
    pwtest::TempDir dir;
    const std::string file = dir.File("large.bmp");
    pwtest::WriteBytes(file, BmpHeader24(width, height, static_cast<uint32_t>(pixelBytes)));
    ASSERT_EQ(truncate(file.c_str(), static_cast<off_t>(54 + pixelBytes)), 0);
    const CommandResult info = Cli({"info", file});
    ASSERT_EQ(info.ExitCode, 0) << info.Err;
    EXPECT_NE(info.Out.find("\"width\": 20000,\n  \"height\": 15000,"), std::string::npos) << info.Out;
    // The largest child so far is this run; sanitizer builds carry shadow memory on top.
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const double peakMB = usage.ru_maxrss / 1024.0;
    EXPECT_LT(peakMB, pixelBytes / 1e6 * 1.15 + 150) << "peak " << peakMB << " MB";
}
