// pinwright-cli georef IMAGE --p1 COL,ROW --p2 COL,ROW
//                      (--map Y1,X1,Y2,X2 | --points FILE) --out TARGET [--negate]
//                      [--crs SYSTEM] [--rotate] [--max-misfit PIXELS] [--write-points FILE.points]
// Save of the workbench without its window: the points stand where the
// workbench has its labels and boxes, and the same code computes, writes and
// exports. TARGET ending in .tif gives the GeoTIFF and its .tfw, ending in
// .jgw the world file alone. Prints the six world-file lines, and the check
// of the two points on stderr. A ".points" file brings the pixel positions
// (then --p1 and --p2 may be left out) and its system.
#include "georef/coordinates.h"
#include "georef/export_pipeline.h"
#include "georef/gcp_points_file.h"
#include "georef/point_check.h"
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

// A picked pixel: the labels hold decimal integers.
void ParsePixel(const std::string& text, std::string& col, std::string& row)
{
    const auto parts = SplitCommas(text);
    auto isInteger = [](const std::string& s) {
        return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
    };
    if (parts.size() != 2 || !isInteger(parts[0]) || !isInteger(parts[1]))
        throw EConvertError("'" + text + "' is not a pixel position COL,ROW");
    col = parts[0];
    row = parts[1];
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

    TSaveRequest request;
    const std::string targetExtension = LowerExtension(target);
    if (targetExtension == "tif")
        request.TargetFilterIndex = TTargetFilter::TiffTfw;
    else if (targetExtension == "jgw")
        request.TargetFilterIndex = TTargetFilter::JGW;
    else
        throw Exception("The target '" + target + "' must end in .tif (GeoTIFF and TFW) or .jgw (JGW)");
    request.TargetFileName = Absolute(target);
    request.Source.FileName = Absolute(image);
    if (request.TargetFilterIndex == TTargetFilter::TiffTfw)
        request.Source.FilterIndex = SourceFilterIndex(image);
    request.Negate = negate;
    request.Rotate = rotate;
    request.Crs = givenCrs;

    TControlTexts& texts = request.Texts;
    if (gcpFile) {
        const TGcpPoints file = ReadGcpPointsFile(points);
        const TControlPoints& p = file.Points;
        texts = {FloatToStr(p.Row1, '.'), FloatToStr(p.Col1, '.'), FloatToStr(p.Row2, '.'), FloatToStr(p.Col2, '.'),
                 FloatToStr(p.Y1, '.'),   FloatToStr(p.X1, '.'),   FloatToStr(p.Y2, '.'),   FloatToStr(p.X2, '.'),
                 '.'};
        if (!request.Crs.Given())
            request.Crs = file.Crs;
    }
    if (!p1.empty())
        ParsePixel(p1, texts.Col1, texts.Row1);
    if (!p2.empty())
        ParsePixel(p2, texts.Col2, texts.Row2);
    if (!map.empty()) {
        const auto values = SplitCommas(map);
        if (values.size() != 4)
            throw EConvertError("'" + map + "' is not four map coordinates Y1,X1,Y2,X2");
        texts.Y1 = values[0];
        texts.X1 = values[1];
        texts.Y2 = values[2];
        texts.X2 = values[3];
    } else if (!gcpFile) {
        std::string* const boxes[] = {&texts.Y1, &texts.X1, &texts.Y2, &texts.X2};
        ReadPointFile(points, '.', [&boxes](int box, const std::string& text) { *boxes[box] = text; });
    }

    const TControlPoints controlPoints = SavePoints(request);
    const TPointCheck check = CheckControlPoints(controlPoints, ComputeSaveTransform(controlPoints, rotate));
    for (const auto& text : PointCheckLines(check))
        std::cerr << text << "\n";
    if (maxPixels >= 0 && check.PixelMisfit > maxPixels)
        throw Exception("Point 2 lies " + FloatToStr(std::round(check.PixelMisfit * 1000) / 1000, '.') +
                        " pixels from its coordinates, more than the " + maxMisfit + " that --max-misfit allows");

    // Written aside first, so that a failed export leaves no point file either.
    std::unique_ptr<TOutputFile> pointsFile;
    if (!writePoints.empty()) {
        pointsFile = std::make_unique<TOutputFile>(writePoints);
        pointsFile->Write(GcpPointsText(controlPoints, request.Crs));
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
