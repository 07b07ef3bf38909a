#include "platform/exceptions.h"
#include "platform/icon.h"
#include "platform/streams.h"
#include "tests/platform/bmp_builder.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

using bmptest::ImageOf;
using bmptest::TBytes;
using bmptest::TDib;

namespace {

struct TEntry {
    int Width;
    int Height;
    uint16_t Bits;
    std::vector<uint8_t> Data;
};

std::vector<uint8_t> IconFile(const std::vector<TEntry>& entries)
{
    TBytes b;
    b.U16(0);
    b.U16(1);
    b.U16(static_cast<uint16_t>(entries.size()));
    uint32_t offset = static_cast<uint32_t>(6 + 16 * entries.size());
    for (const TEntry& e : entries) {
        b.U8(static_cast<uint8_t>(e.Width));
        b.U8(static_cast<uint8_t>(e.Height));
        b.U8(0);
        b.U8(0);
        b.U16(1);
        b.U16(e.Bits);
        b.U32(static_cast<uint32_t>(e.Data.size()));
        b.U32(offset);
        offset += static_cast<uint32_t>(e.Data.size());
    }
    for (const TEntry& e : entries)
        b.Append(e.Data);
    return b.Data;
}

// A BMP-coded entry: the DIB with doubled height, then the AND mask rows
// (bottom row first, 4 bytes per row for widths up to 32).
TEntry DibEntry(TDib dib, const std::vector<uint8_t>& maskRows)
{
    const int height = dib.Height;
    dib.Height *= 2;
    std::vector<uint8_t> data = dib.Packed();
    data.insert(data.end(), maskRows.begin(), maskRows.end());
    return {dib.Width, height, dib.BitCount, data};
}

std::unique_ptr<TIcon> LoadIcon(const std::vector<uint8_t>& bytes)
{
    TMemoryStream stream(bytes.data(), bytes.size());
    auto icon = std::make_unique<TIcon>();
    icon->LoadFromStream(stream);
    return icon;
}

std::vector<uint32_t> Pixels(TIcon& icon)
{
    std::vector<uint32_t> pixels(static_cast<size_t>(icon.Width()) * icon.Height());
    for (int y = 0; y < icon.Height(); ++y)
        icon.ViewBitmap().RowToARGB(y, 0, icon.Width(), &pixels[static_cast<size_t>(y) * icon.Width()]);
    return pixels;
}

// 2 x 2, 24 bits: bottom row red, blue; top row green, white.
TDib Dib24()
{
    TDib dib;
    dib.Width = 2;
    dib.Height = 2;
    dib.Pixels = {0, 0, 255, 255, 0, 0, 0, 0, 0, 255, 0, 255, 255, 255, 255, 0};
    return dib;
}

class IconReader : public ::testing::Test {
protected:
    void SetUp() override { TIcon::SetPngDecoder(nullptr); }
    void TearDown() override { TIcon::SetPngDecoder(nullptr); }
};

} // namespace

TEST_F(IconReader, ToolMadeIconsDecodePixelExact)
{
    const struct {
        const char* File;
        const char* Source;
    } cases[] = {
        {"mono_1.ico", "mono.pam"},   {"pal_4.ico", "pal16.pam"},   {"pal_8.ico", "pal256.pam"},
        {"argb_32.ico", "argb.pam"}, {"multi.ico", "argb.pam"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.File);
        TIcon icon;
        icon.LoadFromFile(pwtest::DataPath(std::string("ico/") + c.File));
        EXPECT_EQ(icon.ViewBitmap().PixelFormat(), bf32Bit);
        EXPECT_TRUE(icon.ViewBitmap().AlphaPresent());
        const pwtest::Image expected = pwtest::ReadNetpbm(pwtest::DataPath(std::string("ico/") + c.Source));
        EXPECT_EQ(pwtest::FirstDifference(ImageOf(icon.ViewBitmap(), 4), expected), "");
    }
}

TEST_F(IconReader, AndMaskAndAlpha)
{
    // AND mask: bottom row left pixel and top row right pixel transparent.
    const std::vector<uint8_t> mask = {0x80, 0, 0, 0, 0x40, 0, 0, 0};
    auto icon = LoadIcon(IconFile({DibEntry(Dib24(), mask)}));
    EXPECT_EQ(Pixels(*icon), (std::vector<uint32_t>{0xFF00FF00, 0x00FFFFFF, 0x00FF0000, 0xFF0000FF}));

    // 32 bits with alpha: the alpha counts and the AND mask does not.
    TDib argb;
    argb.Width = 2;
    argb.Height = 1;
    argb.BitCount = 32;
    argb.Pixels = {1, 2, 3, 0x40, 4, 5, 6, 0xFF};
    icon = LoadIcon(IconFile({DibEntry(argb, {0xC0, 0, 0, 0})}));
    EXPECT_EQ(Pixels(*icon), (std::vector<uint32_t>{0x40030201, 0xFF060504}));

    // 32 bits whose alpha is all zero: shown through the AND mask.
    argb.Pixels = {1, 2, 3, 0, 4, 5, 6, 0};
    icon = LoadIcon(IconFile({DibEntry(argb, {0x40, 0, 0, 0})}));
    EXPECT_EQ(Pixels(*icon), (std::vector<uint32_t>{0xFF030201, 0x00060504}));

    // A mask cut short leaves the rows it lacks opaque.
    icon = LoadIcon(IconFile({DibEntry(Dib24(), {0xC0, 0, 0, 0})}));
    EXPECT_EQ(Pixels(*icon), (std::vector<uint32_t>{0xFF00FF00, 0xFFFFFFFF, 0x00FF0000, 0x000000FF}));
}

