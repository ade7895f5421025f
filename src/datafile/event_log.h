#pragma once
// The event log of a data file: the table EventLog beside DataRecord, telling what happened between
// the rows (recording started and stopped, the meter went silent, rows could not be written, alarm
// changes, the user's notes). DataRecord is never touched here.
//
// Columns: id INTEGER PRIMARY KEY, date TEXT YYYY-MM-DD and time TEXT HH:MM:SS (local wall clock,
// as the rows have), utc TEXT (the same instant, ISO 8601 with milliseconds and Z), kind TEXT,
// channel INTEGER (NULL where none), value REAL (NULL where none), text TEXT.
//
// Writers (the recording engine, the event log window's notes) append through the DataFile that
// records into the file, on its connection: an event is on disk when AppendEvent returns, as a row
// is. The table is made with the first event, so a file without it stays valid and older files
// gain it. Readers (the event log window, the query chart, the export, meter-query, the forwarder)
// open the file read-only and never create the table: a file without it simply has no events.
//
// A table named EventLog that lacks one of the columns (another tool changed or replaced it) is
// never altered or dropped here: writing and reading fail with a text that names the file and
// says what is wrong, and the rows of the file are not affected.
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTime>
#include <optional>

class DataFile;

namespace EventKind {
inline const QString Start = QStringLiteral("start");
inline const QString Stop = QStringLiteral("stop");
inline const QString LinkLost = QStringLiteral("link-lost");
inline const QString LinkRestored = QStringLiteral("link-restored");
inline const QString Paused = QStringLiteral("paused");
inline const QString Resumed = QStringLiteral("resumed");
inline const QString High = QStringLiteral("high");
inline const QString Low = QStringLiteral("low");
inline const QString Normal = QStringLiteral("normal");
inline const QString Full = QStringLiteral("full");
inline const QString RowsMissed = QStringLiteral("rows-missed");
inline const QString Note = QStringLiteral("note");
// A source's own: a reading over range or not a number, recorded as the invalid marker; the meter
// switched to another function (V DC to Ohm), so its channel's unit changes from this row on.
inline const QString Overload = QStringLiteral("overload");
inline const QString Function = QStringLiteral("function");
// Every kind, in the order a user picks from.
QStringList All();
} // namespace EventKind

struct LoggedEvent {
    qint64 id = 0; // 0 until written
    QDate date;    // local wall clock
    QTime time;
    QDateTime utc; // the same instant in UTC
    QString kind;
    std::optional<int> channel;
    std::optional<double> value;
    QString text;

    // An event of the given moment (local time, as the host clock gives it); seconds are kept in
    // date/time, milliseconds in utc.
    static LoggedEvent At(const QDateTime& when, const QString& kind, const QString& text = QString(),
                          std::optional<int> channel = std::nullopt,
                          std::optional<double> value = std::nullopt);
    // The utc column's text: 2026-12-07T09:00:00.000Z.
    QString UtcText() const;
};

// Appends one event to the file bound to `data`, making EventLog first when the file lacks it
// (*created then true). False with *error naming the file when nothing is bound, the table is not
// an event log, or the engine refuses (disk full, locked, I/O error): the event is then not stored.
bool AppendEvent(DataFile& data, const LoggedEvent& event, QString* error = nullptr, bool* created = nullptr);

// Which events to read: dates inclusive (a null date leaves that end open), kinds (empty: all).
struct EventFilter {
    QDate from;
    QDate to;
    QStringList kinds;
};

// Reads the events of the data file at `path` that pass `filter`, newest first (by utc, then by
// the order written). A file without EventLog gives an empty list and true. False with *error when
// the file cannot be read as a data file or its EventLog is not an event log.
bool ReadEvents(const QString& path, const EventFilter& filter, QList<LoggedEvent>* events,
                QString* error = nullptr);

// The text of a rows-missed event, "3 rows missed from 2026-12-07 10:00:05 to 2026-12-07 10:00:15:
// reason" (local times, as the rows have), and the first and last time read back from it; nullopt
// for another kind or a text that does not tell them.
QString RowsMissedText(int count, const QDateTime& first, const QDateTime& last, const QString& why);
std::optional<std::pair<QDateTime, QDateTime>> MissedSpan(const LoggedEvent& event);
