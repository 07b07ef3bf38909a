// TIFF and EPS files written by independent tools (ImageMagick, libtiff's
// tiffcp and tiffset, PIL) decoded through pinwright-cli. The files are made
// at run time from source images this test writes; a case whose tool is
// missing is skipped.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <iostream>

using namespace pwtest;

namespace {

constexpr int W = 67; // odd sizes: rows of every depth end in padding
constexpr int H = 45;

// Deterministic pixels: gradients with noise, so neighbouring pixels differ.
uint32_t Noise(uint32_t& state)
{
    state = state * 1103515245u + 12345u;
    return state >> 16;
}

Image MakeRGB()
{
    Image im{W, H, 3, {}};
    uint32_t state = 7;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            im.Pixels.push_back(static_cast<uint8_t>(x * 3 + y * 5 + Noise(state) % 40));
            im.Pixels.push_back(static_cast<uint8_t>(y * 6));
            im.Pixels.push_back(static_cast<uint8_t>(Noise(state)));
        }
    return im;
}

Image MakeGrey()
{
    Image im{W, H, 1, {}};
    uint32_t state = 11;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            im.Pixels.push_back(static_cast<uint8_t>(x * 4 + y * 2 + Noise(state) % 10));
    return im;
}

Image MakeBilevel()
{
    Image im{W, H, 1, {}};
    uint32_t state = 3;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            im.Pixels.push_back(((x / 5 + y / 4) % 3 == 0 || Noise(state) % 10 == 0) ? 0 : 255);
    return im;
}

// 16-bit samples and the image they reduce to (v x 255 div 65535).
struct Image16 {
    int Channels;
    std::vector<uint16_t> Samples;
    Image Reduced;
};

Image16 Make16(int channels)
{
    Image16 im{channels, {}, Image{W, H, channels, {}}};
    uint32_t state = 5;
    for (int i = 0; i < W * H * channels; ++i) {
        uint16_t v = static_cast<uint16_t>(Noise(state) * 7 + i);
        if (i % 97 == 0)
            v = 65535;
        else if (i % 89 == 0)
            v = 65534;
        im.Samples.push_back(v);
        im.Reduced.Pixels.push_back(static_cast<uint8_t>(uint32_t(v) * 255 / 65535));
    }
    return im;
}

void WriteNetpbm16(const std::string& fileName, const Image16& im)
{
    std::string header = std::string(im.Channels == 3 ? "P6" : "P5") + "\n" + std::to_string(W) + " " +
                         std::to_string(H) + "\n65535\n";
    std::vector<uint8_t> bytes(header.begin(), header.end());
    for (uint16_t v : im.Samples) {
        bytes.push_back(static_cast<uint8_t>(v >> 8));
        bytes.push_back(static_cast<uint8_t>(v));
    }
    WriteBytes(fileName, bytes);
}

void WritePBM(const std::string& fileName, const Image& im)
{
    std::string header = "P4\n" + std::to_string(im.Width) + " " + std::to_string(im.Height) + "\n";
    std::vector<uint8_t> bytes(header.begin(), header.end());
    for (int y = 0; y < im.Height; ++y)
        for (int x = 0; x < im.Width; x += 8) {
            uint8_t b = 0;
            for (int k = 0; k < 8 && x + k < im.Width; ++k)
                if (im.Pixels[size_t(y) * im.Width + x + k] == 0)
                    b |= static_cast<uint8_t>(0x80 >> k);
            bytes.push_back(b);
        }
    WriteBytes(fileName, bytes);
}

// Reference pixels that need the stored samples: palette entries reduced by
// truncation, and L*a*b* samples through the program's conversion formula.
const char* ReferenceScript = R"(
import sys
from PIL import Image
tif, out, kind = sys.argv[1:4]
im = Image.open(tif)
px = bytearray()
if kind == 'palette':
    cmap = im.tag_v2[320]
    n = len(cmap) // 3
    for i in im.getdata():
        px += bytes(cmap[c * n + i] * 255 // 65535 for c in range(3))
else:
    clamp = lambda v: max(0, min(255, round(v)))
    for L, a, b in im.getdata():
        L = L / 2.55; a -= 128; b -= 128
        if L < 7.9996:
            Y = L / 903.3; X = Y + a / 3893.5; Z = Y - b / 1557.4
        else:
            f = (L + 16) / 116; X = (f + a / 500) ** 3; Y = f ** 3; Z = (f - b / 200) ** 3
        px += bytes([clamp(255 * (2.998 * X - 1.458 * Y - 0.541 * Z)),
                     clamp(255 * (-0.952 * X + 1.893 * Y + 0.059 * Z)),
                     clamp(255 * (0.099 * X - 0.198 * Y + 1.099 * Z))])
open(out, 'wb').write(b'P6\n%d %d\n255\n' % im.size + px)
)";

