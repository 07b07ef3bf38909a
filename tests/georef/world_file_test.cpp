#include "georef/control_points.h"
#include "georef/fit_solvers.h"
#include "georef/world_file.h"

#include "platform/exceptions.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace {

TEST(FormatFixed, HalvesAwayFromZeroOnTheExactValue)
{
    const struct {
        double Value;
        int Decimals;
        int Width;
        const char* Text;
    } cases[] = {
        {2, 12, 14, "2.000000000000"},
        {0, 3, 5, "0.000"},
        {-0.0, 12, 14, "-0.000000000000"},
        {-0.0001, 3, 5, "-0.000"},
        {0.0625, 3, 5, "0.063"},      // exactly a half: away from zero, not to even
        {-0.0625, 3, 5, "-0.063"},
        {0.0005, 3, 5, "0.001"},      // stored a little above the half
        {1.0005, 3, 5, "1.000"},      // stored a little below the half
        {9.9995, 3, 5, "9.999"},      // below the half as well
        {9.9996, 3, 5, "10.000"},     // carry through every digit
        {999.9999, 3, 5, "1000.000"},
        {5401234.5678, 3, 5, "5401234.568"},
        {0.1, 12, 14, "0.100000000000"},
        {1e20, 3, 5, "100000000000000000000.000"},
        {1.5, 0, 5, "    2"},         // padding on the left to the width
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatFixed(c.Value, c.Decimals, c.Width), c.Text) << c.Value;
}

TControlTexts Texts(const char* col1, const char* row1, const char* col2, const char* row2, const char* y1,
                    const char* x1, const char* y2, const char* x2)
{
    TControlTexts t;
    t.Col1 = col1;
    t.Row1 = row1;
    t.Col2 = col2;
    t.Row2 = row2;
    t.Y1 = y1;
    t.X1 = x1;
    t.Y2 = y2;
    t.X2 = x2;
    return t;
}

std::string Lines(std::initializer_list<const char*> lines)
{
    std::string text;
    for (const char* line : lines)
        text += std::string(line) + "\r\n";
    return text;
}

TEST(WorldFile, ExactTextOfTheTransformation)
{
    const struct {
        const char* Name;
        TControlTexts Texts;
        bool Negate;
        std::string File;
    } cases[] = {
        {"worked example", Texts("10", "20", "110", "20", "1000", "5000", "1200", "5000"), false,
         Lines({"2.000000000000", "0.000", "0.000", "-2.000000000000", "980.000", "5040.000"})},
        {"points swapped: same scale, origin from the other point",
         Texts("110", "20", "10", "20", "1200", "5000", "1000", "5000"), false,
         Lines({"2.000000000000", "0.000", "0.000", "-2.000000000000", "980.000", "5040.000"})},
        {"3-4-5: only the distance of point 2 counts", Texts("0", "0", "3", "4", "100", "200", "106", "208"), false,
         Lines({"2.000000000000", "0.000", "0.000", "-2.000000000000", "100.000", "200.000"})},
        {"3-4-5 swapped: point 2 anchors", Texts("3", "4", "0", "0", "106", "208", "100", "200"), false,
         Lines({"2.000000000000", "0.000", "0.000", "-2.000000000000", "100.000", "216.000"})},
        {"identical map coordinates: s = 0", Texts("0", "0", "10", "0", "100", "200", "100", "200"), false,
         Lines({"0.000000000000", "0.000", "0.000", "-0.000000000000", "100.000", "200.000"})},
        {"large coordinates keep three decimals",
         Texts("0", "0", "0", "1", "5401234.5678", "5678000", "5401234.5678", "5678002"), false,
         Lines({"2.000000000000", "0.000", "0.000", "-2.000000000000", "5401234.568", "5678000.000"})},
        {"negated", Texts("10", "20", "110", "20", "1000", "5000", "1200", "5000"), true,
         Lines({"2.000000000000", "0.000", "0.000", "-2.000000000000", "-1020.000", "-4960.000"})},
        {"comma decimals and blanks in the boxes", Texts("0", "0", "3", "4", " 100,5", "200,25 ", "106,5", "208,25"),
         false, Lines({"2.000000000000", "0.000", "0.000", "-2.000000000000", "100.500", "200.250"})},
        {"scale with twelve decimals", Texts("0", "0", "3", "0", "0", "0", "1", "0"), false,
         Lines({"0.333333333333", "0.000", "0.000", "-0.333333333333", "0.000", "0.000"})},
    };
    for (const auto& c : cases) {
        TControlPoints points = ReadControlPoints(c.Texts);
        if (c.Negate)
            NegateMapCoordinates(points);
        EXPECT_EQ(WorldFileText(ComputeWorldTransform(points[0], points[1])), c.File) << c.Name;
    }
}

