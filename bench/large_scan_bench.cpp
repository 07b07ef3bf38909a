// Large scans: every file that make_scans wrote is decoded from memory by our
// reader and by the reference library, the two are compared pixel by pixel,
// then timed in alternate rounds. Usage:
//   large_scan_bench [--scans DIR] [google-benchmark options]
//   large_scan_bench --loop ours|ref FILE COUNT   (decodes one file COUNT times)
// PW_BENCH_NO_AVX512=1 runs our row routines in the forms that processors
// without AVX-512 use (AVX2 here). Our side runs once with one thread and
// once with all (PINWRIGHT_THREADS, else the processors).
// DIR defaults to $PW_SCANS or ./scans. One benchmark per file, named after
// it, so --benchmark_filter='16mp' picks one size. A table for README.md is
// printed after the run.
//
// Our side: TMemoryStream view -> reader's LoadFromStream -> ViewBitmap (a
// JPEG decodes there). Reference side, into its own native layout:
//   TIFF  libtiff over the same memory (mapped, so strips are not copied),
//         TIFFReadEncodedStrip straight into the image buffer, tiles through
//         one tile buffer; RGB stays RGB, JPEG-coded YCbCr comes out as RGB.
//   PNG   libpng with png_set_bgr, rows straight into the image buffer.
//   JPEG  libjpeg with our picture's settings (BGR rows, float DCT; grey
//         images quantised to 236 levels as our 8-bit grey pictures are).
// The comparison turns both into 0xRRGGBB per pixel (ours through its
// palette), outside the timed region; so the reference does not pay for
// reordering RGB into BGR, which our bitmaps need.
//
// Times: each round decodes with ours on one thread, with ours on all
// threads, then with the reference, so that all meet the same load; the best
// round of each is reported, in wall time (the time to the picture, which
// the threads shorten), and for ours with one thread also in CPU time of the
// process (every thread, so that the work of a thread that makes fresh memory
// present counts too, and the kernel's work for page faults). Wall times are
// only worth reading on an otherwise idle machine.
//
// Peak memory: each decode runs once more in a child process (this program
// with --peak), which reads the file into memory, resets its peak resident
// size (/proc/self/clear_refs), decodes on all threads, and reports VmHWM
// minus the resident size before the decode. The table divides that by the
// bitmap's size.
#include "bench/large_scan_ours.h"
#include "platform/thread_pool.h"

#include <cstdio> // before jpeglib.h, which needs FILE and size_t

#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>
#include <hwy/targets.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <malloc.h>
#include <sys/mman.h>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    Bytes bytes(static_cast<size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

TFormat FormatOf(const std::string& path)
{
    const std::string ext = std::filesystem::path(path).extension().string();
    return ext == ".png" ? fPNG : ext == ".jpg" ? fJPEG : fTIFF;
}

// ---- Reference side ---------------------------------------------------------

// The reference's image buffer is allocated as our bitmaps are (huge pages,
// fresh zero pages; see TBitmap), so that the times compare decoding and not
// the page faults of the two allocations.
struct TMapped {
    void* Base;
    size_t Length;
};
struct FreeDeleter {
    TMapped Mapping{nullptr, 0};
    void operator()(uint8_t* p) const
    {
        if (Mapping.Base)
            munmap(Mapping.Base, Mapping.Length);
        else
            std::free(p);
    }
};

enum TLayoutKind { lkRGB, lkBGR, lkGrey, lkBitsWhiteIsZero, lkBitsBlackIsZero, lkIndexedGrey };

struct TReference {
    std::unique_ptr<uint8_t, FreeDeleter> Pixels;
    size_t Stride = 0;
    uint32_t Width = 0, Height = 0;
    TLayoutKind Layout = lkRGB;
    std::vector<uint8_t> GreyMap; // lkIndexedGrey: grey value of each index
    uint8_t* Row(uint32_t y) const { return Pixels.get() + Stride * y; }
};

