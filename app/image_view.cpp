#include "app/image_view.h"

#include "app/application.h"
#include "platform/bitmap.h"

#include <QImage>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include <algorithm>

namespace {
// Rows converted per band: bounds the temporary image whatever the exposure.
constexpr int kBandRows = 64;
// Size of the control until a picture is loaded.
constexpr int kDesignSize = 9;
// Half the arm of a point marker, and the room its number needs beside it.
constexpr int kMarkerArm = 6;
constexpr int kMarkerReach = 24;
} // namespace

TImageView::TImageView(QWidget* parent) : QWidget(parent)
{
    setCursor(Qt::CrossCursor);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    resize(kDesignSize, kDesignSize);
    FPicture.OnChange = [this](TGraphic*) { PictureChanged(); };
}

TImageView::~TImageView()
{
    FPicture.OnChange = nullptr;
    FPicture.OnProgress = nullptr;
}

void TImageView::PictureChanged()
{
    TGraphic* graphic = FPicture.Graphic();
    if (graphic != FGraphic) {
        FGraphic = graphic;
        // A bitmap shows itself; anything else is decoded on first paint.
        FBitmap = dynamic_cast<TBitmap*>(graphic);
        FDecodeFailed = false;
        FPaintFailed = false;
    }
    // An empty picture leaves the control as it was.
    if (graphic && graphic->Width() > 0 && graphic->Height() > 0)
        resize(graphic->Width(), graphic->Height());
    update();
}

bool TImageView::DecodePending() const
{
    return FGraphic && !FBitmap && !FDecodeFailed;
}

void TImageView::DecodeNow()
{
    FDecodeQueued = false;
    if (!DecodePending() || FDecoding)
        return;
    TGraphic* graphic = FGraphic;
    FDecoding = true;
    emit decodeBusy(true);
    struct TEnd {
        TImageView* View;
        ~TEnd()
        {
            View->FDecoding = false;
            emit View->decodeBusy(false);
            View->update();
        }
    } end{this};
    try {
        TBitmap& bitmap = graphic->ViewBitmap();
        if (graphic == FGraphic)
            FBitmap = &bitmap;
    } catch (...) {
        // Shown once by the caller; the picture stays blank rather than
        // failing again at every paint.
        if (graphic == FGraphic)
            FDecodeFailed = true;
        throw;
    }
}

void TImageView::paintEvent(QPaintEvent* event)
{
    if (!FBitmap) {
        // Decoding may take a while and report progress, so it runs outside
        // the paint, right after it.
        if (DecodePending() && !FDecoding && !FDecodeQueued) {
            FDecodeQueued = true;
            QTimer::singleShot(0, this, [this] { RunGuarded([this] { DecodeNow(); }); });
        }
        return;
    }
    if (FBitmap->Empty())
        return;
    const QRect exposed = event->rect() & QRect(0, 0, FBitmap->Width(), FBitmap->Height());
    if (exposed.isEmpty())
        return;
    QPainter painter(this);
    try {
        PaintBitmap(painter, *FBitmap, exposed);
        PaintMarkers(painter);
    } catch (const std::exception& error) {
        // No box inside a paint: it is shown once, right after.
        if (!FPaintFailed) {
            FPaintFailed = true;
            const QString message = QString::fromStdString(error.what());
            QTimer::singleShot(0, this, [message] { ShowExceptionBox(message); });
        }
    }
}

void TImageView::PaintBitmap(QPainter& painter, const TBitmap& bitmap, const QRect& exposed)
{
    const bool alpha = bitmap.AlphaPresent() && bitmap.BitsPerPixel() == 32;
    const QImage::Format format = alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    const int bandRows = std::min(kBandRows, exposed.height());
    QImage band(exposed.width(), bandRows, format);
    for (int top = exposed.top(); top <= exposed.bottom(); top += bandRows) {
        const int rows = std::min(bandRows, exposed.bottom() + 1 - top);
        for (int i = 0; i < rows; ++i)
            bitmap.RowToARGB(top + i, exposed.left(), exposed.width(), reinterpret_cast<uint32_t*>(band.scanLine(i)));
        painter.drawImage(QPoint(exposed.left(), top), band, QRect(0, 0, exposed.width(), rows));
    }
}

// A cross at the centre of the point's pixel, its number above right, in
// red on a white outline so that it shows on any map.
void TImageView::PaintMarkers(QPainter& painter) const
{
    QFont font = painter.font();
    font.setPixelSize(11);
    font.setBold(true);
    painter.setFont(font);
    for (int i = 0; i < 2; ++i) {
        if (!FMarkers[i])
            continue;
        const QPointF at = *FMarkers[i] + QPointF(0.5, 0.5);
        const QString number = QString::number(i + 1);
        for (const auto& [colour, width] : {std::pair{QColor(Qt::white), 3}, std::pair{QColor(Qt::red), 1}}) {
            painter.setPen(QPen(colour, width));
            painter.drawLine(at - QPointF(kMarkerArm, 0), at + QPointF(kMarkerArm, 0));
            painter.drawLine(at - QPointF(0, kMarkerArm), at + QPointF(0, kMarkerArm));
        }
        const QPointF text = at + QPointF(kMarkerArm - 1, -kMarkerArm + 1);
        QPainterPath path;
        path.addText(text, font, number);
        painter.strokePath(path, QPen(Qt::white, 3));
        painter.fillPath(path, Qt::red);
    }
}

void TImageView::SetMarker(int point, std::optional<QPointF> pixel)
{
    std::optional<QPointF>& marker = FMarkers[point == 1 ? 0 : 1];
    if (marker == pixel)
        return;
    auto area = [](const QPointF& at) {
        return QRect(at.toPoint(), QSize(1, 1)).adjusted(-kMarkerReach, -kMarkerReach, kMarkerReach, kMarkerReach);
    };
    if (marker)
        update(area(*marker));
    marker = pixel;
    if (marker)
        update(area(*marker));
}

void TImageView::mousePressEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    emit mouseDown(at.x(), at.y());
}

void TImageView::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    if (rect().contains(at))
        emit mouseMove(at.x(), at.y());
    else
        emit mouseLeft();
}

void TImageView::leaveEvent(QEvent*)
{
    emit mouseLeft();
}
