// Times magnifier refreshes at the largest window size (350 x 350) on the
// real screen. Run it on a display, for instance: xvfb-run -a magnifier_bench
#include "app/application.h"
#include "app/zoom_window.h"

#include <QCursor>
#include <QElapsedTimer>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    TApplication application(argc, argv);
    TForm2 form;
    form.Timer1->stop();
    form.show();
    form.resize(350, 350);
    form.move(0, 0);
    if (!QTest::qWaitForWindowExposed(&form)) {
        std::fprintf(stderr, "no display\n");
        return 1;
    }
    QCoreApplication::processEvents();
    QCursor::setPos(600, 500);

    for (int slider = 1; slider <= 4; ++slider) {
        form.Slider->setValue(slider);
        std::vector<double> times;
        for (int i = 0; i < 400; ++i) {
            QElapsedTimer timer;
            timer.start();
            form.Timer1Timer();
            times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        }
        std::sort(times.begin(), times.end());
        double sum = 0;
        for (const double t : times)
            sum += t;
        std::printf("client %dx%d, %dx: mean %.3f ms, median %.3f ms, 95th %.3f ms, max %.3f ms\n",
                    form.Image1->width(), form.Image1->height(), 2 * slider, sum / static_cast<double>(times.size()),
                    times[times.size() / 2], times[times.size() * 95 / 100], times.back());
    }
    return 0;
}
