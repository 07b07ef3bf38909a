// ZSTD, LZMA and WebP TIFFs and 12-bit grey, written by libtiff's tiffcp and
// by gdal_translate: the bitmap shows what libtiff decodes, pixel for pixel.
// A damaged or short block keeps the rows decoded before the damage, as
// Deflate does.
#include "tests/imaging/readers/libtiff_reference.h"
#include "tests/imaging/readers/tiff_test_builder.h"
#include "tests/support/reader_test_support.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>

using pwtest::Bytes;
using namespace libtiffref;

namespace {

pwtest::Pixels Ours(const Bytes& file, int64_t* earlyEnd = nullptr)
{
    const auto g = tifftest::Load(file);
    if (earlyEnd)
        *earlyEnd = g->EarlyEndRow();
    return pwtest::Decoded(*g);
}

const Tool Tiles16 = {"-t", "-w", "16", "-l", "16"};

Tool With(Tool a, const Tool& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

TEST(TiffCodecs, EqualToLibtiffsReading)
{
    const struct {
        const char* Name;
        Kind K;
        Tool Command;
        uint16_t Compression;
    } cases[] = {
        {"ZSTD grey, strips", {8, 1}, {"tiffcp", "-c", "zstd", "-r", "8"}, 50000},
        {"ZSTD RGB, predictor, big-endian", {8, 3}, {"tiffcp", "-B", "-c", "zstd:2", "-r", "8"}, 50000},
        {"ZSTD RGBA, tiles", {8, 4}, With({"tiffcp", "-c", "zstd"}, Tiles16), 50000},
        {"ZSTD 16-bit grey, predictor, big-endian tiles", {16, 1}, With({"tiffcp", "-B", "-c", "zstd:2"}, Tiles16), 50000},
        {"ZSTD 12-bit grey, big-endian", {12, 1}, {"tiffcp", "-B", "-c", "zstd", "-r", "8"}, 50000},
        {"LZMA grey, big-endian tiles", {8, 1}, With({"tiffcp", "-B", "-c", "lzma"}, Tiles16), 34925},
        {"LZMA RGB, predictor", {8, 3}, {"tiffcp", "-c", "lzma:2", "-r", "8"}, 34925},
        {"LZMA RGBA, predictor, big-endian", {8, 4}, {"tiffcp", "-B", "-c", "lzma:2"}, 34925},
        {"LZMA 16-bit grey, predictor", {16, 1}, {"tiffcp", "-c", "lzma:2", "-r", "8"}, 34925},
        {"LZMA 12-bit grey, tiles", {12, 1}, With({"tiffcp", "-c", "lzma"}, Tiles16), 34925},
        {"12-bit grey, big-endian", {12, 1}, {"tiffcp", "-B", "-c", "none"}, 1},
        {"12-bit grey, strips", {12, 1}, {"tiffcp", "-c", "none", "-r", "8"}, 1},
        {"WebP RGB, strips", {8, 3}, {"tiffcp", "-c", "webp", "-r", "8"}, 50001},
        {"WebP RGBA, big-endian tiles", {8, 4}, With({"tiffcp", "-B", "-c", "webp"}, Tiles16), 50001},
        {"WebP RGB (GDAL)", {8, 3}, {"gdal_translate", "-q", "-co", "COMPRESS=WEBP"}, 50001},
        {"WebP RGB lossless, tiles (GDAL)", {8, 3},
         {"gdal_translate", "-q", "-co", "COMPRESS=WEBP", "-co", "WEBP_LOSSLESS=YES", "-co", "TILED=YES", "-co",
          "BLOCKXSIZE=16", "-co", "BLOCKYSIZE=16"}, 50001},
        {"WebP RGBA lossless, big-endian strips (GDAL)", {8, 4},
         {"gdal_translate", "-q", "-co", "COMPRESS=WEBP", "-co", "WEBP_LOSSLESS=YES", "-co", "ENDIANNESS=BIG", "-co",
          "BLOCKYSIZE=8"}, 50001},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        if (!pwtest::HaveProgram(c.Command[0]))
            GTEST_SKIP() << c.Command[0] << " is not installed";
        pwtest::TempDir dir;
        const std::string file = Make(dir, c.K, 67, 45, c.Command);
        const Reading libtiff = ReadWithLibtiff(file, c.K);
        EXPECT_EQ(libtiff.Compression, c.Compression);
        EXPECT_EQ(Ours(pwtest::ReadBytes(file)), libtiff.Pixels);
    }
}

// One strip of 600 x 300 pixels, cut or of the wrong size: the rows before
// the end are libtiff's, the rows after it stay as a fresh bitmap has them;
// a dictionary too large to allocate is refused.
TEST(TiffCodecs, DamagedStrips)
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
        Kind K;
        Tool Command;
        std::function<Bytes(Bytes)> Damage;
        uint32_t DeclaredRows; // the strip holds 300
        std::string Error;
    } cases[] = {
        {"ZSTD cut", {8, 3}, {"tiffcp", "-c", "zstd"}, cut, 300, ""},
        {"LZMA cut", {8, 3}, {"tiffcp", "-c", "lzma"}, cut, 300, ""},
        {"LZMA dictionary of 4 GiB", {8, 1}, {"tiffcp", "-c", "lzma"}, hugeDictionary, 300, "LZMA decompression error."},
        {"WebP cut", {8, 3}, {"tiffcp", "-c", "webp"}, cut, 300, ""},
        {"WebP lossless cut", {8, 4}, {"tiffcp", "-c", "webp:p100"}, cut, 300, ""},
        {"WebP of 300 rows where 299 belong", {8, 3}, {"tiffcp", "-c", "webp"}, [](Bytes s) { return s; }, 299, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        pwtest::TempDir dir;
        const Reading libtiff = ReadWithLibtiff(Make(dir, c.K, 600, 300, With(c.Command, {"-r", "300"})), c.K);
        tifftest::TiffBuilder b;
        b.Image(600, c.DeclaredRows, 8, c.K.Samples, c.K.Samples == 1 ? 1 : 2, libtiff.Compression,
                {c.Damage(libtiff.FirstStrip)});
        if (c.K.Samples == 4)
            b.Short(338, 2);
        int64_t end = -1;
        pwtest::Pixels ours;
        EXPECT_EQ(tifftest::ErrorOf([&] { ours = Ours(b.Build(), &end); }), c.Error);
        if (!c.Error.empty())
            continue;
        // Something before the damage is kept, except from a picture of the wrong size.
        EXPECT_EQ(end > 0, c.DeclaredRows == 300) << end;
        ASSERT_GE(end, 0);
        ASSERT_LT(end, c.DeclaredRows);
        const size_t kept = size_t(end) * 600;
        EXPECT_TRUE(std::equal(ours.begin(), ours.begin() + kept, libtiff.Pixels.begin()));
        EXPECT_TRUE(std::all_of(ours.begin() + kept + 600, ours.end(), [&](uint32_t v) {
            return v == (c.K.Samples == 4 ? 0u : 0xFF000000u);
        }));
    }
}
