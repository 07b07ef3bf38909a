#include "imaging/compression/jpeg_support.h"
#include "imaging/compression/tiff_jpeg_decoder.h"
#include "imaging/raster_graphic.h"
#include "tests/support/test_support.h"

#include <jerror.h>

#include <gtest/gtest.h>

namespace {

// ---- The strips of a little-endian TIFF made by tiffcp ----------------------

struct TIFFStrips {
    uint32_t Width = 0, Height = 0, RowsPerStrip = 0, Samples = 1, Photometric = 0;
    std::vector<uint8_t> Tables;
    std::vector<std::vector<uint8_t>> Strips;
};

TIFFStrips ReadTIFFStrips(const std::string& file)
{
    const std::vector<uint8_t> b = pwtest::ReadBytes(file);
    auto u16 = [&](size_t at) { return uint32_t(b.at(at) | b.at(at + 1) << 8); };
    auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
    EXPECT_EQ(u16(0), 0x4949u);
    const size_t ifd = u32(4);
    TIFFStrips t;
    std::vector<uint32_t> offsets, counts;
    for (uint32_t i = 0; i < u16(ifd); ++i) {
        const size_t e = ifd + 2 + 12 * i;
        const uint32_t tag = u16(e), type = u16(e + 2), count = u32(e + 4);
        const size_t size = type == 3 ? 2 : type == 4 ? 4 : 1;
        const size_t at = count * size <= 4 ? e + 8 : u32(e + 8);
        auto value = [&](uint32_t k) { return size == 2 ? u16(at + 2 * k) : size == 4 ? u32(at + 4 * k) : b.at(at + k); };
        std::vector<uint32_t> values;
        for (uint32_t k = 0; k < count && tag != 347; ++k)
            values.push_back(value(k));
        switch (tag) {
        case 256: t.Width = values[0]; break;
        case 257: t.Height = values[0]; break;
        case 262: t.Photometric = values[0]; break;
        case 273: offsets = values; break;
        case 277: t.Samples = values[0]; break;
        case 278: t.RowsPerStrip = values[0]; break;
        case 279: counts = values; break;
        case 347: t.Tables.assign(b.begin() + at, b.begin() + at + count); break;
        }
    }
    for (size_t s = 0; s < offsets.size(); ++s)
        t.Strips.emplace_back(b.begin() + offsets[s], b.begin() + offsets[s] + counts[s]);
    return t;
}

TImageProperties PropertiesOf(const TIFFStrips& t)
{
    TImageProperties p;
    p.Width = t.Width;
    p.Height = t.Height;
    p.BitsPerSample = 8;
    p.SamplesPerPixel = static_cast<uint8_t>(t.Samples);
    p.BitsPerPixel = static_cast<uint8_t>(8 * t.Samples);
    p.PixelScheme = t.Photometric == 6 ? psYCbCr : t.Photometric == 2 ? psRGB : psGray;
    p.CompressionKind = ckJPEG;
    p.PlanarConfiguration = 1;
    p.RowsPerStrip = {t.RowsPerStrip};
    p.RowBytes = t.Samples * t.Width;
    if (t.Photometric == 6)
        p.YCbCrSubSampling = {2, 2}; // the TIFF default, as the reader fills it
    p.JPEGTables = t.Tables;
    return p;
}

// Decodes every strip as the TIFF reader does: one buffer of RowsPerStrip
// rows per strip, RowIndex moving on by the rows delivered.
std::vector<uint8_t> DecodeStrips(TImageProperties& p, const std::vector<std::vector<uint8_t>>& strips)
{
    std::vector<uint8_t> image;
    TTIFFJPEGDecoder decoder(&p);
    decoder.ExpandStart();
    p.RowIndex = 0;
    for (const auto& strip : strips) {
        std::vector<uint8_t> buffer(p.RowsPerStrip[0] * p.RowBytes);
        const uint8_t* source = strip.data();
        uint8_t* target = buffer.data();
        const TExpandResult r =
            decoder.Expand(source, strip.size(), target, buffer.size(), strip.size(), buffer.size());
        EXPECT_EQ(source, strip.data());
        EXPECT_EQ(target, buffer.data());
        EXPECT_EQ(r.Consumed, strip.size());
        const uint32_t rows = std::min(p.RowsPerStrip[0], p.Height - p.RowIndex);
        EXPECT_EQ(r.Produced, rows * p.RowBytes);
        image.insert(image.end(), buffer.begin(), buffer.begin() + rows * p.RowBytes);
        p.RowIndex += rows;
    }
    decoder.ExpandFinish();
    return image;
}

pwtest::Image FromBGR(const TImageProperties& p, std::vector<uint8_t> pixels)
{
    if (p.SamplesPerPixel == 3)
        for (size_t i = 0; i + 2 < pixels.size(); i += 3)
            std::swap(pixels[i], pixels[i + 2]);
    return {int(p.Width), int(p.Height), p.SamplesPerPixel, pixels};
}

// ---- Strips encoded here with libjpeg ---------------------------------------

struct StripLayout {
    int Width = 24;
    int Height = 16;
    int Components = 3;
    J_COLOR_SPACE Stored = JCS_YCbCr;
    int H = 2, V = 2;
    int Restart = 0;
};

std::vector<uint8_t> Pattern(int width, int height, int components)
{
    std::vector<uint8_t> pixels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < components; ++c)
                pixels.push_back(static_cast<uint8_t>(c == 0 ? x * 10 : c == 1 ? y * 12 : 200 - x * 4 - y * 2));
    return pixels;
}

