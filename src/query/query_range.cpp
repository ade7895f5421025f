#include "query/query_range.h"

#include "query/events_sheet.h"

#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <algorithm>
#include <limits>

namespace {

constexpr int FirstYear = 1;
constexpr int LastYear = 9999;

qint64 EventInstant(const LoggedEvent& e)
{
    return e.utc.isValid() ? e.utc.toMSecsSinceEpoch() : QDateTime(e.date, e.time).toMSecsSinceEpoch();
}

bool InRange(qint64 t, const QueryRange& range)
{
    return (!range.startMs || t >= *range.startMs) && (!range.endMs || t <= *range.endMs);
}

} // namespace

QString QuotedText(const QString& text, int most)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : text.left(most)) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\') + QString(c);
        else if (c == QLatin1Char('\n'))
            out += QStringLiteral("\\n");
        else if (c == QLatin1Char('\r'))
            out += QStringLiteral("\\r");
        else if (c == QLatin1Char('\t'))
            out += QStringLiteral("\\t");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7f || c.category() == QChar::Other_Format ||
                 c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out + (text.size() > most ? QStringLiteral("…\"") : QStringLiteral("\""));
}

bool ReadRangeEnd(const QString& text, QDate* date, std::optional<qint64>* ms, QString* error)
{
    static const QRegularExpression dateTime(QStringLiteral(
        "^(\\d{4}-\\d{2}-\\d{2})[ T](\\d{2}:\\d{2}(?::\\d{2}(?:[.,]\\d{1,3})?)?)(Z|[+-]\\d{2}(?::?\\d{2})?)?$"));
    const QString typed = text.trimmed();
    ms->reset();
    const auto m = dateTime.match(typed);
    if (m.hasMatch()) {
        QString iso = m.captured(1) + QLatin1Char('T') + m.captured(2);
        iso.replace(QLatin1Char(','), QLatin1Char('.'));
        QString zone = m.captured(3);
        if (zone.size() == 3)
            zone += QStringLiteral(":00");
        const QDateTime t = QDateTime::fromString(iso + zone, Qt::ISODateWithMs);
        const QDate local = t.toLocalTime().date();
        if (!t.isValid() || local.year() < FirstYear || local.year() > LastYear) {
            *error = QStringLiteral("%1 is not a date and time of the years %2 to %3")
                         .arg(QuotedText(text))
                         .arg(FirstYear, 4, 10, QLatin1Char('0'))
                         .arg(LastYear);
            return false;
        }
        *date = local;
        *ms = t.toMSecsSinceEpoch();
        return true;
    }
    // A date alone is the whole text: nothing after it (Qt's own ISO reading stops at the tenth
    // character and takes "2026-10-25x" or "2026-10-25T3:00" as that day).
    static const QRegularExpression iso(QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})$"));
    static const QRegularExpression slashed(QStringLiteral("^(\\d{4})/(\\d{1,2})/(\\d{1,2})$"));
    static const QRegularExpression shortForm(QStringLiteral("^[0-9]{1,2}[./ -][0-9]{1,2}[./ -][0-9]{2,4}$"));
    const auto isoMatch = iso.match(typed), slashMatch = slashed.match(typed);
    if (const auto& ymd = isoMatch.hasMatch() ? isoMatch : slashMatch; ymd.hasMatch())
        *date = QDate(ymd.captured(1).toInt(), ymd.captured(2).toInt(), ymd.captured(3).toInt());
    else if (shortForm.match(typed).hasMatch())
        *date = ReadDate(typed);
    else
        *date = QDate();
    if (!date->isValid() || date->year() < FirstYear || date->year() > LastYear) {
        *error = QStringLiteral("%1 is not a date (yyyy-mm-dd) or a date and time (yyyy-mm-dd hh:mm:ss) "
                                "of the years 0001 to 9999")
                     .arg(QuotedText(text));
        return false;
    }
    return true;
}

bool ReadRange(const QString& from, const QString& to, QueryRange* range, QString* error, const QString& fromName,
               const QString& toName)
{
    QString why;
    if (!ReadRangeEnd(from, &range->from, &range->startMs, &why)) {
        *error = fromName + QLatin1Char(' ') + why;
        return false;
    }
    if (!ReadRangeEnd(to, &range->to, &range->endMs, &why)) {
        *error = toName + QLatin1Char(' ') + why;
        return false;
    }
    return true;
}

