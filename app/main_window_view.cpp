// TForm1 at a real desk: the window's size and place, the zoom levels of the
// image view, scrolling by keyboard and wheel, files dropped on the window
// and the folder the open dialog starts in.
#include "app/main_window.h"

#include "app/application.h"
#include "app/image_view.h"
#include "app/view_geometry.h"
#include "georef/dialog_filters.h"
#include "app/zoom_window.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QSignalBlocker>
#include <QToolButton>
#include <QUrl>
#include <QWheelEvent>

#include <cstdlib>

namespace {

const QString kGeometryKey = QStringLiteral("window/geometry");
const QString kOpenFolderKey = QStringLiteral("open/folder");
constexpr int kZoomBoxWidth = 56;
// One notch of a wheel reports this angle.
constexpr int kWheelNotch = 120;

QSettings Settings()
{
    return QSettings(QStringLiteral("Pinwright"), QStringLiteral("pinwright"));
}

// The one local file of a drop, or nothing.
QString DroppedFile(const QMimeData* data)
{
    if (!data || !data->hasUrls() || data->urls().size() != 1 || !data->urls().first().isLocalFile())
        return {};
    return data->urls().first().toLocalFile();
}

// Widgets where the keys are text or their own moves, not view commands.
bool TakesText(QObject* object)
{
    return qobject_cast<QLineEdit*>(object) || qobject_cast<QAbstractSpinBox*>(object) ||
           qobject_cast<QPlainTextEdit*>(object) || qobject_cast<QAbstractItemView*>(object);
}

} // namespace

void TForm1::SetZoomWindow(TForm2* form)
{
    Form2 = form;
    if (Form2)
        Form2->SetPicture(Image1, Image1);
}

void TForm1::BuildDeskAdditions()
{
    ZoomBox = new QComboBox(StatusBar1);
    ZoomBox->setFocusPolicy(Qt::NoFocus);
    ZoomBox->setToolTip(QStringLiteral("Zoom (+ and -, Ctrl with the wheel)"));
    ZoomBox->addItem(QString::fromLatin1(ZoomText(kZoomFit)), kZoomFit);
    for (int divisor : kZoomDivisors)
        ZoomBox->addItem(QString::fromLatin1(ZoomText(divisor)), divisor);
    ZoomBox->setCurrentIndex(ZoomBox->findData(FZoomLevel));
    ZoomBox->resize(kZoomBoxWidth, ZoomBox->height());
    connect(ZoomBox, &QComboBox::activated, this, [this](int index) { ZoomTo(ZoomBox->itemData(index).toInt()); });
    connect(Image1, &TImageView::pictureReplaced, this,
            [this] { Image1->SetScale(ZoomScale(FZoomLevel, FitScaleNow())); });

    setAcceptDrops(true);
    OpenDialog1.InitialDir = Settings().value(kOpenFolderKey).toString();
}

// Every control but the text boxes hands the view keys to the window, so
// that a radio button or the zoom field never takes them for its own.
void TForm1::WatchKeys()
{
    installEventFilter(this);
    for (QWidget* child : findChildren<QWidget*>())
        if (!TakesText(child))
            child->installEventFilter(this);
}

double TForm1::FitScaleNow() const
{
    const QSize room = ScrollBox1->maximumViewportSize();
    return FitScale(Image1->PictureSize().width(), Image1->PictureSize().height(), room.width(), room.height());
}

void TForm1::ZoomTo(int level)
{
    ZoomTo(level, ScrollBox1->viewport()->rect().center());
}

void TForm1::ZoomTo(int level, QPoint anchor)
{
    QScrollBar* horizontal = ScrollBox1->horizontalScrollBar();
    QScrollBar* vertical = ScrollBox1->verticalScrollBar();
    const double oldScale = Image1->Scale();
    const double newScale = ZoomScale(level, FitScaleNow());
    const int x = ScrollKeepingPoint(horizontal->value(), anchor.x(), oldScale, newScale);
    const int y = ScrollKeepingPoint(vertical->value(), anchor.y(), oldScale, newScale);
    FZoomLevel = level;
    Image1->SetScale(newScale);
    horizontal->setValue(x);
    vertical->setValue(y);
    const QSignalBlocker quiet(ZoomBox);
    ZoomBox->setCurrentIndex(ZoomBox->findData(level));
}

