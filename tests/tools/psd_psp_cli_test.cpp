// pinwright-cli convert on Photoshop files that ImageMagick wrote from source
// images made here (grey, RGB, CMYK, bitmap, indexed, RGBA; 8 and 16 bits;
// raw and PackBits) and on Paint Shop Pro files built byte by byte (versions
// 3 and 5; uncompressed, run-length and Deflate channels; 1, 4, 8 and 24
// bits and a fourth channel). Every file decodes pixel-exact.
#include "tests/imaging/readers/psp_test_builder.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <iostream>

using namespace pwtest;

namespace {

constexpr int W = 14; // even: a 4-bit PSP row takes W / 2 + 1 bytes
constexpr int H = 5;

uint32_t Noise(uint32_t& state)
{
    state = state * 1103515245u + 12345u;
    return state >> 16;
}

// count samples of bytesPerSample bytes, big-endian, with the extremes in.
std::vector<uint8_t> Samples(int count, int bytesPerSample, uint32_t seed)
{
    std::vector<uint8_t> out;
    for (int i = 0; i < count; ++i) {
        uint32_t v = Noise(seed) * 131 + uint32_t(i);
        v = i % 11 == 0 ? 0xFFFF : i % 13 == 0 ? 0 : v;
        if (bytesPerSample == 2)
            out.push_back(static_cast<uint8_t>(v >> 8));
        out.push_back(static_cast<uint8_t>(v));
    }
    return out;
}

uint8_t At16(const std::vector<uint8_t>& s, size_t i, bool wide)
{
    return wide ? static_cast<uint8_t>(((s[2 * i] << 8) | s[2 * i + 1]) * 255u / 65535u) : s[i];
}

// A netpbm file of the samples, or the bare samples when magic is empty.
void WriteSamples(const std::string& name, const std::string& magic, const std::vector<uint8_t>& s, bool wide)
{
    std::string header;
    if (!magic.empty())
        header = magic + "\n" + std::to_string(W) + " " + std::to_string(H) + "\n" + (wide ? "65535" : "255") + "\n";
    std::vector<uint8_t> bytes(header.begin(), header.end());
    bytes.insert(bytes.end(), s.begin(), s.end());
    WriteBytes(name, bytes);
}

// The RGB image that interleaved samples of the given scheme show.
Image Expected(const std::string& kind, const std::vector<uint8_t>& s, bool wide)
{
    Image im{W, H, 3, {}};
    for (size_t i = 0; i < size_t(W) * H; ++i) {
        if (kind == "grey") {
            const uint8_t v = At16(s, i, wide);
            im.Pixels.insert(im.Pixels.end(), {v, v, v});
        } else if (kind == "rgb") {
            for (size_t c = 0; c < 3; ++c)
                im.Pixels.push_back(At16(s, 3 * i + c, wide));
        } else { // CMYK, by the colour manager's ink arithmetic
            uint32_t ink[4];
            for (size_t c = 0; c < 4; ++c)
                ink[c] = wide ? (s[8 * i + 2 * c] << 8) | s[8 * i + 2 * c + 1] : s[4 * i + c];
            const uint32_t k = ink[3];
            for (size_t c = 0; c < 3; ++c) {
                const uint32_t x = ink[c];
                im.Pixels.push_back(wide ? static_cast<uint8_t>(255 - ((x - x * k / 65535 + k) % 65536) * 255 / 65535)
                                         : static_cast<uint8_t>(255 - (x + k - x * k / 255)));
            }
        }
    }
    return im;
}

CommandResult Convert(const std::string& input, const std::string& output)
{
    return Run({BinPath("pinwright-cli"), "convert", input, output});
}

std::string Python()
{
    // The distribution's interpreter carries PIL.
    for (const std::string candidate : {"/usr/bin/python3", "python3"})
        if (Run({candidate, "-c", "import PIL"}).ExitCode == 0)
            return candidate;
    return "";
}

} // namespace

