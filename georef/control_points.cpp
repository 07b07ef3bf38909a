#include "georef/control_points.h"

#include "georef/coordinates.h"

#include <algorithm>
#include <iterator>

TControlPoints PanelPoints()
{
    TControlPoints points(2);
    points[0].Id = 1;
    points[1].Id = 2;
    return points;
}

TControlPoints FittedPoints(const TControlPoints& points)
{
    TControlPoints fitted;
    std::copy_if(points.begin(), points.end(), std::back_inserter(fitted),
                 [](const TControlPoint& p) { return p.Role == TPointRole::Fitted; });
    return fitted;
}

void NegateMapCoordinates(TControlPoints& points)
{
    for (TControlPoint& p : points) {
        p.East = -p.East;
        p.North = -p.North;
    }
}

TControlPoints ReadControlPoints(const TControlTexts& texts)
{
    TControlPoints points = PanelPoints();
    points[0].Row = StrToFloat(texts.Row1, texts.DecimalSeparator);
    points[0].Col = StrToFloat(texts.Col1, texts.DecimalSeparator);
    points[1].Row = StrToFloat(texts.Row2, texts.DecimalSeparator);
    points[1].Col = StrToFloat(texts.Col2, texts.DecimalSeparator);
    points[0].East = ReadMapCoordinate(texts.Y1);
    points[0].North = ReadMapCoordinate(texts.X1);
    points[1].East = ReadMapCoordinate(texts.Y2);
    points[1].North = ReadMapCoordinate(texts.X2);
    return points;
}