// Saves an image with PIL: pilsave.py IN OUT COMPRESSION [predictor|palette].
const char* SaveScript = R"(
import sys
from PIL import Image
src, out, compression = sys.argv[1:4]
option = sys.argv[4] if len(sys.argv) > 4 else ''
im = Image.open(src)
if option == 'palette':
    im = im.convert('P', palette=Image.ADAPTIVE, colors=64)
im.save(out, compression=compression, tiffinfo={317: 2} if option == 'predictor' else {})
)";

std::string Python()
{
    // The system interpreter carries PIL from the distribution's package.
    for (const std::string candidate : {"/usr/bin/python3", "python3"})
        if (Run({candidate, "-c", "import PIL"}).ExitCode == 0)
            return candidate;
    return "";
}

// A bare file name of the test folder (commands name their files so).
bool IsFileName(const std::string& arg)
{
    if (arg.find('/') != std::string::npos || arg.find(' ') != std::string::npos)
        return false;
    for (const char* extension : {".tif", ".ppm", ".pgm", ".pbm", ".py", ".eps"})
        if (arg.size() > 4 && arg.ends_with(extension))
            return true;
    return false;
}

int MaxDifference(const Image& a, const Image& b)
{
    int worst = 0;
    for (size_t i = 0; i < a.Pixels.size() && i < b.Pixels.size(); ++i)
        worst = std::max(worst, std::abs(int(a.Pixels[i]) - int(b.Pixels[i])));
    return worst;
}

class TiffCli : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Dir = new TempDir;
        WriteNetpbm(Dir->File("src.ppm"), MakeRGB());
        WriteNetpbm(Dir->File("grey.pgm"), MakeGrey());
        WritePBM(Dir->File("bw.pbm"), MakeBilevel());
        WriteNetpbm16(Dir->File("rgb16.ppm"), Make16(3));
        WriteNetpbm16(Dir->File("grey16.pgm"), Make16(1));
        WriteText(Dir->File("reference.py"), ReferenceScript);
        WriteText(Dir->File("pilsave.py"), SaveScript);
        PythonPath = new std::string(Python());
    }
    static void TearDownTestSuite()
    {
        delete Dir;
        delete PythonPath;
    }

    // Runs a command of a tool; "py" stands for the interpreter with PIL.
    static bool Tool(std::vector<std::string> argv, std::string* skipped)
    {
        if (argv[0] == "py")
            argv[0] = *PythonPath;
        if (argv[0].empty() || !HaveProgram(argv[0])) {
            *skipped = "tool missing for: " + argv.back();
            return false;
        }
        for (auto& arg : argv)
            if (IsFileName(arg))
                arg = Dir->File(arg);
        const CommandResult r = pwtest::Run(argv);
        EXPECT_EQ(r.ExitCode, 0) << argv[0] << " failed: " << r.Err;
        return r.ExitCode == 0;
    }

    static CommandResult Cli(const std::vector<std::string>& args)
    {
        std::vector<std::string> argv = {BinPath("pinwright-cli")};
        argv.insert(argv.end(), args.begin(), args.end());
        return pwtest::Run(argv);
    }

    static Image Decode(const std::string& tif, bool keepAlpha = false)
    {
        const std::string out = Dir->File(tif + (keepAlpha ? ".pam" : ".ppm"));
        const CommandResult r = Cli({"convert", Dir->File(tif), out});
        EXPECT_EQ(r.ExitCode, 0) << r.Err;
        return r.ExitCode == 0 ? ReadNetpbm(out) : Image{};
    }

    static TempDir* Dir;
    static std::string* PythonPath;
};

TempDir* TiffCli::Dir = nullptr;
std::string* TiffCli::PythonPath = nullptr;

using Commands = std::vector<std::vector<std::string>>;

