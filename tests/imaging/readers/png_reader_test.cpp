// The PNG reader on files built byte by byte: every filter at every pixel
// size, Adam7 at awkward sizes, chunk handling, transparency, background,
// gamma, the failure messages, and PNG-coded icons.
#include "imaging/format_registry.h"
#include "imaging/readers/png_graphic.h"
#include "platform/exceptions.h"
#include "platform/icon.h"
#include "platform/streams.h"
#include "platform/thread_pool.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <functional>
#include <random>
#include <string>

namespace {

using Bytes = std::vector<uint8_t>;

void PutU32(Bytes& out, uint32_t v)
{
    out.insert(out.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
}

struct Chunk {
    std::string Type;
    Bytes Data;
    bool BadCrc = false;
    uint32_t Length = UINT32_MAX; // stored length when not the data's
};

Bytes Png(const std::vector<Chunk>& chunks)
{
    Bytes out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    for (const Chunk& c : chunks) {
        PutU32(out, c.Length != UINT32_MAX ? c.Length : static_cast<uint32_t>(c.Data.size()));
        Bytes typed(c.Type.begin(), c.Type.end());
        typed.insert(typed.end(), c.Data.begin(), c.Data.end());
        out.insert(out.end(), typed.begin(), typed.end());
        PutU32(out, static_cast<uint32_t>(crc32(0, typed.data(), static_cast<uInt>(typed.size()))) ^ c.BadCrc);
    }
    return out;
}

Chunk Ihdr(uint32_t w, uint32_t h, uint8_t depth, uint8_t type, uint8_t interlace = 0, uint8_t method = 0,
           uint8_t filter = 0)
{
    Bytes d;
    PutU32(d, w);
    PutU32(d, h);
    d.insert(d.end(), {depth, type, method, filter, interlace});
    return {"IHDR", d};
}

Bytes Deflate(const Bytes& raw)
{
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    Bytes out(size);
    compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 9);
    out.resize(size);
    return out;
}

// The zlib stream of raw with a window of 2^windowBits bytes, ended by
// flush (Z_FINISH) or only flushed so that all of it decodes (Z_SYNC_FLUSH).
Bytes ZStream(const Bytes& raw, int windowBits, int flush)
{
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    Bytes out(raw.size() + 64);
    z.next_in = const_cast<Bytef*>(raw.data());
    z.avail_in = static_cast<uInt>(raw.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, flush);
    out.erase(out.begin() + static_cast<std::ptrdiff_t>(z.total_out), out.end());
    deflateEnd(&z);
    return out;
}

Bytes Flushed(const Bytes& raw)
{
    return ZStream(raw, 15, Z_SYNC_FLUSH);
}

// A grey image of 1 x rows pixels, 8-bit, with the given raw filtered data.
Bytes Gray8(const Bytes& idat, uint32_t rows = 2)
{
    return Png({Ihdr(1, rows, 8, 0), {"IDAT", idat}, {"IEND", {}}});
}

std::string LoadError(const Bytes& file)
{
    TMemoryStream stream(file.data(), file.size());
    TPNGGraphic png;
    try {
        png.LoadFromStream(stream);
    } catch (const Exception& e) {
        return e.what();
    }
    return "(loaded)";
}

std::unique_ptr<TPNGGraphic> Load(const Bytes& file)
{
    TMemoryStream stream(file.data(), file.size());
    auto png = std::make_unique<TPNGGraphic>();
    png->LoadFromStream(stream);
    return png;
}

uint32_t Pixel(const TBitmap& bitmap, int x, int y)
{
    uint32_t argb;
    bitmap.RowToARGB(y, x, 1, &argb);
    return argb;
}

// ---- Samples, filters, interlacing -----------------------------------------

struct Layout {
    const char* Name;
    uint8_t Type, Depth, Channels;
};

// The displayed 0xAARRGGBB of pixel x of an unfiltered row.
uint32_t Shown(const Layout& l, const uint8_t* row, uint32_t x)
{
    uint32_t s[4] = {};
    for (uint32_t c = 0; c < l.Channels; ++c) {
        const uint32_t i = x * l.Channels + c;
        if (l.Depth == 16)
            s[c] = ((row[2 * i] << 8) | row[2 * i + 1]) * 255u / 65535u;
        else if (l.Depth == 8)
            s[c] = row[i];
        else
            s[c] = ((row[i * l.Depth / 8] >> (8 - l.Depth - i * l.Depth % 8)) & ((1 << l.Depth) - 1)) * 255u /
                   ((1u << l.Depth) - 1);
    }
    const uint32_t alpha = l.Type == 6 ? s[3] : 255;
    const bool gray = l.Channels <= 2;
    return (alpha << 24) | (s[0] << 16) | (s[gray ? 0 : 1] << 8) | s[gray ? 0 : 2];
}

int Predict(int type, int a, int b, int c)
{
    switch (type) {
    case 1: return a;
    case 2: return b;
    case 3: return (a + b) / 2;
    case 4: {
        const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
        return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
    }
    default: return 0;
    }
}

// Encodes rows (each rowBytes long) with filter type(row index) into the raw
// IDAT stream, as a writer would; the rows of a pass start from zeros.
void AppendFiltered(Bytes& out, const std::vector<Bytes>& rows, size_t bpp, const std::function<int(size_t)>& type)
{
    Bytes prev(rows.empty() ? 0 : rows[0].size(), 0);
    for (size_t r = 0; r < rows.size(); ++r) {
        const Bytes& row = rows[r];
        const int t = type(r);
        out.push_back(static_cast<uint8_t>(t));
        for (size_t i = 0; i < row.size(); ++i) {
            const int a = i >= bpp ? row[i - bpp] : 0, c = i >= bpp ? prev[i - bpp] : 0;
            out.push_back(static_cast<uint8_t>(row[i] - (t > 4 ? 0 : Predict(t, a, prev[i], c))));
        }
        prev = row;
    }
}

struct Image {
    uint32_t W, H;
    std::vector<Bytes> Rows; // unfiltered, full rows
};

Image RandomImage(const Layout& l, uint32_t w, uint32_t h, unsigned seed)
{
    std::mt19937 random(seed);
    Image image{w, h, {}};
    for (uint32_t y = 0; y < h; ++y) {
        Bytes row((w * l.Channels * l.Depth + 7) / 8);
        for (size_t i = 0; i < row.size(); ++i)
            row[i] = y % 3 == 1 ? uint8_t(i * 7 + y) : uint8_t(random()); // smooth rows too
        image.Rows.push_back(row);
    }
    return image;
}

// The IDAT stream of an image, plain or in Adam7 passes.
Bytes Encode(const Layout& l, const Image& image, bool adam7, const std::function<int(size_t)>& type)
{
    const size_t bits = l.Channels * l.Depth, bpp = std::max<size_t>(1, bits / 8);
    Bytes raw;
    if (!adam7) {
        AppendFiltered(raw, image.Rows, bpp, type);
        return raw;
    }
    const uint32_t passes[7][4] = {{0, 0, 8, 8}, {0, 4, 8, 8}, {4, 0, 8, 4}, {0, 2, 4, 4},
                                   {2, 0, 4, 2}, {0, 1, 2, 2}, {1, 0, 2, 1}};
    for (const auto& p : passes) {
        std::vector<Bytes> rows;
        const uint32_t pw = image.W > p[1] ? (image.W - p[1] + p[3] - 1) / p[3] : 0;
        for (uint32_t y = p[0]; pw && y < image.H; y += p[2]) {
            Bytes row((pw * bits + 7) / 8, 0);
            for (uint32_t k = 0; k < pw; ++k)
                for (size_t b = 0; b < bits; ++b) {
                    const size_t from = (p[1] + k * p[3]) * bits + b, to = k * bits + b;
                    if ((image.Rows[y][from / 8] >> (7 - from % 8)) & 1)
                        row[to / 8] |= uint8_t(0x80 >> (to % 8));
                }
            rows.push_back(row);
        }
        AppendFiltered(raw, rows, bpp, type);
    }
    return raw;
}

void ExpectPixels(const TBitmap& bitmap, const Layout& l, const Image& image)
{
    ASSERT_EQ(bitmap.Width(), int(image.W));
    ASSERT_EQ(bitmap.Height(), int(image.H));
    for (uint32_t y = 0; y < image.H; ++y)
        for (uint32_t x = 0; x < image.W; ++x)
            ASSERT_EQ(Pixel(bitmap, int(x), int(y)), Shown(l, image.Rows[y].data(), x)) << x << "," << y;
}

const Layout Layouts[] = {{"gray1", 0, 1, 1},  {"gray2", 0, 2, 1},  {"gray4", 0, 4, 1}, {"gray8", 0, 8, 1},
                          {"gray16", 0, 16, 1}, {"ga8", 4, 8, 2},    {"ga16", 4, 16, 2}, {"rgb8", 2, 8, 3},
                          {"rgb16", 2, 16, 3},  {"rgba8", 6, 8, 4},  {"rgba16", 6, 16, 4}};

TEST(PngFilters, EveryFilterAtEveryPixelSizePlainAndAdam7)
{
    for (const Layout& l : Layouts)
        for (int filter = 0; filter <= 5; ++filter) // 5: rows cycle through all types
            for (bool adam7 : {false, true}) {
                SCOPED_TRACE(std::string(l.Name) + " filter " + std::to_string(filter) + (adam7 ? " adam7" : ""));
                const Image image = RandomImage(l, 13, 11, filter * 31 + l.Type + l.Depth);
                const auto type = [filter](size_t r) { return filter == 5 ? int(r % 5) : filter; };
                const Bytes raw = Encode(l, image, adam7, type);
                ExpectPixels(*Load(Png({Ihdr(13, 11, l.Depth, l.Type, adam7), {"IDAT", Deflate(raw)}, {"IEND", {}}})),
                             l, image);
            }
}

TEST(PngFilters, Adam7AtSizesWherePassesAreEmpty)
{
    const Layout rgb{"rgb8", 2, 8, 3}, gray1{"gray1", 0, 1, 1};
    for (const Layout* l : {&rgb, &gray1})
        for (auto [w, h] : {std::pair{1u, 1u}, {2u, 3u}, {5u, 1u}, {1u, 9u}, {3u, 2u}, {8u, 8u}, {4u, 5u}}) {
            SCOPED_TRACE(std::string(l->Name) + " " + std::to_string(w) + "x" + std::to_string(h));
            const Image image = RandomImage(*l, w, h, w * 10 + h);
            const Bytes raw = Encode(*l, image, true, [](size_t r) { return int(r % 5); });
            ExpectPixels(*Load(Png({Ihdr(w, h, l->Depth, l->Type, 1), {"IDAT", Deflate(raw)}, {"IEND", {}}})), *l,
                         image);
        }
}

TEST(PngFilters, UnknownFilterTypeLeavesTheRow)
{
    auto png = Load(Gray8(Deflate({7, 10, 7, 20}))); // type 7, then a row the Sub filter would change
    EXPECT_EQ(Pixel(*png, 0, 0), 0xFF0A0A0Au);
    EXPECT_EQ(Pixel(*png, 0, 1), 0xFF141414u);
}

// ---- Chunks ----------------------------------------------------------------

TEST(PngChunks, NamesIgnoreCaseAncillaryChunksAreSkippedUnchecked)
{
    const Bytes data = Deflate({0, 40, 0, 50});
    auto png = Load(Png({Ihdr(1, 2, 8, 0), {"zzZz", {1, 2, 3}, true}, {"idat", data}, {"tEXt", {}, true},
                         {"IEND", {}}}));
    EXPECT_EQ(Pixel(*png, 0, 1), 0xFF323232u);
}

TEST(PngChunks, OneByteChunksAndZeroLengthOnes)
{
    const Layout l{"rgb16", 2, 16, 3};
    const Image image = RandomImage(l, 7, 6, 5);
    const Bytes data = Deflate(Encode(l, image, true, [](size_t r) { return int(r % 5); }));
    std::vector<Chunk> chunks = {Ihdr(7, 6, 16, 2, 1), {"IDAT", {}}};
    for (uint8_t b : data)
        chunks.push_back({"IDAT", {b}});
    chunks.push_back({"IDAT", {}});
    chunks.push_back({"IEND", {}});
    ExpectPixels(*Load(Png(chunks)), l, image);
}

TEST(PngChunks, ImageDataEndingEarlyKeepsTheRowsDecoded)
{
    auto png = Load(Png({Ihdr(1, 3, 8, 0), {"IDAT", Flushed({0, 9, 2, 8})}, {"IEND", {}}}));
    EXPECT_EQ(Pixel(*png, 0, 0), 0xFF090909u);
    EXPECT_EQ(Pixel(*png, 0, 1), 0xFF111111u);
}

// ---- Whole-image inflate ---------------------------------------------------

// The image data in chunks of at most piece bytes (all in one for 0).
std::vector<Chunk> DataChunks(const Bytes& data, size_t piece)
{
    std::vector<Chunk> chunks;
    for (size_t at = 0; at < data.size() || chunks.empty(); at += piece ? piece : data.size() + 1)
        chunks.push_back({"IDAT", Bytes(data.begin() + std::ptrdiff_t(at),
                                        data.begin() + std::ptrdiff_t(piece ? std::min(data.size(), at + piece)
                                                                            : data.size()))});
    return chunks;
}

Bytes WithData(const Chunk& ihdr, const Bytes& data, size_t piece = 0)
{
    std::vector<Chunk> chunks = {ihdr};
    for (const Chunk& c : DataChunks(data, piece))
        chunks.push_back(c);
    chunks.push_back({"IEND", {}});
    return Png(chunks);
}

std::unique_ptr<TPNGGraphic> LoadFile(const pwtest::TempDir& dir, const Bytes& file)
{
    pwtest::WriteBytes(dir.File("a.png"), file);
    TFileStream stream(dir.File("a.png"), fmOpenRead);
    auto png = std::make_unique<TPNGGraphic>();
    png->LoadFromStream(stream);
    return png;
}

// Plain images whose stored rows fit the bitmap's rows are inflated whole;
// the other layouts and Adam7 go row by row. Every width from 1 to 40 (rows
// of 3 to 7 bytes' slack and none), data in one chunk or many, from memory
// and from a file, and one image of several megabytes.
TEST(PngWholeImage, EveryLayoutAndWidthFromMemoryAndFile)
{
    const pwtest::TempDir dir;
    for (const Layout& l : Layouts)
        for (uint32_t w = 1; w <= 40; ++w)
            for (bool adam7 : {false, true}) {
                SCOPED_TRACE(std::string(l.Name) + " width " + std::to_string(w) + (adam7 ? " adam7" : ""));
                const uint32_t h = 2 + w % 6;
                const Image image = RandomImage(l, w, h, w * 131 + l.Type * 7 + l.Depth);
                const Bytes data = Deflate(Encode(l, image, adam7, [w](size_t r) { return int((r + w) % 5); }));
                const Bytes file = WithData(Ihdr(w, h, l.Depth, l.Type, adam7), data, w % 3 == 0 ? w : 0);
                ExpectPixels(*Load(file), l, image);
                if (w % 8 == 5)
                    ExpectPixels(*LoadFile(dir, file), l, image);
            }
    const Layout rgb{"rgb8", 2, 8, 3};
    const Image large = RandomImage(rgb, 1501, 700, 9);
    const Bytes file = WithData(Ihdr(1501, 700, 8, 2), Deflate(Encode(rgb, large, false, [](size_t r) {
                                                           return int(r % 5);
                                                       })),
                                8192);
    ExpectPixels(*Load(file), rgb, large);
    ExpectPixels(*LoadFile(dir, file), rgb, large);
}

// Rows unfiltered on several threads, each a stripe of columns, give the
// pixels, the progress and, when a progress report raises, the rows and the
// background that one thread gives.
TEST(PngWholeImage, StripesOnSeveralThreadsGiveWhatOneGives)
{
    const Layout layouts[] = {{"gray1", 0, 1, 1}, {"gray4", 0, 4, 1}, {"gray8", 0, 8, 1},
                              {"rgb8", 2, 8, 3},  {"rgba8", 6, 8, 4}, {"gray2", 0, 2, 1}};
    for (const Layout& l : layouts)
        for (const int stopAt : {-1, 70}) {
            SCOPED_TRACE(std::string(l.Name) + (stopAt < 0 ? "" : ", stopped"));
            const Image image = RandomImage(l, 1600, 150, l.Type * 17 + l.Depth);
            const Bytes file = WithData(Ihdr(1600, 150, l.Depth, l.Type), Deflate(Encode(l, image, false, [](size_t r) {
                                            return int(r % 5);
                                        })));
            struct Outcome {
                std::vector<uint32_t> Pixels;
                std::vector<int> Progress;
                std::string Error;
            };
            const auto load = [&](unsigned threads) {
                pwthreads::SetThreadCount(threads);
                Outcome out;
                TPNGGraphic png;
                png.OnProgress = [&](TGraphic*, TProgressStage stage, uint8_t percent, bool, const TRect& r,
                                     const std::string&) {
                    out.Progress.push_back(stage * 1000 + percent);
                    if (stage == psRunning && r.Top == stopAt)
                        throw EAbort("stopped");
                };
                TMemoryStream stream(file.data(), file.size());
                try {
                    png.LoadFromStream(stream);
                } catch (const Exception& e) {
                    out.Error = e.what();
                }
                for (int y = 0; y < png.Height(); ++y)
                    for (int x = 0; x < png.Width(); ++x)
                        out.Pixels.push_back(Pixel(png, x, y));
                pwthreads::SetThreadCount(0);
                return out;
            };
            const Outcome one = load(1);
            EXPECT_EQ(one.Error, stopAt < 0 ? "" : "stopped");
            for (const unsigned threads : {2u, 3u}) {
                const Outcome many = load(threads);
                EXPECT_EQ(many.Error, one.Error) << threads;
                EXPECT_EQ(many.Progress, one.Progress) << threads;
                EXPECT_TRUE(many.Pixels == one.Pixels) << threads;
            }
            if (stopAt < 0)
                ExpectPixels(*Load(file), l, image);
        }
}

// Data that cannot be inflated whole are read again row by row and end as
// they always did: the message, the row where the data ended, the rows
// before it, and zeros (or the background, after an error) after it.
TEST(PngWholeImage, DamagedDataEndAsRowByRow)
{
    const Layout gray{"gray8", 0, 8, 1}, rgb{"rgb8", 2, 8, 3}, gray4{"gray4", 0, 4, 1};
    const std::string compression = "Cannot load image. Compression error found in PNG file.";
    const std::string extra = "Cannot load image. Extra compressed data found in PNG file.";
    const std::string crc = "Cannot load image. CRC error found in PNG file.";
    struct Case {
        const char* Name;
        std::function<Bytes(const Layout&, const Image&)> Make;
        std::string Message; // "(loaded)" when none
        int64_t EarlyEnd;   // -1 for none
        uint32_t GoodRows;   // rows equal to the image
        uint32_t After;      // 0xAARRGGBB of the rows after them
    };
    const auto filtered = [](const Layout& l, const Image& image, size_t rows) {
        Image part = image;
        part.Rows.resize(rows);
        return Encode(l, part, false, [](size_t r) { return int(r % 5); });
    };
    const Case cases[] = {
        {"cut after 3 rows",
         [&](const Layout& l, const Image& i) { return WithData(Ihdr(i.W, i.H, l.Depth, l.Type), Flushed(filtered(l, i, 3))); },
         "(loaded)", 3, 3, 0xFF000000},
        {"stream ending after 4 rows",
         [&](const Layout& l, const Image& i) { return WithData(Ihdr(i.W, i.H, l.Depth, l.Type), Deflate(filtered(l, i, 4))); },
         extra, -1, 4, 0xFFFFFFFF},
        {"reserved block after 2 rows",
         [&](const Layout& l, const Image& i) {
             Bytes data = Flushed(filtered(l, i, 2));
             data.insert(data.end(), {0x06, 0, 0, 0});
             return WithData(Ihdr(i.W, i.H, l.Depth, l.Type), data);
         },
         compression, -1, 1, 0xFFFFFFFF}, // zlib reports the bad block with row 1's last bytes
        {"checksum of the second chunk",
         [&](const Layout& l, const Image& i) {
             return Png({Ihdr(i.W, i.H, l.Depth, l.Type), {"IDAT", Flushed(filtered(l, i, 5))},
                         {"IDAT", {1, 2, 3}, true}, {"IEND", {}}});
         },
         crc, -1, 5, 0xFFFFFFFF},
        {"two rows more than the image",
         [&](const Layout& l, const Image& i) {
             Image more = i;
             more.Rows.insert(more.Rows.end(), 2, i.Rows[0]);
             return WithData(Ihdr(i.W, i.H, l.Depth, l.Type), Deflate(filtered(l, more, i.H + 2)));
         },
         "(loaded)", -1, 6, 0},
        {"512-byte window",
         [&](const Layout& l, const Image& i) {
             return WithData(Ihdr(i.W, i.H, l.Depth, l.Type), ZStream(filtered(l, i, i.H), 9, Z_FINISH), 7);
         },
         "(loaded)", -1, 6, 0},
    };
    for (const Layout* l : {&gray, &rgb, &gray4})
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(l->Name) + ", " + c.Name);
            const Image image = RandomImage(*l, 37, 6, 4);
            const Bytes file = c.Make(*l, image);
            TMemoryStream stream(file.data(), file.size());
            TPNGGraphic png;
            std::string message = "(loaded)";
            try {
                png.LoadFromStream(stream);
            } catch (const Exception& e) {
                message = e.what();
            }
            EXPECT_EQ(message, c.Message);
            EXPECT_EQ(png.EarlyEndRow(), c.EarlyEnd);
            ASSERT_EQ(png.Height(), 6);
            for (uint32_t y = 0; y < 6; ++y)
                for (uint32_t x = 0; x < 37; ++x)
                    ASSERT_EQ(Pixel(png, int(x), int(y)), y < c.GoodRows ? Shown(*l, image.Rows[y].data(), x) : c.After)
                        << x << "," << y;
        }
}

