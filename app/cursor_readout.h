#pragma once
// The status bar's readout of the cursor: the pixel under it and, once the
// points allow a fit, its map coordinates by that fit.
#include <QLabel>

class TFitMonitor;

class TCursorReadout : public QLabel {
    Q_OBJECT
public:
    TCursorReadout(TFitMonitor& fit, QWidget* parent);
    void Show(int x, int y);

private:
    TFitMonitor& FFit;
};
