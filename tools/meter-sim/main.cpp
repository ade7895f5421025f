// meter-sim: the measuring instrument on a pseudo-terminal, for trying the program without a meter
// and for the end-to-end tests. Usage errors exit with 2, run-time errors with 1.
#include "line_sender.h"
#include "pty_line.h"
#include "sim_options.h"
#include "platform/stop_signals.h"

#include <QStringList>
#include <cstdio>

namespace {

int Fail(const QString& message, int code)
{
    std::fprintf(stderr, "meter-sim: %s\n", qPrintable(message));
    return code;
}

} // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const metersim::ParsedOptions parsed = metersim::ParseSimOptions(arguments);
    if (!parsed.error.isEmpty())
        return Fail(parsed.error + " (see --help)", 2);
    if (parsed.helpRequested) {
        std::fputs(qPrintable(parsed.helpText), stdout);
        return 0;
    }

    QString error;
    const int stopFd = InstallStopSignals(&error);
    if (stopFd < 0)
        return Fail(error, 1);
    metersim::PtyLine line;
    if (!line.open(parsed.options.baud, &error))
        return Fail(error, 1);
    metersim::DeviceLink link;
    if (!parsed.options.linkPath.isEmpty() && !link.create(parsed.options.linkPath, line.slavePath(), &error))
        return Fail(error, 1);

    std::printf("%s\n", qPrintable(line.slavePath()));
    std::fflush(stdout);
    return metersim::LineSender(parsed.options, line, stopFd).run();
}
