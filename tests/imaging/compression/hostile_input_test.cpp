// Random bytes through every decoder, with sizes that disagree with the
// buffers. Run in the Sanitize build, where any read or write outside the
// exactly sized buffers stops the test.
#include "imaging/compression/ccitt_decoders.h"
#include "imaging/compression/lz77_decoder.h"
#include "imaging/compression/lzw_decoder.h"
#include "imaging/compression/run_length_decoders.h"
#include "imaging/compression/thunder_decoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct Subject {
    const char* Name;
    std::function<std::unique_ptr<TDecoder>()> Make;
};

std::vector<Subject> Subjects()
{
    return {
        {"Targa8", [] { return std::make_unique<TTargaRLEDecoder>(8); }},
        {"Targa16", [] { return std::make_unique<TTargaRLEDecoder>(16); }},
        {"Targa24", [] { return std::make_unique<TTargaRLEDecoder>(24); }},
        {"Targa32", [] { return std::make_unique<TTargaRLEDecoder>(32); }},
        {"Targa7", [] { return std::make_unique<TTargaRLEDecoder>(7); }},
        {"PackBits", [] { return std::make_unique<TPackbitsRLEDecoder>(); }},
        {"PCX", [] { return std::make_unique<TPCXRLEDecoder>(); }},
        {"SGI8", [] { return std::make_unique<TSGIRLEDecoder>(8); }},
        {"SGI16", [] { return std::make_unique<TSGIRLEDecoder>(16); }},
        {"CUT", [] { return std::make_unique<TCUTRLEDecoder>(); }},
        {"PSP", [] { return std::make_unique<TPSPRLEDecoder>(); }},
        {"RLA", [] { return std::make_unique<TRLADecoder>(); }},
        {"Fax3Width1", [] { return std::make_unique<TCCITTFax3Decoder>(0, false, false, 1); }},
        {"Fax3Width13Swapped", [] { return std::make_unique<TCCITTFax3Decoder>(0, true, false, 13); }},
        {"Fax3Width1728", [] { return std::make_unique<TCCITTFax3Decoder>(0, false, false, 1728); }},
        {"Fax3Width0", [] { return std::make_unique<TCCITTFax3Decoder>(0, false, false, 0); }},
        {"MHWidth9", [] { return std::make_unique<TCCITTMHDecoder>(0, false, false, 9); }},
        {"MHWidth70WordAligned", [] { return std::make_unique<TCCITTMHDecoder>(0, true, true, 70); }},
        {"MHWidthHuge", [] { return std::make_unique<TCCITTMHDecoder>(0, false, false, 0xFFFFFFFFu); }},
        {"Fax4Width1", [] { return std::make_unique<TCCITTFax4Decoder>(0, false, 1); }},
        {"Fax4Width13Swapped", [] { return std::make_unique<TCCITTFax4Decoder>(0, true, 13); }},
        {"Fax4Width2480", [] { return std::make_unique<TCCITTFax4Decoder>(0, false, 2480); }},
        {"Fax4Width0", [] { return std::make_unique<TCCITTFax4Decoder>(0, false, 0); }},
        {"Fax4WidthHuge", [] { return std::make_unique<TCCITTFax4Decoder>(0, false, 0xFFFFFFFFu); }},
        {"Fax3TwoDWidth7", [] { return std::make_unique<TCCITTFax3Decoder2D>(1, false, 7); }},
        {"Fax3TwoDWidth1728Swapped", [] { return std::make_unique<TCCITTFax3Decoder2D>(5, true, 1728); }},
        {"LZW", [] { return std::make_unique<TLZWDecoder>(); }},
        {"Deflate", [] { return std::make_unique<TLZ77Decoder>(1, false); }},
        {"DeflateAutoReset", [] { return std::make_unique<TLZ77Decoder>(1, true); }},
        {"DeflateFinish", [] { return std::make_unique<TLZ77Decoder>(4, false); }},
        {"Thunder1", [] { return std::make_unique<TThunderDecoder>(1); }},
        {"Thunder77", [] { return std::make_unique<TThunderDecoder>(77); }},
        {"ThunderNegative", [] { return std::make_unique<TThunderDecoder>(-5); }},
    };
}

// Mostly random bytes; some sources lean to 0 or to 0xFF, where the CCITT
// codes and the run-length controls take their longest paths.
Bytes RandomSource(std::mt19937& rng)
{
    const size_t size = rng() % 3 == 0 ? rng() % 16 : rng() % 3000;
    Bytes source(size);
    const unsigned bias = rng() % 4;
    for (auto& b : source) {
        const uint8_t r = static_cast<uint8_t>(rng());
        b = bias == 1 ? (rng() % 8 ? 0 : r) : bias == 2 ? (rng() % 8 ? 0xFF : r) : r;
    }
    return source;
}

size_t RandomCount(std::mt19937& rng, size_t buffer)
{
    switch (rng() % 4) {
    case 0:
        return buffer;
    case 1:
        return rng() % (2 * buffer + 2);
    case 2:
        return 0;
    default:
        return SIZE_MAX;
    }
}

TEST(HostileInput, RandomDataStaysInsideTheBuffers)
{
    std::mt19937 rng(20240607);
    for (const Subject& subject : Subjects()) {
        SCOPED_TRACE(subject.Name);
        auto decoder = subject.Make();
        decoder->ExpandStart();
        for (int round = 0; round < 150; ++round) {
            const Bytes source = RandomSource(rng);
            Bytes target(rng() % 5000);
            const uint8_t* s = source.data();
            uint8_t* t = target.data();
            const size_t packed = RandomCount(rng, source.size());
            const size_t unpacked = RandomCount(rng, target.size());
            const TExpandResult r = decoder->Expand(s, source.size(), t, target.size(), packed, unpacked);
            ASSERT_LE(r.Consumed, source.size());
            ASSERT_LE(r.Produced, target.size());
            ASSERT_LE(static_cast<size_t>(s - source.data()), source.size());
            ASSERT_LE(static_cast<size_t>(t - target.data()), target.size());
        }
        decoder->ExpandFinish();
    }
}

// A cursor walking rows through random data, as the Targa and Dr. Halo
// readers do, never leaves the buffer.
TEST(HostileInput, CursorWalksStayInsideTheBuffer)
{
    std::mt19937 rng(77);
    for (int round = 0; round < 100; ++round) {
        const Bytes source = RandomSource(rng);
        TCUTRLEDecoder cut;
        TTargaRLEDecoder targa(24);
        for (TDecoder* decoder : {static_cast<TDecoder*>(&cut), static_cast<TDecoder*>(&targa)}) {
            const uint8_t* cursor = source.data();
            Bytes row(61);
            for (int y = 0; y < 200; ++y) {
                const uint8_t* before = cursor;
                const size_t left = source.data() + source.size() - cursor;
                uint8_t* t = row.data();
                const TExpandResult r = decoder->Expand(cursor, left, t, row.size(), 2 * row.size(), 20);
                ASSERT_EQ(r.Consumed, static_cast<size_t>(cursor - before));
                ASSERT_LE(cursor, source.data() + source.size());
            }
        }
    }
}

} // namespace
