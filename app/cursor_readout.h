#pragma once
// The status bar's readout of the cursor: the pixel under it and, once the
// points allow a fit, its map coordinates by that fit; before that, by the
// georeferencing the picture already has. A picture with georeferencing of
// its own has its system's name after them.
#include "georef/transforms.h"

#include <QLabel>

#include <optional>

class TFitMonitor;

class TCursorReadout : public QLabel {
    Q_OBJECT
public:
    TCursorReadout(TFitMonitor& fit, QWidget* parent);
    void Show(int x, int y);
    // The picture's own georeferencing (pixel centres at integers), its
    // system's name (empty when it names none) and the decimals of its map
    // units; nothing for none.
    void SetExisting(std::optional<TAffineTransform> transform, const QString& name, int decimals);

private:
    TFitMonitor& FFit;
    std::optional<TAffineTransform> FExisting;
    QString FExistingName;
    int FExistingDecimals = 3;
};
