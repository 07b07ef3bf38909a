#include "imaging/compression/run_length_decoders.h"

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <functional>
#include <memory>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct Decoded {
    Bytes Out;        // the whole target
    TExpandResult Result;
    size_t Advanced;  // how far Source was moved
};

// One Expand over exactly sized buffers (ASan sees any write past the end).
Decoded Expand(TDecoder& decoder, const Bytes& input, size_t targetSize, size_t packed, size_t unpacked,
               uint8_t fill = 0xEE)
{
    Bytes source = input;
    Bytes target(targetSize, fill);
    const uint8_t* s = source.data();
    uint8_t* t = target.data();
    const TExpandResult result = decoder.Expand(s, source.size(), t, target.size(), packed, unpacked);
    EXPECT_EQ(t, target.data()) << "no run-length decoder moves the target";
    return {target, result, static_cast<size_t>(s - source.data())};
}

using Factory = std::function<std::unique_ptr<TDecoder>()>;

struct EdgeCase {
    const char* Name;
    Factory Make;
    Bytes Input;
    size_t Packed;
    size_t Unpacked;
    size_t TargetSize;
    Bytes Expected; // the start of the target; the rest must keep the fill byte
    size_t Consumed;
    size_t Advanced;
};

template <typename T, typename... A>
Factory Make(A... args)
{
    return [=] { return std::make_unique<T>(args...); };
}