TEST(PsdCli, ImageMagickFilesDecodePixelExact)
{
    if (!HaveProgram("convert"))
        GTEST_SKIP() << "ImageMagick is not installed";
    TempDir dir;
    const auto rgb = Samples(W * H * 3, 1, 1), grey = Samples(W * H, 1, 2), rgb16 = Samples(W * H * 3, 2, 3),
               grey16 = Samples(W * H, 2, 4), cmyk = Samples(W * H * 4, 1, 5), cmyk16 = Samples(W * H * 4, 2, 6);
    std::vector<uint8_t> bilevel;
    for (int i = 0; i < W * H; ++i)
        bilevel.push_back(i % 3 == 0 || i % 7 == 0 ? 0 : 255);
    WriteSamples(dir.File("rgb.ppm"), "P6", rgb, false);
    WriteSamples(dir.File("grey.pgm"), "P5", grey, false);
    WriteSamples(dir.File("bw.pgm"), "P5", bilevel, false);
    WriteSamples(dir.File("rgb16.ppm"), "P6", rgb16, true);
    WriteSamples(dir.File("grey16.pgm"), "P5", grey16, true);
    WriteSamples(dir.File("cmyk.raw"), "", cmyk, false);
    WriteSamples(dir.File("cmyk16.raw"), "", cmyk16, true);
    const std::string size = std::to_string(W) + "x" + std::to_string(H);
    const std::string python = Python();

    struct Case {
        std::string Name;
        std::vector<std::string> Args; // convert's arguments before the output file
        Image Want;                    // empty: PIL's reading of the file
        bool Alpha = false;
    };
    Image rgba = Expected("rgb", rgb, false);
    rgba.Channels = 4;
    rgba.Pixels.clear();
    for (size_t i = 0; i < size_t(W) * H; ++i)
        rgba.Pixels.insert(rgba.Pixels.end(), {rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2], grey[i]});
    std::vector<Case> cases;
    for (const std::string compression : {"none", "RLE"}) {
        const std::vector<std::string> c = {"-compress", compression};
        auto with = [&](std::vector<std::string> args) {
            args.insert(args.end(), c.begin(), c.end());
            return args;
        };
        cases.push_back({"RGB " + compression, with({dir.File("rgb.ppm")}), Expected("rgb", rgb, false)});
        cases.push_back({"grey " + compression, with({dir.File("grey.pgm")}), Expected("grey", grey, false)});
        cases.push_back({"grey with alpha " + compression,
                         with({dir.File("grey.pgm"), dir.File("rgb.ppm"), "-compose", "CopyOpacity", "-composite",
                               "-type", "GrayscaleAlpha"}),
                         Expected("grey", grey, false)});
        cases.push_back({"16-bit RGB " + compression, with({dir.File("rgb16.ppm"), "-depth", "16"}),
                         Expected("rgb", rgb16, true)});
        cases.push_back({"16-bit grey " + compression, with({dir.File("grey16.pgm"), "-depth", "16"}),
                         Expected("grey", grey16, true)});
        cases.push_back({"CMYK " + compression, with({"-size", size, "-depth", "8", "cmyk:" + dir.File("cmyk.raw")}),
                         Expected("cmyk", cmyk, false)});
        cases.push_back({"16-bit CMYK " + compression,
                         with({"-size", size, "-depth", "16", "-endian", "MSB", "cmyk:" + dir.File("cmyk16.raw")}),
                         Expected("cmyk", cmyk16, true)});
        cases.push_back({"bitmap " + compression, with({dir.File("bw.pgm"), "-type", "bilevel", "-depth", "1"}),
                         Expected("grey", bilevel, false)});
        cases.push_back({"indexed " + compression, with({dir.File("rgb.ppm"), "-colors", "40", "-type", "Palette"}), {}});
        cases.push_back({"RGBA " + compression,
                         with({dir.File("rgb.ppm"), dir.File("grey.pgm"), "-compose", "CopyOpacity", "-composite"}),
                         rgba, true});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string psd = dir.File("out.psd");
        std::vector<std::string> argv = {"convert"};
        argv.insert(argv.end(), c.Args.begin(), c.Args.end());
        argv.push_back(psd);
        const CommandResult made = pwtest::Run(argv);
        ASSERT_EQ(made.ExitCode, 0) << made.Err;
        Image want = c.Want;
        if (want.Pixels.empty()) {
            if (python.empty()) {
                std::cout << "[ SKIPPED  ] " << c.Name << ": PIL is not installed\n";
                continue;
            }
            const CommandResult ref = pwtest::Run({python, "-c",
                                           "import sys\nfrom PIL import Image\n"
                                           "Image.open(sys.argv[1]).convert('RGB').save(sys.argv[2])",
                                           psd, dir.File("ref.ppm")});
            ASSERT_EQ(ref.ExitCode, 0) << ref.Err;
            want = ReadNetpbm(dir.File("ref.ppm"));
        }
        const std::string out = dir.File(c.Alpha ? "out.pam" : "out.ppm");
        const CommandResult r = Convert(psd, out);
        ASSERT_EQ(r.ExitCode, 0) << r.Err;
        const Image got = ReadNetpbm(out);
        EXPECT_EQ(FirstDifference(got, want), "");
    }
}