// ---- Transparency, background, gamma ---------------------------------------

TEST(PngTransparency, KeyIsTheColourTheBitmapShows)
{
    struct Case {
        uint8_t Type, Depth;
        Bytes Trns;
        TColor Key; // clNone: not transparent
    } cases[] = {
        {0, 1, {0, 1}, 0xFFFFFF},          {0, 2, {0, 2}, 0xAAAAAA},     {0, 4, {0, 3}, 0x333333},
        {0, 2, {0, 4}, clNone},            {0, 8, {1, 0x7F}, 0x7F7F7F},   {0, 16, {0xFF, 0xFE}, 0xFEFEFE},
        {2, 8, {0, 1, 0, 2, 0, 3}, 0x030201}, {2, 16, {0xFF, 0xFF, 0, 0, 0x80, 0}, 0x7F00FF},
        {3, 8, {0, 0}, clNone},            {6, 8, {0, 1, 0, 2, 0, 3}, clNone}, {0, 8, {5}, clNone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.Type) + "/" + std::to_string(c.Depth));
        const size_t rowBytes = (size_t(c.Depth) * (c.Type == 2 ? 3 : c.Type == 6 ? 4 : 1) + 7) / 8;
        std::vector<Chunk> chunks = {Ihdr(1, 1, c.Depth, c.Type), {"tRNS", c.Trns}};
        if (c.Type == 3)
            chunks.insert(chunks.begin() + 1, {"PLTE", {1, 2, 3}});
        Bytes raw(rowBytes + 1, 0);
        chunks.push_back({"IDAT", Deflate(raw)});
        chunks.push_back({"IEND", {}});
        auto png = Load(Png(chunks));
        EXPECT_EQ(png->Transparent(), c.Key != clNone);
        EXPECT_EQ(png->TransparentColor(), c.Key);
    }
}

