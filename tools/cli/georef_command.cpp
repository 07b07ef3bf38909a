// pinwright-cli georef IMAGE --p1 COL,ROW --p2 COL,ROW
//                      (--map Y1,X1,Y2,X2 | --points FILE) --out TARGET [--negate]
//                      [--crs SYSTEM] [--rotate] [--max-misfit PIXELS] [--write-points FILE.points]
// Save of the workbench without its window: the options fill the list of
// control points that the workbench fills from its panel, and the same code
// builds the save request, computes, writes and exports. TARGET ending in .tif gives the GeoTIFF and its .tfw, ending in
// .jgw the world file alone. Prints the six world-file lines, and the check
// of the two points on stderr. A ".points" file brings the pixel positions
// (then --p1 and --p2 may be left out) and its system.
#include "georef/coordinates.h"
#include "georef/export_pipeline.h"
#include "georef/gcp_points_file.h"
#include "georef/point_check.h"
#include "georef/save_request.h"
#include "platform/exceptions.h"
#include "tools/cli/cli_support.h"
#include "tools/cli/commands.h"

#include <cmath>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr const char* Usage = "pinwright-cli georef IMAGE --p1 COL,ROW --p2 COL,ROW "
                              "(--map Y1,X1,Y2,X2 | --points FILE) --out TARGET [--negate] "
                              "[--crs SYSTEM] [--rotate] [--max-misfit PIXELS] [--write-points FILE.points]";

std::vector<std::string> SplitCommas(const std::string& text)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos)
            return parts;
        start = comma + 1;
    }
}

// A picked pixel, in whole pixels as the workbench picks them.
void ParsePixel(const std::string& text, TControlPoint& point)
{
    const auto parts = SplitCommas(text);
    auto isInteger = [](const std::string& s) {
        return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
    };
    if (parts.size() != 2 || !isInteger(parts[0]) || !isInteger(parts[1]))
        throw EConvertError("'" + text + "' is not a pixel position COL,ROW");
    point.Col = StrToFloat(parts[0], '.');
    point.Row = StrToFloat(parts[1], '.');
}

// The conversion the open dialog's filter would choose for this image.
TSourceFilter SourceFilterIndex(const std::string& image)
{
    const std::string extension = LowerExtension(image);
    if (extension == "bmp" || extension == "dib")
        return TSourceFilter::BMP;
    if (extension == "jpg" || extension == "jpeg")
        return TSourceFilter::JPG;
    if (extension == "tif" || extension == "tiff")
        return TSourceFilter::TIFF;
    throw Exception("Cannot make a GeoTIFF from '" + image + "': the image must be a BMP, JPEG or TIFF file");
}

std::string Absolute(const std::string& fileName)
{
    return std::filesystem::absolute(fileName).lexically_normal().string();
}

} // namespace

