#include "georef/gcp_points_file.h"

#include "georef/coordinates.h"
#include "georef/points_text.h"
#include "platform/exceptions.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <vector>

namespace {

const char* const Header = "mapX,mapY,sourceX,sourceY,enable,dX,dY,residual";

std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::vector<std::string> SplitCommas(const std::string& line)
{
    std::vector<std::string> fields;
    std::stringstream stream(line);
    std::string field;
    while (std::getline(stream, field, ','))
        fields.push_back(Trim(field));
    return fields;
}

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) ==
                                                  std::tolower(static_cast<unsigned char>(b)); });
}

// The column called name, or one of its older names.
size_t ColumnIndex(const std::vector<std::string>& columns, std::initializer_list<const char*> names)
{
    for (const char* name : names) {
        const auto it = std::find_if(columns.begin(), columns.end(), [&](const std::string& c) {
            return c.size() == std::string(name).size() && StartsWith(c, name);
        });
        if (it != columns.end())
            return static_cast<size_t>(it - columns.begin());
    }
    return columns.size();
}

// Reads points until maxEnabled enabled ones are read; disabled points are
// kept as check points when asked.
TGcpPoints ReadPoints(const std::string& text, const std::string& fileName, size_t maxEnabled, bool keepDisabled)
{
    RequireText(text, fileName);
    std::istringstream in(text);
    TGcpPoints result;
    std::string wkt;
    std::vector<std::string> columns;
    size_t mapX = 0, mapY = 0, sourceX = 0, sourceY = 0, enable = 0;
    TControlPoints& points = result.Points;
    size_t enabled = 0;
    std::string line;
    int lineNumber = 0;
    int dataLines = 0;
    while (enabled < maxEnabled && std::getline(in, line)) {
        ++lineNumber;
        line = Trim(line);
        if (line.empty())
            continue;
        if (StartsWith(line, "#CRS:")) {
            wkt = Trim(line.substr(5));
            continue;
        }
        if (line[0] == '#')
            continue;
        if (columns.empty()) {
            columns = SplitCommas(line);
            if (!StartsWith(columns[0], "mapX"))
                break;
            mapX = ColumnIndex(columns, {"mapX"});
            mapY = ColumnIndex(columns, {"mapY"});
            sourceX = ColumnIndex(columns, {"sourceX", "pixelX"});
            sourceY = ColumnIndex(columns, {"sourceY", "pixelY"});
            enable = ColumnIndex(columns, {"enable"});
            continue;
        }
        const auto fields = SplitCommas(line);
        ++dataLines;
        const std::string where = "line " + std::to_string(lineNumber);
        auto number = [&](size_t index, const char* name) {
            if (index >= columns.size())
                throw Exception("The point file '" + fileName + "' has no " + name + " column");
            if (index >= fields.size())
                throw Exception("The point file '" + fileName + "', " + where + ", has no " + name + " value");
            return PointsNumber(fields[index], fileName, where, columns[index]);
        };
        TControlPoint point;
        point.Id = static_cast<int>(points.size()) + 1;
        point.East = number(mapX, "mapX");
        point.North = number(mapY, "mapY");
        point.Col = number(sourceX, "sourceX") - 0.5;
        point.Row = -number(sourceY, "sourceY") - 0.5;
        const bool isEnabled = number(enable, "enable") != 0;
        if (!isEnabled && !keepDisabled)
            continue;
        point.Role = isEnabled ? TPointRole::Fitted : TPointRole::Check;
        points.push_back(point);
        result.Where.push_back(where);
        enabled += isEnabled ? 1 : 0;
    }
    if (columns.empty() || !StartsWith(columns[0], "mapX"))
        throw Exception("The point file '" + fileName + "' lacks the header line " + Header);
    if (dataLines == 0)
        throw Exception("The point file '" + fileName + "' holds no points");
    if (!wkt.empty())
        result.Crs = CrsFromWkt(wkt);
    return result;
}

// A residual column: four decimals, no negative zero.
std::string ResidualText(double pixels)
{
    return ShortestText(std::round(pixels * 1e4) / 1e4 + 0.0);
}

} // namespace

bool IsGcpPointsFile(const std::string& fileName)
{
    std::ifstream in(fileName, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        line = Trim(line);
        if (!line.empty())
            return StartsWith(line, "#CRS:") || StartsWith(line, "mapX,");
    }
    return false;
}

TGcpPoints ReadGcpPointsFile(const std::string& fileName)
{
    TGcpPoints result = ReadPoints(ReadPointsText(fileName), fileName, 2, false);
    if (result.Points.size() < 2)
        throw Exception("The point file '" + fileName + "' holds fewer than two enabled points");
    return result;
}

TGcpPoints ReadEveryGcpPoint(const std::string& fileName)
{
    return ReadPoints(ReadPointsText(fileName), fileName, SIZE_MAX, true);
}

TGcpPoints ParseEveryGcpPoint(const std::string& text, const std::string& fileName)
{
    return ReadPoints(text, fileName, SIZE_MAX, true);
}

std::string GcpPointsText(const TControlPoints& points, const TCrs& crs)
{
    TFitResult unmeasured;
    for (const TControlPoint& p : points)
        unmeasured.Residuals.push_back({p.Id});
    return GcpPointsText(points, crs, unmeasured);
}

std::string GcpPointsText(const TControlPoints& points, const TCrs& crs, const TFitResult& fit)
{
    std::string text;
    if (crs.Given())
        text += "#CRS: " + crs.Wkt2 + "\n";
    text += std::string(Header) + "\n";
    for (size_t i = 0; i < points.size(); ++i) {
        const TControlPoint& p = points[i];
        const TPointResidual& r = fit.Residuals.at(i);
        // A fit that shrinks the picture to a line states no pixel steps.
        const bool inPixels = std::isfinite(r.Pixels);
        text += ShortestText(p.East) + "," + ShortestText(p.North) + "," + ShortestText(p.Col + 0.5) + "," +
                ShortestText(-(p.Row + 0.5)) + (p.Role == TPointRole::Fitted ? ",1," : ",0,") +
                ResidualText(inPixels ? r.Col : 0) + "," + ResidualText(inPixels ? -r.Row : 0) + "," +
                ResidualText(inPixels ? r.Pixels : 0) + "\n";
    }
    return text;
}
