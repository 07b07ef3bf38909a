#include "app/points_table_model.h"

#include <QColor>

#include <cmath>

namespace {

const char* const kHeaders[] = {"No.", "Column", "Row", "Y (east)", "X (north)", "Role", "Residual (px)",
                                "Left out (px)"};

QString Pixels(double value)
{
    return std::isfinite(value) ? QString::number(value, 'f', 3) : QStringLiteral("\u221e");
}

} // namespace

void TPointsTableModel::SetRows(std::vector<TPointRow> rows)
{
    // Rows are added or taken at the end, so that the selection stays.
    const int before = rowCount();
    const int after = static_cast<int>(rows.size());
    if (after > before) {
        beginInsertRows({}, before, after - 1);
        FRows = std::move(rows);
        endInsertRows();
    } else if (after < before) {
        beginRemoveRows({}, after, before - 1);
        FRows.resize(static_cast<size_t>(after));
        endRemoveRows();
        FRows = std::move(rows);
    } else {
        FRows = std::move(rows);
    }
    if (after > 0)
        emit dataChanged(index(0, 0), index(after - 1, coCount - 1));
}

int TPointsTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(FRows.size());
}

int TPointsTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : coCount;
}

QVariant TPointsTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const TPointRow& row = FRows[static_cast<size_t>(index.row())];
    const TPointEntry& entry = row.Entry;
    if (role == Qt::TextAlignmentRole)
        return index.column() == coRole ? QVariant() : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role == Qt::ForegroundRole && entry.Role == TPointRole::Check)
        return QColor(0, 80, 220);
    if (role == Qt::ToolTipRole && index.column() == coResidual && row.Residual)
        return QStringLiteral("%1 map units east, %2 north")
            .arg(row.Residual->East, 0, 'f', 3)
            .arg(row.Residual->North, 0, 'f', 3);
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    switch (index.column()) {
    case coNumber: return index.row() + 1;
    case coColumn: return entry.Col.trimmed();
    case coRow: return entry.Row.trimmed();
    case coEast: return entry.East;
    case coNorth: return entry.North;
    case coRole: return entry.Role == TPointRole::Fitted ? QStringLiteral("fitted") : QStringLiteral("check");
    case coResidual: return row.Residual ? Pixels(row.Residual->Pixels) : QString();
    case coLeftOut: return row.LeftOut ? Pixels(*row.LeftOut) : QString();
    default: return {};
    }
}

QVariant TPointsTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= coCount)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromLatin1(kHeaders[section]);
    if (role == Qt::ToolTipRole && section == coLeftOut)
        return QStringLiteral("The point's residual when the fit is made without it");
    return {};
}

Qt::ItemFlags TPointsTableModel::flags(const QModelIndex& index) const
{
    const Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    const int column = index.column();
    return column >= coColumn && column <= coNorth ? flags | Qt::ItemIsEditable : flags;
}

bool TPointsTableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable))
        return false;
    emit edited(index.row(), index.column(), value.toString());
    return true;
}
