// Opens an image in the workbench through a scripted Open dialog and times the
// load and the repaints of a scrolled view; peak memory is measured around it
// (for instance /usr/bin/time -v). Usage:
//   workbench_probe IMAGE [--zoom] [--cursor X,Y] [--hold MS]
// --zoom shows the magnifier; --cursor puts the cursor at X,Y of the main
// window (default: over the picture); --hold keeps the windows up for a
// screenshot.
#include "app/application.h"
#include "app/image_view.h"
#include "app/main_window.h"
#include "app/zoom_window.h"
#include "imaging/format_registry.h"

#include <QCursor>
#include <QElapsedTimer>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: workbench_probe IMAGE [--zoom] [--cursor X,Y] [--hold MS]\n");
        return 2;
    }
    const QString image = QString::fromLocal8Bit(argv[1]);
    bool zoom = false;
    int holdMs = 0;
    QPoint cursor(250, 250);
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--zoom") == 0)
            zoom = true;
        else if (std::strcmp(argv[i], "--hold") == 0 && i + 1 < argc)
            holdMs = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--cursor") == 0 && i + 1 < argc) {
            const QStringList xy = QString::fromLatin1(argv[++i]).split(QLatin1Char(','));
            if (xy.size() == 2)
                cursor = QPoint(xy[0].toInt(), xy[1].toInt());
        }
    }

    InitializeImaging();
    int result = 0;
    {
        TApplication application(argc, argv);
        TForm1 form1;
        TForm2 form2;
        form1.SetZoomWindow(&form2);
        form1.show();
        if (!QTest::qWaitForWindowExposed(&form1))
            return 1;

        TFileDialog::SetRunner([&](TFileDialog& dialog) {
            dialog.FileName = image;
            return true;
        });
        QElapsedTimer timer;
        timer.start();
        RunGuarded([&] { form1.SpeedButton2Click(); });
        QCoreApplication::processEvents();
        std::printf("open: %.1f ms, picture %dx%d\n", static_cast<double>(timer.nsecsElapsed()) / 1e6,
                    form1.Image1->width(), form1.Image1->height());

        QScrollArea* area = form1.ScrollBox1;
        const QPoint stops[] = {{0, 0}, {area->horizontalScrollBar()->maximum() / 2, area->verticalScrollBar()->maximum() / 2},
                                {area->horizontalScrollBar()->maximum(), area->verticalScrollBar()->maximum()}};
        for (const QPoint& stop : stops) {
            area->horizontalScrollBar()->setValue(stop.x());
            area->verticalScrollBar()->setValue(stop.y());
            timer.restart();
            area->viewport()->repaint();
            std::printf("repaint at (%d, %d): %.2f ms\n", stop.x(), stop.y(),
                        static_cast<double>(timer.nsecsElapsed()) / 1e6);
        }
        // A smooth scroll: 200 steps of 40 pixels down and right.
        area->horizontalScrollBar()->setValue(0);
        area->verticalScrollBar()->setValue(0);
        QCoreApplication::processEvents();
        timer.restart();
        for (int i = 0; i < 200; ++i) {
            area->horizontalScrollBar()->setValue(area->horizontalScrollBar()->value() + 40);
            area->verticalScrollBar()->setValue(area->verticalScrollBar()->value() + 40);
            area->viewport()->repaint();
        }
        std::printf("scroll step with repaint: %.3f ms\n", static_cast<double>(timer.nsecsElapsed()) / 1e6 / 200);
        area->horizontalScrollBar()->setValue(0);
        area->verticalScrollBar()->setValue(0);

        if (zoom) {
            form1.Image3Click();
            form2.move(form1.frameGeometry().right() + 20, form1.y());
            QCursor::setPos(form1.mapToGlobal(cursor));
        }
        if (holdMs > 0)
            QTest::qWait(holdMs);
        result = 0;
    }
    FinalizeImaging();
    return result;
}
