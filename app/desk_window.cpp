#include "app/desk_window.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QScreen>
#include <QSettings>
#include <QUrl>

namespace {

const QString kGeometryKey = QStringLiteral("window/geometry");

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

} // namespace

void TDeskWindow::closeEvent(QCloseEvent* event)
{
    Settings().setValue(kGeometryKey, saveGeometry());
    QWidget::closeEvent(event);
    if (event->isAccepted())
        emit closed();
}

void TDeskWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (FPlaced)
        return;
    FPlaced = true;
    const QByteArray geometry = Settings().value(kGeometryKey).toByteArray();
    if (!geometry.isEmpty() && restoreGeometry(geometry))
        return;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
}

void TDeskWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (!DroppedFile(event->mimeData()).isEmpty() && TakesDrops())
        event->acceptProposedAction();
}

void TDeskWindow::dropEvent(QDropEvent* event)
{
    const QString fileName = DroppedFile(event->mimeData());
    if (fileName.isEmpty() || !TakesDrops())
        return;
    event->acceptProposedAction();
    Dropped(fileName);
}
