#pragma once
// What the Event Log window lists, computed without a window: the events of a file with how long
// each gap lasted, narrowed by kinds, a channel and a text search, and the shown rows as text for
// the clipboard.
#include "datafile/event_log.h"

#include <QList>
#include <QStringList>
#include <optional>

struct ListedEvent {
    LoggedEvent event;
    // On the event that ends a gap (link-restored after link-lost, resumed after paused, start
    // after stop): how long the gap lasted, in seconds.
    std::optional<qint64> gapSeconds;
};

// events newest first, as ReadEvents gives them; the result in the same order.
QList<ListedEvent> WithGapDurations(const QList<LoggedEvent>& events);

struct EventView {
    QStringList kinds;          // empty: every kind
    std::optional<int> channel; // only events of this channel
    QString search;             // case-insensitive, in kind, text, channel and value
};

bool Shows(const EventView& view, const LoggedEvent& event);

// A gap's length as "45 s", "12 min 05 s", "3 h 02 min", "2 d 04 h".
QString DurationText(qint64 seconds);

// The cells of one row, in the window's column order: Date, Time, Kind, Channel, Value, Lasted,
// Text, UTC. Values in plain decimals.
QStringList EventCells(const ListedEvent& listed);
QStringList EventHeader();

// Rows as tab-separated lines under the header, for the clipboard (a spreadsheet pastes them
// into cells).
QString EventsTabText(const QList<ListedEvent>& rows);