enum class Ref {
    Source,     // the RGB source
    Bilevel,    // the bilevel source
    RGB16,      // the 16-bit RGB source, reduced
    Grey16,     // the 16-bit grey source, reduced
    Magick,     // ImageMagick's decoding of the same file
    Palette,    // stored indices through the stored colour map, reduced
    Lab,        // stored L*a*b* samples through the conversion formula
};

struct Case {
    const char* name;
    Commands make; // the last command writes out.tif
    Ref ref;
    int tolerance;
};

} // namespace

TEST_F(TiffCli, FilesOfIndependentToolsDecodePixelExact)
{
    const Case cases[] = {
        {"uncompressed (ImageMagick)", {{"convert", "src.ppm", "-compress", "none", "out.tif"}}, Ref::Source, 0},
        {"PackBits (tiffcp)",
         {{"convert", "src.ppm", "-compress", "none", "a.tif"}, {"tiffcp", "-c", "packbits", "a.tif", "out.tif"}},
         Ref::Source, 0},
        {"PackBits (PIL)",
         {{"py", "pilsave.py", "src.ppm", "out.tif", "packbits"}},
         Ref::Source, 0},
        {"Deflate 8 (tiffcp)",
         {{"convert", "src.ppm", "-compress", "none", "a.tif"}, {"tiffcp", "-c", "zip", "a.tif", "out.tif"}},
         Ref::Source, 0},
        {"Deflate 32946 (tiffcp, tiffset)",
         {{"convert", "src.ppm", "-compress", "none", "a.tif"},
          {"tiffcp", "-c", "zip", "a.tif", "out.tif"},
          {"tiffset", "-s", "259", "32946", "out.tif"}},
         Ref::Source, 0},
        {"Deflate with predictor 2 (tiffcp)",
         {{"convert", "src.ppm", "-compress", "none", "a.tif"}, {"tiffcp", "-c", "zip:2", "a.tif", "out.tif"}},
         Ref::Source, 0},
        {"Deflate with predictor 2 (PIL)",
         {{"py", "pilsave.py", "src.ppm", "out.tif", "tiff_adobe_deflate", "predictor"}},
         Ref::Source, 0},
        {"JPEG, YCbCr (tiffcp)",
         {{"convert", "src.ppm", "-compress", "none", "a.tif"},
          {"tiffcp", "-c", "jpeg", "-r", "16", "a.tif", "out.tif"}},
         Ref::Magick, 0},
        {"JPEG, RGB (ImageMagick)", {{"convert", "src.ppm", "-compress", "jpeg", "out.tif"}}, Ref::Magick, 0},
        {"Group 3 one-dimensional (tiffcp)",
         {{"convert", "bw.pbm", "-compress", "none", "b.tif"}, {"tiffcp", "-c", "g3:1d", "b.tif", "out.tif"}},
         Ref::Bilevel, 0},
        {"Group 3 with fill order 2 (tiffcp)",
         {{"convert", "bw.pbm", "-compress", "none", "b.tif"},
          {"tiffcp", "-c", "g3:1d", "-f", "lsb2msb", "b.tif", "out.tif"}},
         Ref::Bilevel, 0},
        {"Group 3 from a min-is-white image (ImageMagick)",
         {{"convert", "bw.pbm", "-compress", "fax", "out.tif"}}, Ref::Bilevel, 0},
        {"modified Huffman (PIL)",
         {{"py", "pilsave.py", "bw.pbm", "out.tif", "tiff_ccitt"}},
         Ref::Bilevel, 0},
        {"fill order 2, uncompressed RGB (tiffcp)",
         {{"convert", "src.ppm", "-compress", "none", "a.tif"}, {"tiffcp", "-f", "lsb2msb", "a.tif", "out.tif"}},
         Ref::Source, 0},
        {"fill order 2, PackBits bilevel (tiffcp)",
         {{"convert", "bw.pbm", "-compress", "none", "b.tif"},
          {"tiffcp", "-f", "lsb2msb", "-c", "packbits", "b.tif", "out.tif"}},
         Ref::Bilevel, 0},
        {"big-endian (tiffcp)",
         {{"convert", "src.ppm", "-compress", "none", "a.tif"}, {"tiffcp", "-B", "a.tif", "out.tif"}}, Ref::Source, 0},
        {"several strips, big-endian PackBits (tiffcp)",
         {{"convert", "src.ppm", "-compress", "none", "a.tif"},
          {"tiffcp", "-B", "-r", "7", "-c", "packbits", "a.tif", "out.tif"}},
         Ref::Source, 0},
        {"tiled, edge tiles clipped (tiffcp)",
         {{"convert", "src.ppm", "-compress", "none", "a.tif"},
          {"tiffcp", "-t", "-w", "16", "-l", "16", "a.tif", "out.tif"}},
         Ref::Source, 0},
        {"tiled Deflate with predictor (tiffcp)",
         {{"convert", "src.ppm", "-compress", "none", "a.tif"},
          {"tiffcp", "-t", "-w", "32", "-l", "16", "-c", "zip:2", "a.tif", "out.tif"}},
         Ref::Source, 0},
        {"tiled JPEG (tiffcp)",
         {{"convert", "src.ppm", "-compress", "none", "a.tif"},
          {"tiffcp", "-t", "-w", "16", "-l", "16", "-c", "jpeg", "a.tif", "out.tif"}},
         Ref::Magick, 0},
        {"tiled bilevel PackBits (tiffcp)",
         {{"convert", "bw.pbm", "-compress", "none", "b.tif"},
          {"tiffcp", "-t", "-w", "16", "-l", "16", "-c", "packbits", "b.tif", "out.tif"}},
         Ref::Bilevel, 0},
        {"planar RGB (tiffcp)",
         {{"convert", "src.ppm", "-compress", "none", "a.tif"},
          {"tiffcp", "-p", "separate", "-r", "10", "-c", "zip", "a.tif", "out.tif"}},
         Ref::Source, 0},
        {"palette, 4 bits (ImageMagick)",
         {{"convert", "src.ppm", "-colors", "16", "-depth", "4", "-type", "Palette", "out.tif"}}, Ref::Palette, 0},
        {"palette, 8 bits (ImageMagick)",
         {{"convert", "src.ppm", "-colors", "200", "-type", "Palette", "out.tif"}}, Ref::Palette, 0},
        {"palette, 8 bits (PIL)",
         {{"py", "pilsave.py", "src.ppm", "out.tif", "raw", "palette"}},
         Ref::Palette, 0},
        // ImageMagick stores the grey values unchanged and labels them min-is-white.
        {"min-is-white, 8 bits (ImageMagick)",
         {{"convert", "grey.pgm", "-define", "quantum:polarity=min-is-white", "out.tif"}}, Ref::Magick, 0},
        {"min-is-white, 1 bit (ImageMagick)",
         {{"convert", "bw.pbm", "-define", "quantum:polarity=min-is-white", "out.tif"}}, Ref::Bilevel, 0},
        {"16-bit grey, little-endian (ImageMagick)", {{"convert", "grey16.pgm", "-depth", "16", "out.tif"}},
         Ref::Grey16, 0},
        {"16-bit grey, big-endian (tiffcp)",
         {{"convert", "grey16.pgm", "-depth", "16", "a.tif"}, {"tiffcp", "-B", "a.tif", "out.tif"}}, Ref::Grey16, 0},
        {"16-bit RGB, little-endian (ImageMagick)", {{"convert", "rgb16.ppm", "-depth", "16", "out.tif"}},
         Ref::RGB16, 0},
        {"16-bit RGB, big-endian Deflate with predictor (tiffcp)",
         {{"convert", "rgb16.ppm", "-depth", "16", "a.tif"}, {"tiffcp", "-B", "-c", "zip:2", "a.tif", "out.tif"}},
         Ref::RGB16, 0},
        {"CMYK (ImageMagick)", {{"convert", "src.ppm", "-colorspace", "CMYK", "out.tif"}}, Ref::Magick, 1},
        {"CIE L*a*b* (ImageMagick)", {{"convert", "src.ppm", "-colorspace", "Lab", "-depth", "8", "out.tif"}},
         Ref::Lab, 1},
    };
    const Image source = MakeRGB();
    const Image bilevel = ToRGB(MakeBilevel());
    const Image rgb16 = Make16(3).Reduced;
    const Image grey16 = ToRGB(Make16(1).Reduced);
    int ran = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string skipped;
        bool made = true;
        for (const auto& command : c.make)
            if (!(made = Tool(command, &skipped)))
                break;
        if (!made) {
            if (!skipped.empty())
                std::cout << "[ SKIPPED  ] " << c.name << ": " << skipped << "\n";
            continue;
        }
        const Image decoded = Decode("out.tif");
        Image expected;
        switch (c.ref) {
        case Ref::Source: expected = source; break;
        case Ref::Bilevel: expected = bilevel; break;
        case Ref::RGB16: expected = rgb16; break;
        case Ref::Grey16: expected = grey16; break;
        case Ref::Magick:
            ASSERT_TRUE(Tool({"convert", "out.tif", "-colorspace", "sRGB", "-depth", "8", "magick.ppm"}, &skipped));
            expected = ToRGB(ReadNetpbm(Dir->File("magick.ppm")));
            break;
        case Ref::Palette:
        case Ref::Lab:
            ASSERT_TRUE(
                Tool({"py", "reference.py", "out.tif", "ref.ppm", c.ref == Ref::Lab ? "lab" : "palette"}, &skipped));
            expected = ReadNetpbm(Dir->File("ref.ppm"));
            break;
        }
        ASSERT_EQ(decoded.Width, W);
        ASSERT_EQ(decoded.Height, H);
        if (c.tolerance == 0)
            EXPECT_EQ(FirstDifference(decoded, expected), "");
        else
            EXPECT_LE(MaxDifference(decoded, expected), c.tolerance);
        ++ran;
    }
    if (ran == 0)
        GTEST_SKIP() << "no TIFF-writing tool installed";
}