TEST(PspCli, BuiltFilesDecodePixelExact)
{
    TempDir dir;
    // Palettes with distinct, non-grey entries so that an index taken from the
    // wrong place shows.
    auto palette = [](int entries) {
        std::vector<uint32_t> p;
        for (int i = 0; i < entries; ++i)
            p.push_back(uint32_t(i * 37 % 256) << 16 | uint32_t(255 - i) << 8 | uint32_t(i * 11 % 256));
        return p;
    };
    for (const uint16_t major : {3, 5}) {
        for (const uint16_t compression : {0, 1, 2}) {
            for (const int depth : {1, 4, 8, 24, 32}) {
                const std::string name = "version " + std::to_string(major) + ", compression " +
                                         std::to_string(compression) + ", " +
                                         (depth == 32 ? "24 bits and a fourth channel" : std::to_string(depth) + " bits");
                SCOPED_TRACE(name);
                psptest::File f;
                f.Major = major;
                f.Width = W;
                f.Height = H;
                f.Depth = static_cast<uint16_t>(depth == 32 ? 24 : depth);
                f.Compression = compression;
                psptest::Layer layer;
                layer.Type = major == 3 ? 0 : 1;
                Image want{W, H, 3, {}};
                uint32_t seed = major * 100u + compression * 10u + depth;
                if (depth <= 8) {
                    f.Palette = palette(1 << depth);
                    const uint32_t stride = depth == 1 ? (W + 7) / 8 : depth == 4 ? W / 2 + 1 : W;
                    psptest::Channel c{0, std::vector<uint8_t>(size_t(stride) * H, 0)};
                    for (int y = 0; y < H; ++y)
                        for (int x = 0; x < W; ++x) {
                            // Runs of equal indices, so that run-length data hold runs.
                            const uint32_t index = (x / 3 + Noise(seed) % 2 + y) % (1u << depth);
                            const int bit = x * depth;
                            c.Data[size_t(y) * stride + bit / 8] |= static_cast<uint8_t>(index << (8 - depth - bit % 8));
                            const uint32_t rgb = f.Palette[index];
                            want.Pixels.insert(want.Pixels.end(), {uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb)});
                        }
                    layer.Channels.push_back(c);
                } else {
                    for (uint16_t type = 1; type <= 3; ++type)
                        layer.Channels.push_back({type, Samples(W * H, 1, seed + type)});
                    if (depth == 32)
                        layer.Channels.push_back({0, Samples(W * H, 1, seed)});
                    for (size_t i = 0; i < size_t(W) * H; ++i)
                        for (size_t k = 0; k < 3; ++k)
                            want.Pixels.push_back(layer.Channels[k].Data[i]);
                }
                f.Layers.push_back(layer);
                const std::string psp = dir.File("out.psp");
                WriteBytes(psp, psptest::Build(f));
                const CommandResult r = Convert(psp, dir.File("out.ppm"));
                ASSERT_EQ(r.ExitCode, 0) << r.Err;
                EXPECT_EQ(FirstDifference(ReadNetpbm(dir.File("out.ppm")), want), "");
            }
        }
    }
}
