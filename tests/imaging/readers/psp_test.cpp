// The Paint Shop Pro reader on built files: which layer and which channels
// are drawn, data that do not fit their buffers, and every failure with its
// message. The plain variants (versions, compressions, depths) are decoded
// through pinwright-cli in tests/tools/psd_psp_cli_test.cpp.
#include "imaging/readers/psp_graphic.h"
#include "platform/exceptions.h"
#include "platform/streams.h"
#include "tests/imaging/readers/psp_test_builder.h"
#include "tests/support/reader_test_support.h"

#include <gtest/gtest.h>

#include <string>

using psptest::Bytes;
using psptest::Channel;
using psptest::Layer;
using pwtest::Outcome;

namespace {

Outcome Load(const Bytes& file)
{
    TPSPGraphic image;
    return pwtest::LoadOutcome(image, file);
}

// A 2 x 1 RGB file of the given layers.
psptest::File Rgb(std::vector<Layer> layers, uint16_t major = 5, uint16_t compression = 0)
{
    psptest::File f;
    f.Major = major;
    f.Width = 2;
    f.Height = 1;
    f.Depth = 24;
    f.Compression = compression;
    f.Layers = std::move(layers);
    return f;
}

const Channel R{1, {10, 20}}, G{2, {30, 40}}, B{3, {50, 60}}, Other{1, {99, 99}};
const std::vector<uint32_t> Drawn = {0xFF0A1E32, 0xFF14283C};
const std::vector<uint32_t> Black = {0xFF000000, 0xFF000000};
const char* InvalidFormat = "Cannot load image. Invalid or unexpected PSP image format.";
const char* InvalidColor = "Invalid color format in PSP file.";
const char* NoScheme = "Cannot load image. The compression scheme is not supported for PSP files.";

template <class Change>
psptest::File With(psptest::File f, Change change)
{
    change(f);
    return f;
}

} // namespace

TEST(PspReader, LayersChannelsAndFailures)
{
    const Layer rgb{0, {R, G, B}};
    psptest::File palette300;
    palette300.Width = 2;
    palette300.Height = 1;
    for (uint32_t i = 0; i < 300; ++i)
        palette300.Palette.push_back((i & 0xFF) << 16 | (255 - i % 256) << 8 | (i * 3 & 0xFF));
    palette300.Layers = {{1, {{0, {255, 1}}}}};

    struct Case {
        const char* Name;
        psptest::File File;
        std::vector<uint32_t> Pixels{}; // expected, or
        std::string Error{};            // the message
        size_t Cut = 0;                 // bytes cut off the end
    };
    const Case cases[] = {
        {"version 3 passes over a layer of type 1", Rgb({{1, {Other}}, rgb}, 3), Drawn},
        {"version 5 passes over a layer of type 2", Rgb({{2, {Other}}, {1, {R, G, B}}}), Drawn},
        {"only the first drawn layer counts", Rgb({rgb, {0, {Other, G, B}}}), Drawn},
        {"a layer bank that starts with another block draws nothing",
         Rgb({{0, {Other}, 9}, rgb}), Black},
        {"a channel of type 7 is passed over by its length",
         Rgb({{0, {R, {7, {1, 2, 3, 4, 5}}, G, B}}}), Drawn},
        {"the same in version 3, run-length", Rgb({{0, {R, {7, {1, 2, 3, 4, 5}}, G, B}}}, 3, 1), Drawn},
        {"layer information with bytes after it", Rgb({{0, {R, G, B}, 4, 9}}), Drawn},
        {"a channel longer than its rows is cut", Rgb({{0, {{1, {10, 20, 7, 7, 7}}, G, B}}}), Drawn},
        {"the same, deflated", Rgb({{0, {{1, {10, 20, 7, 7, 7}}, G, B}}}, 5, 2), Drawn},
        {"a short channel leaves 0", Rgb({{0, {{1, {10}}, G, B}}}), {0xFF0A1E32, 0xFF00283C}},
        {"a missing channel draws 0", Rgb({{0, {R, G}}}), {0xFF0A1E00, 0xFF142800}},
        {"a deflated channel stops at its stored length",
         Rgb({{0, {{1, {10, 20}, 1}, G, B}}}, 5, 2), {0xFF0A1E32, 0xFF00283C}},
        {"no layer bank: the size without pixels", Rgb({}), Black},
        {"a palette of 300 entries keeps 256", palette300, {0xFFFF00FD, 0xFF01FE03}},
        {"greyscale with its palette", With(palette300, [](auto& f) { f.Grey = true; }),
         {0xFFFF00FD, 0xFF01FE03}},
        {"signature", With(Rgb({rgb}), [](auto& f) { f.Signature = "Paint Shop Pro Image Fil_"; }), {},
         InvalidFormat},
        {"major version 2", Rgb({rgb}, 2), {}, InvalidFormat},
        {"16 bits", With(Rgb({rgb}), [](auto& f) { f.Depth = 16; }), {}, InvalidColor},
        {"32 bits", With(Rgb({rgb}), [](auto& f) { f.Depth = 32; }), {}, InvalidColor},
        {"0 bits", With(Rgb({rgb}), [](auto& f) { f.Depth = 0; }), {}, InvalidColor},
        {"JPEG channels", Rgb({rgb}, 5, 3), {}, NoScheme},
        {"an unknown compression", Rgb({rgb}, 3, 7), {}, NoScheme},
        {"channel data cut short", Rgb({rgb}), {}, "Stream read error", 1},
        {"attributes cut short", Rgb({}), {}, "Stream read error", 20},
        {"oversize", With(Rgb({rgb}), [](auto& f) { f.Width = 1u << 21; }), {},
         "Cannot load image. The PSP image is too large (2097152 x 1 pixels)."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Bytes file = psptest::Build(c.File);
        file.resize(file.size() - c.Cut);
        const Outcome o = Load(file);
        EXPECT_EQ(o.Error, c.Error);
        if (c.Error.empty()) {
            EXPECT_EQ(o.Pixels, c.Pixels);
        }
    }
}

TEST(PspReader, SignatureAndProperties)
{
    psptest::File f = Rgb({}, 3, 1);
    f.Signature = "PAINT SHOP PRO IMAGE FILE";
    f.Resolution = 10;
    f.Unit = 2;
    const Bytes file = psptest::Build(f);
    auto canLoad = [](const Bytes& bytes) {
        TMemoryStream stream(bytes.data(), bytes.size());
        const bool result = TPSPGraphic::CanLoadStream(stream);
        EXPECT_EQ(stream.Position(), 0);
        return result;
    };
    EXPECT_TRUE(canLoad(file));
    EXPECT_FALSE(canLoad(Bytes(file.begin(), file.begin() + 36)));
    EXPECT_FALSE(canLoad(psptest::Build(Rgb({}, 2))));

    TPSPGraphic image;
    TMemoryStream stream(file.data(), file.size());
    ASSERT_TRUE(image.LoadProperties(stream, 0));
    const TImageProperties& p = image.ImageProperties;
    EXPECT_EQ(p.FormatVersion, 3u);
    EXPECT_EQ(p.PixelScheme, psRGB);
    EXPECT_EQ(p.BitsPerPixel, 24);
    EXPECT_EQ(p.CompressionKind, ckRunLength);
    EXPECT_FLOAT_EQ(p.XResolution, 25.4f);
    EXPECT_FLOAT_EQ(p.YResolution, 25.4f);
}
