#include "web/history_api.h"

#include "core/unit_codes.h"
#include "datafile/event_log.h"
#include "query/events_sheet.h"
#include "query/query_arguments.h"
#include "query/query_range.h"
#include "query/query_result.h"
#include "query/query_statement.h"
#include "query/report_writer.h"
#include "query/spreadsheet_export.h"
#include "query/event_spans.h"
#include "web/history_files.h"
#include "web/series.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <cmath>
#include <limits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace web {

namespace {

HistoryReply Refusal(unsigned status, const QString& reason)
{
    HistoryReply reply;
    reply.status = status;
    reply.body = reason.toUtf8() + '\n';
    return reply;
}

HistoryReply Json(const QJsonDocument& document)
{
    HistoryReply reply;
    reply.type = "application/json";
    reply.body = document.toJson(QJsonDocument::Compact);
    return reply;
}

QJsonValue Number(double value)
{
    return std::isfinite(value) ? QJsonValue(value) : QJsonValue();
}

QString Wall(const QDateTime& t)
{
    return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

double UnixSeconds(const QDateTime& t)
{
    return double(t.toMSecsSinceEpoch()) / 1000.0;
}

// The recorder's offset from UTC at `start` and at each change up to `end`: [[Unix seconds,
// offset seconds], ...]; empty without a range.
QJsonArray Offsets(const QDateTime& start, const QDateTime& end)
{
    QJsonArray offsets;
    if (start.isValid() && end.isValid())
        for (const auto& [at, offset] : OffsetChanges(start.toMSecsSinceEpoch(), end.toMSecsSinceEpoch()))
            offsets.append(QJsonArray{double(at) / 1000.0, offset});
    return offsets;
}

// What a request names: the data file (with the rest of its rotated series) and the query on it.
struct Request {
    QString name;
    QStringList paths;
    int fileChannels = 0;
    QuerySpec spec;
    QueryRange range;
    std::function<bool()> stop;
};

QString Argument(const HistoryArguments& arguments, const char* key)
{
    return QString::fromUtf8(arguments.value(key));
}

// The file of the request, then (with dates) from/to/time/channels as meter-query reads them.
// An empty optional reply: all good.
std::optional<HistoryReply> ReadRequest(const HistoryArguments& arguments, const QString& folder,
                                        const QString& recording, bool dates, Request* r)
{
    r->name = Argument(arguments, "file");
    if (r->name.isEmpty())
        r->name = SeriesHead(folder, recording);
    if (r->name.isEmpty())
        return Refusal(404, QStringLiteral("no data file is being recorded: name one with file="));
    unsigned status = 0;
    QString reason;
    r->paths = DataFileSeries(folder, r->name, &r->fileChannels, &status, &reason);
    if (r->paths.isEmpty())
        return Refusal(status, reason);
    QString bad;
    if (arguments.contains("channels")) {
        if (Argument(arguments, "channels").trimmed().isEmpty())
            return Refusal(400, QStringLiteral("channels is empty: name channels such as 1,3,12 or leave it out for all"));
        r->spec.channels = ReadChannelList(Argument(arguments, "channels"), &bad);
        if (r->spec.channels.isEmpty())
            return Refusal(400, QStringLiteral("channels: %1 is not a channel 1 to 16").arg(QuotedText(bad)));
        if (r->spec.channels.last() > r->fileChannels)
            return Refusal(400, QStringLiteral("the data file has %1 channels, not channel %2")
                                    .arg(r->fileChannels)
                                    .arg(r->spec.channels.last()));
    } else {
        for (int c = 1; c <= r->fileChannels; ++c)
            r->spec.channels.append(c);
    }
    if (!dates)
        return {};
    for (const char* key : {"from", "to"})
        if (Argument(arguments, key).trimmed().isEmpty())
            return Refusal(400, QStringLiteral("%1 is %2: give a date (yyyy-mm-dd) or a date and time")
                                    .arg(QLatin1String(key), arguments.contains(key) ? QStringLiteral("empty")
                                                                                     : QStringLiteral("missing")));
    QString error;
    if (!ReadRange(Argument(arguments, "from"), Argument(arguments, "to"), &r->range, &error))
        return Refusal(400, error);
    if (arguments.contains("time") && !ReadTimeWindow(Argument(arguments, "time"), &r->spec))
        return Refusal(400, QStringLiteral("time: %1 is not a time window HH:MM-HH:MM").arg(QuotedText(Argument(arguments, "time"))));
    return {};
}

// Runs the query; Done or NoRecord fill *result (empty for NoRecord), Failed is a reply.
std::optional<HistoryReply> Query(const Request& r, QueryResult* result, bool* none)
{
    QString statement, error;
    QuerySpec spec = r.spec;
    SetRangeDates(r.range, &spec);
    if (!BuildStatement(spec, &statement, &error))
        return Refusal(400, error);
    const QueryStatus status = RunRangeQuery(r.paths, r.spec, r.range, result, &error, r.stop);
    *none = status == QueryStatus::NoRecord;
    if (status == QueryStatus::Failed)
        return Refusal(503, error.simplified());
    return {};
}

// A file written by one of the engine's writers into a temporary folder in the data folder,
// handed over open: the folder goes, the open file stays readable until it is closed.
HistoryReply FromWriter(const QString& folder, const QString& fileName, const QByteArray& type,
                        const std::function<bool(const QString& path, QString* error)>& write, bool attachment = true)
{
    QTemporaryDir temporary(QDir(folder).filePath(QStringLiteral(".history-XXXXXX")));
    if (!temporary.isValid())
        return Refusal(503, QStringLiteral("no room for a download in the data folder: %1").arg(temporary.errorString()));
    const QString path = temporary.filePath(fileName);
    QString error;
    if (!write(path, &error))
        return Refusal(500, error.simplified());
    HistoryReply reply;
    reply.fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    struct stat facts {};
    if (reply.fd < 0 || ::fstat(reply.fd, &facts) != 0) {
        if (reply.fd >= 0)
            ::close(reply.fd);
        return Refusal(503, QStringLiteral("the download cannot be read back"));
    }
    reply.size = facts.st_size;
    reply.type = type;
    if (attachment)
        reply.fileName = fileName;
    return reply;
}

// The rows as a JSON array, written row by row: memory stays that of the result.
bool WriteRowsJson(const QueryResult& result, const QString& path, QString* error, const std::function<bool()>& stop)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    file.write("[");
    for (int row = 0; row < result.rowCount(); ++row) {
        if (stop && row % 2048 == 0 && stop()) {
            *error = CancelledMessage;
            return false;
        }
        QJsonObject object;
        for (int c = 0; c < result.columnCount(); ++c) {
            const QString& field = result.fieldNames()[c];
            if (result.isNull(row, c))
                object.insert(field, QJsonValue());
            else if (result.kind(c) == QueryResult::Kind::Reading)
                object.insert(field, Number(result.reading(row, c)));
            else
                object.insert(field, result.display(row, c, QStringLiteral("yyyy-MM-dd")));
        }
        if (row > 0)
            file.write(",");
        file.write(QJsonDocument(object).toJson(QJsonDocument::Compact));
    }
    file.write("]");
    if (!file.flush()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

QJsonObject EventJson(const LoggedEvent& e)
{
    return QJsonObject{{QStringLiteral("date"), e.date.toString(Qt::ISODate)},
                       {QStringLiteral("time"), e.time.toString(QStringLiteral("HH:mm:ss"))},
                       {QStringLiteral("utc"), e.utc.isValid() ? e.UtcText() : QString()},
                       {QStringLiteral("kind"), e.kind},
                       {QStringLiteral("channel"), e.channel ? QJsonValue(*e.channel) : QJsonValue()},
                       {QStringLiteral("value"), e.value ? Number(*e.value) : QJsonValue()},
                       {QStringLiteral("text"), e.text}};
}

HistoryReply Files(const QString& folder, const QString& recording)
{
    QJsonArray files;
    for (const DataFileSummary& f : ListDataFiles(folder, recording))
        files.append(QJsonObject{{QStringLiteral("name"), f.name},
                                 {QStringLiteral("files"), QJsonArray::fromStringList(f.files)},
                                 {QStringLiteral("channels"), f.channels},
                                 {QStringLiteral("rows"), f.rows},
                                 {QStringLiteral("first"), Wall(f.first)},
                                 {QStringLiteral("last"), Wall(f.last)},
                                 {QStringLiteral("firstUtc"), f.first.isValid() ? UnixSeconds(f.first) : QJsonValue()},
                                 {QStringLiteral("lastUtc"), f.last.isValid() ? UnixSeconds(f.last) : QJsonValue()},
                                 {QStringLiteral("offsets"), Offsets(f.first, f.last)},
                                 {QStringLiteral("recording"), f.recording}});
    return Json(QJsonDocument(files));
}

HistoryReply Rows(const Request& r, const QString& folder, const QByteArray& format)
{
    QueryResult result;
    bool none = false;
    if (auto failed = Query(r, &result, &none))
        return *failed;
    if (format == "json") {
        if (none) {
            HistoryReply reply;
            reply.type = "application/json";
            reply.body = "[]";
            return reply;
        }
        return FromWriter(folder, QFileInfo(r.name).completeBaseName() + QStringLiteral(".json"), "application/json",
                          [&](const QString& path, QString* error) { return WriteRowsJson(result, path, error, r.stop); },
                          false);
    }
    if (none)
        return Refusal(404, NoRecordMessage.simplified());
    const auto end = [](const QDate& day, const std::optional<qint64>& ms) {
        return ms ? QDateTime::fromMSecsSinceEpoch(*ms).toString(QStringLiteral("yyyy-MM-ddTHHmmss"))
                  : day.toString(Qt::ISODate);
    };
    const QString stem = QStringLiteral("%1_%2_%3").arg(QFileInfo(r.name).completeBaseName(),
                                                         end(r.range.from, r.range.startMs), end(r.range.to, r.range.endMs));
    if (format == "csv")
        return FromWriter(folder, stem + QStringLiteral(".csv"), "text/csv; charset=utf-8",
                          [&](const QString& path, QString* error) { return WriteCsv(result, path, error, r.stop); });
    if (format == "txt")
        return FromWriter(folder, stem + QStringLiteral(".txt"), "text/plain; charset=windows-1252",
                          [&](const QString& path, QString* error) {
                              return WriteReport(result, ReportLongDate(QDate::currentDate()), path, error);
                          });
    QList<LoggedEvent> events;
    QString ignored;
    RangeEvents(r.paths, r.range, &events, &ignored); // an unreadable log: an empty sheet
    return FromWriter(folder, stem + QStringLiteral(".xlsx"),
                      "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet",
                      [&](const QString& path, QString* error) { return WriteWorkbook(result, path, error, &events, r.stop);
                      });
}

HistoryReply Stats(const Request& r)
{
    QueryResult result;
    bool none = false;
    if (auto failed = Query(r, &result, &none))
        return *failed;
    QJsonArray channels;
    const auto add = [&channels](int channel, const QString& unit, const ColumnStatistics& s) {
        channels.append(QJsonObject{{QStringLiteral("channel"), channel},
                                    {QStringLiteral("unit"), unit},
                                    {QStringLiteral("count"), s.count},
                                    {QStringLiteral("min"), s.count ? Number(s.minimum) : QJsonValue()},
                                    {QStringLiteral("max"), s.count ? Number(s.maximum) : QJsonValue()},
                                    {QStringLiteral("mean"), s.count ? Number(s.mean) : QJsonValue()}});
    };
    for (int channel : r.spec.channels) {
        const int column = none ? -1 : result.columnOf(QStringLiteral("chan %1").arg(channel));
        const int unitColumn = none ? -1 : result.columnOf(QStringLiteral("unit %1").arg(channel));
        // A meter that changed function in the range (V to Ohm) has an entry per unit.
        const QStringList units = column >= 0 && unitColumn >= 0 ? ReadingUnits(result, column, unitColumn) : QStringList();
        if (units.size() > 1) {
            for (const QString& unit : units)
                add(channel, unit, Statistics(result, column, unitColumn, unit));
            continue;
        }
        const ColumnStatistics s = column >= 0 ? Statistics(result, column) : ColumnStatistics{};
        // The unit of its readings; the last row's when it has none (a last row of 999999 has no unit).
        const QString unit = units.size() == 1 ? units[0]
                             : unitColumn >= 0 && result.rowCount() > 0 ? result.text(result.rowCount() - 1, unitColumn)
                                                                        : QString();
        add(channel, unit, s);
    }
    return Json(QJsonDocument(QJsonObject{{QStringLiteral("rows"), none ? 0 : result.rowCount()},
                                          {QStringLiteral("channels"), channels}}));
}

HistoryReply Events(const Request& r, const QByteArray& format)
{
    QList<LoggedEvent> events;
    QString error;
    if (!RangeEvents(r.paths, r.range, &events, &error))
        return Refusal(503, error.simplified());
    if (format == "csv") {
        HistoryReply reply;
        reply.type = "text/csv; charset=utf-8";
        reply.body = EventsCsv(events).toUtf8();
        reply.fileName = QStringLiteral("%1_events.csv").arg(QFileInfo(r.name).completeBaseName());
        return reply;
    }
    QJsonArray list;
    for (const LoggedEvent& e : events)
        list.append(EventJson(e));
    return Json(QJsonDocument(list));
}

// start/end of /api/series, read as from/to are (one parser for every range end): a date alone
// is the start of that day for start and its last millisecond for end.
std::optional<QDateTime> ReadInstant(const HistoryArguments& arguments, const char* key, const QDateTime& fallback,
                                     HistoryReply* refusal)
{
    if (!arguments.contains(key))
        return fallback;
    const QString text = Argument(arguments, key);
    QDate day;
    std::optional<qint64> ms;
    QString why;
    if (text.trimmed().isEmpty())
        why = QStringLiteral("is empty: give a date and time (ISO 8601)");
    else
        ReadRangeEnd(text, &day, &ms, &why);
    if (!why.isEmpty()) {
        *refusal = Refusal(400, QLatin1String(key) + QLatin1Char(' ') + why);
        return std::nullopt;
    }
    if (!ms)
        ms = qstrcmp(key, "end") == 0 ? QDateTime(day.addDays(1), QTime(0, 0)).toMSecsSinceEpoch() - 1
                                      : QDateTime(day, QTime(0, 0)).toMSecsSinceEpoch();
    return QDateTime::fromMSecsSinceEpoch(*ms, Qt::UTC);
}

// Every unit a channel's rows have in the range, in the order they came (a meter that changed
// function: voltage VDC, then resistance Ohm), each with its quantity; at most 8.
QJsonArray UnitsOfRows(const QueryResult& result, int unitColumn)
{
    QJsonArray units;
    QStringList seen;
    const QString* previous = nullptr;
    for (int row = 0; unitColumn >= 0 && row < result.rowCount(); ++row) {
        const QString& text = result.text(row, unitColumn);
        if (previous && text == *previous)
            continue;
        previous = &text;
        const QString unit = text.trimmed();
        if (unit.isEmpty() || seen.contains(unit))
            continue;
        seen << unit;
        units.append(QJsonObject{{QStringLiteral("unit"), unit}, {QStringLiteral("quantity"), QuantityOfUnit(unit)}});
        if (seen.size() >= 8)
            break;
    }
    return units;
}

// At most this many lines for one channel's units; a channel with more is drawn as one line.
constexpr int MaxUnitLines = 8;

HistoryReply Series(Request r, const HistoryArguments& arguments)
{
    int points = DefaultSeriesPoints;
    if (arguments.contains("points")) {
        bool ok = false;
        points = Argument(arguments, "points").toInt(&ok);
        if (!ok || points < 1 || points > MaxSeriesPoints)
            return Refusal(400, QStringLiteral("points wants 1 to %1, not %2")
                                    .arg(MaxSeriesPoints)
                                    .arg(QuotedText(Argument(arguments, "points"))));
    }
    DataFileSummary summary;
    QString reason;
    if (!SummarizeSeries(r.paths, &summary, &reason))
        return Refusal(503, reason);
    HistoryReply refusal;
    const auto start = ReadInstant(arguments, "start", summary.first.toUTC(), &refusal);
    if (!start)
        return refusal;
    const auto end = ReadInstant(arguments, "end", summary.last.toUTC(), &refusal);
    if (!end)
        return refusal;
    if (start->isValid() && end->isValid() && *end < *start)
        return Refusal(400, QStringLiteral("end is before start"));

    // The work is bounded by the rows that exist: dates, offsets and events are looked at only
    // where rows are (a day either side: a row's wall clock may be a day off its UTC date).
    QDateTime from, to;
    if (summary.rows > 0 && start->isValid()) {
        from = std::max(*start, summary.first.toUTC().addDays(-1));
        to = std::min(*end, summary.last.toUTC().addDays(1));
    }
    QJsonObject out{{QStringLiteral("file"), r.name}};
    QueryResult result;
    bool none = true;
    Buckets buckets;
    QList<LoggedEvent> events;
    QString error;
    QJsonArray gaps, marks;
    std::vector<std::pair<qint64, qint64>> gapSpans;
    if (from.isValid() && from <= to) {
        r.range = QueryRange{from.toLocalTime().date(), to.toLocalTime().date(), start->toMSecsSinceEpoch(),
                             end->toMSecsSinceEpoch()};
        if (auto failed = Query(r, &result, &none))
            return *failed;
        // The event log of the range: gaps as spans, every event as a mark.
        QueryRange days = r.range;
        days.from = days.from.addDays(-1);
        days.to = days.to.addDays(1);
        days.startMs.reset();
        days.endMs.reset();
        if (RangeEvents(r.paths, days, &events, &error)) {
            const ChartEvents chart = EventsForChart(events, *start, *end, r.spec.channels);
            std::vector<std::pair<qint64, qint64>> spans;
            for (const EventSpan& gap : chart.gaps)
                spans.emplace_back(gap.from.toMSecsSinceEpoch(), gap.to.toMSecsSinceEpoch());
            // Only gaps that cost rows: a rotated file's stop and start with the next row on time is none.
            const std::vector<bool> missing =
                none ? std::vector<bool>(spans.size(), true) : GapsWithMissingRows(RowInstants(result, 0, 1), spans);
            for (qsizetype g = 0; g < chart.gaps.size(); ++g) {
                if (!missing[size_t(g)])
                    continue;
                const EventSpan& gap = chart.gaps[g];
                gapSpans.push_back(spans[size_t(g)]);
                gaps.append(QJsonObject{{QStringLiteral("kind"), gap.kind},
                                        {QStringLiteral("from"), UnixSeconds(gap.from)},
                                        {QStringLiteral("to"), UnixSeconds(gap.to)}});
            }
            for (const EventMark& mark : chart.marks)
                marks.append(QJsonObject{{QStringLiteral("at"), UnixSeconds(mark.at)},
                                         {QStringLiteral("kind"), mark.kind},
                                         {QStringLiteral("channel"), mark.channel ? QJsonValue(*mark.channel) : QJsonValue()},
                                         {QStringLiteral("text"), mark.text},
                                         {QStringLiteral("tip"), MarkTip(mark)}});
        }
    }
    // A line per channel, or per unit of a channel whose meter changed function in the range (V
    // to Ohm): no point and no line joins volts and ohms.
    struct Line {
        int channel;
        QString unit; // empty: every row of the channel
    };
    std::vector<Line> lines;
    for (int channel : r.spec.channels) {
        const int column = none ? -1 : result.columnOf(QStringLiteral("chan %1").arg(channel));
        const int unitColumn = none ? -1 : result.columnOf(QStringLiteral("unit %1").arg(channel));
        const QStringList units = column >= 0 && unitColumn >= 0 ? ReadingUnits(result, column, unitColumn) : QStringList();
        if (units.size() > 1 && units.size() <= MaxUnitLines)
            for (const QString& unit : units)
                lines.push_back({channel, unit});
        else
            lines.push_back({channel, QString()});
    }
    if (!none) {
        const std::vector<qint64> instants = RowInstants(result, 0, 1);
        std::vector<std::vector<double>> values;
        for (const Line& line : lines) {
            const int column = result.columnOf(QStringLiteral("chan %1").arg(line.channel));
            const int unitColumn = result.columnOf(QStringLiteral("unit %1").arg(line.channel));
            std::vector<double>& v = values.emplace_back(size_t(result.rowCount()));
            for (int row = 0; row < result.rowCount(); ++row)
                v[size_t(row)] = line.unit.isEmpty() || result.text(row, unitColumn).trimmed() == line.unit
                                     ? result.reading(row, column)
                                     : std::numeric_limits<double>::quiet_NaN();
        }
        buckets = MakeBuckets(start->toMSecsSinceEpoch(), end->toMSecsSinceEpoch(), points, instants, values, gapSpans);
    }
    QJsonArray times, lasts;
    for (size_t k = 0; k < buckets.firstMs.size(); ++k) {
        times.append(double(buckets.firstMs[k]) / 1000.0);
        lasts.append(double(buckets.lastMs[k]) / 1000.0);
    }
    QJsonArray channels;
    for (size_t i = 0; i < lines.size(); ++i) {
        const int channel = lines[i].channel;
        QJsonObject c{{QStringLiteral("channel"), channel}};
        const int unitColumn = none ? -1 : result.columnOf(QStringLiteral("unit %1").arg(channel));
        if (!lines[i].unit.isEmpty()) {
            c.insert(QStringLiteral("unit"), lines[i].unit);
            c.insert(QStringLiteral("units"), QJsonArray{QJsonObject{{QStringLiteral("unit"), lines[i].unit},
                                                                     {QStringLiteral("quantity"), QuantityOfUnit(lines[i].unit)}}});
        } else {
            c.insert(QStringLiteral("unit"), unitColumn >= 0 ? result.text(result.rowCount() - 1, unitColumn) : QString());
            c.insert(QStringLiteral("units"), UnitsOfRows(result, unitColumn));
        }
        QJsonArray count, lo, hi, mean;
        if (i < buckets.channels.size()) {
            const ChannelBuckets& b = buckets.channels[i];
            for (size_t k = 0; k < b.count.size(); ++k) {
                const bool some = b.count[k] > 0;
                count.append(std::max(b.count[k], 0));
                lo.append(some ? Number(b.minimum[k]) : QJsonValue());
                hi.append(some ? Number(b.maximum[k]) : QJsonValue());
                mean.append(some ? Number(b.mean[k]) : QJsonValue());
            }
        }
        c.insert(QStringLiteral("count"), count);
        c.insert(QStringLiteral("min"), lo);
        c.insert(QStringLiteral("max"), hi);
        c.insert(QStringLiteral("mean"), mean);
        channels.append(c);
    }
    out.insert(QStringLiteral("start"), start->isValid() ? UnixSeconds(*start) : QJsonValue());
    out.insert(QStringLiteral("end"), end->isValid() ? UnixSeconds(*end) : QJsonValue());
    out.insert(QStringLiteral("offsets"), Offsets(from, to));
    out.insert(QStringLiteral("bucketSeconds"), double(buckets.widthMs) / 1000.0);
    out.insert(QStringLiteral("rows"), none ? 0 : result.rowCount());
    out.insert(QStringLiteral("time"), times);
    out.insert(QStringLiteral("last"), lasts);
    out.insert(QStringLiteral("channels"), channels);
    out.insert(QStringLiteral("gaps"), gaps);
    out.insert(QStringLiteral("events"), marks);
    return Json(QJsonDocument(out));
}

struct Asset {
    const char* path;
    const char* resource;
    const char* type;
};
constexpr Asset Assets[] = {
    {"/history", ":/web/history.html", "text/html; charset=utf-8"},
    {"/history.js", ":/web/history.js", "text/javascript; charset=utf-8"},
    {"/history.css", ":/web/history.css", "text/css; charset=utf-8"},
    {"/vendor/uPlot.iife.min.js", ":/web/vendor/uPlot.iife.min.js", "text/javascript; charset=utf-8"},
    {"/vendor/uPlot.min.css", ":/web/vendor/uPlot.min.css", "text/css; charset=utf-8"},
};

} // namespace

HistoryApi::HistoryApi(QString folder, std::function<QString()> recording)
    : m_folder(std::move(folder)), m_recording(std::move(recording))
{
}

bool HistoryApi::IsAsset(const QByteArray& path)
{
    return std::any_of(std::begin(Assets), std::end(Assets), [&path](const Asset& a) { return path == a.path; });
}

bool HistoryApi::IsDownload(const QByteArray& path)
{
    return path == "/api/rows";
}

bool HistoryApi::Handles(const QByteArray& path)
{
    return IsAsset(path) || path == "/api/files" || path == "/api/rows" || path == "/api/stats" ||
           path == "/api/events" || path == "/api/series";
}

HistoryReply HistoryApi::Answer(const QByteArray& path, const HistoryArguments& arguments,
                                const std::function<bool()>& stop) const
{
    for (const Asset& asset : Assets) {
        if (path != asset.path)
            continue;
        QFile file(QString::fromLatin1(asset.resource));
        if (!file.open(QIODevice::ReadOnly))
            return Refusal(404, QStringLiteral("not built into the program"));
        HistoryReply reply;
        reply.type = asset.type;
        reply.body = file.readAll();
        return reply;
    }
    const QString recording = m_recording ? m_recording() : QString();
    if (path == "/api/files")
        return Files(m_folder, recording);
    Request r;
    r.stop = stop;
    const bool dates = path != "/api/series";
    if (auto refused = ReadRequest(arguments, m_folder, recording, dates, &r))
        return *refused;
    const QByteArray format = arguments.value("format", path == "/api/rows" || path == "/api/events" ? "json" : "");
    if (path == "/api/rows") {
        if (format != "json" && format != "csv" && format != "txt" && format != "xlsx")
            return Refusal(400, QStringLiteral("format wants json, csv, txt or xlsx"));
        return Rows(r, m_folder, format);
    }
    if (path == "/api/events") {
        if (format != "json" && format != "csv")
            return Refusal(400, QStringLiteral("format wants json or csv"));
        return Events(r, format);
    }
    if (path == "/api/stats")
        return Stats(r);
    return Series(r, arguments);
}

} // namespace web
