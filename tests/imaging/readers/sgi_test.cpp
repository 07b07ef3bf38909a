// The SGI reader on files built byte by byte: channel counts that show as
// grey, damaged row tables and data (read as what is there), and every
// failure with its text. Files of ImageMagick and netpbm are decoded in
// tests/tools/sgi_rla_ppm_cli_test.cpp.
#include "imaging/readers/sgi_graphic.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int W = 6, H = 4;

struct SgiFile {
    uint16_t Magic = 474;
    uint8_t Storage = 0; // 1: run-length
    uint8_t BytesPerSample = 1;
    uint16_t Dimension = 3;
    uint16_t X = W, Y = H, Z = 1;
};

void Put(Bytes& b, uint64_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Sample x of stored row y of channel k; its high byte differs from its low
// byte so that a reader taking the wrong one shows it.
uint16_t Sample(const SgiFile& f, int x, int y, int k)
{
    const int v = (x * 40 + y * 9 + k * 60) % 256;
    return static_cast<uint16_t>(f.BytesPerSample == 2 ? v * 256 + (255 - v) : v);
}

// What the reader shows of Sample: 8 bits as stored, 16 bits v x 255 div 65535.
int Shown(const SgiFile& f, int x, int y, int k)
{
    return Sample(f, x, y, k) * 255 / (f.BytesPerSample == 2 ? 65535 : 255);
}

// Verbatim planes, or run-length rows of literals each closed by a 0 control.
Bytes Build(const SgiFile& f)
{
    Bytes b;
    Put(b, f.Magic, 2);
    b.push_back(f.Storage);
    b.push_back(f.BytesPerSample);
    for (const uint16_t v : {f.Dimension, f.X, f.Y, f.Z})
        Put(b, v, 2);
    b.resize(512, 0);
    const int n = f.BytesPerSample;
    const size_t rows = size_t(f.Y) * f.Z;
    if (f.Storage != 1) {
        for (int k = 0; k < f.Z; ++k)
            for (int y = 0; y < f.Y; ++y)
                for (int x = 0; x < f.X; ++x)
                    Put(b, Sample(f, x, y, k), n);
        return b;
    }
    const size_t tables = b.size();
    b.resize(tables + 8 * rows, 0);
    for (size_t r = 0; r < rows; ++r) {
        const size_t start = b.size();
        const int k = static_cast<int>(r / f.Y), y = static_cast<int>(r % f.Y);
        for (int x = 0; x < f.X; x += 127) {
            const int count = std::min(127, f.X - x);
            Put(b, 0x80u | unsigned(count), n);
            for (int i = 0; i < count; ++i)
                Put(b, Sample(f, x + i, y, k), n);
        }
        Put(b, 0, n);
        for (int i = 0; i < 4; ++i) {
            b[tables + 4 * r + size_t(i)] = static_cast<uint8_t>(start >> (24 - 8 * i));
            b[tables + 4 * (rows + r) + size_t(i)] = static_cast<uint8_t>((b.size() - start) >> (24 - 8 * i));
        }
    }
    return b;
}

void PutAt(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + size_t(i)] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

struct GoodCase {
    const char* Name;
    SgiFile File;
    std::function<void(Bytes&)> Damage;
    std::function<bool(int x, int y)> Held; // stored pixel (x, y) of channel 0 is in the file
};

void PrintTo(const GoodCase& c, std::ostream* os)
{
    *os << c.Name;
}

const auto Whole = [](Bytes&) {};
const auto All = [](int, int) { return true; };

class SgiGrey : public ::testing::TestWithParam<GoodCase> {};

TEST_P(SgiGrey, ShowsChannelZeroAsGrey)
{
    const GoodCase& c = GetParam();
    Bytes file = Build(c.File);
    c.Damage(file);
    TMemoryStream stream(file.data(), file.size());
    TSGIGraphic sgi;
    sgi.LoadFromStream(stream);
    ASSERT_EQ(sgi.PixelFormat(), bf8Bit);
    ASSERT_EQ(sgi.Width(), W);
    ASSERT_EQ(sgi.Height(), H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const int stored = H - 1 - y; // the first stored row is the bottom row
            const int v = c.Held(x, stored) ? Shown(c.File, x, stored, 0) : 0;
            uint32_t argb;
            sgi.RowToARGB(y, x, 1, &argb);
            EXPECT_EQ(argb, 0xFF000000u | uint32_t(v) * 0x010101u) << "x " << x << " y " << y;
        }
}

constexpr size_t Rows2 = size_t(H) * 2; // table entries of a two-channel file

INSTANTIATE_TEST_SUITE_P(
    Files, SgiGrey,
    ::testing::Values(
        GoodCase{"OneChannel", {.Z = 1}, Whole, All},
        GoodCase{"TwoChannels", {.Z = 2}, Whole, All},
        GoodCase{"TwoChannels16Bit", {.BytesPerSample = 2, .Z = 2}, Whole, All},
        GoodCase{"TwoChannels16BitRle", {.Storage = 1, .BytesPerSample = 2, .Z = 2}, Whole, All},
        GoodCase{"FiveChannelsRle", {.Storage = 1, .Z = 5}, Whole, All},
        GoodCase{"OneChannel16BitDimension2", {.BytesPerSample = 2, .Dimension = 2}, Whole, All},
        // A file cut short shows what it holds, the rest black.
        GoodCase{"VerbatimCutInRow2", {.Z = 2}, [](Bytes& b) { b.resize(512 + 2 * W + 3); },
                 [](int x, int y) { return y < 2 || (y == 2 && x < 3); }},
        GoodCase{"RleOffsetPastTheEnd", {.Storage = 1, .Z = 2}, [](Bytes& b) { PutAt(b, 512 + 4, 0xFFFFFF00u); },
                 [](int, int y) { return y != 1; }},
        GoodCase{"RleLengthHuge", {.Storage = 1, .Z = 2}, [](Bytes& b) { PutAt(b, 512 + 4 * Rows2, 0xFFFFFFFFu); },
                 All},
        GoodCase{"RleLengthTableCut", {.Storage = 1, .Z = 2}, [](Bytes& b) { b.resize(512 + 4 * Rows2 + 8); },
                 [](int, int) { return false; }}),
    [](const ::testing::TestParamInfo<GoodCase>& info) { return std::string(info.param.Name); });

TEST(SgiReader, PropertiesAndSignature)
{
    const Bytes file = Build({.Storage = 1, .BytesPerSample = 2, .Z = 4});
    TMemoryStream stream(file.data(), file.size());
    EXPECT_TRUE(TSGIGraphic::CanLoadStream(stream));
    TSGIGraphic sgi;
    ASSERT_TRUE(sgi.LoadProperties(stream, 0));
    const TImageProperties& p = sgi.ImageProperties;
    EXPECT_EQ(p.Flags, ifBigEndian);
    EXPECT_EQ(p.PixelScheme, psRGBA);
    EXPECT_EQ(p.BitsPerSample, 16);
    EXPECT_EQ(p.BitsPerPixel, 64);
    EXPECT_EQ(p.CompressionKind, ckRunLength);
    EXPECT_FLOAT_EQ(p.Gamma, 1.0f);

    const auto can = [](const SgiFile& f, size_t cut = 0) {
        Bytes b = Build(f);
        if (cut)
            b.resize(cut);
        TMemoryStream s(b.data(), b.size());
        return TSGIGraphic::CanLoadStream(s) && s.Position() == 0;
    };
    EXPECT_FALSE(can({}, 512));
    EXPECT_FALSE(can({.BytesPerSample = 3}));
    EXPECT_FALSE(can({.Dimension = 4}));
    EXPECT_FALSE(can({.Magic = 475}));
}

TEST(SgiReader, FailuresGiveTheirMessages)
{
    const std::string invalid = "Cannot load image. Invalid or unexpected sgi, bw or rgb(a) image format.";
    const struct {
        const char* Name;
        SgiFile File;
        std::function<void(Bytes&)> Damage;
        std::string Message;
    } cases[] = {
        {"magic", {.Magic = 0xDA01}, Whole, invalid},
        {"short header", {}, [](Bytes& b) { b.resize(300); }, "Stream read error"},
        {"sample size", {.BytesPerSample = 4}, Whole, "Invalid color format in SGI file."},
        {"no channels", {.Z = 256}, Whole, invalid},
        {"no width", {.X = 0}, Whole, invalid},
        // The header of a 65535 x 65535 RGBA image over the data of a 1 x 1 one.
        {"oversize", {.X = 1, .Y = 1, .Z = 4}, [](Bytes& b) { b[6] = b[7] = b[8] = b[9] = 0xFF; },
         "Cannot load image. The SGI image is too large (65535 x 65535 pixels)."},
    };
    for (const auto& c : cases) {
        Bytes file = Build(c.File);
        c.Damage(file);
        TMemoryStream stream(file.data(), file.size());
        TSGIGraphic sgi;
        try {
            sgi.LoadFromStream(stream);
            ADD_FAILURE() << c.Name << ": loaded";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), c.Message) << c.Name;
        }
    }
}

} // namespace
