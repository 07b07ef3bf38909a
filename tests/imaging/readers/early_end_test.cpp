// A file that ends before its image does: the picture keeps the rows its data
// reach, says in which row (in the file's order) the data ended, and leaves
// the rows after that as a fresh bitmap has them (0), JPEG excepted, which
// libjpeg pads itself.
#include "imaging/format_registry.h"
#include "platform/bitmap.h"
#include "platform/picture.h"
#include "platform/streams.h"
#include "tests/imaging/readers/psp_test_builder.h"
#include "tests/imaging/readers/tiff_test_builder.h"
#include "tests/support/reader_test_support.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <zlib.h>

using pwtest::Bytes;

namespace {

Bytes FileBytes(const std::string& fixture)
{
    std::ifstream in(pwtest::DataPath(fixture), std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), {});
}

// Autodesk: 32-byte header, 256 six-bit colours, rows of 8-bit indices.
Bytes Autodesk(uint16_t width, uint16_t height)
{
    Bytes out(800, 0);
    out[0] = 0x19, out[1] = 0x91, out[2] = uint8_t(width), out[4] = uint8_t(height), out[10] = 8;
    for (int i = 0; i < 256; ++i)
        std::memset(&out[32 + 3 * i], i / 4, 3);
    for (int i = 0; i < width * height; ++i)
        out.push_back(static_cast<uint8_t>(7 * i + 1));
    return out;
}

// PackBits TIFF, 8-bit grey, width x 6 in one strip, of which the data code
// 4 rows and the start of a fifth. Rows 8 wide fill the bitmap's rows.
Bytes PackBitsTiff(uint8_t width)
{
    Bytes strip;
    for (uint8_t y = 0; y < 4; ++y) {
        strip.insert(strip.end(), {uint8_t(width - 1), uint8_t(10 * y + 1)});
        for (uint8_t x = 1; x < width; ++x)
            strip.push_back(uint8_t(x + 1));
    }
    strip.insert(strip.end(), {1, 7, 8});
    tifftest::TiffBuilder b;
    b.Image(width, 6, 8, 1, 1, 32773, {strip});
    return b.Build();
}

// Paint Shop Pro grey, 4 x 5 declared, one uncompressed channel of 2.5 rows.
Bytes ShortPsp()
{
    psptest::File f;
    f.Width = 4, f.Height = 5, f.Grey = true;
    f.Layers = {psptest::Layer{.Channels = {psptest::Channel{.Data = Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}}}}};
    return psptest::Build(f);
}

// PNG, 8-bit grey 4 x 6, whose image data (flushed, not finished) hold 3 rows.
Bytes ShortPng()
{
    Bytes rows;
    for (uint8_t y = 0; y < 3; ++y)
        rows.insert(rows.end(), {0, uint8_t(y + 1), 20, 30, 40});
    z_stream z{};
    deflateInit(&z, 9);
    Bytes packed(256);
    z.next_in = rows.data(), z.avail_in = static_cast<uInt>(rows.size());
    z.next_out = packed.data(), z.avail_out = static_cast<uInt>(packed.size());
    deflate(&z, Z_SYNC_FLUSH);
    packed.resize(packed.size() - z.avail_out);
    deflateEnd(&z);
    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const auto chunk = [&out](const char* type, const Bytes& data) {
        const uint32_t n = static_cast<uint32_t>(data.size());
        out.insert(out.end(), {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)});
        Bytes typed(type, type + 4);
        typed.insert(typed.end(), data.begin(), data.end());
        const uint32_t crc = static_cast<uint32_t>(crc32(0, typed.data(), static_cast<uInt>(typed.size())));
        out.insert(out.end(), typed.begin(), typed.end());
        out.insert(out.end(), {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)});
    };
    chunk("IHDR", {0, 0, 0, 4, 0, 0, 0, 6, 8, 0, 0, 0, 0});
    chunk("IDAT", packed);
    chunk("IEND", {});
    return out;
}

