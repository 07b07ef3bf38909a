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
#include "tools/cli/command_line.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>

namespace {

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


class TSnapCommand final : public TCommand {
public:
    void Declare(TCommandLine& line) override
    {
        line.Summary("the printed crossing or corner at a picked pixel, to a fraction of a pixel (status 1 when "
                     "there is none)");
        line.Positional("IMAGE", "an image", FImage);
        line.Positional("COL,ROW", "a pixel position", FPosition);
        line.Option("--radius", "PIXELS", FRadius, "how far from COL,ROW to look (default 12, at most 64)");
        line.Choice("--kind", FKind, {"crossing", "corner", "any"}, "crossing or corner only (default any)");
        line.Description(R"text(Finds, near the pixel position COL,ROW of IMAGE, the crossing of two
printed straight lines (a grid or graticule crossing) or the corner where
two lines meet and end (a map-frame corner, a T or an L), fitted to the
lines to a fraction of a pixel, and prints one line:

  COL ROW SIGMA KIND

COL and ROW are the feature's position (integer values are pixel centres,
as in a world file), SIGMA its standard error along either axis in pixels
(at least 0.001), all three with three decimals, and KIND is "crossing" or
"corner". COL,ROW may have decimals.)text");
        line.Epilogue(R"text(When no feature lies within the radius, or none can be trusted (another
is about as near, or the lines are too faint or ragged to measure), it
prints "No crossing or corner to snap to within R pixels of COL,ROW." on
standard error and writes nothing to standard output.

Exit status: 0 a feature was found, 1 none was (or the image cannot be
loaded, or a number cannot be read), 2 a usage error.)text");
    }

    int Run() override;

private:
    std::string FImage, FPosition, FRadius, FKind = "any";
};

int TSnapCommand::Run()
{
    TSnapOptions options;
    if (FKind == "crossing")
        options.Target = TSnapTarget::Crossing;
    else if (FKind == "corner")
        options.Target = TSnapTarget::Corner;

    const size_t comma = FPosition.find(',');
    double column = 0, row = 0;
    if (comma == std::string::npos || !ParseNumber(FPosition.substr(0, comma), column) ||
        !ParseNumber(FPosition.substr(comma + 1), row))
        throw EConvertError("'" + FPosition + "' is not a pixel position COL,ROW");
    if (!FRadius.empty() &&
        (!ParseNumber(FRadius, options.Radius) || options.Radius <= 0 || options.Radius > MaxSnapRadius))
        throw EConvertError("'" + FRadius + "' is not a radius above 0 and up to 64 pixels");

    const std::unique_ptr<TGraphic> graphic = LoadPictureFile(FImage);
    const TBitmap& bitmap = graphic->ViewBitmap();
    RequireImage(*graphic);
    const std::optional<TSnappedFeature> feature = SnapToFeature(bitmap, column, row, options);
    if (!feature) {
        const char* what = options.Target == TSnapTarget::Crossing ? "crossing"
            : options.Target == TSnapTarget::Corner                ? "corner"
                                                                   : "crossing or corner";
        char radius[32];
        std::snprintf(radius, sizeof radius, "%g", options.Radius);
        throw Exception(std::string("No ") + what + " to snap to within " + radius + " pixels of " + FPosition);
    }
    // A standard error below the last decimal shown is shown as that decimal.
    std::cout << Decimals(feature->Column) << ' ' << Decimals(feature->Row) << ' '
              << Decimals(std::max(feature->Sigma, 0.001)) << ' ' << FeatureKindName(feature->Kind) << '\n';
    return 0;
}

const TCommandRegistration Registration("snap", MakeCommand<TSnapCommand>);

} // namespace