std::unique_ptr<uint8_t, FreeDeleter> Allocate(size_t bytes)
{
    constexpr size_t huge = size_t(2) << 20;
    if (bytes >= (size_t(8) << 20)) {
        const size_t length = bytes + 2 * huge;
        void* base = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (base != MAP_FAILED) {
            auto* p = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(base) + huge - 1) & ~uintptr_t(huge - 1));
            madvise(p, (bytes + huge - 1) & ~(huge - 1), MADV_HUGEPAGE);
            return std::unique_ptr<uint8_t, FreeDeleter>(p, FreeDeleter{{base, length}});
        }
    }
    auto* p = static_cast<uint8_t*>(std::malloc(std::max<size_t>(bytes, 1)));
    if (!p)
        throw std::bad_alloc();
    return std::unique_ptr<uint8_t, FreeDeleter>(p);
}

struct TMemoryFile {
    const uint8_t* Data;
    toff_t Size;
    toff_t Position = 0;
};

tsize_t MemRead(thandle_t h, tdata_t buffer, tsize_t size)
{
    auto* f = static_cast<TMemoryFile*>(h);
    const toff_t n = std::min<toff_t>(static_cast<toff_t>(size), f->Position < f->Size ? f->Size - f->Position : 0);
    std::memcpy(buffer, f->Data + f->Position, n);
    f->Position += n;
    return static_cast<tsize_t>(n);
}
tsize_t MemWrite(thandle_t, tdata_t, tsize_t)
{
    return -1;
}
toff_t MemSeek(thandle_t h, toff_t offset, int whence)
{
    auto* f = static_cast<TMemoryFile*>(h);
    f->Position = whence == SEEK_SET ? offset : whence == SEEK_CUR ? f->Position + offset : f->Size + offset;
    return f->Position;
}
int MemClose(thandle_t)
{
    return 0;
}
toff_t MemSize(thandle_t h)
{
    return static_cast<TMemoryFile*>(h)->Size;
}
int MemMap(thandle_t h, tdata_t* base, toff_t* size)
{
    auto* f = static_cast<TMemoryFile*>(h);
    *base = const_cast<uint8_t*>(f->Data);
    *size = f->Size;
    return 1;
}
void MemUnmap(thandle_t, tdata_t, toff_t)
{
}

TReference DecodeLibtiff(const Bytes& file)
{
    TMemoryFile memory{file.data(), file.size()};
    TIFF* tif = TIFFClientOpen("memory", "r", &memory, MemRead, MemWrite, MemSeek, MemClose, MemSize, MemMap,
                               MemUnmap);
    if (!tif)
        throw std::runtime_error("libtiff cannot open the file");
    TReference ref;
    uint16_t spp = 1, bps = 1, photometric = 0, compression = 1;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &ref.Width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &ref.Height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    if (compression == COMPRESSION_JPEG && photometric == PHOTOMETRIC_YCBCR)
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    ref.Layout = spp == 3 ? lkRGB : bps == 1 ? (photometric == PHOTOMETRIC_MINISWHITE ? lkBitsWhiteIsZero
                                                                                       : lkBitsBlackIsZero)
                                             : lkGrey;
    const size_t rowBytes = (size_t(ref.Width) * spp * bps + 7) / 8;
    ref.Stride = rowBytes;
    ref.Pixels = Allocate(rowBytes * ref.Height);
    if (TIFFIsTiled(tif)) {
        uint32_t tw = 0, th = 0;
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
        const size_t tileRow = (size_t(tw) * spp * bps + 7) / 8;
        const auto tile = Allocate(static_cast<size_t>(TIFFTileSize(tif)));
        for (uint32_t y = 0; y < ref.Height; y += th)
            for (uint32_t x = 0; x < ref.Width; x += tw) {
                if (TIFFReadEncodedTile(tif, TIFFComputeTile(tif, x, y, 0, 0), tile.get(), -1) < 0)
                    throw std::runtime_error("libtiff tile error");
                const size_t offset = size_t(x) * spp * bps / 8;
                const size_t bytes = std::min(tileRow, rowBytes - offset);
                for (uint32_t r = 0; r < th && y + r < ref.Height; ++r)
                    std::memcpy(ref.Row(y + r) + offset, tile.get() + tileRow * r, bytes);
            }
    } else {
        uint32_t rowsPerStrip = ref.Height;
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        rowsPerStrip = std::min(rowsPerStrip, ref.Height);
        const tstrip_t strips = TIFFNumberOfStrips(tif);
        for (tstrip_t s = 0; s < strips; ++s)
            if (TIFFReadEncodedStrip(tif, s, ref.Row(s * rowsPerStrip), -1) < 0)
                throw std::runtime_error("libtiff strip error");
    }
    TIFFClose(tif);
    return ref;
}

