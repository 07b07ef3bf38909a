#include "platform/bitmap.h"
#include "platform/exceptions.h"
#include "platform/streams.h"
#include "tests/platform/bmp_builder.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <random>

using bmptest::ImageOf;
using bmptest::TDib;

namespace {

std::unique_ptr<TBitmap> LoadBytes(const std::vector<uint8_t>& bytes)
{
    TMemoryStream stream(bytes.data(), bytes.size());
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->LoadFromStream(stream);
    return bitmap;
}

std::string LoadError(const std::vector<uint8_t>& bytes)
{
    try {
        LoadBytes(bytes);
    } catch (const EInvalidGraphic& e) {
        return e.what();
    }
    return "(loaded)";
}

// Files made by ppmtobmp and convert (tests/data/bmp/make.sh) and the source
// image each must decode to exactly.
struct TFixture {
    const char* File;
    const char* Source;
    TBitmapFormat Format;
    bool Alpha;
};

const TFixture Fixtures[] = {
    {"core_1.bmp", "mono.ppm", bf1Bit, false},
    {"core_4.bmp", "pal16.ppm", bf4Bit, false},
    {"core_8.bmp", "pal256.ppm", bf8Bit, false},
    {"core_24.bmp", "rgb.ppm", bf24Bit, false},
    {"info_1.bmp", "mono.ppm", bf1Bit, false},
    {"info_4.bmp", "pal16.ppm", bf4Bit, false},
    {"info_8.bmp", "pal256.ppm", bf8Bit, false},
    {"info_24.bmp", "rgb.ppm", bf24Bit, false},
    {"info_32.bmp", "rgb.ppm", bf32Bit, false}, // BI_RGB: the fourth byte is no alpha
    {"info_555.bmp", "rgb15.ppm", bf15Bit, false},
    {"info_565.bmp", "rgb16.ppm", bf24Bit, false},
    {"rle4.bmp", "pal16.ppm", bf4Bit, false},
    {"rle8.bmp", "pal256.ppm", bf8Bit, false},
    {"v2_565.bmp", "rgb16.ppm", bf24Bit, false},
    {"v3_argb.bmp", "rgba.pam", bf32Bit, true},
    {"v4_565.bmp", "rgb16.ppm", bf24Bit, false},
    {"v4_argb.bmp", "rgba.pam", bf32Bit, true},
    {"v5_24.bmp", "rgb.ppm", bf24Bit, false},
    {"v5_555.bmp", "rgb15.ppm", bf15Bit, false},
    {"v5_565.bmp", "rgb16.ppm", bf24Bit, false},
    {"v5_argb.bmp", "rgba.pam", bf32Bit, true},
    {"v5_zero_alpha.bmp", "rgb.ppm", bf32Bit, false}, // an alpha mask, but every alpha is 0
    {"topdown_8.bmp", "pal256.ppm", bf8Bit, false},
    {"topdown_24.bmp", "rgb.ppm", bf24Bit, false},
    {"topdown_argb.bmp", "rgba.pam", bf32Bit, true},
    {"packed.dib", "pal256.ppm", bf8Bit, false},
};

} // namespace

TEST(BitmapReader, ToolMadeFilesDecodePixelExact)
{
    for (const TFixture& f : Fixtures) {
        SCOPED_TRACE(f.File);
        TBitmap bitmap;
        bitmap.LoadFromFile(pwtest::DataPath(std::string("bmp/") + f.File));
        const pwtest::Image expected = pwtest::ReadNetpbm(pwtest::DataPath(std::string("bmp/") + f.Source));
        EXPECT_EQ(bitmap.PixelFormat(), f.Format);
        EXPECT_EQ(bitmap.AlphaPresent(), f.Alpha);
        const pwtest::Image actual = ImageOf(bitmap, expected.Channels);
        EXPECT_EQ(pwtest::FirstDifference(actual, expected), "");
    }
}

TEST(BitmapReader, CanLoadStreamTestsTheSignatureOnly)
{
    const std::vector<uint8_t> file = TDib{}.File();
    TMemoryStream bmp(file.data(), file.size());
    bmp.SetPosition(0);
    EXPECT_TRUE(TBitmap::CanLoadStream(bmp));
    EXPECT_EQ(bmp.Position(), 0);
    const std::vector<uint8_t> dib = TDib{}.Packed();
    TMemoryStream packed(dib.data(), dib.size());
    EXPECT_FALSE(TBitmap::CanLoadStream(packed));
}

