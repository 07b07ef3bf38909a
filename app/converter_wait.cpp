#include "app/converter_wait.h"

#include <QEventLoop>
#include <QTimer>

bool RunEventsWhileConverting(std::chrono::milliseconds slice)
{
    // Quitting the application ends every running event loop, and any loop
    // started after it at once; only the timer's own end means go on.
    bool sliceOver = false;
    QEventLoop loop;
    QTimer::singleShot(slice, &loop, [&] {
        sliceOver = true;
        loop.quit();
    });
    loop.exec();
    return sliceOver;
}
