// What the declarations of the commands make of a command line: the forms
// of an option, the errors and the help.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

pwtest::CommandResult Cli(std::vector<std::string> args)
{
    args.insert(args.begin(), pwtest::BinPath("pinwright-cli"));
    return pwtest::Run(args);
}

TEST(CommandLine, DeclarationsReadTheArgumentsAndWordTheErrors)
{
    const std::string bmp = pwtest::SamplePath("sample_map.bmp");
    const std::string georef = "Usage: pinwright-cli georef IMAGE --p1 COL,ROW --p2 COL,ROW "
                               "(--map Y1,X1,Y2,X2 | --points FILE) --out TARGET [OPTIONS].\n";
    const std::string batch = "Usage: pinwright-cli georef --batch LIST.csv [--jobs N] [--resume].\n";
    const struct {
        std::vector<std::string> Args;
        int ExitCode;
        std::string Err; // all of it, for a failure
    } cases[] = {
        // --name=value is --name value; the last of an option given twice counts.
        {{"georef", bmp, "--p1=100,100", "--p2", "1,1", "--p2", "500,400", "--map=3501000,5404000,3505000,5401000",
          "--out", "@/a.jgw", "--max-misfit", "0.001"},
         0, ""},
        // A value may start with a minus sign.
        {{"georef", bmp, "--p1", "100,100", "--p2", "500,400", "--map", "-3501000,-5404000,-3505000,-5401000",
          "--out", "@/a.jgw", "--negate"},
         0, ""},
        {{"georef", bmp, "--scale=2"}, 2, "pinwright-cli: unknown option --scale=2\n" + georef},
        {{"georef", bmp, "--rotate", "--transform", "affine"}, 2,
         "pinwright-cli: --rotate is the transformation similarity; give either it or --transform\n" + georef},
        {{"georef", bmp, "--p1", "1,1", "--p2", "2,2", "--out", "@/a.tif", "--map", "1,2,3,4", "--points", "p"}, 2,
         "pinwright-cli: georef needs either --map or --points\n" + georef},
        {{"georef", "--batch", "l.csv", "x.bmp"}, 2,
         "pinwright-cli: unexpected argument x.bmp (in a batch, options go into the list's columns)\n" + batch},
        {{"georef", "--batch", "l.csv", "--jobs", "2x"}, 2,
         "pinwright-cli: --jobs needs a number from 1 to 256, not '2x'\n" + batch},
        {{"info", "a.bmp", "b.bmp"}, 2, "pinwright-cli: a second picture b.bmp\nUsage: pinwright-cli info FILE.\n"},
        {{"convert", "a.bmp"}, 2,
         "pinwright-cli: convert needs a picture and an output file\nUsage: pinwright-cli convert FILE OUT.\n"},
        {{"check"}, 2, "pinwright-cli: check needs a picture\nUsage: pinwright-cli check FILE...\n"},
        {{"snap", "a.bmp", "1,1", "2,2"}, 2,
         "pinwright-cli: an argument too many: 2,2\n"
         "Usage: pinwright-cli snap IMAGE COL,ROW [--radius PIXELS] [--kind crossing|corner|any].\n"},
        {{"--threads"}, 2,
         "pinwright-cli: option --threads needs a value\nUsage: pinwright-cli --threads N COMMAND ARGUMENTS.\n"},
        {{"--threads", "300", "info", "a.bmp"}, 2,
         "pinwright-cli: --threads needs a number from 1 to 256, not '300'\n"
         "Usage: pinwright-cli --threads N COMMAND ARGUMENTS.\n"},
    };
    for (const auto& c : cases) {
        pwtest::TempDir dir;
        std::vector<std::string> args = c.Args;
        for (std::string& arg : args)
            if (arg.rfind("@/", 0) == 0)
                arg = dir.File(arg.substr(2));
        SCOPED_TRACE(args[0] + " " + (args.size() > 2 ? args[2] : ""));
        const auto result = Cli(args);
        EXPECT_EQ(result.ExitCode, c.ExitCode) << result.Err;
        if (c.ExitCode != 0) {
            EXPECT_EQ(result.Err, c.Err);
            EXPECT_EQ(result.Out, "");
        }
    }
}

// Every command's help starts with its usage and lists each option it
// declares; the program's help lists every command once, with its summary.
TEST(CommandLine, HelpIsMadeFromTheDeclarations)
{
    const auto program = Cli({"--help"});
    ASSERT_EQ(program.ExitCode, 0);
    const struct {
        std::string Command;
        std::string Listed;                // its line in the program's help
        std::vector<std::string> Options;  // some of what its help lists
    } cases[] = {
        {"info", "  info      describe a picture as JSON\n", {}},
        {"snap", "  snap      the printed crossing or corner at a picked pixel, to a fraction of\n",
         {"  --radius PIXELS      how far from COL,ROW to look (default 12, at most 64)\n",
          "  --kind crossing|corner|any\n                       crossing or corner only (default any)\n"}},
        {"georef", "  georef    write a world file or a GeoTIFF from two or more control points,\n",
         {"  --p1 COL,ROW         the picked pixel of point 1 (column, row; integers)\n",
          "                         two-point    the default: scale from points 1 and 2\n",
          "                         tps          a spline through every point (3+)\n",
          "  --jobs N             run N sheets at a time (default 1)\n",
          "       pinwright-cli georef --batch LIST.csv [--jobs N] [--resume]\n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Command);
        EXPECT_NE(program.Out.find(c.Listed), std::string::npos) << program.Out;
        const auto help = Cli({c.Command, "--help"});
        EXPECT_EQ(help.ExitCode, 0);
        EXPECT_EQ(help.Out.rfind("Usage: pinwright-cli " + c.Command + " ", 0), 0u) << help.Out;
        for (const std::string& option : c.Options)
            EXPECT_NE(help.Out.find(option), std::string::npos) << option << help.Out;
    }
}

} // namespace
