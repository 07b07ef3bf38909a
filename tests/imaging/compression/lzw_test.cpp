// LZW strips written by libtiff decode to the bytes written; cut or damaged
// strips give the bytes they hold and never take the decoder outside its
// buffers.
#include "imaging/compression/lzw_decoder.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <random>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Pattern(const std::string& kind, size_t size)
{
    Bytes data(size);
    std::mt19937 rng(static_cast<unsigned>(size));
    for (size_t i = 0; i < size; ++i) {
        if (kind == "random")
            data[i] = static_cast<uint8_t>(rng());
        else if (kind == "gradient")
            data[i] = static_cast<uint8_t>(i / 7 + (rng() % 3));
        else if (kind == "text")
            data[i] = static_cast<uint8_t>("the quick brown fox "[i % 20]);
        else
            data[i] = 0;
    }
    return data;
}

// One strip of Data as an 8-bit grey image of Width columns, LZW coded by
// libtiff; the raw strip.
Bytes LibtiffStrip(const Bytes& data, uint32_t width)
{
    pwtest::TempDir dir;
    const std::string path = dir.File("lzw.tif");
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    const uint32_t height = static_cast<uint32_t>(data.size() / width);
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);
    for (uint32_t y = 0; y < height; ++y)
        TIFFWriteScanline(tif, const_cast<uint8_t*>(data.data()) + size_t(y) * width, y, 0);
    TIFFClose(tif);
    tif = TIFFOpen(path.c_str(), "r");
    Bytes strip(TIFFRawStripSize(tif, 0));
    TIFFReadRawStrip(tif, 0, strip.data(), static_cast<tmsize_t>(strip.size()));
    TIFFClose(tif);
    return strip;
}

struct Decoded {
    Bytes Out;
    TExpandResult Result;
};

Decoded Decode(const Bytes& source, size_t targetSize)
{
    TLZWDecoder decoder;
    Bytes target(targetSize, 0xEE);
    const uint8_t* s = source.data();
    uint8_t* t = target.data();
    const TExpandResult r = decoder.Expand(s, source.size(), t, target.size(), source.size(), target.size());
    EXPECT_EQ(s, source.data());
    return {target, r};
}

} // namespace

// Random bytes fill the table to its 12-bit end and make the writer send
// Clear codes; runs of zeros take the code that is being defined.
TEST(LZW, StripsOfLibtiffDecodeToTheBytesWritten)
{
    const std::tuple<const char*, uint32_t, uint32_t> cases[] = {
        {"zeros", 1, 1},     {"zeros", 64, 1000}, {"random", 1, 7},     {"random", 300, 400},
        {"gradient", 999, 37}, {"text", 80, 2000}, {"random", 4096, 40},
    };
    for (const auto& [kind, width, height] : cases) {
        SCOPED_TRACE(std::string(kind) + " " + std::to_string(width) + "x" + std::to_string(height));
        const Bytes data = Pattern(kind, size_t(width) * height);
        const Bytes strip = LibtiffStrip(data, width);
        const Decoded d = Decode(strip, data.size());
        EXPECT_EQ(d.Result.Produced, data.size());
        EXPECT_TRUE(d.Out == data);
        // A target smaller than the data takes what fits.
        const Decoded part = Decode(strip, data.size() / 2);
        EXPECT_EQ(part.Result.Produced, data.size() / 2);
        EXPECT_TRUE(std::equal(part.Out.begin(), part.Out.end(), data.begin()));
    }
}

// The old coding: least significant bit first, no early width change.
// Clear, 'A', 'B', 258 ("AB"), EndOfInformation.
TEST(LZW, OldStyleCodesAreReadLeastSignificantBitFirst)
{
    const Decoded d = Decode({0x00, 0x83, 0x08, 0x11, 0x18, 0x10}, 6);
    EXPECT_EQ(d.Result.Produced, 4u);
    EXPECT_EQ(Bytes(d.Out.begin(), d.Out.begin() + 4), (Bytes{'A', 'B', 'A', 'B'}));
    // The same codes as TIFF writes them.
    EXPECT_EQ(Decode({0x80, 0x10, 0x48, 0x50, 0x28, 0x08}, 6).Result.Produced, 4u);
}

// Every cut keeps the bytes before it; damage gives some bytes, in bounds.
TEST(LZW, TruncatedAndDamagedStrips)
{
    const Bytes data = Pattern("gradient", 60 * 50);
    const Bytes strip = LibtiffStrip(data, 60);
    size_t last = 0;
    for (size_t cut = 0; cut <= strip.size(); ++cut) {
        const Decoded d = Decode(Bytes(strip.begin(), strip.begin() + cut), data.size());
        ASSERT_GE(d.Result.Produced, last) << "cut at " << cut;
        ASSERT_LE(d.Result.Consumed, cut);
        ASSERT_TRUE(std::equal(d.Out.begin(), d.Out.begin() + d.Result.Produced, data.begin())) << "cut at " << cut;
        last = d.Result.Produced;
    }
    EXPECT_EQ(last, data.size());
    std::mt19937 rng(3);
    for (int round = 0; round < 300; ++round) {
        Bytes damaged = strip;
        for (int flips = 1 + rng() % 8; flips > 0; --flips)
            damaged[rng() % damaged.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
        const size_t target = data.size() - rng() % 100;
        const Decoded d = Decode(damaged, target);
        ASSERT_LE(d.Result.Produced, target);
        ASSERT_LE(d.Result.Consumed, damaged.size());
    }
}
