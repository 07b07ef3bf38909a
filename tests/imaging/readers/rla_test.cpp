// The RLA reader on files built byte by byte: row order, matte, gamma,
// channel depths, the quiet "xyz" space and every failure with its text.
#include "imaging/readers/rla_graphic.h"
#include "platform/exceptions.h"
#include "platform/streams.h"
#include "tests/imaging/readers/rla_test_builder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

using namespace rlatest;

constexpr int W = 7, H = 5;

RlaFile Base(int channels = 3)
{
    RlaFile f;
    f.Right = W - 1;
    f.Top = H - 1;
    f.Rows = Pattern(W, H, channels);
    return f;
}

uint32_t Pixel(const TBitmap& bitmap, int x, int y)
{
    uint32_t argb;
    bitmap.RowToARGB(y, x, 1, &argb);
    return argb;
}

struct GoodCase {
    const char* Name;
    std::function<void(RlaFile&)> Change;
    TBitmapFormat Format;
    bool TopFirst;                      // the first stored row is the top row
    std::function<int(int)> Shown;      // the pattern's 8-bit value as shown
    std::function<uint16_t(int)> Store; // the pattern's value as stored
    int Tolerance = 0;
    bool GammaApplied = false;
};

const auto Same = [](int v) { return v; };
const auto Byte = [](int v) { return static_cast<uint16_t>(v); };

void PrintTo(const GoodCase& c, std::ostream* os)
{
    *os << c.Name;
}

class RlaGood : public ::testing::TestWithParam<GoodCase> {};

TEST_P(RlaGood, ShowsTheStoredRows)
{
    const GoodCase& c = GetParam();
    RlaFile f = Base();
    c.Change(f);
    for (auto& row : f.Rows)
        for (auto& channel : row)
            for (auto& v : channel)
                v = c.Store(v);
    const Bytes file = Build(f);
    TMemoryStream stream(file.data(), file.size());
    ASSERT_TRUE(TRLAGraphic::CanLoadStream(stream));
    TRLAGraphic rla;
    rla.LoadFromStream(stream);
    ASSERT_EQ(rla.PixelFormat(), c.Format);
    ASSERT_EQ(rla.Width(), W);
    ASSERT_EQ(rla.Height(), H);
    EXPECT_EQ((rla.ImageProperties.Flags & ifGammaApplied) != 0, c.GammaApplied);
    const std::vector<Row> want = Pattern(W, H, 4);
    const bool matte = c.Format == bf32Bit;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const Row& row = want[static_cast<size_t>(c.TopFirst ? y : H - 1 - y)];
            const uint32_t got = Pixel(rla, x, y);
            for (int k = 0; k < 4; ++k) {
                const int expected = k < 3 ? c.Shown(row[static_cast<size_t>(k)][static_cast<size_t>(x)])
                                           : matte ? row[3][static_cast<size_t>(x)] : 255;
                const int shift = k < 3 ? 16 - 8 * k : 24;
                EXPECT_NEAR(static_cast<int>((got >> shift) & 0xFF), expected, c.Tolerance)
                    << "x " << x << " y " << y << " channel " << k;
            }
        }
}

INSTANTIATE_TEST_SUITE_P(
    Files, RlaGood,
    ::testing::Values(
        GoodCase{"BottomUpGamma22ShownAsStored", [](RlaFile&) {}, bf24Bit, false, Same, Byte, 0, true},
        GoodCase{"TopDown", [](RlaFile& f) { std::swap(f.Bottom, f.Top); }, bf24Bit, true, Same, Byte, 0, true},
        GoodCase{"Gamma10", [](RlaFile& f) { f.Gamma = "1.0"; }, bf24Bit, false, Same, Byte},
        GoodCase{"GammaEmpty", [](RlaFile& f) { f.Gamma = ""; }, bf24Bit, false, Same, Byte},
        GoodCase{"GammaNotANumber", [](RlaFile& f) { f.Gamma = "2.2x"; }, bf24Bit, false, Same, Byte},
        GoodCase{"Gamma18Brightened", [](RlaFile& f) { f.Gamma = " 1.8 "; }, bf24Bit, false,
                 [](int v) { return static_cast<int>(std::lround(255 * std::pow(v / 255.0, 1.8 / 2.2))); }, Byte,
                 1, true},
        GoodCase{"Matte", [](RlaFile& f) { f.MatteChannels = 1, f.Rows = Pattern(W, H, 4); }, bf32Bit, false,
                 Same, Byte, 0, true},
        GoodCase{"Sixteen", [](RlaFile& f) { f.Bits = 16, f.Gamma = "1"; }, bf24Bit, false, Same,
                 [](int v) { return static_cast<uint16_t>(v * 257); }},
        GoodCase{"Twelve", [](RlaFile& f) { f.Bits = 12, f.Gamma = "1"; }, bf24Bit, false, Same,
                 [](int v) { return static_cast<uint16_t>(v * 4095 / 255); }, 1}),
    [](const ::testing::TestParamInfo<GoodCase>& info) { return std::string(info.param.Name); });