const EdgeCase EdgeCases[] = {
    {"PackBitsRun", Make<TPackbitsRLEDecoder>(), {0xFE, 0xAA}, 2, 3, 3, {0xAA, 0xAA, 0xAA}, 2, 0},
    {"PackBitsLiteral", Make<TPackbitsRLEDecoder>(), {0x02, 1, 2, 3}, 4, 3, 3, {1, 2, 3}, 4, 0},
    {"PackBitsNoOp", Make<TPackbitsRLEDecoder>(), {0x80, 0x00, 5}, 3, 1, 1, {5}, 3, 0},
    {"PackBitsLiteralCutToUnpacked", Make<TPackbitsRLEDecoder>(), {0x04, 1, 2, 3, 4, 5, 0xFF, 9}, 8, 3, 4,
     {1, 2, 3}, 6, 0},
    {"PackBitsStopsWhenUnpackedDone", Make<TPackbitsRLEDecoder>(), {0xFF, 7, 0x00, 8}, 4, 2, 4, {7, 7}, 2, 0},
    {"PackBitsStopsWhenPackedDone", Make<TPackbitsRLEDecoder>(), {0xFF, 7, 0x00, 8}, 2, 4, 4, {7, 7}, 2, 0},
    {"PackBitsLiteralCutToPacked", Make<TPackbitsRLEDecoder>(), {0x03, 1, 2, 3, 4}, 3, 4, 4, {1, 2}, 3, 0},
    {"PackBitsRunCutToTarget", Make<TPackbitsRLEDecoder>(), {0x81, 6}, 2, 200, 5, {6, 6, 6, 6, 6}, 2, 0},
    {"PackBitsRunWithoutValue", Make<TPackbitsRLEDecoder>(), {0x01, 4, 5, 0xFD}, 4, 9, 9, {4, 5}, 4, 0},
    {"PCXRun", Make<TPCXRLEDecoder>(), {0xC3, 0x07}, 0, 3, 3, {7, 7, 7}, 2, 0},
    {"PCXEmptyRun", Make<TPCXRLEDecoder>(), {0xC0, 0x07, 0x41}, 0, 1, 1, {0x41}, 3, 0},
    {"PCXPlainByte", Make<TPCXRLEDecoder>(), {0x41}, 0, 1, 1, {0x41}, 1, 0},
    {"PCXRunCutToUnpacked", Make<TPCXRLEDecoder>(), {0xFF, 0x07, 0x01}, 0, 4, 6, {7, 7, 7, 7}, 2, 0},
    {"SGI8", Make<TSGIRLEDecoder>(uint8_t{8}), {0x83, 1, 2, 3, 0x02, 9, 0x00, 4}, 0, 0, 5, {1, 2, 3, 9, 9}, 7, 0},
    {"SGI8CutToTarget", Make<TSGIRLEDecoder>(uint8_t{8}), {0x05, 9, 0x82, 1, 2, 0x00}, 0, 0, 3, {9, 9, 9}, 6, 0},
    {"SGI16", Make<TSGIRLEDecoder>(uint8_t{16}), {0x00, 0x82, 1, 2, 3, 4, 0x00, 0x02, 0xAB, 0xCD, 0x00, 0x00},
     0, 0, 8, {1, 2, 3, 4, 0xAB, 0xCD, 0xAB, 0xCD}, 12, 0},
    {"SGI16CutToWholeSamples", Make<TSGIRLEDecoder>(uint8_t{16}), {0x00, 0x03, 0xAB, 0xCD, 0x00, 0x00}, 0, 0, 5,
     {0xAB, 0xCD, 0xAB, 0xCD}, 6, 0},
    {"CUTRow", Make<TCUTRLEDecoder>(), {5, 0, 0x84, 7, 0x02, 1, 2, 0, 0x81}, 0, 6, 6, {7, 7, 7, 7, 1, 2}, 8, 8},
    {"CUTRowLongerThanTarget", Make<TCUTRLEDecoder>(), {5, 0, 0x85, 7, 0x02, 1, 2, 0, 0x81}, 0, 4, 4,
     {7, 7, 7, 7}, 8, 8},
    {"CUTRowWithoutEnd", Make<TCUTRLEDecoder>(), {5, 0, 0x03, 1, 2}, 0, 4, 4, {1, 2}, 5, 5},
    {"PSPRun", Make<TPSPRLEDecoder>(), {0x83, 9}, 2, 0, 3, {9, 9, 9}, 2, 0},
    {"PSPLiteral", Make<TPSPRLEDecoder>(), {0x02, 1, 2}, 3, 0, 2, {1, 2}, 3, 0},
    {"PSPStopsAtPackedSize", Make<TPSPRLEDecoder>(), {0x82, 4, 0x82, 5}, 2, 0, 4, {4, 4}, 2, 0},
    {"PSPCutToTarget", Make<TPSPRLEDecoder>(), {0x02, 1, 2, 0x84, 3}, 5, 0, 3, {1, 2, 3}, 5, 0},
    {"RLARun", Make<TRLADecoder>(), {0x02, 5}, 2, 0, 3, {5, 5, 5}, 2, 0},
    {"RLALiteral", Make<TRLADecoder>(), {0xFE, 1, 2}, 3, 0, 2, {1, 2}, 3, 0},
    {"RLACutToTarget", Make<TRLADecoder>(), {0x7F, 5, 0xFF, 6}, 4, 0, 3, {5, 5, 5}, 4, 0},
    {"Targa24Run", Make<TTargaRLEDecoder>(24), {0x81, 1, 2, 3, 0x55}, 0, 2, 6, {1, 2, 3, 1, 2, 3}, 4, 4},
    {"Targa24Literal", Make<TTargaRLEDecoder>(24), {0x00, 1, 2, 3, 0x55}, 0, 1, 3, {1, 2, 3}, 4, 4},
    {"Targa16Run", Make<TTargaRLEDecoder>(16), {0x82, 0x34, 0x12}, 0, 3, 6, {0x34, 0x12, 0x34, 0x12, 0x34, 0x12},
     3, 3},
    {"Targa15IsTwoBytes", Make<TTargaRLEDecoder>(15), {0x01, 1, 2, 3, 4}, 0, 2, 4, {1, 2, 3, 4}, 5, 5},
    {"Targa32", Make<TTargaRLEDecoder>(32), {0x80, 1, 2, 3, 4}, 0, 1, 4, {1, 2, 3, 4}, 5, 5},
    {"Targa8RunCutToTarget", Make<TTargaRLEDecoder>(8), {0xFF, 9}, 0, 300, 4, {9, 9, 9, 9}, 2, 2},
    {"TargaOddDepthDecodesNothing", Make<TTargaRLEDecoder>(12), {0x81, 1, 2}, 0, 2, 4, {}, 0, 0},
    {"TargaTruncatedPixel", Make<TTargaRLEDecoder>(24), {0x00, 1, 2, 3, 0x81, 4, 5}, 0, 3, 9, {1, 2, 3}, 5, 5},
};

