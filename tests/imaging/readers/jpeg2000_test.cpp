// The JPEG 2000 reader against opj_decompress on files opj_compress makes
// here from pictures drawn by the test (lossless and lossy, one tile and
// several, resolutions, precincts, code-blocks and progressions; 8 and 16
// bits; grey, colour, colour with alpha), a palette file wrapped around one
// of them by hand, then cut, corrupt and lying files.
#include "imaging/readers/jpeg2000_graphic.h"
#include "platform/exceptions.h"
#include "platform/streams.h"
#include "platform/thread_pool.h"
#include "tests/support/reader_test_support.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

namespace {

using pwtest::Bytes;
using pwtest::Pixels;

constexpr int W = 70, H = 45;

Bytes ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), {});
}

void WriteFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A W x H picture of gradients and noise with channels samples of 8 or 16
// bits, as PGM, PPM or PAM for opj_compress.
std::string DrawSource(const pwtest::TempDir& dir, int channels, int bits)
{
    const int maximum = (1 << bits) - 1;
    uint32_t state = 2463534242u;
    Bytes out;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            for (int c = 0; c < channels; ++c) {
                state ^= state << 13, state ^= state >> 17, state ^= state << 5;
                const int v = ((x * (3 + 2 * c) + y * (5 - c)) * maximum / 400 + int(state % 23)) % (maximum + 1);
                if (bits > 8)
                    out.push_back(uint8_t(v >> 8));
                out.push_back(uint8_t(v));
            }
    const std::string size = std::to_string(W) + " " + std::to_string(H);
    std::string header = channels == 1   ? "P5\n" + size + "\n" + std::to_string(maximum) + "\n"
                         : channels == 3 ? "P6\n" + size + "\n" + std::to_string(maximum) + "\n"
                                         : "P7\nWIDTH " + std::to_string(W) + "\nHEIGHT " + std::to_string(H) +
                                               "\nDEPTH 4\nMAXVAL " + std::to_string(maximum) +
                                               "\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    const std::string path = dir.File(channels == 1 ? "source.pgm" : channels == 3 ? "source.ppm" : "source.pam");
    Bytes file(header.begin(), header.end());
    file.insert(file.end(), out.begin(), out.end());
    WriteFile(path, file);
    return path;
}

// opj_decompress's pixels: planes of 1 or 2 little-endian bytes per sample,
// of a picture reduced by reduction levels.
Pixels Reference(const std::string& file, const pwtest::TempDir& dir, int channels, int bits, int reduction = 0)
{
    const std::string raw = dir.File("reference.rawl");
    pwtest::Run({"opj_decompress", "-i", file, "-o", raw, "-r", std::to_string(reduction)});
    const Bytes planes = ReadFile(raw);
    const size_t n = size_t((W + (1 << reduction) - 1) >> reduction) * ((H + (1 << reduction) - 1) >> reduction);
    const size_t bytes = bits > 8 ? 2 : 1;
    if (planes.size() != n * bytes * size_t(channels))
        return {};
    const auto sample = [&](int c, size_t i) -> uint32_t {
        const uint8_t* p = planes.data() + (size_t(c) * n + i) * bytes;
        return bytes == 2 ? uint32_t(p[0] | p[1] << 8) / 257 : p[0];
    };
    Pixels out(n);
    for (size_t i = 0; i < n; ++i)
        out[i] = channels == 1 ? pwtest::Grey(sample(0, i))
                               : (channels == 4 ? sample(3, i) : 0xFFu) << 24 | sample(0, i) << 16 |
                                     sample(1, i) << 8 | sample(2, i);
    return out;
}

pwtest::Outcome Load(const Bytes& file, unsigned reduction = 0)
{
    TJPEG2000Graphic image;
    image.SetReduction(reduction);
    return pwtest::LoadOutcome(image, file);
}

// Tiles are decoded several at once, each thread taking a run of tile
// columns (or rows): threads beyond one give what one gives.
constexpr unsigned ThreadCounts[] = {1, 2, 3};
struct TThreads {
    explicit TThreads(unsigned n) { pwthreads::SetThreadCount(n); }
    ~TThreads() { pwthreads::SetThreadCount(0); }
};

bool HaveTools()
{
    return pwtest::HaveProgram("opj_compress") && pwtest::HaveProgram("opj_decompress");
}

