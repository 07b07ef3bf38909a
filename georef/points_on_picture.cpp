#include "georef/points_on_picture.h"

#include "georef/coordinates.h"
#include "platform/exceptions.h"

#include <algorithm>
#include <cmath>

namespace {

// How far the position lies beyond the picture's extent 0..size along one axis.
double Beyond(double position, int size)
{
    return std::max({-0.5 - position, position - (size - 0.5), 0.0});
}

std::string Rounded(double value)
{
    return ShortestText(std::round(value * 100) / 100 + 0.0);
}

} // namespace

std::vector<std::string> CheckPointsOnPicture(const TGcpPoints& file, const std::string& fileName, int width,
                                              int height, bool allowOutside, const std::string& hint)
{
    std::vector<std::string> warnings;
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    for (size_t i = 0; i < file.Points.size(); ++i) {
        const TControlPoint& p = file.Points[i];
        const double col = Beyond(p.Col, width), row = Beyond(p.Row, height);
        if (col == 0 && row == 0)
            continue;
        const std::string place = i < file.Where.size() ? ", " + file.Where[i] : std::string();
        const std::string point = "Point " + std::to_string(p.Id) + " of the point file '" + fileName + "'" + place +
                                  ", at pixel " + ShortestText(p.Col) + "," + ShortestText(p.Row) + ",";
        const bool far = col > width || row > height;
        if (far && !allowOutside)
            throw Exception(point + " lies far outside the picture (" + size +
                            " pixels), more than its width or height beyond its edge" + hint);
        warnings.push_back("Warning: " + point + " lies " + Rounded(std::hypot(col, row)) +
                           " pixels outside the picture (" + size + " pixels)");
    }
    return warnings;
}
