#pragma once
// The markers of the control points on the picture, kept as the point list
// stands: every placed point with its number, check points apart, the
// point the next click places ringed.
#include <QObject>

class TImageView;
class TPointList;

class TPointMarkers : public QObject {
    Q_OBJECT
public:
    TPointMarkers(TPointList& points, TImageView& view, QObject* parent = nullptr);

private:
    void Show();

    TPointList& FPoints;
    TImageView& FView;
};