void PngRead(png_structp png, png_bytep data, png_size_t size)
{
    auto* f = static_cast<TMemoryFile*>(png_get_io_ptr(png));
    if (f->Position + size > f->Size)
        png_error(png, "read past the end");
    std::memcpy(data, f->Data + f->Position, size);
    f->Position += size;
}

TReference DecodeLibpng(const Bytes& file)
{
    TMemoryFile memory{file.data(), file.size()};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    TReference ref;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        throw std::runtime_error("libpng error");
    }
    png_set_read_fn(png, &memory, PngRead);
    png_read_info(png, info);
    ref.Width = png_get_image_width(png, info);
    ref.Height = png_get_image_height(png, info);
    const int colourType = png_get_color_type(png, info);
    const int depth = png_get_bit_depth(png, info);
    if (colourType == PNG_COLOR_TYPE_RGB) {
        png_set_bgr(png);
        ref.Layout = lkBGR;
    } else {
        ref.Layout = depth == 1 ? lkBitsBlackIsZero : lkGrey;
    }
    png_read_update_info(png, info);
    ref.Stride = png_get_rowbytes(png, info);
    ref.Pixels = Allocate(ref.Stride * ref.Height);
    std::vector<png_bytep> rows(ref.Height);
    for (uint32_t y = 0; y < ref.Height; ++y)
        rows[y] = ref.Row(y);
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return ref;
}

struct TJpegError {
    jpeg_error_mgr Manager;
    std::jmp_buf Jump;
};

TReference DecodeLibjpeg(const Bytes& file)
{
    jpeg_decompress_struct d{};
    TJpegError error{};
    d.err = jpeg_std_error(&error.Manager);
    error.Manager.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<TJpegError*>(c->err)->Jump, 1); };
    TReference ref;
    if (setjmp(error.Jump)) {
        jpeg_destroy_decompress(&d);
        throw std::runtime_error("libjpeg error");
    }
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&d, TRUE);
    const bool grey = d.jpeg_color_space == JCS_GRAYSCALE;
    d.dct_method = JDCT_FLOAT;
    if (grey) {
        d.out_color_space = JCS_GRAYSCALE;
        d.quantize_colors = TRUE;
        d.desired_number_of_colors = 236;
        ref.Layout = lkIndexedGrey;
    } else {
        d.out_color_space = JCS_EXT_BGR;
        ref.Layout = lkBGR;
    }
    jpeg_start_decompress(&d);
    ref.Width = d.output_width;
    ref.Height = d.output_height;
    ref.Stride = size_t(d.output_width) * d.output_components;
    ref.Pixels = Allocate(ref.Stride * ref.Height);
    if (grey)
        for (int i = 0; i < d.actual_number_of_colors; ++i)
            ref.GreyMap.push_back(d.colormap[0][i]);
    while (d.output_scanline < d.output_height) {
        JSAMPROW rows[16];
        const JDIMENSION count = std::min<JDIMENSION>(16, d.output_height - d.output_scanline);
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = ref.Row(d.output_scanline + i);
        jpeg_read_scanlines(&d, rows, count);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return ref;
}

TReference DecodeReference(const Bytes& file, TFormat format)
{
    switch (format) {
    case fTIFF: return DecodeLibtiff(file);
    case fPNG: return DecodeLibpng(file);
    case fJPEG: return DecodeLibjpeg(file);
    }
    return {};
}

// ---- Comparison ---------------------------------------------------------------