void PrintTo(const EdgeCase& c, std::ostream* os)
{
    *os << c.Name;
}

class RunLengthEdgeCase : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(RunLengthEdgeCase, DecodesAsCoded)
{
    const EdgeCase& c = GetParam();
    auto decoder = c.Make();
    decoder->ExpandStart();
    const Decoded d = Expand(*decoder, c.Input, c.TargetSize, c.Packed, c.Unpacked);
    decoder->ExpandFinish();
    Bytes expected = c.Expected;
    expected.resize(c.TargetSize, 0xEE);
    EXPECT_EQ(d.Out, expected);
    EXPECT_EQ(d.Result.Produced, c.Expected.size());
    EXPECT_EQ(d.Result.Consumed, c.Consumed);
    EXPECT_EQ(d.Advanced, c.Advanced);
}

INSTANTIATE_TEST_SUITE_P(Schemes, RunLengthEdgeCase, ::testing::ValuesIn(EdgeCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- Round trips through small encoders -----------------------------------

// A run repeats one element, a literal copies Count elements from Start.
struct Token {
    bool Run;
    size_t Start; // element index
    size_t Count; // elements
};

// Greedy split of data (elements of size bytes) into runs of at least two
// equal elements and literals, each at most maxRun / maxLiteral long.
std::vector<Token> Tokenize(const Bytes& data, size_t size, size_t maxRun, size_t maxLiteral)
{
    const size_t n = data.size() / size;
    auto same = [&](size_t a, size_t b) { return std::equal(&data[a * size], &data[a * size] + size, &data[b * size]); };
    std::vector<Token> tokens;
    size_t i = 0;
    while (i < n) {
        size_t run = 1;
        while (i + run < n && run < maxRun && same(i, i + run))
            ++run;
        if (run >= 2) {
            tokens.push_back({true, i, run});
            i += run;
            continue;
        }
        size_t lit = 1;
        while (i + lit < n && lit < maxLiteral && !(i + lit + 1 < n && same(i + lit, i + lit + 1)))
            ++lit;
        tokens.push_back({false, i, lit});
        i += lit;
    }
    return tokens;
}

void Append(Bytes& out, const Bytes& data, size_t size, const Token& t)
{
    out.insert(out.end(), data.begin() + t.Start * size, data.begin() + (t.Start + (t.Run ? 1 : t.Count)) * size);
}

Bytes EncodePackBits(const Bytes& data)
{
    Bytes out;
    for (const Token& t : Tokenize(data, 1, 128, 128)) {
        out.push_back(t.Run ? static_cast<uint8_t>(1 - static_cast<int>(t.Count)) : static_cast<uint8_t>(t.Count - 1));
        Append(out, data, 1, t);
    }
    return out;
}

Bytes EncodeTarga(const Bytes& data, size_t p)
{
    Bytes out;
    for (const Token& t : Tokenize(data, p, 128, 128)) {
        out.push_back(static_cast<uint8_t>((t.Run ? 0x80 : 0) | (t.Count - 1)));
        Append(out, data, p, t);
    }
    return out;
}

Bytes EncodePCX(const Bytes& data)
{
    Bytes out;
    for (const Token& t : Tokenize(data, 1, 63, 1)) {
        const uint8_t v = data[t.Start];
        if (t.Run || v >= 0xC0) {
            out.push_back(static_cast<uint8_t>(0xC0 | t.Count));
            out.push_back(v);
        } else {
            out.push_back(v);
        }
    }
    return out;
}

Bytes EncodeSGI(const Bytes& data, size_t size)
{
    Bytes out;
    auto control = [&](unsigned c) {
        if (size == 2)
            out.push_back(0);
        out.push_back(static_cast<uint8_t>(c));
    };
    for (const Token& t : Tokenize(data, size, 127, 127)) {
        control(static_cast<unsigned>((t.Run ? 0 : 0x80) | t.Count));
        Append(out, data, size, t);
    }
    control(0);
    return out;
}

Bytes EncodeCUTRow(const Bytes& data)
{
    Bytes packets;
    for (const Token& t : Tokenize(data, 1, 127, 127)) {
        packets.push_back(static_cast<uint8_t>((t.Run ? 0x80 : 0) | t.Count));
        Append(packets, data, 1, t);
    }
    packets.push_back(0);
    Bytes out{static_cast<uint8_t>(packets.size()), static_cast<uint8_t>(packets.size() >> 8)};
    out.insert(out.end(), packets.begin(), packets.end());
    return out;
}

Bytes EncodePSP(const Bytes& data)
{
    Bytes out;
    for (const Token& t : Tokenize(data, 1, 127, 127)) {
        out.push_back(static_cast<uint8_t>(t.Run ? 0x80 + t.Count : t.Count));
        Append(out, data, 1, t);
    }
    return out;
}

Bytes EncodeRLA(const Bytes& data)
{
    Bytes out;
    for (const Token& t : Tokenize(data, 1, 128, 128)) {
        out.push_back(t.Run ? static_cast<uint8_t>(t.Count - 1) : static_cast<uint8_t>(-static_cast<int>(t.Count)));
        Append(out, data, 1, t);
    }
    return out;
}

// Runs of random lengths (up to 400, so longer than every packet) and
// stretches of random elements as long (so literals reach their maximum
// lengths too).
Bytes RandomData(std::mt19937& rng, size_t size, size_t elementSize)
{
    Bytes data;
    std::uniform_int_distribution<int> byte(0, 255), length(1, 400), kind(0, 1);
    while (data.size() < size) {
        const int n = length(rng);
        const bool literal = kind(rng) == 0;
        Bytes element(elementSize);
        for (int i = 0; i < n; ++i) {
            if (i == 0 || literal)
                for (auto& b : element)
                    b = static_cast<uint8_t>(byte(rng));
            data.insert(data.end(), element.begin(), element.end());
        }
    }
    data.resize(size / elementSize * elementSize);
    return data;
}

TEST(RunLengthRoundTrip, OneCallSchemesReproduceRandomData)
{
    std::mt19937 rng(1234);
    for (int round = 0; round < 20; ++round) {
        const Bytes data = RandomData(rng, 5000 + round * 37, 1);
        SCOPED_TRACE(round);
        {
            TPackbitsRLEDecoder d;
            const Bytes in = EncodePackBits(data);
            const Decoded r = Expand(d, in, data.size(), in.size(), data.size());
            EXPECT_EQ(r.Out, data);
            EXPECT_EQ(r.Result.Consumed, in.size());
        }
        {
            TPCXRLEDecoder d;
            const Bytes in = EncodePCX(data);
            const Decoded r = Expand(d, in, data.size(), 0, data.size());
            EXPECT_EQ(r.Out, data);
            EXPECT_EQ(r.Result.Consumed, in.size());
        }
        {
            TSGIRLEDecoder d(8);
            const Bytes in = EncodeSGI(data, 1);
            const Decoded r = Expand(d, in, data.size(), 0, 0);
            EXPECT_EQ(r.Out, data);
            EXPECT_EQ(r.Result.Consumed, in.size());
        }
        {
            TSGIRLEDecoder d(16);
            const Bytes wide = RandomData(rng, 4000, 2);
            const Bytes in = EncodeSGI(wide, 2);
            const Decoded r = Expand(d, in, wide.size(), 0, 0);
            EXPECT_EQ(r.Out, wide);
            EXPECT_EQ(r.Result.Consumed, in.size());
        }
        {
            TPSPRLEDecoder d;
            const Bytes in = EncodePSP(data);
            const Decoded r = Expand(d, in, data.size(), in.size(), data.size());
            EXPECT_EQ(r.Out, data);
        }
        {
            TRLADecoder d;
            const Bytes in = EncodeRLA(data);
            const Decoded r = Expand(d, in, data.size(), in.size(), data.size());
            EXPECT_EQ(r.Out, data);
        }
    }
}

TEST(RunLengthRoundTrip, EncodersReachMaximumPacketLengths)
{
    std::mt19937 rng(1234);
    const Bytes data = RandomData(rng, 5000, 1);
    auto hasControl = [](const Bytes& in, uint8_t c) { return std::find(in.begin(), in.end(), c) != in.end(); };
    EXPECT_TRUE(hasControl(EncodePackBits(data), 0x81));
    EXPECT_TRUE(hasControl(EncodePackBits(data), 0x7F));
    EXPECT_TRUE(hasControl(EncodeRLA(data), 0x7F));
    EXPECT_TRUE(hasControl(EncodeRLA(data), 0x80));
    EXPECT_TRUE(hasControl(EncodePSP(data), 0xFF));
    EXPECT_TRUE(hasControl(EncodePSP(data), 0x7F));
    EXPECT_TRUE(hasControl(EncodePCX(data), 0xFF));
}

// Targa: one packet stream for the whole image, expanded one row per call
// with the cursor walking on, as the Targa reader does; packets cross rows.
TEST(RunLengthRoundTrip, TargaRowsWalkOnePacketStream)
{
    std::mt19937 rng(99);
    for (size_t p : {1u, 2u, 3u, 4u}) {
        const int depth[] = {0, 8, 16, 24, 32};
        const size_t width = 173, height = 40;
        const Bytes image = RandomData(rng, width * height * p, p);
        const Bytes in = EncodeTarga(image, p);
        TTargaRLEDecoder d(depth[p]);
        d.ExpandStart();
        const uint8_t* cursor = in.data();
        size_t left = in.size();
        Bytes out;
        for (size_t y = 0; y < height; ++y) {
            Bytes row(width * p);
            uint8_t* t = row.data();
            const TExpandResult r = d.Expand(cursor, left, t, row.size(), 2 * row.size(), width);
            ASSERT_EQ(r.Produced, row.size());
            left -= r.Consumed;
            out.insert(out.end(), row.begin(), row.end());
        }
        EXPECT_EQ(out, image) << p << " bytes per pixel";
        EXPECT_EQ(cursor, in.data() + in.size());
    }
}

TEST(RunLengthRoundTrip, CUTRowsWalkTheCursor)
{
    std::mt19937 rng(7);
    const size_t width = 500, height = 12;
    const Bytes image = RandomData(rng, width * height, 1);
    Bytes in;
    for (size_t y = 0; y < height; ++y) {
        const Bytes row(image.begin() + y * width, image.begin() + (y + 1) * width);
        const Bytes coded = EncodeCUTRow(row);
        in.insert(in.end(), coded.begin(), coded.end());
    }
    TCUTRLEDecoder d;
    const uint8_t* cursor = in.data();
    Bytes out(image.size());
    for (size_t y = 0; y < height; ++y) {
        uint8_t* t = out.data() + y * width;
        d.Expand(cursor, in.data() + in.size() - cursor, t, width, 0, width);
    }
    EXPECT_EQ(out, image);
    EXPECT_EQ(cursor, in.data() + in.size());
}

// A run packet over the row end goes on at the start of the next row; a
// literal too, reading on from the cursor.
TEST(TargaRLE, PacketsCrossingTheRowEndCarryOver)
{
    const Bytes in{0x84, 7, 0x03, 1, 2, 3, 4};
    TTargaRLEDecoder d(8);
    const uint8_t* cursor = in.data();
    Bytes rows(9, 0);
    uint8_t* t = rows.data();
    TExpandResult r = d.Expand(cursor, in.size(), t, 3, 6, 3);
    EXPECT_EQ(r.Consumed, 2u);
    t = rows.data() + 3;
    r = d.Expand(cursor, in.data() + in.size() - cursor, t, 3, 6, 3);
    EXPECT_EQ(r.Consumed, 2u);
    t = rows.data() + 6;
    r = d.Expand(cursor, in.data() + in.size() - cursor, t, 3, 6, 3);
    EXPECT_EQ(r.Consumed, 3u);
    EXPECT_EQ(rows, (Bytes{7, 7, 7, 7, 7, 1, 2, 3, 4}));
    // ExpandStart forgets what was carried over.
    cursor = in.data();
    t = rows.data();
    d.Expand(cursor, in.size(), t, 3, 6, 3);
    d.ExpandStart();
    const Bytes next{0x00, 9};
    const uint8_t* c2 = next.data();
    r = d.Expand(c2, next.size(), t, 3, 6, 1);
    EXPECT_EQ(rows[0], 9);
}

} // namespace

// The PackBits decoder takes whole packets in fixed-size moves (or masked
// vector stores) while a packet of the largest size lies in the source and
// cuts only the last ones: against
// a byte-at-a-time decoder on long coded and random streams, with every kind
// of size that ends decoding inside a packet. Read in pieces of random
// lengths, the same data give the same bytes.
TEST(PackBits, MatchesAByteAtATimeDecoder)
{
    const auto reference = [](const Bytes& in, size_t packed, size_t unpacked, Bytes& out) {
        size_t s = 0, t = 0;
        const size_t inEnd = std::min(in.size(), packed), outEnd = std::min(out.size(), unpacked);
        while (t < outEnd && s < inEnd) {
            const int b = static_cast<int8_t>(in[s++]);
            if (b >= 0) {
                for (int i = 0; i <= b && s < inEnd; ++i, ++s)
                    if (t < outEnd)
                        out[t++] = in[s];
            } else if (b != -128 && s < inEnd) {
                for (int i = 0; i < 1 - b && t < outEnd; ++i)
                    out[t++] = in[s];
                ++s;
            }
        }
        return TExpandResult{s, t};
    };
    // Each instruction set this processor runs: the vector packet loop and
    // the fixed-size moves.
    for (const int64_t target : hwy::SupportedAndGeneratedTargets()) {
        hwy::SetSupportedTargetsForTest(target);
        std::mt19937 rng(2024);
        for (int round = 0; round < 300; ++round) {
            SCOPED_TRACE(testing::Message() << round << ", " << hwy::TargetName(target));
            Bytes in = EncodePackBits(RandomData(rng, 1000 + rng() % 3000, 1));
            if (round % 3 == 0)
                for (auto& b : in)
                    b = static_cast<uint8_t>(rng());
            const size_t packed = rng() % 4 == 0 ? in.size() : rng() % (in.size() + 1);
            const size_t unpacked = rng() % 5000;
            const size_t targetSize = rng() % 2 ? unpacked : rng() % 5000;
            Bytes expected(targetSize, 0xEE);
            const TExpandResult want = reference(in, packed, unpacked, expected);
            TPackbitsRLEDecoder d;
            const Decoded got = Expand(d, in, targetSize, packed, unpacked);
            ASSERT_EQ(got.Out, expected);
            EXPECT_EQ(got.Result.Produced, want.Produced);
            EXPECT_EQ(got.Result.Consumed, want.Consumed);

            TPackBitsReader reader(in.data(), std::min(packed, in.size()));
            Bytes pieces(expected.size(), 0xEE);
            size_t done = 0;
            while (done < std::min(targetSize, unpacked)) {
                const size_t piece = std::min<size_t>(1 + rng() % 300, std::min(targetSize, unpacked) - done);
                const size_t n = reader.Read(pieces.data() + done, piece);
                done += n;
                if (n < piece)
                    break;
            }
            EXPECT_EQ(pieces, expected);
            EXPECT_EQ(done, want.Produced);
            EXPECT_EQ(reader.Consumed(in.data()), want.Consumed);
        }
    }
    hwy::SetSupportedTargetsForTest(0);
}
