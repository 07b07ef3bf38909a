// pinwright-cli info and georef --check-existing on a GeoTIFF that
// pinwright-cli georef made: the georeferencing read back from its tags
// measures a check point as the fit did, and nothing is written.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

pwtest::CommandResult Cli(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), pwtest::BinPath("pinwright-cli"));
    return pwtest::Run(arguments);
}

// Four points of the sample map (10 units a pixel) placed exactly, fitted,
// and a check point 3 units east and 4 north of its pixel's position.
const std::string FitPoints = "mapX,mapY,sourceX,sourceY,enable,dX,dY,residual\n"
                              "3500500,5404600,50.5,-40.5,1,0,0,0\n"
                              "3505900,5404600,590.5,-40.5,1,0,0,0\n"
                              "3505900,5400600,590.5,-440.5,1,0,0,0\n"
                              "3500500,5400600,50.5,-440.5,1,0,0,0\n"
                              "3502003,5402604,200.5,-240.5,0,0,0,0\n";

TEST(CheckExistingCli, MeasuresTheFilesGeoreferencingAsTheFitDid)
{
    pwtest::TempDir dir;
    pwtest::WriteText(dir.File("fit.points"), FitPoints);
    const pwtest::CommandResult fit = Cli({"georef", pwtest::SamplePath("sample_map.bmp"), "--points",
                                           dir.File("fit.points"), "--transform", "affine", "--crs", "EPSG:31467",
                                           "--out", dir.File("map.tif")});
    ASSERT_EQ(fit.ExitCode, 0) << fit.Err;
    const std::string rms = "RMS of the check points: 0.500 pixels, 5.000 map units\n";
    EXPECT_NE(fit.Err.find(rms), std::string::npos) << fit.Err;
    // Only the GeoTIFF's tags speak: the world file beside it goes.
    std::filesystem::remove(dir.File("map.tfw"));

    const std::string tif = dir.File("map.tif");
    const struct {
        const char* Name;
        std::string Points;
        int ExitCode;
        std::string Out, Err;
    } cases[] = {
        {"CheckPoint",
         "mapX,mapY,sourceX,sourceY,enable,dX,dY,residual\n3502003,5402604,200.5,-240.5,0,0,0,0\n", 0,
         "Existing georeferencing: GeoTIFF in " + tif + ", EPSG:31467 (DHDN / 3-degree Gauss-Kruger zone 3)\n"
         "Point     Column        Row             East            North  Error (map) Error (px)\n"
         "    1    200.000    240.000      3502003.000      5402604.000        5.000      0.500\n"
         "RMS of the 1 points: 0.500 pixels, 5.000 map units\n",
         ""},
        {"NoPoints", "mapX,mapY,sourceX,sourceY,enable,dX,dY,residual\n", 1, "",
         "The point file '" + dir.File("check.points") + "' holds no points.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        pwtest::WriteText(dir.File("check.points"), c.Points);
        const pwtest::CommandResult r = Cli({"georef", tif, "--check-existing", "--points", dir.File("check.points")});
        EXPECT_EQ(r.ExitCode, c.ExitCode);
        EXPECT_EQ(r.Out, c.Out);
        EXPECT_EQ(r.Err, c.Err);
    }
    const std::string bare = dir.File("bare.bmp");
    std::filesystem::copy_file(pwtest::SamplePath("sample_map.bmp"), bare);
    const pwtest::CommandResult none = Cli({"georef", bare, "--check-existing", "--points", dir.File("fit.points")});
    EXPECT_EQ(none.ExitCode, 1);
    EXPECT_EQ(none.Err, "The picture '" + bare +
                            "' has no georeferencing of its own (GeoTIFF tags, a GeoJP2 or GMLJP2 box, a world file or "
                            "an .aux.xml).\n");
    EXPECT_EQ(pwtest::Listing(dir.Path()),
              (std::set<std::string>{"bare.bmp", "check.points", "fit.points", "map.tif"}));

    const pwtest::CommandResult info = Cli({"info", tif});
    EXPECT_NE(info.Out.find("\"geoTransform\": [3499995, 10, 0, 5405005, 0, -10],\n    \"crs\": \"EPSG:31467\""),
              std::string::npos)
        << info.Out;
}

} // namespace
