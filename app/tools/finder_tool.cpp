#include "app/tools/finder_tool.h"

#include "app/application.h"
#include "app/image_view.h"
#include "platform/bitmap.h"
#include "platform/exceptions.h"

#include <QAction>
#include <QApplication>

TFinderTool::TFinderTool(const TToolContext& context, const QString& caption, const QString& tip, QObject* parent)
    : QObject(parent), FContext(context), FAction(new QAction(caption, this))
{
    FAction->setToolTip(tip);
    connect(FAction, &QAction::triggered, this, [this] { RunGuarded([this] { Start(); }); });
}

TFinderTool::~TFinderTool()
{
    // A search still running ends unheard: its busy cursor goes now.
    if (FRunning)
        QApplication::restoreOverrideCursor();
}

void TFinderTool::Start()
{
    if (FRunning)
        return;
    // A picture that decodes when first drawn (a JPEG) decodes now, with its progress.
    FContext.View->DecodeNow();
    const TBitmap* bitmap = FContext.View->Bitmap();
    if (!bitmap || bitmap->Empty())
        throw Exception(NoPictureText().toStdString());
    if (!Prepare())
        return;
    SetRunning(true);
    FContext.Status(BusyText(), QString());
    FJob.Submit([this, bitmap, search = Search()] {
        const TFound found = search(*bitmap);
        QMetaObject::invokeMethod(
            this,
            [this, found] {
                SetRunning(false);
                RunGuarded(found);
            },
            Qt::QueuedConnection);
    });
}

void TFinderTool::SetRunning(bool running)
{
    FRunning = running;
    FAction->setEnabled(!running);
    if (running)
        QApplication::setOverrideCursor(Qt::BusyCursor);
    else
        QApplication::restoreOverrideCursor();
    emit runningChanged(running);
}
