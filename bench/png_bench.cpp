// PNG decoding: our reader against libpng's simplified API, both from memory
// into the same pixel layout (BGR or 8-bit grey rows padded to 4 bytes, a
// fresh buffer per image). The files are 4000 x 3000 photo-like RGB and grey
// images written by libpng with its default filter choice and compression,
// and the RGB one again in Adam7. Both decoders' pixels are compared once
// before timing. The *File benchmarks read the RGB image from a file instead.
#include "imaging/readers/png_graphic.h"
#include "platform/streams.h"

#include <benchmark/benchmark.h>
#include <png.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>
#include <vector>

namespace {

constexpr int Width = 4000;
constexpr int Height = 3000;

using Bytes = std::vector<uint8_t>;

// Bands of shading with noise, vertical strokes, hatching with hard edges and
// row-wise ramps: libpng's adaptive choice then uses Sub, Up, Average and
// Paeth about equally often.
Bytes Scene(int channels)
{
    std::mt19937 rng(42);
    std::normal_distribution<float> noise(0.0f, 2.0f);
    Bytes pixels(size_t(Width) * Height * channels);
    for (int y = 0; y < Height; ++y) {
        const int band = (y / 60) % 4;
        for (int x = 0; x < Width; ++x)
            for (int c = 0; c < channels; ++c) {
                float v;
                switch (band) {
                case 0: // smooth shading with noise
                    v = 120 + 70 * std::sin(x * 0.0021f + y * 0.0013f + c) * std::cos(y * 0.0032f - x * 0.0007f);
                    v += noise(rng);
                    break;
                case 1: // vertical lines and strokes
                    v = 128 + 90 * std::sin(x * 0.35f + c) + ((x / 7) % 3) * 20 + noise(rng) * 0.5f;
                    break;
                case 2: // hatching in both directions, hard edges
                    v = (((x + 2 * y) / 5 + (x / 40) + c) % 4) * 60 + ((y / 9 + x / 13) % 2) * 30;
                    break;
                default: // a horizontal ramp per row, rows unlike each other
                    v = (x * (1 + (y % 7)) / 16 + y * 37 + c * 50) % 256;
                    break;
                }
                pixels[(size_t(y) * Width + x) * channels + c] = static_cast<uint8_t>(std::clamp(v, 0.0f, 255.0f));
            }
    }
    return pixels;
}
Bytes WritePng(const Bytes& pixels, int channels, bool adam7)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    Bytes out;
    if (setjmp(png_jmpbuf(png)))
        throw std::runtime_error("libpng write failed");
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, png_size_t size) {
            auto* o = static_cast<Bytes*>(png_get_io_ptr(p));
            o->insert(o->end(), data, data + size);
        },
        nullptr);
    png_set_IHDR(png, info, Width, Height, 8, channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY,
                 adam7 ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<png_bytep> rows(Height);
    for (int y = 0; y < Height; ++y)
        rows[y] = const_cast<png_bytep>(pixels.data() + size_t(y) * Width * channels);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

struct Sample {
    Bytes File;
    int Channels;
};

const Sample& Get(int which)
{
    static const Sample samples[3] = {
        {WritePng(Scene(3), 3, false), 3},
        {WritePng(Scene(1), 1, false), 1},
        {WritePng(Scene(3), 3, true), 3},
    };
    return samples[which];
}

size_t Stride(int channels)
{
    return (size_t(Width) * channels + 3) / 4 * 4;
}

struct FreeDeleter {
    void operator()(uint8_t* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<uint8_t, FreeDeleter>;

Buffer DecodeWithLibpng(const Sample& s)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, s.File.data(), s.File.size()))
        throw std::runtime_error(image.message);
    image.format = s.Channels == 3 ? PNG_FORMAT_BGR : PNG_FORMAT_GRAY;
    Buffer pixels(static_cast<uint8_t*>(std::malloc(Stride(s.Channels) * Height)));
    if (!png_image_finish_read(&image, nullptr, pixels.get(), static_cast<png_int_32>(Stride(s.Channels)), nullptr))
        throw std::runtime_error(image.message);
    return pixels;
}

std::unique_ptr<TPNGGraphic> DecodeWithReader(const Sample& s)
{
    TMemoryStream stream(s.File.data(), s.File.size());
    auto png = std::make_unique<TPNGGraphic>();
    png->LoadFromStream(stream);
    return png;
}

// The RGB sample as a file, removed at exit.
struct TempFile {
    std::string Name = (std::filesystem::temp_directory_path() / "pinwright_png_bench.png").string();
    TempFile()
    {
        std::ofstream out(Name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(Get(0).File.data()), static_cast<std::streamsize>(Get(0).File.size()));
    }
    ~TempFile() { std::filesystem::remove(Name); }
};

const std::string& SampleFile()
{
    static const TempFile file;
    return file.Name;
}

void CheckSame(int which)
{
    const Sample& s = Get(which);
    const Buffer reference = DecodeWithLibpng(s);
    const auto png = DecodeWithReader(s);
    for (int y = 0; y < Height; ++y)
        if (std::memcmp(png->ScanLine(y), reference.get() + Stride(s.Channels) * y, size_t(Width) * s.Channels)) {
            std::fprintf(stderr, "image %d: row %d differs from libpng's\n", which, y);
            std::abort();
        }
}

void SetCounters(benchmark::State& state, int which)
{
    state.counters["Mpixel/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * Width * Height / 1e6,
                                                    benchmark::Counter::kIsRate);
    state.counters["file MB"] = static_cast<double>(Get(which).File.size()) / 1e6;
}

void BM_Reader(benchmark::State& state)
{
    const int which = static_cast<int>(state.range(0));
    CheckSame(which);
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodeWithReader(Get(which)));
    SetCounters(state, which);
}

void BM_Libpng(benchmark::State& state)
{
    const int which = static_cast<int>(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodeWithLibpng(Get(which)));
    SetCounters(state, which);
}

void BM_ReaderFile(benchmark::State& state)
{
    for (auto _ : state) {
        TPNGGraphic png;
        png.LoadFromFile(SampleFile());
        benchmark::DoNotOptimize(png.ScanLine(0));
    }
    SetCounters(state, 0);
}

void BM_LibpngFile(benchmark::State& state)
{
    for (auto _ : state) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_file(&image, SampleFile().c_str()))
            throw std::runtime_error(image.message);
        image.format = PNG_FORMAT_BGR;
        Buffer pixels(static_cast<uint8_t*>(std::malloc(Stride(3) * Height)));
        if (!png_image_finish_read(&image, nullptr, pixels.get(), static_cast<png_int_32>(Stride(3)), nullptr))
            throw std::runtime_error(image.message);
        benchmark::DoNotOptimize(pixels.get());
    }
    SetCounters(state, 0);
}

// 0: RGB, 1: grey, 2: RGB in Adam7; reader and libpng side by side.
BENCHMARK(BM_Reader)->Arg(0)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Libpng)->Arg(0)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Reader)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Libpng)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Reader)->Arg(2)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Libpng)->Arg(2)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReaderFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LibpngFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
