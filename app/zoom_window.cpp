#include "app/zoom_window.h"

#include "app/application.h"
#include "app/magnifier_geometry.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QCursor>
#include <QGroupBox>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QSlider>
#include <QTimer>

namespace {

constexpr int kRefreshMs = 25;
constexpr int kPanelSize = 150;

QLabel* MakeScaleLabel(QWidget* parent, const QString& caption, int x)
{
    auto* label = new QLabel(caption, parent);
    label->setFont(WorkbenchFont(12));
    QPalette black = label->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(black);
    label->move(x, 48);
    label->adjustSize();
    return label;
}

// The pixels of a line from segment.Start up to, not including, segment.End.
void DrawSegment(QImage& image, const TLineSegment& segment)
{
    const QRgb black = qRgb(0, 0, 0);
    if (segment.Start.Y == segment.End.Y) {
        const int y = segment.Start.Y;
        if (y < 0 || y >= image.height())
            return;
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = std::max(0, segment.Start.X); x < std::min(segment.End.X, image.width()); ++x)
            row[x] = black;
    } else {
        const int x = segment.Start.X;
        if (x < 0 || x >= image.width())
            return;
        for (int y = std::max(0, segment.Start.Y); y < std::min(segment.End.Y, image.height()); ++y)
            reinterpret_cast<QRgb*>(image.scanLine(y))[x] = black;
    }
}

} // namespace

QPoint TZoomScreen::CursorPos()
{
    return QCursor::pos();
}

QSize TZoomScreen::ScreenSize()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().size() : QSize();
}

QImage TZoomScreen::Grab(const QRect& rect)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    const QPoint origin = screen->geometry().topLeft();
    return screen->grabWindow(0, rect.x() - origin.x(), rect.y() - origin.y(), rect.width(), rect.height())
        .toImage();
}

TZoomImage::TZoomImage(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TZoomImage::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (Picture.isNull())
        painter.fillRect(rect(), palette().window());
    else
        painter.drawImage(0, 0, Picture);
}

TForm2::TForm2(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint)
{
    setWindowTitle(QStringLiteral("Zoom"));
    setFont(WorkbenchFont());
    resize(kPanelSize, kPanelSize);
    move(826, 114);

    Image1 = new TZoomImage(this);
    Image1->setGeometry(rect());
    Image1->hide();

    Panel1 = new TPanel(this);
    Panel1->setGeometry(0, 0, kPanelSize, kPanelSize);
    Panel1->SetBevelInner(bvRaised);
    Panel1->SetBevelOuter(bvNone);

    GroupBox1 = new QGroupBox(QStringLiteral(" Magnification "), Panel1);
    GroupBox1->setGeometry(8, 8, 133, 69);
    Slider = new QSlider(Qt::Horizontal, GroupBox1);
    Slider->setGeometry(9, 16, 115, 33);
    Slider->setRange(1, 4);
    Slider->setValue(1);
    Slider->setPageStep(1);
    Slider->setSingleStep(1);
    Slider->setTickInterval(1);
    Slider->setTickPosition(QSlider::TicksBelow);
    Label1 = MakeScaleLabel(GroupBox1, QStringLiteral("2 x"), 12);
    Label2 = MakeScaleLabel(GroupBox1, QStringLiteral("4 x"), 44);
    Label3 = MakeScaleLabel(GroupBox1, QStringLiteral("6 x"), 76);
    Label4 = MakeScaleLabel(GroupBox1, QStringLiteral("8 x"), 105);

    cbSrediste = new QCheckBox(QStringLiteral("Show crosshair"), Panel1);
    cbSrediste->setGeometry(8, 84, 129, 21);
    cbSrediste->setChecked(true);

    Timer1 = new QTimer(this);
    Timer1->setInterval(kRefreshMs);
    connect(Timer1, &QTimer::timeout, this, [this] { RunGuarded([this] { Timer1Timer(); }); });
    Timer1->start();
}

TForm2::~TForm2()
{
    FormDestroy();
}

void TForm2::FormDestroy()
{
    Timer1->stop();
}

void TForm2::SetScreen(TZoomScreen* screen)
{
    FScreen = screen ? screen : &FDesktop;
}

void TForm2::SetPicture(QObject* owner, TZoomPicture* picture)
{
    FPictureOwner = owner;
    FPicture = picture;
}

// The limits are on the outer size; the frame is known only once the window
// manager has framed the window, so they are set again whenever it changes.
void TForm2::ApplySizeLimits()
{
    const QSize extra = isWindow() && testAttribute(Qt::WA_WState_Created)
                            ? frameGeometry().size() - geometry().size()
                            : QSize(0, 0);
    if (extra == FFrameExtra)
        return;
    FFrameExtra = extra;
    const TClientLimits limits = MagnifierClientLimits(extra.width(), extra.height());
    setMinimumSize(limits.MinWidth, limits.MinHeight);
    setMaximumSize(limits.MaxWidth, limits.MaxHeight);
}

