#pragma once
// TForm2: the always-on-top magnifier. Every 25 ms it copies the screen
// around the cursor, enlarged 2, 4, 6 or 8 times, with an optional crosshair
// on the cursor's pixel; over the window itself it shows its controls.
#include "app/controls.h"
#include "platform/graphic.h"

#include <QImage>
#include <QPointF>
#include <QPointer>
#include <QWidget>

#include <vector>

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

// What the magnifier marks over its picture where a point was picked: the
// whole pixel clicked, and the crossing the click snapped to.
struct TZoomMark {
    enum TKind { zmPickedPixel, zmSnappedCross };
    TKind Kind = zmPickedPixel;
    QPointF Pixel; // position in the picture, integer values at pixel centres
    bool operator==(const TZoomMark&) const = default;
};

// A picture shown reduced on the screen: where the cursor is over it, the
// magnifier enlarges the picture's own pixels instead of the screen's.
class TZoomPicture {
public:
    virtual ~TZoomPicture() = default;
    // The picture's pixel under a screen position and the picture's size;
    // false where the screen shows the picture at its natural size or not at all.
    virtual bool PixelAt(const QPoint& screen, QPoint& pixel, QSize& size) = 0;
    // The picture's pixels in rect (inside the picture).
    virtual QImage Pixels(const QRect& rect) = 0;
    // The marks to draw, and where a picture position lies on the screen
    // (screen pixel x spans x to x + 1); false while the picture is not shown.
    virtual std::vector<TZoomMark> Marks() { return {}; }
    virtual bool ScreenPosition(const QPointF&, QPointF&) { return false; }
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
    // The reduced picture to enlarge instead of the screen, while owner lives.
    void SetPicture(QObject* owner, TZoomPicture* picture);

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
    void DrawMarks(QImage& picture, const TRect& source, bool fromPicture);

    TZoomScreen FDesktop;
    TZoomScreen* FScreen = &FDesktop;
    QPointer<QObject> FPictureOwner;
    TZoomPicture* FPicture = nullptr;
    QSize FFrameExtra{-1, -1};
};
