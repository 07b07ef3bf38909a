// pinwright-cli georef: the workbench's Save from the command line.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <regex>
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
         "Misfit of point 2: 400.000 map units, 200.000 pixels\nScale along rows: 2.000000, down columns: 2.000000\n"
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
                              "(--map Y1,X1,Y2,X2 | --points FILE) --out TARGET [OPTIONS].";
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
        {"image that cannot become a GeoTIFF", {"/maps/sample_map.xyz", "--p1", "1,1", "--p2", "2,2", "--map", map},
         "Cannot make a GeoTIFF from '/maps/sample_map.xyz': no picture format has the extension .xyz."},
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

// Six points of the sample map (10 units a pixel) picked exactly, and a
// check point whose coordinates lie 3 units east and 4 north of its pixel's:
// half a pixel off. With mistyped, point 4's east is 60 units off.
std::string SheetPoints(bool mistyped)
{
    const double places[][2] = {{50, 40}, {590, 40}, {590, 440}, {50, 440}, {320, 40}, {320, 440}, {200, 240}};
    std::string text = "mapX,mapY,sourceX,sourceY,enable,dX,dY,residual\n";
    for (int i = 0; i < 7; ++i) {
        const double c = places[i][0], r = places[i][1];
        const double east = 3500000 + 10 * c + (i == 6 ? 3 : mistyped && i == 3 ? 60 : 0);
        const double north = 5405000 - 10 * r + (i == 6 ? 4 : 0);
        char line[128];
        std::snprintf(line, sizeof line, "%.0f,%.0f,%.1f,%.1f,%d,0,0,0\n", east, north, c + 0.5, -(r + 0.5),
                      i == 6 ? 0 : 1);
        text += line;
    }
    return text;
}

// Numbers to six decimals, so that a report compares as text whatever the
// last digits of its sums.
std::string Rounded(const std::string& json)
{
    static const std::regex number(R"(-?[0-9]+(\.[0-9]+)?(e-?[0-9]+)?)");
    std::string out;
    auto last = json.cbegin();
    for (std::sregex_iterator it(json.begin(), json.end(), number), end; it != end; ++it) {
        out.append(last, json.cbegin() + it->position());
        char text[32];
        std::snprintf(text, sizeof text, "%.6f", std::round(std::stod(it->str()) * 1e6) / 1e6 + 0.0);
        std::string value = text;
        value.erase(value.find_last_not_of('0') + 1);
        if (value.back() == '.')
            value.pop_back();
        out += value;
        last = json.cbegin() + it->position() + it->length();
    }
    return out.append(last, json.cend());
}

