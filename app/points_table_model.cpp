#include "app/points_table_model.h"

#include "app/fit_monitor.h"
#include "app/message_service.h"
#include "app/point_list.h"
#include "georef/coordinates.h"

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

TPointsTableModel::TPointsTableModel(TPointList& points, TFitMonitor& fit, QObject* parent)
    : QAbstractTableModel(parent), FPoints(points), FFit(fit), FRows(points.Count())
{
    connect(&FPoints, &TPointList::changed, this, &TPointsTableModel::PointsChanged);
    connect(&FFit, &TFitMonitor::updated, this,
            [this] { emit dataChanged(index(0, coResidual), index(FRows - 1, coLeftOut)); });
}

// Rows are added or taken at the end, so that the selection stays.
void TPointsTableModel::PointsChanged()
{
    const int after = FPoints.Count();
    if (after > FRows) {
        beginInsertRows({}, FRows, after - 1);
        FRows = after;
        endInsertRows();
    } else if (after < FRows) {
        beginRemoveRows({}, after, FRows - 1);
        FRows = after;
        endRemoveRows();
    }
    emit dataChanged(index(0, 0), index(FRows - 1, coCount - 1));
}

int TPointsTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : FRows;
}

int TPointsTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : coCount;
}

QVariant TPointsTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= FPoints.Count())
        return {};
    const TPointEntry& entry = FPoints.At(index.row());
    const size_t row = static_cast<size_t>(index.row());
    const TPointFigures figures = row < FFit.Figures().size() ? FFit.Figures()[row] : TPointFigures{};
    if (role == Qt::TextAlignmentRole)
        return index.column() == coRole ? QVariant() : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role == Qt::ForegroundRole && entry.Role == TPointRole::Check)
        return QColor(0, 80, 220);
    if (role == Qt::ToolTipRole && index.column() == coResidual && figures.Residual)
        return QStringLiteral("%1 map units east, %2 north")
            .arg(figures.Residual->East, 0, 'f', 3)
            .arg(figures.Residual->North, 0, 'f', 3);
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    switch (index.column()) {
    case coNumber: return index.row() + 1;
    case coColumn: return entry.Col.trimmed();
    case coRow: return entry.Row.trimmed();
    case coEast: return entry.East;
    case coNorth: return entry.North;
    case coRole: return entry.Role == TPointRole::Fitted ? QStringLiteral("fitted") : QStringLiteral("check");
    case coResidual: return figures.Residual ? Pixels(figures.Residual->Pixels) : QString();
    case coLeftOut: return figures.LeftOut ? Pixels(*figures.LeftOut) : QString();
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
    if (role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable) || index.row() >= FPoints.Count())
        return false;
    const int row = index.row();
    const QString text = value.toString();
    const TPointEntry& entry = FPoints.At(row);
    switch (index.column()) {
    case coColumn:
    case coRow: {
        double pixel = 0;
        if (!ReadPixelText(text, pixel)) {
            MessageService().Beep();
            return false;
        }
        const QString shown = QString::fromStdString(FloatToStr(pixel, LocaleDecimalSeparator()));
        if (index.column() == coColumn)
            FPoints.SetPixelTexts(row, shown, entry.Row);
        else
            FPoints.SetPixelTexts(row, entry.Col, shown);
        return true;
    }
    case coEast: FPoints.SetEast(row, text); return true;
    case coNorth: FPoints.SetNorth(row, text); return true;
    default: return false;
    }
}
