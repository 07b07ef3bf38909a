#include "georef/save_arguments.h"

#include "georef/coordinates.h"
#include "georef/gcp_points_file.h"
#include "georef/points_formats.h"
#include "georef/points_on_picture.h"
#include "georef/points_text.h"
#include "platform/exceptions.h"
#include "platform/picture.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <vector>

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

namespace {

std::string LowerExtension(const std::string& fileName)
{
    std::string extension = PictureExtension(fileName);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

std::string Absolute(const std::string& fileName)
{
    return std::filesystem::absolute(fileName).lexically_normal().string();
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

} // namespace

TSaveTarget SaveTargetOf(const TSaveArguments& arguments)
{
    TSaveTarget target;
    const std::string extension = LowerExtension(arguments.Target);
    if (extension == "tif")
        target.Filter = TTargetFilter::TiffTfw;
    else if (extension == "jgw")
        target.Filter = TTargetFilter::JGW;
    else
        throw Exception("The target '" + arguments.Target + "' must end in .tif (GeoTIFF and TFW) or .jgw (JGW)");
    target.FileName = Absolute(arguments.Target);
    target.Source.FileName = Absolute(arguments.Image);
    if (target.Filter == TTargetFilter::TiffTfw) {
        target.Source.Format = SourceFormatOf(arguments.Image);
        // Any other picture that loads is written from its decoded pixels.
        const std::string extension = LowerExtension(arguments.Image);
        if (target.Source.Format == TSourceFormat::None && !FindPictureClass(extension))
            throw Exception("Cannot make a GeoTIFF from '" + arguments.Image +
                            "': no picture format has the extension ." + extension);
    }
    return target;
}

std::string ClipGeometryOf(const std::string& clip, const TControlPoints& points)
{
    if (clip.empty())
        return {};
    if (clip == "points")
        return RingGeometry(FittedPointsHull(points));
    if (clip == "frame") {
        if (points.size() < 4)
            throw Exception("--clip frame needs the frame's four corners as points 1 to 4 (--auto-corners)");
        std::vector<TMapXY> ring;
        for (size_t i = 0; i < 4; ++i)
            ring.push_back({points[i].East, points[i].North});
        return RingGeometry(ring);
    }
    return ReadClipGeometry(clip);
}

TGeorefOptions SaveOptionsOf(const TSaveArguments& arguments, const TCrs& crs, bool frameCorners)
{
    TGeorefOptions options;
    const TFitDefault chosen = arguments.Rotate ? TFitDefault::Rotated
                               : frameCorners   ? TFitDefault::FrameCorners
                                                : TFitDefault::Plain;
    options.Transform = !arguments.Transform.empty() ? arguments.Transform : std::string(DefaultFitMethod(chosen).Name);
    options.Negate = arguments.Negate;
    options.Crs = crs;
    options.Warp = arguments.Warp;
    options.Outputs = arguments.Outputs;
    return options;
}

bool PointsGivePixels(const TSaveArguments& arguments)
{
    if (arguments.Points.empty())
        return false;
    if (PointsFormatOrGcp(arguments.Points, arguments.PointsFormat) != TPointsFormat::Gcp)
        return true;
    // The shared layout, or empty: an empty file is refused by the reader,
    // naming it, rather than taken for the plain point file.
    return IsGcpPointsFile(arguments.Points) || BlankText(ReadPointsText(arguments.Points));
}

TControlPoints ArgumentPoints(const TSaveArguments& arguments, TControlPoints points, TCrs& crs,
                              std::vector<std::string>* warnings)
{
    const bool gcpFile = PointsGivePixels(arguments);
    if (gcpFile) {
        TGcpPoints file =
            ReadPoints(PointsFormatOrGcp(arguments.Points, arguments.PointsFormat), arguments.Points, crs);
        if (arguments.Width > 0 && arguments.Height > 0) {
            const auto outside =
                CheckPointsOnPicture(file, arguments.Points, arguments.Width, arguments.Height, arguments.AllowOutside);
            if (warnings)
                warnings->insert(warnings->end(), outside.begin(), outside.end());
        }
        points = std::move(file.Points);
        if (!crs.Given())
            crs = file.Crs;
    }
    // --p1 and --p2 place the first two fitted points, the panel's two.
    std::vector<TControlPoint*> panel;
    for (TControlPoint& point : points)
        if (point.Role == TPointRole::Fitted && panel.size() < 2)
            panel.push_back(&point);
    if ((!arguments.P1.empty() && panel.empty()) || (!arguments.P2.empty() && panel.size() < 2))
        throw Exception("The point file '" + arguments.Points +
                        "' holds fewer than two enabled points for --p1 and --p2");
    if (!arguments.P1.empty())
        ParsePixel(arguments.P1, *panel[0]);
    if (!arguments.P2.empty())
        ParsePixel(arguments.P2, *panel[1]);
    if (!arguments.Map.empty()) {
        const auto values = SplitCommas(arguments.Map);
        if (values.size() != 4)
            throw EConvertError("'" + arguments.Map + "' is not four map coordinates Y1,X1,Y2,X2");
        points[0].East = ReadMapCoordinate(values[0]);
        points[0].North = ReadMapCoordinate(values[1]);
        points[1].East = ReadMapCoordinate(values[2]);
        points[1].North = ReadMapCoordinate(values[3]);
    } else if (!gcpFile && !arguments.Points.empty()) {
        TPointFileReader reader(arguments.Points);
        for (TControlPoint& point : points) {
            const TPointRecord record = reader.ReadRecord();
            point.East = record.Y;
            point.North = record.X;
        }
    }
    return points;
}
