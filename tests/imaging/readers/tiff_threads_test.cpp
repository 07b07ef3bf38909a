// The TIFF reader on several threads gives what it gives on one: the same
// pixels, messages, early-end row, progress and JPEG warnings, for every
// compression, in strips and tiles, whole, cut short or stopped by a failure.
// The blocks are encoded by libtiff, then laid out again with one damaged.
#include "imaging/compression/jpeg_support.h"
#include "platform/thread_pool.h"
#include "tests/imaging/readers/tiff_libtiff_blocks.h"
#include "tests/imaging/readers/tiff_test_builder.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

using namespace tifftest;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kWidth = 96;
constexpr uint32_t kHeight = 70;
constexpr uint32_t kStripRows = 8; // 9 strips, the last one short; or 70 of one row
constexpr uint32_t kTile = 32;     // 3 x 3 tiles, the bottom ones clipped

enum class Damage {
    None,
    Cut,        // block 4 keeps a third of its bytes
    Gone,       // block 4 lies beyond the end of the file
    Swapped,    // block 4 holds block 8's bytes (a JPEG strip of another height)
    Progress,   // the progress handler raises at row 37
};

struct Case {
    const char* Name;
    uint16_t Compression;
    uint16_t Samples;    // 1 or 3
    uint16_t Bits;       // 1, 4 or 8
    bool Tiled;
    uint16_t Predictor;  // 1 none, 2 horizontal
    Damage Harm;
    uint32_t StripRows = kStripRows; // one-row strips go to the threads several at a time
};

uint8_t Sample(uint32_t x, uint32_t y, uint32_t s)
{
    return static_cast<uint8_t>((x * 7 + y * 13 + s * 50) ^ ((x * y) >> 3));
}

// The image's rows as stored (1-bit: a few slanted black lines on white).
Bytes Rows(const Case& c)
{
    const uint32_t rowBytes = (kWidth * c.Samples * c.Bits + 7) / 8;
    Bytes rows(size_t(rowBytes) * kHeight, 0);
    for (uint32_t y = 0; y < kHeight; ++y)
        for (uint32_t x = 0; x < kWidth; ++x)
            for (uint32_t s = 0; s < c.Samples; ++s) {
                uint8_t* row = rows.data() + size_t(y) * rowBytes;
                if (c.Bits == 8)
                    row[x * c.Samples + s] = Sample(x, y, s);
                else if (c.Bits == 4)
                    row[x / 2] |= static_cast<uint8_t>((Sample(x, y, 0) >> 4) << (x % 2 ? 0 : 4));
                else if ((x + 2 * y) % 11 < 3)
                    row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            }
    return rows;
}

// ThunderScan, which libtiff does not write: every pixel a raw 4-bit value.
TEncodedBlocks Thunder(const Bytes& rows, uint32_t stripRows)
{
    TEncodedBlocks out;
    const uint32_t rowBytes = kWidth / 2;
    for (uint32_t y = 0; y < kHeight; y += stripRows) {
        Bytes strip;
        for (uint32_t r = y; r < std::min(y + stripRows, kHeight); ++r)
            for (uint32_t x = 0; x < kWidth; ++x)
                strip.push_back(static_cast<uint8_t>(0xC0 | ((rows[r * rowBytes + x / 2] >> (x % 2 ? 0 : 4)) & 15)));
        out.Blocks.push_back(strip);
    }
    return out;
}

Bytes Build(const Case& c)
{
    TEncodedBlocks encoded = c.Compression == 32809
                                 ? Thunder(Rows(c), c.StripRows)
                                 : EncodeWithLibtiff({kWidth, kHeight, c.Samples, c.Bits, c.Compression, c.Predictor,
                                                      c.Tiled ? kTile : 0, c.StripRows},
                                                     Rows(c));
    std::vector<Bytes>& blocks = encoded.Blocks;
    if (c.Harm == Damage::Cut)
        blocks[4].resize(blocks[4].size() / 3);
    if (c.Harm == Damage::Swapped)
        blocks[4] = blocks.back();
    TiffBuilder b;
    b.Long(256, kWidth).Long(257, kHeight).Tag(258, ftShort, std::vector<uint32_t>(c.Samples, c.Bits));
    b.Short(259, c.Compression).Short(262, c.Samples == 3 ? 2 : 0).Short(277, c.Samples);
    if (c.Predictor == 2)
        b.Short(317, 2);
    if (!encoded.Tables.empty())
        b.Bytes(347, ftUndefined, encoded.Tables);
    std::vector<size_t> indices;
    std::vector<uint32_t> counts;
    for (const Bytes& block : blocks) {
        indices.push_back(b.Block(block));
        counts.push_back(static_cast<uint32_t>(block.size()));
    }
    if (c.Tiled)
        b.Long(322, kTile).Long(323, kTile).Offsets(324, indices).Tag(325, ftLong, counts);
    else
        b.Long(278, c.StripRows).Offsets(273, indices).Tag(279, ftLong, counts);
    if (c.Harm == Damage::Gone) {
        // The offsets as the builder lays the blocks out, but block 4's
        // beyond the end of the file.
        std::vector<uint32_t> offsets;
        uint32_t at = 8;
        for (const Bytes& block : blocks) {
            offsets.push_back(at);
            at += static_cast<uint32_t>(block.size() + block.size() % 2);
        }
        offsets[4] = 0x7FFFFFF0;
        b.Tag(c.Tiled ? 324 : 273, ftLong, offsets);
    }
    return b.Build();
}

