// Two plain tables of control points. The web georeferencers' CSV:
// "x,y,lon,lat,name", x and y the pixel position from the image's top-left
// corner with y down, lon and lat in WGS 84; a name ending in " check"
// marks a check point. The link tables of desktop GIS: one link a line,
// "sourceX sourceY mapX mapY" separated by tabs or blanks (a leading link
// number allowed), the source position from the image's top-left corner
// with y negative downwards, as an image without georeferencing lies on
// their map.
#include "georef/coordinates.h"
#include "georef/points_formats.h"
#include "georef/points_text.h"
#include "platform/exceptions.h"

#include <algorithm>
#include <sstream>
#include <string_view>
#include <vector>

namespace {

std::string Trim(std::string_view text)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    return std::string(text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1));
}

// A CSV line's fields; a quoted field may hold commas and doubled quotes.
std::vector<std::string> CsvFields(const std::string& line)
{
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"')
                fields.back() += line[++i];
            else if (c == '"')
                quoted = false;
            else
                fields.back() += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    for (std::string& field : fields)
        field = Trim(field);
    return fields;
}

std::string CsvQuoted(const std::string& text)
{
    if (text.find_first_of(",\"") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (const char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

} // namespace

TGcpPoints ParseWebCsv(const std::string& text, const std::string& fileName)
{
    RequireText(text, fileName);
    std::istringstream in(text);
    TGcpPoints result;
    const char* const Names[] = {"x", "y", "lon", "lat"};
    size_t columns[4] = {0, 1, 2, 3};
    size_t name = 4;
    bool first = true;
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (Trim(line).empty() || Trim(line)[0] == '#')
            continue;
        const std::vector<std::string> fields = CsvFields(line);
        if (first && std::find(fields.begin(), fields.end(), "x") != fields.end()) {
            // The header: columns found by name, in any order.
            for (size_t k = 0; k < 4; ++k) {
                columns[k] = fields.size();
                for (size_t i = 0; i < fields.size(); ++i)
                    if (fields[i] == Names[k])
                        columns[k] = i;
                if (columns[k] == fields.size())
                    throw Exception("The point file '" + fileName + "', line " + std::to_string(lineNumber) +
                                    ", has no column " + Names[k] + " (the header is x,y,lon,lat,name)");
            }
            name = fields.size();
            for (size_t i = 0; i < fields.size(); ++i)
                if (fields[i] == "name")
                    name = i;
            first = false;
            continue;
        }
        first = false;
        const std::string where = "line " + std::to_string(lineNumber);
        double values[4];
        for (size_t k = 0; k < 4; ++k) {
            if (columns[k] >= fields.size())
                throw Exception("The point file '" + fileName + "', " + where + ", has no " + Names[k] + " value");
            values[k] = PointsNumber(fields[columns[k]], fileName, where, Names[k]);
        }
        TControlPoint point;
        point.Id = static_cast<int>(result.Points.size()) + 1;
        point.Col = values[0] - 0.5;
        point.Row = values[1] - 0.5;
        point.East = values[2];
        point.North = values[3];
        if (name < fields.size() && fields[name].ends_with(" check"))
            point.Role = TPointRole::Check;
        result.Points.push_back(point);
        result.Where.push_back(where);
    }
    if (result.Points.empty())
        throw Exception("The point file '" + fileName + "' holds no points");
    result.Crs = LookupCrs("EPSG:4326");
    return result;
}

std::string WebCsvText(const TControlPoints& lonLat)
{
    std::string text = "x,y,lon,lat,name\n";
    for (const TControlPoint& p : lonLat)
        text += ShortestText(p.Col + 0.5) + "," + ShortestText(p.Row + 0.5) + "," + ShortestText(p.East) + "," +
                ShortestText(p.North) + "," +
                CsvQuoted(std::to_string(p.Id) + (p.Role == TPointRole::Check ? " check" : "")) + "\n";
    return text;
}

TGcpPoints ParseLinkTable(const std::string& text, const std::string& fileName)
{
    RequireText(text, fileName);
    std::istringstream in(text);
    TGcpPoints result;
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        std::istringstream fields(line);
        std::vector<std::string> values;
        for (std::string field; fields >> field;)
            values.push_back(field);
        if (values.empty() || values[0][0] == '#')
            continue;
        const std::string where = "line " + std::to_string(lineNumber);
        if (values.size() != 4 && values.size() != 5)
            throw Exception("The point file '" + fileName + "', " + where + ", holds " +
                            std::to_string(values.size()) +
                            " values, not source x, source y, map x and map y (a link number before them allowed)");
        const size_t at = values.size() - 4;
        const char* const Names[] = {"source x", "source y", "map x", "map y"};
        double v[4];
        for (size_t k = 0; k < 4; ++k)
            v[k] = PointsNumber(values[at + k], fileName, where, Names[k]);
        TControlPoint point;
        point.Id = static_cast<int>(result.Points.size()) + 1;
        point.Col = v[0] - 0.5;
        point.Row = -v[1] - 0.5;
        point.East = v[2];
        point.North = v[3];
        result.Points.push_back(point);
        result.Where.push_back(where);
    }
    if (result.Points.empty())
        throw Exception("The point file '" + fileName + "' holds no points");
    return result;
}

std::string LinkTableText(const TControlPoints& points)
{
    std::string text;
    for (const TControlPoint& p : points)
        text += ShortestText(p.Col + 0.5) + "\t" + ShortestText(-(p.Row + 0.5)) + "\t" + ShortestText(p.East) +
                "\t" + ShortestText(p.North) + "\n";
    return text;
}