int RunGeorefCommand(int argc, char** argv)
{
    std::string image, p1, p2, map, points, target, crsText, maxMisfit, writePoints;
    bool negate = false, rotate = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&] { return OptionValue(argc, argv, i, Usage); };
        if (arg == "--p1")
            p1 = value();
        else if (arg == "--p2")
            p2 = value();
        else if (arg == "--map")
            map = value();
        else if (arg == "--points")
            points = value();
        else if (arg == "--out")
            target = value();
        else if (arg == "--negate")
            negate = true;
        else if (arg == "--rotate")
            rotate = true;
        else if (arg == "--crs")
            crsText = value();
        else if (arg == "--max-misfit")
            maxMisfit = value();
        else if (arg == "--write-points")
            writePoints = value();
        else if (arg.rfind("--", 0) == 0)
            RaiseUsage(Usage, "unknown option " + arg);
        else if (!image.empty())
            RaiseUsage(Usage, "a second image " + arg);
        else
            image = arg;
    }
    const bool gcpFile = !points.empty() && IsGcpPointsFile(points);
    if (image.empty() || (!gcpFile && (p1.empty() || p2.empty())) || target.empty())
        RaiseUsage(Usage, "georef needs an image, --p1, --p2 and --out");
    if (map.empty() == points.empty())
        RaiseUsage(Usage, "georef needs either --map or --points");
    double maxPixels = -1;
    if (!maxMisfit.empty() && (!TryParseCoordinate(maxMisfit, maxPixels) || maxPixels < 0))
        throw EConvertError("'" + maxMisfit + "' is not a number of pixels for --max-misfit");
    // An unknown system stops everything before a file is written.
    const TCrs givenCrs = LookupCrs(crsText);

    TTargetFilter targetFilter = TTargetFilter::None;
    const std::string targetExtension = LowerExtension(target);
    if (targetExtension == "tif")
        targetFilter = TTargetFilter::TiffTfw;
    else if (targetExtension == "jgw")
        targetFilter = TTargetFilter::JGW;
    else
        throw Exception("The target '" + target + "' must end in .tif (GeoTIFF and TFW) or .jgw (JGW)");
    TExportSource source;
    source.FileName = Absolute(image);
    if (targetFilter == TTargetFilter::TiffTfw)
        source.FilterIndex = SourceFilterIndex(image);
    TGeorefOptions options;
    options.Transform = rotate ? SimilarityFitName : TwoPointFitName;
    options.Negate = negate;
    options.Crs = givenCrs;

    TControlPoints controlPoints = PanelPoints();
    if (gcpFile) {
        const TGcpPoints file = ReadGcpPointsFile(points);
        controlPoints = file.Points;
        if (!options.Crs.Given())
            options.Crs = file.Crs;
    }
    if (!p1.empty())
        ParsePixel(p1, controlPoints[0]);
    if (!p2.empty())
        ParsePixel(p2, controlPoints[1]);
    if (!map.empty()) {
        const auto values = SplitCommas(map);
        if (values.size() != 4)
            throw EConvertError("'" + map + "' is not four map coordinates Y1,X1,Y2,X2");
        controlPoints[0].East = ReadMapCoordinate(values[0]);
        controlPoints[0].North = ReadMapCoordinate(values[1]);
        controlPoints[1].East = ReadMapCoordinate(values[2]);
        controlPoints[1].North = ReadMapCoordinate(values[3]);
    } else if (!gcpFile) {
        TPointFileReader reader(points);
        for (TControlPoint& point : controlPoints) {
            const TPointRecord record = reader.ReadRecord();
            point.East = record.Y;
            point.North = record.X;
        }
    }

    const TSaveRequest request = BuildSaveRequest(controlPoints, options, Absolute(target), targetFilter, source);
    const TPointCheck check = CheckControlPoints(request.Points, request.Fit);
    for (const auto& text : PointCheckLines(check))
        std::cerr << text << "\n";
    if (maxPixels >= 0 && check.PixelMisfit > maxPixels)
        throw Exception("Point 2 lies " + FloatToStr(std::round(check.PixelMisfit * 1000) / 1000, '.') +
                        " pixels from its coordinates, more than the " + maxMisfit + " that --max-misfit allows");

    // Written aside first, so that a failed export leaves no point file either.
    std::unique_ptr<TOutputFile> pointsFile;
    if (!writePoints.empty()) {
        pointsFile = std::make_unique<TOutputFile>(writePoints);
        pointsFile->Write(GcpPointsText(request.Points, request.Crs));
    }
    TExportPipeline pipeline(std::filesystem::current_path().string());
    pipeline.ShowMessage = [](const std::string& message) { std::cerr << message << std::endl; };
    const std::string worldFile = WriteWorldFile(request, pipeline);
    if (pointsFile)
        pointsFile->Commit();

    std::string line;
    for (const char c : worldFile) {
        if (c == '\r')
            continue;
        line += c;
    }
    std::cout << line << std::flush;
    return 0;
}