namespace {

// 8-bit palette entry i: (i, 255 - i, 3i).
std::vector<uint32_t> Ramp(int count)
{
    std::vector<uint32_t> palette;
    for (int i = 0; i < count; ++i)
        palette.push_back((uint32_t(i) << 16) | (uint32_t(255 - i) << 8) | uint32_t(i * 3 & 255));
    return palette;
}

struct TRunCase {
    const char* Name;
    uint16_t Bits;
    int Width;
    int Height;
    std::vector<uint8_t> Data;
    std::vector<uint8_t> Expected; // palette indices, top row first
};

} // namespace

TEST(BitmapReader, RunLengthCodesAndClipping)
{
    const TRunCase cases[] = {
        {"rle8 runs, absolute with pad, clipped run, delta, end of bitmap",
         8, 6, 3,
         {3, 5, 0, 3, 1, 2, 3, 0, 0, 0,       // bottom row: 5 5 5 1 2 3
          2, 4, 0, 2, 3, 0, 1, 9, 0, 0,       // 4 4, three to the right, 9
          9, 6, 0, 1},                        // a run of 9 clipped to 6
         {6, 6, 6, 6, 6, 6, 4, 4, 0, 0, 0, 9, 5, 5, 5, 1, 2, 3}},
        {"rle8 delta up a row", 8, 4, 3,
         {2, 1, 0, 2, 1, 1, 1, 2, 0, 1},
         {0, 0, 0, 0, 0, 0, 0, 2, 1, 1, 0, 0}},
        {"rle8 stream cut short", 8, 4, 3,
         {4, 3, 0, 0, 2},
         {0, 0, 0, 0, 0, 0, 0, 0, 3, 3, 3, 3}},
        {"rle8 absolute run past the row end", 8, 2, 2,
         {0, 3, 7, 8, 9, 0, 0, 0, 1, 1},
         {1, 0, 7, 8}},
        {"rle4 alternating run, absolute runs with and without pad", 4, 5, 3,
         {5, 0x12, 0, 0,                      // 1 2 1 2 1
          0, 3, 0x45, 0x60, 2, 0x78, 0, 0,    // 4 5 6 7 8
          0, 5, 0x9A, 0xBC, 0xD0, 0, 0, 1},   // 9 A B C D
         {9, 10, 11, 12, 13, 4, 5, 6, 7, 8, 1, 2, 1, 2, 1}},
        {"rle4 delta", 4, 4, 1,
         {0, 2, 2, 0, 2, 0x33, 0, 1},
         {0, 0, 3, 3}},
    };
    for (const TRunCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TDib dib;
        dib.Width = c.Width;
        dib.Height = c.Height;
        dib.BitCount = c.Bits;
        dib.Compression = c.Bits == 8 ? 1 : 2;
        dib.Palette = Ramp(c.Bits == 8 ? 256 : 16);
        dib.Pixels = c.Data;
        const auto bitmap = LoadBytes(dib.File());
        ASSERT_EQ(bitmap->PixelFormat(), c.Bits == 8 ? bf8Bit : bf4Bit);
        std::vector<uint32_t> row(static_cast<size_t>(c.Width));
        std::vector<uint8_t> indices;
        for (int y = 0; y < c.Height; ++y) {
            bitmap->RowToARGB(y, 0, c.Width, row.data());
            for (uint32_t argb : row)
                indices.push_back(static_cast<uint8_t>(argb >> 16)); // red is the index
        }
        EXPECT_EQ(indices, c.Expected);
    }
}

