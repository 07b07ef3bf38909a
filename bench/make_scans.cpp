// Writes the scan-like test files that large_scan_bench decodes:
//   map      8-bit grey line-art map: paper with scanner noise, contour lines,
//            a grid, hatched areas and lines of text-like glyphs
//   photo    24-bit colour photo-like scan: smooth shading, texture and noise
//   drawing  1-bit drawing: lines, grid, hatching and text, a few specks
// at about 1, 16 and 120 megapixels (or a given size), each as TIFF in several
// compressions and layouts (libtiff), as PNG (libpng) and, for map and photo,
// as JPEG (libjpeg). Usage:
//   make_scans DIR [--sizes 1,16,120] [--size WxH] [--only tiff,png,jpeg]
//                  [--kinds map,photo,drawing] [--tiff none,packbits,...]
// The default sizes are 1 and 16; --size WxH writes that size instead (for
// the workbench, for instance 20000x15000), named after its megapixels.
// --kinds and --tiff limit the images and the TIFF variants written.
#include <cstdio> // before jpeglib.h, which needs FILE and size_t

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

enum TKind { kMap, kPhoto, kDrawing };
const char* const KindNames[] = {"map", "photo", "drawing"};

struct TImage {
    TKind Kind;
    uint32_t Width, Height;
    int Channels;             // 1 or 3; a drawing is 1 with Bits 1
    int Bits;                 // 8, or 1 for a drawing
    std::vector<uint8_t> Pix; // rows of RowBytes, packed bits MSB first for 1-bit (1 = black)
    size_t RowBytes() const { return Bits == 1 ? (Width + 7) / 8 : size_t(Width) * Channels; }
    const uint8_t* Row(uint32_t y) const { return Pix.data() + RowBytes() * y; }
};

// A cheap repeatable hash for noise and texture.
inline uint32_t Hash(uint32_t x, uint32_t y, uint32_t seed)
{
    uint32_t h = x * 0x8DA6B343u ^ y * 0xD8163841u ^ seed * 0xCB1AB31Fu;
    h ^= h >> 13;
    h *= 0x85EBCA6Bu;
    h ^= h >> 16;
    return h;
}

// Value noise on a lattice of cell pixels, bilinear, 0..255.
struct TValueNoise {
    uint32_t Cell, Seed;
    int At(uint32_t x, uint32_t y) const
    {
        const uint32_t cx = x / Cell, cy = y / Cell;
        const uint32_t fx = x % Cell, fy = y % Cell;
        const int a = Hash(cx, cy, Seed) & 255, b = Hash(cx + 1, cy, Seed) & 255;
        const int c = Hash(cx, cy + 1, Seed) & 255, d = Hash(cx + 1, cy + 1, Seed) & 255;
        const int top = a * int(Cell - fx) + b * int(fx);
        const int bottom = c * int(Cell - fx) + d * int(fx);
        return (top * int(Cell - fy) + bottom * int(fy)) / int(Cell * Cell);
    }
};

// A 5 x 7 glyph for a character code: a fixed random pattern per code.
bool GlyphBit(uint32_t code, uint32_t gx, uint32_t gy)
{
    return (Hash(code, gy * 5 + gx, 77) & 3) == 0;
}

// Ink of the line art at (x, y): 0 none, 1 line, 2 text, 3 hatching. Shared by
// the map and the drawing; scale sets the feature size for the image size.
int LineArt(uint32_t x, uint32_t y, uint32_t scale, const TValueNoise& height)
{
    // Contour lines: iso-lines of a smooth height field.
    const int h = height.At(x, y) * 4 + TValueNoise{height.Cell / 3, 99}.At(x, y);
    if (h % 97 < 3)
        return 1;
    // A grid every 500 pixels (scaled), 2 pixels wide.
    const uint32_t grid = 250 * scale;
    if (x % grid < 2 || y % grid < 2)
        return 1;
    // Hatched areas in some grid cells.
    const uint32_t cellX = x / grid, cellY = y / grid;
    const uint32_t cellHash = Hash(cellX, cellY, 5);
    if ((cellHash & 7) == 0 && ((x + y) % 12) < 2)
        return 3;
    if ((cellHash & 7) == 1 && ((x + 2 * y) % 16) < 2)
        return 3;
    // Text: lines of words in some cells, 6 x 9 pixels per glyph at scale 1.
    if ((cellHash & 3) == 2) {
        const uint32_t lx = (x % grid) / scale, ly = (y % grid) / scale;
        if (lx >= 20 && lx < 230 && ly >= 20 && ly < 200) {
            const uint32_t line = (ly - 20) / 14, inLine = (ly - 20) % 14;
            const uint32_t column = (lx - 20) / 6, inColumn = (lx - 20) % 6;
            if (inLine < 7 && inColumn < 5) {
                const uint32_t word = Hash(line, column / 7, cellHash);
                if (column % 7 != 6 && (word & 7) != 0) {
                    const uint32_t code = Hash(line, column, cellHash) % 60;
                    if (GlyphBit(code, inColumn, inLine))
                        return 2;
                }
            }
        }
    }
    return 0;
}

