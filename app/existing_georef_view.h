#pragma once
// The georeferencing a picture already has, in the workbench. Read when the
// picture is opened: the status bar's readout shows the map coordinates
// under the cursor by it, with its system's name, until the points give a
// fit of their own; its system goes into the bar for Save; a blank point
// list starts from it (two or four points a tenth of the picture in from its
// corners, their map coordinates from it, so that Save as it stands writes the same
// georeferencing again, and every point stays to be moved or typed over);
// and a point placed by a click gets its map coordinates from it, unless
// they were typed.
#include "georef/existing_georef.h"

#include <QObject>
#include <QString>

#include <optional>
#include <string>
#include <vector>

class TForm1;

class TExistingGeorefView : public QObject {
    Q_OBJECT
public:
    explicit TExistingGeorefView(TForm1& form);
    // After the picture fileName is in place.
    void Opened(const std::string& fileName);
    const std::optional<TExistingGeoref>& Georef() const { return FGeoref; }

private:
    void StartPoints();
    void Placed(int number);
    // The map coordinates it gives at pixel (col, row), as the boxes show them.
    std::pair<QString, QString> MapTexts(double col, double row) const;

    TForm1& FForm;
    std::optional<TExistingGeoref> FGeoref;
    // Per row, the map coordinates filled from it: a click may fill them
    // again, a point typed over keeps what was typed.
    std::vector<std::pair<QString, QString>> FFilled;
};
