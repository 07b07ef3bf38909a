#pragma once
// The two-point panel as a view on points 1 and 2 of the point list: the
// " Local " value labels show their pixel rows and columns, the " Global "
// boxes their map coordinates (typing goes into the list), the radio
// buttons which of the two the next click places, and placing point 2
// moves the keyboard focus to the first box.
#include <QObject>

class QLabel;
class QLineEdit;
class QRadioButton;
class TPointList;

class TTwoPointView : public QObject {
    Q_OBJECT
public:
    struct TControls {
        QLabel* Row1;   // Label21
        QLabel* Col1;   // Label23
        QLabel* Row2;   // Label27
        QLabel* Col2;   // Label29
        QLineEdit* Boxes[4]; // Y1, X1, Y2, X2
        QRadioButton* First;
        QRadioButton* Second;
    };
    TTwoPointView(TPointList& points, const TControls& controls, QObject* parent = nullptr);

private:
    void Show();

    TPointList& FPoints;
    TControls FControls;
    bool FShowing = false;
};
