// Our outputs as a GIS reads them: gdalinfo and listgeo (from Debian) on
// what pinwright-cli georef makes with a system, with rotation, from a
// GeoTIFF source and from a ".points" file.
#include "georef/fit_methods.h"
#include "georef/gcp_points_file.h"
#include "georef/geotiff_check.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>

namespace {

using pwtest::SamplePath;

pwtest::CommandResult Georef(std::vector<std::string> args)
{
    args.insert(args.begin(), {pwtest::BinPath("pinwright-cli"), "georef"});
    return pwtest::Run(args);
}

const std::string SampleMap = "3501000,5404000,3505000,5401000";
// The same sheet in degrees: 0.001 a pixel, column 0 at 7.0, row 0 at 51.0.
const std::string DegreeMap = "7.1,50.9,7.5,50.6";

TEST(GeorefForGis, GdalAndListgeoReadTheSystemAndOnlyTheNewPlacement)
{
    if (!pwtest::HaveProgram("gdalinfo") || !pwtest::HaveProgram("listgeo"))
        GTEST_SKIP() << "gdal-bin and geotiff-bin are needed";
    const std::string ul31467 = "Upper Left  ( 3499995.000, 5405005.000)";
    const std::string lr31467 = "Lower Right ( 3506395.000, 5400205.000)";
    const std::string ul4326 = "Upper Left  (   6.9995000,  51.0005000)";
    const std::string lr4326 = "Lower Right (   7.6395000,  50.5205000)";
    const struct {
        const char* Name;
        const char* Source;            // copied as map.* into the folder first
        std::vector<std::string> Args; // "@" stands for the folder
        const char* Read;              // the file the tools are run on
        std::vector<std::string> Gdal, Listgeo, NotInListgeo;
    } cases[] = {
        {"GeoTIFF in EPSG:31467", "sample_map.bmp", {"--map", SampleMap, "--out", "@/map.tif", "--crs", "EPSG:31467"},
         "map.tif", {"ID[\"EPSG\",31467]]", ul31467, lr31467},
         {"GTModelTypeGeoKey (Short,1): ModelTypeProjected", "GTRasterTypeGeoKey (Short,1): RasterPixelIsArea",
          "ProjectedCSTypeGeoKey (Short,1): Code-31467", "GTCitationGeoKey (Ascii,36): \"DHDN / 3-degree Gauss-Kruger zone 3\""},
         {}},
        {"JPEG with its world file in EPSG:31467", "sample_map.jpg",
         {"--map", SampleMap, "--out", "@/map.jgw", "--crs", "31467"}, "map.jpg",
         {"ID[\"EPSG\",31467]]", ul31467, lr31467}, {}, {}},
        {"GeoTIFF in EPSG:4326", "sample_map.jpg", {"--map", DegreeMap, "--out", "@/map.tif", "--crs", "WGS 84"},
         "map.tif", {"ID[\"EPSG\",4326]]", ul4326, lr4326},
         {"GTModelTypeGeoKey (Short,1): ModelTypeGeographic", "GeographicTypeGeoKey (Short,1): GCS_WGS_84"}, {}},
        {"JPEG with its world file in EPSG:4326", "sample_map.jpg",
         {"--map", DegreeMap, "--out", "@/map.jgw", "--crs", "EPSG:4326"}, "map.jpg",
         {"ID[\"EPSG\",4326]]", ul4326, lr4326}, {}, {}},
        {"no system: as before", "sample_map.bmp", {"--map", SampleMap, "--out", "@/map.tif"}, "map.tif",
         {ul31467, lr31467}, {"Keyed_Information:\n      End_Of_Keys."}, {"PROJCRS"}},
        {"GeoTIFF source in EPSG:4326, no system given", "4326.tif", {"--map", SampleMap, "--out", "@/out.tif"},
         "out.tif", {ul31467}, {"Keyed_Information:\n      End_Of_Keys."}, {"GCS_WGS_84", "ModelTypeGeographic"}},
        {"GeoTIFF source in EPSG:4326, new system", "4326.tif",
         {"--map", SampleMap, "--out", "@/out.tif", "--crs", "EPSG:31467"}, "out.tif", {"ID[\"EPSG\",31467]]", ul31467},
         {"ProjectedCSTypeGeoKey (Short,1): Code-31467"}, {"GCS_WGS_84", "GeogCitationGeoKey", "ModelTypeGeographic"}},
        {"GeoTIFF source with a model transformation", "turned.tif", {"--map", SampleMap, "--out", "@/out.tif"},
         "out.tif", {ul31467, lr31467}, {"ModelPixelScaleTag"}, {"ModelTransformationTag"}},
        {"points and system from a .points file", "sample_map.bmp",
         {"--points", pwtest::DataPath("georef/sample_map_31467.points"), "--out", "@/map.tif"}, "map.tif",
         {"ID[\"EPSG\",31467]]", ul31467, lr31467}, {"ProjectedCSTypeGeoKey (Short,1): Code-31467"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        pwtest::TempDir dir;
        const std::string source = c.Source;
        const std::string extension = source.substr(source.rfind('.'));
        const std::string image = dir.File("map" + extension);
        if (source == "4326.tif") {
            ASSERT_EQ(pwtest::Run({"gdal_translate", "-q", "-a_srs", "EPSG:4326", "-a_ullr", "7", "51", "8", "50",
                                   SamplePath("sample_map.bmp"), image}).ExitCode, 0);
        } else if (source == "turned.tif") {
            const std::string tfw = dir.File("turned.tfw");
            pwtest::WriteText(tfw, "9.986295347546\n0.523359562429\n0.523359562429\n-9.986295347546\n3500000\n5405000\n");
            ASSERT_EQ(pwtest::Run({"convert", SamplePath("sample_map.bmp"), dir.File("plain.tif")}).ExitCode, 0);
            ASSERT_EQ(pwtest::Run({"geotifcp", "-e", tfw, dir.File("plain.tif"), image}).ExitCode, 0);
        } else {
            std::filesystem::copy_file(SamplePath(source), image);
        }
        std::vector<std::string> args = {image};
        if (c.Args[0] != "--points")
            args.insert(args.end(), {"--p1", "100,100", "--p2", "500,400"});
        for (const auto& arg : c.Args)
            args.push_back(arg[0] == '@' ? dir.Path() + arg.substr(1) : arg);
        const auto made = Georef(args);
        ASSERT_EQ(made.ExitCode, 0) << made.Err;

        const auto gdal = pwtest::Run({"gdalinfo", dir.File(c.Read)});
        for (const auto& text : c.Gdal)
            EXPECT_NE(gdal.Out.find(text), std::string::npos) << text << "\n" << gdal.Out;
        const auto listgeo = pwtest::Run({"listgeo", "-no_norm", dir.File(c.Read)});
        for (const auto& text : c.Listgeo)
            EXPECT_NE(listgeo.Out.find(text), std::string::npos) << text << "\n" << listgeo.Out;
        for (const auto& text : c.NotInListgeo)
            EXPECT_EQ(listgeo.Out.find(text), std::string::npos) << text << "\n" << listgeo.Out;
    }
}

TEST(GeorefForGis, PointsFileWrittenBackIsTheOneRead)
{
    pwtest::TempDir dir;
    const std::string points = pwtest::DataPath("georef/sample_map_31467.points");
    const auto made = Georef({SamplePath("sample_map.jpg"), "--points", points, "--out", dir.File("map.jgw"),
                              "--write-points", dir.File("again.points")});
    ASSERT_EQ(made.ExitCode, 0) << made.Err;
    EXPECT_EQ(pwtest::ReadText(dir.File("again.points")), pwtest::ReadText(points));
}

// Pixel (c, r) of the sample after ImageMagick turned it by degrees
// clockwise about its centre (pixel centres at c + 0.5, r + 0.5).
void Turned(double degrees, int& col, int& row)
{
    const double a = degrees * M_PI / 180, x = col + 0.5 - 320, y = row + 0.5 - 240;
    col = static_cast<int>(std::floor(320 + x * std::cos(a) - y * std::sin(a)));
    row = static_cast<int>(std::floor(240 + x * std::sin(a) + y * std::cos(a)));
}

TEST(GeorefForGis, RotatedScanFitsBothPointsAndGdalSeesTheSameGeotransform)
{
    if (!pwtest::HaveProgram("gdalinfo"))
        GTEST_SKIP() << "gdal-bin is needed";
    pwtest::TempDir dir;
    ASSERT_EQ(pwtest::Run({"convert", SamplePath("sample_map.bmp"), "-distort", "SRT", "3", "BMP3:" + dir.File("scan.bmp")})
                  .ExitCode, 0);
    int c1 = 100, r1 = 100, c2 = 500, r2 = 400;
    Turned(3, c1, r1);
    Turned(3, c2, r2);
    const auto made = Georef({dir.File("scan.bmp"), "--p1", std::to_string(c1) + "," + std::to_string(r1), "--p2",
                              std::to_string(c2) + "," + std::to_string(r2), "--map", SampleMap, "--rotate", "--out",
                              dir.File("scan.tif")});
    ASSERT_EQ(made.ExitCode, 0) << made.Err;
    EXPECT_NE(made.Err.find("Rotation implied by the points: -3.0"), std::string::npos) << made.Err;

    TAffineTransform t;
    ASSERT_TRUE(ParseWorldFileText(pwtest::ReadText(dir.File("scan.tfw")), t));
    EXPECT_NE(t.B, 0);
    EXPECT_NEAR(t.MapY(c1, r1), 3501000, 0.001);
    EXPECT_NEAR(t.MapX(c1, r1), 5404000, 0.001);
    EXPECT_NEAR(t.MapY(c2, r2), 3505000, 0.001);
    EXPECT_NEAR(t.MapX(c2, r2), 5401000, 0.001);

    // gdalinfo's geotransform counts from the corner of the top-left pixel.
    const std::string out = pwtest::Run({"gdalinfo", dir.File("scan.tif")}).Out;
    const size_t at = out.find("GeoTransform =");
    ASSERT_NE(at, std::string::npos) << out;
    std::string numbers = out.substr(at + 14, 200);
    std::replace(numbers.begin(), numbers.end(), ',', ' ');
    std::istringstream in(numbers);
    double gt[6];
    for (double& v : gt)
        in >> v;
    const double expected[6] = {t.MapY(-0.5, -0.5), t.A, t.B, t.MapX(-0.5, -0.5), t.D, t.E};
    for (int i = 0; i < 6; ++i)
        EXPECT_NEAR(gt[i], expected[i], 1e-6) << i;
}

// Ten points of the sample seen in perspective (a sheet photographed a
// little from one side), in EPSG:31467.
TControlPoints PerspectivePoints()
{
    const double places[][2] = {{30, 20},  {320, 30},  {610, 25},  {20, 240}, {330, 250},
                                {620, 230}, {40, 460}, {300, 450}, {600, 455}, {170, 120}};
    TControlPoints points;
    for (const auto& [c, r] : places) {
        const double w = 1 + 1e-4 * c - 2e-4 * r;
        points.push_back({static_cast<int>(points.size()) + 1, c, r, (3500000 + 10 * c + 0.5 * r) / w,
                          (5405000 + 0.3 * c - 10 * r) / w});
    }
    return points;
}

TEST(GeorefForGis, ControlPointGeoTiffListsItsPointsAndTheWarpedCopyMatchesTheFit)
{
    if (!pwtest::HaveProgram("gdalinfo") || !pwtest::HaveProgram("gdalwarp"))
        GTEST_SKIP() << "gdal-bin is needed";
    const TControlPoints points = PerspectivePoints();
    for (const std::string transform : {"projective", "polynomial2", "tps"}) {
        SCOPED_TRACE(transform);
        pwtest::TempDir dir;
        pwtest::WriteText(dir.File("sheet.points"), GcpPointsText(points, {}));
        // The world file of an earlier save would contradict the new GeoTIFF.
        pwtest::WriteText(dir.File("map.tfw"), "10\n0\n0\n-10\n3500000\n5405000\n");
        const auto made = Georef({SamplePath("sample_map.jpg"), "--points", dir.File("sheet.points"), "--transform",
                                  transform, "--crs", "EPSG:31467", "--warp", "--out", dir.File("map.tif")});
        ASSERT_EQ(made.ExitCode, 0) << made.Err;
        EXPECT_EQ(pwtest::Listing(dir.Path()), (std::set<std::string>{"sheet.points", "map.tif", "map_warped.tif"}));

        // GDAL counts from the picture's corner, as the tie points do.
        const std::string info = pwtest::Run({"gdalinfo", dir.File("map.tif")}).Out;
        EXPECT_NE(info.find("GCP Projection = \nPROJCRS[\"DHDN / 3-degree Gauss-Kruger zone 3\""), std::string::npos)
            << info;
        EXPECT_NE(info.find("GCP[  9]: Id=10, Info=\n          (170.5,120.5) -> ("), std::string::npos) << info;
        EXPECT_EQ(info.find("GeoTransform"), std::string::npos) << info;

        // The warped copy spans the fit's outline of the sheet: its extent
        // matches the outline's bounds to half of one of its pixels.
        const TFitResult fit = FitControlPoints(transform, points);
        double west = INFINITY, east = -INFINITY, south = INFINITY, north = -INFINITY;
        for (int i = 0; i <= 400; ++i) {
            const double t = i / 400.0;
            for (const auto& [p, l] : {std::pair{640 * t, 0.0}, {640 * t, 480.0}, {0.0, 480 * t}, {640.0, 480 * t}}) {
                const TMapPosition at = fit.Model->Map(p - 0.5, l - 0.5);
                west = std::min(west, at.East);
                east = std::max(east, at.East);
                south = std::min(south, at.North);
                north = std::max(north, at.North);
            }
        }
        TGeoTiffPlacement warped;
        std::string error;
        ASSERT_TRUE(ReadGeoTiffPlacement(dir.File("map_warped.tif"), warped, error)) << error;
        ASSERT_EQ(warped.PixelScale.size(), 3u);
        ASSERT_EQ(warped.TiePoint.size(), 6u);
        const double sx = warped.PixelScale[0], sy = warped.PixelScale[1];
        const double left = warped.TiePoint[3] - warped.TiePoint[0] * sx;
        const double top = warped.TiePoint[4] + warped.TiePoint[1] * sy;
        EXPECT_NEAR(left, west, sx / 2);
        EXPECT_NEAR(left + warped.Width * sx, east, sx / 2);
        EXPECT_NEAR(top, north, sy / 2);
        EXPECT_NEAR(top - warped.Height * sy, south, sy / 2);
    }
}

} // namespace
