#include "app/image_view.h"

#include "app/application.h"
#include "app/overview_pyramid.h"
#include "app/view_geometry.h"
#include "platform/bitmap.h"
#include "platform/picture.h"

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
// View rows above the last scaled ones that are scaled again when more of
// an overview level comes: the smoothing of a view row reaches one level row
// beyond the rows it stands for, and a view row stands for at least one.
constexpr int kRescaledRowsAbove = 4;
// Size of the control until a picture is loaded.
constexpr int kDesignSize = 9;
// Half the arm of a point marker, the gap that leaves the point itself to be
// seen, and the room its number needs beside it.
constexpr int kMarkerArm = 6;
constexpr double kMarkerGap = 2;
constexpr int kMarkerReach = 24;
} // namespace

TImageView::TImageView(QWidget* parent) : QWidget(parent)
{
    setCursor(Qt::CrossCursor);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    resize(kDesignSize, kDesignSize);
    FPicture.OnChange = [this](TGraphic*) { PictureChanged(); };
    FPicture.OnChanging = [this](TGraphic*) {
        if (!FKeepOverview)
            StopOverview();
    };
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
        FOverviewRows->Wake();
        FOverviewThread.join();
    }
    FOverview.reset();
    FOverviewRows.reset();
    FOverviewOf = nullptr;
}

