#pragma once
// The points table's model over the point list: each control point's
// number, pixel position, map coordinates and role, and what the fit
// monitor says about it. Edits go into the list; a pixel position that is
// no number is refused with a beep.
#include <QAbstractTableModel>

class TFitMonitor;
class TPointList;

class TPointsTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum TColumn { coNumber, coColumn, coRow, coEast, coNorth, coRole, coResidual, coLeftOut, coCount };

    TPointsTableModel(TPointList& points, TFitMonitor& fit, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

private:
    void PointsChanged();

    TPointList& FPoints;
    TFitMonitor& FFit;
    int FRows = 0; // the rows the views know of
};