TEST(RlaReader, PropertiesOfTheHeader)
{
    RlaFile f = Base(4);
    f.MatteChannels = 1;
    f.Bottom = 9;
    f.Top = 5;
    const Bytes file = Build(f);
    TMemoryStream stream(file.data(), file.size());
    TRLAGraphic rla;
    ASSERT_TRUE(rla.LoadProperties(stream, 0));
    const TImageProperties& p = rla.ImageProperties;
    EXPECT_EQ(p.Width, 7u);
    EXPECT_EQ(p.Height, 5u);
    EXPECT_FALSE(p.StoredBottomUp);
    EXPECT_EQ(p.PixelScheme, psRGBA);
    EXPECT_EQ(p.SamplesPerPixel, 4);
    EXPECT_EQ(p.BitsPerPixel, 32);
    EXPECT_EQ(p.CompressionKind, ckRunLength);
    EXPECT_FLOAT_EQ(p.Gamma, 2.2f);
    EXPECT_EQ(stream.Position(), 740);
}

TEST(RlaReader, XyzSpaceLoadsNothingQuietly)
{
    RlaFile f = Base();
    f.Space = "XYZ";
    const Bytes file = Build(f);
    TMemoryStream stream(file.data(), file.size());
    EXPECT_TRUE(TRLAGraphic::CanLoadStream(stream));
    TRLAGraphic rla;
    EXPECT_NO_THROW(rla.LoadFromStream(stream));
    EXPECT_TRUE(rla.Empty());
}

TEST(RlaReader, SignatureTest)
{
    const auto can = [](const std::function<void(RlaFile&)>& change, size_t cut = 0) {
        RlaFile f = Base();
        change(f);
        Bytes file = Build(f);
        if (cut)
            file.resize(cut);
        TMemoryStream stream(file.data(), file.size());
        const bool result = TRLAGraphic::CanLoadStream(stream);
        EXPECT_EQ(stream.Position(), 0);
        return result;
    };
    EXPECT_TRUE(can([](RlaFile&) {}));
    EXPECT_TRUE(can([](RlaFile& f) { f.Space = "RGB"; }));
    EXPECT_FALSE(can([](RlaFile& f) { f.Space = "rgba"; }));
    EXPECT_FALSE(can([](RlaFile& f) { f.Revision = 0; }));
    EXPECT_FALSE(can([](RlaFile&) {}, 740));
}

struct BadCase {
    const char* Name;
    std::function<void(RlaFile&)> Change;
    std::function<void(Bytes&)> Damage;
    std::string Message;
};

TEST(RlaReader, FailuresGiveTheirMessages)
{
    const auto none = [](auto&) {};
    const BadCase cases[] = {
        {"short header", none, [](Bytes& b) { b.resize(700); }, "Stream read error"},
        {"short offsets", none, [](Bytes& b) { b.resize(742); }, "Stream read error"},
        {"short row data", none, [](Bytes& b) { b.erase(b.end() - 3, b.end()); }, "Stream read error"},
        {"offset past the end", none, [](Bytes& b) { b[741] = 0x7F; }, "Stream read error"},
        {"one colour channel", [](RlaFile& f) { f.ColorChannels = 1; }, none, "Invalid color format in RLA file."},
        {"unknown space", [](RlaFile& f) { f.Space = "cmy"; }, none, "Invalid color format in RLA file."},
        {"32-bit channels", [](RlaFile& f) { f.Bits = 32; }, none, "Invalid color format in RLA file."},
        {"4-bit channels", [](RlaFile& f) { f.Bits = 4; }, none, "Invalid color format in RLA file."},
        {"reversed window", [](RlaFile& f) { f.Left = 9; }, none,
         "Cannot load image. Invalid or unexpected RLA image format."},
        {"oversize", [](RlaFile& f) { f.Left = f.Bottom = -32768, f.Right = f.Top = 32767; }, none,
         "Cannot load image. The RLA image is too large (65536 x 65536 pixels)."},
    };
    for (const BadCase& c : cases) {
        RlaFile f = Base();
        c.Change(f);
        Bytes file = Build(f);
        c.Damage(file);
        TMemoryStream stream(file.data(), file.size());
        TRLAGraphic rla;
        try {
            rla.LoadFromStream(stream);
            ADD_FAILURE() << c.Name << ": loaded";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), c.Message) << c.Name;
        }
    }
}

} // namespace
