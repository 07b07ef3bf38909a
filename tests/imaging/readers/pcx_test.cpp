// The PCX reader on files built byte by byte: every plane layout, the three
// palette sources (header, end block, default) and the grey ramp, screen
// captures, short data, refused layouts and headers, oversize, and garbage
// that must never crash it.
#include "imaging/readers/pcx_graphic.h"
#include "platform/exceptions.h"
#include "platform/streams.h"
#include "tests/support/reader_test_support.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using pwtest::Bytes;
using pwtest::Decoded;
using pwtest::Pixels;

struct Pcx {
    uint8_t Manufacturer = 10, Version = 5, Encoding = 0, Bits = 8, Planes = 1;
    uint16_t XMin = 0, YMin = 0, XMax = 2, YMax = 0, BytesPerLine = 4, PaletteInfo = 1;
    Bytes Palette; // up to 48 bytes

    Bytes operator()(const Bytes& data) const
    {
        Bytes out = {Manufacturer, Version, Encoding, Bits};
        for (uint16_t v : {XMin, YMin, XMax, YMax, uint16_t(300), uint16_t(200)})
            out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8)});
        Bytes palette = Palette;
        palette.resize(48);
        out.insert(out.end(), palette.begin(), palette.end());
        out.insert(out.end(), {0, Planes, uint8_t(BytesPerLine), uint8_t(BytesPerLine >> 8), uint8_t(PaletteInfo), 0});
        out.resize(128, 0);
        out.insert(out.end(), data.begin(), data.end());
        return out;
    }
};

constexpr uint32_t Black = 0xFF000000, White = 0xFFFFFFFF;

struct Case {
    const char* Name;
    Bytes File;
    Pixels Expected;   // empty on success: the bitmap stays empty
    std::string Error; // "" when the load succeeds
};

