#include "imaging/compression/lz77_decoder.h"
#include "imaging/compression/thunder_decoder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Deflate(const Bytes& data)
{
    uLongf size = compressBound(data.size());
    Bytes out(size);
    EXPECT_EQ(compress2(out.data(), &size, data.data(), data.size(), 9), Z_OK);
    out.resize(size);
    return out;
}

Bytes SomeData(size_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes data(size);
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<uint8_t>(i % 97 < 40 ? i / 97 : rng() % 8);
    return data;
}

TEST(LZ77, OneCallInflatesAndAdvancesBothPointers)
{
    const Bytes data = SomeData(20000, 1);
    const Bytes packed = Deflate(data);
    TLZ77Decoder decoder(Z_FINISH, false);
    decoder.ExpandStart();
    Bytes out(data.size());
    const uint8_t* s = packed.data();
    uint8_t* t = out.data();
    const TExpandResult r = decoder.Expand(s, packed.size(), t, out.size(), packed.size(), out.size());
    decoder.ExpandFinish();
    EXPECT_EQ(out, data);
    EXPECT_EQ(r.Consumed, packed.size());
    EXPECT_EQ(r.Produced, data.size());
    EXPECT_EQ(s, packed.data() + packed.size());
    EXPECT_EQ(t, out.data() + out.size());
    EXPECT_EQ(decoder.InputLeft(), 0u);
    EXPECT_EQ(decoder.OutputLeft(), 0u);
    EXPECT_EQ(decoder.LastResult(), Z_STREAM_END);
}

// The PNG reader's way: input in chunks cut anywhere, output one row per
// call, the cursor walking through each chunk.
TEST(LZ77, RowsFromChunksOfOneStream)
{
    const size_t rowBytes = 301, rows = 60;
    const Bytes data = SomeData(rowBytes * rows, 2);
    const Bytes packed = Deflate(data);
    TLZ77Decoder decoder(Z_PARTIAL_FLUSH, false);
    decoder.ExpandStart();
    Bytes out(data.size());
    size_t chunkStart = 0, chunkSize = 0;
    const uint8_t* cursor = nullptr;
    for (size_t y = 0; y < rows; ++y) {
        uint8_t* row = out.data() + y * rowBytes;
        size_t wanted = rowBytes;
        while (wanted > 0) {
            if (decoder.InputLeft() == 0 && (cursor == nullptr || cursor == packed.data() + chunkStart + chunkSize)) {
                chunkStart += chunkSize;
                chunkSize = std::min<size_t>(37 + y % 5, packed.size() - chunkStart);
                cursor = packed.data() + chunkStart;
            }
            const size_t left = packed.data() + chunkStart + chunkSize - cursor;
            const TExpandResult r = decoder.Expand(cursor, left, row, wanted, left, wanted);
            wanted -= r.Produced;
            if (r.Produced == 0 && left == 0 && chunkStart + chunkSize == packed.size())
                break;
        }
    }
    decoder.ExpandFinish();
    EXPECT_EQ(out, data);
}

// A call that finds no input makes no progress; the stream goes on with the
// next call that brings some.
TEST(LZ77, CallWithoutInputDoesNotStopTheStream)
{
    const Bytes data = SomeData(5000, 3);
    const Bytes packed = Deflate(data);
    const size_t half = packed.size() / 2;
    TLZ77Decoder decoder(Z_PARTIAL_FLUSH, false);
    decoder.ExpandStart();
    Bytes out(data.size());
    const uint8_t* s = packed.data();
    uint8_t* t = out.data();
    decoder.Expand(s, half, t, out.size(), half, out.size());
    const size_t produced = t - out.data();
    decoder.Expand(s, 0, t, out.data() + out.size() - t, 0, out.data() + out.size() - t);
    EXPECT_EQ(decoder.LastResult(), Z_BUF_ERROR);
    const size_t rest = packed.data() + packed.size() - s;
    decoder.Expand(s, rest, t, out.data() + out.size() - t, rest, out.data() + out.size() - t);
    decoder.ExpandFinish();
    EXPECT_LT(produced, data.size());
    EXPECT_EQ(out, data);
}

TEST(LZ77, AfterTheStreamEndLaterCallsLeaveTheTargetAlone)
{
    const Bytes packed = Deflate(SomeData(100, 4));
    TLZ77Decoder decoder(Z_PARTIAL_FLUSH, false);
    decoder.ExpandStart();
    Bytes out(100);
    const uint8_t* s = packed.data();
    uint8_t* t = out.data();
    decoder.Expand(s, packed.size(), t, out.size(), packed.size(), out.size());
    ASSERT_EQ(decoder.LastResult(), Z_STREAM_END);
    Bytes more(50, 0xEE);
    s = packed.data();
    t = more.data();
    const TExpandResult r = decoder.Expand(s, packed.size(), t, more.size(), packed.size(), more.size());
    EXPECT_EQ(r.Produced, 0u);
    EXPECT_EQ(more, Bytes(50, 0xEE));
    EXPECT_EQ(t, more.data());
    decoder.ExpandFinish();
}

