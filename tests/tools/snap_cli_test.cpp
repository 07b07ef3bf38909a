// pinwright-cli snap on the sample map: the line it prints for a grid
// crossing, and its status and message when there is nothing to snap to or
// the command line cannot be used; georef --snap, alone and as a batch
// column, on picks a few pixels off the sample's control points.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>

namespace {

pwtest::CommandResult Snap(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), {pwtest::BinPath("pinwright-cli"), "snap"});
    return pwtest::Run(arguments);
}

TEST(SnapCli, PrintsTheCrossingOrSaysWhyNot)
{
    const std::string map = pwtest::SamplePath("sample_map.bmp");
    const std::string usage =
        "Usage: pinwright-cli snap IMAGE COL,ROW [--radius PIXELS] [--kind crossing|corner|any].\n";
    struct Case {
        std::vector<std::string> Arguments;
        int Status;
        std::string Err;
    } cases[] = {
        {{map, "101.5,98"}, 0, ""},
        {{map, "497,403.25", "--radius", "8", "--kind", "crossing"}, 0, ""},
        {{map, "101,99", "--kind", "corner"}, 1, "No corner to snap to within 12 pixels of 101,99.\n"},
        {{map, "150,150"}, 1, "No crossing or corner to snap to within 12 pixels of 150,150.\n"},
        {{map, "112,100", "--radius", "4.5"}, 1, "No crossing or corner to snap to within 4.5 pixels of 112,100.\n"},
        {{map, "100;100"}, 1, "'100;100' is not a pixel position COL,ROW.\n"},
        {{map, "100,100", "--radius", "65"}, 1, "'65' is not a radius above 0 and up to 64 pixels.\n"},
        {{map, "100,100", "--kind", "edge"}, 2,
            "pinwright-cli: --kind takes crossing, corner or any, not edge\n" + usage},
        {{map}, 2, "pinwright-cli: snap needs an image and a pixel position\n" + usage},
        {{map, "100,100", "--near"}, 2, "pinwright-cli: unknown option --near\n" + usage},
        {{map, "100,100", "--radius"}, 2, "pinwright-cli: option --radius needs a value\n" + usage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Arguments.size() > 1 ? c.Arguments[1] : "no position");
        const pwtest::CommandResult r = Snap(c.Arguments);
        EXPECT_EQ(r.ExitCode, c.Status);
        EXPECT_EQ(r.Err, c.Err);
        if (c.Status != 0) {
            EXPECT_EQ(r.Out, "");
            continue;
        }
        // "COL ROW SIGMA KIND", three decimals, near the grid line's crossing.
        double column = 0, row = 0, sigma = 0;
        char kind[16] = {};
        ASSERT_EQ(std::sscanf(r.Out.c_str(), "%lf %lf %lf %15s", &column, &row, &sigma, kind), 4) << r.Out;
        char again[128];
        std::snprintf(again, sizeof again, "%.3f %.3f %.3f %s\n", column, row, sigma, kind);
        EXPECT_EQ(r.Out, again);
        EXPECT_EQ(std::string(kind), "crossing");
        EXPECT_LE(std::hypot(column - std::round(column / 100) * 100, row - std::round(row / 100) * 100), 0.1);
        EXPECT_GE(sigma, 0.001);
    }
}

TEST(SnapCli, GeorefSnapsEveryPointBeforeFitting)
{
    pwtest::TempDir dir;
    const std::string map = pwtest::SamplePath("sample_map.bmp"), points = pwtest::SamplePath("sample_map_points.txt");
    const std::vector<std::string> picks = {"--p1", "102,98", "--p2", "497,403", "--points", points};
    auto georef = [&](const std::vector<std::string>& extra) {
        std::vector<std::string> arguments = {pwtest::BinPath("pinwright-cli"), "georef", map};
        arguments.insert(arguments.end(), picks.begin(), picks.end());
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return pwtest::Run(arguments);
    };
    // Unsnapped, the picks are 5 pixels off; snapped, the scale is the
    // sample's 10 units a pixel within 0.0005 (a fortieth of a pixel over the
    // 500 between the points).
    const pwtest::CommandResult snapped = georef({"--out", dir.File("a.jgw"), "--snap"});
    ASSERT_EQ(snapped.ExitCode, 0) << snapped.Err;
    EXPECT_EQ(snapped.Err.rfind("Point 1 snapped from 102,98 to 100.0", 0), 0u) << snapped.Err;
    EXPECT_NE(snapped.Err.find("\nPoint 2 snapped from 497,403 to 500.0"), std::string::npos) << snapped.Err;
    std::istringstream lines(pwtest::ReadText(dir.File("a.jgw")));
    double scale = 0;
    lines >> scale;
    EXPECT_NEAR(scale, 10, 5e-4);

    const std::string list = dir.File("sheets.csv");
    pwtest::WriteText(list,
        "image,p1,p2,points,out,snap\n" + map + ",\"102,98\",\"497,403\"," + points + "," + dir.File("b.jgw") +
            ",yes\n");
    const pwtest::CommandResult batch = pwtest::Run({pwtest::BinPath("pinwright-cli"), "georef", "--batch", list});
    EXPECT_EQ(batch.ExitCode, 0) << batch.Out << batch.Err;
    EXPECT_EQ(pwtest::ReadText(dir.File("b.jgw")), pwtest::ReadText(dir.File("a.jgw")));
}

} // namespace
