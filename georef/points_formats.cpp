#include "georef/points_formats.h"

#include "georef/points_text.h"
#include "platform/exceptions.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <vector>

namespace {

const TPointsFormatInfo Formats[] = {
    {TPointsFormat::Gcp, "points", ".points", "GIS georeferencer points (mapX,mapY,sourceX,sourceY,enable)"},
    {TPointsFormat::Annotation, "iiif", ".json", "IIIF georeference annotation (WGS 84)"},
    {TPointsFormat::Vrt, "vrt", ".vrt", "GDAL VRT with a GCP list"},
    {TPointsFormat::Pam, "aux.xml", ".aux.xml", "GDAL PAM sidecar with a GCP list"},
    {TPointsFormat::Csv, "csv", ".csv", "web georeferencer CSV (x,y,lon,lat,name; WGS 84)"},
    // Link tables are .txt files, as plain point files are: chosen by name only.
    {TPointsFormat::LinkTable, "links", "", "link table (source x, source y, map x, map y)"},
};

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool InWgs84(TPointsFormat format)
{
    return format == TPointsFormat::Annotation || format == TPointsFormat::Csv;
}

void Convert(const TCrs& from, const TCrs& to, TControlPoints& points)
{
    std::vector<TMapXY> xy;
    for (const TControlPoint& p : points)
        xy.push_back({p.East, p.North});
    ConvertPoints(from, to, xy);
    for (size_t i = 0; i < points.size(); ++i) {
        points[i].East = xy[i].X;
        points[i].North = xy[i].Y;
    }
}

// The format a file's ending names, if any.
std::optional<TPointsFormat> FormatOfEnding(const std::string& fileName)
{
    const std::string lower = Lower(fileName);
    for (const TPointsFormatInfo& f : Formats)
        if (*f.Extension && lower.ends_with(f.Extension))
            return f.Format;
    if (lower.ends_with(".jsonld") || lower.ends_with(".geojson"))
        return TPointsFormat::Annotation;
    return std::nullopt;
}

} // namespace

std::span<const TPointsFormatInfo> PointsFormats()
{
    return Formats;
}

TPointsFormat ChoosePointsFormat(const std::string& fileName, const std::string& name)
{
    std::string names;
    for (const TPointsFormatInfo& f : Formats) {
        if (!name.empty() && Lower(name) == f.Name)
            return f.Format;
        names += (names.empty() ? "" : ", ") + std::string(f.Name);
    }
    if (!name.empty())
        throw Exception("Unknown points format '" + name + "' (the formats are " + names + ")");
    if (const std::optional<TPointsFormat> format = FormatOfEnding(fileName))
        return *format;
    throw Exception("The point file '" + fileName + "' has an ending that names no points format; give "
                    "--points-format (" + names + ")");
}

TPointsFormat PointsFormatOrGcp(const std::string& fileName, const std::string& name)
{
    if (const std::optional<TPointsFormat> format = FormatOfEnding(fileName))
        return *format;
    return name.empty() ? TPointsFormat::Gcp : ChoosePointsFormat(fileName, name);
}

TGcpPoints ParsePoints(TPointsFormat format, const std::string& text, const std::string& fileName, const TCrs& crs)
{
    TGcpPoints file;
    switch (format) {
    case TPointsFormat::Gcp: file = ParseEveryGcpPoint(text, fileName); break;
    case TPointsFormat::Annotation: file = ParseAnnotation(text, fileName); break;
    case TPointsFormat::Vrt:
    case TPointsFormat::Pam: file = ParseGcpListXml(text, fileName); break;
    case TPointsFormat::Csv: file = ParseWebCsv(text, fileName); break;
    case TPointsFormat::LinkTable: file = ParseLinkTable(text, fileName); break;
    }
    // Points in another system than the one asked for would be placed
    // wrongly by the thousands of kilometres: they are converted.
    if (crs.Given() && file.Crs.Given() && crs.Code != file.Crs.Code)
        Convert(file.Crs, crs, file.Points);
    if (crs.Given())
        file.Crs = crs;
    return file;
}

TGcpPoints ReadPoints(TPointsFormat format, const std::string& fileName, const TCrs& crs)
{
    return ParsePoints(format, ReadPointsText(fileName), fileName, crs);
}

std::string PointsText(TPointsFormat format, const TControlPoints& points, const TCrs& crs,
                       const std::string& transform, const TPointsPicture& picture, const TFitResult* fit)
{
    TControlPoints lonLat = points;
    if (InWgs84(format)) {
        if (!crs.Given())
            throw Exception("Points in WGS 84 need the system of the points to convert from (--crs)");
        const TCrs wgs84 = LookupCrs("EPSG:4326");
        if (crs.Code != wgs84.Code)
            Convert(crs, wgs84, lonLat);
    }
    switch (format) {
    case TPointsFormat::Gcp: return fit ? GcpPointsText(points, crs, *fit) : GcpPointsText(points, crs);
    case TPointsFormat::Annotation: return AnnotationText(lonLat, transform, picture);
    case TPointsFormat::Vrt: return VrtText(points, crs, picture);
    case TPointsFormat::Pam: return PamText(points, crs);
    case TPointsFormat::Csv: return WebCsvText(lonLat);
    case TPointsFormat::LinkTable: return LinkTableText(points);
    }
    return {};
}
