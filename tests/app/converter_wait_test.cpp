// The workbench's wait for a converter: events go on without a busy core,
// and closing the program ends the wait and the converter.
#include "app/converter_wait.h"
#include "georef/converter.h"
#include "tests/app/app_fixture.h"

#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <ctime>

namespace {

double CpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(ConverterWait, EventsRunWithoutSpinningAndQuittingStopsTheConverter)
{
    EnsureApplication();
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    const double cpuBefore = CpuSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();
    const TConverterResult result = RunConverterProcess("/bin/sleep", {"0.6"}, RunEventsWhileConverting);
    const double wall = SecondsSince(wallBefore);
    const double cpu = CpuSeconds() - cpuBefore;
    EXPECT_TRUE(result.Started);
    EXPECT_TRUE(result.Finished);
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_GE(wall, 0.55);
    // A wait that blocks the events lets no tick through until it is over;
    // how many come through depends on how busy the machine is.
    EXPECT_GE(ticks, 2);
    EXPECT_LT(cpu, 0.2 * wall);

    TConverterResult cut;
    double waited = 0;
    QTimer::singleShot(0, qApp, [&] {
        const auto before = std::chrono::steady_clock::now();
        cut = RunConverterProcess("/bin/sleep", {"10"}, RunEventsWhileConverting);
        waited = SecondsSince(before);
    });
    QTimer::singleShot(100, qApp, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    EXPECT_LT(waited, 5);
    EXPECT_TRUE(cut.Started);
    EXPECT_FALSE(cut.Finished);
}

} // namespace
