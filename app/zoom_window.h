#pragma once
// TForm2: the always-on-top magnifier. Every 25 ms it copies the screen
// around the cursor, enlarged 2, 4, 6 or 8 times, with an optional crosshair
// on the cursor's pixel; over the window itself it shows its controls.
#include "app/controls.h"

#include <QImage>
#include <QWidget>

class QCheckBox;
class QGroupBox;
class QSlider;
class QTimer;

// Where the magnifier reads the cursor and the screen (the tests put a
// made-up screen in its place).
class TZoomScreen {
public:
    virtual ~TZoomScreen() = default;
    virtual QPoint CursorPos();
    // Size of the primary screen.
    virtual QSize ScreenSize();
    // The screen's pixels in rect (screen coordinates); null when they cannot be had.
    virtual QImage Grab(const QRect& rect);
};

// Image1 of the magnifier: shows its picture unscaled at its origin.
class TZoomImage : public QWidget {
    Q_OBJECT
public:
    explicit TZoomImage(QWidget* parent = nullptr);
    // The bitmap refreshes draw on; null until the first refresh after a resize.
    QImage Picture;

protected:
    void paintEvent(QPaintEvent* event) override;
};

class TForm2 : public QWidget {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);
    ~TForm2() override;

    void FormResize();
    void Timer1Timer();
    void FormDestroy();

    // The screen read by refreshes; null puts the real one back.
    void SetScreen(TZoomScreen* screen);

    TPanel* Panel1;
    QGroupBox* GroupBox1;
    QSlider* Slider;
    QLabel* Label1;   // "2 x"
    QLabel* Label2;   // "4 x"
    QLabel* Label3;   // "6 x"
    QLabel* Label4;   // "8 x"
    QCheckBox* cbSrediste;
    TZoomImage* Image1;
    QTimer* Timer1;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void ApplySizeLimits();
    void Refresh(const QPoint& cursor);

    TZoomScreen FDesktop;
    TZoomScreen* FScreen = &FDesktop;
    QSize FFrameExtra{-1, -1};
};