TEST_F(TiffCli, RGBAKeepsAlpha)
{
    std::string skipped;
    if (!Tool({"convert", "src.ppm", "grey.pgm", "-compose", "CopyOpacity", "-composite", "rgba.tif"}, &skipped))
        GTEST_SKIP() << skipped;
    const Image decoded = Decode("rgba.tif", true);
    const Image rgb = MakeRGB();
    const Image alpha = MakeGrey();
    Image expected{W, H, 4, {}};
    for (int i = 0; i < W * H; ++i) {
        for (int c = 0; c < 3; ++c)
            expected.Pixels.push_back(rgb.Pixels[size_t(i) * 3 + c]);
        expected.Pixels.push_back(alpha.Pixels[size_t(i)]);
    }
    EXPECT_EQ(FirstDifference(decoded, expected), "");
}

TEST_F(TiffCli, HandBuiltThunderScan)
{
    // 6 x 2, 4-bit grey, compression 32809, one strip at offset 8.
    std::vector<uint8_t> file = {'I', 'I', 42, 0, 16, 0, 0, 0, 0xC5, 0xC7, 0x02, 0x8B, 0xC0, 0x45, 0x02, 0x00};
    const std::vector<std::array<uint32_t, 3>> entries = {
        {256, 3, 6}, {257, 3, 2}, {258, 3, 4}, {259, 3, 32809}, {262, 3, 1}, {273, 4, 8}, {277, 3, 1}, {278, 3, 2},
        {279, 4, 7}};
    file.push_back(static_cast<uint8_t>(entries.size()));
    file.push_back(0);
    for (const auto& [tag, type, value] : entries) {
        for (uint32_t v : {tag & 0xFF, tag >> 8, type, 0u, 1u, 0u, 0u, 0u})
            file.push_back(static_cast<uint8_t>(v));
        for (int k = 0; k < 4; ++k)
            file.push_back(static_cast<uint8_t>(value >> (8 * k)));
    }
    file.insert(file.end(), 4, 0);
    WriteBytes(Dir->File("thunder.tif"), file);
    const Image decoded = Decode("thunder.tif");
    const std::vector<uint8_t> levels = {5, 7, 7, 7, 8, 11, 0, 0, 1, 2, 2, 2};
    Image expected{6, 2, 3, {}};
    for (uint8_t v : levels)
        expected.Pixels.insert(expected.Pixels.end(), 3, static_cast<uint8_t>(v * 17));
    EXPECT_EQ(FirstDifference(decoded, expected), "");
}