// A fitted world file's origin keeps three decimals for pixels of half a map
// unit or more, and as many more as hold it to a thousandth of a pixel below.
TEST(WorldFile, FittedOriginKeepsAThousandthOfAPixel)
{
    const struct {
        TAffineTransform Transform;
        std::string File;
    } cases[] = {
        {{2, 0, 0.5, -2, 980.4444, 5040.5555},
         Lines({"2.000000000000", "0.000000000000", "0.500000000000", "-2.000000000000", "980.444", "5040.556"})},
        {{0.5, 0, 0, -0.5, 1.23456, 2.34567},
         Lines({"0.500000000000", "0.000000000000", "0.000000000000", "-0.500000000000", "1.235", "2.346"})},
        {{0.000047857903, 0.000000044057, 0.000000040545, -0.000043737974, 87.733605123456, 24.524318765432},
         Lines({"0.000047857903", "0.000000044057", "0.000000040545", "-0.000043737974", "87.73360512",
                "24.52431877"})},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WorldFileText(c.Transform), c.File);
}

TEST(WorldFile, ThreeFourFiveSendsPointTwoOffItsMapPosition)
{
    const TControlPoints points = ReadControlPoints(Texts("0", "0", "3", "4", "100", "200", "106", "208"));
    const TWorldTransform t = ComputeWorldTransform(points[0], points[1]);
    EXPECT_EQ(t.E0 + t.S * 3, 106);
    EXPECT_EQ(t.N0 - t.S * 4, 192);
}

TEST(WorldFile, LabelsUseTheLocaleSeparator)
{
    TControlTexts texts = Texts("10", "20", "110,0", "20", "1000", "5000", "1200", "5000");
    texts.DecimalSeparator = ',';
    const TControlPoints points = ReadControlPoints(texts);
    EXPECT_EQ(ComputeWorldTransform(points[0], points[1]).S, 2);
}

TEST(WorldFile, FailuresAndTheirTexts)
{
    const char* const blank = "     ";
    const struct {
        const char* Name;
        TControlTexts Texts;
        const char* Message;
    } cases[] = {
        {"point 1 not picked", Texts(blank, blank, "110", "20", "1", "2", "3", "4"),
         "'     ' is not a valid floating point value"},
        {"point 2 not picked", Texts("10", "20", blank, blank, "1", "2", "3", "4"),
         "'     ' is not a valid floating point value"},
        {"same pixel", Texts("10", "20", "10", "20", "1000", "5000", "1200", "5000"),
         "Floating point division by zero"},
        {"same pixel and same map point", Texts("10", "20", "10", "20", "1000", "5000", "1000", "5000"),
         "Invalid floating point operation"},
        {"malformed coordinate named as typed", Texts("10", "20", "110", "20", "1,234,5", "5000", "1200", "5000"),
         "'1,234,5' is not a valid floating point value"},
        {"letters in a coordinate", Texts("10", "20", "110", "20", "1000", "50OO", "1200", "5000"),
         "'50OO' is not a valid floating point value"},
        {"result too large", Texts("0", "0", "1", "0", "-1e308", "0", "1e308", "0"), "Floating point overflow"},
    };
    for (const auto& c : cases) {
        try {
            const TControlPoints points = ReadControlPoints(c.Texts);
            ComputeWorldTransform(points[0], points[1]);
            ADD_FAILURE() << c.Name;
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), c.Message) << c.Name;
        }
    }
}

TEST(WriteTextFile, WritesAndReportsIOErrors)
{
    pwtest::TempDir dir;
    const std::string file = dir.File("temporar.tfw");
    pwtest::WriteText(file, "an older and much longer text\r\n");
    WriteTextFile(file, "new\r\n");
    EXPECT_EQ(pwtest::ReadText(file), "new\r\n");

    const struct {
        const char* Name;
        std::string File;
        const char* Message;
    } cases[] = {
        {"folder missing", dir.File("no/temporar.tfw"), "File not found"},
        {"a folder in the way", dir.Path(), "I/O error 21"},
        {"disk full", dir.File("full.tfw"), "Disk full"},
    };
    ASSERT_EQ(::symlink("/dev/full", dir.File("full.tfw").c_str()), 0);
    for (const auto& c : cases) {
        try {
            WriteTextFile(c.File, "2.000000000000\r\n");
            ADD_FAILURE() << c.Name;
        } catch (const EInOutError& e) {
            EXPECT_EQ(e.Message(), c.Message) << c.Name;
        }
    }
    // The partly written file does not stay behind.
    EXPECT_FALSE(std::filesystem::is_symlink(dir.File("full.tfw")));
}

} // namespace
