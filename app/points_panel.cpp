#include "app/points_panel.h"

#include "app/points_table_model.h"
#include "georef/fit_methods.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int kRowHeight = 18;
const int kColumnWidths[] = {30, 64, 64, 92, 92, 46, 78, 78};

QToolButton* MakeButton(QWidget* parent, const QString& caption, const QString& tip)
{
    auto* button = new QToolButton(parent);
    button->setText(caption);
    button->setToolTip(tip);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

} // namespace

TPointsPanel::TPointsPanel(QWidget* parent) : QWidget(parent)
{
    AddButton = MakeButton(this, QStringLiteral("Add"), QStringLiteral("A new point, placed by the next click on the picture"));
    RemoveButton = MakeButton(this, QStringLiteral("Remove"), QStringLiteral("Removes the selected point"));
    RoleButton = MakeButton(this, QStringLiteral("Fitted/check"),
                            QStringLiteral("Switches the selected point between fitted and check point: a check "
                                           "point is measured against the fit but does not steer it"));
    TransformBox = new QComboBox(this);
    TransformBox->setFocusPolicy(Qt::NoFocus);
    TransformBox->setToolTip(QStringLiteral("Transformation fitted to the points"));
    for (const TFitMethod& method : FitMethods()) {
        const QString name = QString::fromLatin1(method.Name.data(), static_cast<qsizetype>(method.Name.size()));
        TransformBox->addItem(name);
        TransformBox->setItemData(TransformBox->count() - 1,
                                  QStringLiteral("%1: at least %2 fitted points, %3")
                                      .arg(name)
                                      .arg(method.MinimumPoints)
                                      .arg(method.WorldFile ? QStringLiteral("written as a world file")
                                                            : QStringLiteral("the GeoTIFF carries the points")),
                                  Qt::ToolTipRole);
    }
    WarpCheck = new QCheckBox(QStringLiteral("Warp"), this);
    WarpCheck->setFocusPolicy(Qt::NoFocus);
    WarpCheck->setToolTip(QStringLiteral("Also save a north-up copy resampled through the fit (name_warped.tif), "
                                         "for transformations that no world file can hold"));
    FindCornersButton = MakeButton(this, QStringLiteral("Find corners"),
                                   QStringLiteral("Finds the four corners of the map frame and places them as "
                                                  "points 1 to 4: upper left, upper right, lower right, lower left"));

    Model = new TPointsTableModel(this);
    Table = new QTableView(this);
    Table->setModel(Model);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setSelectionMode(QAbstractItemView::SingleSelection);
    Table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                           QAbstractItemView::AnyKeyPressed);
    Table->verticalHeader()->hide();
    Table->verticalHeader()->setDefaultSectionSize(kRowHeight);
    Table->horizontalHeader()->setHighlightSections(false);
    for (int column = 0; column < TPointsTableModel::coCount; ++column)
        Table->setColumnWidth(column, kColumnWidths[column]);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(4);
    for (QWidget* widget : std::initializer_list<QWidget*>{AddButton, RemoveButton, RoleButton})
        buttons->addWidget(widget);
    buttons->addStretch(1);
    for (QWidget* widget : std::initializer_list<QWidget*>{TransformBox, WarpCheck, FindCornersButton})
        buttons->addWidget(widget);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    layout->addLayout(buttons);
    layout->addWidget(Table, 1);

    connect(Table->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this](const QModelIndex& current) {
        if (!FSelecting && current.isValid())
            emit rowSelected(current.row());
    });
}

int TPointsPanel::SelectedRow() const
{
    const QModelIndexList rows = Table->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void TPointsPanel::SelectRow(int row)
{
    FSelecting = true;
    if (row >= 0 && row < Model->rowCount()) {
        const QModelIndex current = Table->currentIndex();
        Table->selectionModel()->setCurrentIndex(Model->index(row, current.isValid() ? current.column() : 0),
                                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    } else {
        Table->selectionModel()->clearSelection();
    }
    FSelecting = false;
}

int TPointsPanel::PreferredHeight() const
{
    const QMargins margins = layout()->contentsMargins();
    return margins.top() + margins.bottom() + layout()->spacing() + AddButton->sizeHint().height() +
           Table->horizontalHeader()->sizeHint().height() + Model->rowCount() * kRowHeight + 2 * Table->frameWidth() +
           kRowHeight / 2;
}

QString TPointsPanel::Transform() const
{
    return TransformBox->currentText();
}

void TPointsPanel::SetTransform(const QString& name)
{
    TransformBox->setCurrentIndex(TransformBox->findText(name));
}
