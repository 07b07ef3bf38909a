// pinwright-cli snap IMAGE COL,ROW [--radius PIXELS] [--kind crossing|corner|any]
// The crossing or corner of printed lines nearest to a picked pixel, as
// "COL ROW SIGMA KIND" (three decimals; integer positions are pixel
// centres), or status 1 and a message when nothing trustworthy lies within
// the radius.
#include "analysis/feature_snap.h"
#include "imaging/loaded_picture.h"
#include "platform/bitmap.h"
#include "platform/exceptions.h"
#include "platform/picture.h"
#include "tools/cli/cli_support.h"
#include "tools/cli/commands.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>

namespace {

constexpr const char* Usage = "pinwright-cli snap IMAGE COL,ROW [--radius PIXELS] [--kind crossing|corner|any]";

bool ParseNumber(const std::string& text, double& value)
{
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return !text.empty() && result.ec == std::errc() && result.ptr == end && std::isfinite(value);
}

std::string Decimals(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

} // namespace

int RunSnapCommand(int argc, char** argv)
{
    std::string image, position, radiusText, kindText = "any";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--radius")
            radiusText = OptionValue(argc, argv, i, Usage);
        else if (arg == "--kind")
            kindText = OptionValue(argc, argv, i, Usage);
        else if (arg.rfind("--", 0) == 0)
            RaiseUsage(Usage, "unknown option " + arg);
        else if (image.empty())
            image = arg;
        else if (position.empty())
            position = arg;
        else
            RaiseUsage(Usage, "an argument too many: " + arg);
    }
    if (image.empty() || position.empty())
        RaiseUsage(Usage, "snap needs an image and a pixel position");
    TSnapOptions options;
    if (kindText == "crossing")
        options.Target = TSnapTarget::Crossing;
    else if (kindText == "corner")
        options.Target = TSnapTarget::Corner;
    else if (kindText != "any")
        RaiseUsage(Usage, "--kind takes crossing, corner or any, not " + kindText);

    const size_t comma = position.find(',');
    double column = 0, row = 0;
    if (comma == std::string::npos || !ParseNumber(position.substr(0, comma), column) ||
        !ParseNumber(position.substr(comma + 1), row))
        throw EConvertError("'" + position + "' is not a pixel position COL,ROW");
    if (!radiusText.empty() &&
        (!ParseNumber(radiusText, options.Radius) || options.Radius <= 0 || options.Radius > MaxSnapRadius))
        throw EConvertError("'" + radiusText + "' is not a radius above 0 and up to 64 pixels");

    const std::unique_ptr<TGraphic> graphic = LoadPictureFile(image);
    const TBitmap& bitmap = graphic->ViewBitmap();
    RequireImage(*graphic);
    const std::optional<TSnappedFeature> feature = SnapToFeature(bitmap, column, row, options);
    if (!feature) {
        const char* what = options.Target == TSnapTarget::Crossing ? "crossing"
            : options.Target == TSnapTarget::Corner                ? "corner"
                                                                   : "crossing or corner";
        char radius[32];
        std::snprintf(radius, sizeof radius, "%g", options.Radius);
        throw Exception(std::string("No ") + what + " to snap to within " + radius + " pixels of " + position);
    }
    // A standard error below the last decimal shown is shown as that decimal.
    std::cout << Decimals(feature->Column) << ' ' << Decimals(feature->Row) << ' '
              << Decimals(std::max(feature->Sigma, 0.001)) << ' ' << FeatureKindName(feature->Kind) << '\n';
    return 0;
}
