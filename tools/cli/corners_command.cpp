// pinwright-cli corners IMAGE
// The four corners of the sheet's map frame, one line each, "UL COL ROW
// SIGMA" then UR, LR and LL (three decimals; integer positions are pixel
// centres, SIGMA the standard error of each coordinate), or status 1 and
// why no frame was found. How far each side bows goes to standard error.
#include "tools/cli/auto_corners.h"
#include "tools/cli/cli_support.h"
#include "tools/cli/commands.h"

#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>

namespace {

constexpr const char* Usage = "pinwright-cli corners IMAGE";

} // namespace

int RunCornersCommand(int argc, char** argv)
{
    std::string image;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--", 0) == 0)
            RaiseUsage(Usage, "unknown option " + arg);
        else if (!image.empty())
            RaiseUsage(Usage, "a second image " + arg);
        else
            image = arg;
    }
    if (image.empty())
        RaiseUsage(Usage, "corners needs an image");

    const TMapFrame frame = FindImageFrame(image);
    for (int i = 0; i < 4; ++i) {
        const TFrameCorner& corner = frame.Corners[size_t(i)];
        char line[128];
        std::snprintf(line, sizeof line, "%s %.3f %.3f %.3f\n", FrameCornerNames[i], corner.Col, corner.Row,
                      corner.Sigma);
        std::cout << line;
    }
    // How far each side bows off its chord, for the eye: on standard error.
    auto tenths = [&](int side) { return std::round(frame.Bow[size_t(side)] * 10) / 10 + 0.0; }; // no "-0.0"
    std::fprintf(stderr, "bow: top %+.1f, bottom %+.1f, left %+.1f, right %+.1f pixels\n", tenths(0), tenths(1),
                 tenths(2), tenths(3));
    return 0;
}
