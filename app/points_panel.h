#pragma once
// The points panel under the image view, shown and hidden with the top
// bar's "Points" button: the table of every control point with its
// residuals, the buttons that add, remove and switch points, the choice of
// the transformation with its "Warp" box, and "Find corners".
#include <QWidget>

class QCheckBox;
class QComboBox;
class QTableView;
class QToolButton;
class TPointsTableModel;

class TPointsPanel : public QWidget {
    Q_OBJECT
public:
    explicit TPointsPanel(QWidget* parent = nullptr);

    // The selected row (from 0), or -1; SelectRow does not emit rowSelected.
    int SelectedRow() const;
    void SelectRow(int row);
    // The height that shows every row, buttons and header included.
    int PreferredHeight() const;
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
    QToolButton* FindCornersButton; // the map frame's corners as points 1 to 4

signals:
    void rowSelected(int row);

private:
    bool FSelecting = false;
};