TEST(PngBackground, RowsNotDecodedShowTheBackground)
{
    // Row 0 (plain) or pass 1 (Adam7) decodes, then the data turn corrupt.
    const Bytes raw = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    for (bool adam7 : {false, true}) {
        SCOPED_TRACE(adam7 ? "adam7" : "plain");
        const Bytes idat = Flushed(Bytes(raw.begin(), raw.begin() + (adam7 ? 4 : 16)));
        const Bytes reserved = {0x06, 0, 0, 0}; // a block of the reserved type
        const Bytes file = Png({Ihdr(5, 2, 8, 2, adam7), {"bKGD", {0, 0x33, 0, 0x66, 0, 0x99}}, {"IDAT", idat},
                                {"IDAT", reserved}, {"IEND", {}}});
        TMemoryStream in(file.data(), file.size());
        TPNGGraphic png;
        try {
            png.LoadFromStream(in);
            ADD_FAILURE() << "loaded";
        } catch (const EInvalidGraphic& e) {
            EXPECT_STREQ(e.what(), "Cannot load image. Compression error found in PNG file.");
        }
        ASSERT_EQ(png.Width(), 5);
        EXPECT_EQ(Pixel(png, 0, 0), 0xFF010203u);
        EXPECT_EQ(Pixel(png, 4, 1), 0xFF336699u);
    }
}