// Both sides as 0xAARRGGBB, row by row; the first difference or "".
std::string Compare(const TBitmap& ours, const TReference& ref)
{
    if (uint32_t(ours.Width()) != ref.Width || uint32_t(ours.Height()) != ref.Height)
        return "size " + std::to_string(ours.Width()) + "x" + std::to_string(ours.Height()) + " against " +
               std::to_string(ref.Width) + "x" + std::to_string(ref.Height);
    std::vector<uint32_t> a(ref.Width), b(ref.Width);
    for (uint32_t y = 0; y < ref.Height; ++y) {
        ours.RowToARGB(static_cast<int>(y), 0, static_cast<int>(ref.Width), a.data());
        const uint8_t* r = ref.Row(y);
        for (uint32_t x = 0; x < ref.Width; ++x) {
            uint32_t red, green, blue;
            switch (ref.Layout) {
            case lkRGB: red = r[3 * x], green = r[3 * x + 1], blue = r[3 * x + 2]; break;
            case lkBGR: blue = r[3 * x], green = r[3 * x + 1], red = r[3 * x + 2]; break;
            case lkGrey: red = green = blue = r[x]; break;
            case lkIndexedGrey: red = green = blue = ref.GreyMap.at(r[x]); break;
            case lkBitsWhiteIsZero: red = green = blue = (r[x >> 3] >> (7 - (x & 7))) & 1 ? 0 : 255; break;
            default: red = green = blue = (r[x >> 3] >> (7 - (x & 7))) & 1 ? 255 : 0; break;
            }
            b[x] = 0xFF000000u | (red << 16) | (green << 8) | blue;
        }
        for (uint32_t x = 0; x < ref.Width; ++x)
            if (a[x] != b[x]) {
                char text[160];
                std::snprintf(text, sizeof text, "first difference at (%u, %u): ours %06X, reference %06X", x, y,
                              a[x] & 0xFFFFFF, b[x] & 0xFFFFFF);
                return text;
            }
    }
    return "";
}

// "" when both bitmaps hold the same bytes in every row.
std::string CompareBitmaps(const TBitmap& a, const TBitmap& b)
{
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat())
        return "one thread and all threads give bitmaps of different sizes";
    for (int y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.ScanLine(y), b.ScanLine(y), static_cast<size_t>(a.RowStride())) != 0)
            return "one thread and all threads differ in row " + std::to_string(y);
    return "";
}

// ---- Peak memory in a child process ---------------------------------------

long StatusKb(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t length = std::strlen(field);
    while (std::getline(status, line))
        if (line.compare(0, length, field) == 0)
            return std::atol(line.c_str() + length + 1);
    return -1;
}

// Child: prints the growth of the resident size during one decode, in bytes.
int MeasurePeak(const std::string& side, const std::string& path)
{
    const Bytes file = ReadFile(path);
    {
        std::ofstream clear("/proc/self/clear_refs");
        clear << "5";
    }
    const long before = StatusKb("VmRSS:");
    size_t bitmapBytes = 0;
    if (side == "ours") {
        const TOurs ours = DecodeOurs(file, FormatOf(path));
        bitmapBytes = static_cast<size_t>(ours.Bitmap->ImageSize());
    } else {
        const TReference ref = DecodeReference(file, FormatOf(path));
        bitmapBytes = ref.Stride * ref.Height;
    }
    const long peak = StatusKb("VmHWM:");
    std::printf("%lld %zu\n", (peak - before) * 1024LL, bitmapBytes);
    return 0;
}

double CpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double WallMs()
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Profiling aid: decodes a file count times with one side and prints the
// best wall and CPU times and the total CPU time, so that perf sees nothing
// but that side's decode (ours on PINWRIGHT_THREADS threads).
int Loop(const std::string& side, const std::string& path, int count)
{
    const Bytes file = ReadFile(path);
    const TFormat format = FormatOf(path);
    double best = 1e300, bestWall = 1e300, total = 0;
    for (int i = 0; i < count; ++i) {
        const double start = CpuMs();
        const double wall = WallMs();
        if (side == "ours")
            benchmark::DoNotOptimize(DecodeOurs(file, format).Bitmap);
        else
            benchmark::DoNotOptimize(DecodeReference(file, format).Pixels.get());
        bestWall = std::min(bestWall, WallMs() - wall);
        const double ms = CpuMs() - start;
        best = std::min(best, ms);
        total += ms;
    }
    std::printf("%s %s: best %.2f ms wall, %.2f ms CPU, total %.1f ms CPU over %d\n", side.c_str(), path.c_str(),
                bestWall, best, total, count);
    return 0;
}

