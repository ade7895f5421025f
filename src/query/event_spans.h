#pragma once
// What the query chart draws of the event log over the charted time range: gaps as shaded spans
// and notes and alarm changes as marks on the time axis.
//
// Gaps: link-lost to link-restored, paused to resumed, stop to the next start (the program closed,
// the file full), and the rows of a rows-missed event (from the first time missed to when writing
// worked again). A stop ends an open gap; a gap still open at the last event runs to the end of
// the range. Spans are clipped to the range; those outside it are left out. Marks: notes, and the
// high, low, normal, overload and function events of the charted channels, inside the range.
//
// Every event is placed by its utc instant (its local date and time only when it has none), so
// the hour the clocks go back shows its events where they happened.
#include "datafile/event_log.h"

#include <QDateTime>
#include <QList>

struct EventSpan {
    QString kind; // link-lost, paused, stop or rows-missed
    QDateTime from;
    QDateTime to;
};

struct EventMark {
    QString kind; // note, high, low, normal, overload or function
    QDateTime at;
    std::optional<int> channel;
    std::optional<double> value;
    QString text;
};

struct ChartEvents {
    QList<EventSpan> gaps;
    QList<EventMark> marks;
};

// events oldest first; channels: those charted (alarm marks of others are left out).
ChartEvents EventsForChart(const QList<LoggedEvent>& events, const QDateTime& from, const QDateTime& to,
                           const QList<int>& channels);

// The tooltip of a mark: "high at 2010-04-01 10:02:00, channel 3, value 12.5" and its text on a
// second line.
QString MarkTip(const EventMark& mark);
