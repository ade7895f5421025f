#pragma once
// Runs the built meter-query with arguments: its exit code, standard output (as lines and as
// bytes) and standard error. The code stays -1 when it did not end within a minute.
#include <QProcess>
#include <QStringList>

struct Run {
    int code = -1;
    QStringList out;
    QByteArray raw;
    QString err;
};

inline Run MeterQuery(const QStringList& args)
{
    QProcess p;
    p.start(VARNIK_BINARY_DIR "/meter-query", args);
    Run r;
    if (!p.waitForFinished(60000))
        return r;
    r.code = p.exitCode();
    r.raw = p.readAllStandardOutput();
    r.out = QString::fromUtf8(r.raw).split('\n', Qt::SkipEmptyParts);
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}
