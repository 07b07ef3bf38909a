#include "georef/gcp_points_file.h"

#include "platform/exceptions.h"

#include <algorithm>
#include <cctype>
#include <charconv>
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

std::string Shortest(double value)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
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
    std::ifstream in = OpenText(fileName);
    TGcpPoints result;
    std::string wkt;
    std::vector<std::string> columns;
    TControlPoints& enabled = result.Points;
    std::string line;
    while (enabled.size() < 2 && std::getline(in, line)) {
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
        if (Number(field("enable"), fileName) == 0)
            continue;
        TControlPoint point;
        point.Id = static_cast<int>(enabled.size()) + 1;
        point.East = Number(field("mapX"), fileName);
        point.North = Number(field("mapY"), fileName);
        point.Col = Number(field("sourceX"), fileName) - 0.5;
        point.Row = -Number(field("sourceY"), fileName) - 0.5;
        enabled.push_back(point);
    }
    if (columns.empty() || !StartsWith(columns[0], "mapX"))
        throw Exception("The point file '" + fileName + "' lacks the header line " + Header);
    if (enabled.size() < 2)
        throw Exception("The point file '" + fileName + "' holds fewer than two enabled points");
    if (!wkt.empty())
        result.Crs = CrsFromWkt(wkt);
    return result;
}

std::string GcpPointsText(const TControlPoints& points, const TCrs& crs)
{
    std::string text;
    if (crs.Given())
        text += "#CRS: " + crs.Wkt2 + "\n";
    text += std::string(Header) + "\n";
    for (const TControlPoint& p : points)
        text += Shortest(p.East) + "," + Shortest(p.North) + "," + Shortest(p.Col + 0.5) + "," +
                Shortest(-(p.Row + 0.5)) + (p.Role == TPointRole::Fitted ? ",1" : ",0") + ",0,0,0\n";
    return text;
}