TEST(PngGamma, GammaChunkCorrectsPixelsAndPaletteAndEndsWithTheLoad)
{
    Bytes gama;
    PutU32(gama, 45455);
    TPNGGraphic png;
    const Bytes indexed = Png({Ihdr(2, 1, 8, 3), {"gAMA", gama}, {"PLTE", {0, 0, 0, 64, 128, 255}},
                               {"IDAT", Deflate({0, 0, 1})}, {"IEND", {}}});
    TMemoryStream in(indexed.data(), indexed.size());
    png.LoadFromStream(in);
    TColorManager cm;
    cm.SetGammaValues(0.45455f, 2.2f);
    const auto& t = cm.GammaTable();
    EXPECT_FLOAT_EQ(png.ImageProperties.Gamma, 0.45455f);
    EXPECT_TRUE(png.ImageProperties.Flags & ifGammaApplied);
    EXPECT_EQ(Pixel(png, 1, 0), 0xFF000000u | (t[64] << 16) | (t[128] << 8) | t[255]);

    // The same object then loads a file without gAMA uncorrected.
    const Bytes plain = Png({Ihdr(1, 1, 8, 2), {"IDAT", Deflate({0, 64, 128, 200})}, {"IEND", {}}});
    TMemoryStream in2(plain.data(), plain.size());
    png.LoadFromStream(in2);
    EXPECT_FLOAT_EQ(png.ImageProperties.Gamma, 1.0f);
    EXPECT_EQ(Pixel(png, 0, 0), 0xFF4080C8u);
}

