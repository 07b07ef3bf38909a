#pragma once
// Image1: the picture at its natural size or reduced, painted only where it
// is exposed: at 1:1 row by row from the bitmap's own memory, reduced from
// the overview, which a background thread builds once the bitmap is known.
// A press reports the image's pixel column and row under the cursor, and so
// does every move. The control points are marked over the picture (not
// drawn into it), where they lie at every scale.
#include "app/zoom_window.h"
#include "platform/picture.h"

#include <QImage>
#include <QPointF>
#include <QWidget>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

class TOverviewPyramid;

class TBitmap;

struct TPointMarker {
    int Number = 0;
    QPointF Pixel;
    bool Check = false;     // a check point, drawn apart from the fitted ones
    bool Selected = false;  // the point the next click places
    bool operator==(const TPointMarker&) const = default;
};

class TImageView : public QWidget, public TZoomPicture {
    Q_OBJECT
public:
    explicit TImageView(QWidget* parent = nullptr);
    ~TImageView() override;

    TPicture& Picture() { return FPicture; }

    // Decodes a picture that is not a bitmap itself (a JPEG, an icon) when it
    // has not been yet; the first paint asks for it.
    void DecodeNow();
    bool DecodePending() const;

    // View pixels per image pixel (1 at 1:1); the control takes the picture's
    // size at that scale.
    void SetScale(double scale);
    double Scale() const { return FScale; }
    // The view position of the centre of image pixel (column, row).
    QPointF ViewOfPixel(int column, int row) const;
    // The same for a position with decimals.
    QPointF ViewOfPosition(const QPointF& pixel) const;
    // The overview in use, once every level is built; null before.
    const TOverviewPyramid* Overview() const;
    // Waits for the overview (tests and measurements).
    void WaitForOverview();

    // For the magnifier: the real pixels under the cursor while reduced.
    bool PixelAt(const QPoint& screen, QPoint& pixel, QSize& size) override;
    QImage Pixels(const QRect& rect) override;
    // The control points to mark; Pixel is (column, row) with decimals,
    // integer values at pixel centres.
    void SetMarkers(std::vector<TPointMarker> markers);
    const std::vector<TPointMarker>& Markers() const { return FMarkers; }

signals:
    // Any mouse button pressed at pixel column x, row y; at is the image
    // position under the cursor's tip with decimals (pixel centres at
    // integers), modifiers the keys held.
    void mouseDown(int x, int y, QPointF at, Qt::KeyboardModifiers modifiers);
    // A decode starts or ends (for the progress bar).
    void decodeBusy(bool busy);
    // Another picture (or none) is in place; its size may differ.
    void pictureReplaced();
    // Every level of the overview is built.
    void overviewReady();
    // The cursor moved onto pixel column x, row y; left: it left the picture.
    void mouseMove(int x, int y);
    void mouseLeft();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void PictureChanged();
    void PaintBitmap(QPainter& painter, const TBitmap& bitmap, const QRect& exposed);
    void PaintReduced(QPainter& painter, const TBitmap& bitmap, const QRect& exposed);
    void PaintSampled(QPainter& painter, const TBitmap& bitmap, const QRect& exposed);
    void StartOverview();
    void StopOverview();
    void FitToScale();
    void PaintMarkers(QPainter& painter) const;

    TPicture FPicture;
    TGraphic* FGraphic = nullptr;   // the graphic the fields below describe
    TBitmap* FBitmap = nullptr;     // its view bitmap, once known
    bool FDecodeFailed = false;
    bool FDecoding = false;
    bool FDecodeQueued = false;
    bool FPaintFailed = false;
    double FScale = 1.0;
    std::shared_ptr<TOverviewPyramid> FOverview;
    std::atomic<bool> FStopOverview{false};
    std::thread FOverviewThread;
    QImage FScaled;                 // the view at a scale between levels
    int FScaledLevel = 0;           // the overview level it was made from
    std::vector<TPointMarker> FMarkers;
};
