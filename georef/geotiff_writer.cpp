#include "georef/geotiff_writer.h"

#include "platform/bitmap.h"
#include "platform/exceptions.h"

#include <geotiffio.h>
#include <xtiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <vector>

namespace {

constexpr uint32_t TileSide = 256;

struct TTiffClose {
    void operator()(TIFF* tif) const { XTIFFClose(tif); }
};
struct TGtifFree {
    void operator()(GTIF* gtif) const { GTIFFree(gtif); }
};

// Feeds GTIFImport the key listing one line at a time, as it reads a file.
struct TLines {
    std::istringstream Text;
};

int NextLine(char* buffer, void* aux)
{
    std::string line;
    auto& lines = static_cast<TLines*>(aux)->Text;
    do {
        if (!std::getline(lines, line))
            return -1;
        line.erase(0, line.find_first_not_of(" \t"));
    } while (line.empty());
    // The library's buffer holds 1024 characters; no line of ours is longer.
    const size_t length = std::min<size_t>(line.size(), 1023);
    std::memcpy(buffer, line.data(), length);
    buffer[length] = '\0';
    return 1;
}

[[noreturn]] void Fail(const std::string& fileName, const char* what)
{
    throw Exception("Cannot write the GeoTIFF '" + fileName + "': " + what);
}

// The world file counts from the centre of the top-left pixel; the GeoTIFF
// (pixel is area) from its corner.
void SetPlacement(TIFF* tif, const TAffineTransform& t)
{
    const double cornerEast = t.C - 0.5 * t.A - 0.5 * t.B;
    const double cornerNorth = t.F - 0.5 * t.D - 0.5 * t.E;
    if (t.B == 0 && t.D == 0) {
        const double scale[3] = {t.A, -t.E, 0};
        const double tie[6] = {0, 0, 0, cornerEast, cornerNorth, 0};
        TIFFSetField(tif, TIFFTAG_GEOPIXELSCALE, 3, scale);
        TIFFSetField(tif, TIFFTAG_GEOTIEPOINTS, 6, tie);
    } else {
        const double matrix[16] = {t.A, t.B, 0, cornerEast, t.D, t.E, 0, cornerNorth, 0, 0, 0, 0, 0, 0, 0, 1};
        TIFFSetField(tif, TIFFTAG_GEOTRANSMATRIX, 16, matrix);
    }
}

} // namespace

void WriteBitmapGeoTiff(const TBitmap& bitmap, const std::string& fileName, const TGeoTiffContent& content)
{
    if (bitmap.Empty())
        throw Exception("The file holds no image.");
    const uint32_t width = static_cast<uint32_t>(bitmap.Width());
    const uint32_t height = static_cast<uint32_t>(bitmap.Height());
    const bool alpha = bitmap.AlphaPresent() && bitmap.BitsPerPixel() == 32;
    const uint16_t samples = alpha ? 4 : 3;
    std::unique_ptr<TIFF, TTiffClose> tif(XTIFFOpen(fileName.c_str(), "w"));
    if (!tif)
        Fail(fileName, "libtiff cannot create it");
    TIFF* t = tif.get();
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(t, TIFFTAG_TILEWIDTH, TileSide);
    TIFFSetField(t, TIFFTAG_TILELENGTH, TileSide);
    if (alpha) {
        const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    if (content.Transform)
        SetPlacement(t, *content.Transform);

    {
        std::unique_ptr<GTIF, TGtifFree> gtif(GTIFNew(t));
        if (!gtif)
            Fail(fileName, "libgeotiff cannot add its keys");
        TLines lines{std::istringstream(GeoKeyMetadataText(content.Crs, content.TiePoints))};
        if (!GTIFImport(gtif.get(), NextLine, &lines))
            Fail(fileName, "libgeotiff cannot read the keys");
        GTIFWriteKeys(gtif.get());
    }

    // One band of tile rows at a time: the pixels of 256 rows, then their tiles.
    const size_t stride = static_cast<size_t>(width) * samples;
    std::vector<uint32_t> argb(width);
    std::vector<uint8_t> band(stride * TileSide);
    std::vector<uint8_t> tile(static_cast<size_t>(TileSide) * TileSide * samples);
    for (uint32_t y0 = 0; y0 < height; y0 += TileSide) {
        const uint32_t rows = std::min(TileSide, height - y0);
        for (uint32_t r = 0; r < rows; ++r) {
            bitmap.RowToARGB(static_cast<int>(y0 + r), 0, static_cast<int>(width), argb.data());
            uint8_t* out = band.data() + r * stride;
            for (const uint32_t c : argb) {
                *out++ = static_cast<uint8_t>(c >> 16);
                *out++ = static_cast<uint8_t>(c >> 8);
                *out++ = static_cast<uint8_t>(c);
                if (alpha)
                    *out++ = static_cast<uint8_t>(c >> 24);
            }
        }
        for (uint32_t x0 = 0; x0 < width; x0 += TileSide) {
            // Tiles past the picture's edge are padded with zeros.
            std::fill(tile.begin(), tile.end(), 0);
            const size_t columns = std::min(TileSide, width - x0) * samples;
            for (uint32_t r = 0; r < rows; ++r)
                std::memcpy(tile.data() + r * TileSide * samples, band.data() + r * stride + x0 * samples, columns);
            if (TIFFWriteTile(t, tile.data(), x0, y0, 0, 0) < 0)
                Fail(fileName, "a tile cannot be written (is the disk full?)");
        }
    }
    if (!TIFFWriteDirectory(t))
        Fail(fileName, "its directory cannot be written (is the disk full?)");
}