TEST(PngProgress, PreparingThenOneNotificationPerDeliveredRow)
{
    const auto events = [](const Bytes& file) {
        std::string log;
        TPNGGraphic png;
        png.OnProgress = [&log](TGraphic*, TProgressStage stage, uint8_t percent, bool, const TRect& r,
                                const std::string& msg) {
            log += std::to_string(stage) + ":" + std::to_string(percent) + ":" + std::to_string(r.Top) + msg + " ";
        };
        TMemoryStream in(file.data(), file.size());
        png.LoadFromStream(in);
        return log;
    };
    EXPECT_EQ(events(Gray8(Deflate({0, 1, 0, 2}))),
              "0:0:0Preparing... 2:0:0 0:0:0Transfering... 1:0:0 1:50:1 2:0:2 ");
    // Adam7 reports the rows of pass 7 only, never beyond 100 %.
    EXPECT_EQ(events(Png({Ihdr(1, 4, 8, 0, 1), {"IDAT", Deflate({0, 1, 0, 2, 0, 3, 0, 4})}, {"IEND", {}}})),
              "0:0:0Preparing... 2:0:0 0:0:0Transfering... 1:75:0 1:100:1 2:0:2 ");
}

// ---- Properties and failures -----------------------------------------------

TEST(PngProperties, HeaderFieldsAndSignatureTest)
{
    const Bytes file = Png({Ihdr(300, 200, 16, 6, 1, 1), {"IEND", {}}});
    TMemoryStream stream(file.data(), file.size());
    TPNGGraphic png;
    ASSERT_TRUE(png.LoadProperties(stream, 0));
    const TImageProperties& p = png.ImageProperties;
    EXPECT_EQ(std::tuple(p.Width, p.Height, p.PixelScheme, p.BitsPerSample, p.SamplesPerPixel, p.BitsPerPixel),
              std::tuple(300u, 200u, psRGBA, uint8_t(16), uint8_t(4), uint8_t(64)));
    EXPECT_EQ(p.CompressionKind, ckUnknown); // method 1: refused only by the loader
    EXPECT_TRUE(p.IsInterlaced && p.AlphaPresent && (p.Flags & ifBigEndian));

    stream.SetPosition(0);
    EXPECT_TRUE(TPNGGraphic::CanLoadStream(stream));
    EXPECT_EQ(stream.Position(), 0);
    TMemoryStream signatureOnly(file.data(), 8);
    EXPECT_FALSE(TPNGGraphic::CanLoadStream(signatureOnly));
}

