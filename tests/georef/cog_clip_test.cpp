// The outputs a map portal takes: Cloud Optimized GeoTIFFs that GDAL's
// validator accepts, and warped copies cut to an outline, transparent
// outside it.
#include "georef/export_pipeline.h"
#include "georef/save_request.h"

#include "imaging/format_registry.h"
#include "platform/exceptions.h"
#include "tests/support/test_support.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cmath>

namespace {

// A PNM picture of width x height with a pattern in every channel.
std::string WritePicture(const pwtest::TempDir& dir, int width, int height)
{
    std::string text = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            text += {static_cast<char>(x * 7), static_cast<char>(y * 3), static_cast<char>((x ^ y) | 1)};
    const std::string file = dir.File("sheet.ppm");
    pwtest::WriteText(file, text);
    return file;
}

// Four points at the picture's corners, 2 map units a pixel, turned by b.
TControlPoints CornerPoints(int width, int height, double b)
{
    TControlPoints points;
    for (const auto& [id, col, row] : {std::tuple{1, 0.0, 0.0}, {2, width - 1.0, 0.0},
                                       {3, width - 1.0, height - 1.0}, {4, 0.0, height - 1.0}})
        points.push_back({id, col, row, 400000 + 2 * col + b * row, 5000000 + b * col - 2 * row});
    return points;
}

TSaveRequest Save(const pwtest::TempDir& dir, const TControlPoints& points, const std::string& transform,
                  const TOutputChoices& outputs, bool warp = false)
{
    TGeorefOptions options;
    options.Transform = transform;
    options.Crs = LookupCrs("EPSG:32632");
    options.Outputs = outputs;
    options.Warp = warp;
    const TSaveRequest request = BuildSaveRequest(points, options, dir.File("out.tif"), TTargetFilter::TiffTfw,
                                                  {WritePicture(dir, 1100, 700)});
    TExportPipeline pipeline(dir.Path());
    WriteWorldFile(request, pipeline);
    return request;
}

nlohmann::json GdalInfo(const std::string& file)
{
    const auto info = pwtest::Run({"gdalinfo", "-json", file});
    EXPECT_EQ(info.ExitCode, 0) << info.Err;
    return info.ExitCode == 0 ? nlohmann::json::parse(info.Out) : nlohmann::json();
}

TEST(CloudOptimizedGeoTiff, ValidatorAcceptsTheGeoTiffAndTheWarpedCopy)
{
    InitializeImaging();
    const std::string validator = "/usr/lib/python3/dist-packages/osgeo_utils/samples/validate_cloud_optimized_geotiff.py";
    const struct {
        const char* Transform;
        bool Warp;
        size_t Gcps;
    } cases[] = {{"affine", false, 0}, {"projective", true, 4}};
    for (const auto& c : cases) {
        pwtest::TempDir dir;
        TOutputChoices cog;
        cog.Cog = true;
        Save(dir, CornerPoints(1100, 700, 0.5), c.Transform, cog, c.Warp);
        std::vector<std::string> files = {dir.File("out.tif")};
        if (c.Warp)
            files.push_back(dir.File("out_warped.tif"));
        for (const std::string& file : files) {
            const auto valid = pwtest::Run({"/usr/bin/python3", validator, file});
            EXPECT_EQ(valid.ExitCode, 0) << file << valid.Out << valid.Err;
            EXPECT_NE(valid.Out.find("is a valid cloud optimized GeoTIFF"), std::string::npos) << file;
            const nlohmann::json info = GdalInfo(file);
            EXPECT_EQ(info["metadata"]["IMAGE_STRUCTURE"]["LAYOUT"], "COG") << file;
            EXPECT_EQ(info["metadata"]["IMAGE_STRUCTURE"]["COMPRESSION"], "DEFLATE") << file;
            EXPECT_FALSE(info["bands"][0]["overviews"].empty()) << file;
        }
        const nlohmann::json info = GdalInfo(dir.File("out.tif"));
        EXPECT_EQ(info.contains("gcps") ? info["gcps"]["gcpList"].size() : 0u, c.Gcps) << c.Transform;
    }
}

TEST(ClippedWarp, OutsideTransparentAndCroppedToTheOutline)
{
    InitializeImaging();
    const TControlPoints points = CornerPoints(1100, 700, 0.5);
    // The hull of the points and an outline of a quarter of the sheet, by file.
    pwtest::TempDir outlines;
    const std::string quarter = outlines.File("quarter.geojson");
    pwtest::WriteText(quarter, R"({"type":"Feature","geometry":{"type":"Polygon","coordinates":[[[400200,4999800],)"
                               R"([400700,4999900],[400600,4999400],[400150,4999350],[400200,4999800]]]}})");
    const struct {
        const char* Name;
        std::string Geometry;
        double West, East, South, North;
    } cases[] = {
        {"points", RingGeometry(FittedPointsHull(points)), 400000, 402547.5, 4998602, 5000549.5},
        {"file", ReadClipGeometry(quarter), 400150, 400700, 4999350, 4999900},
    };
    for (const auto& c : cases) {
        pwtest::TempDir dir;
        TOutputChoices clip;
        clip.ClipGeometry = c.Geometry;
        clip.Resampling = "bilinear";
        const TSaveRequest request = Save(dir, points, "affine", clip);
        const std::string warped = dir.File("out_warped.tif");
        const nlohmann::json info = GdalInfo(warped);
        ASSERT_EQ(info["bands"].size(), 4u) << c.Name;
        EXPECT_EQ(info["bands"][3]["colorInterpretation"], "Alpha") << c.Name;
        // The crop's frame: the outline's bounds, to within half an output pixel.
        const double size = info["geoTransform"][1].get<double>() / 2;
        const nlohmann::json& corners = info["cornerCoordinates"];
        EXPECT_NEAR(corners["upperLeft"][0].get<double>(), c.West, size) << c.Name;
        EXPECT_NEAR(corners["upperLeft"][1].get<double>(), c.North, size) << c.Name;
        EXPECT_NEAR(corners["lowerRight"][0].get<double>(), c.East, size) << c.Name;
        EXPECT_NEAR(corners["lowerRight"][1].get<double>(), c.South, size) << c.Name;

        // Alpha 0 at the corners of the crop (outside the turned outline), 255 at its centre.
        TIFF* tif = TIFFOpen(warped.c_str(), "r");
        ASSERT_NE(tif, nullptr);
        uint32_t w = 0, h = 0;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
        std::vector<uint32_t> abgr(static_cast<size_t>(w) * h);
        ASSERT_TRUE(TIFFReadRGBAImageOriented(tif, w, h, abgr.data(), ORIENTATION_TOPLEFT, 0));
        TIFFClose(tif);
        auto alpha = [&](uint32_t x, uint32_t y) { return abgr[static_cast<size_t>(y) * w + x] >> 24; };
        EXPECT_EQ(alpha(0, 0), 0u) << c.Name;
        EXPECT_EQ(alpha(w - 1, h - 1), 0u) << c.Name;
        EXPECT_EQ(alpha(w / 2, h / 2), 255u) << c.Name;
    }
}

TEST(ClippedWarp, BadOutlinesAndChoicesNamed)
{
    pwtest::TempDir dir;
    const struct {
        std::string Text;
        std::string Error;
    } cases[] = {
        {"{", "The outline 'F' is not GeoJSON"},
        {R"({"type":"Point","coordinates":[1,2]})", "The outline 'F' holds no Polygon or MultiPolygon"},
        {R"({"type":"Polygon","coordinates":[[[1,2],[3,4],[1,2]]]})",
         "The outline 'F' has a ring of fewer than four positions"},
        {R"({"type":"Polygon","coordinates":[[[1,2],[3,"4"],[5,1],[1,2]]]})",
         "The outline 'F' has a position that is not two finite numbers: [3,\"4\"]"},
        {R"({"type":"MultiPolygon","coordinates":[]})", "The outline 'F' has a MultiPolygon without polygons"},
    };
    for (const auto& c : cases) {
        const std::string file = dir.File("outline.geojson");
        pwtest::WriteText(file, c.Text);
        try {
            ReadClipGeometry(file);
            ADD_FAILURE() << c.Text;
        } catch (const Exception& error) {
            std::string expected = c.Error;
            expected.replace(expected.find('F'), 1, file);
            EXPECT_EQ(error.Message(), expected);
        }
    }
    TGeorefOptions options;
    options.Transform = "affine";
    options.Outputs.Resampling = "average";
    try {
        BuildSaveRequest(CornerPoints(10, 10, 0), options);
        ADD_FAILURE();
    } catch (const Exception& error) {
        EXPECT_EQ(error.Message(), "Unknown resampling 'average' (the resamplings are near, bilinear, cubic, lanczos)");
    }
    try {
        FittedPointsHull({{1, 0, 0, 1, 1}, {2, 1, 1, 2, 2}, {3, 2, 2, 3, 3}});
        ADD_FAILURE();
    } catch (const Exception& error) {
        EXPECT_EQ(error.Message(), "The fitted points enclose no area to clip to");
    }
}

} // namespace
