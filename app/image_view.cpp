#include "app/image_view.h"

#include "app/application.h"
#include "app/overview_pyramid.h"
#include "app/view_geometry.h"
#include "platform/bitmap.h"

#include <QImage>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include <algorithm>
#include <cmath>

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
    FPicture.OnChanging = [this](TGraphic*) { StopOverview(); };
}

TImageView::~TImageView()
{
    StopOverview();
    FPicture.OnChange = nullptr;
    FPicture.OnChanging = nullptr;
    FPicture.OnProgress = nullptr;
}

void TImageView::StopOverview()
{
    if (FOverviewThread.joinable()) {
        FStopOverview = true;
        FOverviewThread.join();
    }
    FOverview.reset();
}

void TImageView::StartOverview()
{
    StopOverview();
    if (!FBitmap || FBitmap->Empty() || TOverviewPyramid::LevelCount(FBitmap->Width(), FBitmap->Height()) == 0)
        return;
    FStopOverview = false;
    auto overview = std::make_shared<TOverviewPyramid>();
    FOverview = overview;
    const TBitmap* bitmap = FBitmap;
    FOverviewThread = std::thread([this, overview, bitmap] {
        overview->Build(*bitmap, FStopOverview);
        if (FStopOverview)
            return;
        // Runs on the GUI thread; dropped when the view is gone by then.
        QMetaObject::invokeMethod(this, [this, overview] {
            if (FOverview != overview)
                return;
            if (FScale < 1.0)
                update();
            emit overviewReady();
        }, Qt::QueuedConnection);
    });
}

const TOverviewPyramid* TImageView::Overview() const
{
    return FOverview && FOverview->ReadyLevels() == FOverview->Levels() ? FOverview.get() : nullptr;
}

void TImageView::WaitForOverview()
{
    if (FOverviewThread.joinable())
        FOverviewThread.join();
}

void TImageView::SetScale(double scale)
{
    FScale = scale;
    FitToScale();
    update();
}

void TImageView::FitToScale()
{
    const int width = FPicture.Width();
    const int height = FPicture.Height();
    // An empty picture leaves the control as it was.
    if (width > 0 && height > 0)
        resize(ViewExtent(width, FScale), ViewExtent(height, FScale));
}

QPointF TImageView::ViewOfPixel(int column, int row) const
{
    return {ViewOfPixelCentre(column, FScale), ViewOfPixelCentre(row, FScale)};
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
        FScaled = QImage();
        if (FBitmap)
            StartOverview();
        emit pictureReplaced();
    }
    FitToScale();
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
        if (graphic == FGraphic) {
            FBitmap = &bitmap;
            StartOverview();
        }
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
    const QRect exposed = event->rect() & QRect(0, 0, ViewExtent(FBitmap->Width(), FScale),
                                                ViewExtent(FBitmap->Height(), FScale));
    if (exposed.isEmpty())
        return;
    QPainter painter(this);
    try {
        if (FScale >= 1.0)
            PaintBitmap(painter, *FBitmap, exposed);
        else
            PaintReduced(painter, *FBitmap, exposed);
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
    // Direct colour rows are drawn from the bitmap's memory as they are.
    if (bitmap.PixelFormat() == bf24Bit || bitmap.PixelFormat() == bf32Bit) {
        const QImage rows(bitmap.ScanLine(0), bitmap.Width(), bitmap.Height(), bitmap.RowStride(),
                          bitmap.PixelFormat() == bf24Bit ? QImage::Format_BGR888 : format);
        painter.drawImage(exposed.topLeft(), rows, exposed);
        return;
    }
    const int bandRows = std::min(kBandRows, exposed.height());
    QImage band(exposed.width(), bandRows, format);
    for (int top = exposed.top(); top <= exposed.bottom(); top += bandRows) {
        const int rows = std::min(bandRows, exposed.bottom() + 1 - top);
        for (int i = 0; i < rows; ++i)
            bitmap.RowToARGB(top + i, exposed.left(), exposed.width(), reinterpret_cast<uint32_t*>(band.scanLine(i)));
        painter.drawImage(QPoint(exposed.left(), top), band, QRect(0, 0, exposed.width(), rows));
    }
}