void TImageView::StartOverview(const TOverviewSource& source, int rows)
{
    StopOverview();
    if (source.Width <= 0 || source.Height <= 0 || TOverviewPyramid::LevelCount(source.Width, source.Height) == 0)
        return;
    FStopOverview = false;
    FAskedLevelRows = 0;
    auto overview = std::make_shared<TOverviewPyramid>();
    auto arrived = std::make_shared<TRowsArrived>();
    arrived->Set(rows);
    FOverview = overview;
    FOverviewRows = arrived;
    FOverviewOf = source.Bits;
    FOverviewThread = std::thread([this, overview, arrived, source] {
        overview->Build(source, *arrived, FStopOverview);
        if (FStopOverview || overview->ReadyLevels() < overview->Levels())
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
    return FOverview && FOverview->Levels() > 0 && FOverview->ReadyLevels() == FOverview->Levels() ? FOverview.get()
                                                                                                 : nullptr;
}

void TImageView::WaitForOverview()
{
    if (FOverviewThread.joinable())
        FOverviewThread.join();
}

QSize TImageView::PictureSize() const
{
    if (FPreview)
        return QSize(FPreview->Width, FPreview->Height);
    return QSize(FPicture.Width(), FPicture.Height());
}

// The overview of a bitmap being loaded reads its rows as the preview
// describes them; it stays with the bitmap once the picture is in place.
void TImageView::RowsArrived(const TBackgroundLoad::TPreview& preview)
{
    const bool first = !FPreview;
    const int before = first ? 0 : FPreview->Rows;
    FPreview = preview;
    if (first) {
        FScaled = QImage();
        StopOverview();
        FitToScale();
        emit pictureReplaced();
    }
    if (preview.Started() && FOverviewOf != preview.Bits) {
        TOverviewSource source;
        source.Width = preview.Width;
        source.Height = preview.Height;
        source.Bits = preview.Bits;
        source.Stride = preview.Stride;
        source.Format = preview.Format;
        source.Palette.assign(preview.Colors.begin(), preview.Colors.end());
        source.BytesPerPixel = preview.Alpha && preview.Format == bf32Bit ? 4
                               : preview.Format == bf24Bit || preview.Format == bf32Bit
                                   ? 3
                                   : std::all_of(preview.Colors.begin(), preview.Colors.end(),
                                                 [](QRgb c) { return qRed(c) == qGreen(c) && qGreen(c) == qBlue(c); })
                                         ? 1
                                         : 3;
        source.RowToARGB = [preview](int y, uint32_t* argb) { preview.RowToARGB(y, 0, preview.Width, argb); };
        StartOverview(source, preview.Rows);
    } else if (FOverviewRows && FOverviewOf == preview.Bits) {
        FOverviewRows->Set(preview.Rows);
    }
    if (first)
        update();
    else
        UpdateArrivedRows(before, preview.Rows);
}

// Only the view's rows that the picture's new rows reach are painted anew
// (none when they lie outside the window): at 1:1 and above those rows, and
// reduced the rows of the overview level painted from that are built since
// the last time, with the few above them that the smoothing of the scaled
// view reaches.
void TImageView::UpdateArrivedRows(int before, int rows)
{
    if (FScale >= 1.0) {
        if (rows > before) {
            const int top = static_cast<int>(std::floor(before * FScale));
            update(QRect(0, top, width(), ViewExtent(rows, FScale) - top));
        }
        return;
    }
    if (!FOverview || FOverview->Levels() == 0)
        return;
    const int level = std::min(OverviewLevelFor(FScale, TOverviewPyramid::kMaxLevels), FOverview->Levels());
    const int built = FOverview->BuiltRows(level);
    if (built <= FAskedLevelRows)
        return;
    const double viewRowsPerLevelRow = FScale * (1 << level);
    const int top = std::max(0, static_cast<int>(FAskedLevelRows * viewRowsPerLevelRow) - kRescaledRowsAbove);
    const int bottom = static_cast<int>(std::ceil(built * viewRowsPerLevelRow)) + 1;
    update(QRect(0, top, width(), bottom - top));
    FAskedLevelRows = built;
}

void TImageView::EndPreview()
{
    if (!FPreview)
        return;
    FPreview.reset();
    StopOverview();
    FScaled = QImage();
    // The picture in place is shown again, with its overview.
    if (FBitmap && !FBitmap->Empty())
        StartOverview(TOverviewSource::Of(*FBitmap), FBitmap->Height());
    FitToScale();
    emit pictureReplaced();
    update();
}

void TImageView::OpenPicture(const std::string& fileName, const TProgressEvent& progress,
                             const std::function<void(TGraphic&)>& check)
{
    std::unique_ptr<TGraphic> graphic = CreatePictureFor(fileName);
    TGraphic* loading = graphic.get();
    const unsigned open = ++FOpenCount;
    FOpening = loading;
    FFirstLook.reset();
    // The first look is handed to this thread as soon as it is decoded.
    const auto firstLook = [this, open, loading, &fileName] {
        DecodeFirstLook(*loading, fileName, [this, open, loading](const TFirstLookPtr& look) {
            QMetaObject::invokeMethod(this, [this, open, loading, look] { FirstLookArrived(open, loading, look); },
                                      Qt::QueuedConnection);
        });
    };
    try {
        if (TBackgroundLoad::Suits(*graphic)) {
            TBackgroundLoad load([loading, &fileName, &firstLook](const TProgressEvent& report) {
                if (FirstLookBeforeLoad(*loading))
                    firstLook();
                loading->OnProgress = report;
                loading->LoadFromFile(fileName);
                if (FirstLookAfterLoad(*loading))
                    firstLook();
            });
            load.Run(progress, [this](const TBackgroundLoad::TPreview& preview) { RowsArrived(preview); });
        } else {
            graphic->OnProgress = progress;
            graphic->LoadFromFile(fileName);
        }
        graphic->OnProgress = progress;
        if (check)
            check(*graphic);
    } catch (...) {
        FOpening = nullptr;
        ++FOpenCount;
        FFirstLook.reset();
        EndPreview();
        throw;
    }
    FOpening = nullptr;
    // The overview made while the rows came stays with the bitmap; any
    // other is made anew when the picture is in place.
    const bool keep = FPreview && FPreview->Started() &&
                      FPreview->Bitmap == dynamic_cast<TBitmap*>(graphic.get()) && FOverviewRows &&
                      FOverviewOf == FPreview->Bits;
    if (!keep)
        StopOverview();
    FPreview.reset();
    FKeepOverview = keep;
    FPicture.SetGraphic(std::move(graphic));
    FKeepOverview = false;
    if (keep)
        FOverviewRows->Set(FBitmap->Height());
}

// While the picture is being loaded, its first look shows it at its own
// size; once it is in place, until it is decoded.
void TImageView::FirstLookArrived(unsigned open, const TGraphic* graphic, const TFirstLookPtr& look)
{
    if (open != FOpenCount)
        return;
    if (graphic == FOpening) {
        FFirstLook = look;
        if (FPreview) {
            update();
            return;
        }
        TBackgroundLoad::TPreview sized;
        sized.Width = look->Full().width();
        sized.Height = look->Full().height();
        RowsArrived(sized);
    } else if (graphic == FGraphic && DecodePending()) {
        FFirstLook = look;
        update();
    }
}

void TImageView::SetScale(double scale)
{
    FScale = scale;
    FAskedLevelRows = 0;
    FitToScale();
    update();
}

void TImageView::FitToScale()
{
    const int width = PictureSize().width();
    const int height = PictureSize().height();
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
        FZoomMarks.clear();
        if (FBitmap)
            FFirstLook.reset();
        if (!FKeepOverview) {
            FScaled = QImage();
            if (FBitmap)
                StartOverview(TOverviewSource::Of(*FBitmap), FBitmap->Height());
        }
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
            View->FFirstLook.reset();
            emit View->decodeBusy(false);
            View->update();
        }
    } end{this};
    try {
        // On a thread of its own, reporting here as it goes.
        TProgressEvent progress = graphic->OnProgress;
        TBitmap* bitmap = nullptr;
        if (TBackgroundLoad::Suits(*graphic)) {
            TBackgroundLoad decode([graphic, &bitmap](const TProgressEvent& report) {
                graphic->OnProgress = report;
                bitmap = &graphic->ViewBitmap();
            });
            try {
                decode.Run(progress, {});
            } catch (...) {
                graphic->OnProgress = progress;
                throw;
            }
            graphic->OnProgress = progress;
        } else {
            bitmap = &graphic->ViewBitmap();
        }
        if (graphic == FGraphic) {
            FBitmap = bitmap;
            StartOverview(TOverviewSource::Of(*bitmap), bitmap->Height());
        }
    } catch (...) {
        // Shown once by the caller; the picture stays blank rather than
        // failing again at every paint.
        if (graphic == FGraphic)
            FDecodeFailed = true;
        throw;
    }
}

