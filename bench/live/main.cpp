// Prepares the live benchmark (bench/live/run.sh): makes an empty data file with the program's own
// layout, so that the program records every channel the 16-panel page shows. An existing file, a
// channel count other than 8, 12 or 16, or a file the engine cannot create is an error (exit 1).
//
//   bench_live PATH [CHANNELS]        (default 16 channels)
#include "datafile/data_file.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2 || args.size() > 3) {
        std::fprintf(stderr, "usage: bench_live PATH [CHANNELS]\n");
        return 2;
    }
    bool ok = true;
    const int channels = args.size() == 3 ? args[2].toInt(&ok) : 16;
    QString error = QStringLiteral("Not a channel count: %1").arg(args.value(2));
    if (!ok || !CreateDataFile(args[1], channels, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    return 0;
}
