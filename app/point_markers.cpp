#include "app/point_markers.h"

#include "app/image_view.h"
#include "app/point_list.h"

TPointMarkers::TPointMarkers(TPointList& points, TImageView& view, QObject* parent)
    : QObject(parent), FPoints(points), FView(view)
{
    connect(&FPoints, &TPointList::changed, this, &TPointMarkers::Show);
    connect(&FPoints, &TPointList::selectionChanged, this, &TPointMarkers::Show);
    Show();
}

void TPointMarkers::Show()
{
    std::vector<TPointMarker> markers;
    for (int row = 0; row < FPoints.Count(); ++row) {
        const TPointEntry& entry = FPoints.At(row);
        double col = 0, pixelRow = 0;
        if (ReadPixel(entry, col, pixelRow))
            markers.push_back({row + 1, QPointF(col, pixelRow), entry.Role == TPointRole::Check,
                               row + 1 == FPoints.Selected()});
    }
    FView.SetMarkers(std::move(markers));
}
