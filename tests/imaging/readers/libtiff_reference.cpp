#include "tests/imaging/readers/libtiff_reference.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstring>

namespace libtiffref {
namespace {

// Samples of 8 and 12 bits are packed high bit first, 16-bit ones lie in
// host order (libtiff's buffers).
uint32_t Sample(const uint8_t* row, uint32_t i, uint32_t bits)
{
    uint16_t word;
    if (bits == 16)
        return std::memcpy(&word, row + 2 * i, 2), word;
    uint32_t v = 0;
    for (uint32_t b = i * bits; b < (i + 1) * bits; ++b)
        v = v << 1 | ((row[b / 8] >> (7 - b % 8)) & 1);
    return v;
}

void PutSample(uint8_t* row, uint32_t i, uint32_t bits, uint32_t v)
{
    const uint16_t word = static_cast<uint16_t>(v);
    if (bits == 16)
        std::memcpy(row + 2 * i, &word, 2);
    for (uint32_t b = 0; bits != 16 && b < bits; ++b)
        row[(i * bits + b) / 8] |= static_cast<uint8_t>(((v >> (bits - 1 - b)) & 1) << (7 - (i * bits + b) % 8));
}

} // namespace

std::string Make(const pwtest::TempDir& dir, Kind k, uint32_t w, uint32_t h, Tool tool)
{
    const std::string source = dir.File("source.tif"), out = dir.File("out.tif");
    TIFFSetWarningHandler(nullptr);
    TIFF* tif = TIFFOpen(source.c_str(), "w");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, k.Bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, k.Samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, k.Samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    const uint16_t alpha = EXTRASAMPLE_UNASSALPHA;
    if (k.Samples == 4)
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &alpha);
    const uint32_t top = (1u << k.Bits) - 1, count = w * k.Samples;
    uint32_t state = 9;
    for (uint32_t y = 0; y < h; ++y) {
        pwtest::Bytes row((count * k.Bits + 7) / 8, 0);
        for (uint32_t i = 0; i < count; ++i) {
            state = state * 1103515245u + 12345u;
            const uint32_t v = i % 29 == 0 ? top : ((i * 5 + y * 9) % 256 * top / 255 + (state >> 26)) % (top + 1);
            PutSample(row.data(), i, k.Bits, v);
        }
        TIFFWriteScanline(tif, row.data(), y, 0);
    }
    TIFFClose(tif);
    tool.insert(tool.end(), {source, out});
    const pwtest::CommandResult r = pwtest::Run(tool);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    return out;
}

Reading ReadWithLibtiff(const std::string& path, Kind k)
{
    Reading r;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    uint32_t w = 0, h = 0, bw = 0, bh = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &r.Compression);
    const bool tiled = TIFFIsTiled(tif);
    if (tiled) {
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &bw);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &bh);
    } else {
        bw = w;
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &bh);
        bh = std::min(bh, h);
        r.FirstStrip.resize(TIFFRawStripSize(tif, 0));
        TIFFReadRawStrip(tif, 0, r.FirstStrip.data(), tmsize_t(r.FirstStrip.size()));
    }
    const uint32_t top = (1u << k.Bits) - 1, rowBytes = (bw * k.Samples * k.Bits + 7) / 8;
    pwtest::Bytes block(size_t(rowBytes) * bh);
    r.Pixels.assign(size_t(w) * h, 0);
    for (uint32_t by = 0; by < h; by += bh)
        for (uint32_t bx = 0; bx < w; bx += bw) {
            const tmsize_t got = tiled ? TIFFReadTile(tif, block.data(), bx, by, 0, 0)
                                       : TIFFReadEncodedStrip(tif, by / bh, block.data(), tmsize_t(block.size()));
            EXPECT_GT(got, 0);
            for (uint32_t y = by; y < std::min(h, by + bh); ++y)
                for (uint32_t x = bx; x < std::min(w, bx + bw); ++x) {
                    uint32_t s[4] = {0, 0, 0, 255};
                    for (uint32_t c = 0; c < k.Samples; ++c)
                        s[c] = Sample(&block[(y - by) * rowBytes], (x - bx) * k.Samples + c, k.Bits) * 255 / top;
                    r.Pixels[size_t(y) * w + x] = k.Samples == 1 ? pwtest::Grey(s[0])
                                                                 : s[3] << 24 | s[0] << 16 | s[1] << 8 | s[2];
                }
        }
    TIFFClose(tif);
    return r;
}

} // namespace libtiffref