void TForm2::resizeEvent(QResizeEvent*)
{
    Image1->setGeometry(rect());
    FormResize();
}

void TForm2::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    ApplySizeLimits();
}

void TForm2::FormResize()
{
    Panel1->move(width() / 2 - Panel1->width() / 2, height() / 2 - Panel1->height() / 2);
    Image1->Picture = QImage();
}

void TForm2::Timer1Timer()
{
    if (ApplicationMinimised())
        return;
    ApplySizeLimits();
    const QPoint cursor = FScreen->CursorPos();
    if (frameGeometry().contains(cursor)) {
        if (Panel1->isHidden())
            Panel1->show();
        if (!Image1->isHidden())
            Image1->hide();
        return;
    }
    if (!Panel1->isHidden())
        Panel1->hide();
    if (Image1->isHidden())
        Image1->show();
    Refresh(cursor);
    QCoreApplication::processEvents();
}

void TForm2::Refresh(const QPoint& cursor)
{
    const int W = Image1->width();
    const int H = Image1->height();
    if (W <= 0 || H <= 0)
        return;
    // Over a reduced picture the picture stands for the screen: its pixel
    // under the cursor is the centre and its size the bounds.
    QPoint centre = cursor;
    QSize screen = FScreen->ScreenSize();
    const bool fromPicture = FPictureOwner && FPicture && FPicture->PixelAt(cursor, centre, screen);
    const TZoomRefresh r =
        ComputeZoomRefresh(centre.x(), centre.y(), W, H, Slider->value(), screen.width(), screen.height());

    QImage& picture = Image1->Picture;
    if (picture.size() != QSize(W, H)) {
        picture = QImage(W, H, QImage::Format_RGB32);
        picture.fill(Qt::white);
    }
    const QRect source(r.Source.Left, r.Source.Top, r.Source.Right - r.Source.Left, r.Source.Bottom - r.Source.Top);
    if (!source.isEmpty()) {
        const QImage shot = fromPicture ? FPicture->Pixels(source) : FScreen->Grab(source);
        if (!shot.isNull()) {
            QPainter painter(&picture);
            painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
            painter.drawImage(QRect(0, 0, W, H), shot, shot.rect());
        }
    }
    if (cbSrediste->isChecked()) {
        DrawSegment(picture, r.Horizontal);
        DrawSegment(picture, r.Vertical);
    }
    if (FPictureOwner && FPicture)
        DrawMarks(picture, r.Source, fromPicture);
    Image1->update();
}

// The picked pixel as an orange frame round it, the snapped position as a
// red cross, where they lie within the enlarged part.
void TForm2::DrawMarks(QImage& picture, const TRect& source, bool fromPicture)
{
    const int spanX = source.Right - source.Left;
    const int spanY = source.Bottom - source.Top;
    if (spanX <= 0 || spanY <= 0)
        return;
    const double zoomX = static_cast<double>(picture.width()) / spanX;
    const double zoomY = static_cast<double>(picture.height()) / spanY;
    // A picture position where it lands in the enlarged picture.
    auto place = [&](const QPointF& pixel, QPointF& at) {
        QPointF onSource(pixel.x() + 0.5, pixel.y() + 0.5);
        if (!fromPicture && !FPicture->ScreenPosition(pixel, onSource))
            return false;
        at = QPointF((onSource.x() - source.Left) * zoomX, (onSource.y() - source.Top) * zoomY);
        return true;
    };
    QPainter painter(&picture);
    for (const TZoomMark& mark : FPicture->Marks()) {
        if (mark.Kind == TZoomMark::zmPickedPixel) {
            QPointF from, to;
            if (place(mark.Pixel - QPointF(0.5, 0.5), from) && place(mark.Pixel + QPointF(0.5, 0.5), to)) {
                painter.setPen(QPen(QColor(255, 140, 0), 1));
                painter.drawRect(QRectF(from, to).adjusted(0, 0, -1, -1));
            }
        } else {
            QPointF at;
            if (place(mark.Pixel, at)) {
                const double arm = std::max(zoomX, 6.0);
                painter.setPen(QPen(QColor(220, 0, 0), 1));
                painter.drawLine(at - QPointF(arm, 0), at + QPointF(arm, 0));
                painter.drawLine(at - QPointF(0, arm), at + QPointF(0, arm));
            }
        }
    }
}