std::vector<uint8_t> Encode(const StripLayout& s)
{
    jpeg_compress_struct c{};
    jpeg_error_mgr error{};
    c.err = jpeg_std_error(&error);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = s.Width;
    c.image_height = s.Height;
    c.input_components = s.Components;
    c.in_color_space = s.Components == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, s.Stored);
    c.comp_info[0].h_samp_factor = s.H;
    c.comp_info[0].v_samp_factor = s.V;
    c.restart_in_rows = s.Restart;
    jpeg_set_quality(&c, 95, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> pixels = Pattern(s.Width, s.Height, s.Components);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = pixels.data() + c.next_scanline * s.Width * s.Components;
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<uint8_t> bytes(out, out + size);
    free(out);
    return bytes;
}

TImageProperties PropertiesFor(const StripLayout& s)
{
    TImageProperties p;
    p.Width = s.Width;
    p.Height = s.Height;
    p.BitsPerSample = 8;
    p.SamplesPerPixel = static_cast<uint8_t>(s.Components);
    p.PixelScheme = s.Stored == JCS_YCbCr ? psYCbCr : s.Components == 3 ? psRGB : psGray;
    p.PlanarConfiguration = 1;
    p.RowsPerStrip = {uint32_t(s.Height)};
    p.RowBytes = s.Components * s.Width;
    if (s.Stored == JCS_YCbCr)
        p.YCbCrSubSampling = {uint8_t(s.H), uint8_t(s.V)};
    return p;
}

// Runs one strip; returns the error text ("" when none).
std::string ExpandOne(TImageProperties& p, const std::vector<uint8_t>& strip, std::vector<uint8_t>& out,
                      size_t unpacked)
{
    try {
        TTIFFJPEGDecoder decoder(&p);
        decoder.ExpandStart();
        const uint8_t* source = strip.data();
        uint8_t* target = out.data();
        decoder.Expand(source, strip.size(), target, out.size(), strip.size(), unpacked);
        decoder.ExpandFinish();
        return "";
    } catch (const Exception& e) {
        return e.what();
    }
}

class WarningLog {
public:
    WarningLog()
    {
        SetJPEGWarningHook([this](const std::string& text) { Texts.push_back(text); });
    }
    ~WarningLog() { SetJPEGWarningHook({}); }
    std::vector<std::string> Texts;
};

} // namespace

