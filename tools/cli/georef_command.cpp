// pinwright-cli georef IMAGE --p1 COL,ROW --p2 COL,ROW
//                      (--map Y1,X1,Y2,X2 | --points FILE) --out TARGET [--negate]
//                      [--crs SYSTEM] [--rotate] [--max-misfit PIXELS] [--write-points FILE.points]
//                      [--transform NAME] [--warp] [--report REPORT.json] [--max-rms PIXELS] [--snap]
//        pinwright-cli georef IMAGE --auto-corners X_UL,Y_UL,X_UR,Y_UR,X_LR,Y_LR,X_LL,Y_LL
//                      [--corners-crs SYSTEM] --out TARGET [OPTIONS]
//        pinwright-cli georef IMAGE --check-existing --points CHECK.points
// Save of the workbench without its window: the options fill the list of
// control points that the workbench fills from its panel, and the same code
// builds the save request, computes, writes and exports. TARGET ending in .tif gives the GeoTIFF and its .tfw, ending in
// .jgw the world file alone. Prints the six world-file lines, and the check
// of the two points on stderr. A ".points" file brings the pixel positions
// (then --p1 and --p2 may be left out), any number of points and its system;
// with more than two points, or a transformation chosen by name, stderr gets
// the table of residuals instead of the two points' check. --auto-corners
// finds the four corners of the sheet's map frame on the picture and takes
// them as points 1 to 4 (affine unless --transform says otherwise).
// --snap moves every point to the printed crossing or corner under it first.
#include "analysis/feature_snap.h"
#include "georef/coordinates.h"
#include "georef/export_pipeline.h"
#include "georef/fit_quality.h"
#include "georef/fit_report.h"
#include "georef/gcp_points_file.h"
#include "georef/existing_georef.h"
#include "georef/point_check.h"
#include "georef/save_request.h"
#include "imaging/loaded_picture.h"
#include "platform/bitmap.h"
#include "platform/exceptions.h"
#include "tools/cli/auto_corners.h"
#include "platform/picture.h"
#include "tools/cli/cli_support.h"
#include "tools/cli/commands.h"
#include "tools/cli/picture_size.h"

#include <cmath>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
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

std::string Decimals(double value)
{
    return FloatToStr(std::round(value * 1000) / 1000, '.');
}

// Every point moved to the printed crossing or corner under it, as the snap
// command finds it; a point with none keeps the picked position, and says so.
void SnapPoints(const std::string& image, TControlPoints& points)
{
    const std::unique_ptr<TGraphic> graphic = LoadPictureFile(image);
    const TBitmap& bitmap = graphic->ViewBitmap();
    RequireImage(*graphic);
    for (TControlPoint& point : points) {
        const std::string picked = Decimals(point.Col) + "," + Decimals(point.Row);
        const std::optional<TSnappedFeature> feature = SnapToFeature(bitmap, point.Col, point.Row);
        if (!feature) {
            std::cerr << "Warning: point " << point.Id << " at " << picked
                      << " stays unsnapped: no crossing or corner to snap to within 12 pixels\n";
            continue;
        }
        point.Col = feature->Column;
        point.Row = feature->Row;
        std::cerr << "Point " << point.Id << " snapped from " << picked << " to " << Decimals(point.Col) << ","
                  << Decimals(point.Row) << " (" << SnapSummary(feature) << ")\n";
    }
}

std::string Absolute(const std::string& fileName)
{
    return std::filesystem::absolute(fileName).lexically_normal().string();
}

// --check-existing: the picture's own georeferencing measured at the points
// of a .points file, every point as a check point; nothing is written.
int CheckExisting(const std::string& image, const std::string& points, int argc)
{
    if (image.empty() || points.empty() || argc != 5)
        RaiseUsage("pinwright-cli georef IMAGE --check-existing --points CHECK.points",
                   "--check-existing takes an image and --points, and nothing else");
    const std::optional<TExistingGeoref> georef = ReadExistingGeoref(image);
    if (!georef)
        throw Exception("The picture '" + image +
                        "' has no georeferencing of its own (GeoTIFF tags, a GeoJP2 or GMLJP2 box, a world file "
                        "or an .aux.xml)");
    const TControlPoints list = ReadEveryGcpPoint(points).Points;
    if (list.empty())
        throw Exception("The point file '" + points + "' holds no points");
    for (const std::string& line : ExistingCheckLines(*georef, list, CheckExistingGeoref(*georef, list)))
        std::cout << line << "\n";
    return 0;
}

} // namespace

