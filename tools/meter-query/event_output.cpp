#include "event_output.h"

#include "query/events_sheet.h"

#include <QDir>
#include <QFile>
#include <cstdio>

bool WriteEventsCsv(const QString& dataFile, const QDate& from, const QDate& to, const QString& target,
                    QString* error)
{
    QList<LoggedEvent> events;
    if (!EventsForSheet(dataFile, from, to, &events, error))
        return false;
    const QByteArray csv = EventsCsv(events).toUtf8();
    QFile out;
    const bool opened = target == QLatin1String("-")
                            ? out.open(stdout, QIODevice::WriteOnly)
                            : (out.setFileName(target), out.open(QIODevice::WriteOnly));
    if (!opened || out.write(csv) != csv.size() || !out.flush()) {
        *error = QStringLiteral("The events cannot be written to \"%1\": %2")
                     .arg(QDir::toNativeSeparators(target), out.errorString());
        return false;
    }
    return true;
}