TEST_F(TiffCli, RefusedCompressionsAndPlainPostScript)
{
    std::string skipped;
    if (!Tool({"convert", "src.ppm", "-compress", "none", "a.tif"}, &skipped) ||
        !Tool({"tiffcp", "-c", "lerc", "a.tif", "lerc.tif"}, &skipped))
        GTEST_SKIP() << skipped;
    WriteText(Dir->File("plain.eps"), "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 10 10\nshowpage\n");
    const std::pair<const char*, const char*> cases[] = {
        {"lerc.tif", "Cannot load image. The compression scheme is not supported for TIF/TIFF files.\n"},
        {"plain.eps", "Cannot load image. Invalid or unexpected EPS image format.\n"},
    };
    for (const auto& [file, message] : cases) {
        SCOPED_TRACE(file);
        const CommandResult r = Cli({"convert", Dir->File(file), Dir->File("x.ppm")});
        EXPECT_EQ(r.ExitCode, 1);
        EXPECT_EQ(r.Err, message);
    }
}

// The codings of scanned archives, written by independent tools, decode as
// libtiff reads them: each file gives the pixels of its uncompressed copy
// made by tiffcp (JPEG: of ImageMagick's reading).
TEST_F(TiffCli, ScanArchiveFilesDecodeAsLibtiffReadsThem)
{
    struct ArchiveCase {
        std::string Name;
        Commands Make; // the last command writes out.tif
        bool Alpha = false;
        bool Magick = false;
    };
    const auto tiffcp = [](std::vector<std::string> options, const std::string& from) {
        options.insert(options.begin(), "tiffcp");
        options.insert(options.end(), {from, "out.tif"});
        return options;
    };
    const std::vector<std::string> rgb = {"convert", "src.ppm", "-compress", "none", "a.tif"};
    const std::vector<std::string> rgba = {"convert", "src.ppm", "grey.pgm", "-alpha", "off", "-compose",
                                           "CopyOpacity", "-composite", "-compress", "none", "rgba.tif"};
    const std::vector<std::string> grey = {"convert", "grey.pgm", "-compress", "none", "g.tif"};
    const std::vector<std::string> rgb16 = {"convert", "rgb16.ppm", "-depth", "16", "-compress", "none", "a16.tif"};
    const std::vector<std::string> grey16 = {"convert", "grey16.pgm", "-depth", "16", "-compress", "none", "g16.tif"};
    std::vector<ArchiveCase> cases = {
        {"LZW grey (tiffcp)", {grey, tiffcp({"-c", "lzw"}, "g.tif")}},
        {"LZW grey, predictor, strips of 7 rows (tiffcp)", {grey, tiffcp({"-c", "lzw:2", "-r", "7"}, "g.tif")}},
        {"LZW palette (ImageMagick)",
         {{"convert", "src.ppm", "-colors", "200", "-type", "Palette", "-compress", "lzw", "out.tif"}}},
        {"LZW palette (PIL)", {{"py", "pilsave.py", "src.ppm", "out.tif", "tiff_lzw", "palette"}}},
        {"LZW RGB (PIL)", {{"py", "pilsave.py", "src.ppm", "out.tif", "tiff_lzw"}}},
        {"LZW RGB, predictor (PIL)", {{"py", "pilsave.py", "src.ppm", "out.tif", "tiff_lzw", "predictor"}}},
        {"LZW RGB, fill order 2, big-endian (tiffcp)", {rgb, tiffcp({"-c", "lzw", "-f", "lsb2msb", "-B"}, "a.tif")}},
        {"LZW RGB, predictor, tiles (tiffcp)", {rgb, tiffcp({"-c", "lzw:2", "-t", "-w", "32", "-l", "16"}, "a.tif")}},
        {"LZW RGBA (ImageMagick)",
         {{"convert", "src.ppm", "grey.pgm", "-alpha", "off", "-compose", "CopyOpacity", "-composite", "-compress",
           "lzw", "out.tif"}},
         true},
        {"LZW RGBA, predictor, tiles (tiffcp)", {rgba, tiffcp({"-c", "lzw:2", "-t", "-w", "16", "-l", "32"}, "rgba.tif")},
         true},
        {"LZW 16-bit RGB, predictor, big-endian (tiffcp)", {rgb16, tiffcp({"-c", "lzw:2", "-B"}, "a16.tif")}},
        {"LZW 16-bit grey, predictor, tiles (tiffcp)",
         {grey16, tiffcp({"-c", "lzw:2", "-t", "-w", "16", "-l", "16"}, "g16.tif")}},
        {"LZW 16-bit grey (ImageMagick)", {{"convert", "grey16.pgm", "-depth", "16", "-compress", "lzw", "out.tif"}}},
        // Rows as long as the bitmap's (64 pixels): decoded straight into it.
        {"JPEG YCbCr, 64 wide (tiffcp)",
         {{"convert", "src.ppm", "-crop", "64x45+0+0", "+repage", "-compress", "none", "c.tif"},
          tiffcp({"-c", "jpeg", "-r", "16"}, "c.tif")},
         false, true},
        {"JPEG grey, 64 wide (tiffcp)",
         {{"convert", "grey.pgm", "-crop", "64x45+0+0", "+repage", "-compress", "none", "gc.tif"},
          tiffcp({"-c", "jpeg", "-r", "8"}, "gc.tif")},
         false, true},
        {"Group 4 (ImageMagick)", {{"convert", "bw.pbm", "-compress", "Group4", "out.tif"}}},
        {"Group 4 (PIL)", {{"py", "pilsave.py", "bw.pbm", "out.tif", "group4"}}},
        {"Group 4, tiles (tiffcp)",
         {{"convert", "bw.pbm", "-compress", "none", "b.tif"}, tiffcp({"-c", "g4", "-t", "-w", "16", "-l", "16"}, "b.tif")}},
        {"Group 3 2-D, tiles, fill order 2 (tiffcp)",
         {{"convert", "bw.pbm", "-compress", "none", "b.tif"},
          tiffcp({"-c", "g3:2d", "-f", "lsb2msb", "-t", "-w", "32", "-l", "16"}, "b.tif")}},
    };
    // Bilevel scans of every width that matters: 1, a few bits, a byte, the
    // fax widths and a wide drawing; both fill orders and both polarities.
    for (const int width : {1, 7, 8, 1728, 2480, 10000}) {
        // Formatted into a buffer: GCC 12 warns falsely (-Wrestrict) on "w" + std::string.
        char name[32];
        std::snprintf(name, sizeof name, "w%d.pbm", width);
        const std::string pbm = name;
        Image im{width, 9, 1, {}};
        uint32_t state = static_cast<uint32_t>(width);
        for (int i = 0; i < width * 9; ++i)
            im.Pixels.push_back((i / 3 + i / width) % 5 == 0 || Noise(state) % 7 == 0 ? 0 : 255);
        WritePBM(Dir->File(pbm), im);
        const std::vector<std::string> black = {"convert", pbm, "-compress", "none", "b.tif"};
        const std::vector<std::string> white = {"convert", pbm, "-define", "quantum:polarity=min-is-white",
                                                "-compress", "none", "b.tif"};
        const std::string w = " width " + std::to_string(width);
        cases.push_back({"Group 4, min-is-black" + w, {black, tiffcp({"-c", "g4"}, "b.tif")}});
        cases.push_back({"Group 4, min-is-white, fill order 2" + w,
                         {white, tiffcp({"-c", "g4", "-f", "lsb2msb"}, "b.tif")}});
        cases.push_back({"Group 3 2-D, min-is-white, 4 rows a strip" + w,
                         {white, tiffcp({"-c", "g3:2d", "-r", "4"}, "b.tif")}});
        cases.push_back({"Group 3 2-D with fill, min-is-black, fill order 2" + w,
                         {black, tiffcp({"-c", "g3:2d:fill", "-f", "lsb2msb"}, "b.tif")}});
    }
    // BigTIFF in both byte orders with every coding tiffcp writes, strips of
    // 16 rows (as JPEG needs).
    for (const char* order : {"-L", "-B"})
        for (const char* scheme : {"none", "packbits", "lzw", "lzw:2", "zip:2", "jpeg", "g3:1d", "g3:2d", "g4"}) {
            const bool bilevel = scheme[0] == 'g';
            Commands make = {bilevel ? std::vector<std::string>{"convert", "bw.pbm", "-compress", "none", "b.tif"}
                                     : rgb,
                             tiffcp({"-8", order, "-r", "16", "-c", scheme}, bilevel ? "b.tif" : "a.tif")};
            cases.push_back({std::string("BigTIFF ") + order + " " + scheme, make, false, scheme[0] == 'j'});
        }

    int ran = 0;
    for (const ArchiveCase& c : cases) {
        SCOPED_TRACE(c.Name);
        std::string skipped;
        bool made = true;
        for (const auto& command : c.Make)
            if (!(made = Tool(command, &skipped)))
                break;
        if (!made) {
            if (!skipped.empty())
                std::cout << "[ SKIPPED  ] " << c.Name << ": " << skipped << "\n";
            continue;
        }
        const Image decoded = Decode("out.tif", c.Alpha);
        Image expected;
        if (c.Magick) {
            ASSERT_TRUE(Tool({"convert", "out.tif", "-colorspace", "sRGB", "-depth", "8", "magick.ppm"}, &skipped));
            expected = ToRGB(ReadNetpbm(Dir->File("magick.ppm")));
        } else {
            ASSERT_TRUE(Tool({"tiffcp", "-c", "none", "out.tif", "plain.tif"}, &skipped));
            expected = Decode("plain.tif", c.Alpha);
        }
        ASSERT_GT(expected.Width, 0);
        EXPECT_EQ(FirstDifference(decoded, expected), "");
        ++ran;
    }
    if (ran == 0)
        GTEST_SKIP() << "no TIFF-writing tool installed";
}

