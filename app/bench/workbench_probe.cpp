// Opens an image in the workbench through a scripted Open dialog and times the
// load, the time from Open to the first paint that shows the picture (or the
// rows of it that have come), from Open to the first paint of the whole
// picture, and the repaints of a scrolled view. It reports the progress
// updates seen and the peak resident memory the open added, against the size
// of the picture's bitmap. Usage:
//   workbench_probe IMAGE [--fit] [--zoom] [--cursor X,Y] [--hold MS] [--levels]
//                   [--shot FILE --size W,H --points X1,Y1,X2,Y2 --level Fit|1:1 ...]
//                   [--load-points FILE.points --transform NAME [--snap-points]]
//                   [--snap-shot FILE --click X,Y]
//                   [--grid-shot FILE --grid COL,ROW,Y,X,SPACING [--transform NAME]]
// --fit opens at the zoom level Fit in a 1600 x 1000 window.
// --zoom shows the magnifier; --cursor puts the cursor at X,Y of the main
// window (default: over the picture); --hold keeps the windows up for a
// screenshot. --levels also times the overview and the repaints at fit, 1:4
// and 1:1 in a 1600 x 1000 window. --shot picks the two points, types the
// sample's coordinates and saves a screen grab of the window, resized to
// W x H, at each given level (the file name gets the level's name: shot-fit.png, shot-1-1.png).
// --load-points loads the points of a ".points" file (or of any points format by its ending) instead (the table
// shows when it holds more than two), fitted by --transform; --snap-points
// then places each again by a click a little off it, snapped.
// --snap-shot clicks point 1 at X,Y of the picture at 1:1 with the snap on,
// the magnifier at 8 times beside the window and the cursor on the click,
// and saves a grab of the screen around both windows.
// --grid-shot snaps the crossing at COL,ROW, runs Grid with its coordinates
// and the spacing, fits the crossings by --transform and saves a grab of
// the window at Fit with the points table.
#include "app/application.h"
#include "app/controls.h"
#include "app/image_view.h"
#include "app/main_window.h"
#include "app/overview_pyramid.h"
#include "app/point_list.h"
#include "app/points_exchange.h"
#include "app/points_panel.h"
#include "app/save_command.h"
#include "app/tools/grid_tool.h"
#include "app/view_geometry.h"
#include "app/zoom_window.h"
#include "imaging/format_registry.h"
#include "platform/bitmap.h"

#include <QAction>
#include <QCheckBox>
#include <QCursor>
#include <QSlider>
#include <QLineEdit>
#include <QScreen>
#include <QEvent>
#include <QProgressBar>
#include <QElapsedTimer>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

// User and system CPU time of the process so far, in milliseconds; with
// thread, the GUI thread's alone.
std::pair<double, double> CpuMs(bool thread = false)
{
    rusage usage{};
    getrusage(thread ? RUSAGE_THREAD : RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e3 + t.tv_usec / 1e3; };
    return {ms(usage.ru_utime), ms(usage.ru_stime)};
}

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