std::string Self;

// Peak growth in MB of a decode, measured in a child; -1 when it failed.
double PeakMB(const std::string& side, const std::string& path)
{
    const std::string command = "'" + Self + "' --peak " + side + " '" + path + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    long long peak = -1;
    size_t bitmap = 0;
    if (std::fscanf(pipe, "%lld %zu", &peak, &bitmap) != 2)
        peak = -1;
    pclose(pipe);
    return peak < 0 ? -1 : static_cast<double>(peak) / 1e6;
}

// ---- Benchmarks and the table -------------------------------------------------

struct TRow {
    double Megapixels = 0;
    double BitmapMB = 0;
    double FileMB = 0;
    double OneMs = -1, OneCpuMs = -1, AllMs = -1, RefMs = -1;
    double OursPeakMB = -1, RefPeakMB = -1;
    std::string Check;
};
unsigned AllThreads = 1;
std::map<std::string, TRow> Rows;
std::vector<std::string> Order;

// One benchmark per file: each round decodes it with ours on one thread, on
// all threads, then with the reference, so that all meet the same load on a
// shared machine. The times reported are the best round of each.
void Run(benchmark::State& state, const std::string& path, const std::string& name)
{
    const Bytes file = ReadFile(path);
    const TFormat format = FormatOf(path);
    TRow& row = Rows[name];
    {
        // The pixels are compared once, before the timing.
        pwthreads::SetThreadCount(1);
        const TOurs one = DecodeOurs(file, format);
        pwthreads::SetThreadCount(AllThreads);
        const TOurs all = DecodeOurs(file, format);
        const TReference ref = DecodeReference(file, format);
        row.Check = Compare(*all.Bitmap, ref);
        if (row.Check.empty())
            row.Check = CompareBitmaps(*one.Bitmap, *all.Bitmap);
        row.Megapixels = double(ref.Width) * ref.Height / 1e6;
        row.BitmapMB = static_cast<double>(all.Bitmap->ImageSize()) / 1e6;
        row.FileMB = static_cast<double>(file.size()) / 1e6;
    }
    if (!row.Check.empty()) {
        state.SkipWithError(("pixels differ: " + row.Check).c_str());
        return;
    }
    double bestOne = 1e300, bestOneCpu = 1e300, bestAll = 1e300, bestRef = 1e300;
    for (auto _ : state) {
        pwthreads::SetThreadCount(1);
        double cpu = CpuMs();
        double start = WallMs();
        benchmark::DoNotOptimize(DecodeOurs(file, format).Bitmap);
        bestOne = std::min(bestOne, WallMs() - start);
        bestOneCpu = std::min(bestOneCpu, CpuMs() - cpu);
        pwthreads::SetThreadCount(AllThreads);
        start = WallMs();
        benchmark::DoNotOptimize(DecodeOurs(file, format).Bitmap);
        bestAll = std::min(bestAll, WallMs() - start);
        start = WallMs();
        benchmark::DoNotOptimize(DecodeReference(file, format).Pixels.get());
        bestRef = std::min(bestRef, WallMs() - start);
    }
    row.OneMs = bestOne;
    row.OneCpuMs = bestOneCpu;
    row.AllMs = bestAll;
    row.RefMs = bestRef;
    row.OursPeakMB = PeakMB("ours", path);
    row.RefPeakMB = PeakMB("ref", path);
    state.counters["one ms"] = bestOne;
    state.counters["all ms"] = bestAll;
    state.counters["ref ms"] = bestRef;
    state.counters["all/one"] = bestAll / bestOne;
    state.counters["all/ref"] = bestAll / bestRef;
    state.counters["peak/bitmap"] = row.OursPeakMB / row.BitmapMB;
}

// Rounds for a file named KIND-Nmp-...: about 40 Mpixel per side, 3 to 15.
int RoundsFor(const std::string& path)
{
    const std::string stem = std::filesystem::path(path).stem().string();
    const size_t dash = stem.find('-');
    const int megapixels = std::max(1, std::atoi(stem.c_str() + (dash == std::string::npos ? 0 : dash + 1)));
    return std::clamp(40 / megapixels, 3, 15);
}

