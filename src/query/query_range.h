#pragma once
// The range of a query as meter-query's --from/--to and the history API's from/to take it, and the
// query over it, also across the files of a rotated series.
//
// A date alone (2026-12-01, 2026/12/1, the system's short date form) means the whole day, as the
// query windows always read it. A date and a time ("2026-12-01 12:24:28", ISO 8601
// "2026-12-01T12:24:28", also with Z or an offset such as +02:00) is an instant, to the second and
// inclusive at both ends; without an offset it is a wall clock of this machine's (the recorder's)
// time zone. Rows hold their wall clock only: a row belongs to an instant range when its instant
// (RowInstants) lies in it, so a range across the night the clock goes back holds each row once.
#include "datafile/event_log.h"
#include "query/query_result.h"
#include "query/query_statement.h"

#include <QDateTime>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

struct QueryRange {
    QDate from; // the wall-clock dates the statement selects
    QDate to;
    std::optional<qint64> startMs; // ms since the epoch; set when that end has a time
    std::optional<qint64> endMs;
};

// text in double quotes for a one-line message: control characters (NUL, line ends, ...) as
// escapes (\n, \x00), a quote or backslash escaped, at most `most` characters then "…".
QString QuotedText(const QString& text, int most = 80);

// One end of a range (a time without seconds is hh:mm:00, as in a time window). False with
// *error saying what the text is not (the caller names the option or parameter). Years 1 to 9999.
bool ReadRangeEnd(const QString& text, QDate* date, std::optional<qint64>* ms, QString* error);

// Both ends; *error names the one that cannot be read by fromName or toName ("--from", "from").
bool ReadRange(const QString& from, const QString& to, QueryRange* range, QString* error,
               const QString& fromName = QStringLiteral("from"), const QString& toName = QStringLiteral("to"));

// The statement's dates (spec->startDate, spec->endDate) for a range.
void SetRangeDates(const QueryRange& range, QuerySpec* spec);

// The instant (ms since the epoch, UTC) of each row of a query result from its date and time
// columns, in result order; rows whose date or time is null get INT64_MIN. In the hour the clock
// goes back (the same wall-clock times twice) a row whose instant would fall before the row
// written before it is taken as the second pass of that hour.
std::vector<qint64> RowInstants(const QueryResult& result, int dateColumn, int timeColumn);

// The files of a rotated series: `path`, then NAME_002.mdb, NAME_003.mdb, ... beside it, as long
// as the next one exists. A file that is no head of a series is a series of itself.
QStringList RotatedSeries(const QString& path);

// The query of spec over the range on each file in turn, the rows of each in their order, as one
// result. Done fills *result; NoRecord and Failed set *error (Failed: the engine's or the file's
// reason, CancelledMessage when stop() turned true). spec's dates are set from the range.
QueryStatus RunRangeQuery(const QStringList& paths, QuerySpec spec, const QueryRange& range,
                          QueryResult* result, QString* error, const std::function<bool()>& stop = {});

// The events of the range of every file, oldest first (file by file); false with *error when an
// event log cannot be read.
bool RangeEvents(const QStringList& paths, const QueryRange& range, QList<LoggedEvent>* events, QString* error);