TEST_F(IconReader, LargestImageThenDeepest)
{
    TDib grey4;
    grey4.Width = 2;
    grey4.Height = 2;
    grey4.BitCount = 4;
    grey4.ClrUsed = 1;
    grey4.Palette = {0x808080};
    grey4.Pixels.assign(8, 0);
    TDib small;
    small.Width = 1;
    small.Pixels = {9, 9, 9, 0};
    const std::vector<uint8_t> mask(8, 0);
    // Same size: more bits win, whatever the order.
    auto icon = LoadIcon(IconFile({DibEntry(grey4, mask), DibEntry(Dib24(), mask), DibEntry(small, mask)}));
    EXPECT_EQ(Pixels(*icon)[0], 0xFF00FF00u);
    icon = LoadIcon(IconFile({DibEntry(Dib24(), mask), DibEntry(grey4, mask)}));
    EXPECT_EQ(Pixels(*icon)[0], 0xFF00FF00u);
    // A larger image wins over a deeper one.
    grey4.Width = 3;
    icon = LoadIcon(IconFile({DibEntry(Dib24(), mask), DibEntry(grey4, mask)}));
    EXPECT_EQ(icon->Width(), 3);
    EXPECT_EQ(Pixels(*icon)[0], 0xFF808080u);
}

TEST_F(IconReader, PngCodedImagesGoToTheDecoder)
{
    const std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                                      0, 0, 0, 3, 0, 0, 0, 1, 8, 6, 0, 0, 0, 0xAB};
    const std::vector<uint8_t> file = IconFile({{3, 1, 32, png}});
    try {
        LoadIcon(file);
        FAIL() << "loaded without a PNG decoder";
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "PNG-coded icons are not supported");
    }

    std::vector<uint8_t> received;
    TIcon::SetPngDecoder([&](TStream& stream, TBitmap& target) {
        received.resize(static_cast<size_t>(stream.Size()));
        stream.ReadBuffer(received.data(), stream.Size());
        target.SetPixelFormat(bf24Bit);
        target.SetSize(3, 1);
    });
    const auto icon = LoadIcon(file);
    EXPECT_EQ(received, png);
    EXPECT_EQ(icon->Width(), 3);
    EXPECT_EQ(icon->Height(), 1);
}

TEST_F(IconReader, BadFilesGiveClearErrors)
{
    std::vector<uint8_t> good = IconFile({DibEntry(Dib24(), std::vector<uint8_t>(8, 0))});
    auto changed = [&](size_t at, uint8_t value) {
        auto bytes = good;
        bytes[at] = value;
        return bytes;
    };
    std::vector<uint8_t> cutDirectory(good.begin(), good.begin() + 12);
    std::vector<uint8_t> cutPixels(good.begin(), good.begin() + 22 + 40 + 6);
    const struct {
        const char* Name;
        std::vector<uint8_t> Bytes;
        const char* Message;
    } cases[] = {
        {"empty file", {}, "Icon image is not valid"},
        {"reserved field set", changed(0, 1), "Icon image is not valid"},
        {"unknown type", changed(2, 3), "Icon image is not valid"},
        {"no images", changed(4, 0), "Icon image is not valid"},
        {"directory cut short", cutDirectory, "Icon image is not valid"},
        {"image offset past the end", changed(21, 0x7F), "Icon image is not valid"},
        {"image header of unknown size", changed(22, 200), "Icon image is not valid"},
        {"colour bits cut short", cutPixels, "Bitmap image is not valid"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        try {
            LoadIcon(c.Bytes);
            ADD_FAILURE() << "loaded";
        } catch (const EInvalidGraphic& e) {
            EXPECT_STREQ(e.what(), c.Message);
        }
    }
}

TEST_F(IconReader, EveryTruncationAndRandomDamageIsSafe)
{
    for (const char* name : {"mono_1.ico", "pal_4.ico", "pal_8.ico", "multi.ico", "png.ico"}) {
        SCOPED_TRACE(name);
        const auto file = pwtest::ReadBytes(pwtest::DataPath(std::string("ico/") + name));
        auto load = [](const std::vector<uint8_t>& bytes) {
            try {
                LoadIcon(bytes);
            } catch (const Exception&) {
            }
        };
        for (size_t size = 0; size < file.size(); size += 3)
            load(std::vector<uint8_t>(file.begin(), file.begin() + static_cast<ptrdiff_t>(size)));
        std::mt19937 random(11);
        for (int round = 0; round < 300; ++round) {
            auto damaged = file;
            for (int i = 0; i < 4; ++i)
                damaged[random() % std::min<size_t>(damaged.size(), 120)] = static_cast<uint8_t>(random());
            load(damaged);
        }
    }
}
