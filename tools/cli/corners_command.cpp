// pinwright-cli corners IMAGE
// The four corners of the sheet's map frame, one line each, "UL COL ROW
// SIGMA" then UR, LR and LL (three decimals; integer positions are pixel
// centres, SIGMA the standard error of each coordinate), or status 1 and
// why no frame was found. How far each side bows goes to standard error.
// --read-labels adds "X Y" to each line: the
// longitude and latitude printed beside the corner in decimal degrees (east
// and north positive; six decimals), or "- -" where they were not read with
// confidence or disagree with the rest of the sheet, which is then said why
// on stderr.
#include "tools/cli/auto_corners.h"
#include "tools/cli/cli_support.h"
#include "tools/cli/command_line.h"

#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>

namespace {

class TCornersCommand final : public TCommand {
public:
    void Declare(TCommandLine& line) override
    {
        line.Summary("the four corners of a scanned sheet's map frame, found on the picture");
        line.Positional("IMAGE", "an image", FImage);
        line.Flag("--read-labels", FReadLabels,
                  "add X Y to each line: the longitude and latitude printed beside the corner in the margin, in "
                  "decimal degrees (east and north positive), or \"- -\" where a label is not read with "
                  "confidence or does not agree with the others (the four must make one graticule sheet); why "
                  "goes to standard error");
        line.Option("--hemisphere", "H", FHemisphere,
                    "N or S, E or W (or one of each, as NE) for labels printed without hemisphere letters; "
                    "without it the order of the values tells, the sheet lying north up");
        line.Needs("--hemisphere", {"--read-labels"});
        line.Description(R"(Finds the map frame of a scanned sheet: the thin inner line where the map
ends (a heavier decorative frame may run a few millimetres outside it, with
the margin's text beyond), on a sheet lying turned by up to a dozen
degrees, on a dark or white scanner lid. Prints its four corners, one line
each:
  UL COL ROW SIGMA
  UR COL ROW SIGMA
  LR COL ROW SIGMA
  LL COL ROW SIGMA
upper left, upper right, lower right and lower left as the image lies;
COL and ROW with three decimals (integer values are pixel centres, as in a
world file), SIGMA the standard error of each coordinate in pixels. When
the lines found do not make a frame it can be sure of, it prints no corners
and says why.)");
        line.Epilogue(R"(Exit status: 0 success, 1 the image cannot be loaded or holds no frame that
can be trusted, 2 a usage error.)");
    }

    int Run() override
    {
        const THemisphere hemisphere = FHemisphere.empty() ? THemisphere{} : ReadHemisphereOption(FHemisphere);
        TReadFrame read;
        if (FReadLabels)
            read = ReadImageFrame(FImage, hemisphere);
        else
            read.Frame = FindImageFrame(FImage);
        for (int i = 0; i < 4; ++i) {
            const size_t c = size_t(i);
            const TFrameCorner& corner = read.Frame.Corners[c];
            char line[192];
            int used = std::snprintf(line, sizeof line, "%s %.3f %.3f %.3f", FrameCornerNames[i], corner.Col,
                                     corner.Row, corner.Sigma);
            if (FReadLabels) {
                const TPrintedCorners& labels = read.Labels;
                const size_t room = sizeof line - size_t(used);
                used += labels.XKnown[c] ? std::snprintf(line + used, room, " %.6f", labels.X[c])
                                         : std::snprintf(line + used, room, " -");
                const size_t rest = sizeof line - size_t(used);
                used += labels.YKnown[c] ? std::snprintf(line + used, rest, " %.6f", labels.Y[c])
                                         : std::snprintf(line + used, rest, " -");
            }
            std::cout << line << "\n";
        }
        // How far each side bows off its chord, for the eye: on standard error.
        auto tenths = [&](int side) { return std::round(read.Frame.Bow[size_t(side)] * 10) / 10 + 0.0; }; // no "-0.0"
        std::fprintf(stderr, "bow: top %+.1f, bottom %+.1f, left %+.1f, right %+.1f pixels\n", tenths(0), tenths(1),
                     tenths(2), tenths(3));
        if (FReadLabels && !read.Labels.Sheet)
            std::cerr << read.Labels.Refusal << "\n";
        return 0;
    }

private:
    std::string FImage, FHemisphere;
    bool FReadLabels = false;
};

const TCommandRegistration Registration("corners", MakeCommand<TCornersCommand>);

} // namespace
