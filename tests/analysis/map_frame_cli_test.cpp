// pinwright-cli corners and georef --auto-corners end to end: drawn sheets
// written as files, their four corners printed, a series of them
// georeferenced by the batch; a sheet without a frame and command lines
// that cannot be used, with their status and messages.
#include "bench/sheet_drawing.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace {

pwtest::Image ToImage(const TBitmap& bitmap)
{
    pwtest::Image image{bitmap.Width(), bitmap.Height(), 3, {}};
    std::vector<uint32_t> row(size_t(bitmap.Width()));
    for (int y = 0; y < bitmap.Height(); ++y) {
        bitmap.RowToARGB(y, 0, bitmap.Width(), row.data());
        for (const uint32_t argb : row)
            image.Pixels.insert(image.Pixels.end(), {uint8_t(argb >> 16), uint8_t(argb >> 8), uint8_t(argb)});
    }
    return image;
}

TSheetPlan Sheet(uint32_t seed, bool withFrame)
{
    TSheetPlan plan;
    plan.Seed = seed;
    plan.RotationDegrees = 2.5;
    plan.NoFrame = !withFrame;
    plan.DarkBackground = true;
    return plan;
}

TEST(CornersCli, PrintsTheFourCornersOrWhyNot)
{
    pwtest::TempDir dir;
    const TSheet framed = DrawSheet(Sheet(11, true));
    pwtest::WriteNetpbm(dir.File("framed.ppm"), ToImage(*framed.Bitmap));
    pwtest::WriteNetpbm(dir.File("unframed.ppm"), ToImage(*DrawSheet(Sheet(12, false)).Bitmap));
    const std::string usage = "Usage: pinwright-cli corners IMAGE [--read-labels] [--hemisphere H].\n";
    const std::string georefUsage = "Usage: pinwright-cli georef IMAGE --p1 COL,ROW --p2 COL,ROW "
                                    "(--map Y1,X1,Y2,X2 | --points FILE) --out TARGET [OPTIONS].\n";
    const std::string corners = "1,9,9,9,9,1,1,1";
    const struct {
        std::vector<std::string> Args;
        int ExitCode;
        std::string Err;
    } cases[] = {
        {{"corners", dir.File("framed.ppm")}, 0, "bow: top +0.0, bottom +0.0, left +0.0, right +0.0 pixels\n"},
        {{"corners", dir.File("unframed.ppm")}, 1, "No map frame found: its long straight lines close into no frame.\n"},
        {{"corners"}, 2, "pinwright-cli: corners needs an image\n" + usage},
        {{"corners", "a.ppm", "b.ppm"}, 2, "pinwright-cli: a second image b.ppm\n" + usage},
        {{"corners", "a.ppm", "--fast"}, 2, "pinwright-cli: unknown option --fast\n" + usage},
        {{"georef", "a.ppm", "--auto-corners", corners, "--p1", "1,1", "--out", "a.jgw"}, 2,
         "pinwright-cli: --auto-corners takes the place of --p1, --p2, --map and --points\n" + georefUsage},
        {{"georef", "a.ppm", "--auto-corners", corners, "--corners-crs", "EPSG:4258", "--out", "a.jgw"}, 2,
         "pinwright-cli: --corners-crs needs --auto-corners and --crs, the system to write into\n" + georefUsage},
        {{"georef", "a.ppm", "--auto-corners", "1,2,,4,5,6,7,8", "--out", "a.jgw"}, 1,
         "'1,2,,4,5,6,7,8' is not eight map coordinates X_UL,Y_UL,X_UR,Y_UR,X_LR,Y_LR,X_LL,Y_LL.\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv = {pwtest::BinPath("pinwright-cli")};
        argv.insert(argv.end(), c.Args.begin(), c.Args.end());
        const pwtest::CommandResult r = pwtest::Run(argv);
        EXPECT_EQ(r.ExitCode, c.ExitCode) << c.Args.back() << ": " << r.Err;
        EXPECT_EQ(r.Err, c.Err) << c.Args.back();
        if (c.ExitCode != 0) {
            EXPECT_EQ(r.Out, "") << c.Args.back();
            continue;
        }
        std::istringstream lines(r.Out);
        for (size_t i = 0; i < 4; ++i) {
            std::string name;
            double col = 0, row = 0, sigma = 0;
            lines >> name >> col >> row >> sigma;
            EXPECT_EQ(name, std::string(i == 0 ? "UL" : i == 1 ? "UR" : i == 2 ? "LR" : "LL"));
            EXPECT_NEAR(col, framed.Corners[i].X, 0.6) << name;
            EXPECT_NEAR(row, framed.Corners[i].Y, 0.6) << name;
            EXPECT_GT(sigma, 0) << name;
        }
        EXPECT_EQ(std::count(r.Out.begin(), r.Out.end(), '\n'), 4) << r.Out;
    }
}

// The six numbers of a world file.
std::array<double, 6> ReadWorldFile(const std::string& fileName)
{
    std::array<double, 6> values{};
    std::istringstream in(pwtest::ReadText(fileName));
    for (double& v : values)
        in >> v;
    return values;
}

// Degrees of ETRS89 in ETRS89 / UTM 32N, by gdaltransform.
std::vector<std::array<double, 2>> ToUtm(const std::vector<std::array<double, 2>>& degrees)
{
    pwtest::TempDir dir;
    std::string text;
    for (const auto& d : degrees)
        text += std::to_string(d[0]) + " " + std::to_string(d[1]) + "\n";
    pwtest::WriteText(dir.File("in.txt"), text);
    pwtest::WriteProgram(dir.File("run.sh"), "#!/bin/sh\ngdaltransform -s_srs EPSG:4258 -t_srs EPSG:25832 "
                                             "-output_xy < " + dir.File("in.txt") + "\n");
    std::istringstream out(pwtest::Run({dir.File("run.sh")}).Out);
    std::vector<std::array<double, 2>> utm(degrees.size());
    for (auto& p : utm)
        out >> p[0] >> p[1];
    return utm;
}

TEST(AutoCornersCli, TheBatchGeoreferencesEachSheetFromItsFrame)
{
    if (!pwtest::HaveProgram("gdaltransform"))
        GTEST_SKIP() << "gdaltransform (gdal-bin) is not installed";
    pwtest::TempDir dir;
    const TSheet first = DrawSheet(Sheet(21, true)), second = DrawSheet(Sheet(22, true));
    pwtest::WriteNetpbm(dir.File("first.ppm"), ToImage(*first.Bitmap));
    pwtest::WriteNetpbm(dir.File("second.ppm"), ToImage(*second.Bitmap));
    pwtest::WriteNetpbm(dir.File("none.ppm"), ToImage(*DrawSheet(Sheet(23, false)).Bitmap));
    // 150 x 110 mm at 1:25,000: 3750 by 2750 metres, or in degrees at 50.5 deg N.
    const std::vector<std::array<double, 2>> metres = {
        {500000, 5600000}, {503750, 5600000}, {503750, 5597250}, {500000, 5597250}};
    const std::vector<std::array<double, 2>> degrees = {{9, 50.5}, {9.0527, 50.5}, {9.0527, 50.47527}, {9, 50.47527}};
    const std::string inMetres = "\"500000,5600000,503750,5600000,503750,5597250,500000,5597250\"";
    const std::string inDegrees = "\"9,50.5,9.0527,50.5,9.0527,50.47527,9,50.47527\"";
    pwtest::WriteText(dir.File("series.csv"), "image,out,auto-corners,corners-crs,crs,transform\n"
                                              "first.ppm,first.jgw," + inMetres + ",,,affine\n"
                                              "second.ppm,second.jgw," + inDegrees + ",EPSG:4258,EPSG:25832,\n"
                                              "none.ppm,none.jgw," + inMetres + ",,,projective\n");
    const pwtest::CommandResult r = pwtest::Run(
        {"/bin/sh", "-c", "cd '" + dir.Path() + "' && '" + pwtest::BinPath("pinwright-cli") + "' georef --batch series.csv"});
    EXPECT_EQ(r.ExitCode, 1) << r.Err;
    EXPECT_EQ(r.Out, "line 2, first.jgw: ok\n"
                     "line 3, second.jgw: ok\n"
                     "line 4, none.jgw: failed: No map frame found: its long straight lines close into no frame.\n"
                     "3 sheets: 2 ok, 1 failed, 0 skipped\n");
    const struct {
        const char* Target;
        const TSheet& Sheet;
        std::vector<std::array<double, 2>> Map;
    } sheets[] = {{"first.jgw", first, metres}, {"second.jgw", second, ToUtm(degrees)}};
    for (const auto& s : sheets) {
        // x = A col + B row + C, y = D col + E row + F, pixel centres at whole numbers.
        const std::array<double, 6> w = ReadWorldFile(dir.File(s.Target));
        const double pixel = std::hypot(w[0], w[1]);
        for (size_t i = 0; i < 4; ++i) {
            const double col = s.Sheet.Corners[i].X, row = s.Sheet.Corners[i].Y;
            const double x = w[0] * col + w[2] * row + w[4], y = w[1] * col + w[3] * row + w[5];
            EXPECT_LT(std::hypot(x - s.Map[i][0], y - s.Map[i][1]) / pixel, 1.0) << s.Target << " corner " << i;
        }
    }
    EXPECT_FALSE(pwtest::FileExists(dir.File("none.jgw")));
}

} // namespace
