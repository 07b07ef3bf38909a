// pinwright-cli corners IMAGE
// The four corners of the sheet's map frame, one line each, "UL COL ROW
// SIGMA" then UR, LR and LL (three decimals; integer positions are pixel
// centres, SIGMA the standard error of each coordinate), or status 1 and
// why no frame was found.
#include "tools/cli/auto_corners.h"
#include "tools/cli/cli_support.h"
#include "tools/cli/command_line.h"

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
        const TMapFrame frame = FindImageFrame(FImage);
        for (int i = 0; i < 4; ++i) {
            const TFrameCorner& corner = frame.Corners[size_t(i)];
            char line[128];
            std::snprintf(line, sizeof line, "%s %.3f %.3f %.3f\n", FrameCornerNames[i], corner.Col, corner.Row,
                          corner.Sigma);
            std::cout << line;
        }
        return 0;
    }

private:
    std::string FImage;
};

const TCommandRegistration Registration("corners", MakeCommand<TCornersCommand>);

} // namespace
