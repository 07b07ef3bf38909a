// Every transformation against an independent reckoning: gdaltransform (from
// Debian's gdal-bin) fitting the same points given with -gcp, or reading the
// GeoTIFF the pipeline made, through its world file or, for the fits no
// world file states, through the tie points it carries; and exact points of
// a known similarity or homography recovered.
#include "georef/coordinates.h"
#include "georef/export_pipeline.h"
#include "georef/save_request.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

namespace {

// Twelve points over the 640 x 480 sample, a sheet bent a little and picked
// with an irregular error of up to half a map unit, so that every fit
// differs from every other.
TControlPoints BentSheet()
{
    const double places[][2] = {{40, 30},   {320, 25},  {610, 40},  {30, 240}, {330, 250}, {615, 230},
                                {45, 450},  {300, 455}, {600, 440}, {170, 130}, {470, 350}, {200, 380}};
    TControlPoints points;
    for (const auto& [c, r] : places) {
        const int id = static_cast<int>(points.size()) + 1;
        points.push_back({id, c, r, 3500000 + 10.02 * c + 0.3 * r + 2e-4 * c * c + 0.5 * std::sin(id),
                          5405000 + 0.25 * c - 9.97 * r + 3e-4 * r * r + 0.5 * std::cos(3 * id)});
    }
    return points;
}

// Map positions of pixels under a known transformation, exactly.
template <typename Truth>
TControlPoints Exact(Truth truth)
{
    TControlPoints points;
    for (const auto& [c, r] : {std::pair{20.0, 30.0}, {600.0, 45.0}, {590.0, 460.0}, {35.0, 440.0}, {300.0, 200.0}}) {
        const auto [east, north] = truth(c, r);
        points.push_back({static_cast<int>(points.size()) + 1, c, r, east, north});
    }
    return points;
}

std::pair<double, double> Similarity(double c, double r)
{
    const double s = 2.5 * std::cos(0.04), t = 2.5 * std::sin(0.04);
    return {612345.5 + s * c + t * r, 5800000.25 + t * c - s * r};
}

std::pair<double, double> Homography(double c, double r)
{
    const double w = 1 + 2e-5 * c - 3e-5 * r;
    return {(612000 + 2.49 * c + 0.1 * r) / w, (5800000 + 0.08 * c - 2.51 * r) / w};
}

// gdaltransform's map positions of GDAL pixel/line positions, which count
// from the picture's corner; the transformation from the file, or from the
// points given as -gcp when file is empty.
std::vector<std::pair<double, double>> GdalTransform(const std::vector<std::string>& options, const std::string& file,
                                                     const TControlPoints& points,
                                                     const std::vector<std::pair<double, double>>& pixels,
                                                     const pwtest::TempDir& dir)
{
    std::string input;
    for (const auto& [p, l] : pixels)
        input += ShortestText(p) + " " + ShortestText(l) + "\n";
    pwtest::WriteText(dir.File("pixels.txt"), input);
    std::string command = "gdaltransform";
    for (const auto& option : options)
        command += " " + option;
    if (file.empty())
        for (const TControlPoint& p : points)
            command += " -gcp " + ShortestText(p.Col + 0.5) + " " + ShortestText(p.Row + 0.5) + " " +
                       ShortestText(p.East) + " " + ShortestText(p.North);
    else
        command += " '" + file + "'";
    const auto result = pwtest::Run({"sh", "-c", command + " < '" + dir.File("pixels.txt") + "'"});
    EXPECT_EQ(result.ExitCode, 0) << result.Err;
    std::vector<std::pair<double, double>> map;
    std::istringstream out(result.Out);
    for (double x, y, z; out >> x >> y >> z;)
        map.emplace_back(x, y);
    return map;
}

TEST(FitAgreement, GdalTransformAndExactPointsAgreeWithEveryFit)
{
    if (!pwtest::HaveProgram("gdaltransform"))
        GTEST_SKIP() << "gdal-bin is needed";
    enum TReference { File, Gcps, Truth };
    const struct {
        std::string Transform;
        TControlPoints Points;
        TReference Reference;
        std::vector<std::string> GdalOptions;
        std::pair<double, double> (*Truth)(double, double) = nullptr;
    } cases[] = {
        {"two-point", BentSheet(), File, {}},
        {"helmert", BentSheet(), File, {}},
        {"affine", BentSheet(), File, {}},
        {"affine", BentSheet(), Gcps, {"-order", "1"}},
        {"polynomial2", BentSheet(), File, {"-order", "2"}},
        {"polynomial3", BentSheet(), File, {"-order", "3"}},
        {"tps", BentSheet(), File, {"-tps"}},
        {"tps", BentSheet(), Gcps, {"-tps"}},
        {"helmert", Exact(Similarity), Truth, {}, Similarity},
        {"projective", Exact(Homography), Truth, {}, Homography},
    };
    std::vector<std::pair<double, double>> pixels; // GDAL's, over the sheet and beyond its corners
    for (double l = -40; l <= 520; l += 70)
        for (double p = -40; p <= 680; p += 90)
            pixels.emplace_back(p, l);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Transform);
        pwtest::TempDir dir;
        TGeorefOptions options;
        options.Transform = c.Transform;
        const TSaveRequest request = BuildSaveRequest(c.Points, options, dir.File("map.tif"), TTargetFilter::TiffTfw,
                                                      {pwtest::SamplePath("sample_map.bmp"), TSourceFormat::BMP});
        std::vector<std::pair<double, double>> expected;
        if (c.Reference == Truth) {
            for (const auto& [p, l] : pixels)
                expected.push_back(c.Truth(p - 0.5, l - 0.5));
        } else {
            std::string file;
            if (c.Reference == File) {
                TExportPipeline pipeline(dir.Path());
                WriteWorldFile(request, pipeline);
                file = dir.File("map.tif");
            }
            expected = GdalTransform(c.GdalOptions, file, c.Points, pixels, dir);
            ASSERT_EQ(expected.size(), pixels.size());
        }
        for (size_t i = 0; i < pixels.size(); ++i) {
            const double col = pixels[i].first - 0.5, row = pixels[i].second - 0.5;
            const TMapPosition ours = request.Fit.Model->Map(col, row);
            const double east = expected[i].first, north = expected[i].second;
            const TAffineTransform tangent = request.Fit.Model->Tangent(col, row);
            const double pixel = std::sqrt(std::fabs(tangent.A * tangent.E - tangent.B * tangent.D));
            const double tolerance = c.Reference == Truth ? 1e-9 * std::hypot(east, north) : 0.001;
            EXPECT_NEAR(ours.East, east, tolerance) << col << "," << row;
            EXPECT_NEAR(ours.North, north, tolerance) << col << "," << row;
            if (c.Reference != Truth) {
                EXPECT_LE(std::hypot(ours.East - east, ours.North - north) / pixel, 0.001) << col << "," << row;
            }
        }
    }
}

} // namespace
