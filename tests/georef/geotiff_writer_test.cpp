// Pictures that no converter takes become GeoTIFFs from their decoded
// pixels: every pixel as the picture shows it, and the corners where the
// fit puts them as GDAL reads the file.
#include "georef/export_pipeline.h"
#include "georef/save_request.h"

#include "imaging/format_registry.h"
#include "imaging/loaded_picture.h"
#include "platform/bitmap.h"
#include "tests/support/test_support.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <tuple>
#include <vector>

namespace {

// The file's pixels as 0xAARRGGBB, top row first, from its tiles as stored
// (libtiff's RGBA reader would premultiply the alpha). Empty unless the file
// is tiled, Deflate-coded, 8-bit RGB or RGBA.
std::vector<uint32_t> TiffPixels(const std::string& fileName, uint32_t& width, uint32_t& height)
{
    TIFF* tif = TIFFOpen(fileName.c_str(), "r");
    if (!tif)
        return {};
    uint32_t tileWidth = 0, tileHeight = 0;
    uint16_t compression = 0, samples = 0, bits = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileHeight);
    std::vector<uint32_t> argb;
    if (TIFFIsTiled(tif) && compression == COMPRESSION_ADOBE_DEFLATE && bits == 8 && (samples == 3 || samples == 4)) {
        argb.resize(static_cast<size_t>(width) * height);
        std::vector<uint8_t> tile(TIFFTileSize(tif));
        for (uint32_t y0 = 0; y0 < height; y0 += tileHeight)
            for (uint32_t x0 = 0; x0 < width; x0 += tileWidth) {
                TIFFReadTile(tif, tile.data(), x0, y0, 0, 0);
                for (uint32_t y = y0; y < std::min(height, y0 + tileHeight); ++y)
                    for (uint32_t x = x0; x < std::min(width, x0 + tileWidth); ++x) {
                        const uint8_t* p = &tile[((y - y0) * tileWidth + (x - x0)) * samples];
                        argb[static_cast<size_t>(y) * width + x] =
                            (samples == 4 ? uint32_t(p[3]) << 24 : 0xFF000000u) | uint32_t(p[0]) << 16 |
                            uint32_t(p[1]) << 8 | p[2];
                    }
            }
    }
    TIFFClose(tif);
    return argb;
}

TEST(DecodedGeoTiff, EveryFormatWrittenWithItsPixelsAndPlacement)
{
    InitializeImaging();
    const struct {
        const char* File;
        bool Turned;  // a fit with rotation terms (a model transformation)
    } cases[] = {
        {"tests/data/png/im_rgba16.png", false},    {"tests/data/targa/hb_rgb15.tga", true},
        {"tests/data/pcx/im_rgb24.pcx", false},     {"fuzz/corpus/psd/cmyk.psd", true},
        {"fuzz/corpus/psp/rgb_v5_c1.psp", false},   {"tests/data/sgi/im_gray8_rle.bw", true},
        {"fuzz/corpus/rla/rgba8.rla", false},       {"fuzz/corpus/ppm/raw.ppm", true},
        {"fuzz/corpus/cut/rows.cut", false},        {"fuzz/corpus/pcd/overview.pcd", true},
        {"tests/data/metafile/shapes.wmf", false},
    };
    for (const auto& c : cases) {
        const std::string source = std::string(PW_TEST_DATA) + "/../../" + c.File;
        const auto picture = LoadPicturePixels(source);
        const TBitmap& bitmap = picture->ViewBitmap();
        const int w = bitmap.Width(), h = bitmap.Height();
        // Three points of a fit with 2.5 map units a pixel, turned or not.
        const double b = c.Turned ? 0.75 : 0;
        TControlPoints points;
        for (const auto& [id, col, row] : {std::tuple{1, 0.0, 0.0}, {2, w - 1.0, 0.0}, {3, 0.0, h - 1.0}})
            points.push_back({id, col, row, 500000 + 2.5 * col + b * row, 4000000 + b * col - 2.5 * row});
        pwtest::TempDir dir;
        TGeorefOptions options;
        options.Transform = "affine";
        options.Crs = LookupCrs("EPSG:32633");
        const TSaveRequest request =
            BuildSaveRequest(points, options, dir.File("out.tif"), TTargetFilter::TiffTfw, {source});
        TExportPipeline pipeline(dir.Path());
        WriteWorldFile(request, pipeline);

        uint32_t width = 0, height = 0;
        const std::vector<uint32_t> written = TiffPixels(dir.File("out.tif"), width, height);
        ASSERT_EQ(width, static_cast<uint32_t>(w)) << c.File;
        ASSERT_EQ(height, static_cast<uint32_t>(h)) << c.File;
        ASSERT_EQ(written.size(), static_cast<size_t>(w) * h) << c.File;
        std::vector<uint32_t> row(static_cast<size_t>(w));
        int wrong = 0;
        for (int y = 0; y < h; ++y) {
            bitmap.RowToARGB(y, 0, w, row.data());
            for (int x = 0; x < w; ++x)
                wrong += row[x] != written[static_cast<size_t>(y) * w + x];
        }
        EXPECT_EQ(wrong, 0) << c.File;

        const auto info = pwtest::Run({"gdalinfo", "-json", dir.File("out.tif")});
        ASSERT_EQ(info.ExitCode, 0) << info.Err;
        const nlohmann::json gdal = nlohmann::json::parse(info.Out);
        const nlohmann::json& corners = gdal["cornerCoordinates"];
        const struct {
            const char* Name;
            double Col, Row;
        } expected[] = {{"upperLeft", -0.5, -0.5}, {"upperRight", w - 0.5, -0.5}, {"lowerRight", w - 0.5, h - 0.5},
                        {"lowerLeft", -0.5, h - 0.5}};
        for (const auto& e : expected) {
            const TMapPosition at = request.Fit.Model->Map(e.Col, e.Row);
            EXPECT_NEAR(corners[e.Name][0].get<double>(), at.East, 1e-6) << c.File << " " << e.Name;
            EXPECT_NEAR(corners[e.Name][1].get<double>(), at.North, 1e-6) << c.File << " " << e.Name;
        }
        EXPECT_NE(gdal["coordinateSystem"]["wkt"].get<std::string>().find("ID[\"EPSG\",32633]]"), std::string::npos)
            << c.File;
    }
}

} // namespace
