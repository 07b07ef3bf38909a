#pragma once
// The control points as the workbench holds them: for each point the texts
// of its pixel position and map coordinates (for points 1 and 2 those of the
// panel's labels and boxes) and its role, read into the core's list of
// points the way Save reads the panel.
#include "georef/control_points.h"

#include <QString>

struct TPointEntry {
    QString Col;    // pixel column as the value labels show it; blank: not placed
    QString Row;    // pixel row
    QString East;   // Y as typed
    QString North;  // X as typed
    TPointRole Role = TPointRole::Fitted;
    bool operator==(const TPointEntry&) const = default;
};

// A value label's text before its point is placed.
inline const QString kUnplacedText = QStringLiteral("     ");

// The user's decimal separator, for the pixel positions shown and typed.
char LocaleDecimalSeparator();

// A pixel position as the labels show it: "7" for a whole pixel, else the
// locale's form to two decimals ("100.04"; a snap is not surer than that).
QString PixelText(double value);

// Reads a pixel position typed by the user with the locale's separator or
// a point; false for anything else.
bool ReadPixelText(const QString& text, double& value);

// The pixel position as the labels are read; false while it is not placed.
bool ReadPixel(const TPointEntry& entry, double& col, double& row);

// Placed: both pixel texts are numbers. Complete: placed and both map
// coordinates typed (a text of blanks counts, as in the check before Save).
bool Placed(const TPointEntry& entry);
bool Complete(const TPointEntry& entry);

// The point numbered id: the pixel texts as the labels are read, the map
// coordinates as the boxes are. Raises "Point N is not placed on the
// picture", or EConvertError naming a malformed text.
TControlPoint ReadPointEntry(const TPointEntry& entry, int id);