TImage Generate(TKind kind, uint32_t width, uint32_t height)
{
    TImage image{kind, width, height, kind == kPhoto ? 3 : 1, kind == kDrawing ? 1 : 8, {}};
    image.Pix.assign(image.RowBytes() * height, 0);
    const uint32_t scale = std::max(1u, std::min(width, height) / 4000 + 1);
    const TValueNoise field{400 * scale, 1};
    const TValueNoise coarse[3] = {{256, 11}, {256, 12}, {256, 13}};
    const TValueNoise fine[3] = {{16, 21}, {16, 22}, {16, 23}};
    const TValueNoise light{1024, 31};
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = image.Pix.data() + image.RowBytes() * y;
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t n = Hash(x, y, 3);
            switch (kind) {
            case kMap: {
                const int ink = LineArt(x, y, scale, field);
                int v = 232 + int(n % 7) - 3; // paper with scanner noise
                if (ink == 1)
                    v = 60 + int(n % 23);
                else if (ink == 2)
                    v = 25 + int(n % 15);
                else if (ink == 3)
                    v = 120 + int(n % 19);
                row[x] = static_cast<uint8_t>(v);
                break;
            }
            case kPhoto: {
                const int shade = light.At(x, y) - 128;
                for (int c = 0; c < 3; ++c) {
                    int v = coarse[c].At(x, y) * 3 / 4 + fine[c].At(x, y) / 6 + shade / 3 + 20;
                    v += int((n >> (8 * c)) % 9) - 4;
                    row[3 * size_t(x) + c] = static_cast<uint8_t>(std::clamp(v, 0, 255));
                }
                break;
            }
            case kDrawing: {
                const int ink = LineArt(x, y, scale, field);
                const bool speck = (n & 0xFFFFF) < 3; // a few specks of dust
                if ((ink != 0 && ink != 3) || (ink == 3 && ((x + y) % 12) == 0) || speck)
                    row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
                break;
            }
            }
        }
    }
    return image;
}

// ---- TIFF -------------------------------------------------------------------

struct TTiffVariant {
    const char* Name;
    uint16_t Compression;
    bool Predictor;
    bool Tiled;
    bool BigTIFF = false;
};

