#include "tools/cli/help_texts.h"

#include <sstream>
#include <stdexcept>
#include <vector>

#ifndef PW_VERSION
#define PW_VERSION "unknown"
#endif

const char* const ProgramHelp = R"(Usage: pinwright-cli COMMAND ARGUMENTS
       pinwright-cli --threads N COMMAND ARGUMENTS
       pinwright-cli COMMAND --help
       pinwright-cli --help | --help-all | --version

Georeferences scanned maps by two control points, and reads every picture
format of the Pinwright workbench, from the command line.

Commands:
  info      describe a picture as JSON
  convert   decode a picture into a PNG, PPM or PAM file
  georef    write a world file or a GeoTIFF from two or more control
            points, for one image or a whole list of sheets (--batch)
  check     decode pictures in full and say of each: ok, ended early at
            row N, or its error (status 1 when any failed)
  snap      the printed crossing or corner at a picked pixel, to a
            fraction of a pixel (status 1 when there is none)
  corners   the four corners of a scanned sheet's map frame, found on
            the picture

--threads N decodes a picture on up to N threads (1 to 256; default: the
environment variable PINWRIGHT_THREADS, else one per processor).

Exit status:
  0  success
  1  an error; its message is the last line on standard error, and no
     output file is left behind
  2  a command line that cannot be used (unknown option, missing argument)

--help-all prints this and the help of every command, as the manual page
pinwright-cli(1) shows them.
)";

namespace {

const char* const InfoHelp = R"(Usage: pinwright-cli info FILE

Loads FILE as the workbench loads it and prints a JSON object: the picture
class, width, height, pixel format and the image properties its reader
found.

Exit status: 0 success, 1 the file cannot be loaded, 2 a usage error.
)";

const char* const ConvertHelp = R"(Usage: pinwright-cli convert FILE OUT

Loads FILE as the workbench loads it and writes the decoded bitmap to OUT:
.png, .ppm (8-bit RGB) or .pam (RGB, or RGB_ALPHA for pictures with alpha).
OUT appears whole or not at all.

Exit status: 0 success, 1 the file cannot be loaded or OUT cannot be
written, 2 a usage error.
)";

const char* const GeorefHelp = R"(Usage: pinwright-cli georef IMAGE --p1 COL,ROW --p2 COL,ROW
                            (--map Y1,X1,Y2,X2 | --points FILE)
                            --out TARGET [OPTIONS]
       pinwright-cli georef IMAGE --points FILE.points --transform NAME
                            --out TARGET [--warp] [--report REPORT.json]
                            [--max-rms PIXELS] [OPTIONS]
       pinwright-cli georef IMAGE --auto-corners X_UL,Y_UL,X_UR,Y_UR,X_LR,Y_LR,X_LL,Y_LL
                            [--corners-crs SYSTEM] --out TARGET [OPTIONS]
       pinwright-cli georef IMAGE --auto-corners printed [--hemisphere H]
                            [--corners-crs SYSTEM] --out TARGET [OPTIONS]
       pinwright-cli georef --batch LIST.csv [--jobs N] [--resume]

