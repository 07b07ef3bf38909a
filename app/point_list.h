#pragma once
// Every control point of the workbench, as data: the one list the two-point
// panel (its points 1 and 2), the points table, the markers on the picture
// and the fit monitor show and edit. Each point keeps its texts as the
// panel shows them (a pixel position as a value label writes it, five
// blanks before it is placed; the map coordinates as typed), so that Save
// reads them as it reads the panel. There are always at least two points.
#include "app/point_entries.h"
#include "georef/control_points.h"

#include <QObject>

#include <vector>

class TPointList : public QObject {
    Q_OBJECT
public:
    explicit TPointList(QObject* parent = nullptr);

    int Count() const { return static_cast<int>(FEntries.size()); }
    // Row from 0; point number row + 1.
    const TPointEntry& At(int row) const { return FEntries.at(static_cast<size_t>(row)); }
    const std::vector<TPointEntry>& Entries() const { return FEntries; }

    // Replaces every point; blank points fill up to two. The selection
    // moves to the last point when its own went.
    void SetEntries(std::vector<TPointEntry> entries);
    void SetEntry(int row, const TPointEntry& entry);
    void SetPixelTexts(int row, const QString& col, const QString& rowText);
    void SetEast(int row, const QString& text);
    void SetNorth(int row, const QString& text);
    void SetRole(int row, TPointRole role);
    void Add();               // a blank point at the end, selected
    void Remove(int row);     // the panel keeps two points
    void SwitchRole(int row); // fitted or check

    // The point the next click places, from 1.
    int Selected() const { return FSelected; }
    void Select(int number);
    // Places the selected point on pixel (col, row), decimals kept to
    // two; point 1 hands the selection on to point 2, which keeps it.
    void Place(double col, double row);

    // Every point for Save: points 1 and 2 as Save reads the panel (its
    // errors), then the others, raising for one not placed or mistyped.
    TControlPoints ReadAll() const;
    // The points a fit can take now: 1 and 2 when both are complete, then
    // every other complete one; rowOf gives each one's row. Empty while
    // point 1 or 2 is not complete. Raises for a mistyped coordinate.
    TControlPoints ReadComplete(std::vector<size_t>& rowOf) const;

signals:
    void changed();              // any point's data or the number of points
    void selectionChanged(int number);
    void placed(int number);     // by a click on the picture

private:
    void Changed();
    TControlPoints ReadPanelPair() const;

    std::vector<TPointEntry> FEntries;
    int FSelected = 1;
};
