// pinwright-cli grid IMAGE --spacing D[,D_NORTH] --known COL,ROW,X,Y [--known COL,ROW,X,Y] | --known labels [--label-unit N]
//                   [--grid-crs SYSTEM] [--crs SYSTEM] [--transform NAME] [--write-points FILE.points]
//                   [--report FILE.json] [--out TARGET] [--warp]
// Every crossing of the sheet's printed grid or graticule as a control
// point: the lattice found from one known crossing (grid_finder.h), each
// crossing's coordinates from its place and the spacing, converted into
// --crs when the grid's system differs, fitted and, with --out, saved as the
// georef command saves. X is east (or longitude), Y north (or latitude).
#include "analysis/grid_finder.h"
#include "analysis/printed_labels.h"
#include "georef/coordinates.h"
#include "georef/crs.h"
#include "georef/export_pipeline.h"
#include "georef/fit_quality.h"
#include "georef/fit_report.h"
#include "georef/gcp_points_file.h"
#include "georef/grid_numbering.h"
#include "georef/save_arguments.h"
#include "georef/save_request.h"
#include "imaging/loaded_picture.h"
#include "platform/bitmap.h"
#include "platform/exceptions.h"
#include "platform/picture.h"
#include "tools/cli/cli_support.h"
#include "tools/cli/command_line.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

bool ParseNumber(const std::string& text, double& value)
{
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return !text.empty() && result.ec == std::errc() && result.ptr == end && std::isfinite(value);
}

struct TKnown {
    double Column = 0, Row = 0, X = 0, Y = 0;
};

TKnown ReadKnown(const std::string& text, bool degrees)
{
    const auto parts = SplitCommas(text);
    TKnown known;
    if (parts.size() != 4 || !ParseNumber(parts[0], known.Column) || !ParseNumber(parts[1], known.Row))
        throw EConvertError("'" + text + "' is not a known crossing COL,ROW,X,Y");
    known.X = ReadGridValue(parts[2], degrees);
    known.Y = ReadGridValue(parts[3], degrees);
    return known;
}

std::string Decimals(double value, int decimals = 2)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

class TGridCommand final : public TCommand {
public:
    void Declare(TCommandLine& line) override;
    int Run() override;

private:
    TSaveArguments FSave;
    std::string FSpacing, FGridCrs, FCrs, FWritePoints, FReport, FLabelUnit;
    std::vector<std::string> FKnown;
    const TCommandLine* FLine = nullptr;
};

void TGridCommand::Declare(TCommandLine& line)
{
    FLine = &line;
    line.Summary("every crossing of a printed grid or graticule as a control point, numbered from one known "
                 "crossing and fitted");
    line.Positional("IMAGE", "an image", FSave.Image);
    line.Option("--spacing", "D[,D_NORTH]", FSpacing,
                "the grid's spacing in its system's units, one for both directions or east and north apart",
                TUsage::Required);
    line.Option("--known", "COL,ROW,X,Y", FKnown,
                "a crossing's pixel (it is snapped first) and its coordinates, X east and Y north; a second "
                "--known fixes which way X and Y grow; 'labels': both read from the values printed at the grid "
                "lines' ends in the margin",
                TUsage::Required);
    line.Option("--label-unit", "N", FLabelUnit,
                "with --known labels: what one of the printed values stands for (1000 where \"235\" is 235,000)");
    line.Option("--grid-crs", "SYSTEM", FGridCrs,
                "the system of the spacing and the known coordinates (default --crs); with a geographic one they "
                "are degrees, decimal or D\xC2\xB0M'S\" (83\xC2\xB0" "50'E, 24\xC2\xB0" "40'30\"N, 5')");
    line.Option("--crs", "SYSTEM", FCrs,
                "the system written (EPSG code or name, looked up in PROJ); the points are converted into it when "
                "the grid's differs");
    line.Option("--transform", "NAME", FSave.Transform, "the fit (default affine): " + FitMethodNames());
    line.Option("--write-points", "FILE.points", FWritePoints,
                "every numbered crossing as a QGIS .points file, enabled, with its residuals");
    line.Option("--report", "FILE.json", FReport, "the fit's residuals as JSON, as georef writes them");
    line.Option("--out", "TARGET", FSave.Target, "georeference as georef does: TARGET.tif or TARGET.jgw");
    line.Flag("--warp", FSave.Warp, "also TARGET_warped.tif, resampled north-up; needs a .tif target");
    line.Needs("--warp", {"--out"});
    line.Description(R"text(Finds the lines of the grid or graticule printed on IMAGE over the whole
map face (inside the map frame when one is found), snaps every crossing to
a fraction of a pixel and numbers it from its place in the lattice
relative to the known crossing, whose pixel COL,ROW may be a few pixels
off. X grows to the image's right and Y up the image, unless a second
--known fixes which way they grow.)text");
    line.Epilogue(R"text(A crossing that disagrees with its lattice neighbours (a road crossing a
grid line, a symbol on it) or whose lines run otherwise than the grid's is
refused, never numbered. Standard error gets the steps in pixels, the lines
found in each direction, the crossings numbered and refused (and why), and
the fit's residuals and RMS.

Exit status: 0 at least the transformation's minimum of crossings were
numbered, 1 not (or the grid cannot be numbered: its reason is the last
line on standard error), 2 a usage error.)text");
}

