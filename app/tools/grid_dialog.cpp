#include "app/tools/grid_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace {

QLineEdit* MakeEdit(QWidget* parent, const QString& text, const QString& tip)
{
    auto* edit = new QLineEdit(text, parent);
    edit->setToolTip(tip);
    edit->setMinimumWidth(160);
    return edit;
}

} // namespace

TGridDialog::TGridDialog(const TGridSettings& settings, const QString& where, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Grid"));
    auto* intro = new QLabel(QStringLiteral("Every crossing of the grid or graticule is numbered from the one at %1 "
                                            "and placed as a point.")
                                 .arg(where),
                             this);
    intro->setWordWrap(true);
    const QString angles = QStringLiteral("; with a geographic system degrees, decimal or as 83\u00b050'30\"E");
    FEast = MakeEdit(this, settings.East, QStringLiteral("The crossing's Y (east) or longitude") + angles);
    FNorth = MakeEdit(this, settings.North, QStringLiteral("The crossing's X (north) or latitude") + angles);
    FSpacing = MakeEdit(this, settings.Spacing,
                        QStringLiteral("The grid's spacing in its system's units, one for both directions or east "
                                       "and north apart (1000 or 0\u00b05',0\u00b05')"));
    FGridCrs = MakeEdit(this, settings.GridCrs,
                        QStringLiteral("The grid's coordinate system (EPSG code or name); the points are converted "
                                       "into the workbench's system when it differs. Empty: the workbench's"));
    FGridCrs->setPlaceholderText(QStringLiteral("EPSG code"));
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Y (east) or longitude"), FEast);
    form->addRow(QStringLiteral("X (north) or latitude"), FNorth);
    form->addRow(QStringLiteral("Spacing"), FSpacing);
    form->addRow(QStringLiteral("Grid's system"), FGridCrs);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addWidget(buttons);
    (settings.East.isEmpty() ? FEast : FSpacing)->setFocus();
}

TGridSettings TGridDialog::Settings() const
{
    return {FEast->text().trimmed(), FNorth->text().trimmed(), FSpacing->text().trimmed(),
            FGridCrs->text().trimmed()};
}

std::optional<TGridSettings> TGridDialog::Ask(const TGridSettings& settings, const QString& where, QWidget* parent)
{
    TGridDialog dialog(settings, where, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Settings();
}