void TForm1::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    LayOut();
    if (FZoomLevel == kZoomFit)
        Image1->SetScale(FitScaleNow());
}

bool TForm1::ScrollKey(int key)
{
    QScrollBar* horizontal = ScrollBox1->horizontalScrollBar();
    QScrollBar* vertical = ScrollBox1->verticalScrollBar();
    switch (key) {
    case Qt::Key_Left: horizontal->triggerAction(QAbstractSlider::SliderSingleStepSub); return true;
    case Qt::Key_Right: horizontal->triggerAction(QAbstractSlider::SliderSingleStepAdd); return true;
    case Qt::Key_Up: vertical->triggerAction(QAbstractSlider::SliderSingleStepSub); return true;
    case Qt::Key_Down: vertical->triggerAction(QAbstractSlider::SliderSingleStepAdd); return true;
    case Qt::Key_PageUp: vertical->triggerAction(QAbstractSlider::SliderPageStepSub); return true;
    case Qt::Key_PageDown: vertical->triggerAction(QAbstractSlider::SliderPageStepAdd); return true;
    case Qt::Key_Home:
        horizontal->triggerAction(QAbstractSlider::SliderToMinimum);
        vertical->triggerAction(QAbstractSlider::SliderToMinimum);
        return true;
    case Qt::Key_End:
        horizontal->triggerAction(QAbstractSlider::SliderToMaximum);
        vertical->triggerAction(QAbstractSlider::SliderToMaximum);
        return true;
    default: return false;
    }
}

// Ctrl: one zoom level a notch about the cursor; Shift: across; else down
// and up, by the system's lines a notch.
bool TForm1::WheelOverImage(QWheelEvent* event)
{
    const QPoint angle = event->angleDelta();
    const int delta = angle.y() != 0 ? angle.y() : angle.x();
    if (delta == 0)
        return true;
    if (event->modifiers() & Qt::ControlModifier) {
        const double fit = FitScaleNow();
        ZoomTo(delta > 0 ? ZoomIn(FZoomLevel, fit) : ZoomOut(FZoomLevel, fit), event->position().toPoint());
        return true;
    }
    const bool across = (event->modifiers() & Qt::ShiftModifier) || angle.y() == 0;
    QScrollBar* bar = across ? ScrollBox1->horizontalScrollBar() : ScrollBox1->verticalScrollBar();
    bar->setValue(bar->value() - delta * QApplication::wheelScrollLines() * bar->singleStep() / kWheelNotch);
    return true;
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Wheel && watched == ScrollBox1->viewport())
        return WheelOverImage(static_cast<QWheelEvent*>(event));
    if (event->type() != QEvent::KeyPress || TakesText(watched))
        return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return QWidget::eventFilter(watched, event);
    if (ScrollKey(key->key()))
        return true;
    const double fit = FitScaleNow();
    if (key->key() == Qt::Key_Plus || key->key() == Qt::Key_Equal) {
        ZoomTo(ZoomIn(FZoomLevel, fit));
        return true;
    }
    if (key->key() == Qt::Key_Minus) {
        ZoomTo(ZoomOut(FZoomLevel, fit));
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::dragEnterEvent(QDragEnterEvent* event)
{
    if (!DroppedFile(event->mimeData()).isEmpty() && SpeedButton2->isEnabled())
        event->acceptProposedAction();
}

// As Open with the dropped name confirmed in the dialog, under the dialog
// entry of its type, so that Save converts it as such.
void TForm1::dropEvent(QDropEvent* event)
{
    const QString fileName = DroppedFile(event->mimeData());
    if (fileName.isEmpty() || !SpeedButton2->isEnabled())
        return;
    event->acceptProposedAction();
    RunGuarded([&] { OpenFile(fileName); });
}

void TForm1::RememberFolder(const QString& fileName)
{
    OpenDialog1.InitialDir = QFileInfo(fileName).absolutePath();
    Settings().setValue(kOpenFolderKey, OpenDialog1.InitialDir);
}

bool TForm1::RestorePlace()
{
    const QByteArray geometry = Settings().value(kGeometryKey).toByteArray();
    return !geometry.isEmpty() && restoreGeometry(geometry);
}

void TForm1::RememberPlace()
{
    Settings().setValue(kGeometryKey, saveGeometry());
}
