#include "query/event_list.h"

#include "query/query_result.h"

#include <QHash>

namespace {

QDateTime Instant(const LoggedEvent& e)
{
    return e.utc.isValid() ? e.utc : QDateTime(e.date, e.time);
}

} // namespace

QList<ListedEvent> WithGapDurations(const QList<LoggedEvent>& events)
{
    static const QHash<QString, QString> opening{{EventKind::LinkRestored, EventKind::LinkLost},
                                                 {EventKind::Resumed, EventKind::Paused},
                                                 {EventKind::Start, EventKind::Stop}};
    QList<ListedEvent> listed;
    listed.reserve(events.size());
    for (const LoggedEvent& e : events)
        listed.append({e, std::nullopt});
    // Oldest first: each closing event takes the earliest opening one not closed yet.
    QHash<QString, QDateTime> open;
    for (qsizetype i = listed.size() - 1; i >= 0; --i) {
        const LoggedEvent& e = listed[i].event;
        const QDateTime at = Instant(e);
        if (opening.contains(e.kind)) {
            const QString begun = opening.value(e.kind);
            if (open.contains(begun) && at.isValid())
                listed[i].gapSeconds = open.take(begun).secsTo(at);
        } else if (opening.key(e.kind).size() && !open.contains(e.kind) && at.isValid()) {
            open.insert(e.kind, at);
        }
        if (e.kind == EventKind::Stop) {
            // A stop ends the link and pause gaps with it.
            for (const QString& kind : {EventKind::LinkLost, EventKind::Paused})
                open.remove(kind);
            open.insert(EventKind::Stop, at);
        }
    }
    return listed;
}

bool Shows(const EventView& view, const LoggedEvent& e)
{
    if (!view.kinds.isEmpty() && !view.kinds.contains(e.kind))
        return false;
    if (view.channel && e.channel != view.channel)
        return false;
    const QString search = view.search.trimmed();
    if (search.isEmpty())
        return true;
    const QStringList fields{e.kind, e.text, e.channel ? QStringLiteral("channel %1").arg(*e.channel) : QString(),
                             e.value ? PlainNumber(*e.value) : QString()};
    for (const QString& field : fields)
        if (field.contains(search, Qt::CaseInsensitive))
            return true;
    return false;
}

QString DurationText(qint64 seconds)
{
    const qint64 d = seconds / 86400, h = seconds / 3600 % 24, m = seconds / 60 % 60, s = seconds % 60;
    const auto two = [](qint64 n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    if (d > 0)
        return QStringLiteral("%1 d %2 h").arg(d).arg(two(h));
    if (h > 0)
        return QStringLiteral("%1 h %2 min").arg(h).arg(two(m));
    if (m > 0)
        return QStringLiteral("%1 min %2 s").arg(m).arg(two(s));
    return QStringLiteral("%1 s").arg(s);
}

QStringList EventHeader()
{
    return {"Date", "Time", "Kind", "Channel", "Value", "Lasted", "Text", "UTC"};
}

QStringList EventCells(const ListedEvent& listed)
{
    const LoggedEvent& e = listed.event;
    return {e.date.toString(Qt::ISODate),
            e.time.toString(QStringLiteral("HH:mm:ss")),
            e.kind,
            e.channel ? QString::number(*e.channel) : QString(),
            e.value ? PlainNumber(*e.value) : QString(),
            listed.gapSeconds ? DurationText(*listed.gapSeconds) : QString(),
            e.text,
            e.utc.isValid() ? e.UtcText() : QString()};
}

QString EventsTabText(const QList<ListedEvent>& rows)
{
    const auto line = [](QStringList cells) {
        for (QString& cell : cells)
            cell.replace(QLatin1Char('\t'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
        return cells.join(QLatin1Char('\t')) + QLatin1Char('\n');
    };
    QString text = line(EventHeader());
    for (const ListedEvent& row : rows)
        text += line(EventCells(row));
    return text;
}