TEST(LZ77, AutoResetTakesEveryStripAsAStreamOfItsOwn)
{
    TLZ77Decoder decoder(Z_PARTIAL_FLUSH, true);
    decoder.ExpandStart();
    for (unsigned strip = 0; strip < 3; ++strip) {
        const Bytes data = SomeData(3000 + strip, 10 + strip);
        const Bytes packed = Deflate(data);
        Bytes out(data.size());
        const uint8_t* s = packed.data();
        uint8_t* t = out.data();
        decoder.Expand(s, packed.size(), t, out.size(), packed.size(), out.size());
        EXPECT_EQ(out, data) << "strip " << strip;
    }
    decoder.ExpandFinish();
}

// A stored block whose length check fails: zlib reports a data error, the
// decoder raises nothing and later calls do nothing.
TEST(LZ77, DataErrorEndsQuietlyWithOutputLeft)
{
    const Bytes packed{0x78, 0x01, 0x01, 0x05, 0x00, 0x00, 0x00, 'a', 'b', 'c', 'd', 'e'};
    TLZ77Decoder decoder(Z_PARTIAL_FLUSH, false);
    decoder.ExpandStart();
    Bytes out(5, 0xEE);
    const uint8_t* s = packed.data();
    uint8_t* t = out.data();
    decoder.Expand(s, packed.size(), t, out.size(), packed.size(), out.size());
    EXPECT_EQ(decoder.OutputLeft(), 5u);
    EXPECT_EQ(decoder.LastResult(), Z_DATA_ERROR);
    const Bytes good = Deflate(Bytes(5, 'x'));
    s = good.data();
    t = out.data();
    EXPECT_EQ(decoder.Expand(s, good.size(), t, out.size(), good.size(), out.size()).Produced, 0u);
    EXPECT_EQ(out, Bytes(5, 0xEE));
    EXPECT_NO_THROW(decoder.ExpandFinish());
}

