// The Targa reader on files built byte by byte: every image type and depth,
// both row orders, colour maps (16-bit, 24-bit, not starting at 0, declared by
// a grey image), packets crossing row ends, truncation, corrupt headers and
// oversize, and garbage that must never crash it.
#include "imaging/readers/targa_graphic.h"
#include "platform/exceptions.h"
#include "platform/streams.h"
#include "tests/support/reader_test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

namespace {

using pwtest::Bytes;
using pwtest::Decoded;
using pwtest::Pixels;

struct Tga {
    uint8_t Type = 2, Depth = 24, Descriptor = 0, MapType = 0, MapSize = 0;
    uint16_t MapStart = 0, MapLength = 0, Width = 3, Height = 2;
    Bytes Id, Map;

    Bytes operator()(const Bytes& data) const
    {
        Bytes out = {static_cast<uint8_t>(Id.size()), MapType, Type};
        for (uint16_t v : {MapStart, MapLength})
            out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8)});
        out.push_back(MapSize);
        for (uint16_t v : {uint16_t(0), uint16_t(0), Width, Height})
            out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8)});
        out.insert(out.end(), {Depth, Descriptor});
        out.insert(out.end(), Id.begin(), Id.end());
        out.insert(out.end(), Map.begin(), Map.end());
        out.insert(out.end(), data.begin(), data.end());
        return out;
    }
};

// Six BGR pixels, stored order, and how they show.
const Bytes Bgr6 = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
constexpr uint32_t P0 = 0xFF030201, P1 = 0xFF060504, P2 = 0xFF090807, P3 = 0xFF0C0B0A, P4 = 0xFF0F0E0D,
                   P5 = 0xFF121110;
constexpr uint32_t Black = 0xFF000000;

struct Case {
    const char* Name;
    Bytes File;
    Pixels Expected;      // after an error: the leading pixels that must have arrived
    std::string Error;    // "" when the load succeeds
};