// Everything a load shows, for comparison.
struct Outcome {
    std::string Error;
    int64_t EarlyEnd = -1;
    std::vector<uint32_t> Pixels;
    std::vector<std::string> Progress;
    std::vector<std::string> Warnings;
    uint32_t RowIndex = 0;
    uint32_t StripIndex = 0;
};

Outcome LoadWith(unsigned threads, const Bytes& file, Damage harm)
{
    pwthreads::SetThreadCount(threads);
    Outcome out;
    SetJPEGWarningHook([&](const std::string& text) { out.Warnings.push_back(text); });
    TTIFFGraphic graphic;
    graphic.OnProgress = [&](TGraphic*, TProgressStage stage, uint8_t percent, bool, const TRect& r,
                             const std::string& msg) {
        out.Progress.push_back(std::to_string(stage) + " " + std::to_string(percent) + " " + std::to_string(r.Top) +
                               " " + msg);
        if (harm == Damage::Progress && stage == psRunning && r.Top == 37)
            throw std::runtime_error("stopped at row 37");
    };
    TMemoryStream stream(file.data(), file.size());
    out.Error = ErrorOf([&] { graphic.LoadFromStream(stream); });
    SetJPEGWarningHook({});
    pwthreads::SetThreadCount(0);
    out.EarlyEnd = graphic.EarlyEndRow();
    if (!graphic.Empty())
        out.Pixels = Pixels(graphic);
    out.RowIndex = graphic.ImageProperties.RowIndex;
    out.StripIndex = graphic.ImageProperties.StripIndex;
    return out;
}

} // namespace

TEST(TiffThreads, SeveralThreadsGiveWhatOneGives)
{
    const Case cases[] = {
        {"uncompressed grey", 1, 1, 8, false, 1, Damage::None},
        {"uncompressed RGB, a strip gone", 1, 3, 8, false, 1, Damage::Gone},
        {"uncompressed RGB tiles, stopped", 1, 3, 8, true, 1, Damage::Progress},
        {"PackBits grey, cut", 32773, 1, 8, false, 1, Damage::Cut},
        {"PackBits RGB, cut", 32773, 3, 8, false, 1, Damage::Cut},
        {"PackBits RGB, stopped", 32773, 3, 8, false, 1, Damage::Progress},
        {"PackBits RGB in one-row strips, stopped", 32773, 3, 8, false, 1, Damage::Progress, 1},
        {"LZW RGB with predictor", 5, 3, 8, false, 2, Damage::None},
        {"LZW RGB with predictor, cut", 5, 3, 8, false, 2, Damage::Cut},
        {"LZW RGB in one-row strips, stopped", 5, 3, 8, false, 1, Damage::Progress, 1},
        {"LZW grey tiles, stopped", 5, 1, 8, true, 1, Damage::Progress},
        {"Deflate grey, cut", 8, 1, 8, false, 1, Damage::Cut},
        {"Deflate RGB tiles, a tile gone", 8, 3, 8, true, 1, Damage::Gone},
        {"ZSTD RGB with predictor, cut", 50000, 3, 8, false, 2, Damage::Cut},
        {"LZMA grey tiles, stopped", 34925, 1, 8, true, 1, Damage::Progress},
        {"WebP RGB tiles, a tile gone", 50001, 3, 8, true, 1, Damage::Gone},
        {"JPEG RGB", 7, 3, 8, false, 1, Damage::None},
        {"JPEG RGB, cut", 7, 3, 8, false, 1, Damage::Cut},
        {"JPEG RGB, a strip of another height", 7, 3, 8, false, 1, Damage::Swapped},
        {"JPEG grey tiles, cut", 7, 1, 8, true, 1, Damage::Cut},
        {"JPEG grey, stopped", 7, 1, 8, false, 1, Damage::Progress},
        {"Group 3, cut", 3, 1, 1, false, 1, Damage::Cut},
        {"Group 4, stopped", 4, 1, 1, false, 1, Damage::Progress},
        {"Group 4 tiles, cut", 4, 1, 1, true, 1, Damage::Cut},
        {"ThunderScan, cut", 32809, 1, 4, false, 1, Damage::Cut},
        {"ThunderScan in one-row strips, stopped", 32809, 1, 4, false, 1, Damage::Progress, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const Bytes file = Build(c);
        const Outcome one = LoadWith(1, file, c.Harm);
        // The damage shows on one thread as it should.
        EXPECT_EQ(one.Error.empty(), c.Harm != Damage::Progress && c.Harm != Damage::Swapped) << one.Error;
        // A cut JPEG block is filled in by the library, with a warning.
        const bool jpeg = c.Compression == 7;
        EXPECT_EQ(one.EarlyEnd >= 0, (c.Harm == Damage::Cut && !jpeg) || c.Harm == Damage::Gone);
        EXPECT_EQ(one.Warnings.size(), c.Harm == Damage::Cut && jpeg ? 1u : 0u);
        for (unsigned threads : {2u, 3u}) {
            SCOPED_TRACE(threads);
            const Outcome many = LoadWith(threads, file, c.Harm);
            EXPECT_EQ(many.Error, one.Error);
            EXPECT_EQ(many.EarlyEnd, one.EarlyEnd);
            EXPECT_EQ(many.Progress, one.Progress);
            EXPECT_EQ(many.Warnings, one.Warnings);
            EXPECT_EQ(many.RowIndex, one.RowIndex);
            EXPECT_EQ(many.StripIndex, one.StripIndex);
            EXPECT_TRUE(many.Pixels == one.Pixels);
        }
    }
}