struct Case {
    const char* Name;
    const char* Extension;
    Bytes Whole;
    size_t Cut;        // bytes kept; 0 keeps all (the data are short by themselves)
    int64_t Row;       // expected early-end row
    bool BottomUp = false;
    bool Padded = false;
};

std::vector<Case> Cases()
{
    const Bytes sgiRaw = FileBytes("sgi/nb_gray8_raw.bw");
    const Bytes adsk = Autodesk(6, 4);
    return {
        // 512-byte header, then rows of 19 bytes from the bottom up.
        {"SgiRaw", "bw", sgiRaw, 512 + 3 * 19 + 5, 3, true},
        {"SgiRle", "bw", FileBytes("sgi/nb_gray8_rle.bw"), 700, 6, true},
        {"Autodesk", "pic", adsk, 800 + 2 * 6 + 3, 2},
        {"PcxRle", "pcx", FileBytes("pcx/im_rgb24.pcx"), 400, 3},
        {"TiffPackBits", "tif", PackBitsTiff(5), 0, 4},
        {"TiffPackBitsWholeRows", "tif", PackBitsTiff(8), 0, 4},
        {"Psp", "psp", ShortPsp(), 0, 2},
        {"TargaRle", "tga", FileBytes("targa/nb_rgb24_rle.tga"), 500, 9, true},
        {"Png", "png", ShortPng(), 0, 3},
        {"BmpRle8", "bmp", FileBytes("bmp/rle8.bmp"), 1300, 4, true},
        {"Jpeg", "jpg", FileBytes("jpeg/baseline444.jpg"), 1300, 16, false, true},
    };
}

std::unique_ptr<TGraphic> Load(const char* extension, const Bytes& bytes)
{
    const TGraphicClass* c = FindPictureClass(extension);
    auto graphic = c->Create();
    TMemoryStream stream(bytes.data(), bytes.size());
    graphic->LoadFromStream(stream);
    graphic->ViewBitmap();
    return graphic;
}

TEST(EarlyEnd, RowsKeptUpToTheEndOfTheData)
{
    // The registry is taken down again for the tests that set up their own.
    struct TImaging {
        TImaging() { InitializeImaging(); }
        ~TImaging() { FinalizeImaging(); }
    } imaging;
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.Name);
        const Bytes cut(c.Whole.begin(), c.Whole.begin() + (c.Cut ? c.Cut : c.Whole.size()));
        std::unique_ptr<TGraphic> shortOne, whole;
        ASSERT_NO_THROW(shortOne = Load(c.Extension, cut));
        EXPECT_EQ(shortOne->EarlyEndRow(), c.Row);
        if (!c.Cut)
            continue; // no complete file to compare with
        ASSERT_NO_THROW(whole = Load(c.Extension, c.Whole));
        EXPECT_FALSE(whole->EndedEarly());
        const TBitmap& a = shortOne->ViewBitmap();
        const TBitmap& b = whole->ViewBitmap();
        ASSERT_EQ(a.Width(), b.Width());
        ASSERT_EQ(a.Height(), b.Height());
        const pwtest::Pixels pa = pwtest::Decoded(a), pb = pwtest::Decoded(b);
        const size_t w = size_t(a.Width());
        for (int64_t stored = 0; stored < a.Height(); ++stored) {
            const int y = static_cast<int>(c.BottomUp ? a.Height() - 1 - stored : stored);
            const bool same = std::equal(pa.begin() + y * w, pa.begin() + (y + 1) * w, pb.begin() + y * w);
            if (stored < c.Row) {
                EXPECT_TRUE(same) << "row " << stored << " differs from the complete file";
            }
            if (stored > c.Row && !c.Padded) {
                const uint8_t* line = a.ScanLine(y);
                EXPECT_TRUE(std::all_of(line, line + a.RowStride(), [](uint8_t v) { return v == 0; }))
                    << "row " << stored << " was written";
            }
        }
    }
}

} // namespace