void SetRangeDates(const QueryRange& range, QuerySpec* spec)
{
    spec->startDate = range.from.toString(Qt::ISODate);
    spec->endDate = range.to.toString(Qt::ISODate);
}

std::vector<qint64> RowInstants(const QueryResult& result, int dateColumn, int timeColumn)
{
    constexpr qint64 Hour = 3600 * 1000;
    std::vector<qint64> instants(size_t(result.rowCount()), std::numeric_limits<qint64>::min());
    // The zone's offset changes on whole hours: one look-up per local hour.
    QHash<qint64, qint64> hourStart; // local day * 24 + hour -> its instant
    qint64 previous = std::numeric_limits<qint64>::min();
    for (int row = 0; row < result.rowCount(); ++row) {
        if (result.isNull(row, dateColumn) || result.isNull(row, timeColumn))
            continue;
        const QDate day = result.date(row, dateColumn);
        const int seconds = result.seconds(row, timeColumn);
        const qint64 key = day.toJulianDay() * 24 + seconds / 3600;
        auto at = hourStart.find(key);
        if (at == hourStart.end()) {
            const QTime hour(seconds / 3600, 0);
            qint64 start = QDateTime(day, hour).toMSecsSinceEpoch();
            // Of an hour the clock shows twice, its first pass.
            const QDateTime before = QDateTime::fromMSecsSinceEpoch(start - Hour);
            if (before.date() == day && before.time() == hour)
                start -= Hour;
            at = hourStart.insert(key, start);
        }
        qint64 instant = *at + qint64(seconds % 3600) * 1000;
        // The hour the clock goes back: the second pass of the same wall-clock times.
        if (instant < previous && previous - instant <= Hour)
            instant += Hour;
        instants[size_t(row)] = previous = instant;
    }
    return instants;
}

QStringList RotatedSeries(const QString& path)
{
    QStringList files{path};
    const QFileInfo head(path);
    if (!head.fileName().endsWith(QLatin1String(".mdb"), Qt::CaseInsensitive))
        return files;
    const QString stem = head.filePath().chopped(4);
    const QString ending = head.fileName().right(4);
    for (int number = 2;; ++number) {
        const QString next = QStringLiteral("%1_%2%3").arg(stem).arg(number, 3, 10, QLatin1Char('0')).arg(ending);
        if (!QFileInfo(next).isFile())
            return files;
        files.append(next);
    }
}

QueryStatus RunRangeQuery(const QStringList& paths, QuerySpec spec, const QueryRange& range, QueryResult* result,
                          QString* error, const std::function<bool()>& stop)
{
    SetRangeDates(range, &spec);
    QString statement;
    if (!BuildStatement(spec, &statement, error))
        return QueryStatus::Failed;
    QueryResult all;
    for (const QString& path : paths) {
        QueryResult one;
        const QueryStatus status = RunQuery(path, statement, &one, error, stop);
        if (status == QueryStatus::Failed)
            return status;
        if (status == QueryStatus::NoRecord)
            continue;
        if (range.startMs || range.endMs) {
            const std::vector<qint64> instants = RowInstants(one, 0, 1);
            std::vector<bool> keep(instants.size());
            for (size_t row = 0; row < instants.size(); ++row)
                keep[row] = instants[row] != std::numeric_limits<qint64>::min() && InRange(instants[row], range);
            one.keepRows(keep);
        }
        if (!all.append(one)) {
            *error = QStringLiteral("\"%1\" has other columns than the file before it")
                         .arg(QFileInfo(path).fileName());
            return QueryStatus::Failed;
        }
    }
    if (all.rowCount() == 0) {
        *error = (NoRecordMessage + QLatin1Char(' ') + SkippedText(all)).trimmed();
        return QueryStatus::NoRecord;
    }
    *result = std::move(all);
    return QueryStatus::Done;
}

bool RangeEvents(const QStringList& paths, const QueryRange& range, QList<LoggedEvent>* events, QString* error)
{
    events->clear();
    for (const QString& path : paths) {
        QList<LoggedEvent> one;
        if (!EventsForSheet(path, range.from, range.to, &one, error))
            return false;
        for (const LoggedEvent& e : one)
            if (InRange(EventInstant(e), range))
                events->append(e);
    }
    return true;
}