TImageView::TRows TImageView::ShownRows() const
{
    TRows rows;
    if (FPreview) {
        const TBackgroundLoad::TPreview& preview = *FPreview;
        rows = {preview.Width, preview.Height, preview.Started() ? preview.Rows : 0, preview.Bits, preview.Stride,
                preview.Format,
                preview.Alpha, [preview](int y, int x, int count, uint32_t* out) {
                    preview.RowToARGB(y, x, count, out);
                }};
    } else if (FBitmap && !FBitmap->Empty()) {
        const TBitmap* bitmap = FBitmap;
        rows = {bitmap->Width(), bitmap->Height(), bitmap->Height(), bitmap->ScanLine(0), bitmap->RowStride(),
                bitmap->PixelFormat(), bitmap->AlphaPresent(), [bitmap](int y, int x, int count, uint32_t* out) {
                    bitmap->RowToARGB(y, x, count, out);
                }};
    }
    return rows;
}

void TImageView::paintEvent(QPaintEvent* event)
{
    if (!FBitmap && !FPreview) {
        // Decoding may take a while and report progress, so it runs outside
        // the paint, right after it; meanwhile the picture's place is white.
        if (DecodePending() && !FDecoding && !FDecodeQueued) {
            FDecodeQueued = true;
            QTimer::singleShot(0, this, [this] { RunGuarded([this] { DecodeNow(); }); });
        }
        if (DecodePending()) {
            QPainter painter(this);
            painter.fillRect(event->rect(), Qt::white);
            if (FFirstLook)
                PaintFirstLook(painter, *FFirstLook, FScale, event->rect() & rect());
        }
        return;
    }
    QPainter painter(this);
    try {
        const TRows rows = ShownRows();
        if (rows.Width == 0)
            return;
        const QRect all(0, 0, ViewExtent(rows.Width, FScale), ViewExtent(rows.Height, FScale));
        const QRect exposed = event->rect() & all;
        if (exposed.isEmpty())
            return;
        // The first look, under the rows that have come at 1:1 and above.
        if (FFirstLook && rows.Ready < rows.Height) {
            PaintFirstLook(painter, *FFirstLook, FScale, exposed);
            if (FScale >= 1.0 && rows.Ready > 0)
                PaintBitmap(painter, rows, exposed & QRect(0, 0, all.width(), ViewExtent(rows.Ready, FScale)));
            return;
        }
        if (FScale >= 1.0)
            PaintBitmap(painter, rows, exposed);
        else
            PaintReduced(painter, rows, exposed);
        if (!FPreview) {
            PaintMarkers(painter);
            for (const TCanvasItem* item : FCanvasItems)
                item->Paint(painter, *this);
        }
    } catch (const std::exception& error) {
        // No box inside a paint: it is shown once, right after.
        if (!FPaintFailed) {
            FPaintFailed = true;
            const QString message = QString::fromStdString(error.what());
            QTimer::singleShot(0, this, [message] { ShowExceptionBox(message); });
        }
    }
}

