// TIFF files that declare more than they hold, or nonsense: a clear error or
// what the file holds, never a crash, an over-read or a huge allocation.
#include "imaging/byte_reader.h"
#include "imaging/readers/tiff_graphic.h"
#include "platform/exceptions.h"
#include "tests/imaging/readers/tiff_test_builder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>
#include <random>

using namespace tifftest;

namespace {

using Bytes = std::vector<uint8_t>;
using Pix = std::vector<uint32_t>;

const std::string Invalid = "Cannot load image. Invalid or unexpected TIF/TIFF image format.";
const std::string ColorFormat = "Invalid color format in TIF/TIFF file.";

uint32_t Grey(uint32_t v)
{
    return v * 0x010101;
}

// Changes the count of a tag in a little-endian file.
void SetCount(Bytes& bytes, uint16_t tag, uint32_t count)
{
    const uint32_t ifd = LoadU32LE(&bytes[4]);
    const uint16_t entries = LoadU16LE(&bytes[ifd]);
    for (uint32_t i = 0; i < entries; ++i) {
        uint8_t* entry = &bytes[ifd + 2 + 12 * i];
        if (LoadU16LE(entry) == tag)
            for (int k = 0; k < 4; ++k)
                entry[4 + k] = static_cast<uint8_t>(count >> (8 * k));
    }
}

} // namespace

TEST(TiffHostile, RefusedWithAMessage)
{
    const std::tuple<const char*, std::function<TiffBuilder()>, std::string> cases[] = {
        {"fewer byte counts than compressed strips",
         [] {
             TiffBuilder b;
             b.Image(1, 2, 8, 1, 1, 32773, {{0x00, 1}, {0x00, 2}}, 1).Tag(279, ftLong, {2});
             return b;
         },
         Invalid},
        {"colour map of more than 256 entries per plane",
         [] {
             TiffBuilder b;
             b.Image(1, 1, 8, 1, 3, 1, {{0}}).Tag(320, ftShort, std::vector<uint32_t>(3 * 257, 0));
             return b;
         },
         Invalid},
        {"colour map of bytes",
         [] {
             TiffBuilder b;
             b.Image(1, 1, 8, 1, 3, 1, {{0}}).Tag(320, ftByte, std::vector<uint32_t>(48, 0));
             return b;
         },
         Invalid},
        {"strip offsets said to lie beyond the file",
         [] {
             TiffBuilder b;
             b.Image(1, 1, 8, 1, 1, 1, {{0}}).Tag(273, ftLong, {8, 8});
             return b;
         },
         Invalid},
        {"12-bit samples", [] { return std::move(TiffBuilder().Image(1, 1, 12, 1, 1, 1, {{0, 0}})); }, ColorFormat},
        {"4-bit RGB", [] { return std::move(TiffBuilder().Image(1, 1, 4, 3, 2, 1, {{0, 0}})); }, ColorFormat},
        {"grey with three samples", [] { return std::move(TiffBuilder().Image(1, 1, 8, 3, 1, 1, {{0, 0, 0}})); },
         ColorFormat},
        {"16-bit CIE L*a*b*", [] { return std::move(TiffBuilder().Image(1, 1, 16, 3, 8, 1, {Bytes(6, 0)})); },
         ColorFormat},
        {"RGB with one sample", [] { return std::move(TiffBuilder().Image(1, 1, 8, 1, 2, 1, {{0}})); }, ColorFormat},
        {"subsampled uncompressed YCbCr",
         [] { return std::move(TiffBuilder().Image(2, 2, 8, 3, 6, 1, {{0, 0, 0, 0, 128, 128}})); },
         "Cannot load image. Subsampled YCbCr data are not supported for TIF/TIFF files."},
        {"predictor 2 on 4-bit samples",
         [] { return std::move(TiffBuilder().Image(2, 1, 4, 1, 1, 8, {{0x78, 0x9C}}).Short(317, 2)); }, Invalid},
        {"1-bit tiles of 4 pixels",
         [] {
             TiffBuilder b;
             b.Image(8, 1, 1, 1, 1, 1, {{0}}).Long(322, 4).Long(323, 1);
             return b;
         },
         Invalid},
        {"image too large",
         [] { return std::move(TiffBuilder().Image(100000, 100000, 8, 1, 1, 1, {{0}})); },
         "Cannot load image. The TIF/TIFF image is too large (100000 x 100000 pixels)."},
        {"tiles too large",
         [] {
             TiffBuilder b;
             b.Image(16, 16, 8, 1, 1, 32773, {{0}}).Long(322, 1u << 30).Long(323, 1u << 30);
             return b;
         },
         Invalid},
        {"unknown photometric interpretation",
         [] { return std::move(TiffBuilder().Image(1, 1, 8, 1, 4, 1, {{0}})); },
         "Color conversion failed. Could not find a proper method."},
    };
    for (const auto& [name, make, message] : cases) {
        SCOPED_TRACE(name);
        std::string error = "(no error)";
        try {
            auto bytes = make().Build();
            if (std::string(name) == "strip offsets said to lie beyond the file")
                SetCount(bytes, 273, 0x10000000);
            Load(bytes);
        } catch (const std::exception& e) {
            error = e.what();
        }
        EXPECT_EQ(error, message);
    }
}

