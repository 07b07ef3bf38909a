#pragma once
// The main window's controls as designed: their names, texts, places and
// sizes, built into the window by SetupControls, as a designer file would
// build them. The top bar, the right panel with its " Local " and
// " Global " groups and Save, the image area and the status bar keep their
// designed geometry; the window's layout stretches the image area and
// keeps the rest.
#include "app/controls.h"

class QBoxLayout;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QToolButton;
class TImageView;

struct TForm1Controls {
    // Top bar.
    TPanel* Panel4;
    QToolButton* SpeedButton2;  // Open
    QToolButton* SpeedButton3;  // Help
    QToolButton* SpeedButton4;  // Close
    QPlainTextEdit* Memo1;      // hidden, the message texts

    // Right panel, " Local ".
    TPanel* Panel2;
    QGroupBox* GroupBox6;
    QRadioButton* RadioButton1;
    QRadioButton* RadioButton2;
    QLabel* Label20;            // "y1 :"
    QLabel* Label22;            // "x1 :"
    QLabel* Label26;            // "y2 :"
    QLabel* Label28;            // "x2 :"
    QLabel* Label21;            // row of point 1
    QLabel* Label23;            // column of point 1
    QLabel* Label27;            // row of point 2
    QLabel* Label29;            // column of point 2
    TPanel* Panel3;             // zoom toggle
    TImage* Image3;

    // Right panel, " Global ".
    QGroupBox* GroupBox7;
    QLabel* Label16;            // "Y1"
    QLabel* Label17;            // "X1"
    QLabel* Label18;            // "Y2"
    QLabel* Label19;            // "X2"
    QLineEdit* Edit16;          // Y of point 1
    QLineEdit* Edit17;          // X of point 1
    QLineEdit* Edit18;          // Y of point 2
    QLineEdit* Edit19;          // X of point 2
    QToolButton* SpeedButton1;  // Load file
    TPanel* Panel1;             // sign toggle, pressed while its inner bevel is lowered
    TImage* Image2;
    QPushButton* Button11;      // Save

    // Image area and status bar.
    TPanel* Panel5;
    QScrollArea* ScrollBox1;
    TImageView* Image1;
    TStatusBar* StatusBar1;

    // Builds every control above into form at its designed place. The
    // layouts that take more: beside the top bar's buttons (topRoom), under
    // the image area (imageColumn).
    void SetupControls(QWidget* form);
    QBoxLayout* TopRoom = nullptr;
    QBoxLayout* ImageColumn = nullptr;

private:
    void SetupTopBar(QWidget* form);
    void SetupLocalGroup();
    void SetupGlobalGroup();
    void SetupImageArea(QWidget* form);
};
