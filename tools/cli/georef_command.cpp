// pinwright-cli georef IMAGE ...: the workbench's Save without its window.
// The options fill the list of control points that the workbench fills from
// its panel (or the four corners of the sheet's map frame, found on the
// picture), and the same code builds the save request, computes, writes and
// exports. Standard error gets the check of the two points, or the table of
// residuals for more points or a transformation chosen by name.
#include "analysis/feature_snap.h"
#include "georef/coordinates.h"
#include "georef/existing_georef.h"
#include "georef/export_pipeline.h"
#include "georef/fit_quality.h"
#include "georef/fit_report.h"
#include "georef/gcp_points_file.h"
#include "georef/point_check.h"
#include "georef/points_formats.h"
#include "georef/residual_report.h"
#include "georef/save_arguments.h"
#include "imaging/loaded_picture.h"
#include "platform/bitmap.h"
#include "platform/exceptions.h"
#include "platform/picture.h"
#include "tools/cli/auto_corners.h"
#include "tools/cli/cli_support.h"
#include "tools/cli/command_line.h"
#include "tools/cli/picture_size.h"
#include "tools/report/residual_report_pdf.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

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

// "a, b and c" of the names.
std::string Names(const std::vector<std::string>& names)
{
    std::string text;
    for (size_t i = 0; i < names.size(); ++i)
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    return text;
}

std::string Name(TFitDefault which)
{
    return std::string(DefaultFitMethod(which).Name);
}

// The help's list of the transformations, from the fit table.
std::string TransformHelp()
{
    std::string text = "the transformation fitted to the enabled points:";
    std::vector<std::string> worldFiles;
    for (const TFitMethod& method : FitMethods()) {
        std::string name = "  " + std::string(method.Name);
        text += "\n" + name + std::string(name.size() < 15 ? 15 - name.size() : 2, ' ') +
                (method.DefaultFor == TFitDefault::Plain ? "the default: " : "") + std::string(method.Summary);
        if (method.WorldFile)
            worldFiles.push_back(std::string(method.Name));
    }
    return text + "\n(" + Name(TFitDefault::Rotated) + " is also --rotate). " + Names(worldFiles) +
           " are written as world files; the others cannot be: TARGET.tif then carries the fitted points as GeoTIFF "
           "tie points and no .tfw is written (an earlier TARGET.tfw is removed), and a .jgw target is refused";
}

// The help's list of the points formats, from their table.
std::string PointsFormatHelp()
{
    std::string text = "the format of a --points or --write-points file whose ending names none (a link table's "
                       ".txt); the endings:";
    for (const TPointsFormatInfo& format : PointsFormats()) {
        std::string name = "  " + std::string(format.Name);
        text += "\n" + name + std::string(name.size() < 11 ? 11 - name.size() : 2, ' ') + format.Description +
                (*format.Extension ? std::string(", ") + format.Extension : std::string(", by this option only"));
    }
    return text + "\nPoints in WGS 84 are converted through PROJ from and into --crs";
}

