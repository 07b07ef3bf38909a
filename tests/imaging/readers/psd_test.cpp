// The Photoshop reader on files built byte by byte: the colour modes and
// depths no independent writer here produces (duotone, multichannel, L*a*b*,
// extra channels, odd colour mode data), and every failure with its message.
// ImageMagick's files are decoded in tests/tools/psd_psp_cli_test.cpp.
#include "imaging/format_registry.h"
#include "imaging/readers/psd_graphic.h"
#include "imaging/readers/psp_graphic.h"
#include "platform/exceptions.h"
#include "platform/streams.h"
#include "tests/support/reader_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

using pwtest::Bytes;
using pwtest::Outcome;

struct Psd {
    std::string Signature = "8BPS";
    uint16_t Version = 1;
    uint16_t Mode = 3;
    uint16_t Depth = 8;
    uint32_t Width = 2, Height = 1;
    uint16_t Compression = 0;
    Bytes ColorData{};
    std::vector<Bytes> Planes{}; // one per channel, rows of (Width x Depth + 7) / 8 bytes
    uint32_t LayerLength = 4;  // bytes of the (skipped) layer and mask section
    uint16_t Channels() const { return static_cast<uint16_t>(Planes.size()); }
};

void Put(Bytes& out, uint32_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

Bytes Build(const Psd& p)
{
    Bytes out(p.Signature.begin(), p.Signature.end());
    Put(out, p.Version, 2);
    out.insert(out.end(), 6, 0);
    Put(out, p.Channels(), 2);
    Put(out, p.Height, 4);
    Put(out, p.Width, 4);
    Put(out, p.Depth, 2);
    Put(out, p.Mode, 2);
    Put(out, static_cast<uint32_t>(p.ColorData.size()), 4);
    out.insert(out.end(), p.ColorData.begin(), p.ColorData.end());
    Put(out, 0, 4);              // image resources
    Put(out, p.LayerLength, 4);  // layer and mask information
    out.insert(out.end(), std::min<uint32_t>(p.LayerLength, 4), 0xEE);
    Put(out, p.Compression, 2);
    if (p.Compression != 1) {
        for (const Bytes& plane : p.Planes)
            out.insert(out.end(), plane.begin(), plane.end());
        return out;
    }
    // PackBits: every row one literal packet (rows below 128 bytes here).
    const size_t rowBytes = (size_t(p.Width) * p.Depth + 7) / 8;
    Bytes rows;
    for (const Bytes& plane : p.Planes)
        for (size_t y = 0; y < p.Height; ++y) {
            Put(out, static_cast<uint32_t>(rowBytes + 1), 2);
            rows.push_back(static_cast<uint8_t>(rowBytes - 1));
            rows.insert(rows.end(), plane.begin() + y * rowBytes, plane.begin() + (y + 1) * rowBytes);
        }
    out.insert(out.end(), rows.begin(), rows.end());
    return out;
}

// The loaded bitmap as 0xAARRGGBB values, or the text of the exception raised.
Bytes Planar16(std::initializer_list<uint16_t> samples)
{
    Bytes out;
    for (uint16_t s : samples)
        Put(out, s, 2);
    return out;
}

constexpr uint32_t Opaque = 0xFF000000;
const char* InvalidFormat = "Cannot load image. Invalid or unexpected PSD or PDD image format.";
const char* InvalidColor = "Invalid color format in PSD file.";

} // namespace

