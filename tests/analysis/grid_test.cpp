// The grid finder on small drawn sheets: a turned grid, a dashed one, a
// curved graticule, roads beside crossings, a line left out, and sheets it
// must refuse; and pinwright-cli grid end to end, its points read back by
// georef.
#include "analysis/grid_finder.h"
#include "bench/grid_sheets.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>

namespace {

TGridSheetPlan SmallSheet(uint32_t seed)
{
    TGridSheetPlan plan;
    plan.Seed = seed;
    plan.Width = 720;
    plan.Height = 560;
    plan.Step = 100;
    return plan;
}

TGridRequest KnownOff(const TGridSheet& sheet, double dx, double dy)
{
    TGridRequest request;
    request.Column = std::round(sheet.Crossings.front().X + dx);
    request.Row = std::round(sheet.Crossings.front().Y + dy);
    return request;
}

TEST(GridFinder, NumbersEveryCrossingRightOrNotAtAll)
{
    const struct {
        const char* Name;
        TGridSheetPlan Plan;
        size_t Numbered; // every one of them right
        size_t Refused;
        const char* Refusal = nullptr; // refused as a whole, the reason ending so
    } cases[] = {
        {"turned 2 degrees", [] { auto p = SmallSheet(3); p.TurnDegrees = 2; return p; }(), 27, 0},
        {"dashed", [] { auto p = SmallSheet(4); p.Dashed = true; return p; }(), 30, 0},
        {"curved graticule", [] { auto p = SmallSheet(5); p.Graticule = true; p.ApexDistance = 12000; return p; }(), 30, 0},
        // Each road crosses a grid line a few pixels from a crossing, where
        // it must not be numbered; past a line left out the count must not slip.
        {"roads crossing grid lines beside crossings", [] { auto p = SmallSheet(6); p.Roads = 6; return p; }(), 29, 0},
        {"a line left out", [] { auto p = SmallSheet(7); p.MissingLine = true; return p; }(), 25, 0},
        // Six crossings, too few to check against each other; the snap takes
        // a red line 5 px beside a broken line for the crossing north of the
        // known one, which lies beside its line as followed.
        {"a second grid's line beside a crossing of few",
         [] { auto p = SmallSheet(1); p.Step = 200, p.SecondStep = 1000, p.SecondOffset = 5, p.SecondTurnDegrees = -2.7; return p; }(),
         5, 1},
        // A dense second grid (every 60 px over 200) and no step ratio: one
        // known crossing cannot tell the two apart (the 60 px lattice was
        // numbered, 21 crossings wrongly).
        // Ticks only in the margin: the lines join opposite ticks across
        // the face; ticks that do not pair one to one are refused.
        {"ticks only in the margin", [] { auto p = SmallSheet(2); p.MarginTicks = true; return p; }(), 24, 0},
        {"ticks of a line left out", [] { auto p = SmallSheet(7); p.MarginTicks = p.MissingLine = true; return p; }(),
         0, 0, "and the ticks in the margin do not lie at one steady step (5 along the top, 5 along the bottom, "
               "100.0 to 200.0 pixels apart)"},
        {"ticks of a turned grid", [] { auto p = SmallSheet(3); p.MarginTicks = true, p.TurnDegrees = 6; return p; }(),
         0, 0, "and the ticks in the margin do not pair up across the face (7 along the top, 6 along the bottom)"},
        {"a dense second grid",
         [] { auto p = SmallSheet(1); p.Step = 200, p.SecondStep = 60, p.SecondOffset = 9; return p; }(), 0, 0,
         "Two grids are printed, with steps of 60.1 and 199.0 pixels: give a second known crossing"},
    };
    for (const auto& c : cases) {
        const TGridSheet sheet = DrawGridSheet(c.Plan);
        const TGrid grid = FindGrid(*sheet.Bitmap, KnownOff(sheet, 3, -2));
        if (c.Refusal) {
            EXPECT_FALSE(grid.Found) << c.Name;
            EXPECT_TRUE(grid.Refusal.ends_with(c.Refusal)) << c.Name << ": " << grid.Refusal;
            EXPECT_TRUE(grid.Crossings.empty()) << c.Name;
            continue;
        }
        ASSERT_TRUE(grid.Found) << c.Name << ": " << grid.Refusal;
        std::map<std::pair<int, int>, const TGridTruth*> truth;
        for (const TGridTruth& t : sheet.Crossings)
            truth[{t.East, t.North}] = &t;
        EXPECT_EQ(grid.Crossings.size(), c.Numbered) << c.Name;
        EXPECT_EQ(grid.Refused.size(), c.Refused) << c.Name;
        for (const TGridCrossing& found : grid.Crossings) {
            const auto t = truth.find({found.East, found.North});
            ASSERT_NE(t, truth.end()) << c.Name << " " << found.East << "," << found.North;
            EXPECT_TRUE(t->second->Printed) << c.Name << " " << found.East << "," << found.North;
            EXPECT_NEAR(found.Column, t->second->X, 0.15) << c.Name << " " << found.East << "," << found.North;
            EXPECT_NEAR(found.Row, t->second->Y, 0.15) << c.Name << " " << found.East << "," << found.North;
        }
        EXPECT_EQ(grid.Crossings.front().East, 0) << c.Name;
        EXPECT_EQ(grid.Crossings.front().North, 0) << c.Name;
    }
}

TEST(GridFinder, RefusesWhatItCannotNumber)
{
    const TGridSheet sheet = DrawGridSheet(SmallSheet(8));
    const TGridTruth& k = sheet.Crossings.front();
    // The crossing one step east and one north of the known one.
    const TSheetPoint next = sheet.Place(1, 1);
    const struct {
        const char* Name;
        TGridRequest Request;
        std::string Refusal;
    } cases[] = {
        {"paper between the lines", {k.X + 50, k.Y + 50, std::nullopt, true},
         "No crossing of two lines within 12 pixels of the known crossing at " +
             std::to_string(int(std::round(k.X + 50))) + "," + std::to_string(int(std::round(k.Y + 50)))},
        {"second known two spacings off", {k.X, k.Y, TGridSecondKnown{next.X, next.Y, 2, 2}, true},
         "The known crossings put the grid's lines 50.0 pixels apart along the rows, but the lines on the sheet are "
         "100.0 pixels apart: check the spacing and the known coordinates"},
        {"second known between spacings", {k.X, k.Y, TGridSecondKnown{next.X, next.Y, 1.5, 1}, true},
         "The second known crossing's coordinates are not a whole number of spacings from the first's (1.500 and "
         "1.000)"},
        {"steps that disagree with the spacing's ratio", {k.X, k.Y, std::nullopt, true, 2.0},
         "The lines found lie 100.0 pixels apart along the rows and 100.0 down the columns, a ratio of 1.00, but the "
         "spacing gives 2.00: lines of another kind were taken for the grid's"},
    };
    for (const auto& c : cases) {
        const TGrid grid = FindGrid(*sheet.Bitmap, c.Request);
        EXPECT_FALSE(grid.Found) << c.Name;
        EXPECT_EQ(grid.Refusal, c.Refusal) << c.Name;
        EXPECT_TRUE(grid.Crossings.empty()) << c.Name;
    }
    // A second known crossing west and south of the first turns the numbers round.
    const TSheetPoint southWest = sheet.Place(-1, -2);
    const TGrid turned = FindGrid(*sheet.Bitmap, {k.X, k.Y, TGridSecondKnown{southWest.X, southWest.Y, 1, 2}, true});
    ASSERT_TRUE(turned.Found) << turned.Refusal;
    for (const TGridCrossing& c : turned.Crossings) {
        const TSheetPoint p = sheet.Place(-c.East, -c.North);
        EXPECT_NEAR(c.Column, p.X, 0.15) << c.East << "," << c.North;
        EXPECT_NEAR(c.Row, p.Y, 0.15) << c.East << "," << c.North;
    }
}

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

std::string Lines(const std::string& text, size_t count)
{
    std::istringstream in(text);
    std::string line, out;
    for (size_t k = 0; k < count && std::getline(in, line); ++k)
        out += line + "\n";
    return out;
}

TEST(GridCli, NumbersTheCrossingsAndSaysWhyNot)
{
    pwtest::TempDir dir;
    const TGridSheet sheet = DrawGridSheet(SmallSheet(9));
    pwtest::WriteNetpbm(dir.File("grid.ppm"), ToImage(*sheet.Bitmap));
    const TGridTruth& k = sheet.Crossings.front();
    const std::string known = std::to_string(int(std::round(k.X)) + 2) + "," + std::to_string(int(std::round(k.Y)));
    const std::string usage =
        "Usage: pinwright-cli grid IMAGE --spacing D[,D_NORTH] --known COL,ROW,X,Y [OPTIONS].\n";
    const std::string image = dir.File("grid.ppm");
    const struct {
        std::vector<std::string> Args;
        int ExitCode;
        std::string Err; // its first lines
    } cases[] = {
        {{image, "--spacing", "1000"}, 2, "pinwright-cli: grid needs an image, --spacing and --known\n" + usage},
        {{image, "--spacing", "1000", "--known", known + ",0,0", "--known", known + ",0,0", "--known", known + ",0,0"},
         2, "pinwright-cli: grid takes one or two --known crossings\n" + usage},
        {{image, "--spacing", "1000", "--known", known + ",0,0", "--warp"}, 2, "pinwright-cli: --warp needs --out\n" + usage},
        {{image, "--spacing", "1000", "--known", known + ",0,0", "--fast"}, 2, "pinwright-cli: unknown option --fast\n" + usage},
        {{image, "--spacing", "1000", "--known", known + ",0"}, 1, "'" + known + ",0' is not a known crossing COL,ROW,X,Y.\n"},
        {{image, "--spacing", "0", "--known", known + ",0,0"}, 1, "'0' is not a spacing above 0.\n"},
        {{image, "--spacing", "5'", "--known", known + ",0,0"}, 1, "'5'' is not a number.\n"},
        {{image, "--spacing", "5'", "--grid-crs", "EPSG:4326", "--known", known + ",9d70'E,48N"}, 1,
         "'9d70'E' is not an angle in degrees (decimal or D\xC2\xB0M'S\").\n"},
        {{image, "--spacing", "1000", "--known", "20,20,0,0"}, 1,
         "No crossing of two lines within 12 pixels of the known crossing at 20,20.\n"},
        {{image, "--spacing", "1000", "--known", known + ",0,0", "--transform", "polynomial3", "--crs", "EPSG:25832"},
         0, "Known crossing snapped from " + known + " to "},
        // A square lattice at 48 degrees north: 1'30" of longitude to 1' of latitude.
        {{image, "--spacing", "0\xC2\xB0" "1'30\",0\xC2\xB0" "1'", "--known", known + ",9\xC2\xB0" "0'E,48\xC2\xB0" "0'0\"N", "--grid-crs",
          "EPSG:4326", "--crs", "EPSG:25832", "--write-points", dir.File("grid.points")},
         0, "Known crossing snapped from " + known + " to "},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv = {pwtest::BinPath("pinwright-cli"), "grid"};
        argv.insert(argv.end(), c.Args.begin(), c.Args.end());
        const pwtest::CommandResult r = pwtest::Run(argv);
        EXPECT_EQ(r.ExitCode, c.ExitCode) << c.Args.back() << ": " << r.Err;
        EXPECT_EQ(r.Err.substr(0, c.Err.size()), c.Err) << c.Args.back();
        if (c.ExitCode == 0) {
            EXPECT_NE(r.Err.find("\nLines found: 6 of constant X, 5 of constant Y\nCrossings numbered: 30\n"
                                 "Crossings refused: 0\n"),
                      std::string::npos)
                << r.Err;
        }
    }

    // The points read back by georef: the known crossing on the zone's
    // central meridian, every crossing enabled with its residual.
    const std::string points = pwtest::ReadText(dir.File("grid.points"));
    std::istringstream lines(points);
    std::string crs, header, first;
    std::getline(lines, crs);
    std::getline(lines, header);
    std::getline(lines, first);
    EXPECT_EQ(crs.rfind("#CRS: PROJCRS[\"ETRS89 / UTM zone 32N\"", 0), 0u);
    EXPECT_EQ(header, "mapX,mapY,sourceX,sourceY,enable,dX,dY,residual");
    EXPECT_EQ(first.rfind("5e+05,5316", 0), 0u) << first;
    size_t enabled = first.find(",1,") != std::string::npos;
    for (std::string line; std::getline(lines, line);)
        enabled += line.find(",1,") != std::string::npos;
    EXPECT_EQ(enabled, 30u);
    const pwtest::CommandResult georef = pwtest::Run({pwtest::BinPath("pinwright-cli"), "georef", image, "--points",
                                                      dir.File("grid.points"), "--transform", "polynomial2", "--out",
                                                      dir.File("grid.jgw")});
    EXPECT_EQ(georef.ExitCode, 1) << georef.Err;
    EXPECT_EQ(georef.Err, "A JGW world file can hold only an affine transformation, not polynomial2; save as TIFF + "
                          "TFW for a GeoTIFF that carries the control points.\n");
    const pwtest::CommandResult tif = pwtest::Run({pwtest::BinPath("pinwright-cli"), "georef", image, "--points",
                                                   dir.File("grid.points"), "--transform", "affine", "--out",
                                                   dir.File("grid.jgw")});
    EXPECT_EQ(tif.ExitCode, 0) << tif.Err;
    EXPECT_EQ(Lines(tif.Err, 1), "Transformation affine: 30 fitted points, 0 check points\n");
}

} // namespace

