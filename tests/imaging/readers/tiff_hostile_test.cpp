// TIFF files that declare more than they hold, or nonsense: a clear error or
// what the file holds, never a crash, an over-read or a huge allocation.
#include "imaging/byte_reader.h"
#include "imaging/readers/tiff_graphic.h"
#include "platform/exceptions.h"
#include "tests/imaging/readers/tiff_test_builder.h"
#include "tests/support/test_support.h"

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

// A little-endian BigTIFF of a 2 x 1 grey image: the header, the directory
// at 16, the pixels 0x30 0x40 after it. Offsets and counts as given.
struct BigTiffFields {
    uint16_t OffsetBytes = 8;
    uint64_t FirstIFD = 16;
    uint64_t EntryCount = 8;
    uint64_t StripOffsetsCount = 1;
    uint64_t StripOffset = 0; // 0: where the pixels are
};

Bytes BigTiff(const BigTiffFields& f)
{
    Bytes out = {'I', 'I', 43, 0};
    const auto put = [&](uint64_t v, int bytes) {
        for (int k = 0; k < bytes; ++k)
            out.push_back(static_cast<uint8_t>(v >> (8 * k)));
    };
    put(f.OffsetBytes, 2);
    put(0, 2);
    put(f.FirstIFD, 8);
    const uint64_t pixels = 16 + 8 + 8 * 20 + 8;
    const std::tuple<uint16_t, uint16_t, uint64_t, uint64_t> entries[] = {
        {256, 3, 1, 2}, {257, 3, 1, 1}, {258, 3, 1, 8}, {259, 3, 1, 1}, {262, 3, 1, 1},
        {273, 16, f.StripOffsetsCount, f.StripOffset ? f.StripOffset : pixels}, {277, 3, 1, 1}, {279, 16, 1, 2},
    };
    put(f.EntryCount, 8);
    for (const auto& [tag, type, count, value] : entries) {
        put(tag, 2);
        put(type, 2);
        put(count, 8);
        put(value, 8);
    }
    put(0, 8);
    out.insert(out.end(), {0x30, 0x40});
    return out;
}

} // namespace

// Every 64-bit offset of a BigTIFF file is checked against the stream.
TEST(TiffHostile, BigTIFFOffsets)
{
    const std::tuple<const char*, BigTiffFields, std::string, Pix> cases[] = {
        {"sound file", {}, "", {Grey(0x30), Grey(0x40)}},
        {"first directory beyond the file", {.FirstIFD = 1ull << 62}, "Stream read error", {}},
        {"entry count beyond the file", {.EntryCount = 1ull << 60}, "Stream read error", {}},
        {"strip beyond the file", {.StripOffset = 1ull << 62}, "", {Grey(0), Grey(0)}},
        {"strip offsets stored beyond the file", {.StripOffsetsCount = 2, .StripOffset = 1ull << 63}, Invalid, {}},
        {"offsets of 4 bytes", {.OffsetBytes = 4}, Invalid, {}},
    };
    for (const auto& [name, fields, message, pixels] : cases) {
        SCOPED_TRACE(name);
        std::unique_ptr<TTIFFGraphic> g;
        EXPECT_EQ(ErrorOf([&] { g = Load(BigTiff(fields)); }), message);
        if (g) {
            EXPECT_EQ(Pixels(*g), pixels);
        }
    }
}

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
        {"12-bit RGB", [] { return std::move(TiffBuilder().Image(1, 1, 12, 3, 2, 1, {{0, 0, 0, 0, 0}})); }, ColorFormat},
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
        {"floating-point predictor on bytes",
         [] { return std::move(TiffBuilder().Image(2, 1, 8, 1, 1, 8, {{0x78, 0x9C}}).Short(317, 3)); }, Invalid},
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
        // LZW codes Clear 1 2 3 | 4 5 6 EndOfInformation, cut after the first row.
        {"LZW strip cut after its first row",
         [] { return TiffBuilder().Image(3, 2, 8, 1, 1, 5, {{0x80, 0x00, 0x40, 0x40, 0x30}}).Build(); },
         {Grey(1), Grey(2), Grey(3), Grey(0), Grey(0), Grey(0)}},
        {"Group 4 strip cut inside its second row",
         [] { return TiffBuilder().Image(3, 3, 1, 1, 0, 4, {pwtest::Bits("001 0111 10 001 0")}).Build(); },
         {0xFFFFFF, 0xFFFFFF, 0, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF}},
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
        TiffBuilder().Image(3, 2, 8, 1, 1, 5, {{0x80, 0x00, 0x40, 0x40, 0x30, 0x20, 0x14, 0x0D, 0x01}}).Build(),
        TiffBuilder().Image(8, 2, 1, 1, 0, 4, {pwtest::Bits("001 0111 10 1 011 010 1")}).Build(),
        BigTiff({}),
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