TEST(PsdReader, VariantsAndFailures)
{
    // Palette data of 772 bytes: 256 entries in the first 768, four bytes after them.
    Bytes longPalette(772, 0);
    longPalette[5] = 0x40;        // red of entry 5
    longPalette[256 + 5] = 0x50;  // green
    longPalette[512 + 5] = 0x60;  // blue
    longPalette[768] = 0xFF;
    // L* 128, a* +72, b* -28; L* 0; L* 255, 8-bit and 16-bit.
    const Bytes labL = {128, 0, 255}, labA = {200, 128, 128}, labB = {100, 128, 128};
    const Bytes lab16L = Planar16({128 * 257, 0, 65535}), lab16A = Planar16({200 << 8, 0x8000, 0x8000}),
                lab16B = Planar16({100 << 8, 0x8000, 0x8000});
    const std::vector<uint32_t> labPixels = {Opaque | 0xA00664, Opaque, Opaque | 0xFFFFFF};
    const Bytes r = {10, 20}, g = {30, 40}, b = {50, 60}, a = {70, 80}, x = {90, 100};

    struct Case {
        const char* Name;
        Psd File;
        std::vector<uint32_t> Pixels{}; // expected, or
        std::string Error{};            // the message
        size_t Cut = 0;               // bytes cut off the end
    };
    const Case cases[] = {
        {"16-bit duotone goes through the colour manager",
         {.Mode = 8, .Depth = 16, .Width = 3, .ColorData = Bytes(10, 7), .Planes = {Planar16({0xFFFF, 0x0101, 0x80FF})}},
         {Opaque | 0xFFFFFF, Opaque | 0x010101, Opaque | 0x808080}},
        {"16-bit greyscale, PackBits",
         {.Mode = 1, .Depth = 16, .Width = 3, .Compression = 1, .Planes = {Planar16({0xFFFF, 0x0101, 0x80FF})}},
         {Opaque | 0xFFFFFF, Opaque | 0x010101, Opaque | 0x808080}},
        {"8-bit L*a*b*", {.Mode = 9, .Width = 3, .Planes = {labL, labA, labB}}, labPixels},
        {"16-bit L*a*b*, PackBits, swapped once",
         {.Mode = 9, .Depth = 16, .Width = 3, .Compression = 1, .Planes = {lab16L, lab16A, lab16B}}, labPixels},
        {"8-bit L*a*b* with a fourth channel", {.Mode = 9, .Width = 3, .Planes = {labL, labA, labB, labL}}, labPixels},
        {"greyscale with alpha shows the grey channel", {.Mode = 1, .Compression = 1, .Planes = {r, a}},
         {Opaque | 0x0A0A0A, Opaque | 0x141414}},
        {"multichannel with three channels shows them as RGB", {.Mode = 7, .Planes = {r, g, b}},
         {Opaque | 0x0A1E32, Opaque | 0x14283C}},
        {"five channels: the fourth is alpha, the fifth ignored", {.Planes = {r, g, b, a, x}, .LayerLength = 0},
         {0x460A1E32, 0x5014283C}},
        {"five channels, PackBits", {.Compression = 1, .Planes = {r, g, b, a, x}}, {0x460A1E32, 0x5014283C}},
        {"colour mode data over 768 bytes: 256 entries from the first 768",
         {.Mode = 2, .ColorData = longPalette, .Planes = {{5, 0}}}, {Opaque | 0x405060, Opaque}},
        {"colour mode data of 4 entries",
         {.Mode = 2, .ColorData = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, .Planes = {{3, 1}}},
         {Opaque | 0x04080C, Opaque | 0x02060A}},
        {"unsupported colour mode: an empty picture", {.Mode = 5, .Planes = {r, g, b}}, {}},
        {"signature", {.Signature = "8BPX", .Planes = {r, g, b}}, {}, InvalidFormat},
        {"version 2", {.Version = 2, .Planes = {r, g, b}}, {}, InvalidFormat},
        {"RGB with two channels", {.Planes = {r, g}}, {}, InvalidColor},
        {"multichannel with one channel", {.Mode = 7, .Planes = {r}}, {}, InvalidColor},
        {"CMYK with three channels", {.Mode = 4, .Planes = {r, g, b}}, {}, InvalidColor},
        {"greyscale without channels", {.Mode = 1}, {}, InvalidColor},
        {"4-bit greyscale", {.Mode = 1, .Depth = 4, .Planes = {{0x12}}}, {}, InvalidColor},
        {"32-bit RGB", {.Depth = 32, .Planes = {r, g, b}}, {}, InvalidColor},
        {"zip compression",
         {.Compression = 2, .Planes = {r, g, b}},
         {},
         "Cannot load image. The compression scheme is not supported for PSD files."},
        {"raw data cut short", {.Planes = {r, g, b}}, {}, "Stream read error", 1},
        {"PackBits data cut short", {.Compression = 1, .Planes = {r, g, b}}, {}, "Stream read error", 1},
        {"layer section longer than the file", {.Planes = {r, g, b}, .LayerLength = 1u << 30}, {}, "Stream read error"},
        {"header cut short", {.Planes = {r, g, b}}, {}, "Stream read error", 40},
        {"oversize", {.Width = 1u << 21, .Planes = {r, g, b}}, {}, "Cannot load image. The PSD or PDD image is too large (2097152 x 1 pixels)."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Bytes file = Build(c.File);
        file.resize(file.size() - c.Cut);
        TPSDGraphic image;
        const Outcome o = pwtest::LoadOutcome(image, file);
        EXPECT_EQ(o.Error, c.Error);
        if (c.Error.empty()) {
            EXPECT_EQ(o.Pixels, c.Pixels);
        }
    }
}

TEST(PsdReader, SignatureTests)
{
    const Bytes file = Build({.Planes = {{1, 2}, {3, 4}, {5, 6}}});
    auto canLoad = [](Bytes bytes) {
        TMemoryStream stream(bytes.data(), bytes.size());
        stream.SetPosition(0);
        const bool result = TPSDGraphic::CanLoadStream(stream);
        EXPECT_EQ(stream.Position(), 0);
        return result;
    };
    EXPECT_TRUE(canLoad(file));
    Bytes lower = file;
    lower[1] = 'b';
    lower[2] = 'p';
    lower[3] = 's';
    EXPECT_TRUE(canLoad(lower));
    Bytes version2 = file;
    version2[5] = 2;
    EXPECT_FALSE(canLoad(version2));
    EXPECT_FALSE(canLoad(Bytes(file.begin(), file.begin() + 26)));

    // The property reader wants the exact signature.
    TPSDGraphic image;
    TMemoryStream stream(lower.data(), lower.size());
    EXPECT_FALSE(image.LoadProperties(stream, 0));
    EXPECT_EQ(pwtest::LoadOutcome(image, lower).Error, InvalidFormat);
}

TEST(PsdReader, RegistryRowsOfBothReaders)
{
    InitializeImaging();
    const struct {
        const char* Extension;
        const TGraphicClass* Class;
        TFormatKinds Kinds;
        const char* Description;
    } rows[] = {{"psd", &TPSDGraphic::ClassType(), fkLayered | fkRaster, "Photoshop images"},
                {"pdd", &TPSDGraphic::ClassType(), fkLayered | fkRaster, "Photoshop images"},
                {"psp", &TPSPGraphic::ClassType(), fkRaster | fkVector, "Paintshop Pro images"}};
    int previous = -1;
    for (const auto& row : rows) {
        const int index = FileFormatList->FindExtension(row.Extension);
        ASSERT_GT(index, previous) << row.Extension;
        const auto& entry = FileFormatList->Extension(index);
        EXPECT_EQ(entry.ClassEntry->GraphicClass, row.Class);
        EXPECT_EQ(entry.FormatTypes, row.Kinds);
        EXPECT_EQ(entry.ClassEntry->Description, row.Description);
        previous = index;
    }
    FinalizeImaging();
}
