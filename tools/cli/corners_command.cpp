// pinwright-cli corners IMAGE
// The four corners of the sheet's map frame, one line each, "UL COL ROW
// SIGMA" then UR, LR and LL (three decimals; integer positions are pixel
// centres, SIGMA the standard error of each coordinate), or status 1 and
// why no frame was found. --read-labels adds "X Y" to each line: the
// longitude and latitude printed beside the corner in decimal degrees (east
// and north positive; six decimals), or "- -" where they were not read with
// confidence or disagree with the rest of the sheet, which is then said why
// on stderr. --hemisphere N|S|E|W|NE... for labels without letters.
#include "tools/cli/auto_corners.h"
#include "tools/cli/cli_support.h"
#include "tools/cli/commands.h"

#include <cstdio>
#include <iostream>
#include <string>

namespace {

constexpr const char* Usage = "pinwright-cli corners IMAGE";

} // namespace

int RunCornersCommand(int argc, char** argv)
{
    std::string image, hemisphereText;
    bool readLabels = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--read-labels")
            readLabels = true;
        else if (arg == "--hemisphere")
            hemisphereText = OptionValue(argc, argv, i, Usage);
        else if (arg.rfind("--", 0) == 0)
            RaiseUsage(Usage, "unknown option " + arg);
        else if (!image.empty())
            RaiseUsage(Usage, "a second image " + arg);
        else
            image = arg;
    }
    if (image.empty())
        RaiseUsage(Usage, "corners needs an image");

    if (!hemisphereText.empty() && !readLabels)
        RaiseUsage(Usage, "--hemisphere needs --read-labels");
    const THemisphere hemisphere = hemisphereText.empty() ? THemisphere{} : ReadHemisphereOption(hemisphereText);

    TReadFrame read;
    if (readLabels)
        read = ReadImageFrame(image, hemisphere);
    else
        read.Frame = FindImageFrame(image);
    for (int i = 0; i < 4; ++i) {
        const size_t c = size_t(i);
        const TFrameCorner& corner = read.Frame.Corners[c];
        char line[192];
        int used = std::snprintf(line, sizeof line, "%s %.3f %.3f %.3f", FrameCornerNames[i], corner.Col, corner.Row,
                                 corner.Sigma);
        if (readLabels) {
            const TPrintedCorners& labels = read.Labels;
            used += labels.XKnown[c] ? std::snprintf(line + used, sizeof line - size_t(used), " %.6f", labels.X[c])
                                     : std::snprintf(line + used, sizeof line - size_t(used), " -");
            used += labels.YKnown[c] ? std::snprintf(line + used, sizeof line - size_t(used), " %.6f", labels.Y[c])
                                     : std::snprintf(line + used, sizeof line - size_t(used), " -");
        }
        std::cout << line << "\n";
    }
    if (readLabels && !read.Labels.Sheet)
        std::cerr << read.Labels.Refusal << "\n";
    return 0;
}