void TImageView::PaintBitmap(QPainter& painter, const TRows& rows, const QRect& exposed)
{
    // Rows still to come are left white.
    const QRect ready = exposed & QRect(0, 0, exposed.right() + 1, ViewExtent(rows.Ready, FScale));
    if (rows.Ready < rows.Height)
        painter.fillRect(exposed.intersected(QRect(0, ready.bottom() + 1, exposed.right() + 1, exposed.height())),
                         Qt::white);
    if (ready.isEmpty() || rows.Ready == 0)
        return;
    const bool alpha = rows.Alpha && rows.Format == bf32Bit;
    const QImage::Format format = alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    // Direct colour rows are drawn from the bitmap's memory as they are.
    if (rows.Format == bf24Bit || rows.Format == bf32Bit) {
        const QImage image(rows.Bits, rows.Width, rows.Ready, rows.Stride,
                           rows.Format == bf24Bit ? QImage::Format_BGR888 : format);
        painter.drawImage(ready.topLeft(), image, ready);
        return;
    }
    const int bandRows = std::min(kBandRows, ready.height());
    QImage band(ready.width(), bandRows, format);
    for (int top = ready.top(); top <= ready.bottom(); top += bandRows) {
        const int count = std::min(bandRows, ready.bottom() + 1 - top);
        for (int i = 0; i < count; ++i)
            rows.RowToARGB(top + i, ready.left(), ready.width(), reinterpret_cast<uint32_t*>(band.scanLine(i)));
        painter.drawImage(QPoint(ready.left(), top), band, QRect(0, 0, ready.width(), count));
    }
}

