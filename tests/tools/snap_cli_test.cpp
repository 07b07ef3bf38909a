// pinwright-cli snap on the sample map: the line it prints for a grid
// crossing, and its status and message when there is nothing to snap to or
// the command line cannot be used.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

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

} // namespace
