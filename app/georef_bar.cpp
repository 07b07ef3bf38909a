#include "app/georef_bar.h"

#include "app/application.h"
#include "app/fit_monitor.h"
#include "georef/fit_methods.h"
#include "platform/exceptions.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QVBoxLayout>

namespace {

const QString kCrsKey = QStringLiteral("georeferencing/crs");
const QString kWarningStyle = QStringLiteral("color: #b00000;");

QSettings Settings()
{
    return QSettings(QStringLiteral("Pinwright"), QStringLiteral("pinwright"));
}

QString Name(std::string_view name)
{
    return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}

bool Rotated(const QString& transform)
{
    return FindFitMethod(transform.toStdString()).DefaultFor == TFitDefault::Rotated;
}

} // namespace

TGeorefBar::TGeorefBar(TFitMonitor& fit, QWidget* parent) : QWidget(parent), FFit(fit)
{
    auto* crsRow = new QHBoxLayout;
    BuildCrsRow(crsRow);
    RotateCheck = new QCheckBox(QStringLiteral("Rotation"), this);
    RotateCheck->setToolTip(QStringLiteral("One scale and a rotation, both points fitted exactly"));
    SnapCheck = new QCheckBox(QStringLiteral("Snap"), this);
    SnapCheck->setChecked(true);
    SnapCheck->setToolTip(QStringLiteral("A click lands on the crossing or corner of printed lines under it, to a "
                                         "fraction of a pixel; hold Shift while clicking to place a point on the "
                                         "whole pixel clicked"));
    CheckLabel = new QLabel(this);
    CheckLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    PanelButtons = new QHBoxLayout;
    PanelButtons->setSpacing(4);
    auto* switches = new QHBoxLayout;
    switches->setSpacing(4);
    switches->addWidget(RotateCheck);
    switches->addWidget(SnapCheck);
    switches->addLayout(PanelButtons);
    switches->addWidget(CheckLabel, 1);
    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(3);
    rows->addLayout(crsRow);
    rows->addLayout(switches);

    connect(CrsEdit, &QLineEdit::editingFinished, this, [this] { RunGuarded([this] { CrsEditDone(); }); });
    connect(RotateCheck, &QCheckBox::toggled, this, &TGeorefBar::RotateToggled);
    connect(&FFit, &TFitMonitor::updated, this, &TGeorefBar::FitUpdated);
    connect(&FFit, &TFitMonitor::settingsChanged, this,
            [this] { RotateCheck->setChecked(Rotated(FFit.Transform())); });
    SetCrs(Settings().value(kCrsKey).toString());
}

void TGeorefBar::BuildCrsRow(QHBoxLayout* row)
{
    CrsCaption = new QLabel(QStringLiteral("System"), this);
    CrsEdit = new QLineEdit(this);
    CrsEdit->setFixedSize(90, 21);
    CrsEdit->setPlaceholderText(QStringLiteral("EPSG code"));
    CrsEdit->setToolTip(QStringLiteral("Coordinate reference system: an EPSG code or its name"));
    CrsNameLabel = new QLabel(this);
    // A long name or check is cut at the window's edge; it never widens the window.
    CrsNameLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    row->setSpacing(4);
    row->addWidget(CrsCaption);
    row->addWidget(CrsEdit);
    row->addWidget(CrsNameLabel, 1);
}

// The rotation switch is the table's choice for two points with rotation:
// the two stay in step.
void TGeorefBar::RotateToggled(bool rotate)
{
    if (rotate)
        FFit.SetTransform(Name(DefaultFitMethod(TFitDefault::Rotated).Name));
    else if (Rotated(FFit.Transform()))
        FFit.SetTransform(Name(DefaultFitMethod(TFitDefault::Plain).Name));
}

void TGeorefBar::FitUpdated()
{
    CheckLabel->setText(FFit.Summary());
    CheckLabel->setToolTip(FFit.Details());
    CheckLabel->setStyleSheet(FFit.Warning() ? kWarningStyle : QString());
}

TCrs TGeorefBar::CurrentCrs() const
{
    return LookupCrs(CrsEdit->text().toStdString());
}

void TGeorefBar::SetCrs(const QString& id)
{
    CrsEdit->setText(id);
    if (!id.isEmpty())
        CrsEditDone();
}

void TGeorefBar::CrsEditDone()
{
    CrsNameLabel->setStyleSheet(QString());
    try {
        CrsNameLabel->setText(QString::fromStdString(CurrentCrs().Name));
    } catch (const Exception& error) {
        CrsNameLabel->setStyleSheet(kWarningStyle);
        CrsNameLabel->setText(QString::fromStdString(error.Message()));
    }
    CrsNameLabel->setToolTip(CrsNameLabel->text());
}

void TGeorefBar::RememberCrs() const
{
    QSettings settings = Settings();
    if (settings.value(kCrsKey).toString() != CrsEdit->text())
        settings.setValue(kCrsKey, CrsEdit->text());
}
