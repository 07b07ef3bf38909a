#include "georef/gcp_points_file.h"

#include "georef/coordinates.h"
#include "platform/exceptions.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <fstream>
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

std::ifstream OpenText(const std::string& fileName)
{
    std::ifstream in(fileName, std::ios::binary);
    if (!in)
        RaiseIOError(errno);
    return in;
}

double Number(const std::string& text, const std::string& fileName)
{
    double value = 0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (text.empty() || result.ec != std::errc() || result.ptr != end)
        throw Exception("'" + text + "' in the point file '" + fileName + "' is not a number");
    return value;
}

// Reads points until maxEnabled enabled ones are read; disabled points are
// kept as check points when asked.
TGcpPoints ReadPoints(const std::string& fileName, size_t maxEnabled, bool keepDisabled)
{
    std::ifstream in = OpenText(fileName);
    TGcpPoints result;
    std::string wkt;
    std::vector<std::string> columns;
    TControlPoints& points = result.Points;
    size_t enabled = 0;
    std::string line;
    while (enabled < maxEnabled && std::getline(in, line)) {
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
            continue;
        }
        const auto fields = SplitCommas(line);
        auto field = [&](const char* name) -> const std::string& {
            const auto it = std::find_if(columns.begin(), columns.end(),
                                         [&](const std::string& c) { return c.size() == std::string(name).size() && StartsWith(c, name); });
            const size_t index = static_cast<size_t>(it - columns.begin());
            if (it == columns.end() || index >= fields.size())
                throw Exception("The point file '" + fileName + "' has no " + name + " column");
            return fields[index];
        };
        const bool isEnabled = Number(field("enable"), fileName) != 0;
        if (!isEnabled && !keepDisabled)
            continue;
        TControlPoint point;
        point.Id = static_cast<int>(points.size()) + 1;
        point.East = Number(field("mapX"), fileName);
        point.North = Number(field("mapY"), fileName);
        point.Col = Number(field("sourceX"), fileName) - 0.5;
        point.Row = -Number(field("sourceY"), fileName) - 0.5;
        point.Role = isEnabled ? TPointRole::Fitted : TPointRole::Check;
        points.push_back(point);
        enabled += isEnabled ? 1 : 0;
    }
    if (columns.empty() || !StartsWith(columns[0], "mapX"))
        throw Exception("The point file '" + fileName + "' lacks the header line " + Header);
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
    TGcpPoints result = ReadPoints(fileName, 2, false);
    if (result.Points.size() < 2)
        throw Exception("The point file '" + fileName + "' holds fewer than two enabled points");
    return result;
}

TGcpPoints ReadEveryGcpPoint(const std::string& fileName)
{
    return ReadPoints(fileName, SIZE_MAX, true);
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
