// pinwright-cli georef making what a map portal takes, from a PNG scan: the
// points read in one format and written in another, a point far outside the
// picture refused, a COG, a clipped warp and the PDF report.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using pwtest::SamplePath;

std::string PointsLine(double east, double north, double col, double row)
{
    return std::to_string(east) + "," + std::to_string(north) + "," + std::to_string(col + 0.5) + "," +
           std::to_string(-(row + 0.5)) + ",1\n";
}

TEST(OutputsCli, PointsFormatsOutsideCogClipAndReport)
{
    pwtest::TempDir dir;
    const std::string header = "mapX,mapY,sourceX,sourceY,enable\n";
    const std::string square = PointsLine(3501000, 5404000, 100, 100) + PointsLine(3505000, 5401000, 500, 400) +
                               PointsLine(3501000, 5401000, 100, 400) + PointsLine(3505000, 5404000, 500, 100);
    pwtest::WriteText(dir.File("square.points"), header + square);
    pwtest::WriteText(dir.File("far.points"), header + square + PointsLine(3501000, 5404000, 1e9, 100));
    pwtest::WriteText(dir.File("near.points"), header + square + PointsLine(3499970, 5404000, -3, 100));
    // The sample map as a PNG scan, made by the convert command.
    const std::string png = dir.File("sheet.png");
    ASSERT_EQ(pwtest::Run({pwtest::BinPath("pinwright-cli"), "convert", SamplePath("sample_map.bmp"), png}).ExitCode, 0);
    const std::string worldFile = "10.000000000000\n0.000000000000\n0.000000000000\n-10.000000000000\n"
                                  "3500000.000\n5405000.000\n";
    const struct {
        const char* Name;
        std::vector<std::string> Args;
        int Exit;
        std::string Last;                 // last line of stderr, or the world file on stdout when Exit is 0
        std::vector<std::string> Made;    // files in the folder afterwards
    } cases[] = {
        {"far outside refused", {"--points", "@/far.points", "--out", "@/far.tif"}, 1,
         "Point 5 of the point file '@/far.points', line 6, at pixel 1e+09,100, lies far outside the picture "
         "(640 x 480 pixels), more than its width or height beyond its edge; --allow-outside takes it.", {}},
        {"just outside warned", {"--points", "@/near.points", "--out", "@/near.jgw"}, 0,
         "Warning: Point 5 of the point file '@/near.points', line 6, at pixel -3,100, lies 2.5 pixels outside the "
         "picture (640 x 480 pixels)", {"near.jgw", "near.png.aux.xml", "near.prj"}},
        {"PNG as COG, clipped, points as an annotation, a PDF report",
         {"--points", "@/square.points", "--out", "@/map.tif", "--cog", "--clip", "points", "--resampling", "cubic",
          "--write-points", "@/map.json", "--report", "@/map.pdf"},
         0, worldFile, {"map.json", "map.pdf", "map.tfw", "map.tif", "map_warped.tif"}},
        // Through WGS 84 and back the scales keep eleven decimals.
        {"the annotation read back", {"--points", "@/map.json", "--out", "@/back.jgw"}, 0, "",
         {"back.jgw", "back.png.aux.xml", "back.prj"}},
        {"a link table chosen by name", {"--points", "@/square.points", "--points-format", "links", "--out",
          "@/links.jgw", "--write-points", "@/links.txt"}, 0, worldFile,
         {"links.jgw", "links.png.aux.xml", "links.prj", "links.txt"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {pwtest::BinPath("pinwright-cli"), "georef", png, "--transform", "affine",
                                         "--crs", "EPSG:31467"};
        for (std::string a : c.Args) {
            if (a[0] == '@')
                a = dir.Path() + a.substr(1);
            args.push_back(a);
        }
        const auto before = pwtest::Listing(dir.Path());
        const auto run = pwtest::Run(args);
        EXPECT_EQ(run.ExitCode, c.Exit) << c.Name << "\n" << run.Err;
        std::string expected = c.Last;
        for (size_t at; (at = expected.find('@')) != std::string::npos;)
            expected.replace(at, 1, dir.Path());
        if (c.Exit == 0 && c.Last.empty()) {
            EXPECT_TRUE(run.Out.starts_with("10.0000000000") && run.Out.ends_with("\n3500000.000\n5405000.000\n"))
                << c.Name << "\n" << run.Out;
        } else if (c.Exit == 0 && c.Last == worldFile) {
            EXPECT_EQ(run.Out, expected) << c.Name;
        } else {
            const std::string err = run.Err.substr(0, run.Err.size() - 1);
            const std::string first = err.find('\n') == std::string::npos ? err : err.substr(0, err.find('\n'));
            EXPECT_EQ(c.Exit == 0 ? first : err.substr(err.rfind('\n') + 1), expected) << c.Name << "\n" << run.Err;
        }
        std::set<std::string> made;
        for (const std::string& file : pwtest::Listing(dir.Path()))
            if (!before.count(file))
                made.insert(file);
        EXPECT_EQ(made, std::set<std::string>(c.Made.begin(), c.Made.end())) << c.Name;
    }
    const auto text = pwtest::Run({"pdftotext", dir.File("map.pdf"), "-"});
    EXPECT_NE(text.Out.find("RMS of the 4 fitted points: 0.000 pixels, 0.000 map units"), std::string::npos) << text.Out;
    const auto cog = pwtest::Run({"gdalinfo", dir.File("map_warped.tif")});
    EXPECT_NE(cog.Out.find("LAYOUT=COG"), std::string::npos) << cog.Out;
    EXPECT_NE(cog.Out.find("ColorInterp=Alpha"), std::string::npos) << cog.Out;
    EXPECT_EQ(pwtest::ReadText(dir.File("links.txt")).substr(0, 29), "100.5\t-100.5\t3501000\t5404000\n");
}

} // namespace

namespace {

// Two sheets side by side from one list, each warped, put together as one
// VRT that GDAL reads with both sheets' extent.
TEST(OutputsCli, BatchMosaicOfClippedSheets)
{
    pwtest::TempDir dir;
    const std::string bmp = SamplePath("sample_map.bmp");
    // The second sheet lies 6400 map units east of the first.
    pwtest::WriteText(dir.File("list.csv"),
                      "image,out,p1,p2,map,warp,crs\n" + bmp + "," + dir.File("a.tif") +
                          ",\"100,100\",\"500,400\",\"3501000,5404000,3505000,5401000\",yes,EPSG:31467\n" + bmp +
                          "," + dir.File("b.tif") +
                          ",\"100,100\",\"500,400\",\"3507400,5404000,3511400,5401000\",yes,EPSG:31467\n");
    const auto run = pwtest::Run({pwtest::BinPath("pinwright-cli"), "georef", "--batch", dir.File("list.csv"),
                                  "--mosaic", dir.File("sheets.vrt")});
    ASSERT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    EXPECT_NE(run.Out.find("mosaic " + dir.File("sheets.vrt") + ": ok"), std::string::npos) << run.Out;
    const auto info = pwtest::Run({"gdalinfo", dir.File("sheets.vrt")});
    ASSERT_EQ(info.ExitCode, 0) << info.Err;
    EXPECT_NE(info.Out.find("a_warped.tif"), std::string::npos) << info.Out;
    EXPECT_NE(info.Out.find("b_warped.tif"), std::string::npos) << info.Out;
    EXPECT_NE(info.Out.find("Upper Left  ( 3499995.000, 5405005.000)"), std::string::npos) << info.Out;
    EXPECT_NE(info.Out.find("Lower Right ( 3512795.000, 5400205.000)"), std::string::npos) << info.Out;
}

} // namespace
