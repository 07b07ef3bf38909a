// The layout every JSON file of ours has, whatever the document holds.
#include "georef/json_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(JsonText, WritesTheLayoutOfOurFiles)
{
    const struct {
        const char* Name;
        TJson Document;
        std::string Text;
    } cases[] = {
        {"plain values", {{"n", 3}, {"u", 4000000000u}, {"x", 0.5}, {"whole", 50.0}, {"yes", true}, {"none", nullptr}},
         "{\n  \"n\": 3,\n  \"u\": 4000000000,\n  \"x\": 0.5,\n  \"whole\": 50,\n  \"yes\": true,\n  \"none\": null\n}"},
        {"not finite, and a float as it shows",
         {{"inf", JsonNumber(std::numeric_limits<double>::infinity())}, {"nan", JsonNumber(NAN)},
          {"gamma", JsonNumber(2.2f)}, {"tiny", JsonNumber(1e-7)}},
         "{\n  \"inf\": null,\n  \"nan\": null,\n  \"gamma\": 2.2,\n  \"tiny\": 1e-07\n}"},
        {"escapes", {{"say \"hi\"", "a\\b\n"}}, "{\n  \"say \\\"hi\\\"\": \"a\\\\b\\n\"\n}"},
        {"arrays of values on one line, empty ones too",
         {{"a", {1, 2, 3}}, {"e", TJson::array()}, {"o", TJson::object()}},
         "{\n  \"a\": [1, 2, 3],\n  \"e\": [],\n  \"o\": {}\n}"},
        {"an object in an object is expanded", {{"p", {{"w", 1}, {"f", {"x"}}}}},
         "{\n  \"p\": {\n    \"w\": 1,\n    \"f\": [\"x\"]\n  }\n}"},
        {"objects in an array one a line",
         {{"points", {{{"id", 1}, {"col", 0.25}}, {{"id", 2}, {"col", -3.0}}}}},
         "{\n  \"points\": [\n    {\"id\": 1, \"col\": 0.25},\n    {\"id\": 2, \"col\": -3}\n  ]\n}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(JsonText(c.Document), c.Text);
    }
}

} // namespace