// Files of libtiff: JPEGTables plus abbreviated strips. The decoded rows
// agree with libtiff's own reading through ImageMagick and with the source.
TEST(TIFFJPEGDecoder, DecodesTheStripsOfLibtiffFiles)
{
    const pwtest::Image source = pwtest::ReadNetpbm(pwtest::DataPath("jpeg/source.ppm"));
    const struct {
        const char* File;
        const char* Reference;
        double MinimumAgreement;
    } cases[] = {
        {"strips_ycbcr.tif", "strips_ycbcr.ppm", 40},
        {"strips_rgb.tif", "strips_rgb.ppm", 99},
        {"strips_gray.tif", "strips_gray.pgm", 99},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.File);
        const TIFFStrips tiff = ReadTIFFStrips(pwtest::DataPath(std::string("jpeg/") + c.File));
        ASSERT_EQ(tiff.Strips.size(), 3u);
        TImageProperties p = PropertiesOf(tiff);
        const pwtest::Image ours = FromBGR(p, DecodeStrips(p, tiff.Strips));
        const pwtest::Image reference = pwtest::ReadNetpbm(pwtest::DataPath(std::string("jpeg/") + c.Reference));
        EXPECT_GE(pwtest::PSNR(ours, reference), c.MinimumAgreement);
        if (p.SamplesPerPixel == 3) {
            EXPECT_GT(pwtest::PSNR(ours, source), 25.0); // tiffcp's quality 75
        }
    }
}

