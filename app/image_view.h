#pragma once
// Image1: the picture at its natural size, painted row by row from the
// bitmap's own memory, only where it is exposed. A press reports the pixel
// column and row under the cursor, and so does every move. The two picked
// points are marked over the picture (not drawn into it).
#include "platform/picture.h"

#include <QPointF>
#include <QWidget>

#include <optional>

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

    // The pixel (column, row) of control point 1 or 2, or none.
    void SetMarker(int point, std::optional<QPointF> pixel);
    std::optional<QPointF> Marker(int point) const { return FMarkers[point == 1 ? 0 : 1]; }

signals:
    // Any mouse button pressed at pixel column x, row y.
    void mouseDown(int x, int y);
    // A decode starts or ends (for the progress bar).
    void decodeBusy(bool busy);
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
    void PaintMarkers(QPainter& painter) const;

    TPicture FPicture;
    TGraphic* FGraphic = nullptr;   // the graphic the fields below describe
    TBitmap* FBitmap = nullptr;     // its view bitmap, once known
    bool FDecodeFailed = false;
    bool FDecoding = false;
    bool FDecodeQueued = false;
    bool FPaintFailed = false;
    std::optional<QPointF> FMarkers[2];
};
