#pragma once
// The control points of a sheet: where each was picked on the picture and
// where it lies on the map. The workbench's two-point panel holds points 1
// and 2; the command line fills the list from its options and point files.
#include <string>
#include <vector>

// A fitted point steers the fit; a check point is only measured against it.
enum class TPointRole { Fitted, Check };

// Map coordinates follow the geodetic naming of the coordinate boxes: their
// Y is East, growing with the columns (the world file's x), their X is North,
// growing toward row 0 (the world file's y).
struct TControlPoint {
    int Id = 0;        // the number the user knows the point by, from 1
    double Col = 0;    // pixel column from the left; integer values are pixel centres
    double Row = 0;    // pixel row from the top
    double East = 0;
    double North = 0;
    TPointRole Role = TPointRole::Fitted;
};

using TControlPoints = std::vector<TControlPoint>;

// Points 1 and 2, fitted, at pixel and map origin: the panel's two points
// before anything is read into them.
TControlPoints PanelPoints();

// The fitted points, in list order.
TControlPoints FittedPoints(const TControlPoints& points);

// The sign toggle: every map coordinate negated.
void NegateMapCoordinates(TControlPoints& points);

// The texts of the two-point panel: the pixel labels of the picked points
// and the four map-coordinate boxes.
struct TControlTexts {
    std::string Row1, Col1, Row2, Col2; // Label21, Label23, Label27, Label29
    std::string Y1, X1, Y2, X2;         // Edit16, Edit17, Edit18, Edit19
    char DecimalSeparator = '.';        // the locale's, for the labels
};

// The panel's points 1 and 2: labels through StrToFloat, boxes through
// NormaliseDecimal and ParseCoordinate, in the order row1, col1, row2, col2,
// Y1, X1, Y2, X2; the first failure raises EConvertError naming the text as
// it stands in its control.
TControlPoints ReadControlPoints(const TControlTexts& texts);