// The export pipeline hands such a source to geotifcp, which reads it with
// libtiff: the GeoTIFF shows the same pixels.
TEST_F(TiffCli, ScanArchiveSourcesMakeGeoTiffs)
{
    std::string skipped;
    if (!Tool({"convert", "bw.pbm", "-compress", "none", "b.tif"}, &skipped) ||
        !Tool({"tiffcp", "-8", "-B", "-c", "g4", "b.tif", "big_g4.tif"}, &skipped) ||
        !Tool({"convert", "src.ppm", "-compress", "none", "a.tif"}, &skipped) ||
        !Tool({"tiffcp", "-c", "lzw:2", "a.tif", "lzw.tif"}, &skipped) || !HaveProgram("geotifcp"))
        GTEST_SKIP() << skipped;
    for (const std::string source : {"big_g4.tif", "lzw.tif"}) {
        SCOPED_TRACE(source);
        const CommandResult r = Cli({"georef", Dir->File(source), "--p1", "10,10", "--p2", "60,40", "--map",
                                     "3501000,5404000,3505000,5401000", "--out", Dir->File("geo_" + source)});
        ASSERT_EQ(r.ExitCode, 0) << r.Err;
        EXPECT_EQ(FirstDifference(Decode("geo_" + source), Decode(source)), "");
    }
}

