#include "tests/imaging/readers/tiff_libtiff_blocks.h"

#include "tests/support/test_support.h"

#include <tiffio.h>

#include <algorithm>
#include <stdexcept>

TEncodedBlocks EncodeWithLibtiff(const TLibtiffImage& image, const std::vector<uint8_t>& rows)
{
    pwtest::TempDir dir;
    const std::string name = dir.File("encoded.tif");
    TIFF* tif = TIFFOpen(name.c_str(), "w");
    if (!tif)
        throw std::runtime_error("libtiff cannot write " + name);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, image.Width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, image.Height);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, image.Samples);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, image.Bits);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, image.Samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, image.Compression);
    if (image.Predictor == 2)
        TIFFSetField(tif, TIFFTAG_PREDICTOR, 2);
    const size_t rowBytes = (size_t(image.Width) * image.Samples * image.Bits + 7) / 8;
    if (image.Tile) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, image.Tile);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, image.Tile);
        const size_t tileRow = size_t(image.Tile) * image.Samples * image.Bits / 8;
        for (uint32_t y = 0; y < image.Height; y += image.Tile)
            for (uint32_t x = 0; x < image.Width; x += image.Tile) {
                std::vector<uint8_t> tile(tileRow * image.Tile, 0);
                const size_t left = size_t(x) * image.Samples * image.Bits / 8;
                const size_t bytes = std::min(tileRow, rowBytes - left);
                for (uint32_t r = 0; r < image.Tile && y + r < image.Height; ++r)
                    std::copy_n(rows.begin() + (y + r) * rowBytes + left, bytes, tile.begin() + r * tileRow);
                TIFFWriteEncodedTile(tif, TIFFComputeTile(tif, x, y, 0, 0), tile.data(), tsize_t(tile.size()));
            }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, image.StripRows);
        std::vector<uint8_t> row(rowBytes);
        for (uint32_t y = 0; y < image.Height; ++y) {
            std::copy_n(rows.begin() + y * rowBytes, rowBytes, row.begin());
            TIFFWriteScanline(tif, row.data(), y, 0);
        }
    }
    TIFFClose(tif);

    TEncodedBlocks out;
    tif = TIFFOpen(name.c_str(), "r");
    if (!tif)
        throw std::runtime_error("libtiff cannot read " + name);
    const bool tiled = TIFFIsTiled(tif);
    uint64_t* counts = nullptr;
    TIFFGetField(tif, tiled ? TIFFTAG_TILEBYTECOUNTS : TIFFTAG_STRIPBYTECOUNTS, &counts);
    const uint32_t blocks = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    for (uint32_t b = 0; b < blocks; ++b) {
        std::vector<uint8_t> raw(static_cast<size_t>(counts[b]));
        const tsize_t got = tiled ? TIFFReadRawTile(tif, b, raw.data(), tsize_t(raw.size()))
                                  : TIFFReadRawStrip(tif, b, raw.data(), tsize_t(raw.size()));
        raw.resize(static_cast<size_t>(std::max<tsize_t>(got, 0)));
        out.Blocks.push_back(raw);
    }
    uint32_t count = 0;
    void* tables = nullptr;
    if (image.Compression == COMPRESSION_JPEG && TIFFGetField(tif, TIFFTAG_JPEGTABLES, &count, &tables))
        out.Tables.assign(static_cast<uint8_t*>(tables), static_cast<uint8_t*>(tables) + count);
    TIFFClose(tif);
    return out;
}
