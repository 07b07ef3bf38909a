#include "app/view_navigator.h"

#include "app/image_view.h"
#include "app/view_geometry.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QWheelEvent>

namespace {

constexpr int kZoomBoxWidth = 56;
// One notch of a wheel reports this angle.
constexpr int kWheelNotch = 120;

// Widgets where the keys are text or their own moves, not view commands.
bool TakesText(QObject* object)
{
    return qobject_cast<QLineEdit*>(object) || qobject_cast<QAbstractSpinBox*>(object) ||
           qobject_cast<QPlainTextEdit*>(object) || qobject_cast<QAbstractItemView*>(object);
}

} // namespace

TViewNavigator::TViewNavigator(QScrollArea& area, TImageView& view, QWidget* zoomFieldParent)
    : QObject(&view), FArea(area), FView(view), FZoomBox(new QComboBox(zoomFieldParent))
{
    FZoomBox->setFocusPolicy(Qt::NoFocus);
    FZoomBox->setToolTip(QStringLiteral("Zoom (+ and -, Ctrl with the wheel)"));
    FZoomBox->addItem(QString::fromLatin1(ZoomText(kZoomFit)), kZoomFit);
    for (int divisor : kZoomDivisors)
        FZoomBox->addItem(QString::fromLatin1(ZoomText(divisor)), divisor);
    FZoomBox->setCurrentIndex(FZoomBox->findData(FLevel));
    FZoomBox->setFixedWidth(kZoomBoxWidth);
    connect(FZoomBox, &QComboBox::activated, this, [this](int index) { ZoomTo(FZoomBox->itemData(index).toInt()); });
    connect(&FView, &TImageView::pictureReplaced, this, [this] { FView.SetScale(ZoomScale(FLevel, FitScaleNow())); });
    FArea.viewport()->installEventFilter(this);
}

void TViewNavigator::WatchKeys(QWidget& window)
{
    window.installEventFilter(this);
    for (QWidget* child : window.findChildren<QWidget*>())
        if (!TakesText(child))
            child->installEventFilter(this);
}

double TViewNavigator::FitScaleNow() const
{
    const QSize room = FArea.maximumViewportSize();
    return FitScale(FView.PictureSize().width(), FView.PictureSize().height(), room.width(), room.height());
}

void TViewNavigator::ZoomTo(int level)
{
    ZoomTo(level, FArea.viewport()->rect().center());
}

void TViewNavigator::ZoomTo(int level, QPoint anchor)
{
    QScrollBar* horizontal = FArea.horizontalScrollBar();
    QScrollBar* vertical = FArea.verticalScrollBar();
    const double oldScale = FView.Scale();
    const double newScale = ZoomScale(level, FitScaleNow());
    const int x = ScrollKeepingPoint(horizontal->value(), anchor.x(), oldScale, newScale);
    const int y = ScrollKeepingPoint(vertical->value(), anchor.y(), oldScale, newScale);
    FLevel = level;
    FView.SetScale(newScale);
    horizontal->setValue(x);
    vertical->setValue(y);
    const QSignalBlocker quiet(FZoomBox);
    FZoomBox->setCurrentIndex(FZoomBox->findData(level));
}

bool TViewNavigator::ScrollKey(int key)
{
    QScrollBar* horizontal = FArea.horizontalScrollBar();
    QScrollBar* vertical = FArea.verticalScrollBar();
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
bool TViewNavigator::Wheel(QWheelEvent* event)
{
    const QPoint angle = event->angleDelta();
    const int delta = angle.y() != 0 ? angle.y() : angle.x();
    if (delta == 0)
        return true;
    if (event->modifiers() & Qt::ControlModifier) {
        const double fit = FitScaleNow();
        ZoomTo(delta > 0 ? ZoomIn(FLevel, fit) : ZoomOut(FLevel, fit), event->position().toPoint());
        return true;
    }
    const bool across = (event->modifiers() & Qt::ShiftModifier) || angle.y() == 0;
    QScrollBar* bar = across ? FArea.horizontalScrollBar() : FArea.verticalScrollBar();
    bar->setValue(bar->value() - delta * QApplication::wheelScrollLines() * bar->singleStep() / kWheelNotch);
    return true;
}

bool TViewNavigator::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == FArea.viewport()) {
        if (event->type() == QEvent::Wheel)
            return Wheel(static_cast<QWheelEvent*>(event));
        // The room changed (the window, a panel): a sheet seen whole stays so.
        if (event->type() == QEvent::Resize && FLevel == kZoomFit)
            FView.SetScale(FitScaleNow());
        return false;
    }
    if (event->type() != QEvent::KeyPress || TakesText(watched))
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    if (ScrollKey(key->key()))
        return true;
    const double fit = FitScaleNow();
    if (key->key() == Qt::Key_Plus || key->key() == Qt::Key_Equal) {
        ZoomTo(ZoomIn(FLevel, fit));
        return true;
    }
    if (key->key() == Qt::Key_Minus) {
        ZoomTo(ZoomOut(FLevel, fit));
        return true;
    }
    return false;
}
