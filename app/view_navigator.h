#pragma once
// Moving about the picture: the zoom levels (the status bar's zoom field,
// + and -, Ctrl with the wheel about the cursor), a sheet seen whole that
// stays whole when the view's room changes, and scrolling by the arrow and
// page keys and by the wheel. Every control of the window but the text
// boxes hands these keys to it.
#include <QObject>
#include <QPoint>

class QComboBox;
class QScrollArea;
class QWheelEvent;
class QWidget;
class TImageView;

class TViewNavigator : public QObject {
    Q_OBJECT
public:
    // The zoom field is made in zoomFieldParent.
    TViewNavigator(QScrollArea& area, TImageView& view, QWidget* zoomFieldParent);

    QComboBox* ZoomBox() const { return FZoomBox; }
    void ZoomTo(int level, QPoint anchor);  // anchor: point of the viewport kept in place
    void ZoomTo(int level);                 // about the viewport's centre
    int Level() const { return FLevel; }
    // The keys pressed in window and its controls (those there now).
    void WatchKeys(QWidget& window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    double FitScaleNow() const;
    bool ScrollKey(int key);
    bool Wheel(QWheelEvent* event);

    QScrollArea& FArea;
    TImageView& FView;
    QComboBox* FZoomBox;
    int FLevel = 1;
};