// The times from Open of the first paint of the image view that shows the
// picture being opened (the rows come so far, or all), and of the first that
// shows all of it (nothing left to load or decode).
class TPaintWatch : public QObject {
public:
    TPaintWatch(TImageView* view, const QElapsedTimer& sinceOpen) : FView(view), FSinceOpen(sinceOpen) {}
    bool Armed = false;
    double FirstMs = -1;
    double WholeMs = -1;
    double PixelsMs = -1; // the first that shows the picture's first look or all of it
    double PixelsCpuMs = -1; // the process's CPU time (user + system) then, from CpuFrom
    double CpuFrom = 0;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (Armed && event->type() == QEvent::Paint && !FView->PictureSize().isEmpty()) {
            const double ms = static_cast<double>(FSinceOpen.nsecsElapsed()) / 1e6;
            if (FirstMs < 0)
                FirstMs = ms;
            if (PixelsMs < 0 && (FView->ShowsFirstLook() ||
                                 (!FView->Loading() && !FView->DecodePending() && FView->Picture().Graphic()))) {
                PixelsMs = ms;
                const auto cpu = CpuMs();
                PixelsCpuMs = cpu.first + cpu.second - CpuFrom;
            }
            if (WholeMs < 0 && !FView->Loading() && !FView->DecodePending() && FView->Picture().Graphic())
                WholeMs = ms;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    TImageView* FView;
    const QElapsedTimer& FSinceOpen;
};

double Milliseconds(const QElapsedTimer& timer)
{
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

// Time from Open until every overview level is built, and the peak memory
// of bitmap and overview against the bitmap alone.
void MeasureOverview(TForm1& form, const QElapsedTimer& sinceOpen, long residentBefore, double bitmapMB)
{
    while (!form.Image1->Overview())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const double readyMs = Milliseconds(sinceOpen);
    const double addedMB = static_cast<double>(StatusKb("VmHWM:") - residentBefore) * 1024 / 1e6;
    const double overviewMB = static_cast<double>(form.Image1->Overview()->MemoryBytes()) / 1e6;
    std::printf("open to overview ready: %.1f ms\n", readyMs);
    std::printf("overview %.1f MB (%.2f of the bitmap); peak memory added with it: %.1f MB, ratio %.2f\n",
                overviewMB, bitmapMB > 0 ? overviewMB / bitmapMB : 0.0, addedMB,
                bitmapMB > 0 ? addedMB / bitmapMB : 0.0);
}

// Repaints of the whole view while it scrolls in steps of 40 pixels, at
// fit, 1:4 and 1:1, in a window of a 1600 x 1000 screen.
void MeasureLevelRepaints(TForm1& form)
{
    form.resize(1600, 1000);
    QCoreApplication::processEvents();
    QScrollArea* area = form.ScrollBox1;
    for (int level : {kZoomFit, 4, 1}) {
        form.ZoomTo(level);
        area->horizontalScrollBar()->setValue(0);
        area->verticalScrollBar()->setValue(0);
        QCoreApplication::processEvents();
        constexpr int kSteps = 100;
        std::vector<double> times;
        for (int i = 0; i < kSteps; ++i) {
            area->horizontalScrollBar()->setValue(area->horizontalScrollBar()->value() + 40);
            area->verticalScrollBar()->setValue(area->verticalScrollBar()->value() + 40);
            QElapsedTimer timer;
            timer.start();
            // The picture's visible part, whatever the view around it.
            form.Image1->repaint(form.Image1->visibleRegion());
            times.push_back(Milliseconds(timer));
        }
        std::sort(times.begin(), times.end());
        double total = 0;
        for (double ms : times)
            total += ms;
        std::printf("repaint at %s, %dx%d view, scrolling: mean %.2f ms, median %.2f, 95th %.2f, worst %.2f ms\n",
                    ZoomText(level), area->viewport()->width(), area->viewport()->height(), total / kSteps,
                    times[kSteps / 2], times[kSteps * 95 / 100], times.back());
    }
}

// The two points picked, the sample's coordinates typed, and a grab of the
// window from the screen at each level asked for.
// A click on the picture at pixel (col, row) of the image, as the mouse gives it.
void ClickPicture(TForm1& form, QPointF pixel, Qt::KeyboardModifiers keys = {})
{
    const QPointF at = form.Image1->ViewOfPosition(pixel);
    QTest::mouseClick(form.Image1, Qt::LeftButton, keys, QPoint(int(std::floor(at.x())), int(std::floor(at.y()))));
}

// Every point placed again by a click a pixel or two off it, as a hand does.
void SnapEveryPoint(TForm1& form)
{
    const QPointF offsets[] = {{2, -1}, {-1, 2}, {1, 1}, {-2, -1}, {1, 2}, {-1, -2}, {1, -2}, {-2, 1}, {2, 0}};
    const std::vector<TPointEntry> entries = form.Points->Entries();
    for (size_t i = 0; i < entries.size(); ++i) {
        double col = 0, row = 0;
        if (!ReadPixel(entries[i], col, row))
            continue;
        form.SelectPoint(static_cast<int>(i) + 1);
        ClickPicture(form, QPointF(col, row) + offsets[i % std::size(offsets)]);
    }
}

// Point 1 clicked at (x, y) with the snap on; the magnifier at 8 times
// beside the window over the click.
void TakeSnapShot(TForm1& form, TForm2& zoom, const QString& file, const QSize& size, const QList<int>& click)
{
    if (size.isValid())
        form.resize(size);
    form.move(0, 0);
    form.ShowPointsTable(false);
    form.ZoomTo(1);
    if (click.size() != 2)
        return;
    form.Image1->WaitForOverview();
    form.ScrollBox1->ensureVisible(click[0], click[1], 150, 150);
    form.SnapCheck->setChecked(true);
    form.RadioButton1Click();
    QElapsedTimer timer;
    timer.start();
    ClickPicture(form, QPointF(click[0], click[1]));
    std::printf("snapped click: %.1f ms, %s\n", Milliseconds(timer), qPrintable(form.StatusBar1->Panel(0)->text()));
    zoom.Slider->setValue(4);
    zoom.resize(300, 300);
    if (!zoom.isVisible())
        form.Image3Click();
    zoom.move(form.frameGeometry().right() + 12, form.y());
    const QPointF at = form.Image1->ViewOfPosition(QPointF(click[0], click[1]));
    QCursor::setPos(form.Image1->mapToGlobal(QPoint(int(at.x()), int(at.y()))));
    QTest::qWait(400);
    const QRect both = form.frameGeometry().united(zoom.frameGeometry());
    const QPixmap shot = form.screen()->grabWindow(0, both.x(), both.y(), both.width(), both.height());
    std::printf("%s: %s\n", qPrintable(file), shot.save(file) ? "saved" : "not saved");
}

void TakeShots(TForm1& form, const QString& file, const QSize& size, const QList<int>& points,
               const QStringList& levels, const QString& pointsFile, const QString& transform, bool snapPoints)
{
    if (size.isValid()) {
        form.resize(size);
        form.move(0, 0);
    }
    if (!pointsFile.isEmpty()) {
        RunGuarded([&] {
            if (!LoadExchangedPoints(form, pointsFile.toStdString()))
                LoadGcpPointsFile(form, pointsFile.toStdString());
        });
        if (!transform.isEmpty())
            form.PointsPanel->SetTransform(transform);
        if (snapPoints) {
            form.ZoomTo(kZoomFit);
            form.Image1->WaitForOverview();
            SnapEveryPoint(form);
        }
        form.SelectPoint(1);
        while (form.Assessing())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    } else {
        form.ShowPointsTable(false);
        if (points.size() == 4) {
            form.RadioButton1Click();
            form.Image1MouseDown(points[0], points[1]);
            form.Image1MouseDown(points[2], points[3]);
        }
        form.Edit16->setText(QStringLiteral("3501000"));
        form.Edit17->setText(QStringLiteral("5404000"));
        form.Edit18->setText(QStringLiteral("3505000"));
        form.Edit19->setText(QStringLiteral("5401000"));
    }
    form.Edit16->clearFocus();
    for (const QString& name : levels) {
        const int level = ZoomFromText(name.toLatin1().constData());
        if (level < 0)
            continue;
        form.ZoomTo(level);
        form.Image1->WaitForOverview();
        QCursor::setPos(form.mapToGlobal(QPoint(10, 10)));
        QTest::qWait(300);
        const QPixmap shot = form.screen()->grabWindow(form.winId());
        QString suffix = name.toLower();
        suffix.replace(QLatin1Char(':'), QLatin1Char('-'));
        const QString target = QString(file).replace(QStringLiteral(".png"), QLatin1Char('-') + suffix + ".png");
        std::printf("%s: %s\n", qPrintable(target), shot.save(target) ? "saved" : "not saved");
    }
}

void TakeGridShot(TForm1& form, const QString& file, const QSize& size, const QList<int>& grid, const QString& transform)
{
    if (size.isValid())
        form.resize(size);
    form.move(0, 0);
    TGridTool* tool = nullptr;
    for (const auto& finder : form.Finders)
        tool = tool ? tool : dynamic_cast<TGridTool*>(finder.get());
    if (!tool || grid.size() != 5)
        return;
    form.ZoomTo(kZoomFit);
    form.Image1->WaitForOverview();
    form.SnapCheck->setChecked(true);
    form.SelectPoint(1);
    ClickPicture(form, QPointF(grid[0], grid[1]));
    tool->Ask = [&](const TGridSettings&, const QString&) {
        return std::optional<TGridSettings>(
            TGridSettings{QString::number(grid[2]), QString::number(grid[3]), QString::number(grid[4]), QString()});
    };
    tool->Action()->trigger();
    while (tool->Running())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::processEvents();
    if (!transform.isEmpty())
        form.PointsPanel->SetTransform(transform);
    while (form.Assessing())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCursor::setPos(form.mapToGlobal(QPoint(10, 10)));
    QTest::qWait(300);
    const QPixmap shot = form.screen()->grabWindow(form.winId());
    std::printf("%s: %s (%s)\n", qPrintable(file), shot.save(file) ? "saved" : "not saved",
                qPrintable(form.StatusBar1->Panel(0)->text()));
}

// What the command line asks for.
struct TProbeOptions {
    QString Image;
    bool Zoom = false;
    bool Levels = false;
    bool Fit = false;
    QString Shot;
    QString PointsFile;
    QString Transform;
    bool SnapPoints = false;
    QString SnapShot;
    QList<int> Click;
    QString GridShot;
    QList<int> Grid;
    QList<int> Points;
    QStringList ShotLevels;
    QSize ShotSize;
    int HoldMs = 0;
    QPoint Cursor{250, 250};
};

QList<int> Numbers(const char* text)
{
    QList<int> numbers;
    for (const QString& value : QString::fromLatin1(text).split(QLatin1Char(',')))
        numbers << value.toInt();
    return numbers;
}

TProbeOptions ReadOptions(int argc, char** argv)
{
    TProbeOptions o;
    o.Image = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        const bool valued = i + 1 < argc;
        if (option == "--zoom")
            o.Zoom = true;
        else if (option == "--fit")
            o.Fit = true;
        else if (option == "--levels")
            o.Levels = true;
        else if (option == "--snap-points")
            o.SnapPoints = true;
        else if (!valued)
            continue;
        else if (option == "--shot")
            o.Shot = QString::fromLocal8Bit(argv[++i]);
        else if (option == "--size") {
            const QList<int> wh = Numbers(argv[++i]);
            if (wh.size() == 2)
                o.ShotSize = QSize(wh[0], wh[1]);
        } else if (option == "--level")
            o.ShotLevels << QString::fromLatin1(argv[++i]);
        else if (option == "--load-points")
            o.PointsFile = QString::fromLocal8Bit(argv[++i]);
        else if (option == "--transform")
            o.Transform = QString::fromLatin1(argv[++i]);
        else if (option == "--snap-shot")
            o.SnapShot = QString::fromLocal8Bit(argv[++i]);
        else if (option == "--grid-shot")
            o.GridShot = QString::fromLocal8Bit(argv[++i]);
        else if (option == "--grid")
            o.Grid = Numbers(argv[++i]);
        else if (option == "--click")
            o.Click = Numbers(argv[++i]);
        else if (option == "--points")
            o.Points = Numbers(argv[++i]);
        else if (option == "--hold")
            o.HoldMs = std::atoi(argv[++i]);
        else if (option == "--cursor") {
            const QList<int> xy = Numbers(argv[++i]);
            if (xy.size() == 2)
                o.Cursor = QPoint(xy[0], xy[1]);
        }
    }
    return o;
}

// Open through the scripted dialog, timed to the first paint and the
// whole picture, with the memory it added; returns the bitmap's megabytes.
double MeasureOpen(TForm1& form1, const TProbeOptions& o, QElapsedTimer& timer, long& residentBefore)
{
    TFileDialog::SetRunner([&](TFileDialog& dialog) {
        dialog.FileName = o.Image;
        return true;
    });
    // The peak resident size is reset, so that what the open adds shows
    // against what the window holds before it.
    {
        std::ofstream clear("/proc/self/clear_refs");
        clear << "5";
    }
    residentBefore = StatusKb("VmRSS:");
    int progressUpdates = 0;
    QObject::connect(form1.StatusBar1->ProgressBar(), &QProgressBar::valueChanged, [&](int) { ++progressUpdates; });
    if (o.Fit) {
        form1.resize(1600, 1000);
        form1.ZoomTo(kZoomFit);
        QCoreApplication::processEvents();
    }
    TPaintWatch paints(form1.Image1, timer);
    form1.Image1->installEventFilter(&paints);
    const auto cpuBefore = CpuMs();
    const auto guiBefore = CpuMs(true);
    paints.CpuFrom = cpuBefore.first + cpuBefore.second;
    paints.Armed = true;
    timer.start();
    RunGuarded([&] { form1.SpeedButton2Click(); });
    const double loadedMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    const auto cpuAfter = CpuMs();
    const auto guiAfter = CpuMs(true);
    // A picture that decodes when first drawn (JPEG) decodes right after
    // its first paint and paints again.
    TGraphic* graphic = form1.Image1->Picture().Graphic();
    QElapsedTimer limit;
    limit.start();
    while (paints.WholeMs < 0 && limit.elapsed() < 600000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    form1.Image1->removeEventFilter(&paints);
    const long peak = StatusKb("VmHWM:");
    const double bitmapMB = graphic ? static_cast<double>(graphic->ViewBitmap().ImageSize()) / 1e6 : 0.0;
    const double addedMB = static_cast<double>(peak - residentBefore) * 1024 / 1e6;
    std::printf("open: %.1f ms, picture %dx%d; CPU %.1f ms user, %.1f ms system (GUI thread %.1f ms)\n", loadedMs,
                form1.Image1->width(), form1.Image1->height(), cpuAfter.first - cpuBefore.first,
                cpuAfter.second - cpuBefore.second, guiAfter.first - guiBefore.first + guiAfter.second - guiBefore.second);
    std::printf("open to first paint: %.1f ms, to its first look: %.1f ms (CPU %.1f ms), to the whole picture%s: %.1f ms (%d "
                "progress updates)\n",
                paints.FirstMs, paints.PixelsMs, paints.PixelsCpuMs, o.Fit ? " at fit" : "", paints.WholeMs, progressUpdates);
    std::printf("peak memory added: %.1f MB, bitmap %.1f MB, ratio %.2f\n", addedMB, bitmapMB,
                bitmapMB > 0 ? addedMB / bitmapMB : 0.0);
    return bitmapMB;
}

// Repaints at three places, then a smooth scroll of 200 steps of 40
// pixels down and right.
void MeasureScrolling(TForm1& form1, QElapsedTimer& timer)
{
    QScrollArea* area = form1.ScrollBox1;
    const QPoint stops[] = {{0, 0}, {area->horizontalScrollBar()->maximum() / 2, area->verticalScrollBar()->maximum() / 2},
                            {area->horizontalScrollBar()->maximum(), area->verticalScrollBar()->maximum()}};
    for (const QPoint& stop : stops) {
        area->horizontalScrollBar()->setValue(stop.x());
        area->verticalScrollBar()->setValue(stop.y());
        timer.restart();
        area->viewport()->repaint();
        std::printf("repaint at (%d, %d): %.2f ms\n", stop.x(), stop.y(), static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
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
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: workbench_probe IMAGE [--zoom] [--cursor X,Y] [--hold MS]\n");
        return 2;
    }
    const TProbeOptions o = ReadOptions(argc, argv);
    InitializeImaging();
    {
        TApplication application(argc, argv);
        TForm1 form1;
        TForm2 form2;
        form1.SetZoomWindow(&form2);
        form1.show();
        if (!QTest::qWaitForWindowExposed(&form1))
            return 1;
        QElapsedTimer timer;
        long residentBefore = 0;
        const double bitmapMB = MeasureOpen(form1, o, timer, residentBefore);
        MeasureScrolling(form1, timer);
        if (o.Levels) {
            MeasureOverview(form1, timer, residentBefore, bitmapMB);
            MeasureLevelRepaints(form1);
        }
        if (!o.Shot.isEmpty())
            TakeShots(form1, o.Shot, o.ShotSize, o.Points, o.ShotLevels, o.PointsFile, o.Transform, o.SnapPoints);
        if (!o.SnapShot.isEmpty())
            TakeSnapShot(form1, form2, o.SnapShot, o.ShotSize, o.Click);
        if (!o.GridShot.isEmpty())
            TakeGridShot(form1, o.GridShot, o.ShotSize, o.Grid, o.Transform);
        if (o.Zoom) {
            form1.Image3Click();
            form2.move(form1.frameGeometry().right() + 20, form1.y());
            QCursor::setPos(form1.mapToGlobal(o.Cursor));
        }
        if (o.HoldMs > 0)
            QTest::qWait(o.HoldMs);
    }
    FinalizeImaging();
    return 0;
}
