// ZSTD, LZMA and WebP TIFFs and 12-bit grey, written by libtiff's tiffcp and
// by gdal_translate from an uncompressed source: the bitmap shows the source
// pixel for pixel, or where WebP changed it (lossy, or the colour of
// transparent pixels) libtiff's reading, made uncompressed by tiffcp. A short
// block keeps the rows decoded before its end, as Deflate does.
#include "tests/imaging/readers/tiff_test_builder.h"
#include "tests/support/reader_test_support.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>

using namespace tifftest;
using pwtest::Bytes;
using Tool = std::vector<std::string>;

namespace {

struct Source {
    Bytes File;            // little-endian, uncompressed
    pwtest::Pixels Pixels; // as the bitmap shows them: samples scaled by v * 255 div the largest
};

// Gradients and noise; samples deeper than a byte reach full white now and then.
Source MakeSource(uint32_t bits, uint32_t samples, uint32_t w, uint32_t h)
{
    Source s;
    const uint32_t top = (1u << bits) - 1;
    Bytes data(size_t(h) * ((w * samples * bits + 7) / 8), 0);
    uint32_t state = 9, channel[4] = {0, 0, 0, 255};
    for (uint32_t y = 0, bit = 0; y < h; ++y, bit = (bit + 7) / 8 * 8)
        for (uint32_t i = 0; i < w * samples; ++i, bit += bits) {
            state = state * 1103515245u + 12345u;
            const uint32_t v = i % 29 == 0 ? top : ((i * 5 + y * 9) % 256 * top / 255 + (state >> 26)) % (top + 1);
            for (uint32_t b = 0; b < bits; ++b) { // 16-bit samples low byte first, others high bit first
                const uint32_t at = bit + (bits == 16 ? b ^ 8 : b);
                data[at / 8] |= uint8_t(((v >> (bits - 1 - b)) & 1) << (7 - at % 8));
            }
            channel[i % samples] = v * 255 / top;
            if (i % samples == samples - 1)
                s.Pixels.push_back(samples == 1 ? pwtest::Grey(channel[0])
                                                : channel[3] << 24 | channel[0] << 16 | channel[1] << 8 | channel[2]);
        }
    TiffBuilder b;
    b.Image(w, h, bits, samples, samples == 1 ? 1 : 2, 1, {data});
    if (samples == 4)
        b.Short(338, 2);
    s.File = b.Build();
    return s;
}

// The tool's file made from the source; its last two arguments are added.
Bytes Made(const pwtest::TempDir& dir, const Source& source, Tool tool)
{
    pwtest::WriteBytes(dir.File("source.tif"), source.File);
    tool.insert(tool.end(), {dir.File("source.tif"), dir.File("out.tif")});
    const pwtest::CommandResult r = pwtest::Run(tool);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    return pwtest::ReadBytes(dir.File("out.tif"));
}

pwtest::Pixels Ours(const Bytes& file, int64_t* earlyEnd = nullptr)
{
    const auto g = Load(file);
    if (earlyEnd)
        *earlyEnd = g->EarlyEndRow();
    return pwtest::Decoded(*g);
}

Tool With(Tool a, const Tool& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Tool Tiles16 = {"-t", "-w", "16", "-l", "16"};

} // namespace

TEST(TiffCodecs, AsWrittenByTiffcpAndGdal)
{
    const Tool gdal = {"gdal_translate", "-q", "-co", "COMPRESS=WEBP"};
    const struct {
        const char* Name;
        uint32_t Bits, Samples;
        Tool Command;
        TCompressionKind Kind;
        bool Lossy = false; // compared with libtiff's reading
    } cases[] = {
        {"ZSTD grey, strips", 8, 1, {"tiffcp", "-c", "zstd", "-r", "8"}, ckZstd},
        {"ZSTD RGB, predictor, big-endian", 8, 3, {"tiffcp", "-B", "-c", "zstd:2", "-r", "8"}, ckZstd},
        {"ZSTD RGBA, tiles", 8, 4, With({"tiffcp", "-c", "zstd"}, Tiles16), ckZstd},
        {"ZSTD 16-bit grey, predictor, big-endian tiles", 16, 1, With({"tiffcp", "-B", "-c", "zstd:2"}, Tiles16), ckZstd},
        {"ZSTD 12-bit grey, big-endian", 12, 1, {"tiffcp", "-B", "-c", "zstd", "-r", "8"}, ckZstd},
        {"LZMA grey, big-endian tiles", 8, 1, With({"tiffcp", "-B", "-c", "lzma"}, Tiles16), ckLZMA},
        {"LZMA RGB, predictor", 8, 3, {"tiffcp", "-c", "lzma:2", "-r", "8"}, ckLZMA},
        {"LZMA RGBA, predictor, big-endian", 8, 4, {"tiffcp", "-B", "-c", "lzma:2"}, ckLZMA},
        {"LZMA 16-bit grey, predictor", 16, 1, {"tiffcp", "-c", "lzma:2", "-r", "8"}, ckLZMA},
        {"LZMA 12-bit grey, tiles", 12, 1, With({"tiffcp", "-c", "lzma"}, Tiles16), ckLZMA},
        {"12-bit grey, big-endian", 12, 1, {"tiffcp", "-B", "-c", "none"}, ckNone},
        {"12-bit grey, strips", 12, 1, {"tiffcp", "-c", "none", "-r", "8"}, ckNone},
        {"WebP RGB, strips", 8, 3, {"tiffcp", "-c", "webp", "-r", "8"}, ckWebP, true},
        {"WebP RGBA, big-endian tiles", 8, 4, With({"tiffcp", "-B", "-c", "webp"}, Tiles16), ckWebP, true},
        {"WebP RGB (GDAL)", 8, 3, gdal, ckWebP, true},
        {"WebP RGB lossless, tiles (GDAL)", 8, 3,
         With(gdal, {"-co", "WEBP_LOSSLESS=YES", "-co", "TILED=YES", "-co", "BLOCKXSIZE=16", "-co", "BLOCKYSIZE=16"}),
         ckWebP},
        {"WebP RGBA lossless, big-endian strips (GDAL)", 8, 4,
         With(gdal, {"-co", "WEBP_LOSSLESS=YES", "-co", "ENDIANNESS=BIG", "-co", "BLOCKYSIZE=8"}), ckWebP, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        if (!pwtest::HaveProgram(c.Command[0]))
            GTEST_SKIP() << c.Command[0] << " is not installed";
        pwtest::TempDir dir;
        const Source source = MakeSource(c.Bits, c.Samples, 67, 45); // partial tiles, a short last strip
        const Bytes file = Made(dir, source, c.Command);
        EXPECT_EQ(Load(file)->ImageProperties.CompressionKind, c.Kind);
        EXPECT_EQ(Ours(file), c.Lossy ? Ours(Made(dir, {file, {}}, {"tiffcp", "-c", "none"})) : source.Pixels);
    }
}

// One strip of 600 x 300 pixels cut to half its length or holding the wrong
// number of rows: the rows before the end are as in the whole strip, the
// rows after it stay as a fresh bitmap has them. A dictionary too large to
// allocate is refused.
TEST(TiffCodecs, ShortStrips)
{
    const auto cut = [](Bytes s) { return s.resize(s.size() / 2), s; };
    // The dictionary size of the LZMA2 filter, in the block header after the
    // delta filter, raised to 4 GiB; the header's check sum made anew.
    const auto hugeDictionary = [](Bytes s) {
        s[12 + 7] = 40;
        const uint32_t crc = static_cast<uint32_t>(crc32(0, &s[12], 8));
        for (int i = 0; i < 4; ++i)
            s[20 + i] = static_cast<uint8_t>(crc >> (8 * i));
        return s;
    };
    const struct {
        const char* Name;
        uint32_t Samples;
        Tool Command;
        std::function<Bytes(Bytes)> Damage;
        uint32_t DeclaredRows;
        std::string Error;
    } cases[] = {
        {"ZSTD cut", 3, {"tiffcp", "-c", "zstd"}, cut, 300, ""},
        {"LZMA cut", 3, {"tiffcp", "-c", "lzma"}, cut, 300, ""},
        {"LZMA dictionary of 4 GiB", 1, {"tiffcp", "-c", "lzma"}, hugeDictionary, 300, "LZMA decompression error."},
        {"WebP cut", 3, {"tiffcp", "-c", "webp"}, cut, 300, ""},
        {"WebP lossless cut", 4, {"tiffcp", "-c", "webp:p100"}, cut, 300, ""},
        {"WebP of 300 rows where 299 belong", 3, {"tiffcp", "-c", "webp"}, [](Bytes s) { return s; }, 299, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        pwtest::TempDir dir;
        const Bytes file = Made(dir, MakeSource(8, c.Samples, 600, 300), With(c.Command, {"-r", "300"}));
        const auto whole = Load(file);
        TMemoryStream stream(file.data(), file.size());
        const uint64_t offset = whole->Directory.ReadTagIntegers64(stream, tiff::StripOffsets).at(0);
        const uint64_t count = whole->Directory.ReadTagIntegers64(stream, tiff::StripByteCounts).at(0);
        TiffBuilder b;
        b.Image(600, c.DeclaredRows, 8, c.Samples, c.Samples == 1 ? 1 : 2,
                whole->Directory.GetTagValue(tiff::Compression, 0),
                {c.Damage(Bytes(file.begin() + offset, file.begin() + offset + count))});
        if (c.Samples == 4)
            b.Short(338, 2);
        int64_t end = -1;
        pwtest::Pixels ours;
        EXPECT_EQ(ErrorOf([&] { ours = Ours(b.Build(), &end); }), c.Error);
        if (!c.Error.empty())
            continue;
        // Something is kept, except from a picture of the wrong size.
        EXPECT_EQ(end > 0, c.DeclaredRows == 300) << end;
        ASSERT_GE(end, 0);
        ASSERT_LT(end, c.DeclaredRows);
        const pwtest::Pixels before = pwtest::Decoded(*whole);
        EXPECT_TRUE(std::equal(ours.begin(), ours.begin() + end * 600, before.begin()));
        EXPECT_TRUE(std::all_of(ours.begin() + (end + 1) * 600, ours.end(),
                                [&](uint32_t v) { return v == (c.Samples == 4 ? 0u : 0xFF000000u); }));
    }
}
