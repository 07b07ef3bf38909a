#pragma once
// The two-point world transformation and the six-line world file.
#include <string>

// The texts Save reads its values from: the pixel labels of the two picked
// points and the four map-coordinate boxes.
struct TControlTexts {
    std::string Row1, Col1, Row2, Col2; // Label21, Label23, Label27, Label29
    std::string Y1, X1, Y2, X2;         // Edit16, Edit17, Edit18, Edit19
    char DecimalSeparator = '.';        // the locale's, for the labels
};

struct TControlPoints {
    double Col1 = 0, Row1 = 0, Col2 = 0, Row2 = 0;
    double Y1 = 0, X1 = 0, Y2 = 0, X2 = 0;
};

// One scale for both axes, no rotation: pixel (c, r) lies at map
// Y = E0 + S·c and X = N0 − S·r.
struct TWorldTransform {
    double S = 0;
    double E0 = 0;
    double N0 = 0;
};

// The general form of the six lines: pixel (c, r) lies at map
// Y = C + A·c + B·r and X = F + D·c + E·r (file order A, D, B, E, C, F).
struct TAffineTransform {
    double A = 0, D = 0, B = 0, E = 0, C = 0, F = 0;
    double MapY(double col, double row) const { return C + A * col + B * row; }
    double MapX(double col, double row) const { return F + D * col + E * row; }
};

TAffineTransform ToAffine(const TWorldTransform& transform);

// Labels through StrToFloat, boxes through NormaliseDecimal and
// ParseCoordinate, in the order row1, col1, row2, col2, Y1, X1, Y2, X2; the
// first failure raises EConvertError naming the text as it stands in its
// control.
TControlPoints ReadControlPoints(const TControlTexts& texts);

void NegateMapCoordinates(TControlPoints& points);

// Scale from the two distances, origin anchored at point 1. Raises
// EZeroDivide "Floating point division by zero" for two points on one pixel,
// EInvalidOp "Invalid floating point operation" when the map distance is 0
// as well, and EInvalidOp "Floating point overflow" when a result does not fit.
TWorldTransform ComputeWorldTransform(const TControlPoints& points);

// One scale and a rotation, both points fitted exactly: A = −E = s·cos θ,
// B = D = s·sin θ. Raises as ComputeWorldTransform does.
TAffineTransform ComputeSimilarityTransform(const TControlPoints& points);

// Fixed-point text of the exact value of x: "-" for a negative value
// (negative zero included), the integer digits, ".", decimals digits, halves
// rounded away from zero, blanks on the left up to minWidth.
std::string FormatFixed(double x, int decimals, int minWidth);

// The six lines s, 0, 0, −s, E0, N0, each ended by CR LF.
std::string WorldFileText(const TWorldTransform& transform);

// The six lines with the rotation terms in lines 2 and 3, written like
// lines 1 and 4 with 12 decimals.
std::string WorldFileText(const TAffineTransform& transform);

// Creates or truncates fileName and writes text. A failure raises the
// runtime's I/O error and removes what was written.
void WriteTextFile(const std::string& fileName, const std::string& text);
