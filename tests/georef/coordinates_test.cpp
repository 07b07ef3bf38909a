#include "georef/coordinates.h"

#include "platform/exceptions.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

namespace {

TEST(NormaliseDecimal, OnlyTheFirstCommaBecomesAPoint)
{
    const struct {
        const char* In;
        const char* Out;
    } cases[] = {
        {"12,5", "12.5"}, {"1,234,5", "1.234,5"}, {" 1 , 2 ", " 1 . 2 "}, {"12.5", "12.5"}, {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NormaliseDecimal(c.In), c.Out) << c.In;
}

TEST(ParseCoordinate, AcceptsTheNumberSyntax)
{
    const struct {
        const char* Text;
        double Value;
    } cases[] = {
        {"12.5", 12.5},   {"  -3.25", -3.25}, {"+7", 7},           {"1e3", 1000},   {"2.5E-2", 0.025},
        {"1E+2", 100},    {".", 0},           {"", 0},             {"   ", 0},      {"5.", 5},
        {".5", 0.5},      {"12.5  ", 12.5},   {"5401234.5678", 5401234.5678},       {"-0", -0.0},
        {"0.1", 0.1},     {"\t4", 4},
    };
    for (const auto& c : cases) {
        const double value = ParseCoordinate(c.Text);
        EXPECT_EQ(value, c.Value) << "'" << c.Text << "'";
        EXPECT_EQ(std::signbit(value), std::signbit(c.Value)) << "'" << c.Text << "'";
    }
}

TEST(ParseCoordinate, ReportsTextItStopsInside)
{
    for (const char* text : {"1.234,5", "12a", "1 2", "-", "+.", "1e", "e5", "--1", "1e999", ",5", "1..2", "0x10"}) {
        try {
            ParseCoordinate(text);
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), std::string("'") + text + "' is not a valid floating point value");
        }
    }
}

TEST(ParseCoordinate, CommaDecimalAfterNormalising)
{
    EXPECT_EQ(ParseCoordinate(NormaliseDecimal("12,5")), 12.5);
    EXPECT_THROW(ParseCoordinate(NormaliseDecimal("1,234,5")), EConvertError);
}

TEST(StrToFloat, ReadsLabelsWithTheLocaleSeparator)
{
    EXPECT_EQ(StrToFloat("20", '.'), 20);
    EXPECT_EQ(StrToFloat(" 7 ", '.'), 7);
    EXPECT_EQ(StrToFloat("2,5", ','), 2.5);
    EXPECT_THROW(StrToFloat("2.5", ','), EConvertError);
    for (const char* text : {"     ", "", "x"}) {
        try {
            StrToFloat(text, '.');
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), std::string("'") + text + "' is not a valid floating point value");
        }
    }
}

TEST(FloatToStr, FifteenSignificantDigitsInTheLocaleForm)
{
    const struct {
        double Value;
        char Separator;
        const char* Text;
    } cases[] = {
        {100.5, '.', "100.5"},
        {200.25, ',', "200,25"},
        {0, '.', "0"},
        {400, '.', "400"},
        {-2.5, '.', "-2.5"},
        {0.1, '.', "0.1"},
        {0.1 + 0.2, '.', "0.3"},
        {1.0 / 3, '.', "0.333333333333333"},
        {5401234.5678, ',', "5401234,5678"},
        {123456789012345, '.', "123456789012345"},
        {1e15, '.', "1E15"},
        {1.25e20, ',', "1,25E20"},
        {1e-5, '.', "0.00001"},
        {1.5e-6, '.', "1.5E-6"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FloatToStr(c.Value, c.Separator), c.Text);
        // What a box shows converts back through Save's conversion.
        EXPECT_DOUBLE_EQ(ParseCoordinate(NormaliseDecimal(c.Text)), std::stod(FloatToStr(c.Value, '.')));
    }
}

struct TPointFileCase {
    const char* Name;
    const char* Content;
    std::optional<TPointRecord> First;  // nullopt: record 1 fails
    std::optional<TPointRecord> Second; // nullopt: record 2 fails
};

TEST(PointFileReader, RecordsSeparatorsAndLineSkipping)
{
    const TPointRecord a{1, 100.5, 200.25};
    const TPointRecord b{2, 300, 400};
    const TPointFileCase cases[] = {
        {"one line each", "1 100.5 200.25\n2 300 400\n", a, b},
        {"items on separate lines", "1\n100.5\n200.25\n2\n300\n400\n", a, b},
        {"tabs, CR LF, empty lines", "\n\n1\t100.5\t200.25\r\n\r\n2 300 400", a, b},
        {"extras on a line ignored", "1 100.5 200.25 999 x,y\n2 300 400 7\n", a, b},
        {"anything after record 2 ignored", "1 100.5 200.25\n2 300 400\nrubbish\n", a, b},
        {"one record: the second reads 0", "1 100.5 200.25\n", a, TPointRecord{0, 0, 0}},
        {"empty file", "", TPointRecord{0, 0, 0}, TPointRecord{0, 0, 0}},
        {"CR alone does not end a line", "1 100.5 200.25\r2 300 400\n3 5 6\n", a, TPointRecord{3, 5, 6}},
        {"point numbers not compared", "7 100.5 200.25\n-1 300 400\n", TPointRecord{7, 100.5, 200.25},
         TPointRecord{-1, 300, 400}},
        {"exponents and a lone point", "1 1e2 .\n2 -2.5E1 +3\n", TPointRecord{1, 100, 0},
         TPointRecord{2, -25, 3}},
        {"comma in a real", "1 100,5 200\n2 300 400\n", std::nullopt, std::nullopt},
        {"letters", "1 abc 200\n2 300 400\n", std::nullopt, std::nullopt},
        {"point number with a fraction", "1.5 100 200\n2 300 400\n", std::nullopt, std::nullopt},
        {"record 2 bad", "1 100.5 200.25\n2 3x0 400\n", a, std::nullopt},
        {"endless token", nullptr, std::nullopt, std::nullopt},
    };
    pwtest::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string file = dir.File("points.txt");
        pwtest::WriteText(file, c.Content ? std::string(c.Content) : "1 " + std::string(100000, '7') + " 2\n");
        TPointFileReader reader(file);
        for (const auto* expected : {&c.First, &c.Second}) {
            if (!expected->has_value()) {
                try {
                    reader.ReadRecord();
                    ADD_FAILURE() << "record accepted";
                } catch (const EInOutError& e) {
                    EXPECT_EQ(e.Message(), "Invalid numeric input");
                }
                break;
            }
            const TPointRecord record = reader.ReadRecord();
            EXPECT_EQ(record.Number, (*expected)->Number);
            EXPECT_EQ(record.Y, (*expected)->Y);
            EXPECT_EQ(record.X, (*expected)->X);
        }
    }
}

TEST(PointFileReader, OpenErrors)
{
    pwtest::TempDir dir;
    try {
        TPointFileReader reader(dir.File("missing.txt"));
        ADD_FAILURE();
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Message(), "File not found");
    }
    // A folder opens but cannot be read.
    TPointFileReader reader(dir.Path());
    try {
        reader.ReadRecord();
        ADD_FAILURE();
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Message(), "I/O error 21");
    }
}

} // namespace
