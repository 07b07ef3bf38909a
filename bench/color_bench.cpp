// Row conversion speed of the colour manager over a 20000-pixel row, in
// Mpixel/s, next to a memcpy of the same number of target bytes (and, for the
// 16-bit rows, of source bytes).
#include "imaging/color/color_manager.h"

#include <benchmark/benchmark.h>
#include <hwy/targets.h>
#include <immintrin.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr uint32_t Pixels = 20000;

struct Route {
    TPixelScheme SourceScheme;
    uint8_t SourceBits, SourceSamples;
    TSampleFlags SourceFlags;
    TPixelScheme TargetScheme;
    uint8_t TargetBits, TargetSamples;
};

std::vector<uint8_t> Noise(size_t n)
{
    std::mt19937 rng(7);
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes)
        b = static_cast<uint8_t>(rng());
    return bytes;
}

size_t SourceBytes(const Route& r)
{
    return (static_cast<size_t>(Pixels) * r.SourceSamples * r.SourceBits + 7) / 8;
}

size_t TargetBytes(const Route& r)
{
    return (static_cast<size_t>(Pixels) * r.TargetSamples * r.TargetBits + 7) / 8;
}

void SetRate(benchmark::State& state)
{
    state.counters["Mpixel/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * Pixels / 1e6, benchmark::Counter::kIsRate);
}

void Configure(TColorManager& cm, const Route& r)
{
    cm.SetSourceScheme(r.SourceScheme);
    cm.SetSourceBits(r.SourceBits);
    cm.SetSourceSamples(r.SourceSamples);
    cm.SetSourceFlags(r.SourceFlags);
    cm.SetTargetScheme(r.TargetScheme);
    cm.SetTargetBits(r.TargetBits);
    cm.SetTargetSamples(r.TargetSamples);
}

void ConvertRow(benchmark::State& state, Route r)
{
    TColorManager cm;
    Configure(cm, r);
    const std::vector<uint8_t> source = Noise(SourceBytes(r));
    std::vector<uint8_t> target(TargetBytes(r));
    for (auto _ : state) {
        cm.ConvertLine({source.data()}, target.data(), Pixels, 0xFF);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    SetRate(state);
}

// memcpy of the target bytes of the route with targetBytesPerPixel.
void CopyRow(benchmark::State& state, size_t targetBytesPerPixel)
{
    const std::vector<uint8_t> source = Noise(Pixels * targetBytesPerPixel);
    std::vector<uint8_t> target(source.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(source.data());
        std::memcpy(target.data(), source.data(), source.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    SetRate(state);
}

// The least work a 16-bit to 8-bit row can do: read every source byte and
// write half as many, one XOR of two 64-byte blocks per target block. Where
// the row and its target do not fit the first-level cache together, it bounds
// those rows from below.
__attribute__((target("avx512f,avx512bw"))) void HalveBytes(const uint8_t* s, uint8_t* d, size_t bytes)
{
    for (size_t i = 0; i + 128 <= bytes; i += 128)
        _mm512_storeu_si512(d + i / 2, _mm512_xor_si512(_mm512_loadu_si512(s + i), _mm512_loadu_si512(s + i + 64)));
}

void HalveRow(benchmark::State& state, size_t sourceBytesPerPixel)
{
    if (!__builtin_cpu_supports("avx512bw")) {
        state.SkipWithError("needs AVX-512");
        return;
    }
    const std::vector<uint8_t> source = Noise(Pixels * sourceBytesPerPixel);
    std::vector<uint8_t> target(source.size() / 2);
    for (auto _ : state) {
        HalveBytes(source.data(), target.data(), source.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    SetRate(state);
}

// A reader converts each row once, into a bitmap far larger than the
// caches; these rows write consecutive rows of a 256 MB bitmap, its pages
// made present beforehand.
struct TBitmapRows {
    std::vector<uint8_t> Bytes;
    size_t RowBytes, Rows, Next = 0;
    explicit TBitmapRows(size_t rowBytes)
        : Bytes(size_t{256} << 20, 1), RowBytes(rowBytes), Rows(Bytes.size() / rowBytes)
    {
    }
    uint8_t* NextRow()
    {
        uint8_t* row = Bytes.data() + Next * RowBytes;
        Next = Next + 1 == Rows ? 0 : Next + 1;
        return row;
    }
};

void ConvertIntoBitmap(benchmark::State& state, Route r)
{
    TColorManager cm;
    Configure(cm, r);
    const std::vector<uint8_t> source = Noise(SourceBytes(r));
    TBitmapRows bitmap(TargetBytes(r));
    for (auto _ : state) {
        uint8_t* row = bitmap.NextRow();
        cm.ConvertLine({source.data()}, row, Pixels, 0xFF);
        benchmark::DoNotOptimize(row);
        benchmark::ClobberMemory();
    }
    SetRate(state);
}

void CopyIntoBitmap(benchmark::State& state, size_t targetBytesPerPixel)
{
    const std::vector<uint8_t> source = Noise(Pixels * targetBytesPerPixel);
    TBitmapRows bitmap(source.size());
    for (auto _ : state) {
        uint8_t* row = bitmap.NextRow();
        benchmark::DoNotOptimize(source.data());
        std::memcpy(row, source.data(), source.size());
        benchmark::DoNotOptimize(row);
        benchmark::ClobberMemory();
    }
    SetRate(state);
}

} // namespace

BENCHMARK_CAPTURE(CopyRow, memcpy_4_bytes_per_pixel, 4);
BENCHMARK_CAPTURE(CopyRow, memcpy_3_bytes_per_pixel, 3);
BENCHMARK_CAPTURE(CopyRow, memcpy_1_byte_per_pixel, 1);
// The source bytes of the 16-bit rows.
BENCHMARK_CAPTURE(CopyRow, memcpy_6_bytes_per_pixel, 6);
BENCHMARK_CAPTURE(CopyRow, memcpy_2_bytes_per_pixel, 2);
BENCHMARK_CAPTURE(HalveRow, halve_6_bytes_per_pixel, 6);
BENCHMARK_CAPTURE(HalveRow, halve_2_bytes_per_pixel, 2);
BENCHMARK_CAPTURE(ConvertRow, rgb8_to_bgr8, Route{psRGB, 8, 3, 0, psBGR, 8, 3});
BENCHMARK_CAPTURE(ConvertRow, rgba8_to_bgra8, Route{psRGBA, 8, 4, 0, psBGRA, 8, 4});
BENCHMARK_CAPTURE(ConvertRow, rgb8_to_bgra8, Route{psRGB, 8, 3, 0, psBGRA, 8, 4});
BENCHMARK_CAPTURE(ConvertRow, rgba8_to_bgr8, Route{psRGBA, 8, 4, 0, psBGR, 8, 3});
BENCHMARK_CAPTURE(ConvertRow, rgb16_to_bgr8, Route{psRGB, 16, 3, 0, psBGR, 8, 3});
BENCHMARK_CAPTURE(ConvertRow, rgb16_swapped_to_bgr8, Route{psRGB, 16, 3, sfSwapBytes, psBGR, 8, 3});
BENCHMARK_CAPTURE(ConvertRow, ycbcr8_to_bgr8, Route{psYCbCr, 8, 3, 0, psBGR, 8, 3});
BENCHMARK_CAPTURE(ConvertRow, cmyk8_to_bgr8, Route{psCMYK, 8, 4, 0, psBGR, 8, 3});
BENCHMARK_CAPTURE(ConvertRow, lab8_to_bgr8, Route{psCIELab, 8, 3, 0, psBGR, 8, 3});
BENCHMARK_CAPTURE(ConvertRow, lab16_to_bgr8, Route{psCIELab, 16, 3, 0, psBGR, 8, 3});
BENCHMARK_CAPTURE(ConvertRow, indexed1_to_indexed8, Route{psIndexed, 1, 1, 0, psIndexed, 8, 1});
BENCHMARK_CAPTURE(ConvertRow, indexed4_to_indexed8, Route{psIndexed, 4, 1, 0, psIndexed, 8, 1});
BENCHMARK_CAPTURE(ConvertRow, gray16_to_gray8, Route{psGray, 16, 1, 0, psGray, 8, 1});
BENCHMARK_CAPTURE(ConvertRow, gray16_swapped_to_gray8, Route{psGray, 16, 1, sfSwapBytes, psGray, 8, 1});
BENCHMARK_CAPTURE(CopyIntoBitmap, memcpy_3_bytes_per_pixel_into_bitmap, 3);
BENCHMARK_CAPTURE(CopyIntoBitmap, memcpy_1_byte_per_pixel_into_bitmap, 1);
BENCHMARK_CAPTURE(ConvertIntoBitmap, rgb8_to_bgr8_into_bitmap, Route{psRGB, 8, 3, 0, psBGR, 8, 3});
BENCHMARK_CAPTURE(ConvertIntoBitmap, rgb16_to_bgr8_into_bitmap, Route{psRGB, 16, 3, 0, psBGR, 8, 3});
BENCHMARK_CAPTURE(ConvertIntoBitmap, rgb16_swapped_to_bgr8_into_bitmap, Route{psRGB, 16, 3, sfSwapBytes, psBGR, 8, 3});
BENCHMARK_CAPTURE(ConvertIntoBitmap, gray16_to_gray8_into_bitmap, Route{psGray, 16, 1, 0, psGray, 8, 1});
BENCHMARK_CAPTURE(ConvertIntoBitmap, gray16_swapped_to_gray8_into_bitmap,
                  Route{psGray, 16, 1, sfSwapBytes, psGray, 8, 1});

// PW_COLOR_BENCH_NO_AVX512=1 measures the forms that processors without
// AVX-512 run (AVX2 here).
int main(int argc, char** argv)
{
    if (const char* off = std::getenv("PW_COLOR_BENCH_NO_AVX512"); off && *off == '1')
        hwy::DisableTargets(HWY_AVX3 | HWY_AVX3_DL);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
