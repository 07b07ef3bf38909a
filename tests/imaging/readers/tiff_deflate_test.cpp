// Deflate strips and tiles: whole streams inflate in one call, and damaged,
// short or overlong streams give exactly what the streaming inflate gives
// (the rows before the damage, zeros after).
#include "imaging/compression/lz77_decoder.h"
#include "imaging/readers/tiff_graphic.h"
#include "tests/imaging/readers/tiff_test_builder.h"

#include <gtest/gtest.h>
#include <zlib.h>

using namespace tifftest;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t Width = 64;
constexpr uint32_t Height = 40;

// Grey rows that compress, but not to nothing.
Bytes Picture(size_t size, unsigned seed = 1)
{
    Bytes data(size);
    uint32_t x = seed;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        data[i] = static_cast<uint8_t>(i % 7 < 3 ? (i / Width) * 5 : (x >> 24) & 0x3F);
    }
    return data;
}

Bytes Deflate(const Bytes& data, int level = 6)
{
    uLongf size = compressBound(data.size());
    Bytes out(size);
    EXPECT_EQ(compress2(out.data(), &size, data.data(), data.size(), level), Z_OK);
    out.resize(size);
    return out;
}

// The first `good` bytes as a zlib stream flushed to a byte boundary, then a
// stored block whose length check fails, then more data.
Bytes DamagedAfter(const Bytes& data, size_t good)
{
    z_stream z{};
    EXPECT_EQ(deflateInit(&z, 6), Z_OK);
    Bytes out(compressBound(data.size()) + 64);
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(good);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FULL_FLUSH), Z_OK);
    out.resize(out.size() - z.avail_out);
    deflateEnd(&z);
    const Bytes bad = {0x01, 0x05, 0x00, 0x00, 0x00, 'a', 'b', 'c', 'd', 'e'};
    out.insert(out.end(), bad.begin(), bad.end());
    out.insert(out.end(), data.begin() + static_cast<ptrdiff_t>(good), data.end());
    return out;
}

// What the streaming inflate makes of a strip of `size` bytes.
Bytes StreamingInflate(const Bytes& packed, size_t size)
{
    TLZ77Decoder decoder(Z_PARTIAL_FLUSH, true);
    decoder.ExpandStart();
    Bytes out(size, 0);
    const uint8_t* s = packed.data();
    uint8_t* t = out.data();
    decoder.Expand(s, packed.size(), t, out.size(), packed.size(), out.size());
    decoder.ExpandFinish();
    return out;
}

// The grey levels of an 8-bit grey image, row by row.
Bytes Levels(const TTIFFGraphic& g)
{
    Bytes out;
    for (uint32_t v : Pixels(g))
        out.push_back(static_cast<uint8_t>(v));
    return out;
}

Bytes WithZeros(Bytes data, size_t kept)
{
    std::fill(data.begin() + static_cast<ptrdiff_t>(kept), data.end(), 0);
    return data;
}

} // namespace