TEST(GeorefCommand, ManyPointsFitsByNameReportsAndRefuses)
{
    const std::string bmp = SamplePath("sample_map.bmp");
    const std::string report = "{\n  \"transform\": \"affine\",\n  \"rms_px\": 0,\n  \"rms_map\": 0,\n"
                               "  \"check_rms_px\": 0.5,\n  \"points\": [\n"
                               "    {\"id\": 1, \"col\": 50, \"row\": 40, \"map_x\": 3500500, \"map_y\": 5404600, "
                               "\"enabled\": true, \"residual_px\": 0, \"residual_map\": 0, \"leave_one_out_px\": 0},\n";
    const struct {
        const char* Name;
        std::vector<std::string> Args; // after the image and --points; "@" stands for the folder
        bool Mistyped;
        int ExitCode;
        std::set<std::string> Files;
        std::string Out;      // standard output
        std::string ErrLine;  // a line of standard error (the last one for a failure)
    } cases[] = {
        {"affine with a report", {"--transform", "affine", "--out", "@/map.tif", "--report", "@/fit.json"}, false, 0,
         {"map.tif", "map.tfw", "fit.json", "in.points"},
         "10.000000000000\n0.000000000000\n0.000000000000\n-10.000000000000\n3500000.000\n5405000.000\n",
         "RMS of the check points: 0.500 pixels, 5.000 map units"},
        {"projective: the GeoTIFF carries the points, no world file", {"--transform", "projective", "--out", "@/map.tif"},
         false, 0, {"map.tif", "in.points"}, "", "Transformation projective: 6 fitted points, 1 check point"},
        {"and its warped copy", {"--transform", "affine", "--out", "@/map.tif", "--warp"}, false, 0,
         {"map.tif", "map.tfw", "map_warped.tif", "in.points"},
         "10.000000000000\n0.000000000000\n0.000000000000\n-10.000000000000\n3500000.000\n5405000.000\n",
         "Scale along rows: 10.000000, down columns: 10.000000"},
        {"a mistyped point named", {"--transform", "affine", "--out", "@/map.jgw"}, true, 0, {"map.jgw", "in.points"},
         "9.944444444444\n0.000000000000\n0.050000000000\n-10.000000000000\n3500015.778\n5405000.000\n",
         "Warning: Point 4 may be mistyped or misplaced: fitted without it, it lies 6.000 pixels from its "
             "coordinates, more than three times the 0.000 pixels of the others"},
        {"--max-rms fails and writes nothing",
         {"--transform", "affine", "--out", "@/map.tif", "--report", "@/fit.json", "--max-rms", "1"}, true, 1,
         {"in.points"}, "", "The RMS of the fitted points is 1.59 pixels, more than the 1 that --max-rms allows."},
        {"no JGW for a projective", {"--transform", "projective", "--out", "@/map.jgw"}, false, 1, {"in.points"}, "",
         "A JGW world file can hold only an affine transformation, not projective; save as TIFF + TFW for a "
         "GeoTIFF that carries the control points."},
        {"too few points", {"--transform", "polynomial3", "--out", "@/map.tif"}, false, 1, {"in.points"}, "",
         "The transformation polynomial3 needs at least 10 fitted points, and 6 are fitted."},
        {"six points on two lines", {"--transform", "polynomial2", "--out", "@/map.tif"}, false, 1, {"in.points"}, "",
         "The 6 fitted points do not determine the transformation polynomial2: they lie too close to one line (or "
         "curve), or on the same pixel."},
        {"unknown name", {"--transform", "cubic", "--out", "@/map.tif"}, false, 1, {"in.points"}, "",
         "Unknown transformation 'cubic' (the transformations are two-point, similarity, helmert, affine, "
         "projective, polynomial2, polynomial3, tps)."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        pwtest::TempDir dir;
        pwtest::WriteText(dir.File("in.points"), SheetPoints(c.Mistyped));
        std::vector<std::string> args = {bmp, "--points", dir.File("in.points")};
        for (const auto& arg : c.Args)
            args.push_back(arg[0] == '@' ? dir.Path() + arg.substr(1) : arg);
        const auto result = Georef(args);
        EXPECT_EQ(result.ExitCode, c.ExitCode) << result.Err;
        EXPECT_EQ(result.Out, c.Out);
        EXPECT_NE(("\n" + result.Err).find("\n" + c.ErrLine + "\n"), std::string::npos) << result.Err;
        EXPECT_EQ(Listing(dir.Path()), c.Files);
        if (c.Files.count("fit.json")) {
            EXPECT_EQ(Rounded(pwtest::ReadText(dir.File("fit.json"))).substr(0, report.size()), report);
        }
    }
}

TEST(GeorefCommand, BatchTakesTheNewOptionsAsColumns)
{
    pwtest::TempDir dir;
    pwtest::WriteText(dir.File("in.points"), SheetPoints(false));
    pwtest::WriteText(dir.File("sheets.csv"),
                      "image,points,transform,warp,report,out\n" + SamplePath("sample_map.bmp") + "," +
                          dir.File("in.points") + ",affine,yes," + dir.File("s1.json") + "," + dir.File("geo/s1.tif") +
                          "\n" + SamplePath("sample_map.jpg") + "," + dir.File("in.points") + ",projective,,," +
                          dir.File("geo/s2.jgw") + "\n");
    std::filesystem::create_directory(dir.File("geo"));
    const auto batch = pwtest::Run({pwtest::BinPath("pinwright-cli"), "georef", "--batch", dir.File("sheets.csv")});
    EXPECT_EQ(batch.ExitCode, 1);
    EXPECT_NE(batch.Out.find("line 3, " + dir.File("geo/s2.jgw") + ": failed: A JGW world file can hold only an "
                                                                    "affine transformation, not projective"),
              std::string::npos)
        << batch.Out;
    EXPECT_EQ(Listing(dir.File("geo")), (std::set<std::string>{"s1.tif", "s1.tfw", "s1_warped.tif"}));
    const std::string head = "{\n  \"transform\": \"affine\",\n  \"rms_px\": 0,";
    EXPECT_EQ(Rounded(pwtest::ReadText(dir.File("s1.json"))).substr(0, head.size()), head);
}

} // namespace