std::vector<Case> Cases()
{
    Tga topDown;
    topDown.Descriptor = 0x2F; // attribute bits and bit 4 mean nothing here
    Tga depth32;
    depth32.Depth = 32;
    Tga depth15;
    depth15.Depth = 15;
    Tga map24; // pixel value 2 is the first entry; 0 and 1 lie below the map
    map24.Type = 1, map24.Depth = 8, map24.MapType = 1, map24.MapStart = 2, map24.MapLength = 2, map24.MapSize = 24;
    map24.Map = {0x10, 0x20, 0x30, 0x3F, 0x00, 0xFF}, map24.Descriptor = 0x20;
    Tga map16;
    map16.Type = 1, map16.Depth = 8, map16.MapType = 1, map16.MapLength = 2, map16.MapSize = 16;
    map16.Map = {0x1F, 0x7C, 0xE0, 0x83}; // 0x7C1F: red 31, blue 31; 0x83E0: green 31, top bit set
    map16.Descriptor = 0x20;
    Tga grayWithMap;
    grayWithMap.Type = 3, grayWithMap.Depth = 8, grayWithMap.MapType = 1, grayWithMap.MapLength = 2;
    grayWithMap.MapSize = 24, grayWithMap.Map = {9, 9, 9, 9, 9, 9}, grayWithMap.Descriptor = 0x20;
    Tga rle24 = topDown;
    rle24.Type = 10;
    Tga rle24Tall = rle24;
    rle24Tall.Height = 3;
    Tga rleGray = grayWithMap;
    rleGray.Type = 11, rleGray.MapType = 0, rleGray.Map = {};
    Tga withId = topDown;
    withId.Id = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    Tga huge;
    huge.Depth = 32, huge.Width = 65535, huge.Height = 65535;
    Tga noImage = huge; // nothing is allocated for the size it declares
    noImage.Type = 0;
    Tga unknownType = topDown;
    unknownType.Type = 4;
    Tga depth7;
    depth7.Depth = 7;

    return {
        {"BottomUpRowsAreFlipped", Tga{}(Bgr6), {P3, P4, P5, P0, P1, P2}, ""},
        {"TopDownRowsKeepTheirOrder", topDown(Bgr6), {P0, P1, P2, P3, P4, P5}, ""},
        {"IdentificationFieldIsSkipped", withId(Bgr6), {P0, P1, P2, P3, P4, P5}, ""},
        {"ThirtyTwoBitAlphaIsNotShown",
         depth32({1, 2, 3, 0x80, 4, 5, 6, 0, 7, 8, 9, 0xFF, 10, 11, 12, 1, 13, 14, 15, 2, 16, 17, 18, 3}),
         {P3, P4, P5, P0, P1, P2}, ""},
        {"FifteenBitTakesTwoBytes", depth15({0x1F, 0x00, 0xE0, 0x83, 0x00, 0x7C, 0x21, 0x04, 0, 0, 0xFF, 0xFF}),
         {0xFF080808, Black, 0xFFFFFFFF, 0xFF0000FF, 0xFF00FF00, 0xFFFF0000}, ""},
        {"MapNotStartingAtZeroIsHonoured", map24({0, 1, 2, 3, 2, 3}), {Black, Black, 0xFF302010, 0xFFFF003F, 0xFF302010, 0xFFFF003F}, ""},
        {"SixteenBitMapEntriesGiveMultiplesOfEight", map16({0, 1, 1, 0, 0, 1}),
         {0xFFF800F8, 0xFF00F800, 0xFF00F800, 0xFFF800F8, 0xFFF800F8, 0xFF00F800}, ""},
        {"GreyImageSkipsTheMapItDeclares", grayWithMap({0, 63, 255, 1, 2, 3}),
         {Black, 0xFF3F3F3F, 0xFFFFFFFF, 0xFF010101, 0xFF020202, 0xFF030303}, ""},
        // A run of 3 crossing into row 2, a literal of 3 crossing into row 3.
        {"PacketsCrossRowEnds",
         rle24Tall({0x00, 1, 2, 3, 0x82, 4, 5, 6, 0x02, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0x00, 16, 17, 18, 0x00, 1, 2, 3}),
         {P0, P1, P1, P1, P2, P3, P4, P5, P0}, ""},
        {"RunLengthGrey", rleGray({0x85, 0x40}), std::vector<uint32_t>(6, 0xFF404040), ""},
        {"TruncatedRunLengthDataGivesAPartialImage", rle24({0x83, 1, 2, 3, 0x01, 4, 5}),
         {P0, P0, P0, P0, Black, Black}, ""},
        {"TypeZeroHoldsNoImage", noImage(Bgr6), {}, ""},
        {"UnknownTypeHoldsNoImage", unknownType(Bgr6), {}, ""},
        {"TruncatedPlainRowsRaiseAfterTheRowsRead", topDown(Bytes(Bgr6.begin(), Bgr6.begin() + 12)),
         {P0, P1, P2, P3}, "Stream read error"},
        {"ShortHeader", Bytes(17, 0), {}, "Stream read error"},
        {"ShortColourMap", [] { Tga t; t.Type = 1, t.Depth = 8, t.MapType = 1, t.MapLength = 300, t.MapSize = 24; return t(Bytes(100, 1)); }(),
         {}, "Stream read error"},
        {"UnknownDepth", depth7(Bgr6), {}, "Sample count per pixel does not correspond to the given color scheme."},
        {"Oversize", huge(Bgr6), {}, "Cannot load image. The TGA image is too large (65535 x 65535 pixels)."},
    };
}

class TargaCases : public ::testing::TestWithParam<Case> {};

TEST_P(TargaCases, DecodeOrFailExactly)
{
    const Case& c = GetParam();
    TTargaGraphic image;
    try {
        pwtest::LoadBytes(image, c.File);
        EXPECT_EQ(c.Error, "") << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.what(), c.Error);
        if (c.Error == "Stream read error") {
            EXPECT_NE(dynamic_cast<const EReadError*>(&e), nullptr);
        }
    }
    // A load without an error and without expected pixels gives an empty picture.
    if (!c.Expected.empty() || c.Error.empty()) {
        Pixels got = Decoded(image);
        if (!c.Error.empty())
            got.resize(c.Expected.size());
        EXPECT_EQ(got, c.Expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Targa, TargaCases, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.Name); });

