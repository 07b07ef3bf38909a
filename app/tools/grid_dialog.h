#pragma once
// The Grid action's small dialog: the coordinates of the crossing snapped,
// the grid's spacing and its coordinate system, as typed.
#include <QDialog>
#include <QString>

#include <optional>

class QLineEdit;

struct TGridSettings {
    QString East;    // Y (east), or longitude with a geographic grid
    QString North;   // X (north), or latitude
    QString Spacing; // "D" or "D,D_NORTH"
    QString GridCrs; // the grid's system; empty: the workbench's
    bool operator==(const TGridSettings&) const = default;
};

class TGridDialog : public QDialog {
    Q_OBJECT
public:
    // where: the crossing's pixel as the table shows it.
    TGridDialog(const TGridSettings& settings, const QString& where, QWidget* parent = nullptr);
    TGridSettings Settings() const;

    // Shows the dialog; nothing when cancelled.
    static std::optional<TGridSettings> Ask(const TGridSettings& settings, const QString& where, QWidget* parent);

private:
    QLineEdit* FEast;
    QLineEdit* FNorth;
    QLineEdit* FSpacing;
    QLineEdit* FGridCrs;
};