Saves as the workbench does: the two pixel points and their map coordinates
give one scale and the origin at point 1. TARGET ending in .tif gives the
GeoTIFF and its .tfw world file, .jgw the world file alone. Prints the six
world-file lines.

  --p1, --p2 COL,ROW   the picked pixels (column, row; integers)
  --map Y1,X1,Y2,X2    the map coordinates of point 1 and point 2
  --points FILE        a point file instead of --map
  --out TARGET         TARGET.tif (GeoTIFF and TFW) or TARGET.jgw
  --negate             the sign toggle of the workbench
  --crs SYSTEM         EPSG code or name of the coordinate reference system
                       (looked up in PROJ); GeoKeys in the GeoTIFF, .prj and
                       .aux.xml beside a .jgw
  --rotate             one scale and a rotation fitting both points
  --max-misfit PIXELS  fail, writing nothing, when point 2 misses its
                       coordinates by more than PIXELS
  --write-points FILE  also write the points as a QGIS .points file, with
                       each point's residual in pixels (dX, dY, residual)
  --transform NAME     fit every enabled point by least squares:
                         two-point    the default: scale from points 1 and 2
                         helmert      one scale and a rotation (2+ points)
                         affine       scales, rotation and shear (3+)
                         projective   a plane seen in perspective (4+)
                         polynomial2  degree 2 in column and row (6+)
                         polynomial3  degree 3 (10+)
                         tps          thin plate spline through every
                                      point exactly (3+)
                       (similarity is --rotate). helmert and affine are
                       written as world files with rotation terms; the
                       others cannot be: TARGET.tif then carries the fitted
                       points as GeoTIFF tie points and no .tfw is written
                       (an earlier TARGET.tfw is removed), and a .jgw target
                       is refused
  --warp               also write TARGET_warped.tif: the image resampled
                       north-up through the fit by gdalwarp (nearest
                       neighbour); needs a .tif target
  --report FILE.json   also write the residuals as JSON: transform, rms_px,
                       rms_map, check_rms_px, and per point id, col, row,
                       map_x, map_y, enabled, residual_px, residual_map,
                       leave_one_out_px (null where there is no figure)
  --max-rms PIXELS     fail, writing nothing, when the root mean square of
                       the fitted points' residuals is larger than PIXELS
  --auto-corners X_UL,Y_UL,X_UR,Y_UR,X_LR,Y_LR,X_LL,Y_LL
                       instead of --p1, --p2, --map and --points: the four
                       corners of the sheet's map frame, found on the image
                       as pinwright-cli corners finds them, are points 1 to
                       4, with these map coordinates (x east, y north, "."
                       as the decimal point) in the order upper left, upper
                       right, lower right, lower left; fitted affine unless
                       --transform says otherwise. A sheet whose frame
                       cannot be trusted fails with the reason
  --corners-crs SYSTEM the system of the --auto-corners coordinates, for
                       instance geographic degrees (longitude, latitude) of
                       EPSG:4258, converted through PROJ into --crs
  --auto-corners printed
                       the corners' coordinates are the latitude and
                       longitude printed beside them on the sheet, read as
                       pinwright-cli corners --read-labels reads them; a
                       sheet whose labels are not all read, or do not make
                       one graticule sheet, fails with the reason
  --hemisphere H       with printed: N or S, E or W (or one of each, as NE)
                       for labels printed without hemisphere letters; else
                       the order of the values tells (north up)
  --snap               first move every point (--p1, --p2 and those of the
                       point file) to the printed crossing or corner within
                       12 pixels of it, as the snap command finds it; one
                       line on standard error per point, and a point with
                       nothing to snap to stays where it was, with a warning
The check of the two points (misfit, the fitted scales, rotation) goes to
standard error. --points also reads a QGIS .points file, every point of it:
an enabled point is fitted, any other is a check point, measured against
the fit but not fitted; --p1 and --p2 may then be left out, or move the
first two enabled points. With more than two points, or with --transform,
standard error gets the table of residuals instead: each point's error in
map units and in pixels, its error when the fit is made without it (left
out), the root mean squares of the fitted points (plain, and with n - k
degrees of freedom, k the points the transformation needs) and of the check
points, and warnings: a point that looks mistyped (left out of the fit, it
misses by more than three times the others' root mean square), fitted
points nearly on one line or enclosing less than a quarter of the sheet.
The converters bmp2tiff and jpg2bmp are looked for in the current folder,
beside this program, in the installed program folder, then on PATH;
geotifcp, gdalwarp and gdal_translate on PATH.

Batch: LIST.csv (or - for standard input) has a header line naming its
columns and one sheet per line. The column "image" holds the image, "out"
the target; every other column is named after an option without its
dashes (p1, p2, map, points, negate, ...): a cell gives "--NAME CELL",
"yes" gives the switch "--NAME" alone, an empty cell or "no" leaves it out.
Cells holding commas are put in double quotes. Relative names are taken
from the current folder. Each sheet runs as the single command would, in a
process of its own; its targets appear only once all are complete.
  --jobs N     run N sheets at a time (default 1)
  --resume     redo only the sheets that failed or whose targets are
               missing since the last run over LIST.csv (kept in
               LIST.csv.done)
One report line per sheet on standard output ("line L, TARGET: ok" or
"line L, TARGET: failed: MESSAGE"), then "N sheets: N ok, N failed,
N skipped"; progress on standard error when it is a terminal.

Exit status: 0 success (in a batch: every sheet), 1 an error (in a batch:
one sheet or more failed, or the list cannot be read), 2 a usage error.
)";