TEST(TiffDeflate, DamagedStripsKeepWhatTheStreamingInflateKeeps)
{
    const Bytes data = Picture(Width * Height);
    Bytes badChecksum = Deflate(data);
    badChecksum.back() ^= 0x55;
    Bytes truncatedStored = Deflate(data, 0);
    truncatedStored.resize(2 + 5 + 700);
    const struct {
        const char* name;
        Bytes strip;
        Bytes expected;
    } cases[] = {
        // Damage inside a row: the part of the row before it stays.
        {"damaged after 1000 bytes", DamagedAfter(data, 1000), WithZeros(data, 1000)},
        {"damaged after 20 whole rows", DamagedAfter(data, 20 * Width), WithZeros(data, 20 * Width)},
        {"damaged before the first byte", DamagedAfter(data, 0), Bytes(data.size(), 0)},
        // The checksum comes after all the data.
        {"wrong checksum", badChecksum, data},
        {"stored data cut after 700 bytes", truncatedStored, WithZeros(data, 700)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(StreamingInflate(c.strip, data.size()), c.expected);
        std::unique_ptr<TTIFFGraphic> g;
        ASSERT_NO_THROW(g = Load(TiffBuilder().Image(Width, Height, 8, 1, 1, 8, {c.strip}).Build()));
        EXPECT_EQ(Levels(*g), c.expected);
    }
}

TEST(TiffDeflate, StripsShorterOrLongerThanDeclared)
{
    const Bytes data = Picture(Width * (Height + 5));
    const Bytes rows = Bytes(data.begin(), data.begin() + Width * Height);
    const struct {
        const char* name;
        Bytes strip;
        Bytes expected;
    } cases[] = {
        {"a complete stream of 30 rows", Deflate(Bytes(data.begin(), data.begin() + 30 * Width)),
         WithZeros(rows, 30 * Width)},
        {"a complete stream of 30.5 rows", Deflate(Bytes(data.begin(), data.begin() + 30 * Width + 32)),
         WithZeros(rows, 30 * Width + 32)},
        {"a stream of 45 rows", Deflate(data), rows},
        {"a stream of 45 rows, damaged in row 42", DamagedAfter(data, 42 * Width), rows},
        {"an empty stream", Deflate({}), Bytes(rows.size(), 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(StreamingInflate(c.strip, rows.size()), c.expected);
        std::unique_ptr<TTIFFGraphic> g;
        ASSERT_NO_THROW(g = Load(TiffBuilder().Image(Width, Height, 8, 1, 1, 8, {c.strip}).Build()));
        EXPECT_EQ(Levels(*g), c.expected);
    }
}

// Several strips, each its own stream: a damaged one does not touch the next.
TEST(TiffDeflate, DamageStaysInItsStrip)
{
    const Bytes data = Picture(Width * Height, 7);
    const size_t strip = 10 * Width;
    std::vector<Bytes> strips;
    for (size_t i = 0; i < 4; ++i)
        strips.push_back(Deflate(Bytes(data.begin() + i * strip, data.begin() + (i + 1) * strip)));
    strips[1] = DamagedAfter(Bytes(data.begin() + strip, data.begin() + 2 * strip), 250);
    strips[2].resize(strips[2].size() / 2);
    const Bytes half = StreamingInflate(strips[2], strip);
    std::unique_ptr<TTIFFGraphic> g;
    ASSERT_NO_THROW(g = Load(TiffBuilder().Image(Width, Height, 8, 1, 1, 8, strips, 10).Build()));
    Bytes expected = data;
    std::fill(expected.begin() + strip + 250, expected.begin() + 2 * strip, 0);
    std::copy(half.begin(), half.end(), expected.begin() + 2 * strip);
    EXPECT_EQ(Levels(*g), expected);
    // The cut strip kept some rows, not all.
    EXPECT_NE(half, Bytes(data.begin() + 2 * strip, data.begin() + 3 * strip));
    EXPECT_NE(half, Bytes(strip, 0));
}

// 16 x 16 tiles over a 20 x 20 image: the tiles of the bottom row hold 16
// rows of which 4 are shown, and the differencing applies to those only.
TEST(TiffDeflate, TilesAtTheEdgesAreInflatedWhole)
{
    const uint32_t side = 16, width = 20, height = 20;
    auto tileOf = [&](const Bytes& image, uint32_t tx, uint32_t ty) {
        Bytes tile(side * side, 0);
        for (uint32_t y = 0; y < side; ++y)
            for (uint32_t x = 0; x < side; ++x)
                if (ty + y < height && tx + x < width)
                    tile[y * side + x] = image[(ty + y) * width + tx + x];
                else
                    tile[y * side + x] = static_cast<uint8_t>(200 + x); // beyond the image
        return tile;
    };
    const Bytes image = [] {
        Bytes b(20 * 20);
        for (size_t i = 0; i < b.size(); ++i)
            b[i] = static_cast<uint8_t>(i * 7 + i / 20);
        return b;
    }();
    for (const bool damagedBelow : {false, true}) {
        SCOPED_TRACE(damagedBelow ? "damage below the rows shown" : "whole tiles");
        TiffBuilder b;
        b.Long(256, width).Long(257, height).Short(258, 8).Short(259, 8).Short(262, 1).Short(277, 1);
        b.Long(322, side).Long(323, side);
        std::vector<size_t> blocks;
        std::vector<uint32_t> counts;
        for (uint32_t ty = 0; ty < height; ty += side)
            for (uint32_t tx = 0; tx < width; tx += side) {
                const Bytes tile = tileOf(image, tx, ty);
                const Bytes packed = damagedBelow && ty > 0 ? DamagedAfter(tile, 6 * side) : Deflate(tile);
                blocks.push_back(b.Block(packed));
                counts.push_back(static_cast<uint32_t>(packed.size()));
            }
        b.Offsets(324, blocks).Tag(325, ftLong, counts);
        std::unique_ptr<TTIFFGraphic> g;
        ASSERT_NO_THROW(g = Load(b.Build()));
        EXPECT_EQ(Levels(*g), image);
    }
}