void PrintTable()
{
    std::printf("\n%u threads for \"all\"; wall ms, best round\n", AllThreads);
    std::printf("\n| file | Mpixel | file MB | one thread ms | one thread CPU ms | all threads ms | reference ms "
                "| one / reference | all / one | all / reference | ours peak / bitmap | reference peak / bitmap "
                "| memory aim | pixels |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|---|\n");
    for (const std::string& name : Order) {
        const auto it = Rows.find(name);
        if (it == Rows.end() || it->second.OneMs < 0 || it->second.RefMs < 0)
            continue;
        const TRow& r = it->second;
        const bool memoryOk = r.OursPeakMB >= 0 && r.OursPeakMB <= 1.1 * r.BitmapMB + 64;
        std::printf("| %s | %.1f | %.2f | %.1f | %.1f | %.1f | %.1f | %.2f | %.2f | %.2f | %.2f | %.2f | %s | %s |\n",
                    name.c_str(), r.Megapixels, r.FileMB, r.OneMs, r.OneCpuMs, r.AllMs, r.RefMs, r.OneMs / r.RefMs,
                    r.AllMs / r.OneMs, r.AllMs / r.RefMs, r.OursPeakMB / r.BitmapMB, r.RefPeakMB / r.BitmapMB,
                    memoryOk ? "met" : "missed", r.Check.empty() ? "equal" : r.Check.c_str());
    }
}

// Sorted by size, then by name.
std::vector<std::string> ScanFiles(const std::string& dir)
{
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string ext = entry.path().extension().string();
        if (entry.is_regular_file() && (ext == ".tif" || ext == ".png" || ext == ".jpg"))
            files.push_back(entry.path().string());
    }
    const auto megapixels = [](const std::string& path) {
        const std::string stem = std::filesystem::path(path).stem().string();
        const size_t dash = stem.find('-');
        return std::atoi(stem.c_str() + (dash == std::string::npos ? 0 : dash + 1));
    };
    std::sort(files.begin(), files.end(), [&](const std::string& a, const std::string& b) {
        const int ma = megapixels(a), mb = megapixels(b);
        return ma != mb ? ma < mb : a < b;
    });
    return files;
}

} // namespace

int main(int argc, char** argv)
{
    Self = std::filesystem::read_symlink("/proc/self/exe").string();
    if (const char* off = std::getenv("PW_BENCH_NO_AVX512"); off && *off == '1')
        hwy::DisableTargets(HWY_AVX3 | HWY_AVX3_DL);
    if (argc == 4 && std::strcmp(argv[1], "--peak") == 0)
        return MeasurePeak(argv[2], argv[3]);
    if (argc == 5 && std::strcmp(argv[1], "--loop") == 0) {
        mallopt(M_MMAP_THRESHOLD, 1 << 20);
        mallopt(M_TRIM_THRESHOLD, 1 << 20);
        return Loop(argv[2], argv[3], std::atoi(argv[4]));
    }
    TIFFSetWarningHandler(nullptr);
    AllThreads = pwthreads::ThreadCount();
    // Every large buffer is fresh memory, as at the first open of a file:
    // without this, malloc would keep freed bitmaps of up to 32 MB and hand
    // them out again without page faults.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 20);

    std::string dir = std::getenv("PW_SCANS") ? std::getenv("PW_SCANS") : "scans";
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--scans") == 0 && i + 1 < argc)
            dir = argv[++i];
        else
            args.push_back(argv[i]);
    }
    if (!std::filesystem::is_directory(dir)) {
        std::fprintf(stderr, "no folder %s: write the files with make_scans %s first\n", dir.c_str(), dir.c_str());
        return 2;
    }
    for (const std::string& path : ScanFiles(dir)) {
        const std::string name = std::filesystem::path(path).filename().string();
        Order.push_back(name);
        benchmark::RegisterBenchmark(name.c_str(), [path, name](benchmark::State& state) { Run(state, path, name); })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(RoundsFor(path));
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    benchmark::RunSpecifiedBenchmarks();
    PrintTable();
    benchmark::Shutdown();
    return 0;
}
