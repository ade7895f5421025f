#include "query/event_spans.h"

#include "query/query_result.h"

#include <optional>

namespace {

QDateTime Instant(const LoggedEvent& e)
{
    return e.utc.isValid() ? e.utc.toLocalTime() : QDateTime(e.date, e.time);
}

// Events of one channel that are marked on its chart: alarm changes and what its meter said
// (an overload, a change of function, HOLD).
bool IsChannelMark(const QString& kind)
{
    return kind == EventKind::High || kind == EventKind::Low || kind == EventKind::Normal ||
           kind == EventKind::Overload || kind == EventKind::Function;
}

} // namespace

ChartEvents EventsForChart(const QList<LoggedEvent>& events, const QDateTime& from, const QDateTime& to,
                           const QList<int>& channels)
{
    ChartEvents chart;
    const auto add = [&](const QString& kind, const QDateTime& start, const QDateTime& end) {
        const QDateTime a = std::max(start, from);
        const QDateTime b = std::min(end, to);
        if (a.isValid() && b.isValid() && a < b)
            chart.gaps.append({kind, a, b});
    };
    std::optional<QDateTime> lost;
    std::optional<QDateTime> paused;
    std::optional<QDateTime> stopped;
    for (const LoggedEvent& e : events) {
        const QDateTime at = Instant(e);
        if (!at.isValid())
            continue;
        if (e.kind == EventKind::LinkLost && !lost) {
            lost = at;
        } else if (e.kind == EventKind::LinkRestored) {
            // A gap that began before the events read began with the range.
            add(EventKind::LinkLost, lost.value_or(from), at);
            lost.reset();
        } else if (e.kind == EventKind::Paused && !paused) {
            paused = at;
        } else if (e.kind == EventKind::Resumed) {
            add(EventKind::Paused, paused.value_or(from), at);
            paused.reset();
        } else if (e.kind == EventKind::Stop) {
            if (lost)
                add(EventKind::LinkLost, *lost, at);
            if (paused)
                add(EventKind::Paused, *paused, at);
            lost.reset();
            paused.reset();
            stopped = at;
        } else if (e.kind == EventKind::Start) {
            if (stopped)
                add(EventKind::Stop, *stopped, at);
            stopped.reset();
        } else if (e.kind == EventKind::RowsMissed) {
            if (const auto span = MissedSpan(e))
                add(EventKind::RowsMissed, span->first, std::max(span->second, at));
        } else if ((e.kind == EventKind::Note ||
                    (IsChannelMark(e.kind) && e.channel && channels.contains(*e.channel))) &&
                   at >= from && at <= to) {
            chart.marks.append({e.kind, at, e.channel, e.value, e.text});
        }
    }
    if (lost)
        add(EventKind::LinkLost, *lost, to);
    if (paused)
        add(EventKind::Paused, *paused, to);
    return chart;
}

QString MarkTip(const EventMark& mark)
{
    QString tip = QStringLiteral("%1 at %2").arg(mark.kind, mark.at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss t")));
    if (mark.channel)
        tip += QStringLiteral(", channel %1").arg(*mark.channel);
    if (mark.value)
        tip += QStringLiteral(", value %1").arg(PlainNumber(*mark.value));
    if (!mark.text.isEmpty())
        tip += QLatin1Char('\n') + mark.text;
    return tip;
}
