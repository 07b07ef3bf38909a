#include "app/points_panel.h"

#include "app/fit_monitor.h"
#include "app/point_list.h"
#include "app/points_table_model.h"
#include "georef/fit_methods.h"

#include <QAction>
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
constexpr int kMinHeight = 110;
const int kColumnWidths[] = {30, 64, 64, 92, 92, 46, 78, 78};

QToolButton* MakeButton(QWidget* parent, const QString& caption, const QString& tip)
{
    auto* button = new QToolButton(parent);
    button->setText(caption);
    button->setToolTip(tip);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

QString MethodTip(const TFitMethod& method, const QString& name)
{
    return QStringLiteral("%1: at least %2 fitted points, %3")
        .arg(name)
        .arg(method.MinimumPoints)
        .arg(method.WorldFile ? QStringLiteral("written as a world file")
                              : QStringLiteral("the GeoTIFF carries the points"));
}

} // namespace

QWidget* MakePointsPanel(const TWorkbench& workbench)
{
    return new TPointsPanel(workbench);
}

TPointsPanel::TPointsPanel(const TWorkbench& workbench, QWidget* parent) : QWidget(parent), FWorkbench(workbench)
{
    BuildButtons(workbench);
    BuildTable();
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(4);
    for (QWidget* widget : std::initializer_list<QWidget*>{AddButton, RemoveButton, RoleButton})
        buttons->addWidget(widget);
    buttons->addStretch(1);
    buttons->addWidget(TransformBox);
    buttons->addWidget(WarpCheck);
    for (QAction* finder : workbench.Finders) {
        auto* button = MakeButton(this, QString(), QString());
        button->setDefaultAction(finder);
        buttons->addWidget(button);
        if (finder == workbench.Finders.first())
            FindCornersButton = button;
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    layout->addLayout(buttons);
    layout->addWidget(Table, 1);
    Connect();
    SettingsChanged();
    SelectRow(FWorkbench.Points->Selected() - 1);
}

void TPointsPanel::BuildButtons(const TWorkbench& workbench)
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
        TransformBox->setItemData(TransformBox->count() - 1, MethodTip(method, name), Qt::ToolTipRole);
    }
    WarpCheck = new QCheckBox(QStringLiteral("Warp"), this);
    WarpCheck->setFocusPolicy(Qt::NoFocus);
    WarpCheck->setToolTip(QStringLiteral("Also save a north-up copy resampled through the fit (name_warped.tif), "
                                         "for transformations that no world file can hold"));
    FindCornersButton = nullptr;
    Model = new TPointsTableModel(*workbench.Points, *workbench.Fit, this);
}

void TPointsPanel::BuildTable()
{
    Table = new QTableView(this);
    Table->setModel(Model);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setSelectionMode(QAbstractItemView::SingleSelection);
    Table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                           QAbstractItemView::AnyKeyPressed);
    Table->verticalHeader()->hide();
    Table->verticalHeader()->setDefaultSectionSize(kRowHeight);
    Table->horizontalHeader()->setHighlightSections(false);
    for (int column = 0; column < static_cast<int>(std::size(kColumnWidths)); ++column)
        Table->setColumnWidth(column, kColumnWidths[column]);
}

void TPointsPanel::Connect()
{
    TPointList* points = FWorkbench.Points;
    TFitMonitor* fit = FWorkbench.Fit;
    connect(Table->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this, points](const QModelIndex& current) {
        if (!FSelecting && current.isValid())
            points->Select(current.row() + 1);
    });
    connect(points, &TPointList::selectionChanged, this, [this](int number) { SelectRow(number - 1); });
    connect(points, &TPointList::changed, this, [this, points] {
        SelectRow(points->Selected() - 1);
        updateGeometry();
    });
    connect(points, &TPointList::placed, this, &TPointsPanel::Placed);
    connect(AddButton, &QToolButton::clicked, points, &TPointList::Add);
    connect(RemoveButton, &QToolButton::clicked, points, [points] { points->Remove(points->Selected() - 1); });
    connect(RoleButton, &QToolButton::clicked, points, [points] { points->SwitchRole(points->Selected() - 1); });
    connect(TransformBox, &QComboBox::currentTextChanged, fit, &TFitMonitor::SetTransform);
    connect(WarpCheck, &QCheckBox::toggled, fit, &TFitMonitor::SetWarp);
    connect(fit, &TFitMonitor::settingsChanged, this, &TPointsPanel::SettingsChanged);
}

// The coordinates of a point placed from the table are typed next, in it.
void TPointsPanel::Placed(int number)
{
    if (number < 3)
        return;
    Table->setCurrentIndex(Model->index(number - 1, TPointsTableModel::coEast));
    Table->setFocus();
}

void TPointsPanel::SettingsChanged()
{
    SetTransform(FWorkbench.Fit->Transform());
    WarpCheck->setEnabled(FWorkbench.Fit->WarpPossible());
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

QSize TPointsPanel::sizeHint() const
{
    const QMargins margins = layout()->contentsMargins();
    const int height = margins.top() + margins.bottom() + layout()->spacing() + AddButton->sizeHint().height() +
                       Table->horizontalHeader()->sizeHint().height() + Model->rowCount() * kRowHeight +
                       2 * Table->frameWidth() + kRowHeight / 2;
    return {QWidget::sizeHint().width(), std::max(height, kMinHeight)};
}

QString TPointsPanel::Transform() const
{
    return TransformBox->currentText();
}

void TPointsPanel::SetTransform(const QString& name)
{
    TransformBox->setCurrentIndex(TransformBox->findText(name));
}