std::string LowerEnding(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The points with the sign toggle applied, as the save request holds them.
TControlPoints Negated(TControlPoints points)
{
    NegateMapCoordinates(points);
    return points;
}

// A number of pixels for a limit; -1 when not given.
double PixelLimit(const std::string& text, const std::string& option)
{
    double pixels = -1;
    if (!text.empty() && (!TryParseCoordinate(text, pixels) || pixels < 0))
        throw EConvertError("'" + text + "' is not a number of pixels for " + option);
    return pixels;
}

std::string Rounded(double value)
{
    return FloatToStr(std::round(value * 1000) / 1000, '.');
}

class TGeorefCommand final : public TCommand {
public:
    void Declare(TCommandLine& line) override;
    int Run() override;

private:
    void CheckArguments() const;
    TSaveRequest Request() const;
    TFitQuality Quality(const TSaveRequest& request) const;
    void Report(const TSaveRequest& request, const TFitQuality& quality) const;
    void Write(const TSaveRequest& request, const TFitQuality& quality) const;
    int CheckExisting() const;

    TSaveArguments FArguments;
    std::string FCrs, FMaxMisfit, FWritePoints, FReport, FMaxRms, FAutoCorners, FCornersCrs, FHemisphere, FClip;
    bool FSnap = false, FCheckExisting = false;
    const TCommandLine* FLine = nullptr;
};

void TGeorefCommand::Declare(TCommandLine& line)
{
    FLine = &line;
    TSaveArguments& a = FArguments;
    line.Summary("write a world file or a GeoTIFF from two or more control points, for one image or a whole "
                 "list of sheets (--batch)");
    line.Positional("IMAGE", "an image", a.Image, false);
    line.Option("--p1", "COL,ROW", a.P1, "the picked pixel of point 1 (column, row; integers)", TUsage::Shown);
    line.Option("--p2", "COL,ROW", a.P2, "the picked pixel of point 2", TUsage::Shown);
    line.Option("--map", "Y1,X1,Y2,X2", a.Map, "the map coordinates of point 1 and point 2", TUsage::Shown);
    line.Option("--points", "FILE", a.Points, "a point file instead of --map", TUsage::Shown);
    line.Alternatives({"--map", "--points"});
    line.Option("--out", "TARGET", a.Target, "TARGET.tif (GeoTIFF and TFW) or TARGET.jgw", TUsage::Shown);
    line.Flag("--negate", a.Negate, "the sign toggle of the workbench");
    line.Option("--crs", "SYSTEM", FCrs,
                "EPSG code or name of the coordinate reference system (looked up in PROJ); GeoKeys in the "
                "GeoTIFF, .prj and .aux.xml beside a .jgw");
    line.Flag("--rotate", a.Rotate, "one scale and a rotation fitting both points");
    line.Option("--max-misfit", "PIXELS", FMaxMisfit,
                "fail, writing nothing, when point 2 misses its coordinates by more than PIXELS");
    line.Option("--write-points", "FILE", FWritePoints,
                "also write the points: FILE.points as a QGIS .points file, with each point's residual in pixels "
                "(dX, dY, residual), or any format of --points-format by its ending or that option");
    line.Option("--points-format", "NAME", a.PointsFormat, PointsFormatHelp());
    line.Flag("--allow-outside", a.AllowOutside,
              "take points of the point file that lie far outside the picture (more than its width or height "
              "beyond its edge), with a warning; a point just outside it is always taken, with a warning");
    line.Option("--transform", "NAME", a.Transform, TransformHelp());
    line.Excludes("--rotate", {"--transform"},
                  "--rotate is the transformation " + Name(TFitDefault::Rotated) + "; give either it or --transform");
    line.Flag("--warp", a.Warp,
              "also write TARGET_warped.tif: the image resampled north-up through the fit by gdalwarp "
              "(--resampling); needs a .tif target");
    line.Option("--report", "FILE.json|FILE.pdf", FReport,
                "also write the residuals as JSON: transform, rms_px, rms_map, check_rms_px, and per point id, "
                "col, row, map_x, map_y, enabled, residual_px, residual_map, leave_one_out_px (null where there "
                "is no figure); FILE.pdf: the residual report to print, the sheet with the points and their "
                "residual vectors to a stated scale, the transformation's parameters, the root mean squares and "
                "the table of every point");
    line.Flag("--cog", a.Outputs.Cog,
              "write TARGET.tif (and TARGET_warped.tif) as Cloud Optimized GeoTIFFs, Deflate, with overviews, "
              "by gdal_translate");
    line.Option("--clip", "frame|points|FILE.geojson", FClip,
                "also write TARGET_warped.tif cut to an outline, transparent outside it (an alpha band): frame, "
                "points 1 to 4 (the frame's corners with --auto-corners); points, the hull of the fitted points; "
                "or a GeoJSON polygon in the --crs system");
    line.Option("--resampling", "near|bilinear|cubic|lanczos", a.Outputs.Resampling,
                "the resampling of TARGET_warped.tif (default near, which keeps the scan's colours)");
    line.Option("--max-rms", "PIXELS", FMaxRms,
                "fail, writing nothing, when the root mean square of the fitted points' residuals is larger than "
                "PIXELS");
    line.Option("--auto-corners", "X_UL,Y_UL,X_UR,Y_UR,X_LR,Y_LR,X_LL,Y_LL", FAutoCorners,
                "instead of --p1, --p2, --map and --points: the four corners of the sheet's map frame, found on "
                "the image as pinwright-cli corners finds them, are points 1 to 4, with these map coordinates (x "
                "east, y north, \".\" as the decimal point) in the order upper left, upper right, lower right, "
                "lower left; fitted " + Name(TFitDefault::FrameCorners) + " unless --transform says otherwise. A sheet whose "
                "frame cannot be trusted fails with the reason. \"--auto-corners printed\": the coordinates are "
                "the latitude and longitude printed beside the corners, read as pinwright-cli corners "
                "--read-labels reads them (degrees, east and north positive); a sheet whose labels are not all "
                "read, or do not make one graticule sheet, fails with the reason");
    line.Excludes("--auto-corners", {"--p1", "--p2", "--map", "--points"});
    line.Option("--corners-crs", "SYSTEM", FCornersCrs,
                "the system of the --auto-corners coordinates, for instance geographic degrees (longitude, "
                "latitude) of EPSG:4258, converted through PROJ into --crs");
    line.Needs("--corners-crs", {"--auto-corners", "--crs"}, "the system to write into");
    line.Option("--hemisphere", "H", FHemisphere,
                "with --auto-corners printed: N or S, E or W (or one of each, as NE) for labels printed without "
                "hemisphere letters; without it the order of the values tells, the sheet lying north up");
    line.Flag("--snap", FSnap,
              "first move every point (--p1, --p2 and those of the point file) to the printed crossing or corner "
              "within 12 pixels of it, as the snap command finds it; one line on standard error per point, and a "
              "point with nothing to snap to stays where it was, with a warning");
    line.Flag("--check-existing", FCheckExisting,
              "write nothing: measure the georeferencing the image already has (its .aux.xml, GeoTIFF tags, "
              "GeoJP2 or GMLJP2 box, or world file) at every point of the --points file, as check points: each "
              "point's error in map units and pixels on standard output, and their RMS");
    line.Excludes("--check-existing", {"--out", "--p1", "--p2", "--map", "--transform", "--auto-corners", "--snap"});
    line.Form({"IMAGE", "--points", "--transform", "--out"});
    line.Form({"IMAGE", "--auto-corners", "--out"});
    line.Description(R"(Saves as the workbench does: the two pixel points and their map coordinates
give one scale and the origin at point 1. TARGET ending in .tif gives the
GeoTIFF and its .tfw world file, .jgw the world file alone. Prints the six
world-file lines.)");
    line.Epilogue(R"(The check of the two points (misfit, the fitted scales, rotation) goes to
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
geotifcp, gdalwarp and gdal_translate on PATH.)");
}

// What the declaration cannot say: which arguments are needed depends on
// which way the points are given.
void TGeorefCommand::CheckArguments() const
{
    const TSaveArguments& a = FArguments;
    const bool corners = !FAutoCorners.empty();
    if (!FHemisphere.empty() && FAutoCorners != "printed")
        FLine->Fail("--hemisphere needs --auto-corners printed");
    if (corners && (a.Image.empty() || a.Target.empty()))
        FLine->Fail("georef --auto-corners needs an image and --out");
    const bool gcpFile = PointsGivePixels(a);
    if (!corners && (a.Image.empty() || (!gcpFile && (a.P1.empty() || a.P2.empty())) || a.Target.empty()))
        FLine->Fail("georef needs an image, --p1, --p2 and --out");
    if (!corners && a.Map.empty() && a.Points.empty())
        FLine->Fail("georef needs either --map or --points");
}

TSaveRequest TGeorefCommand::Request() const
{
    // An unknown name or system stops everything before a file is written.
    if (!FArguments.Transform.empty())
        FindFitMethod(FArguments.Transform);
    TCrs crs = LookupCrs(FCrs);
    const bool corners = !FAutoCorners.empty();
    const bool printed = FAutoCorners == "printed";
    const std::vector<TMapXY> cornerCoordinates = corners && !printed
                                                      ? ReadCornerCoordinates(FAutoCorners, LookupCrs(FCornersCrs), crs)
                                                      : std::vector<TMapXY>{};
    const THemisphere hemisphere = FHemisphere.empty() ? THemisphere{} : ReadHemisphereOption(FHemisphere);
    const TSaveTarget target = SaveTargetOf(FArguments);
    TControlPoints points = printed   ? PrintedCornerPoints(FArguments.Image, hemisphere, LookupCrs(FCornersCrs), crs)
                            : corners ? FrameCornerPoints(FArguments.Image, cornerCoordinates)
                                      : PanelPoints();
    TSaveArguments arguments = FArguments;
    if (PointsGivePixels(arguments)) {
        const TImageSize size = PictureSize(arguments.Image);
        arguments.Width = size.Width;
        arguments.Height = size.Height;
    }
    std::vector<std::string> warnings;
    points = ArgumentPoints(arguments, std::move(points), crs, &warnings);
    for (const std::string& warning : warnings)
        std::cerr << warning << "\n";
    if (FSnap)
        SnapPoints(FArguments.Image, points);
    TGeorefOptions options = SaveOptionsOf(arguments, crs, corners);
    options.Outputs.ClipGeometry = ClipGeometryOf(FClip, options.Negate ? Negated(points) : points);
    return BuildSaveRequest(points, options, target.FileName, target.Filter, target.Source);
}

TFitQuality TGeorefCommand::Quality(const TSaveRequest& request) const
{
    // The spread of the points over the sheet counts once there are three.
    const TImageSize size =
        FittedPoints(request.Points).size() >= 3 ? PictureSize(FArguments.Image) : TImageSize{};
    return AssessFit(request.Fit, request.Points, size);
}

// The check of the points on standard error, and the limits they must keep.
void TGeorefCommand::Report(const TSaveRequest& request, const TFitQuality& quality) const
{
    const double maxPixels = PixelLimit(FMaxMisfit, "--max-misfit");
    const double maxRmsPixels = PixelLimit(FMaxRms, "--max-rms");
    const bool twoPointCheck = request.Points.size() == 2 && FArguments.Transform.empty();
    const std::vector<std::string> lines = twoPointCheck
                                               ? PointCheckLines(CheckControlPoints(request.Points, request.Fit))
                                               : FitReportLines(request.Points, request.Fit, quality);
    for (const auto& text : lines)
        std::cerr << text << "\n";
    if (maxPixels >= 0) {
        const TPointCheck check = CheckControlPoints(request.Points, request.Fit);
        if (check.PixelMisfit > maxPixels)
            throw Exception("Point 2 lies " + Rounded(check.PixelMisfit) + " pixels from its coordinates, more than the " +
                            FMaxMisfit + " that --max-misfit allows");
    }
    if (maxRmsPixels >= 0 && !(quality.Rms.Pixels <= maxRmsPixels))
        throw Exception("The RMS of the fitted points is " + Rounded(quality.Rms.Pixels) + " pixels, more than the " +
                        FMaxRms + " that --max-rms allows");
}

void TGeorefCommand::Write(const TSaveRequest& request, const TFitQuality& quality) const
{
    // Written aside first, so that a failed export leaves no point file or
    // report either.
    std::unique_ptr<TOutputFile> pointsFile, reportFile;
    if (!FWritePoints.empty()) {
        const TPointsFormat format = PointsFormatOrGcp(FWritePoints, FArguments.PointsFormat);
        const TImageSize size = format == TPointsFormat::Annotation || format == TPointsFormat::Vrt
                                    ? PictureSize(FArguments.Image)
                                    : TImageSize{};
        const TPointsPicture picture{request.Source.FileName, size.Width, size.Height};
        pointsFile = std::make_unique<TOutputFile>(FWritePoints);
        pointsFile->Write(PointsText(format, request.Points, request.Crs, request.Fit.Method, picture, &request.Fit));
    }
    const bool pdf = LowerEnding(FReport).ends_with(".pdf");
    const std::string pdfAside = FReport + ".part";
    if (pdf) {
        const std::unique_ptr<TGraphic> sheet = LoadPicturePixels(FArguments.Image);
        const TBitmap& bitmap = sheet->ViewBitmap();
        WriteResidualReportPdf(MakeResidualReport(std::filesystem::path(FArguments.Image).filename().string(),
                                                  bitmap.Width(), bitmap.Height(), request.Points, request.Fit,
                                                  quality),
                               &bitmap, pdfAside);
    } else if (!FReport.empty()) {
        reportFile = std::make_unique<TOutputFile>(FReport);
        reportFile->Write(FitReportJson(request.Points, request.Fit, quality));
    }
    // The report written aside goes when the export fails.
    struct TAside {
        std::string Name;
        bool Keep = false;
        ~TAside() { if (!Name.empty() && !Keep) std::filesystem::remove(Name); }
    } aside{pdf ? pdfAside : std::string()};
    TExportPipeline pipeline(std::filesystem::current_path().string());
    pipeline.ShowMessage = [](const std::string& message) { std::cerr << message << std::endl; };
    const std::string worldFile = WriteWorldFile(request, pipeline);
    if (pointsFile)
        pointsFile->Commit();
    if (reportFile)
        reportFile->Commit();
    if (pdf) {
        std::filesystem::rename(pdfAside, FReport);
        aside.Keep = true;
    }
    std::string text;
    for (const char c : worldFile)
        if (c != '\r')
            text += c;
    std::cout << text << std::flush;
}

// --check-existing: the picture's own georeferencing measured at the points
// of a .points file, every point as a check point; nothing is written.
int TGeorefCommand::CheckExisting() const
{
    if (FArguments.Image.empty() || FArguments.Points.empty())
        FLine->Fail("georef --check-existing needs an image and --points");
    const std::optional<TExistingGeoref> georef = ReadExistingGeoref(FArguments.Image);
    if (!georef)
        throw Exception("The picture '" + FArguments.Image +
                        "' has no georeferencing of its own (GeoTIFF tags, a GeoJP2 or GMLJP2 box, a world file "
                        "or an .aux.xml)");
    const TControlPoints list = ReadEveryGcpPoint(FArguments.Points).Points;
    if (list.empty())
        throw Exception("The point file '" + FArguments.Points + "' holds no points");
    for (const std::string& line : ExistingCheckLines(*georef, list, CheckExistingGeoref(*georef, list)))
        std::cout << line << "\n";
    return 0;
}

int TGeorefCommand::Run()
{
    if (FCheckExisting)
        return CheckExisting();
    CheckArguments();
    PixelLimit(FMaxMisfit, "--max-misfit");
    PixelLimit(FMaxRms, "--max-rms");
    const TSaveRequest request = Request();
    const TFitQuality quality = Quality(request);
    Report(request, quality);
    Write(request, quality);
    return 0;
}

const TCommandRegistration Registration("georef", MakeCommand<TGeorefCommand>);

} // namespace
