#pragma once
// The points panel: the table of every control point with its residuals,
// the buttons that add, remove and switch points, the choice of the
// transformation with its "Warp" box, and the finders ("Find corners").
// It shows the point list and the fit monitor and edits them.
#include "app/workbench.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QTableView;
class QToolButton;
class TPointsTableModel;

class TPointsPanel : public QWidget {
    Q_OBJECT
public:
    explicit TPointsPanel(const TWorkbench& workbench, QWidget* parent = nullptr);

    // The selected row (from 0), or -1.
    int SelectedRow() const;
    // Room for every row, buttons and header included, and no less than
    // a few rows.
    QSize sizeHint() const override;
    // The transformation chosen: a name of the fit table.
    QString Transform() const;
    void SetTransform(const QString& name);

    TPointsTableModel* Model;
    QTableView* Table;
    QToolButton* AddButton;
    QToolButton* RemoveButton;
    QToolButton* RoleButton;        // fitted or check
    QComboBox* TransformBox;
    QCheckBox* WarpCheck;           // a north-up resampled copy, for fits no world file states
    QToolButton* FindCornersButton; // the first finder's: the map frame's corners as points 1 to 4

private:
    void BuildButtons(const TWorkbench& workbench);
    void BuildTable();
    void Connect();
    void SelectRow(int row);
    void Placed(int number);
    void SettingsChanged();

    TWorkbench FWorkbench;
    bool FSelecting = false;
};