TEST(Targa, CanLoadStreamChecksTheHeaderAndKeepsThePosition)
{
    Tga mapped;
    mapped.Type = 9, mapped.Depth = 8, mapped.MapType = 1, mapped.MapLength = 1, mapped.MapSize = 16;
    Tga badEntry = mapped;
    badEntry.MapSize = 8;
    Tga badType;
    badType.Type = 4;
    Tga badMapType;
    badMapType.MapType = 2;
    Tga badDepth;
    badDepth.Depth = 12;
    const std::pair<Bytes, bool> cases[] = {
        {Tga{}(Bgr6), true}, // true colour with entry size 0
        {mapped({0, 0, 0x80, 0}), true},
        {badEntry({0, 0, 0x80, 0}), false},
        {badType(Bgr6), false},
        {badMapType(Bgr6), false},
        {badDepth(Bgr6), false},
        {Tga{}({}), false}, // the header alone
    };
    for (const auto& [file, expected] : cases) {
        Bytes padded = Bytes(5, 0xAA);
        padded.insert(padded.end(), file.begin(), file.end());
        TMemoryStream stream(padded.data(), padded.size());
        stream.SetPosition(5);
        EXPECT_EQ(TTargaGraphic::CanLoadStream(stream), expected);
        EXPECT_EQ(stream.Position(), 5);
    }
}

TEST(Targa, ProgressReportsEveryStoredRow)
{
    Tga t;
    t.Type = 10, t.Depth = 16, t.Width = 2, t.Height = 4;
    const Bytes file = t({0x87, 0x00, 0x7C});
    TTargaGraphic image;
    std::vector<std::string> events;
    image.OnProgress = [&](TGraphic*, TProgressStage stage, uint8_t percent, bool, const TRect& r, const std::string& msg) {
        events.push_back(std::to_string(stage) + ":" + std::to_string(percent) + ":" + std::to_string(r.Top) + ":" +
                         std::to_string(r.Right) + msg);
    };
    pwtest::LoadBytes(image, file);
    EXPECT_EQ(image.ImageProperties.BitsPerPixel, 15);
    EXPECT_EQ(image.PixelFormat(), bf15Bit);
    const std::vector<std::string> expected = {"0:0:0:2Preparing...", "2:0:0:2", "0:0:0:2Transfering...",
                                               "1:0:0:2", "1:25:1:2", "1:50:2:2", "1:75:3:2", "2:0:4:2"};
    EXPECT_EQ(events, expected);
}

TEST(Targa, GarbageNeverCrashes)
{
    Tga rle;
    rle.Type = 9, rle.Depth = 8, rle.MapType = 1, rle.MapLength = 3, rle.MapSize = 24, rle.Width = 5, rle.Height = 4;
    rle.Map = Bytes(9, 0x44);
    Tga rle32 = rle;
    rle32.Type = 10, rle32.Depth = 32, rle32.MapType = 0, rle32.Map = {};
    const std::vector<Bytes> seeds = {
        rle({0x84, 1, 0x02, 0, 1, 2, 0xFF, 2, 0x83, 0}),
        rle32({0x81, 1, 2, 3, 4, 0x05, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22,
               23, 24, 0xFF, 9, 9, 9, 9}),
        Tga{}(Bgr6),
    };
    std::mt19937 random(2141);
    for (const Bytes& seed : seeds) {
        const auto tryLoad = [](const Bytes& bytes) {
            TTargaGraphic image;
            try {
                pwtest::LoadBytes(image, bytes);
                if (!image.Empty())
                    Decoded(image);
            } catch (const Exception&) {
            }
        };
        for (size_t n = 0; n <= seed.size(); ++n)
            tryLoad(Bytes(seed.begin(), seed.begin() + static_cast<ptrdiff_t>(n)));
        for (int i = 0; i < 1500; ++i) {
            Bytes bytes = seed;
            for (int f = 1 + static_cast<int>(random() % 4); f > 0; --f)
                bytes[random() % bytes.size()] = static_cast<uint8_t>(random() % 3 == 0 ? 0xFF : random());
            // Keep the sides small so that the loop stays quick.
            bytes[12] &= 0x3F, bytes[13] = 0, bytes[14] &= 0x3F, bytes[15] = 0;
            tryLoad(bytes);
        }
    }
}

} // namespace