TEST(BitmapReader, BitFieldLayouts)
{
    struct TCase {
        const char* Name;
        uint32_t HeaderSize;
        uint16_t Bits;
        uint32_t Compression;
        std::array<uint32_t, 4> Masks;
        std::vector<uint8_t> Pixel; // one pixel
        TBitmapFormat Format;
        uint32_t ARGB;
    };
    const TCase cases[] = {
        {"32-bit RGBA order with alpha", 124, 32, 3, {0xFF000000, 0xFF0000, 0xFF00, 0xFF}, {0x40, 0x30, 0x20, 0x10},
         bf32Bit, 0x40102030},
        {"32-bit 10-10-10 without alpha", 124, 32, 3, {0x3FF00000, 0xFFC00, 0x3FF, 0},
         // red 0x3FF, green 0x200, blue 0x001
         {0x01, 0x00, 0xF8, 0x3F}, bf24Bit, 0xFFFF8000},
        {"16-bit 4-4-4-4 with alpha (bit fields with alpha after a 40-byte header)", 40, 16, 6,
         {0x0F00, 0x00F0, 0x000F, 0xF000}, {0x5A, 0x3C}, bf32Bit, 0x33CC55AA},
        {"16-bit 5-6-5", 56, 16, 3, {0xF800, 0x07E0, 0x001F, 0}, {0xFF, 0xFF}, bf24Bit, 0xFFFFFFFF},
        {"16-bit 5-5-5 bit fields stay 15-bit", 108, 16, 3, {0x7C00, 0x03E0, 0x001F, 0}, {0x5F, 0x04},
         bf15Bit, 0xFF0810FF},
        {"32-bit BI_RGB with a V5 alpha mask", 124, 32, 0, {0, 0, 0, 0xFF000000}, {1, 2, 3, 0x80}, bf32Bit,
         0x80030201},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TDib dib;
        dib.HeaderSize = c.HeaderSize;
        dib.BitCount = c.Bits;
        dib.Compression = c.Compression;
        if (c.HeaderSize >= 52)
            dib.Masks = c.Masks;
        else
            dib.MasksAfter = {c.Masks[0], c.Masks[1], c.Masks[2], c.Masks[3]};
        dib.Pixels = c.Pixel;
        dib.Pixels.resize(4, 0);
        const auto bitmap = LoadBytes(dib.File());
        EXPECT_EQ(bitmap->PixelFormat(), c.Format);
        uint32_t argb = 0;
        bitmap->RowToARGB(0, 0, 1, &argb);
        EXPECT_EQ(argb, c.ARGB) << std::hex << argb;
    }
}

TEST(BitmapReader, PaletteSizeAndPlacement)
{
    // Three colours declared for an 8-bit image: index 3 and up are black.
    TDib dib;
    dib.Width = 4;
    dib.BitCount = 8;
    dib.ClrUsed = 3;
    dib.Palette = {0x112233, 0x445566, 0x778899};
    dib.Pixels = {0, 2, 3, 255};
    const auto bitmap = LoadBytes(dib.File());
    ASSERT_TRUE(bitmap->Palette());
    EXPECT_EQ(bitmap->Palette()->Count(), 3);
    uint32_t row[4];
    bitmap->RowToARGB(0, 0, 4, row);
    EXPECT_EQ(std::vector<uint32_t>(row, row + 4), (std::vector<uint32_t>{0xFF112233, 0xFF778899, 0xFF000000, 0xFF000000}));

    // A bits offset of 0 in the file header: the bits follow the palette.
    EXPECT_EQ(ImageOf(*LoadBytes(dib.File(0)), 3), ImageOf(*bitmap, 3));
    // More colours declared than fit before the bits: the palette stops there.
    dib.ClrUsed = 1000;
    const std::vector<uint8_t> file = dib.File(14 + 40 + 3 * 4);
    EXPECT_EQ(LoadBytes(file)->Palette()->Count(), 3);
}

TEST(BitmapReader, HeaderVariantsAndEmptyImages)
{
    TDib os2;
    os2.HeaderSize = 64; // OS/2 2.x: its own fields where V2 headers keep masks
    os2.Pixels = {10, 20, 30, 0};
    uint32_t argb = 0;
    LoadBytes(os2.File())->RowToARGB(0, 0, 1, &argb);
    EXPECT_EQ(argb, 0xFF1E140Au);

    TDib empty;
    empty.Width = 0;
    empty.Height = 0;
    const auto bitmap = LoadBytes(empty.File());
    EXPECT_EQ(bitmap->Width(), 0);
    EXPECT_EQ(bitmap->Height(), 0);
}

