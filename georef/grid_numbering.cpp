#include "georef/grid_numbering.h"

#include "georef/coordinates.h"
#include "georef/save_arguments.h"
#include "platform/exceptions.h"

#include <charconv>
#include <cmath>
#include <utility>

namespace {

bool ParseNumber(const std::string& text, double& value)
{
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return !text.empty() && result.ec == std::errc() && result.ptr == end && std::isfinite(value);
}

} // namespace

bool TryParseAngle(const std::string& text, double& degrees)
{
    if (TryParseCoordinate(text, degrees))
        return true;
    std::string rest = text;
    while (!rest.empty() && rest.back() == ' ')
        rest.pop_back();
    double sign = 1;
    if (!rest.empty() && std::string("NSEW").find(rest.back()) != std::string::npos) {
        sign = rest.back() == 'S' || rest.back() == 'W' ? -1 : 1;
        rest.pop_back();
    }
    size_t at = 0;
    while (at < rest.size() && rest[at] == ' ')
        ++at;
    if (at < rest.size() && (rest[at] == '-' || rest[at] == '+'))
        sign *= rest[at++] == '-' ? -1 : 1;
    // Units in falling order: degrees, minutes, seconds.
    const std::vector<std::pair<std::vector<std::string>, double>> units = {
        {{"\xC2\xB0", "d"}, 1}, {{"'", "\xE2\x80\xB2", "m"}, 60}, {{"\"", "\xE2\x80\xB3", "s", "''"}, 3600}};
    size_t next = 0;
    double total = 0;
    bool any = false;
    while (at < rest.size()) {
        while (at < rest.size() && rest[at] == ' ')
            ++at;
        size_t end = at;
        while (end < rest.size() && (std::isdigit(static_cast<unsigned char>(rest[end])) || rest[end] == '.'))
            ++end;
        double value = 0;
        if (!ParseNumber(rest.substr(at, end - at), value))
            return false;
        bool matched = false;
        for (size_t u = next; u < units.size() && !matched; ++u)
            for (const std::string& symbol : units[u].first)
                if (rest.compare(end, symbol.size(), symbol) == 0 &&
                    !(symbol == "'" && rest.compare(end, 2, "''") == 0 && u == 1)) {
                    if (any && value >= 60)
                        return false; // minutes and seconds after a larger unit stay below 60
                    total += value / units[u].second;
                    at = end + symbol.size();
                    next = u + 1;
                    matched = any = true;
                    break;
                }
        if (!matched)
            return false;
    }
    if (!any)
        return false;
    degrees = sign * total;
    return true;
}

double ReadGridValue(const std::string& text, bool degrees)
{
    double value = 0;
    if (degrees ? TryParseAngle(text, value) : TryParseCoordinate(text, value))
        return value;
    throw EConvertError("'" + text + "' is not " +
                        (degrees ? std::string("an angle in degrees (decimal or D\xC2\xB0M'S\")") : "a number"));
}

TGridSpacing ReadGridSpacing(const std::string& text, bool degrees)
{
    const std::vector<std::string> parts = SplitCommas(text);
    if (parts.size() > 2)
        throw EConvertError("'" + text + "' is not a spacing D or D,D_NORTH");
    TGridSpacing spacing;
    spacing.East = ReadGridValue(parts[0], degrees);
    spacing.North = parts.size() == 2 ? ReadGridValue(parts[1], degrees) : spacing.East;
    if (!(spacing.East > 0) || !(spacing.North > 0))
        throw EConvertError("'" + text + "' is not a spacing above 0");
    return spacing;
}

double GridStepRatio(TGridSpacing spacing, double knownNorth, bool degrees)
{
    const double ratio = spacing.East / spacing.North;
    return degrees ? ratio * std::cos(knownNorth * M_PI / 180) : ratio;
}

std::vector<TMapXY> GridMapCoordinates(const std::vector<TGridPlace>& places, TMapXY known, TGridSpacing spacing,
                                       const TCrs& gridCrs, const TCrs& crs)
{
    std::vector<TMapXY> map;
    map.reserve(places.size());
    for (const TGridPlace& p : places)
        map.push_back({known.X + p.East * spacing.East, known.Y + p.North * spacing.North});
    if (gridCrs.Given() && crs.Given() && gridCrs.Code != crs.Code)
        ConvertPoints(gridCrs, crs, map);
    return map;
}