std::vector<Case> Cases()
{
    Pcx oneBit;
    oneBit.Bits = 1, oneBit.XMax = 9, oneBit.YMax = 1, oneBit.BytesPerLine = 2, oneBit.Palette = Bytes(48, 0x40);
    Pcx twoBit; // a 63 in the palette stays 63
    twoBit.Bits = 2, twoBit.XMax = 4, twoBit.BytesPerLine = 2;
    twoBit.Palette = {63, 0, 0, 0, 63, 0, 0, 0, 63, 255, 255, 255};
    Pcx twoBitGray = twoBit;
    twoBitGray.PaletteInfo = 2;
    Pcx fourBit;
    fourBit.Bits = 4, fourBit.BytesPerLine = 2;
    fourBit.Palette = Bytes(48, 0);
    fourBit.Palette[3] = 7, fourBit.Palette[47] = 200;
    Pcx planes; // values 0..8 in four planes, odd width
    planes.Bits = 1, planes.Planes = 4, planes.XMax = 8, planes.BytesPerLine = 2, planes.Encoding = 1;
    for (int i = 0; i < 16; ++i)
        planes.Palette.insert(planes.Palette.end(), {uint8_t(i * 16), uint8_t(255 - i * 16), 63});
    const Bytes planeData = {0x55, 0x00, 0x33, 0x00, 0x0F, 0x00, 0x00, 0x80};
    Pixels planeColors;
    for (uint32_t i = 0; i < 9; ++i)
        planeColors.push_back(0xFF00003F | (i * 16) << 16 | (255 - i * 16) << 8);
    Pcx version3 = planes;
    version3.Version = 3;
    Pcx trueColor;
    trueColor.Planes = 3, trueColor.XMax = 1, trueColor.BytesPerLine = 2, trueColor.Encoding = 1;
    Pcx withBlock;
    withBlock.Encoding = 1, withBlock.YMax = 1;
    Bytes blockData = {0xC3, 0x05, 0x00, 0x01, 0xC2, 0xC7, 0x00, 12};
    blockData.resize(blockData.size() + 768);
    blockData[8 + 15] = 63, blockData[8 + 16] = 1, blockData[8 + 17] = 2;     // entry 5
    blockData[8 + 3] = 9;                                                       // entry 1
    blockData[8 + 597] = 10, blockData[8 + 598] = 20, blockData[8 + 599] = 30; // entry 199
    // 40 x 20 grey pixels, more than a palette block, none of it one.
    Pcx big;
    big.XMax = 39, big.YMax = 19, big.BytesPerLine = 40, big.PaletteInfo = 2;
    Bytes bigData;
    Pixels bigColors;
    for (uint32_t i = 0; i < 800; ++i) {
        bigData.push_back(static_cast<uint8_t>(i * 7 % 251));
        bigColors.push_back(pwtest::Grey(bigData.back()));
    }
    Pcx noPalette;
    Pcx screen;
    screen.Manufacturer = 0xCD, screen.XMin = 10, screen.XMax = 12, screen.YMin = 5, screen.YMax = 5;
    screen.PaletteInfo = 2;
    Pcx unknown;
    unknown.Manufacturer = 11;
    Pcx threePlanes = planes;
    threePlanes.Planes = 3;
    Pcx twoPlanes = planes;
    twoPlanes.Planes = 2;
    Pcx shortLine;
    shortLine.BytesPerLine = 2;
    Pcx reversed;
    reversed.XMin = 5;
    Pcx shortRle;
    shortRle.Encoding = 1, shortRle.YMax = 1, shortRle.BytesPerLine = 3, shortRle.PaletteInfo = 2;
    Pcx shortPlain = trueColor;
    shortPlain.Encoding = 0, shortPlain.YMax = 1;
    Pcx huge = trueColor;
    huge.XMax = 65534, huge.YMax = 65534, huge.BytesPerLine = 65535;

    const std::string invalid = "Cannot load image. Invalid or unexpected PCX or SCR image format.";
    const std::string colorFormat = "Invalid color format in PCX file.";
    return {
        {"OneBitIsBlackAndWhite", oneBit({0xB0, 0x40, 0xFF, 0xC0}),
         {White, Black, White, White, Black, Black, Black, Black, Black, White, White, White, White, White, White,
          White, White, White, White, White}, ""},
        {"TwoBitIndicesUseTheHeaderPalette", twoBit({0x1B, 0x00}),
         {0xFF3F0000, 0xFF003F00, 0xFF00003F, White, 0xFF3F0000}, ""},
        {"TwoBitGreyRamp", twoBitGray({0x1B, 0x00}), {Black, pwtest::Grey(85), pwtest::Grey(170), White, Black}, ""},
        {"FourBitPlain", fourBit({0x0F, 0x10}), {Black, 0xFF0000C8, 0xFF070000}, ""},
        {"SixteenColourPlanesOfOddWidth", planes(planeData), planeColors, ""},
        {"VersionThreeShowsTheDefaultPalette", version3(planeData),
         {Black, 0xFF800000, 0xFF008000, 0xFF808000, 0xFF000080, 0xFF800080, 0xFF008080, 0xFFC0C0C0, 0xFF808080}, ""},
        {"TrueColourPlanes", trueColor({10, 20, 30, 40, 50, 60}), {0xFF0A1E32, 0xFF14283C}, ""},
        {"PaletteBlockAtTheEnd", withBlock(blockData),
         {0xFF3F0102, 0xFF3F0102, 0xFF3F0102, 0xFF090000, 0xFF0A141E, 0xFF0A141E}, ""},
        {"EightBitWithoutBlockKeepsAllItsData", big(bigData), bigColors, ""},
        {"EightBitWithoutAnyPaletteShowsTheBitmapsGrey", noPalette({7, 0, 255, 0}), {pwtest::Grey(7), Black, White}, ""},
        {"ScreenCaptureWithShiftedExtents", screen({1, 2, 3, 0}), {pwtest::Grey(1), pwtest::Grey(2), pwtest::Grey(3)}, ""},
        {"UnknownManufacturerLoadsNothing", unknown({1, 2, 3, 4}), {}, ""},
        {"RunLengthDataCutShortGivesAPartialImage", shortRle({0xC4, 0x09}),
         {pwtest::Grey(9), pwtest::Grey(9), pwtest::Grey(9), pwtest::Grey(9), Black, Black}, ""},
        {"PlainDataCutShortGivesAPartialImage", shortPlain({1, 2, 3, 4, 5, 6, 7, 8}),
         {0xFF010305, 0xFF020406, 0xFF070000, 0xFF080000}, ""},
        {"ThreeOneBitPlanesAreRefused", threePlanes(planeData), {}, colorFormat},
        {"TwoOneBitPlanesAreRefused", twoPlanes(planeData), {}, colorFormat},
        {"BytesPerLineTooShortForTheWidth", shortLine({1, 2, 3, 4, 5, 6}), {}, invalid},
        {"ReversedExtents", reversed({1, 2, 3, 4}), {}, invalid},
        {"ShortHeader", Bytes(100, 10), {}, "Stream read error"},
        {"Oversize", huge({0}), {}, "Cannot load image. The PCX image is too large (65535 x 65535 pixels)."},
    };
}

class PcxCases : public ::testing::TestWithParam<Case> {};

TEST_P(PcxCases, DecodeOrFailExactly)
{
    const Case& c = GetParam();
    TPCXGraphic image;
    try {
        pwtest::LoadBytes(image, c.File);
        EXPECT_EQ(c.Error, "") << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.what(), c.Error);
        return;
    }
    EXPECT_EQ(image.Empty(), c.Expected.empty());
    EXPECT_EQ(Decoded(image), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(PCX, PcxCases, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.Name); });