const char* const CornersHelp = R"(Usage: pinwright-cli corners IMAGE [--read-labels [--hemisphere H]]

Finds the map frame of a scanned sheet: the thin inner line where the map
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
and says why.

--read-labels adds X Y to each line: the longitude and latitude printed
beside the corner in the margin, in decimal degrees (east and north
positive), or "- -" where a label is not read with confidence or does not
agree with the others (the four must make one graticule sheet); why goes to
standard error. --hemisphere N, S, E, W or one of each (as NE) for labels
without letters whose values cannot tell.

Exit status: 0 success, 1 the image cannot be loaded or holds no frame that
can be trusted, 2 a usage error.
)";
const char* const CheckHelp = R"text(Usage: pinwright-cli check FILE...

Loads and decodes each FILE in full as the workbench does, writes nothing,
and prints one line per file: "FILE: ok (W x H)", "FILE: ended early at
row N (W x H)" for a file whose data end before its image does (the rows
from N on are empty), or "FILE: MESSAGE" for a file that cannot be read or
holds no image.

Exit status: 0 every file could be read, 1 one file or more could not,
2 a usage error.
)text";

const char* const SnapHelp = R"text(Usage: pinwright-cli snap IMAGE COL,ROW [--radius PIXELS]
                          [--kind crossing|corner|any]

Finds, near the pixel position COL,ROW of IMAGE, the crossing of two
printed straight lines (a grid or graticule crossing) or the corner where
two lines meet and end (a map-frame corner, a T or an L), fitted to the
lines to a fraction of a pixel, and prints one line:

  COL ROW SIGMA KIND

COL and ROW are the feature's position (integer values are pixel centres,
as in a world file), SIGMA its standard error along either axis in pixels
(at least 0.001), all three with three decimals, and KIND is "crossing" or
"corner". COL,ROW may have decimals.

  --radius PIXELS  how far from COL,ROW to look (default 12, at most 64)
  --kind KIND      crossing or corner only (default any)

When no feature lies within the radius, or none can be trusted (another
is about as near, or the lines are too faint or ragged to measure), it
prints "No crossing or corner to snap to within R pixels of COL,ROW." on
standard error and writes nothing to standard output.

Exit status: 0 a feature was found, 1 none was (or the image cannot be
loaded, or a number cannot be read), 2 a usage error.
)text";

const std::string UsagePrefix = "Usage: ";

// The commands as ProgramHelp lists them: the first word of each line of
// its "Commands:" section that starts with two blanks.
std::vector<std::string> ListedCommands()
{
    std::vector<std::string> commands;
    std::istringstream in(ProgramHelp);
    std::string line;
    while (std::getline(in, line) && line != "Commands:")
        ;
    while (std::getline(in, line) && !line.empty())
        if (line.size() > 2 && line.compare(0, 2, "  ") == 0 && line[2] != ' ')
            commands.push_back(line.substr(2, line.find(' ', 2) - 2));
    return commands;
}

} // namespace

const char* CommandHelp(const std::string& command)
{
    if (command == "info")
        return InfoHelp;
    if (command == "convert")
        return ConvertHelp;
    if (command == "georef")
        return GeorefHelp;
    if (command == "corners")
        return CornersHelp;
    if (command == "check")
        return CheckHelp;
    if (command == "snap")
        return SnapHelp;
    return nullptr;
}

std::string FullHelp()
{
    std::string text = ProgramHelp;
    for (const std::string& command : ListedCommands()) {
        const char* help = CommandHelp(command);
        if (!help)
            throw std::logic_error("the command " + command + " has no help text");
        // Under its heading the usage goes without "Usage: ", indented as its
        // continuation lines are, which help2man takes for a subsection.
        std::string body = help;
        if (body.rfind(UsagePrefix, 0) == 0)
            body.replace(0, UsagePrefix.size(), std::string(UsagePrefix.size(), ' '));
        text += "\nThe " + command + " command:\n" + body;
    }
    return text;
}

std::string VersionLine()
{
    return std::string("pinwright-cli ") + PW_VERSION;
}
