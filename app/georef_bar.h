#pragma once
// The top bar's room right of its three buttons: the coordinate reference
// system (an EPSG code or name, its full name beside it, remembered for the
// next run), the rotation switch and the snap switch, the buttons of the
// panels, and the check of the points as the fit monitor measures them.
#include "georef/crs.h"

#include <QWidget>

class QCheckBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class TFitMonitor;

class TGeorefBar : public QWidget {
    Q_OBJECT
public:
    TGeorefBar(TFitMonitor& fit, QWidget* parent);

    // The system in the field; raises for an unknown one (Save stops there).
    TCrs CurrentCrs() const;
    void CrsEditDone();        // looks the system up and shows its name
    void SetCrs(const QString& id);
    void RememberCrs() const;  // after a Save: the field for the next run

    QLabel* CrsCaption;
    QLineEdit* CrsEdit;
    QLabel* CrsNameLabel;      // its full name, or why it is unknown
    QCheckBox* RotateCheck;    // similarity transformation instead of the two-point one
    QCheckBox* SnapCheck;      // a click snaps to the printed crossing under it
    QHBoxLayout* PanelButtons; // where the panels' buttons go
    QLabel* CheckLabel;        // the check of the two points, or the residuals of many

private:
    void BuildCrsRow(QHBoxLayout* row);
    void FitUpdated();
    void RotateToggled(bool rotate);

    TFitMonitor& FFit;
};