TEST(PCX, CanLoadStreamChecksTheHeaderAndKeepsThePosition)
{
    const auto with = [](uint8_t manufacturer, uint8_t version, uint8_t encoding) {
        Pcx p;
        p.Manufacturer = manufacturer, p.Version = version, p.Encoding = encoding;
        return p({0});
    };
    const std::pair<Bytes, bool> cases[] = {
        {with(10, 5, 1), true},   {with(205, 0, 0), true}, {with(10, 2, 0), true},  {with(10, 3, 1), true},
        {with(12, 5, 1), false},  {with(10, 4, 1), false}, {with(10, 5, 2), false}, {Pcx{}({}), false},
    };
    for (const auto& [file, expected] : cases) {
        Bytes padded = Bytes(3, 0);
        padded.insert(padded.end(), file.begin(), file.end());
        TMemoryStream stream(padded.data(), padded.size());
        stream.SetPosition(3);
        EXPECT_EQ(TPCXGraphic::CanLoadStream(stream), expected) << int(file[0]) << " " << int(file[1]);
        EXPECT_EQ(stream.Position(), 3);
    }
}

// A few bytes that declare a 30000 x 30000 image: the rows the data reach
// are decoded (a run carrying over into the second row), the rest stay 0.
TEST(PCX, ShortDataForAHugeImageFillsWhatItReaches)
{
    Pcx huge;
    huge.XMax = 29999, huge.YMax = 29999, huge.BytesPerLine = 30000, huge.Encoding = 1, huge.PaletteInfo = 2;
    Bytes data;
    for (int i = 0; i < 476; ++i)
        data.insert(data.end(), {0xFF, 9}); // 476 runs of 63: 29988 bytes
    data.insert(data.end(), {0xD4, 200});   // 20 more: 12 end row 0, 8 start row 1
    TPCXGraphic image;
    pwtest::LoadBytes(image, huge(data));
    ASSERT_EQ(image.Width(), 30000);
    ASSERT_EQ(image.Height(), 30000);
    std::vector<uint32_t> row(30000);
    image.RowToARGB(0, 0, 30000, row.data());
    EXPECT_EQ(row[0], pwtest::Grey(9));
    EXPECT_EQ(row[29987], pwtest::Grey(9));
    EXPECT_EQ(row[29988], pwtest::Grey(200));
    EXPECT_EQ(row[29999], pwtest::Grey(200));
    image.RowToARGB(1, 0, 30000, row.data());
    EXPECT_EQ(row[7], pwtest::Grey(200));
    EXPECT_EQ(row[8], Black);
    image.RowToARGB(29999, 0, 30000, row.data());
    EXPECT_EQ(row[0], Black);
}

TEST(PCX, GarbageNeverCrashes)
{
    Pcx planes;
    planes.Bits = 1, planes.Planes = 4, planes.XMax = 12, planes.YMax = 2, planes.BytesPerLine = 2, planes.Encoding = 1;
    Pcx eight;
    eight.XMax = 4, eight.YMax = 3, eight.BytesPerLine = 6, eight.Encoding = 1;
    Bytes eightData = {0xC6, 1, 0xC6, 2, 3, 4, 5, 6, 7, 8, 0xC1, 9, 0xC6, 0xFF, 12};
    eightData.resize(eightData.size() + 768, 0x33);
    Pcx color;
    color.Planes = 3, color.XMax = 3, color.YMax = 1;
    const std::vector<Bytes> seeds = {planes({0xC6, 0x55, 0xC6, 0x0F, 0xC0, 0x01, 0xC3, 0xAA, 0x33}), eight(eightData),
                                      color(Bytes(24, 0x5A))};
    std::mt19937 random(2241);
    const auto tryLoad = [](const Bytes& bytes) {
        TPCXGraphic image;
        try {
            pwtest::LoadBytes(image, bytes);
            if (!image.Empty())
                Decoded(image);
        } catch (const Exception&) {
        }
    };
    for (const Bytes& seed : seeds) {
        for (size_t n = 0; n <= seed.size(); n += n < 140 ? 1 : 37)
            tryLoad(Bytes(seed.begin(), seed.begin() + static_cast<ptrdiff_t>(n)));
        for (int i = 0; i < 1500; ++i) {
            Bytes bytes = seed;
            for (int f = 1 + static_cast<int>(random() % 4); f > 0; --f) {
                // Mostly the header, where the sizes and layouts live.
                const size_t at = random() % 2 ? random() % 128 : random() % bytes.size();
                bytes[at] = static_cast<uint8_t>(random() % 3 == 0 ? 0xFF : random());
            }
            // Keep the sides small so that the loop stays quick.
            for (size_t at : {4, 6, 8, 10, 66})
                bytes[at] &= 0x3F;
            for (size_t at : {5, 7, 9, 11, 67})
                bytes[at] = 0;
            tryLoad(bytes);
        }
    }
}

} // namespace