void WriteTiff(const TImage& image, const TTiffVariant& v, const std::string& path)
{
    TIFF* tif = TIFFOpen(path.c_str(), v.BigTIFF ? "w8" : "w");
    if (!tif)
        throw std::runtime_error("cannot create " + path);
    const bool colour = image.Channels == 3;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, image.Width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, image.Height);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, image.Channels);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, image.Bits);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, v.Compression);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 400.0f);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, 400.0f);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    // The drawing is stored 0 = white, as fax-coded scans are.
    const uint16_t photometric = image.Bits == 1 ? PHOTOMETRIC_MINISWHITE
                                 : colour ? (v.Compression == COMPRESSION_JPEG ? PHOTOMETRIC_YCBCR : PHOTOMETRIC_RGB)
                                          : PHOTOMETRIC_MINISBLACK;
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
    if (v.Predictor)
        TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    if (v.Compression == COMPRESSION_JPEG) {
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 85);
        if (colour)
            TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    if (v.Compression == COMPRESSION_CCITTFAX3)
        TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, 0);
    if (v.Compression == COMPRESSION_CCITTFAX4)
        TIFFSetField(tif, TIFFTAG_GROUP4OPTIONS, 0);
    const size_t rowBytes = image.RowBytes();
    std::vector<uint8_t> buffer;
    if (v.Tiled) {
        const uint32_t tile = 256;
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, tile);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, tile);
        const size_t tileRow = image.Bits == 1 ? tile / 8 : size_t(tile) * image.Channels;
        buffer.resize(tileRow * tile);
        for (uint32_t ty = 0; ty < image.Height; ty += tile)
            for (uint32_t tx = 0; tx < image.Width; tx += tile) {
                std::fill(buffer.begin(), buffer.end(), 0);
                const size_t offset = image.Bits == 1 ? tx / 8 : size_t(tx) * image.Channels;
                const size_t bytes = std::min(tileRow, rowBytes - offset);
                for (uint32_t r = 0; r < tile && ty + r < image.Height; ++r)
                    std::memcpy(buffer.data() + tileRow * r, image.Row(ty + r) + offset, bytes);
                if (TIFFWriteTile(tif, buffer.data(), tx, ty, 0, 0) < 0)
                    throw std::runtime_error("tile write failed: " + path);
            }
    } else {
        // Strips of about 64 KB, as scanners commonly write them (16 rows
        // for JPEG so that whole MCU rows go in each strip).
        uint32_t rows = std::max<uint32_t>(1, uint32_t(65536 / rowBytes));
        if (v.Compression == COMPRESSION_JPEG)
            rows = std::max<uint32_t>(16, rows / 16 * 16);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rows);
        buffer.resize(rowBytes);
        for (uint32_t y = 0; y < image.Height; ++y) {
            std::memcpy(buffer.data(), image.Row(y), rowBytes);
            if (TIFFWriteScanline(tif, buffer.data(), y, 0) < 0)
                throw std::runtime_error("scanline write failed: " + path);
        }
    }
    TIFFClose(tif);
}

// ---- PNG --------------------------------------------------------------------

void WritePng(const TImage& image, const std::string& path)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        throw std::runtime_error("cannot create " + path);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)))
        throw std::runtime_error("libpng write failed: " + path);
    png_init_io(png, file);
    png_set_IHDR(png, info, image.Width, image.Height, image.Bits,
                 image.Channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<uint8_t> row(image.RowBytes());
    for (uint32_t y = 0; y < image.Height; ++y) {
        std::memcpy(row.data(), image.Row(y), row.size());
        if (image.Bits == 1) // PNG grey: 0 is black
            for (auto& b : row)
                b = static_cast<uint8_t>(~b);
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

// ---- JPEG -------------------------------------------------------------------

void WriteJpeg(const TImage& image, const std::string& path)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        throw std::runtime_error("cannot create " + path);
    jpeg_compress_struct c{};
    jpeg_error_mgr error{};
    c.err = jpeg_std_error(&error);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, file);
    c.image_width = image.Width;
    c.image_height = image.Height;
    c.input_components = image.Channels;
    c.in_color_space = image.Channels == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 85, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(image.Row(c.next_scanline));
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(file);
}

// ---- Main -------------------------------------------------------------------

struct TSize {
    std::string Label;
    uint32_t Width, Height;
};

TSize SizeOfMegapixels(int mp)
{
    // 4:3 scans.
    const double h = std::sqrt(mp * 1e6 * 3 / 4);
    const auto height = static_cast<uint32_t>(std::lround(h / 16) * 16);
    const auto width = static_cast<uint32_t>(std::lround(h * 4 / 3 / 16) * 16);
    return {std::to_string(mp) + "mp", width, height};
}

} // namespace