int TGridCommand::Run()
{
    if (FKnown.size() > 2)
        FLine->Fail("grid takes one or two --known crossings");
    const std::string& image = FSave.Image;
    const std::string& transform = FSave.Transform;
    const std::string& target = FSave.Target;
    const std::string &spacingText = FSpacing, &gridCrsText = FGridCrs, &crsText = FCrs;
    const std::string &writePoints = FWritePoints, &report = FReport;
    const std::vector<std::string>& knownTexts = FKnown;

    // Names and systems first: nothing is read before they are known good.
    const TFitMethod& method = FindFitMethod(transform.empty() ? std::string(AffineFitName) : transform);
    const TCrs gridCrs = LookupCrs(gridCrsText.empty() ? crsText : gridCrsText);
    const TCrs crs = crsText.empty() ? gridCrs : LookupCrs(crsText);
    const bool degrees = gridCrs.Geographic;
    const TGridSpacing spacing = ReadGridSpacing(spacingText, degrees);
    const double spacingEast = spacing.East, spacingNorth = spacing.North;
    std::vector<TKnown> known;
    const bool fromLabels = knownTexts.size() == 1 && knownTexts[0] == "labels";
    double labelUnit = 1;
    if (!FLabelUnit.empty() && !fromLabels)
        FLine->Fail("--label-unit needs --known labels");
    if (!FLabelUnit.empty() && (!ParseNumber(FLabelUnit, labelUnit) || !(labelUnit > 0)))
        throw EConvertError("'" + FLabelUnit + "' is not a label unit above 0");
    for (const std::string& text : fromLabels ? std::vector<std::string>{} : knownTexts)
        known.push_back(ReadKnown(text, degrees));

    // The target's kind and the image's conversion, before anything is read.
    const TSaveTarget saveTarget = target.empty() ? TSaveTarget{} : SaveTargetOf(FSave);

    const std::unique_ptr<TGraphic> graphic = LoadPictureFile(image);
    const TBitmap& bitmap = graphic->ViewBitmap();
    RequireImage(*graphic);
    if (fromLabels) {
        const TLabelledGrid labelled = ReadLabelledGrid(bitmap, spacingEast, spacingNorth, labelUnit);
        if (!labelled.Found)
            throw Exception(labelled.Refusal);
        known.push_back({labelled.Known.Col, labelled.Known.Row, labelled.Known.X, labelled.Known.Y});
        if (labelled.SecondNeeded)
            known.push_back({labelled.Second.Col, labelled.Second.Row, labelled.Second.X, labelled.Second.Y});
        std::cerr << "Grid labels read: " << labelled.EastLabels << " along the top and bottom, "
                  << labelled.NorthLabels << " along the sides\n";
    }
    TGridRequest request;
    request.Column = known[0].Column;
    request.Row = known[0].Row;
    request.StepRatio = GridStepRatio(spacing, known[0].Y, degrees);
    if (known.size() == 2)
        request.Second = TGridSecondKnown{known[1].Column, known[1].Row, (known[1].X - known[0].X) / spacingEast,
                                          (known[1].Y - known[0].Y) / spacingNorth};
    const TGrid grid = FindGrid(bitmap, request);
    if (!grid.Found)
        throw Exception(grid.Refusal);

    std::cerr << "Known crossing snapped from " << Decimals(known[0].Column, 0) << "," << Decimals(known[0].Row, 0)
              << " to " << Decimals(grid.KnownColumn, 3) << "," << Decimals(grid.KnownRow, 3) << "\n";
    std::cerr << "Steps: " << Decimals(grid.StepEast) << " pixels along the rows, " << Decimals(grid.StepNorth)
              << " down the columns" << (grid.Framed ? ", inside the map frame" : "") << "\n";
    std::cerr << "Lines found: " << grid.LinesEast << " of constant X, " << grid.LinesNorth << " of constant Y\n";
    std::cerr << "Crossings numbered: " << grid.Crossings.size() << "\n";
    std::map<TGridRefusal, int> refused;
    for (const TRefusedCrossing& r : grid.Refused)
        ++refused[r.Reason];
    std::cerr << "Crossings refused: " << grid.Refused.size();
    for (const auto& [reason, count] : refused)
        std::cerr << (reason == refused.begin()->first ? " (" : "; ") << count << " because "
                  << GridRefusalText(reason);
    std::cerr << (refused.empty() ? "" : ")") << "\n";
    for (const TRefusedCrossing& r : grid.Refused)
        std::cerr << "  refused at " << Decimals(r.Column) << "," << Decimals(r.Row) << ": "
                  << GridRefusalText(r.Reason) << "\n";
    if (grid.Unsnapped)
        std::cerr << "Places without a crossing to snap to: " << grid.Unsnapped << "\n";
    if (grid.Crossings.size() < method.MinimumPoints)
        throw Exception("Only " + std::to_string(grid.Crossings.size()) + " crossings numbered; the transformation " +
                        std::string(method.Name) + " needs at least " + std::to_string(method.MinimumPoints));

    std::vector<TGridPlace> places;
    for (const TGridCrossing& c : grid.Crossings)
        places.push_back({c.East, c.North});
    const std::vector<TMapXY> map = GridMapCoordinates(places, {known[0].X, known[0].Y}, spacing, gridCrs, crs);
    TControlPoints points;
    for (size_t k = 0; k < grid.Crossings.size(); ++k)
        points.push_back({int(k) + 1, grid.Crossings[k].Column, grid.Crossings[k].Row, map[k].X, map[k].Y,
                          TPointRole::Fitted});

    TGeorefOptions options;
    options.Transform = std::string(method.Name);
    options.Crs = crs;
    options.Warp = FSave.Warp;
    const TSaveRequest save = target.empty() ? BuildSaveRequest(points, options)
                                             : BuildSaveRequest(points, options, saveTarget.FileName,
                                                                saveTarget.Filter, saveTarget.Source);
    const TFitQuality quality = AssessFit(save.Fit, save.Points, {bitmap.Width(), bitmap.Height()});
    for (const auto& text : FitReportLines(save.Points, save.Fit, quality))
        std::cerr << text << "\n";

    std::unique_ptr<TOutputFile> pointsFile, reportFile;
    if (!writePoints.empty()) {
        pointsFile = std::make_unique<TOutputFile>(writePoints);
        pointsFile->Write(GcpPointsText(save.Points, crs, save.Fit));
    }
    if (!report.empty()) {
        reportFile = std::make_unique<TOutputFile>(report);
        reportFile->Write(FitReportJson(save.Points, save.Fit, quality));
    }
    std::string worldFile;
    if (!target.empty()) {
        TExportPipeline pipeline(std::filesystem::current_path().string());
        pipeline.ShowMessage = [](const std::string& message) { std::cerr << message << std::endl; };
        worldFile = WriteWorldFile(save, pipeline);
    }
    if (pointsFile)
        pointsFile->Commit();
    if (reportFile)
        reportFile->Commit();
    for (const char c : worldFile)
        if (c != '\r')
            std::cout << c;
    std::cout << std::flush;
    return 0;
}

const TCommandRegistration Registration("grid", MakeCommand<TGridCommand>);

} // namespace