TEST(LZ77, TruncatedAndDamagedStreams)
{
    const Bytes data = SomeData(3000, 7);
    const Bytes packed = Deflate(data);
    std::mt19937 rng(8);
    for (size_t cut = 0; cut <= packed.size(); ++cut) {
        Bytes part(packed.begin(), packed.begin() + cut);
        Bytes damaged = packed;
        damaged[rng() % damaged.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
        for (Bytes* source : {&part, &damaged}) {
            TLZ77Decoder decoder(Z_PARTIAL_FLUSH, true);
            decoder.ExpandStart();
            Bytes out(data.size() - rng() % 50);
            const uint8_t* s = source->data();
            uint8_t* t = out.data();
            const TExpandResult r = decoder.Expand(s, source->size(), t, out.size(), source->size(), out.size());
            decoder.ExpandFinish();
            ASSERT_LE(r.Consumed, source->size());
            ASSERT_LE(r.Produced, out.size());
            if (source == &part) {
                ASSERT_TRUE(std::equal(out.begin(), out.begin() + r.Produced, data.begin())) << "cut at " << cut;
            }
        }
    }
}

// The one-call inflate of whole strips gives the bytes the streaming
// inflate gives, for good, cut, damaged, short and overlong streams, with and
// without a larger whole size (a tile at the image's edge).
TEST(LZ77, ExpandWholeGivesWhatExpandGives)
{
    const Bytes data = SomeData(4000, 9);
    const Bytes packed = Deflate(data);
    std::mt19937 rng(10);
    auto check = [&](const Bytes& source, size_t targetSize, size_t wholeSize, const char* what, size_t n) {
        Bytes viaZlib(targetSize, 0xEE);
        Bytes whole(targetSize, 0xEE);
        TLZ77Decoder streaming(Z_PARTIAL_FLUSH, true);
        streaming.ExpandStart();
        const uint8_t* s = source.data();
        uint8_t* t = viaZlib.data();
        const size_t expected = streaming.Expand(s, source.size(), t, targetSize, source.size(), targetSize).Produced;
        TLZ77Decoder decoder(Z_PARTIAL_FLUSH, true);
        decoder.ExpandStart();
        // Twice, so that the second call reuses what the first set up.
        for (int call = 0; call < 2; ++call) {
            const size_t produced = decoder.ExpandWhole(source.data(), source.size(), whole.data(), targetSize,
                                                        wholeSize);
            ASSERT_EQ(produced, expected) << what << ' ' << n << " call " << call;
            ASSERT_TRUE(std::equal(whole.begin(), whole.begin() + produced, viaZlib.begin()))
                << what << ' ' << n << " call " << call;
        }
        decoder.ExpandFinish();
    };
    for (size_t cut = 0; cut <= packed.size(); cut += 3)
        check(Bytes(packed.begin(), packed.begin() + cut), data.size(), 0, "cut at", cut);
    for (size_t n = 0; n < 400; ++n) {
        Bytes damaged = packed;
        for (size_t flips = 1 + n % 3; flips > 0; --flips)
            damaged[rng() % damaged.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
        check(damaged, data.size(), 0, "damaged", n);
        check(damaged, data.size() / 2, data.size(), "damaged, first half wanted", n);
    }
    for (const size_t size : {size_t(1), size_t(999), data.size() - 1, data.size(), data.size() + 1}) {
        check(packed, size, 0, "target size", size);
        check(packed, size, data.size(), "target size, whole size known", size);
        check(packed, size, size + 10, "target size, whole size too small", size);
    }
    check(Bytes{}, 100, 0, "no data", 0);
}

// Without auto reset a call continues the stream, as Expand does; before
// ExpandStart nothing is decoded.
TEST(LZ77, ExpandWholeOutsideWholeStrips)
{
    const Bytes data = SomeData(2000, 11);
    const Bytes packed = Deflate(data);
    const size_t half = packed.size() / 2;
    TLZ77Decoder continuing(Z_PARTIAL_FLUSH, false);
    continuing.ExpandStart();
    Bytes out(data.size());
    const size_t first = continuing.ExpandWhole(packed.data(), half, out.data(), out.size());
    const size_t second =
        continuing.ExpandWhole(packed.data() + half, packed.size() - half, out.data() + first, out.size() - first);
    continuing.ExpandFinish();
    EXPECT_LT(first, data.size());
    EXPECT_EQ(first + second, data.size());
    EXPECT_EQ(out, data);

    TLZ77Decoder unstarted(Z_PARTIAL_FLUSH, true);
    Bytes untouched(10, 0xEE);
    EXPECT_EQ(unstarted.ExpandWhole(packed.data(), packed.size(), untouched.data(), untouched.size()), 0u);
    EXPECT_EQ(untouched, Bytes(10, 0xEE));
}

TEST(LZ77, ExpandWithoutStartDecodesNothing)
{
    const Bytes packed = Deflate(SomeData(10, 6));
    TLZ77Decoder decoder(Z_PARTIAL_FLUSH, false);
    Bytes out(10, 0xEE);
    const uint8_t* s = packed.data();
    uint8_t* t = out.data();
    EXPECT_EQ(decoder.Expand(s, packed.size(), t, out.size(), packed.size(), out.size()).Produced, 0u);
    EXPECT_EQ(out, Bytes(10, 0xEE));
    EXPECT_NO_THROW(decoder.ExpandFinish());
}

// ---- ThunderScan ------------------------------------------------------------

struct ThunderCase {
    const char* Name;
    int Width;
    Bytes Input;
    size_t TargetSize;
    Bytes Expected;
};

void PrintTo(const ThunderCase& c, std::ostream* os)
{
    *os << c.Name;
}

const ThunderCase ThunderCases[] = {
    {"RawPixels", 2, {0xC5, 0xC7}, 1, {0x57}},
    {"RunRepeatsTheLastPixel", 4, {0xC5, 0xC7, 0x02}, 2, {0x57, 0x77}},
    {"RunFromAnEvenPosition", 5, {0xC3, 0x04}, 3, {0x33, 0x33, 0x30}},
    {"TwoBitDeltaCodeTwoSetsNoPixel", 3, {0xC5, 0x60}, 2, {0x55, 0x50}},
    {"TwoBitDeltas", 4, {0xC5, 0x5C}, 2, {0x56, 0x55}},
    {"ThreeBitDeltas", 3, {0xC5, 0x8B}, 2, {0x56, 0x90}},
    {"ThreeBitDeltaCodeFourSetsNoPixel", 2, {0xC5, 0xA5}, 1, {0x52}},
    {"DeltasWrapAroundFourBits", 4, {0xC0, 0x7F}, 2, {0x0F, 0xED}},
    // Each row starts from pixel 0, and a run is cut at the row end.
    {"RowsAreCodedOnTheirOwn", 3, {0xC9, 0x03, 0x51}, 4, {0x99, 0x90, 0x11, 0x20}},
    {"RowsOfOddWidthStartOnBytes", 1, {0xC1, 0xC2, 0xC3}, 3, {0x10, 0x20, 0x30}},
    {"TargetCutsTheLastRow", 4, {0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7}, 3, {0x12, 0x34, 0x56}},
    {"EndOfDataEndsTheRow", 4, {0xC1, 0xC2, 0xC3}, 2, {0x12, 0x30}},
};

class Thunder : public ::testing::TestWithParam<ThunderCase> {};

TEST_P(Thunder, Decode)
{
    const ThunderCase& c = GetParam();
    TThunderDecoder decoder(c.Width);
    Bytes source = c.Input;
    Bytes target(c.TargetSize, 0xEE);
    const uint8_t* s = source.data();
    uint8_t* t = target.data();
    const TExpandResult r = decoder.Expand(s, source.size(), t, target.size(), source.size(), target.size());
    EXPECT_EQ(target, c.Expected);
    EXPECT_EQ(r.Produced, c.Expected.size());
    EXPECT_EQ(s, source.data());
    EXPECT_EQ(t, target.data());
}

INSTANTIATE_TEST_SUITE_P(Codes, Thunder, ::testing::ValuesIn(ThunderCases),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace
