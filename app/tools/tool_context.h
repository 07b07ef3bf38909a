#pragma once
// What a workbench tool works on: the picture view, the point list, the
// status bar's first panel and the points table.
#include <QPointF>
#include <QString>

#include <functional>

class TImageView;
class TPointList;

struct TToolContext {
    TImageView* View = nullptr;
    TPointList* Points = nullptr;
    // Text and tooltip of the status bar's first panel.
    std::function<void(const QString& text, const QString& tip)> Status;
    // Shows the points table (a tool that placed many points).
    std::function<void()> ShowPoints;
    // The coordinate system box's text, and setting it (may be empty).
    std::function<QString()> Crs;
    std::function<void(const QString& id)> SetCrs;
};

// A press on the picture: the pixel column and row under the cursor, the
// image position under its tip with decimals (pixel centres at integers),
// and the keys held.
struct TPress {
    int X = 0;
    int Y = 0;
    QPointF At;
    Qt::KeyboardModifiers Keys;
};

// A tool that a press on the picture goes to.
class TClickTool {
public:
    virtual ~TClickTool() = default;
    virtual void Press(const TPress& press) = 0;
};
