// Decoding speed of the CCITT and PackBits decoders, in Mbyte/s of output
// (the "output" counter, decimal megabytes per second).
#include "imaging/compression/ccitt_codes.h"
#include "imaging/compression/ccitt_decoders.h"
#include "imaging/compression/run_length_decoders.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

class TBitWriter {
public:
    void Put(const char* code)
    {
        for (; *code; ++code) {
            if (FCount % 8 == 0)
                FBytes.push_back(0);
            if (*code == '1')
                FBytes.back() |= static_cast<uint8_t>(0x80 >> (FCount % 8));
            ++FCount;
        }
    }
    void AlignToByte() { FCount = (FCount + 7) / 8 * 8; }
    Bytes Take() { return std::move(FBytes); }

private:
    Bytes FBytes;
    size_t FCount = 0;
};

void PutRun(TBitWriter& out, uint32_t run, bool white)
{
    while (run >= 2560 + 64) {
        out.Put(ccitt::ExtendedMakeUp[12]);
        run -= 2560;
    }
    if (run >= 64) {
        const uint32_t k = run / 64;
        out.Put(k <= 27 ? (white ? ccitt::WhiteMakeUp : ccitt::BlackMakeUp)[k - 1] : ccitt::ExtendedMakeUp[k - 28]);
        run %= 64;
    }
    out.Put((white ? ccitt::WhiteTerminating : ccitt::BlackTerminating)[run]);
}

// An A4 page at 200 dpi that looks like a line map: long white stretches,
// short black strokes.
struct TPage {
    uint32_t Width = 1728;
    uint32_t Height = 2200;
    std::vector<std::vector<uint32_t>> Runs; // per row, white first
};

TPage MakePage(bool blank)
{
    TPage page;
    std::mt19937 rng(42);
    std::geometric_distribution<uint32_t> white(1.0 / 60), black(1.0 / 4);
    for (uint32_t y = 0; y < page.Height; ++y) {
        std::vector<uint32_t> runs;
        uint32_t x = 0;
        bool isWhite = true;
        while (x < page.Width) {
            uint32_t n = blank ? page.Width : (isWhite ? white(rng) : 1 + black(rng));
            n = std::min(n, page.Width - x);
            runs.push_back(n);
            x += n;
            isWhite = !isWhite;
        }
        page.Runs.push_back(runs);
    }
    return page;
}

Bytes EncodePage(const TPage& page, bool group3)
{
    TBitWriter out;
    for (const auto& runs : page.Runs) {
        if (group3)
            out.Put(ccitt::EndOfLineCode);
        bool white = true;
        for (uint32_t n : runs) {
            PutRun(out, n, white);
            white = !white;
        }
        if (!group3)
            out.AlignToByte();
    }
    return out.Take();
}

Bytes RenderPage(const TPage& page)
{
    const size_t rowBytes = (page.Width + 7) / 8;
    Bytes bits(page.Height * rowBytes, 0);
    for (size_t y = 0; y < page.Height; ++y) {
        uint32_t x = 0;
        bool white = true;
        for (uint32_t n : page.Runs[y]) {
            for (uint32_t i = 0; i < n && !white; ++i)
                bits[y * rowBytes + (x + i) / 8] |= static_cast<uint8_t>(0x80 >> ((x + i) % 8));
            x += n;
            white = !white;
        }
    }
    return bits;
}

void BenchCCITT(benchmark::State& state, bool group3, bool blank)
{
    const TPage page = MakePage(blank);
    const Bytes source = EncodePage(page, group3);
    Bytes target(static_cast<size_t>(page.Height) * ((page.Width + 7) / 8));
    std::unique_ptr<TDecoder> decoder;
    if (group3)
        decoder = std::make_unique<TCCITTFax3Decoder>(0, false, false, page.Width);
    else
        decoder = std::make_unique<TCCITTMHDecoder>(0, false, false, page.Width);
    for (auto _ : state) {
        const uint8_t* s = source.data();
        uint8_t* t = target.data();
        benchmark::DoNotOptimize(decoder->Expand(s, source.size(), t, target.size(), source.size(), target.size()));
        benchmark::ClobberMemory();
    }
    if (target != RenderPage(page))
        state.SkipWithError("CCITT output differs");
    state.counters["output"] =
        benchmark::Counter(static_cast<double>(target.size()), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["ratio"] = static_cast<double>(target.size()) / static_cast<double>(source.size());
}

// 8-bit rows: flat stretches of up to maxFlat bytes between noisy ones of
// up to maxNoise bytes.
Bytes PackBitsImage(size_t size, size_t maxFlat, size_t maxNoise, Bytes& packed)
{
    std::mt19937 rng(7);
    Bytes data;
    while (data.size() < size) {
        const size_t flat = rng() % maxFlat;
        data.insert(data.end(), flat, static_cast<uint8_t>(rng() % 4 * 60));
        for (size_t n = rng() % maxNoise; n > 0; --n)
            data.push_back(static_cast<uint8_t>(rng()));
    }
    data.resize(size);
    for (size_t i = 0; i < data.size();) {
        size_t run = 1;
        while (i + run < data.size() && run < 128 && data[i + run] == data[i])
            ++run;
        if (run >= 2) {
            packed.push_back(static_cast<uint8_t>(1 - static_cast<int>(run)));
            packed.push_back(data[i]);
            i += run;
            continue;
        }
        size_t lit = 1;
        while (i + lit < data.size() && lit < 128 && !(i + lit + 1 < data.size() && data[i + lit] == data[i + lit + 1]))
            ++lit;
        packed.push_back(static_cast<uint8_t>(lit - 1));
        packed.insert(packed.end(), data.begin() + i, data.begin() + i + lit);
        i += lit;
    }
    return data;
}

void BenchPackBits(benchmark::State& state, size_t maxFlat, size_t maxNoise)
{
    Bytes packed;
    const Bytes data = PackBitsImage(8 << 20, maxFlat, maxNoise, packed);
    Bytes target(data.size());
    TPackbitsRLEDecoder decoder;
    for (auto _ : state) {
        const uint8_t* s = packed.data();
        uint8_t* t = target.data();
        benchmark::DoNotOptimize(decoder.Expand(s, packed.size(), t, target.size(), packed.size(), target.size()));
        benchmark::ClobberMemory();
    }
    if (target != data)
        state.SkipWithError("PackBits output differs");
    state.counters["output"] =
        benchmark::Counter(static_cast<double>(target.size()), benchmark::Counter::kIsIterationInvariantRate);
}

// A scanned map: flat areas with noisy edges.
void BM_PackBitsMap(benchmark::State& state) { BenchPackBits(state, 200, 40); }
// A photograph-like worst case: short runs, short literals.
void BM_PackBitsNoisy(benchmark::State& state) { BenchPackBits(state, 4, 8); }
void BM_CCITTGroup3Map(benchmark::State& state) { BenchCCITT(state, true, false); }
void BM_CCITTModifiedHuffmanMap(benchmark::State& state) { BenchCCITT(state, false, false); }
void BM_CCITTGroup3Blank(benchmark::State& state) { BenchCCITT(state, true, true); }

} // namespace

BENCHMARK(BM_CCITTGroup3Map)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CCITTModifiedHuffmanMap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CCITTGroup3Blank)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PackBitsMap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PackBitsNoisy)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