TEST(BitmapReader, BadFilesGiveClearErrors)
{
    auto dib = [](auto change) {
        TDib d;
        d.Width = 2;
        d.Height = 2;
        d.Pixels.assign(16, 0);
        change(d);
        return d.File();
    };
    std::vector<uint8_t> cut = TDib{}.File();
    cut.resize(9);
    const std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    const struct {
        const char* Name;
        std::vector<uint8_t> Bytes;
        const char* Message;
    } cases[] = {
        {"empty file", {}, "Bitmap image is not valid"},
        {"file header cut short", cut, "Bitmap image is not valid"},
        {"a PNG file", png, "Bitmap image is not valid"},
        {"unknown header size", dib([](TDib& d) { d.HeaderSize = 8; }), "Bitmap image is not valid"},
        {"header larger than V5", dib([](TDib& d) { d.HeaderSize = 200; }), "Bitmap image is not valid"},
        {"7 bits per pixel", dib([](TDib& d) { d.BitCount = 7; }), "Bitmap image is not valid"},
        {"RLE8 with 4 bits", dib([](TDib& d) { d.BitCount = 4, d.Compression = 1; }), "Bitmap image is not valid"},
        {"bit fields with 24 bits", dib([](TDib& d) { d.Compression = 3, d.MasksAfter = {1, 2, 4}; }),
         "Bitmap image is not valid"},
        {"scattered mask bits", dib([](TDib& d) { d.BitCount = 32, d.Compression = 3, d.MasksAfter = {0x0F0F0000, 0xFF00, 0xFF}; }),
         "Bitmap image is not valid"},
        {"16-bit mask wider than the pixel",
         dib([](TDib& d) { d.BitCount = 16, d.Compression = 3, d.MasksAfter = {0x1F0000, 0x3E0, 0x1F}; }),
         "Bitmap image is not valid"},
        {"JPEG inside", dib([](TDib& d) { d.Compression = 4; }), "Bitmap compression 4 is not supported"},
        {"negative width", dib([](TDib& d) { d.Width = -2; }), "Bitmap image is not valid"},
        {"pixel data cut short", dib([](TDib& d) { d.Pixels.resize(10); }), "Bitmap image is not valid"},
        {"more rows declared than held", dib([](TDib& d) { d.Height = 30000; }), "Bitmap image is not valid"},
        {"side over the limit", dib([](TDib& d) { d.Width = (1 << 20) + 1; d.Height = 1; }),
         "Bitmap image is too large (1048577 x 1 pixels)"},
        {"more than 4 GiB of pixels", dib([](TDib& d) { d.Width = 40000, d.Height = -30000, d.BitCount = 32; }),
         "Bitmap image is too large (40000 x 30000 pixels)"},
        {"height -2^31", dib([](TDib& d) { d.Height = INT32_MIN; }),
         "Bitmap image is too large (2 x 2147483648 pixels)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(LoadError(c.Bytes), c.Message);
    }
}

namespace {

// Loads bytes that may be anything; only exceptions of the program's own
// hierarchy may come out (the Sanitize build checks the rest).
void LoadHostile(const std::vector<uint8_t>& bytes)
{
    try {
        LoadBytes(bytes);
    } catch (const Exception&) {
    }
}

} // namespace

TEST(BitmapReader, EveryTruncationAndRandomDamageIsSafe)
{
    for (const char* name : {"core_4.bmp", "info_8.bmp", "rle4.bmp", "rle8.bmp", "v5_565.bmp", "v5_argb.bmp"}) {
        SCOPED_TRACE(name);
        const auto file = pwtest::ReadBytes(pwtest::DataPath(std::string("bmp/") + name));
        for (size_t size = 0; size < file.size(); ++size)
            LoadHostile(std::vector<uint8_t>(file.begin(), file.begin() + static_cast<ptrdiff_t>(size)));
        std::mt19937 random(7);
        for (int round = 0; round < 300; ++round) {
            auto damaged = file;
            for (int i = 0; i < 4; ++i)
                damaged[random() % std::min<size_t>(damaged.size(), 160)] = static_cast<uint8_t>(random());
            LoadHostile(damaged);
        }
    }
}
