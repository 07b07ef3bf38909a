#pragma once
// The rows of the points table: each control point's number, pixel
// position, map coordinates and role as the workbench holds them, and what
// the fit of the points says about it. Edits are handed to the workbench,
// which decides what becomes of them and sets the rows anew.
#include "app/point_entries.h"
#include "georef/fit_methods.h"

#include <QAbstractTableModel>

#include <optional>
#include <vector>

struct TPointRow {
    TPointEntry Entry;
    std::optional<TPointResidual> Residual; // once the point is measured by a fit
    std::optional<double> LeftOut;          // pixels off the fit made without it
};

class TPointsTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum TColumn { coNumber, coColumn, coRow, coEast, coNorth, coRole, coResidual, coLeftOut, coCount };

    using QAbstractTableModel::QAbstractTableModel;

    void SetRows(std::vector<TPointRow> rows);
    const std::vector<TPointRow>& Rows() const { return FRows; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

signals:
    // The user typed text into a cell of row (from 0) and column.
    void edited(int row, int column, const QString& text);

private:
    std::vector<TPointRow> FRows;
};