TEST_F(TiffCli, EPSWithBinaryHeaderShowsItsTIFFPreview)
{
    std::string skipped;
    if (!Tool({"convert", "src.ppm", "-compress", "none", "preview.tif"}, &skipped))
        GTEST_SKIP() << skipped;
    const std::vector<uint8_t> tiff = ReadBytes(Dir->File("preview.tif"));
    const std::string ps = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 67 45\nshowpage\n%%EOF\n";
    std::vector<uint8_t> eps;
    const auto put32 = [&](uint32_t v) {
        for (int k = 0; k < 4; ++k)
            eps.push_back(static_cast<uint8_t>(v >> (8 * k)));
    };
    put32(0xC6D3D0C5);
    put32(30);
    put32(static_cast<uint32_t>(ps.size()));
    put32(0);
    put32(0);
    put32(static_cast<uint32_t>(30 + ps.size()));
    put32(static_cast<uint32_t>(tiff.size()));
    eps.push_back(0xFF);
    eps.push_back(0xFF);
    eps.insert(eps.end(), ps.begin(), ps.end());
    eps.insert(eps.end(), tiff.begin(), tiff.end());
    WriteBytes(Dir->File("preview.eps"), eps);
    EXPECT_EQ(FirstDifference(Decode("preview.eps"), MakeRGB()), "");
}

TEST_F(TiffCli, InfoPrintsTheProperties)
{
    std::string skipped;
    if (!Tool({"convert", "src.ppm", "-compress", "none", "-units", "PixelsPerCentimeter", "-density", "100", "a.tif"},
              &skipped) ||
        !Tool({"tiffcp", "-r", "10", "-c", "packbits", "a.tif", "info.tif"}, &skipped))
        GTEST_SKIP() << skipped;
    const CommandResult r = Cli({"info", Dir->File("info.tif")});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    for (const char* expected : {
             "\"class\": \"TTIFFGraphic\"",
             "\"width\": 67",
             "\"pixelFormat\": \"bf24Bit\"",
             "\"CompressionKind\": \"ckPackBits\"",
             "\"PixelScheme\": \"psRGB\"",
             "\"XResolution\": 254",
             "\"YResolution\": 254",
             "\"RowsPerStrip\": [10]",
             "\"StripCount\": 5",
             "\"RowBytes\": 201",
         })
        EXPECT_NE(r.Out.find(expected), std::string::npos) << expected << "\n" << r.Out;
}
