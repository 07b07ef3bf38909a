#include "tools/cli/auto_corners.h"

#include "analysis/map_frame.h"
#include "georef/coordinates.h"
#include "imaging/loaded_picture.h"
#include "platform/bitmap.h"
#include "platform/exceptions.h"
#include "platform/picture.h"

#include <memory>

std::vector<TMapXY> ReadCornerCoordinates(const std::string& text, const TCrs& cornersCrs, const TCrs& crs)
{
    std::vector<double> values;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string part = text.substr(start, comma - start);
        double value = 0;
        if (part.find_first_of("0123456789") == std::string::npos || !TryParseCoordinate(part, value))
            values.clear();
        else
            values.push_back(value);
        if (comma == std::string::npos || values.empty())
            break;
        start = comma + 1;
    }
    if (values.size() != 8)
        throw EConvertError("'" + text + "' is not eight map coordinates X_UL,Y_UL,X_UR,Y_UR,X_LR,Y_LR,X_LL,Y_LL");
    std::vector<TMapXY> corners;
    for (size_t i = 0; i < 8; i += 2)
        corners.push_back({values[i], values[i + 1]});
    if (cornersCrs.Given())
        ConvertPoints(cornersCrs, crs, corners);
    return corners;
}

TMapFrame FindImageFrame(const std::string& image)
{
    const std::unique_ptr<TGraphic> graphic = LoadPictureFile(image);
    const TBitmap& bitmap = graphic->ViewBitmap();
    RequireImage(*graphic);
    TMapFrame frame = FindMapFrame(bitmap);
    if (!frame.Found)
        throw Exception(frame.Refusal);
    return frame;
}

TControlPoints FrameCornerPoints(const std::string& image, const std::vector<TMapXY>& map)
{
    const TMapFrame frame = FindImageFrame(image);
    TControlPoints points;
    for (size_t i = 0; i < 4; ++i)
        points.push_back({int(i) + 1, frame.Corners[i].Col, frame.Corners[i].Row, map[i].X, map[i].Y,
                          TPointRole::Fitted});
    return points;
}

TReadFrame ReadImageFrame(const std::string& image, const THemisphere& hemisphere)
{
    const std::unique_ptr<TGraphic> graphic = LoadPictureFile(image);
    const TBitmap& bitmap = graphic->ViewBitmap();
    RequireImage(*graphic);
    TReadFrame read;
    read.Frame = FindMapFrame(bitmap);
    if (!read.Frame.Found)
        throw Exception(read.Frame.Refusal);
    read.Labels = ReadPrintedCorners(bitmap, read.Frame.Corners, hemisphere);
    return read;
}

TControlPoints PrintedCornerPoints(const std::string& image, const THemisphere& hemisphere, const TCrs& cornersCrs,
                                   const TCrs& crs)
{
    const TReadFrame read = ReadImageFrame(image, hemisphere);
    if (!read.Labels.Sheet)
        throw Exception(read.Labels.Refusal);
    std::vector<TMapXY> map;
    for (size_t i = 0; i < 4; ++i)
        map.push_back({read.Labels.X[i], read.Labels.Y[i]});
    if (cornersCrs.Given())
        ConvertPoints(cornersCrs, crs, map);
    TControlPoints points;
    for (size_t i = 0; i < 4; ++i)
        points.push_back({int(i) + 1, read.Frame.Corners[i].Col, read.Frame.Corners[i].Row, map[i].X, map[i].Y,
                          TPointRole::Fitted});
    return points;
}

THemisphere ReadHemisphereOption(const std::string& text)
{
    THemisphere hemisphere;
    if (!ParseHemisphere(text, hemisphere))
        throw EConvertError("'" + text + "' is not a hemisphere for --hemisphere (N or S, E or W, or one of each as NE)");
    return hemisphere;
}