TEST(TiffHostile, WhatTheFileHoldsIsDecoded)
{
    const std::tuple<const char*, std::function<Bytes()>, Pix> cases[] = {
        {"uncompressed strip cut short by the end of the file",
         [] {
             TiffBuilder b;
             b.Image(2, 2, 8, 1, 1, 1, {{9}});
             const auto start = static_cast<uint32_t>(b.Build().size());
             b.Tag(273, ftLong, {start});
             auto bytes = b.Build();
             bytes.insert(bytes.end(), {1, 2, 3});
             return bytes;
         },
         {Grey(1), Grey(2), Grey(3), Grey(0)}},
        {"compressed strip beyond the end",
         [] {
             TiffBuilder b;
             b.Image(1, 2, 8, 1, 1, 32773, {{0x00, 7}, {0x00, 8}}, 1);
             b.Tag(273, ftLong, {8, 0x7FFFFFF0});
             return b.Build();
         },
         {Grey(7), Grey(0)}},
        {"byte count larger than the file",
         [] {
             TiffBuilder b;
             b.Image(2, 1, 8, 1, 1, 32773, {{0x01, 5, 6}}).Tag(279, ftLong, {0xFFFFFFF0});
             return b.Build();
         },
         {Grey(5), Grey(6)}},
        {"RowsPerStrip 0 stands for the whole image",
         [] { return TiffBuilder().Image(1, 2, 8, 1, 1, 1, {{4, 5}}).Long(278, 0).Build(); },
         {Grey(4), Grey(5)}},
        {"huge RowsPerStrip",
         [] { return TiffBuilder().Image(1, 2, 8, 1, 1, 32773, {{0x01, 4, 5}}).Long(278, 0x7FFFFFFF).Build(); },
         {Grey(4), Grey(5)}},
        {"Deflate data that are no zlib stream",
         [] { return TiffBuilder().Image(2, 1, 8, 1, 1, 8, {{1, 2, 3, 4, 5}}).Build(); }, {Grey(0), Grey(0)}},
        {"more tiles declared than stored",
         [] {
             TiffBuilder b;
             b.Long(256, 4).Long(257, 4).Short(258, 8).Short(259, 1).Short(262, 1).Short(277, 1);
             b.Long(322, 16).Long(323, 2);
             b.Offsets(324, {b.Block(Bytes(32, 9))}).Tag(325, ftLong, {32});
             return b.Build();
         },
         {Grey(9), Grey(9), Grey(9), Grey(9), Grey(9), Grey(9), Grey(9), Grey(9), 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto& [name, make, pixels] : cases) {
        SCOPED_TRACE(name);
        std::unique_ptr<TTIFFGraphic> g;
        ASSERT_NO_THROW(g = Load(make()));
        EXPECT_EQ(Pixels(*g), pixels);
    }
}

TEST(TiffHostile, DirectoryRunningPastTheEndRaisesReadError)
{
    auto bytes = TiffBuilder().Image(1, 1, 8, 1, 1, 1, {{0}}).Build();
    bytes[10] = 0xFF; // entry count
    bytes[11] = 0x7F;
    EXPECT_EQ(ErrorOf([&] { Load(bytes); }), "Stream read error");
}

// Every prefix and many corrupted copies of files of several layouts load or
// fail with one of the program's errors; the sanitizer build checks that no
// byte outside a buffer is touched.
TEST(TiffHostile, TruncatedAndCorruptedFiles)
{
    std::vector<uint32_t> map(48);
    for (size_t i = 0; i < map.size(); ++i)
        map[i] = static_cast<uint32_t>(i * 1000);
    uLongf zsize = 64;
    Bytes z(zsize);
    const Bytes plain = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    compress2(z.data(), &zsize, plain.data(), plain.size(), 9);
    z.resize(zsize);

    std::vector<Bytes> seeds = {
        TiffBuilder().Image(4, 3, 8, 1, 1, 1, {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}}).Build(),
        TiffBuilder(true).Image(2, 2, 16, 3, 2, 32773, {{0x17, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                                                         17, 18, 19, 20, 21, 22, 23, 24}}).Build(),
        TiffBuilder().Image(4, 1, 4, 1, 3, 1, {{0x01, 0x23}}).Tag(320, ftShort, map).Build(),
        TiffBuilder().Image(2, 2, 8, 3, 2, 8, {z}).Short(317, 2).Build(),
        TiffBuilder().Image(8, 2, 1, 1, 0, 3, {{0x00, 0x10, 0x7C, 0x00, 0x10, 0x7C}}).Build(),
        TiffBuilder().Image(8, 2, 1, 1, 0, 2, {{0x7C, 0x35, 0x60}}).Build(),
        TiffBuilder().Image(6, 2, 4, 1, 1, 32809, {{0xC5, 0xC7, 0x02, 0x8B, 0xC0, 0x45, 0x02}}).Build(),
        [] {
            TiffBuilder b;
            b.Long(256, 5).Long(257, 3).Tag(258, ftShort, {8, 8, 8}).Short(259, 1).Short(262, 2).Short(277, 3);
            b.Short(284, 2).Long(322, 16).Long(323, 2);
            std::vector<size_t> blocks;
            for (int i = 0; i < 6; ++i)
                blocks.push_back(b.Block(Bytes(32, static_cast<uint8_t>(i))));
            b.Offsets(324, blocks).Tag(325, ftLong, std::vector<uint32_t>(6, 32));
            return b.Build();
        }(),
    };
    auto tryLoad = [](const Bytes& bytes) {
        try {
            Load(bytes);
        } catch (const EInvalidGraphic&) {
        } catch (const EReadError&) {
        } catch (const EColorConversionError&) {
        } catch (const EGraphicCompression&) {
        }
    };
    std::mt19937 random(1234);
    for (const Bytes& seed : seeds) {
        ASSERT_NO_THROW(Load(seed));
        for (size_t n = 0; n < seed.size(); ++n)
            tryLoad(Bytes(seed.begin(), seed.begin() + static_cast<ptrdiff_t>(n)));
        for (int i = 0; i < 400; ++i) {
            Bytes bytes = seed;
            const int flips = 1 + static_cast<int>(random() % 4);
            for (int f = 0; f < flips; ++f) {
                const size_t at = 4 + random() % (bytes.size() - 4);
                bytes[at] = static_cast<uint8_t>(random() % 3 == 0 ? 0xFF : random());
            }
            tryLoad(bytes);
        }
    }
}