TEST(PngFailures, EachGivesItsMessage)
{
    const std::string invalid = "Cannot load image. Invalid or unexpected PNG image format.";
    const std::string color = "Invalid color format in PNG file.";
    const std::string crc = "Cannot load image. CRC error found in PNG file.";
    const std::string extra = "Cannot load image. Extra compressed data found in PNG file.";
    const std::string critical = "Cannot load PNG image. Unexpected but critical chunk detected.";
    const Bytes good = Deflate({0, 1, 0, 2});
    Bytes trailing = good;
    trailing.push_back(0);
    Bytes corrupt = good;
    corrupt[0] = 0x79;
    Bytes badSignature = Gray8(good);
    badSignature[1] = 'p';
    const Chunk end{"IEND", {}};
    const struct {
        const char* Name;
        Bytes File;
        std::string Message;
    } cases[] = {
        {"signature", badSignature, invalid},
        {"first chunk", Png({{"gAMA", {0, 0, 0, 1}}, Ihdr(1, 2, 8, 0), {"IDAT", good}, end}), invalid},
        {"zero width", Png({Ihdr(0, 2, 8, 0), {"IDAT", good}, end}), invalid},
        {"interlace 2", Png({Ihdr(1, 2, 8, 0, 2), {"IDAT", good}, end}), invalid},
        {"filter method 1", Png({Ihdr(1, 2, 8, 0, 0, 0, 1), {"IDAT", good}, end}), invalid},
        {"IHDR crc", Png({{"IHDR", Ihdr(1, 2, 8, 0).Data, true}, {"IDAT", good}, end}), crc},
        {"IDAT crc", Png({Ihdr(1, 2, 8, 0), {"IDAT", good, true}, end}), crc},
        {"tRNS crc", Png({Ihdr(1, 2, 8, 0), {"tRNS", {0, 0}, true}, {"IDAT", good}, end}), crc},
        {"critical", Png({Ihdr(1, 2, 8, 0), {"ABCD", {}}, {"IDAT", good}, end}), critical},
        {"critical after data", Png({Ihdr(1, 2, 8, 0), {"IDAT", good}, {"PLTE", {1, 2, 3}}, end}), critical},
        {"second data run", Png({Ihdr(1, 2, 8, 0), {"IDAT", good}, {"tEXt", {}}, {"IDAT", good}, end}), critical},
        {"PLTE length", Png({Ihdr(1, 2, 8, 3), {"PLTE", {1, 2, 3, 4}}, {"IDAT", good}, end}),
         "Cannot load image. Palette in PNG file is invalid."},
        {"grey 3", Png({Ihdr(1, 2, 3, 0), {"IDAT", good}, end}), color},
        {"RGB 4", Png({Ihdr(1, 2, 4, 2), {"IDAT", good}, end}), color},
        {"indexed 16", Png({Ihdr(1, 2, 16, 3), {"PLTE", {1, 2, 3}}, {"IDAT", good}, end}), color},
        {"grey alpha 4", Png({Ihdr(1, 2, 4, 4), {"IDAT", good}, end}), color},
        {"RGBA 2", Png({Ihdr(1, 2, 2, 6), {"IDAT", good}, end}), color},
        {"type 1", Png({Ihdr(1, 2, 8, 1), {"IDAT", good}, end}), color},
        {"type 7", Png({Ihdr(1, 2, 8, 7), {"IDAT", good}, end}), color},
        {"method 1", Png({Ihdr(1, 2, 8, 0, 0, 1), {"IDAT", good}, end}),
         "Cannot load image. The compression scheme is not supported for PNG files."},
        {"bytes after the stream's end, ignored", Gray8(trailing), "(loaded)"},
        {"stream too short", Gray8(good, 3), extra},
        {"inflate error", Gray8(corrupt), "Cannot load image. Compression error found in PNG file."},
        {"length beyond stream", Png({Ihdr(1, 2, 8, 0), {"IDAT", good, false, 5000}, end}), invalid},
        {"length beyond limit", Png({Ihdr(1, 2, 8, 0), {"IDAT", good, false, 0xFFFFFFF0}, end}), invalid},
        {"no IEND", Png({Ihdr(1, 2, 8, 0), {"IDAT", good}}), "Stream read error"},
        {"too large", Png({Ihdr(1u << 21, 1, 8, 0), {"IDAT", good}, end}),
         "Cannot load image. The PNG image is too large (2097152 x 1 pixels)."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LoadError(c.File), c.Message) << c.Name;
}

TEST(PngFailures, DamagedHeadersAndDataStayInBounds)
{
    // Run under the sanitizer build: flipped bits in the header fields and the
    // compressed data (CRCs kept valid) give an image or an error, nothing else;
    // Adam7 reads row by row, the plain image is inflated whole.
    std::mt19937 random(1);
    const Layout l{"rgb16", 2, 16, 3}, plain{"rgb8", 2, 8, 3};
    const Bytes data = Deflate(Encode(l, RandomImage(l, 9, 7, 3), true, [](size_t r) { return int(r % 5); }));
    const Bytes plainData =
        Deflate(Encode(plain, RandomImage(plain, 9, 7, 3), false, [](size_t r) { return int(r % 5); }));
    const size_t headerBytes[] = {3, 7, 8, 9, 10, 11, 12};
    for (int i = 0; i < 4000; ++i) {
        Bytes ihdr = i % 2 ? Ihdr(9, 7, 8, 2).Data : Ihdr(9, 7, 16, 2, 1).Data, idat = i % 2 ? plainData : data;
        for (int k = int(random() % 3); k >= 0; --k) {
            uint8_t& b = random() % 4 == 0 ? ihdr[headerBytes[random() % 7]] : idat[random() % idat.size()];
            b ^= uint8_t(1 << (random() % 8));
        }
        const std::string message = LoadError(
            Png({{"IHDR", ihdr}, {"PLTE", {1, 2, 3, 4, 5, 6}}, {"tRNS", {0, 1, 0, 2, 0, 3}}, {"IDAT", idat},
                 {"IEND", {}}}));
        EXPECT_FALSE(message.empty());
    }
}

// ---- Registration and icons ------------------------------------------------

TEST(PngRegistration, PngExtensionAndPngCodedIcons)
{
    InitializeImaging();
    const int index = FileFormatList->FindExtension("PNG");
    ASSERT_GE(index, 0);
    EXPECT_EQ(FileFormatList->Extension(index).ClassEntry->GraphicClass, &TPNGGraphic::ClassType());
    EXPECT_EQ(FileFormatList->Extension(index).ClassEntry->Description, "Portable network graphic images");

    const Bytes png = Png({Ihdr(2, 1, 8, 6), {"IDAT", Deflate({0, 10, 20, 30, 40, 50, 60, 70, 128})}, {"IEND", {}}});
    Bytes ico = {0, 0, 1, 0, 1, 0, 2, 1, 0, 0, 1, 0, 32, 0};
    PutU32(ico, 0); // size and offset, little-endian, patched below
    PutU32(ico, 0);
    const uint32_t size = static_cast<uint32_t>(png.size());
    for (int i = 0; i < 4; ++i) {
        ico[14 + i] = uint8_t(size >> (8 * i));
        ico[18 + i] = uint8_t(22 >> (8 * i));
    }
    ico.insert(ico.end(), png.begin(), png.end());
    TMemoryStream stream(ico.data(), ico.size());
    TIcon icon;
    icon.LoadFromStream(stream);
    EXPECT_EQ(Pixel(icon.ViewBitmap(), 0, 0), 0x280A141Eu);
    EXPECT_EQ(Pixel(icon.ViewBitmap(), 1, 0), 0x80323C46u);
    FinalizeImaging();
}

} // namespace
