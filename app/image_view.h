#pragma once
// Image1: the picture at its natural size or reduced, painted only where it
// is exposed: at 1:1 row by row from the bitmap's own memory, reduced from
// the overview, which a background thread builds once the bitmap is known.
// A press reports the image's pixel column and row under the cursor.
#include "platform/picture.h"

#include <QPointF>
#include <QWidget>

#include <atomic>
#include <memory>
#include <thread>

class TOverviewPyramid;

class TBitmap;

class TImageView : public QWidget {
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
    // The overview in use, once every level is built; null before.
    const TOverviewPyramid* Overview() const;
    // Waits for the overview (tests and measurements).
    void WaitForOverview();

signals:
    // Any mouse button pressed at pixel column x, row y.
    void mouseDown(int x, int y);
    // A decode starts or ends (for the progress bar).
    void decodeBusy(bool busy);
    // Another picture (or none) is in place; its size may differ.
    void pictureReplaced();
    // Every level of the overview is built.
    void overviewReady();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void PictureChanged();
    void PaintBitmap(QPainter& painter, const TBitmap& bitmap, const QRect& exposed);
    void PaintReduced(QPainter& painter, const TBitmap& bitmap, const QRect& exposed);
    void PaintSampled(QPainter& painter, const TBitmap& bitmap, const QRect& exposed);
    void StartOverview();
    void StopOverview();
    void FitToScale();

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
};
