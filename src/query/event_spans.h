#pragma once
// What the query chart draws of the event log over the charted time range: gaps as shaded spans
// and notes and alarm changes as marks on the time axis.
//
// Gaps: link-lost to link-restored, paused to resumed, and the rows of a rows-missed event (from
// the first time missed to when writing worked again). A stop ends an open gap; a gap still open
// at the last event runs to the end of the range. Spans are clipped to the range; those outside
// it are left out. Marks: note, high, low and normal events inside the range.
#include "datafile/event_log.h"

#include <QDateTime>
#include <QList>

struct EventSpan {
    QString kind; // link-lost, paused or rows-missed
    QDateTime from;
    QDateTime to;
};

struct EventMark {
    QString kind; // note, high, low or normal
    QDateTime at;
    QString text;
};

struct ChartEvents {
    QList<EventSpan> gaps;
    QList<EventMark> marks;
};

// events oldest first; times are the local wall clock of the rows.
ChartEvents EventsForChart(const QList<LoggedEvent>& events, const QDateTime& from, const QDateTime& to);
