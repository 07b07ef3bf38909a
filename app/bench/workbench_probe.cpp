// Opens an image in the workbench through a scripted Open dialog and times the
// load, the time from Open to the first paint that shows the picture, and the
// repaints of a scrolled view. It reports the progress updates seen and the
// peak resident memory the open added, against the size of the picture's
// bitmap. Usage:
//   workbench_probe IMAGE [--zoom] [--cursor X,Y] [--hold MS]
// --zoom shows the magnifier; --cursor puts the cursor at X,Y of the main
// window (default: over the picture); --hold keeps the windows up for a
// screenshot.
#include "app/application.h"
#include "app/controls.h"
#include "app/image_view.h"
#include "app/main_window.h"
#include "app/zoom_window.h"
#include "imaging/format_registry.h"
#include "platform/bitmap.h"

#include <QCursor>
#include <QEvent>
#include <QProgressBar>
#include <QElapsedTimer>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

// VmRSS or VmHWM of this process, in kB.
long StatusKb(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t length = std::strlen(field);
    while (std::getline(status, line))
        if (line.compare(0, length, field) == 0)
            return std::atol(line.c_str() + length + 1);
    return -1;
}

// Counts the paints of the image view that begin, once Armed is set, with
// the picture's bitmap at hand (nothing left to decode).
class TPaintWatch : public QObject {
public:
    explicit TPaintWatch(TImageView* view) : FView(view) {}
    bool Armed = false;
    int Paints = 0;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (Armed && event->type() == QEvent::Paint && !FView->DecodePending())
            ++Paints;
        return QObject::eventFilter(watched, event);
    }

private:
    TImageView* FView;
};

} // namespace

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
        // The peak resident size is reset, so that what the open adds shows
        // against what the window holds before it.
        {
            std::ofstream clear("/proc/self/clear_refs");
            clear << "5";
        }
        const long residentBefore = StatusKb("VmRSS:");
        int progressUpdates = 0;
        QObject::connect(form1.StatusBar1->ProgressBar(), &QProgressBar::valueChanged,
                         [&](int) { ++progressUpdates; });
        TPaintWatch paints(form1.Image1);
        form1.Image1->installEventFilter(&paints);

        QElapsedTimer timer;
        timer.start();
        RunGuarded([&] { form1.SpeedButton2Click(); });
        const double loadedMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        // The first paint after the load shows the picture; a picture that
        // decodes when first drawn (JPEG) decodes right after its first paint
        // and paints again, so the wait is for a paint with nothing pending.
        paints.Armed = true;
        TGraphic* graphic = form1.Image1->Picture().Graphic();
        QElapsedTimer limit;
        limit.start();
        while (paints.Paints == 0 && limit.elapsed() < 600000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        const double firstPaintMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        const long peak = StatusKb("VmHWM:");
        double bitmapMB = 0;
        if (graphic) {
            const TBitmap& bitmap = graphic->ViewBitmap();
            bitmapMB = static_cast<double>(bitmap.ImageSize()) / 1e6;
        }
        const double addedMB = static_cast<double>(peak - residentBefore) * 1024 / 1e6;
        std::printf("open: %.1f ms, picture %dx%d\n", loadedMs, form1.Image1->width(), form1.Image1->height());
        std::printf("open to first paint: %.1f ms (%d progress updates)\n", firstPaintMs, progressUpdates);
        std::printf("peak memory added: %.1f MB, bitmap %.1f MB, ratio %.2f\n", addedMB, bitmapMB,
                    bitmapMB > 0 ? addedMB / bitmapMB : 0.0);

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
