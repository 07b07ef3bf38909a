#pragma once
// The numbered lattice over the picture: the lines between neighbouring
// crossings the Grid action placed, and each crossing's place in the
// lattice (steps east and north of the known crossing) beside it when the
// view is large enough to read them. A crossing whose point was moved or
// removed since is left out; another picture clears the lattice.
#include "app/image_view.h"

#include <QObject>
#include <QPointF>
#include <QString>

#include <vector>

class TPointList;

class TGridLattice : public QObject, public TCanvasItem {
    Q_OBJECT
public:
    struct TNode {
        int East = 0;
        int North = 0;
        int PointRow = 0;  // its row in the point list, from 0
        QString Col, Row;  // the pixel texts it was placed with
        QPointF Pixel;
    };

    TGridLattice(TPointList& points, TImageView& view, QObject* parent = nullptr);
    ~TGridLattice() override;

    void Show(std::vector<TNode> nodes);
    void Clear();
    // The crossings still on their points.
    std::vector<TNode> Shown() const;

    void Paint(QPainter& painter, const TImageView& view) const override;

private:
    TPointList& FPoints;
    TImageView& FView;
    std::vector<TNode> FNodes;
};
