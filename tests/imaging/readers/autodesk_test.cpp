// The Autodesk reader on files built byte by byte.
#include "imaging/readers/autodesk_graphic.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;
using Pixels = std::vector<uint32_t>; // 0xAARRGGBB, top row first

// A 3 x 2 file: header, palette entries 0 to 2 set (the rest 0), pixels.
Bytes Adsk(const Bytes& pixels, uint16_t magic = 0x9119, uint8_t bits = 8, uint8_t compression = 0)
{
    Bytes out(800 + pixels.size(), 0);
    out[0] = uint8_t(magic), out[1] = uint8_t(magic >> 8), out[2] = 3, out[4] = 2;
    out[10] = bits, out[11] = compression;
    const uint8_t colors[] = {63, 0, 0, 0, 63, 32, 1, 2, 3};
    std::copy(std::begin(colors), std::end(colors), out.begin() + 32);
    std::copy(pixels.begin(), pixels.end(), out.begin() + 800);
    return out;
}

// Palette entries 0 to 2 times 4: 63 becomes 252, not 255.
constexpr uint32_t C0 = 0xFFFC0000, C1 = 0xFF00FC80, C2 = 0xFF04080C;
const Bytes Six = {0, 1, 2, 2, 1, 0};
const Bytes Full = Adsk(Six);

struct Case {
    const char* Name;
    Bytes File;
    Pixels Expected;
    std::string Error;
};

const Case Cases[] = {
    {"PaletteAndRows", Full, {C0, C1, C2, C2, C1, C0}, ""},
    // Bits per pixel and compression are checked by the format test only.
    {"LoaderIgnoresBitsAndCompression", Adsk(Six, 0x9119, 4, 1), {C0, C1, C2, C2, C1, C0}, ""},
    {"ShortPixelDataKeepsTheFreshBitmap", Adsk({2, 2, 1, 1}), {C2, C2, C1, C1, C0, C0}, ""},
    {"BadMagic", Adsk(Six, 0x9118), {}, "Cannot load image. Invalid or unexpected Autodesk image format."},
    {"ShortHeader", Bytes(Full.begin(), Full.begin() + 20), {}, "Stream read error"},
    {"ShortPalette", Bytes(Full.begin(), Full.begin() + 500), {}, "Stream read error"},
};

class AutodeskCases : public ::testing::TestWithParam<Case> {};

TEST_P(AutodeskCases, DecodeOrFailExactly)
{
    const Case& c = GetParam();
    TAutodeskGraphic image;
    try {
        TMemoryStream stream(c.File.data(), c.File.size());
        image.LoadFromStream(stream);
        EXPECT_EQ(c.Error, "") << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.what(), c.Error);
        EXPECT_EQ(dynamic_cast<const EReadError*>(&e) != nullptr, c.Error == "Stream read error");
    }
    Pixels got(size_t(image.Width()) * image.Height());
    for (int y = 0; y < image.Height(); ++y)
        image.RowToARGB(y, 0, image.Width(), got.data() + size_t(y) * image.Width());
    EXPECT_EQ(got, c.Expected);
}

INSTANTIATE_TEST_SUITE_P(Autodesk, AutodeskCases, ::testing::ValuesIn(Cases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.Name); });

TEST(Autodesk, CanLoadStreamChecksTheHeaderAndKeepsThePosition)
{
    const std::pair<Bytes, bool> cases[] = {
        {Full, true},         {Bytes(Full.begin(), Full.begin() + 33), true},
        {Bytes(Full.begin(), Full.begin() + 32), false}, {Adsk(Six, 0x9119, 4), false},
        {Adsk(Six, 0x9119, 8, 1), false}, {Adsk(Six, 0x1991), false},
    };
    for (const auto& [file, expected] : cases) {
        Bytes padded(3 + file.size(), 0x91);
        std::copy(file.begin(), file.end(), padded.begin() + 3);
        TMemoryStream stream(padded.data(), padded.size());
        stream.SetPosition(3);
        EXPECT_EQ(TAutodeskGraphic::CanLoadStream(stream), expected) << file.size();
        EXPECT_EQ(stream.Position(), 3);
    }
}

} // namespace
