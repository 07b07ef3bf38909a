#include "app/controls.h"

#include "app/application.h"

#include <QMouseEvent>
#include <QPainter>
#include <QHBoxLayout>
#include <QProgressBar>
#include <QStyle>
#include <QStyleOption>

namespace {

// One bevel ring of one pixel: light top-left and dark bottom-right when raised.
void DrawBevel(QPainter& painter, QRect r, TPanelBevel bevel, const QPalette& palette)
{
    if (bevel == bvNone)
        return;
    const QColor light = palette.color(QPalette::Light);
    const QColor dark = palette.color(QPalette::Dark);
    const QColor topLeft = bevel == bvRaised ? light : dark;
    const QColor bottomRight = bevel == bvRaised ? dark : light;
    painter.setPen(topLeft);
    painter.drawLine(r.left(), r.top(), r.right(), r.top());
    painter.drawLine(r.left(), r.top(), r.left(), r.bottom());
    painter.setPen(bottomRight);
    painter.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
    painter.drawLine(r.right(), r.top(), r.right(), r.bottom());
}

} // namespace

TPanel::TPanel(QWidget* parent) : QWidget(parent)
{
    setAutoFillBackground(true);
}

void TPanel::SetBevelInner(TPanelBevel bevel)
{
    if (bevel != FBevelInner) {
        FBevelInner = bevel;
        update();
    }
}

void TPanel::SetBevelOuter(TPanelBevel bevel)
{
    if (bevel != FBevelOuter) {
        FBevelOuter = bevel;
        update();
    }
}

void TPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QRect r = rect();
    if (FBevelOuter != bvNone) {
        DrawBevel(painter, r, FBevelOuter, palette());
        r.adjust(1, 1, -1, -1);
    }
    DrawBevel(painter, r, FBevelInner, palette());
}

TImage::TImage(QWidget* parent) : QWidget(parent) {}

void TImage::SetPicture(const QPixmap& picture)
{
    FPicture = picture;
    update();
}

void TImage::SetCenter(bool center)
{
    FCenter = center;
    update();
}

void TImage::paintEvent(QPaintEvent*)
{
    if (FPicture.isNull())
        return;
    QPainter painter(this);
    QPixmap shown = FPicture;
    if (!isEnabled()) {
        QStyleOption option;
        option.initFrom(this);
        shown = style()->generatedIconPixmap(QIcon::Disabled, FPicture, &option);
    }
    const QSize size = shown.deviceIndependentSize().toSize();
    QPoint origin(0, 0);
    if (FCenter)
        origin = QPoint((width() - size.width()) / 2, (height() - size.height()) / 2);
    painter.drawPixmap(origin, shown);
}

void TImage::mousePressEvent(QMouseEvent* event)
{
    FPressed = event->button() == Qt::LeftButton;
}

void TImage::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = FPressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    FPressed = false;
    if (click)
        emit clicked();
}

TStatusBar::TStatusBar(const std::vector<int>& panelWidths, QWidget* parent) : QWidget(parent)
{
    // The panels are narrow for the wide default sans-serif: its condensed
    // face keeps their texts whole.
    QFont condensed = WorkbenchFont();
    condensed.setStretch(85);
    int x = 0;
    for (const int width : panelWidths) {
        auto* panel = new QLabel(this);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setFont(condensed);
        panel->setIndent(1);
        panel->setGeometry(x, 0, width - 1, 19);
        FPanels.push_back(panel);
        x += width;
    }
    FPanelsWidth = x;
    FProgressBar = new QProgressBar(this);
    FProgressBar->setRange(0, 100);
    FProgressBar->setTextVisible(true);
    FProgressBar->hide();
    FRoom = new QHBoxLayout(this);
    FRoom->setContentsMargins(FPanelsWidth + 1, 0, 1, 0);
    FRoom->setSpacing(2);
}

void TStatusBar::resizeEvent(QResizeEvent*)
{
    for (QLabel* panel : FPanels)
        panel->resize(panel->width(), height());
    FProgressBar->setGeometry(FPanelsWidth + 2, 2, qMax(0, width() - FPanelsWidth - 6), qMax(0, height() - 4));
    FProgressBar->raise();
}