// From the overview level at least as fine as the scale, or from the finest
// level built so far while the rest is still being made; while the picture
// comes, as far as the level's rows reach.
void TImageView::PaintReduced(QPainter& painter, const TRows& rows, const QRect& exposed)
{
    const int ready = FOverview ? FOverview->ReadyLevels() : 0;
    const int wanted = OverviewLevelFor(FScale, TOverviewPyramid::kMaxLevels);
    const int level = FPreview && FOverview ? std::min(wanted, FOverview->Levels()) : std::min(wanted, ready);
    if (level == 0) {
        if (rows.Ready == rows.Height)
            PaintSampled(painter, rows, exposed);
        else
            painter.fillRect(exposed, Qt::white);
        return;
    }
    const TOverviewLevel& overview = FOverview->Level(level);
    const int built = FOverview->BuiltRows(level);
    static constexpr QImage::Format kFormats[] = {QImage::Format_Invalid, QImage::Format_Grayscale8,
                                                  QImage::Format_Invalid, QImage::Format_BGR888,
                                                  QImage::Format_ARGB32};
    const QImage image(overview.Pixels.data(), overview.Width, built,
                       qsizetype(overview.Width) * overview.BytesPerPixel, kFormats[overview.BytesPerPixel]);
    const double factor = 1.0 / (FScale * (1 << level));
    if (std::abs(factor - 1.0) < 1e-9) {
        painter.fillRect(exposed, Qt::white);
        painter.drawImage(exposed.topLeft(), image, exposed);
        return;
    }
    // Between levels (fit): the whole view is scaled once, smoothly, and kept
    // for the repaints that follow; it is no larger than the view's window.
    // While the level's rows come, only the view's rows that the new ones
    // reach are scaled (from a few rows above the last ones, whose smoothing
    // reached past them); once the level is whole, all of it is scaled again
    // so that the finished view is the one a single scaling gives.
    const QSize size(ViewExtent(rows.Width, FScale), ViewExtent(rows.Height, FScale));
    if (FScaled.size() != size || FScaledLevel != level || FScaledRows != built) {
        const QImage::Format format = overview.BytesPerPixel == 4 ? QImage::Format_ARGB32 : QImage::Format_RGB32;
        const double height = built == overview.Height ? size.height() : built / (factor * 1.0);
        // A band scaled again ends with the new rows: the view's rows below
        // them are still white from before.
        QRect band(QPoint(0, 0), size);
        if (FScaled.size() != size || FScaled.format() != format)
            FScaled = QImage(size, format);
        else if (FScaledLevel == level && FScaledRows < built && built < overview.Height)
            band.setTop(std::max(0, static_cast<int>(FScaledRows / factor) - kRescaledRowsAbove));
        if (built < overview.Height && band.top() > 0)
            band.setBottom(std::min(size.height() - 1, static_cast<int>(std::ceil(height))));
        QPainter scaler(&FScaled);
        scaler.setClipRect(band);
        scaler.fillRect(band, Qt::white);
        scaler.setRenderHint(QPainter::SmoothPixmapTransform, true);
        scaler.drawImage(QRectF(0, 0, size.width(), std::min<double>(height, size.height())), image,
                         QRectF(0, 0, size.width() * factor, std::min<double>(height, size.height()) * factor));
        FScaledLevel = level;
        FScaledRows = built;
    }
    painter.drawImage(exposed.topLeft(), FScaled, exposed);
}

// Nearest pixels straight from the bitmap, until the overview is there.
void TImageView::PaintSampled(QPainter& painter, const TRows& rows, const QRect& exposed)
{
    QImage band(exposed.width(), 1, QImage::Format_RGB32);
    auto* out = reinterpret_cast<uint32_t*>(band.scanLine(0));
    for (int y = exposed.top(); y <= exposed.bottom(); ++y) {
        const int row = ImagePixelAt(y, FScale, rows.Height);
        for (int x = 0; x < exposed.width(); ++x)
            rows.RowToARGB(row, ImagePixelAt(exposed.left() + x, FScale, rows.Width), 1, out + x);
        painter.drawImage(QPoint(exposed.left(), y), band);
    }
}

// A fitted point is an upright cross where it lies, a check point a
// diagonal one, each with its number above right, in red or blue on a
// white outline so that it shows on any map; the selected point has a ring.
// The arms stop short of the point, which stays to be seen (and checked in
// the magnifier).
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
        const double scale = marker.Check ? 0.75 : 1.0;
        const QPointF across = marker.Check ? QPointF(scale, scale) : QPointF(1, 0);
        const QPointF down = marker.Check ? QPointF(scale, -scale) : QPointF(0, 1);
        for (const auto& [colour, width] : {std::pair{QColor(Qt::white), 3}, std::pair{ink, 1}}) {
            painter.setPen(QPen(colour, width, Qt::SolidLine, Qt::FlatCap));
            for (const QPointF& arm : {across, -across, down, -down})
                painter.drawLine(at + arm * kMarkerGap, at + arm * kMarkerArm);
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
    if (FScale >= 1.0 || FPreview || !FBitmap || FBitmap->Empty() || !isVisible())
        return false;
    const QPoint at = mapFromGlobal(screen);
    if (!visibleRegion().contains(at))
        return false;
    pixel = QPoint(ImagePixelAt(at.x(), FScale, FBitmap->Width()), ImagePixelAt(at.y(), FScale, FBitmap->Height()));
    size = QSize(FBitmap->Width(), FBitmap->Height());
    return true;
}

bool TImageView::ScreenPosition(const QPointF& pixel, QPointF& screen)
{
    if (!isVisible())
        return false;
    screen = QPointF(mapToGlobal(QPoint(0, 0))) + ViewOfPosition(pixel);
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
