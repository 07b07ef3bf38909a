#pragma once
// The latitude and longitude printed beside the four corners of a sheet's
// map frame, read with OCR from the margin at full resolution, and checked
// to make one graticule sheet before any of them is used.
//
// Beside each corner, outside the frame, a sheet prints the corner's
// longitude along the meridian side (above or below the corner) and its
// latitude along the parallel side (left or right of it), as degrees,
// minutes and perhaps seconds with their signs ("87°45'", "24°" over
// "30'" across the side's continued rule, "45'" alone where the degrees
// are printed at another corner), with or without hemisphere letters.
// The sheet is taken only when the four corners' readings agree with one
// another; a label not read with confidence is left out rather than
// guessed, and a sheet short of four consistent corners is refused with the
// reason.
#include "analysis/map_frame.h"
#include "platform/bitmap.h"

#include <array>
#include <string>
#include <vector>

// One printed coordinate as read: absolute degrees, minutes, seconds.
struct TPrintedAngle {
    bool Read = false;
    int Degrees = -1; // -1: only minutes printed here
    int Minutes = 0; // -1: only degrees read here
    double Seconds = 0;
    char Letter = 0; // 'N', 'S', 'E', 'W' or 0 when none printed
    double Confidence = 0; // the least of its digits', 0..100
    std::string Text; // as read, e.g. "87°45'"

    double Value() const { return Degrees + Minutes / 60.0 + Seconds / 3600.0; }
};

struct TCornerLabel {
    TPrintedAngle Longitude;
    TPrintedAngle Latitude;
};

// The user's hemisphere, for sheets whose labels carry no letters and whose
// values cannot tell it (0 where not given).
struct THemisphere {
    char Latitude = 0; // 'N' or 'S'
    char Longitude = 0; // 'E' or 'W'
};

// Reads "N", "S", "E", "W", "NE", "SW"... into a hemisphere; false for any
// other text.
bool ParseHemisphere(const std::string& text, THemisphere& hemisphere);

struct TPrintedCorners {
    // The four corners' readings as the labels gave them (UL, UR, LR, LL).
    std::array<TCornerLabel, 4> Labels{};
    // Decimal degrees, east and north positive, of each corner's longitude
    // (X) and latitude (Y) that agree with the rest of the sheet.
    std::array<bool, 4> XKnown{};
    std::array<bool, 4> YKnown{};
    std::array<double, 4> X{};
    std::array<double, 4> Y{};
    // All four corners known and one graticule sheet.
    bool Sheet = false;
    std::string Refusal; // why not, as a sentence for the user
};

// Checks the corners' readings against one another: the top corners one
// latitude and the bottom ones another, the left corners one longitude and
// the right ones another, a span of a sheet series, a frame of the shape
// those spans draw at that latitude (frameWidth / frameHeight of the found
// frame, 0 to skip), and one hemisphere from the letters, the user's
// choice and the order of the values. Fills in what survives.
void CheckGraticuleSheet(TPrintedCorners& corners, const THemisphere& hemisphere, double frameAspect);

// Reads the labels beside the frame's corners and checks them.
TPrintedCorners ReadPrintedCorners(const TBitmap& bitmap, const std::array<TFrameCorner, 4>& corners,
                                   const THemisphere& hemisphere);

// The words read in a window of a picture, for the corner reader and its
// tests: each a run of digits, signs and letters on one line.
struct TLabelWord {
    double Left = 0, Top = 0, Right = 0, Bottom = 0; // picture pixels
    std::string Text; // digits, letters, "°", "'" and "\""
    double Confidence = 0;
    int Turns = 0; // 1: the text reads upward, -1: downward
    // Lettering the window's edge cuts: not read (no text), only where it
    // stands, so that a window grown over it may read it whole.
    bool Cut = false;
};

// How far beside a corner its labels are looked for, pixels.
double LabelReach(const std::array<TFrameCorner, 4>& corners);

// Every word in the window [left, right) x [top, bottom) of the bitmap,
// leaving out what lies inside the frame (corners) and the long rules;
// quarterTurns 1 reads text turned to read upward, -1 downward. A word
// the window's edge cuts comes back unread, marked Cut.
std::vector<TLabelWord> ReadLabelWords(const TBitmap& bitmap, const std::array<TFrameCorner, 4>& corners, int left,
                                       int top, int right, int bottom, int quarterTurns = 0);

// The corner's label from its words: corner is the index (fcUpperLeft ...),
// (col, row) its position.
TCornerLabel AssembleCornerLabel(const std::vector<TLabelWord>& words, int corner, double col, double row);

// A grid line's value printed at its end in the margin, beyond a side of
// the map frame.
enum TFrameSide { fsTop, fsRight, fsBottom, fsLeft };

struct TGridLabel {
    TFrameSide Side = fsTop;
    double Col = 0, Row = 0; // the label's centre, picture pixels
    double Value = 0; // the number printed times the unit
    std::string Text; // as printed
};

// Every plain number of two digits or more printed close beyond the four
// sides of the frame (outside the corners' windows), each times unit:
// series that leave out trailing digits ("235" for 2,350,000) say in the
// legend what they stand for.
std::vector<TGridLabel> ReadGridLabels(const TBitmap& bitmap, const std::array<TFrameCorner, 4>& corners,
                                       double unit);

// Two crossings of the grid the labels make, for the grid finder: the first
// near the middle of the labelled lines, the second a step from it each way, so that
// which way the values grow is the labels'.
struct TLabelledCrossing {
    double Col = 0, Row = 0; // where the labelled lines meet, picture pixels
    double X = 0, Y = 0; // their values
};

struct TLabelledGrid {
    bool Found = false;
    std::string Refusal; // why not, as a sentence
    TLabelledCrossing Known, Second;
    bool SecondNeeded = false; // the values grow leftward or down the picture
    int EastLabels = 0, NorthLabels = 0; // the labels that agreed
};

// Takes the labels only when those of each side make one lattice of the
// spacing: every value a whole number of spacings from the others, each
// label where its value puts it (within a tenth of a step), at least two
// lines each way and three labels of one side.
TLabelledGrid GridFromLabels(const std::vector<TGridLabel>& labels, const std::array<TFrameCorner, 4>& corners,
                             double spacingEast, double spacingNorth);

// The map frame found, the values printed beyond it read, and the grid they
// make (or why not).
TLabelledGrid ReadLabelledGrid(const TBitmap& bitmap, double spacingEast, double spacingNorth, double unit);
