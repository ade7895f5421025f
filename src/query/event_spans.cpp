#include "query/event_spans.h"

#include <optional>

namespace {

QDateTime Local(const LoggedEvent& e)
{
    return QDateTime(e.date, e.time);
}

} // namespace

ChartEvents EventsForChart(const QList<LoggedEvent>& events, const QDateTime& from, const QDateTime& to)
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
    for (const LoggedEvent& e : events) {
        const QDateTime at = Local(e);
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
        } else if (e.kind == EventKind::RowsMissed) {
            if (const auto span = MissedSpan(e))
                add(EventKind::RowsMissed, span->first, std::max(span->second, at));
        } else if ((e.kind == EventKind::Note || e.kind == EventKind::High || e.kind == EventKind::Low ||
                    e.kind == EventKind::Normal) &&
                   at >= from && at <= to) {
            chart.marks.append({e.kind, at, e.text});
        }
    }
    if (lost)
        add(EventKind::LinkLost, *lost, to);
    if (paused)
        add(EventKind::Paused, *paused, to);
    return chart;
}
