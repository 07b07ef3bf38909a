#pragma once
// Image1: the picture at its natural size, painted row by row from the
// bitmap's own memory, only where it is exposed. A press reports the pixel
// column and row under the cursor.
#include "platform/picture.h"

#include <QWidget>

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

signals:
    // Any mouse button pressed at pixel column x, row y.
    void mouseDown(int x, int y);
    // A decode starts or ends (for the progress bar).
    void decodeBusy(bool busy);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void PictureChanged();
    void PaintBitmap(QPainter& painter, const TBitmap& bitmap, const QRect& exposed);

    TPicture FPicture;
    TGraphic* FGraphic = nullptr;   // the graphic the fields below describe
    TBitmap* FBitmap = nullptr;     // its view bitmap, once known
    bool FDecodeFailed = false;
    bool FDecoding = false;
    bool FDecodeQueued = false;
    bool FPaintFailed = false;
};