TEST(TIFFJPEGDecoder, SelfContainedStripsInEveryLayout)
{
    const struct {
        const char* Name;
        StripLayout Layout;
    } cases[] = {
        {"YCbCr 2x2", {}},
        {"YCbCr 2x1", {24, 16, 3, JCS_YCbCr, 2, 1}},
        {"YCbCr 1x1 with restart markers", {24, 16, 3, JCS_YCbCr, 1, 1, 1}},
        {"RGB", {24, 16, 3, JCS_RGB, 1, 1}},
        {"grey", {24, 16, 1, JCS_GRAYSCALE, 1, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TImageProperties p = PropertiesFor(c.Layout);
        const pwtest::Image ours = FromBGR(p, DecodeStrips(p, {Encode(c.Layout)}));
        const pwtest::Image pattern{c.Layout.Width, c.Layout.Height, c.Layout.Components,
                                    Pattern(c.Layout.Width, c.Layout.Height, c.Layout.Components)};
        EXPECT_GT(pwtest::PSNR(ours, pattern), 35.0) << pwtest::FirstDifference(ours, pattern);
    }
}

// The header checks, in their order, and the row-size check after them.
TEST(TIFFJPEGDecoder, StripsThatDoNotFitTheImageAreRefused)
{
    const StripLayout good;
    const std::vector<uint8_t> strip = Encode(good);
    const struct {
        const char* Name;
        std::function<void(TImageProperties&)> Change;
        size_t Unpacked;
        std::string Message;
    } cases[] = {
        {"width", [](TImageProperties& p) { p.Width = 23; }, 0, "Improper JPEG strip/tile size."},
        {"rows per strip", [](TImageProperties& p) { p.RowsPerStrip = {8}; }, 0, "Improper JPEG strip/tile size."},
        {"rows left in the image", [](TImageProperties& p) { p.RowIndex = 4; p.Height = 16; }, 0,
         "Improper JPEG strip/tile size."},
        {"size before precision", [](TImageProperties& p) { p.Height = 15; p.BitsPerSample = 12; }, 0,
         "Improper JPEG strip/tile size."},
        {"samples", [](TImageProperties& p) { p.SamplesPerPixel = 4; }, 0, "Improper JPEG component count."},
        {"planes hold one component", [](TImageProperties& p) { p.PlanarConfiguration = 2; }, 0,
         "Improper JPEG component count."},
        {"precision", [](TImageProperties& p) { p.BitsPerSample = 16; }, 0, "Improper JPEG data precision."},
        {"subsampling", [](TImageProperties& p) { p.YCbCrSubSampling = {2, 1}; }, 0,
         "Improper JPEG sampling factors."},
        {"no subsampling given", [](TImageProperties& p) { p.YCbCrSubSampling.clear(); }, 0,
         "Improper JPEG sampling factors."},
        {"fractional row", [](TImageProperties&) {}, 24 * 3 * 16 - 1, "Fractional JPEG scanline unsupported."},
        {"no row size", [](TImageProperties& p) { p.RowBytes = 0; }, 0, "Fractional JPEG scanline unsupported."},
        {"garbage", [](TImageProperties&) {}, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TImageProperties p = PropertiesFor(good);
        c.Change(p);
        std::vector<uint8_t> out(24 * 3 * 16);
        const size_t unpacked = c.Unpacked ? c.Unpacked : out.size();
        if (c.Message.empty()) {
            const std::vector<uint8_t> garbage(100, 0x55);
            EXPECT_EQ(ExpandOne(p, garbage, out, unpacked), "JPEG error #" + std::to_string(JERR_NO_SOI));
        } else {
            EXPECT_EQ(ExpandOne(p, strip, out, unpacked), c.Message);
        }
    }
}

TEST(TIFFJPEGDecoder, TablesStreamMustHoldTablesOnly)
{
    const StripLayout layout;
    TImageProperties p = PropertiesFor(layout);
    p.JPEGTables = Encode(layout); // a whole image, not tables
    TTIFFJPEGDecoder decoder(&p);
    try {
        decoder.ExpandStart();
        FAIL() << "accepted";
    } catch (const EGraphicCompression& e) {
        EXPECT_STREQ(e.what(), "Bogus JPEG tables field.");
    }
}

// A strip cut short: one warning, no error, the rows still all delivered,
// those before the cut as the complete strip gives them.
TEST(TIFFJPEGDecoder, TruncatedStripWarnsOnceAndDecodesWhatItHas)
{
    const StripLayout layout{48, 32, 3, JCS_YCbCr, 1, 1};
    const std::vector<uint8_t> whole = Encode(layout);
    TImageProperties p = PropertiesFor(layout);
    const std::vector<uint8_t> complete = DecodeStrips(p, {whole});

    p.RowIndex = 0;
    WarningLog log;
    const std::vector<uint8_t> cut(whole.begin(), whole.begin() + whole.size() * 2 / 3);
    std::vector<uint8_t> out(complete.size(), 0xEE);
    EXPECT_EQ(ExpandOne(p, cut, out, out.size()), "");
    EXPECT_EQ(log.Texts, std::vector<std::string>{"JPEG decompression error. Unexpected end of input."});
    const size_t firstRows = 8 * p.RowBytes;
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + firstRows, complete.begin()));
    // Past the cut libjpeg fills in mid-grey blocks.
    EXPECT_TRUE(std::all_of(out.end() - p.RowBytes, out.end(), [](uint8_t b) { return b == 128; }));
}

TEST(TIFFJPEGDecoder, WarningGoesToStandardErrorWithoutAHook)
{
    testing::internal::CaptureStderr();
    ShowJPEGWarning("JPEG decompression error. Unexpected end of input.");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Warning: JPEG decompression error. Unexpected end of input.\n");
}

// A failed strip leaves the decoder ready for the next one.
TEST(TIFFJPEGDecoder, NextStripDecodesAfterAFailedOne)
{
    const StripLayout layout;
    const std::vector<uint8_t> strip = Encode(layout);
    TImageProperties p = PropertiesFor(layout);
    TTIFFJPEGDecoder decoder(&p);
    decoder.ExpandStart();
    std::vector<uint8_t> out(p.RowBytes * 16);
    const std::vector<uint8_t> garbage(64, 0xFF);
    for (const auto* data : {&garbage, &strip, &garbage, &strip}) {
        const uint8_t* source = data->data();
        uint8_t* target = out.data();
        if (data == &garbage) {
            EXPECT_THROW(decoder.Expand(source, data->size(), target, out.size(), data->size(), out.size()), EJPEG);
        } else {
            EXPECT_EQ(decoder.Expand(source, data->size(), target, out.size(), data->size(), out.size()).Produced,
                      out.size());
        }
    }
    decoder.ExpandFinish();
}

// Rows go only where the target has room, whatever UnpackedSize says.
TEST(TIFFJPEGDecoder, NeverWritesPastTheTarget)
{
    const StripLayout layout;
    const std::vector<uint8_t> strip = Encode(layout);
    TImageProperties p = PropertiesFor(layout);
    std::vector<uint8_t> buffer(p.RowBytes * 16, 0xEE);
    const size_t room = p.RowBytes * 5 + 7;
    TTIFFJPEGDecoder decoder(&p);
    decoder.ExpandStart();
    const uint8_t* source = strip.data();
    uint8_t* target = buffer.data();
    const TExpandResult r = decoder.Expand(source, strip.size(), target, room, strip.size(), buffer.size());
    decoder.ExpandFinish();
    EXPECT_EQ(r.Produced, p.RowBytes * 5);
    EXPECT_TRUE(std::all_of(buffer.begin() + r.Produced, buffer.end(), [](uint8_t b) { return b == 0xEE; }));
}
