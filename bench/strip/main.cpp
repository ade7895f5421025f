// Strip chart memory over time: the chart display's refresh tick run 24 simulated hours' worth of
// times (86,400 ticks, one a second) on an offscreen window, as fast as it goes, with the window
// painted after every tick. Prints the process's VmRSS and the chart's own buffers after 1 hour, 2
// hours (the chart's capacity) and 24 hours of points, and the time a tick takes with its paint.
//
//   QT_QPA_PLATFORM=offscreen bench_strip [HOURS]        (default 24)
#include "controls/strip_chart.h"
#include "core/shared_state.h"
#include "displays/frmChartDisp.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <cmath>
#include <cstdio>

namespace {
double residentMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
    return -1;
}
} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int hours = argc > 1 ? std::max(2, std::atoi(argv[1])) : 24;
    Shared.ChartDisplayChannel = 1;
    Shared.AlarmSound = false;
    Shared.DispSetup[1].MinValue = -50;
    Shared.DispSetup[1].MaxValue = 50;
    Shared.DispSetup[1].HighWarning = 1e9;
    Shared.DispSetup[1].LowWarning = -1e9;

    frmChartDisp window;
    window.show();
    auto* strip = window.findChild<StripChart*>(QStringLiteral("Strip1"));
    QElapsedTimer clock;
    clock.start();
    std::printf("%8s %12s %14s %16s\n", "hours", "VmRSS MiB", "chart buffers", "points held");
    for (qint64 tick = 1; tick <= qint64(hours) * 3600; ++tick) {
        Shared.ChanValue[1] = 40 * std::sin(double(tick) / 300) + 5 * std::sin(double(tick) / 7);
        window.Timer1_Timer();
        QCoreApplication::processEvents();
        if (tick % 3600 == 0 && (tick / 3600 <= 2 || tick / 3600 == hours || tick / 3600 % 6 == 0))
            std::printf("%8lld %12.1f %14zu %16d\n", tick / 3600, residentMiB(), strip->memoryBytes(),
                        strip->pointCount(0));
    }
    std::printf("%.1f us a tick with its paint (%d ticks, %.1f s)\n", clock.nsecsElapsed() / 1e3 / (hours * 3600.0),
                hours * 3600, clock.elapsed() / 1e3);
    return 0;
}
