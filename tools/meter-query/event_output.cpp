#include "event_output.h"

#include "query/events_sheet.h"
#include "query/output_file.h"

#include <QFile>

bool WriteEventsCsv(const QStringList& dataFiles, const QueryRange& range, const QString& target, QString* error)
{
    QList<LoggedEvent> events;
    if (!RangeEvents(dataFiles, range, &events, error))
        return false;
    const QByteArray csv = EventsCsv(events).toUtf8();
    const auto write = [&csv](QIODevice& out, QString* failure) {
        if (out.write(csv) == csv.size())
            return true;
        *failure = QStringLiteral("The events cannot be written: %1").arg(out.errorString());
        return false;
    };
    if (target != QLatin1String("-"))
        return SaveOutput(target, QStringLiteral("events file"), write, error);
    QFile out;
    return out.open(stdout, QIODevice::WriteOnly) && write(out, error) && out.flush();
}