// From the overview level at least as fine as the scale, or from the finest
// level built so far while the rest is still being made.
void TImageView::PaintReduced(QPainter& painter, const TBitmap& bitmap, const QRect& exposed)
{
    const int ready = FOverview ? FOverview->ReadyLevels() : 0;
    const int level = std::min(OverviewLevelFor(FScale, TOverviewPyramid::kMaxLevels), ready);
    if (level == 0) {
        PaintSampled(painter, bitmap, exposed);
        return;
    }
    const TOverviewLevel& overview = FOverview->Level(level);
    static constexpr QImage::Format kFormats[] = {QImage::Format_Invalid, QImage::Format_Grayscale8,
                                                  QImage::Format_Invalid, QImage::Format_BGR888,
                                                  QImage::Format_ARGB32};
    const QImage image(overview.Pixels.data(), overview.Width, overview.Height,
                       qsizetype(overview.Width) * overview.BytesPerPixel, kFormats[overview.BytesPerPixel]);
    const double factor = 1.0 / (FScale * (1 << level));
    if (std::abs(factor - 1.0) < 1e-9) {
        painter.drawImage(exposed.topLeft(), image, exposed);
        return;
    }
    // Between levels (fit): the whole view is scaled once, smoothly, and kept
    // for the repaints that follow; it is no larger than the view's window.
    const QSize size(ViewExtent(bitmap.Width(), FScale), ViewExtent(bitmap.Height(), FScale));
    if (FScaled.size() != size || FScaledLevel != level) {
        FScaled = QImage(size, overview.BytesPerPixel == 4 ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        FScaled.fill(Qt::white);
        QPainter scaler(&FScaled);
        scaler.setRenderHint(QPainter::SmoothPixmapTransform, true);
        scaler.drawImage(QRectF(0, 0, size.width(), size.height()), image,
                         QRectF(0, 0, size.width() * factor, size.height() * factor));
        FScaledLevel = level;
    }
    painter.drawImage(exposed.topLeft(), FScaled, exposed);
}

// Nearest pixels straight from the bitmap, until the overview is there.
void TImageView::PaintSampled(QPainter& painter, const TBitmap& bitmap, const QRect& exposed)
{
    QImage band(exposed.width(), 1, QImage::Format_RGB32);
    auto* out = reinterpret_cast<uint32_t*>(band.scanLine(0));
    for (int y = exposed.top(); y <= exposed.bottom(); ++y) {
        const int row = ImagePixelAt(y, FScale, bitmap.Height());
        for (int x = 0; x < exposed.width(); ++x)
            bitmap.RowToARGB(row, ImagePixelAt(exposed.left() + x, FScale, bitmap.Width()), 1, out + x);
        painter.drawImage(QPoint(exposed.left(), y), band);
    }
}

// A fitted point is an upright cross where it lies, a check point a
// diagonal one, each with its number above right, in red or blue on a
// white outline so that it shows on any map; the selected point has a ring.
void TImageView::PaintMarkers(QPainter& painter) const
{
    QFont font = painter.font();
    font.setPixelSize(11);
    font.setBold(true);
    painter.setFont(font);
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (const TPointMarker& marker : FMarkers) {
        const QPointF at = ViewOfPosition(marker.Pixel);
        const QColor ink = marker.Check ? QColor(0, 80, 220) : QColor(Qt::red);
        const double arm = marker.Check ? kMarkerArm * 0.75 : kMarkerArm;
        const QPointF across = marker.Check ? QPointF(arm, arm) : QPointF(arm, 0);
        const QPointF down = marker.Check ? QPointF(arm, -arm) : QPointF(0, arm);
        for (const auto& [colour, width] : {std::pair{QColor(Qt::white), 3}, std::pair{ink, 1}}) {
            painter.setPen(QPen(colour, width));
            painter.drawLine(at - across, at + across);
            painter.drawLine(at - down, at + down);
            if (marker.Selected) {
                painter.setBrush(Qt::NoBrush);
                painter.drawEllipse(at, kMarkerArm + 3, kMarkerArm + 3);
            }
        }
        const QPointF text = at + QPointF(kMarkerArm - 1, -kMarkerArm + 1);
        QPainterPath path;
        path.addText(text, font, QString::number(marker.Number));
        painter.strokePath(path, QPen(Qt::white, 3));
        painter.fillPath(path, ink);
    }
}

QPointF TImageView::ViewOfPosition(const QPointF& pixel) const
{
    return {(pixel.x() + 0.5) * FScale, (pixel.y() + 0.5) * FScale};
}

void TImageView::SetMarkers(std::vector<TPointMarker> markers)
{
    if (markers == FMarkers)
        return;
    auto area = [this](const TPointMarker& marker) {
        const QPointF at = ViewOfPosition(marker.Pixel);
        return QRect(at.toPoint(), QSize(1, 1)).adjusted(-kMarkerReach, -kMarkerReach, kMarkerReach, kMarkerReach);
    };
    for (const TPointMarker& marker : FMarkers)
        update(area(marker));
    FMarkers = std::move(markers);
    for (const TPointMarker& marker : FMarkers)
        update(area(marker));
}

bool TImageView::PixelAt(const QPoint& screen, QPoint& pixel, QSize& size)
{
    if (FScale >= 1.0 || !FBitmap || FBitmap->Empty() || !isVisible())
        return false;
    const QPoint at = mapFromGlobal(screen);
    if (!visibleRegion().contains(at))
        return false;
    pixel = QPoint(ImagePixelAt(at.x(), FScale, FBitmap->Width()), ImagePixelAt(at.y(), FScale, FBitmap->Height()));
    size = QSize(FBitmap->Width(), FBitmap->Height());
    return true;
}

QImage TImageView::Pixels(const QRect& rect)
{
    QImage pixels(rect.size(), QImage::Format_RGB32);
    pixels.fill(Qt::white);
    const QRect inside = rect & QRect(0, 0, FBitmap ? FBitmap->Width() : 0, FBitmap ? FBitmap->Height() : 0);
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        FBitmap->RowToARGB(y, inside.left(), inside.width(),
                           reinterpret_cast<uint32_t*>(pixels.scanLine(y - rect.top())) + (inside.left() - rect.left()));
    return pixels;
}

void TImageView::mousePressEvent(QMouseEvent* event)
{
    const QPointF at = event->position();
    const int width = FPicture.Width();
    const int height = FPicture.Height();
    if (width <= 0 || height <= 0) {
        emit mouseDown(at.toPoint().x(), at.toPoint().y(), at, event->modifiers());
        return;
    }
    // The middle of the view pixel under the cursor in image pixels: at a
    // reduced scale one view pixel covers several image pixels.
    const QPointF tip((std::floor(at.x()) + 0.5) / FScale - 0.5, (std::floor(at.y()) + 0.5) / FScale - 0.5);
    emit mouseDown(ImagePixelAt(std::floor(at.x()), FScale, width), ImagePixelAt(std::floor(at.y()), FScale, height),
                   tip, event->modifiers());
}

void TImageView::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    if (rect().contains(at))
        emit mouseMove(ImagePixelAt(std::floor(event->position().x()), FScale, std::max(1, FPicture.Width())),
                       ImagePixelAt(std::floor(event->position().y()), FScale, std::max(1, FPicture.Height())));
    else
        emit mouseLeft();
}

void TImageView::leaveEvent(QEvent*)
{
    emit mouseLeft();
}