TEST(JPEG2000Reader, PixelsAreOpjDecompresss)
{
    if (!HaveTools())
        GTEST_SKIP() << "opj_compress or opj_decompress not installed";
    const struct {
        const char* Name;
        int Channels, Bits;
        std::vector<std::string> Options; // opj_compress's
        const char* Extension;
        int Reduction = 0; // levels left out, for a first look
    } cases[] = {
        {"GreyLossless", 1, 8, {}, "jp2"},
        {"GreyPrecinctsRpcl", 1, 8, {"-c", "[16,16],[16,16]", "-p", "RPCL", "-b", "16,16", "-n", "4"}, "jp2"},
        {"Grey16Lossless", 1, 16, {"-n", "3"}, "jp2"},
        {"Grey16LossyTiled", 1, 16, {"-t", "32,32", "-n", "2", "-r", "8"}, "j2k"},
        {"RgbLossless", 3, 8, {}, "jp2"},
        {"RgbIrreversible", 3, 8, {"-I", "-r", "30"}, "jp2"},
        {"RgbTiledLayers", 3, 8, {"-t", "32,16", "-n", "3", "-r", "40,10,1"}, "j2k"},
        {"RgbTiledCprl", 3, 8, {"-t", "24,24", "-n", "2", "-c", "[8,8]", "-p", "CPRL"}, "j2c"},
        {"Rgb16Lossy", 3, 16, {"-r", "12", "-n", "5"}, "jp2"},
        {"RgbaLossless", 4, 8, {}, "jp2"},
        {"RgbaTiledLossy", 4, 8, {"-t", "40,40", "-n", "3", "-r", "15"}, "jp2"},
        {"RgbAQuarter", 3, 8, {"-n", "4"}, "jp2", 2},
        {"GreyTiledAnEighthOfFewerLevels", 1, 8, {"-t", "32,32", "-n", "3"}, "j2k", 3},
        {"GreyOneTileAcross", 1, 8, {"-t", "70,8", "-n", "2"}, "j2k"},
        {"RgbFiveTilesAcrossHalved", 3, 8, {"-t", "16,16", "-n", "3"}, "jp2", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        pwtest::TempDir dir;
        const std::string file = dir.File(std::string("picture.") + c.Extension);
        std::vector<std::string> compress = {"opj_compress", "-i", DrawSource(dir, c.Channels, c.Bits), "-o", file};
        compress.insert(compress.end(), c.Options.begin(), c.Options.end());
        ASSERT_EQ(pwtest::Run(compress).ExitCode, 0);
        // A reduction beyond the file's levels stops at its smallest picture.
        const int levels = std::min(c.Reduction, 2);
        const Pixels expected = Reference(file, dir, c.Channels, c.Bits, levels);
        ASSERT_EQ(expected.size(), size_t((W + (1 << levels) - 1) >> levels) * ((H + (1 << levels) - 1) >> levels));
        for (const unsigned threads : ThreadCounts) {
            SCOPED_TRACE(threads);
            const TThreads set(threads);
            const pwtest::Outcome ours = Load(ReadFile(file), unsigned(c.Reduction));
            ASSERT_EQ(ours.Error, "");
            EXPECT_EQ(ours.Pixels, expected);
        }
    }
}

// Boxes of a .jp2 file around a codestream of one 8-bit component shown
// through a palette of 256 colours.
Bytes PaletteFile(const Bytes& codestream, const std::vector<uint32_t>& colours)
{
    const auto box = [](const char* type, const Bytes& content) {
        const uint32_t n = uint32_t(content.size() + 8);
        Bytes out(n);
        for (int k = 0; k < 4; ++k)
            out[size_t(k)] = uint8_t(n >> (24 - 8 * k)), out[size_t(4 + k)] = uint8_t(type[k]);
        std::copy(content.begin(), content.end(), out.begin() + 8);
        return out;
    };
    Bytes pclr = {1, 0, 3, 7, 7, 7};
    for (uint32_t c : colours)
        for (int shift = 16; shift >= 0; shift -= 8)
            pclr.push_back(uint8_t(c >> shift));
    Bytes header = box("ihdr", {0, 0, 0, H, 0, 0, 0, W, 0, 1, 7, 7, 0, 0});
    for (const Bytes& b : {box("colr", {1, 0, 0, 0, 0, 0, 16}), box("pclr", pclr),
                           box("cmap", {0, 0, 1, 0, 0, 0, 1, 1, 0, 0, 1, 2})})
        header.insert(header.end(), b.begin(), b.end());
    Bytes out = {0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    for (const Bytes& b : {box("ftyp", {'j', 'p', '2', ' ', 0, 0, 0, 0, 'j', 'p', '2', ' '}), box("jp2h", header),
                           box("jp2c", codestream)})
        out.insert(out.end(), b.begin(), b.end());
    return out;
}

// Offsets of the tile-part markers: entropy-coded data never hold 0xFF 0x90.
std::vector<size_t> TileParts(const Bytes& codestream)
{
    std::vector<size_t> at;
    for (size_t i = 0; i + 1 < codestream.size(); ++i)
        if (codestream[i] == 0xFF && codestream[i + 1] == 0x90)
            at.push_back(i);
    return at;
}

TEST(JPEG2000Reader, PalettesCutCorruptAndLyingFiles)
{
    if (!HaveTools())
        GTEST_SKIP() << "opj_compress or opj_decompress not installed";
    pwtest::TempDir dir;
    const std::string grey = dir.File("grey.j2k"), tiled = dir.File("tiled.j2k");
    ASSERT_EQ(pwtest::Run({"opj_compress", "-i", DrawSource(dir, 1, 8), "-o", grey}).ExitCode, 0);
    ASSERT_EQ(pwtest::Run({"opj_compress", "-i", DrawSource(dir, 3, 8), "-o", tiled, "-t", "32,16", "-n", "3"}).ExitCode,
              0);
    const Bytes greyStream = ReadFile(grey), tiledStream = ReadFile(tiled);
    const Pixels greyPixels = Reference(grey, dir, 1, 8), tiledPixels = Load(tiledStream).Pixels;
    ASSERT_EQ(tiledPixels, Reference(tiled, dir, 3, 8));

    std::vector<uint32_t> colours(256);
    for (uint32_t i = 0; i < 256; ++i)
        colours[i] = (i * 7 % 256) << 16 | (255 - i) << 8 | (i * 13 % 256);
    Pixels paletted(greyPixels.size());
    for (size_t i = 0; i < greyPixels.size(); ++i)
        paletted[i] = 0xFF000000u | colours[greyPixels[i] & 0xFF];

    // The tiles are 3 across and 3 down; the file is cut inside the fourth,
    // the first of the second tile row.
    const std::vector<size_t> parts = TileParts(tiledStream);
    ASSERT_EQ(parts.size(), 9u);
    const Bytes cutTiled(tiledStream.begin(), tiledStream.begin() + long(parts[3] + 40));
    // A 40000 x 30000 picture of one tile, declared by the first 400 bytes of the grey one.
    Bytes lying(greyStream.begin(), greyStream.begin() + 400);
    for (int field : {0, 4, 16, 20})
        for (int k = 0; k < 4; ++k)
            lying[size_t(8 + field + k)] = uint8_t((field % 8 == 0 ? 40000u : 30000u) >> (24 - 8 * k));
    Bytes zeroWidth = greyStream;
    zeroWidth[8] = zeroWidth[9] = zeroWidth[10] = zeroWidth[11] = 0;
    // The fifth tile's header goes on with a coding-style marker where its
    // data begin: that tile stops the decoding, the ones before it stand.
    Bytes corruptFifth = tiledStream;
    corruptFifth[parts[4] + 13] = 0x52;
    Bytes noCodestream = PaletteFile(greyStream, colours);
    noCodestream.resize(noCodestream.size() - greyStream.size() - 8);

    const std::string invalid = "Cannot load image. Invalid or unexpected JPEG 2000 image format.";
    const struct {
        const char* Name;
        Bytes File;
        Pixels Expected;   // leading pixels, or all of them
        int64_t EarlyEnd;  // -1 for a whole file
        std::string Error;
    } cases[] = {
        {"Palette", PaletteFile(greyStream, colours), paletted, -1, ""},
        {"CutInTheSecondTileRow", cutTiled, Pixels(tiledPixels.begin(), tiledPixels.begin() + 16 * W), 16, ""},
        {"FifthTileCorrupt", corruptFifth, Pixels(tiledPixels.begin(), tiledPixels.begin() + 16 * W), 16, ""},
        {"ZeroWidth", zeroWidth, {}, -1, invalid},
        {"BoxesWithoutCodestream", noCodestream, {}, -1, invalid},
        {"CutInTheMainHeader", Bytes(greyStream.begin(), greyStream.begin() + 60), {}, -1,
         "Cannot load image. Compression error found in JPEG 2000 file (Stream too short)."},
        {"LyingGigapixel", lying, {}, -1, "Cannot load image. The JPEG 2000 image needs too much memory."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        pwtest::Outcome one;
        // Several runs on more threads: a tile another thread decoded past
        // the stop must be cleared however far it got.
        for (const unsigned threads : {1u, 2u, 2u, 2u, 2u, 2u, 3u, 3u}) {
            SCOPED_TRACE(threads);
            const TThreads set(threads);
            TJPEG2000Graphic image;
            const pwtest::Outcome o = pwtest::LoadOutcome(image, c.File);
            EXPECT_EQ(o.Error, c.Error);
            if (threads == 1)
                one = o;
            EXPECT_EQ(o.Pixels, one.Pixels);
            if (!c.Error.empty())
                continue;
            EXPECT_EQ(image.EarlyEndRow(), c.EarlyEnd);
            ASSERT_GE(o.Pixels.size(), c.Expected.size());
            EXPECT_EQ(Pixels(o.Pixels.begin(), o.Pixels.begin() + long(c.Expected.size())), c.Expected);
        }
    }

    // 15000 x 15000 in one tile, within the limits, from 400 bytes: the tile
    // is not decoded, and the picture holds no pixels.
    for (int field : {0, 16})
        for (int k = 0; k < 4; ++k)
            lying[size_t(8 + field + k)] = lying[size_t(12 + field + k)] = uint8_t(15000u >> (24 - 8 * k));
    TJPEG2000Graphic image;
    TMemoryStream stream(lying.data(), lying.size());
    ASSERT_NO_THROW(image.LoadFromStream(stream));
    EXPECT_EQ(image.Width(), 15000);
    EXPECT_EQ(image.EarlyEndRow(), 0);
    EXPECT_TRUE(image.EndedInFirstRow());
}

} // namespace