int main(int argc, char** argv)
{
    const auto usage = [] {
        std::fprintf(stderr, "usage: make_scans DIR [--sizes 1,16,120] [--size WxH] [--only tiff,png,jpeg]\n"
                             "                      [--kinds map,photo,drawing] [--tiff none,packbits,...]\n");
        return 2;
    };
    // An option where the folder belongs (make_scans --help) would otherwise
    // become a folder of that name, hundreds of megabytes of files in it.
    if (argc < 2 || argv[1][0] == '-')
        return usage();
    const std::filesystem::path dir = argv[1];
    std::vector<TSize> sizes;
    std::string sizeList = "1,16";
    std::set<std::string> only = {"tiff", "png", "jpeg"};
    std::set<std::string> kinds = {"map", "photo", "drawing"};
    std::set<std::string> tiffVariants;
    const auto split = [](const std::string& value) {
        std::set<std::string> items;
        std::stringstream list(value);
        for (std::string item; std::getline(list, item, ',');)
            items.insert(item);
        return items;
    };
    for (int i = 2; i < argc; i += 2) {
        if (i + 1 == argc)
            return usage();
        const std::string option = argv[i], value = argv[i + 1];
        if (option == "--sizes") {
            sizeList = value;
        } else if (option == "--size") {
            unsigned w = 0, h = 0;
            if (std::sscanf(value.c_str(), "%ux%u", &w, &h) != 2 || w == 0 || h == 0)
                return usage();
            sizes.push_back({std::to_string((uint64_t(w) * h + 500000) / 1000000) + "mp", w, h});
            sizeList.clear();
        } else if (option == "--only") {
            only = split(value);
        } else if (option == "--kinds") {
            kinds = split(value);
        } else if (option == "--tiff") {
            tiffVariants = split(value);
        } else {
            return usage();
        }
    }
    std::stringstream list(sizeList);
    for (std::string item; std::getline(list, item, ',');)
        sizes.insert(sizes.begin(), SizeOfMegapixels(std::atoi(item.c_str())));
    std::filesystem::create_directories(dir);
    TIFFSetWarningHandler(nullptr);

    const TTiffVariant colourVariants[] = {
        {"none", COMPRESSION_NONE, false, false},          {"packbits", COMPRESSION_PACKBITS, false, false},
        {"deflate", COMPRESSION_ADOBE_DEFLATE, false, false}, {"deflate-pred", COMPRESSION_ADOBE_DEFLATE, true, false},
        {"deflate-tiles", COMPRESSION_ADOBE_DEFLATE, false, true}, {"jpeg", COMPRESSION_JPEG, false, false},
        {"jpeg-tiles", COMPRESSION_JPEG, false, true},
        {"lzw", COMPRESSION_LZW, false, false},       {"lzw-pred", COMPRESSION_LZW, true, false},
        {"bigtiff-lzw-pred", COMPRESSION_LZW, true, false, true},
    };
    const TTiffVariant drawingVariants[] = {
        {"none", COMPRESSION_NONE, false, false},     {"packbits", COMPRESSION_PACKBITS, false, false},
        {"g3", COMPRESSION_CCITTFAX3, false, false},  {"deflate", COMPRESSION_ADOBE_DEFLATE, false, false},
        {"none-tiles", COMPRESSION_NONE, false, true},
        {"g4", COMPRESSION_CCITTFAX4, false, false},  {"bigtiff-g4", COMPRESSION_CCITTFAX4, false, false, true},
    };
    for (const TSize& size : sizes)
        for (TKind kind : {kMap, kPhoto, kDrawing}) {
            if (!kinds.count(KindNames[kind]))
                continue;
            const auto wanted = [&](const TTiffVariant& v) { return tiffVariants.empty() || tiffVariants.count(v.Name); };
            std::printf("%s %s %ux%u\n", KindNames[kind], size.Label.c_str(), size.Width, size.Height);
            std::fflush(stdout);
            const TImage image = Generate(kind, size.Width, size.Height);
            const std::string stem = (dir / (std::string(KindNames[kind]) + "-" + size.Label)).string();
            if (only.count("tiff")) {
                if (kind == kDrawing) {
                    for (const TTiffVariant& v : drawingVariants)
                        if (wanted(v))
                            WriteTiff(image, v, stem + "-" + v.Name + ".tif");
                } else {
                    for (const TTiffVariant& v : colourVariants)
                        if (wanted(v) && (kind == kPhoto || std::strcmp(v.Name, "jpeg-tiles") != 0))
                            WriteTiff(image, v, stem + "-" + v.Name + ".tif");
                }
            }
            if (only.count("png"))
                WritePng(image, stem + ".png");
            if (only.count("jpeg") && kind != kDrawing)
                WriteJpeg(image, stem + ".jpg");
        }
    return 0;
}
