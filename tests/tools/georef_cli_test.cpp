// pinwright-cli georef: the workbench's Save from the command line.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace {

using pwtest::Listing;
using pwtest::SamplePath;

const std::string SampleCheck = "Misfit of point 2: 0.000 map units, 0.000 pixels\n"
                                "Scale along rows: 10.000000, down columns: 10.000000\n"
                                "Rotation implied by the points: 0.000 degrees\n";
const std::string SampleLines = "10.000000000000\n0.000\n0.000\n-10.000000000000\n3500000.000\n5405000.000\n";

std::string LastLine(const std::string& text)
{
    const std::string trimmed = text.substr(0, text.find_last_not_of('\n') + 1);
    return trimmed.substr(trimmed.rfind('\n') + 1);
}

pwtest::CommandResult Georef(std::vector<std::string> args)
{
    args.insert(args.begin(), {pwtest::BinPath("pinwright-cli"), "georef"});
    return pwtest::Run(args);
}

TEST(GeorefCommand, MakesTheOutputsAndPrintsTheWorldFile)
{
    const struct {
        const char* Name;
        std::vector<std::string> Args;
        std::string Target;
        std::set<std::string> Files;
        std::string Lines;
        std::string Check = SampleCheck; // on stderr
    } cases[] = {
        {"BMP and a point file to TIFF + TFW",
         {SamplePath("sample_map.bmp"), "--p1", "100,100", "--p2", "500,400", "--points",
          SamplePath("sample_map_points.txt")},
         "map.tif", {"map.tif", "map.tfw"}, SampleLines},
        {"JPEG to TIFF + TFW",
         {SamplePath("sample_map.jpg"), "--p1", "100,100", "--p2", "500,400", "--map",
          "3501000,5404000,3505000,5401000"},
         "sheet 7.tif", {"sheet 7.tif", "sheet 7.tfw"}, SampleLines},
        {"JGW only",
         {SamplePath("sample_map.jpg"), "--p1", "100,100", "--p2", "500,400", "--map",
          "3501000,5404000,3505000,5401000"},
         "map.jgw", {"map.jgw"}, SampleLines},
        {"negated",
         {SamplePath("sample_map.jpg"), "--p1", "10,20", "--p2", "110,20", "--map", "1000,5000,1200,5000",
          "--negate"},
         "map.jgw", {"map.jgw"}, "2.000000000000\n0.000\n0.000\n-2.000000000000\n-1020.000\n-4960.000\n",
         "Misfit of point 2: 400.000 map units, 200.000 pixels\nScale along rows: 2.000000, down columns: -\n"
         "Rotation implied by the points: 180.000 degrees\nWarning: Point 2 lies 200.000 pixels from its coordinates\n"
         "Warning: The map axes point the wrong way (Y and X swapped, or the sign toggle needed)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        pwtest::TempDir dir;
        auto args = c.Args;
        args.insert(args.end(), {"--out", dir.File(c.Target)});
        const auto result = Georef(args);
        EXPECT_EQ(result.ExitCode, 0) << result.Err;
        EXPECT_EQ(result.Err, c.Check);
        EXPECT_EQ(result.Out, c.Lines);
        EXPECT_EQ(Listing(dir.Path()), c.Files);
        std::string crlf;
        for (const char ch : c.Lines)
            crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
        const std::string worldFile = c.Target.substr(0, c.Target.size() - 4) + (c.Target.ends_with(".jgw") ? ".jgw" : ".tfw");
        EXPECT_EQ(pwtest::ReadText(dir.File(worldFile)), crlf);
    }
}

TEST(GeorefCommand, RelativeNamesAreTakenFromTheCurrentFolder)
{
    pwtest::TempDir dir;
    std::filesystem::copy_file(SamplePath("sample_map.bmp"), dir.File("scan.bmp"));
    const auto result = pwtest::Run({"sh", "-c",
                                     "cd '" + dir.Path() + "' && '" + pwtest::BinPath("pinwright-cli") +
                                         "' georef scan.bmp --p1 100,100 --p2 500,400 --map "
                                         "3501000,5404000,3505000,5401000 --out scan.tif"});
    EXPECT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_EQ(Listing(dir.Path()), (std::set<std::string>{"scan.bmp", "scan.tif", "scan.tfw"}));
}

TEST(GeorefCommand, ErrorsLeaveNothingBehind)
{
    const std::string bmp = SamplePath("sample_map.bmp");
    const std::string map = "3501000,5404000,3505000,5401000";
    const std::string usage = "Usage: pinwright-cli georef IMAGE --p1 COL,ROW --p2 COL,ROW "
                              "(--map Y1,X1,Y2,X2 | --points FILE) --out TARGET [--negate] "
                              "[--crs SYSTEM] [--rotate] [--max-misfit PIXELS] [--write-points FILE.points].";
    const struct {
        const char* Name;
        std::vector<std::string> Args; // --out DIR/map.tif follows unless an --out is given
        std::string LastLine;
    } cases[] = {
        {"no points", {bmp, "--map", map}, usage},
        {"both --map and --points", {bmp, "--p1", "1,1", "--p2", "2,2", "--map", map, "--points", "x"}, usage},
        {"unknown option", {bmp, "--p1", "1,1", "--p2", "2,2", "--map", map, "--scale", "2"}, usage},
        {"same pixel", {bmp, "--p1", "100,100", "--p2", "100,100", "--map", map},
         "Floating point division by zero."},
        {"same pixel, same map point", {bmp, "--p1", "100,100", "--p2", "100,100", "--map", "1,2,1,2"},
         "Invalid floating point operation."},
        {"same map point, no scale", {bmp, "--p1", "100,100", "--p2", "500,400", "--map", "1,2,1,2"},
         "Points 1 and 2 have the same map coordinates, which give no scale."},
        {"malformed coordinate", {bmp, "--p1", "1,1", "--p2", "2,2", "--map", "3501000,54O4000,3505000,5401000"},
         "'54O4000' is not a valid floating point value."},
        {"three coordinates", {bmp, "--p1", "1,1", "--p2", "2,2", "--map", "1,2,3"},
         "'1,2,3' is not four map coordinates Y1,X1,Y2,X2."},
        {"bad pixel", {bmp, "--p1", "1.5,1", "--p2", "2,2", "--map", map}, "'1.5,1' is not a pixel position COL,ROW."},
        {"point file missing", {bmp, "--p1", "1,1", "--p2", "2,2", "--points", "/no/such/points.txt"},
         "File not found."},
        {"image that cannot become a GeoTIFF", {SamplePath("sample_map.png"), "--p1", "1,1", "--p2", "2,2", "--map", map},
         "Cannot make a GeoTIFF from '" + SamplePath("sample_map.png") +
             "': the image must be a BMP, JPEG or TIFF file."},
        {"point 2 off by more than --max-misfit",
         {bmp, "--p1", "0,0", "--p2", "3,4", "--map", "100,200,106,208", "--max-misfit", "7.5"},
         "Point 2 lies 8 pixels from its coordinates, more than the 7.5 that --max-misfit allows."},
        {"unknown system", {bmp, "--p1", "100,100", "--p2", "500,400", "--map", map, "--crs", "EPSG:99999"},
         "Unknown coordinate reference system 'EPSG:99999'."},
        {"JPEG behind a BMP name", {"JPEG.bmp", "--p1", "100,100", "--p2", "500,400", "--map", map}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        pwtest::TempDir dir;
        auto args = c.Args;
        if (args[0] == "JPEG.bmp") {
            std::filesystem::copy_file(SamplePath("sample_map.jpg"), dir.File("in.bmp"));
            args[0] = dir.File("in.bmp");
        }
        args.insert(args.end(), {"--out", dir.File("map.tif")});
        const auto result = Georef(args);
        EXPECT_EQ(result.ExitCode, c.LastLine == usage ? 2 : 1);
        EXPECT_EQ(result.Out, "");
        if (!c.LastLine.empty())
            EXPECT_EQ(LastLine(result.Err), c.LastLine);
        else
            EXPECT_EQ(LastLine(result.Err).rfind("The converter bmp2tiff failed with exit code 1: ", 0), 0u)
                << result.Err;
        std::set<std::string> left = Listing(dir.Path());
        left.erase("in.bmp");
        EXPECT_TRUE(left.empty());
    }
}

TEST(GeorefCommand, TargetMustBeTifOrJgw)
{
    pwtest::TempDir dir;
    const auto result = Georef({SamplePath("sample_map.bmp"), "--p1", "1,1", "--p2", "2,2", "--map", "1,2,3,4",
                                "--out", dir.File("map.png")});
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_EQ(LastLine(result.Err),
              "The target '" + dir.File("map.png") + "' must end in .tif (GeoTIFF and TFW) or .jgw (JGW).");
    EXPECT_TRUE(Listing(dir.Path()).empty());
}

} // namespace