int RunGeorefCommand(int argc, char** argv)
{
    std::string image, p1, p2, map, points, target, crsText, maxMisfit, writePoints, transform, report, maxRms,
        autoCorners, cornersCrsText;
    bool negate = false, rotate = false, warp = false, snap = false, checkExisting = false;
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
        else if (arg == "--transform")
            transform = value();
        else if (arg == "--warp")
            warp = true;
        else if (arg == "--report")
            report = value();
        else if (arg == "--max-rms")
            maxRms = value();
        else if (arg == "--auto-corners")
            autoCorners = value();
        else if (arg == "--corners-crs")
            cornersCrsText = value();
        else if (arg == "--snap")
            snap = true;
        else if (arg == "--check-existing")
            checkExisting = true;
        else if (arg.rfind("--", 0) == 0)
            RaiseUsage(Usage, "unknown option " + arg);
        else if (!image.empty())
            RaiseUsage(Usage, "a second image " + arg);
        else
            image = arg;
    }
    if (checkExisting)
        return CheckExisting(image, points, argc);
    const bool corners = !autoCorners.empty();
    if (corners && (!p1.empty() || !p2.empty() || !map.empty() || !points.empty()))
        RaiseUsage(Usage, "--auto-corners takes the place of --p1, --p2, --map and --points");
    if (!cornersCrsText.empty() && (!corners || crsText.empty()))
        RaiseUsage(Usage, "--corners-crs needs --auto-corners and --crs, the system to write into");
    if (corners && (image.empty() || target.empty()))
        RaiseUsage(Usage, "georef --auto-corners needs an image and --out");
    const bool gcpFile = !points.empty() && IsGcpPointsFile(points);
    if (!corners && (image.empty() || (!gcpFile && (p1.empty() || p2.empty())) || target.empty()))
        RaiseUsage(Usage, "georef needs an image, --p1, --p2 and --out");
    if (!corners && map.empty() == points.empty())
        RaiseUsage(Usage, "georef needs either --map or --points");
    if (rotate && !transform.empty())
        RaiseUsage(Usage, "--rotate is the transformation similarity; give either it or --transform");
    double maxPixels = -1;
    if (!maxMisfit.empty() && (!TryParseCoordinate(maxMisfit, maxPixels) || maxPixels < 0))
        throw EConvertError("'" + maxMisfit + "' is not a number of pixels for --max-misfit");
    double maxRmsPixels = -1;
    if (!maxRms.empty() && (!TryParseCoordinate(maxRms, maxRmsPixels) || maxRmsPixels < 0))
        throw EConvertError("'" + maxRms + "' is not a number of pixels for --max-rms");
    // An unknown name or system stops everything before a file is written.
    if (!transform.empty())
        FindFitMethod(transform);
    const TCrs givenCrs = LookupCrs(crsText);
    const std::vector<TMapXY> cornerCoordinates =
        corners ? ReadCornerCoordinates(autoCorners, LookupCrs(cornersCrsText), givenCrs) : std::vector<TMapXY>{};

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
    options.Transform = !transform.empty() ? transform : rotate ? SimilarityFitName : TwoPointFitName;
    if (corners && transform.empty())
        options.Transform = "affine";
    options.Negate = negate;
    options.Crs = givenCrs;
    options.Warp = warp;

    TControlPoints controlPoints = corners ? FrameCornerPoints(image, cornerCoordinates) : PanelPoints();
    if (gcpFile) {
        const TGcpPoints file = ReadEveryGcpPoint(points);
        controlPoints = file.Points;
        if (!options.Crs.Given())
            options.Crs = file.Crs;
    }
    // --p1 and --p2 place the first two fitted points, the panel's two.
    std::vector<TControlPoint*> panel;
    for (TControlPoint& point : controlPoints)
        if (point.Role == TPointRole::Fitted && panel.size() < 2)
            panel.push_back(&point);
    if ((!p1.empty() && panel.empty()) || (!p2.empty() && panel.size() < 2))
        throw Exception("The point file '" + points + "' holds fewer than two enabled points for --p1 and --p2");
    if (!p1.empty())
        ParsePixel(p1, *panel[0]);
    if (!p2.empty())
        ParsePixel(p2, *panel[1]);
    if (!map.empty()) {
        const auto values = SplitCommas(map);
        if (values.size() != 4)
            throw EConvertError("'" + map + "' is not four map coordinates Y1,X1,Y2,X2");
        controlPoints[0].East = ReadMapCoordinate(values[0]);
        controlPoints[0].North = ReadMapCoordinate(values[1]);
        controlPoints[1].East = ReadMapCoordinate(values[2]);
        controlPoints[1].North = ReadMapCoordinate(values[3]);
    } else if (!gcpFile && !corners) {
        TPointFileReader reader(points);
        for (TControlPoint& point : controlPoints) {
            const TPointRecord record = reader.ReadRecord();
            point.East = record.Y;
            point.North = record.X;
        }
    }

    if (snap)
        SnapPoints(image, controlPoints);

    const TSaveRequest request = BuildSaveRequest(controlPoints, options, Absolute(target), targetFilter, source);
    // The spread of the points over the sheet counts once there are three.
    const TImageSize size = FittedPoints(request.Points).size() >= 3 ? PictureSize(image) : TImageSize{};
    const TFitQuality quality = AssessFit(request.Fit, request.Points, size);
    const bool twoPointCheck = request.Points.size() == 2 && transform.empty();
    if (twoPointCheck) {
        for (const auto& text : PointCheckLines(CheckControlPoints(request.Points, request.Fit)))
            std::cerr << text << "\n";
    } else {
        for (const auto& text : FitReportLines(request.Points, request.Fit, quality))
            std::cerr << text << "\n";
    }
    if (maxPixels >= 0) {
        const TPointCheck check = CheckControlPoints(request.Points, request.Fit);
        if (check.PixelMisfit > maxPixels)
            throw Exception("Point 2 lies " + FloatToStr(std::round(check.PixelMisfit * 1000) / 1000, '.') +
                            " pixels from its coordinates, more than the " + maxMisfit +
                            " that --max-misfit allows");
    }
    if (maxRmsPixels >= 0 && !(quality.Rms.Pixels <= maxRmsPixels))
        throw Exception("The RMS of the fitted points is " +
                        FloatToStr(std::round(quality.Rms.Pixels * 1000) / 1000, '.') + " pixels, more than the " +
                        maxRms + " that --max-rms allows");

    // Written aside first, so that a failed export leaves no point file or
    // report either.
    std::unique_ptr<TOutputFile> pointsFile, reportFile;
    if (!writePoints.empty()) {
        pointsFile = std::make_unique<TOutputFile>(writePoints);
        pointsFile->Write(GcpPointsText(request.Points, request.Crs, request.Fit));
    }
    if (!report.empty()) {
        reportFile = std::make_unique<TOutputFile>(report);
        reportFile->Write(FitReportJson(request.Points, request.Fit, quality));
    }
    TExportPipeline pipeline(std::filesystem::current_path().string());
    pipeline.ShowMessage = [](const std::string& message) { std::cerr << message << std::endl; };
    const std::string worldFile = WriteWorldFile(request, pipeline);
    if (pointsFile)
        pointsFile->Commit();
    if (reportFile)
        reportFile->Commit();

    std::string line;
    for (const char c : worldFile) {
        if (c == '\r')
            continue;
        line += c;
    }
    std::cout << line << std::flush;
    return 0;
}
