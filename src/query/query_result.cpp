#include "query/query_result.h"

#include "core/shared_state.h"
#include "datafile/data_file.h"
#include "datafile/sql_dialect.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sqlite3.h>

const QString NoRecordMessage = QStringLiteral("No record matched the query.");
const QString CancelledMessage = QStringLiteral("The query was cancelled.");

namespace {

constexpr int DaySeconds = 24 * 60 * 60;
// Day 0 of the numeric date form some writers store: 1899-12-30.
const qint64 NumericDateEpoch = QDate(1899, 12, 30).toJulianDay();

int Digits(const char* p, int n)
{
    int v = 0;
    for (int i = 0; i < n; ++i) {
        if (p[i] < '0' || p[i] > '9')
            return -1;
        v = v * 10 + (p[i] - '0');
    }
    return v;
}

// Reads the leading number of at most maxDigits digits at *p and moves past it; -1 when none.
int TakeNumber(const char*& p, const char* end, int maxDigits)
{
    int v = 0, n = 0;
    while (p < end && n < maxDigits && *p >= '0' && *p <= '9')
        v = v * 10 + (*p++ - '0'), ++n;
    return n ? v : -1;
}

// Julian day of a "YYYY-MM-DD" text (also with "/" and an ignored time part after it).
int32_t DateFromText(const char* p, int length)
{
    if (length >= 10 && (p[4] == '-' || p[4] == '/') && p[7] == p[4] &&
        (length == 10 || p[10] == ' ' || p[10] == 'T')) {
        const QDate d(Digits(p, 4), Digits(p + 5, 2), Digits(p + 8, 2));
        if (d.isValid())
            return int32_t(d.toJulianDay());
    }
    const char* end = p + length;
    const int y = TakeNumber(p, end, 4);
    if (y < 0 || p == end || (*p != '-' && *p != '/'))
        return QueryResult::NullInt;
    const char sep = *p++;
    const int m = TakeNumber(p, end, 2);
    if (m < 0 || p == end || *p++ != sep)
        return QueryResult::NullInt;
    const int d = TakeNumber(p, end, 2);
    const QDate date(y, m, d);
    return d >= 0 && (p == end || *p == ' ' || *p == 'T') && date.isValid() ? int32_t(date.toJulianDay())
                                                                            : QueryResult::NullInt;
}

// Seconds of the day of "HH:MM:SS", "H:MM", "HH:MM:SS.fff" or any of them after a date part.
int32_t TimeFromText(const char* p, int length)
{
    if (length == 8 && p[2] == ':' && p[5] == ':') {
        const int h = Digits(p, 2), m = Digits(p + 3, 2), s = Digits(p + 6, 2);
        if (h >= 0 && h < 24 && m >= 0 && m < 60 && s >= 0 && s < 60)
            return h * 3600 + m * 60 + s;
    }
    const char* end = p + length;
    // A number is a fraction of a day (the other way a date-time column can hold a time).
    char* numberEnd = nullptr;
    const QByteArray text(p, length);
    const double fraction = std::strtod(text.constData(), &numberEnd);
    if (length > 0 && numberEnd == text.constData() + length && std::isfinite(fraction))
        return int32_t(std::llround((fraction - std::floor(fraction)) * DaySeconds) % DaySeconds);
    for (const char* q = p; q < end; ++q) {
        if (*q == ' ' || *q == 'T') {
            p = q + 1;
            break;
        }
    }
    const int h = TakeNumber(p, end, 2);
    if (h < 0 || h > 23 || p == end || *p++ != ':')
        return QueryResult::NullInt;
    const int m = TakeNumber(p, end, 2);
    int s = 0;
    if (p < end && *p == ':') {
        ++p;
        s = TakeNumber(p, end, 2);
    }
    if (p < end && *p == '.')
        for (++p; p < end && *p >= '0' && *p <= '9'; ++p) {
        }
    if (m < 0 || m > 59 || s < 0 || s > 59 || p != end)
        return QueryResult::NullInt;
    return h * 3600 + m * 60 + s;
}

// How long a reader waits for a writer (the recorder appends a row within milliseconds).
constexpr int BusyMilliseconds = 2000;

QString EngineFailure(sqlite3* db, const QString& path)
{
    if (!db)
        return QStringLiteral("out of memory");
    const QString engine = QString::fromUtf8(sqlite3_errmsg(db));
    if ((sqlite3_errcode(db) & 0xff) == SQLITE_BUSY)
        return QStringLiteral("The data file \"%1\" is in use by another program: %2")
            .arg(QDir::toNativeSeparators(path), engine);
    return engine;
}

} // namespace

// Fills a QueryResult from a prepared statement; the friend that knows its storage.
class QueryReader {
  public:
    QueryReader(sqlite3_stmt* statement, QueryResult* result) : m_stmt(statement), m_result(result)
    {
        const int columns = sqlite3_column_count(statement);
        m_result->m_columns.resize(size_t(columns));
        m_last.resize(size_t(columns));
        for (int i = 0; i < columns; ++i) {
            const QString name = QString::fromUtf8(sqlite3_column_name(statement, i));
            m_result->m_names.append(name);
            auto& column = m_result->m_columns[size_t(i)];
            const QString lower = name.toLower();
            if (lower == QLatin1String("date"))
                column.kind = QueryResult::Kind::Date;
            else if (lower == QLatin1String("time"))
                column.kind = QueryResult::Kind::Time;
            else if (lower.startsWith(QLatin1String("chan ")))
                column.kind = QueryResult::Kind::Reading;
            if (lower.startsWith(QLatin1String("chan ")) || lower.startsWith(QLatin1String("unit ")))
                column.channel = lower.mid(5).toInt();
        }
    }

    // Appends the current row. A row whose date or time cannot be read is left out and counted;
    // the first such cell is kept for the skip note.
    void Take()
    {
        const int columns = int(m_result->m_columns.size());
        for (int i = 0; i < columns; ++i) {
            auto& column = m_result->m_columns[size_t(i)];
            const int type = sqlite3_column_type(m_stmt, i);
            if (column.kind == QueryResult::Kind::Reading) {
                column.reals.push_back(Reading(i, type));
                continue;
            }
            int32_t value = QueryResult::NullInt;
            if (type != SQLITE_NULL) {
                value = column.kind == QueryResult::Kind::Text ? Intern(i) : Moment(column.kind, i, type);
                if (value == QueryResult::NullInt) {
                    Skip(i);
                    return;
                }
            }
            column.ints.push_back(value);
        }
        ++m_result->m_rows;
    }

  private:
    int32_t Moment(QueryResult::Kind kind, int i, int type)
    {
        if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
            const double v = sqlite3_column_double(m_stmt, i);
            const double day = std::floor(v);
            if (!std::isfinite(v) || std::fabs(v) > 1e7)
                return QueryResult::NullInt;
            if (kind == QueryResult::Kind::Date)
                return int32_t(NumericDateEpoch + qint64(day));
            return int32_t(std::llround((v - day) * DaySeconds) % DaySeconds);
        }
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, i));
        const int length = sqlite3_column_bytes(m_stmt, i);
        return kind == QueryResult::Kind::Date ? DateFromText(text, length) : TimeFromText(text, length);
    }

    // Units change seldom down a column: the last text of each column is kept to skip the lookup.
    int32_t Intern(int i)
    {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, i));
        const int length = sqlite3_column_bytes(m_stmt, i);
        auto& last = m_last[size_t(i)];
        if (last.index >= 0 && last.bytes.size() == length &&
            std::memcmp(last.bytes.constData(), text, size_t(length)) == 0)
            return last.index;
        last.bytes = QByteArray(text, length);
        const QString value = QString::fromUtf8(last.bytes);
        last.index = int32_t(m_result->m_pool.indexOf(value));
        if (last.index < 0) {
            last.index = int32_t(m_result->m_pool.size());
            m_result->m_pool.append(value);
        }
        return last.index;
    }

    // A reading is a number: text or a BLOB someone put into a reading column, and a value that is
    // not finite, read as null, so that no writer shows it and no statistic takes it in.
    double Reading(int i, int type)
    {
        const double v = type == SQLITE_INTEGER || type == SQLITE_FLOAT
                             ? sqlite3_column_double(m_stmt, i)
                             : std::numeric_limits<double>::quiet_NaN();
        return std::isfinite(v) ? v : std::numeric_limits<double>::quiet_NaN();
    }

    // Takes back the cells of the current row already appended (columns before i).
    void Skip(int i)
    {
        for (int j = 0; j < i; ++j) {
            auto& column = m_result->m_columns[size_t(j)];
            if (column.kind == QueryResult::Kind::Reading)
                column.reals.pop_back();
            else
                column.ints.pop_back();
        }
        if (m_result->m_skipped++ == 0)
            m_result->m_firstSkipped =
                QStringLiteral("%1 \"%2\"")
                    .arg(m_result->m_names[i],
                         QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, i))));
    }

    struct LastText {
        QByteArray bytes;
        int32_t index = -1;
    };
    sqlite3_stmt* m_stmt;
    QueryResult* m_result;
    std::vector<LastText> m_last;
};

int QueryResult::columnOf(const QString& name) const
{
    for (int i = 0; i < m_names.size(); ++i)
        if (m_names[i].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

void QueryResult::keepRows(const std::vector<bool>& keep)
{
    for (Column& c : m_columns) {
        size_t to = 0;
        for (size_t row = 0; row < keep.size(); ++row) {
            if (!keep[row])
                continue;
            if (c.kind == Kind::Reading)
                c.reals[to] = c.reals[row];
            else
                c.ints[to] = c.ints[row];
            ++to;
        }
        if (c.kind == Kind::Reading) {
            c.reals.resize(to);
            c.reals.shrink_to_fit();
        } else {
            c.ints.resize(to);
            c.ints.shrink_to_fit();
        }
    }
    m_rows = int(std::count(keep.begin(), keep.end(), true));
}

bool QueryResult::append(const QueryResult& other)
{
    if (m_columns.empty() && m_rows == 0) {
        *this = other;
        return true;
    }
    if (other.m_names.size() != m_names.size())
        return false;
    for (int i = 0; i < m_names.size(); ++i)
        if (m_names[i].compare(other.m_names[i], Qt::CaseInsensitive) != 0)
            return false;
    std::vector<int32_t> pool(size_t(other.m_pool.size()));
    for (qsizetype i = 0; i < other.m_pool.size(); ++i) {
        qsizetype at = m_pool.indexOf(other.m_pool[i]);
        if (at < 0) {
            at = m_pool.size();
            m_pool.append(other.m_pool[i]);
        }
        pool[size_t(i)] = int32_t(at);
    }
    for (size_t i = 0; i < m_columns.size(); ++i) {
        Column& c = m_columns[i];
        const Column& o = other.m_columns[i];
        if (c.kind == Kind::Reading) {
            c.reals.insert(c.reals.end(), o.reals.begin(), o.reals.end());
            continue;
        }
        for (int32_t v : o.ints)
            c.ints.push_back(c.kind == Kind::Text && v != NullInt ? pool[size_t(v)] : v);
    }
    m_rows += other.m_rows;
    if (m_skipped == 0)
        m_firstSkipped = other.m_firstSkipped;
    m_skipped += other.m_skipped;
    return true;
}

bool QueryResult::isNull(int row, int column) const
{
    const Column& c = m_columns[size_t(column)];
    return c.kind == Kind::Reading ? std::isnan(c.reals[size_t(row)]) : c.ints[size_t(row)] == NullInt;
}

QDate QueryResult::date(int row, int column) const
{
    const int32_t day = m_columns[size_t(column)].ints[size_t(row)];
    return day == NullInt ? QDate() : QDate::fromJulianDay(day);
}

int QueryResult::seconds(int row, int column) const
{
    return m_columns[size_t(column)].ints[size_t(row)];
}

const QString& QueryResult::text(int row, int column) const
{
    static const QString empty;
    const int32_t index = m_columns[size_t(column)].ints[size_t(row)];
    return index == NullInt ? empty : m_pool[index];
}

QString QueryResult::display(int row, int column, const QString& dateFormat) const
{
    if (isNull(row, column))
        return {};
    switch (kind(column)) {
    case Kind::Date:
        return date(row, column).toString(dateFormat);
    case Kind::Time:
        return time(row, column).toString(QStringLiteral("HH:mm:ss"));
    case Kind::Reading:
        return PlainNumber(reading(row, column));
    case Kind::Text:
        break;
    }
    return text(row, column);
}

QString PlainNumber(double value)
{
    if (!std::isfinite(value))
        return {};
    if (value == 0)
        return QStringLiteral("0");
    char buffer[400]; // the longest fixed form of a double has about 330 characters
    const auto done = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    return done.ec == std::errc() ? QString::fromLatin1(buffer, done.ptr - buffer) : QString();
}

QString SkippedText(const QueryResult& result)
{
    if (result.skippedRows() == 0)
        return {};
    return QStringLiteral("%1 record%2 skipped: %3 date or time cannot be read (the first: %4).")
        .arg(result.skippedRows())
        .arg(result.skippedRows() == 1 ? QStringLiteral(" was") : QStringLiteral("s were"),
             result.skippedRows() == 1 ? QStringLiteral("its") : QStringLiteral("their"),
             result.firstSkipped());
}

bool DataFileInUse(const QString& databasePath, QString* error)
{
    sqlite3* db = nullptr;
    const QByteArray path = QFileInfo(databasePath).absoluteFilePath().toUtf8();
    bool busy = false;
    if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, BusyMilliseconds);
        busy = (sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) & 0xff) ==
               SQLITE_BUSY;
        if (busy)
            *error = EngineFailure(db, databasePath);
    }
    sqlite3_close(db);
    return busy;
}

QueryStatus RunQuery(const QString& databasePath, const QString& statement, QueryResult* result,
                     QString* error)
{
    return RunQuery(databasePath, statement, result, error, {});
}

QueryStatus RunQuery(const QString& databasePath, const QString& statement, QueryResult* result,
                     QString* error, const std::function<bool()>& stop)
{
    error->clear();
    if (!FileExists(databasePath)) {
        *error = QStringLiteral("The data file \"%1\" does not exist.")
                     .arg(QDir::toNativeSeparators(databasePath));
        return QueryStatus::Failed;
    }
    QString sql;
    if (!TranslateStatement(statement, &sql, error))
        return QueryStatus::Failed;

    sqlite3* db = nullptr;
    sqlite3_stmt* stmt = nullptr;
    QueryResult fresh;
    QueryStatus status = QueryStatus::Failed;
    const QByteArray path = QFileInfo(databasePath).absoluteFilePath().toUtf8();
    // The connection lives in this call on one thread: without SQLite's per-call mutex a full
    // file reads in about two thirds of the time.
    if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) ==
        SQLITE_OK) {
        sqlite3_busy_timeout(db, BusyMilliseconds);
        if (stop)
            sqlite3_progress_handler(
                db, 20000, [](void* asked) { return (*static_cast<const std::function<bool()>*>(asked))() ? 1 : 0; },
                const_cast<std::function<bool()>*>(&stop));
        const QByteArray text = sql.toUtf8();
        if (sqlite3_prepare_v2(db, text.constData(), int(text.size()), &stmt, nullptr) == SQLITE_OK) {
            QueryReader reader(stmt, &fresh);
            int step = SQLITE_ROW;
            while ((step = sqlite3_step(stmt)) == SQLITE_ROW)
                reader.Take();
            if (step == SQLITE_DONE)
                status = fresh.rowCount() > 0 ? QueryStatus::Done : QueryStatus::NoRecord;
            else if (step == SQLITE_INTERRUPT)
                *error = CancelledMessage;
        }
    }
    if (status == QueryStatus::Failed && error->isEmpty())
        *error = EngineFailure(db, databasePath);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    if (status == QueryStatus::NoRecord)
        *error = (NoRecordMessage + QLatin1Char(' ') + SkippedText(fresh)).trimmed();
    if (status == QueryStatus::Done)
        *result = std::move(fresh);
    return status;
}

namespace {

ColumnStatistics StatisticsOf(const QueryResult& result, int column, const std::function<bool(int)>& counts)
{
    ColumnStatistics s;
    // A running mean, not a sum: each step adds v/n - mean/n, which cannot overflow where a sum of
    // readings near the largest double would, and adds exactly 0 for a repeated value; what
    // rounding is left is kept inside minimum..maximum.
    double mean = 0;
    for (int row = 0; row < result.rowCount(); ++row) {
        const double v = result.reading(row, column);
        if (std::isnan(v) || v == InvalidReading || (counts && !counts(row)))
            continue;
        if (s.count == 0 || v < s.minimum)
            s.minimum = v;
        if (s.count == 0 || v > s.maximum)
            s.maximum = v;
        ++s.count;
        mean += v / s.count - mean / s.count;
    }
    s.mean = s.count ? std::clamp(mean, s.minimum, s.maximum) : 0;
    return s;
}

} // namespace

ColumnStatistics Statistics(const QueryResult& result, int column)
{
    return StatisticsOf(result, column, {});
}

ColumnStatistics Statistics(const QueryResult& result, int column, int unitColumn, const QString& unit)
{
    return StatisticsOf(result, column, [&](int row) { return result.text(row, unitColumn).trimmed() == unit; });
}

QStringList ReadingUnits(const QueryResult& result, int column, int unitColumn)
{
    QStringList units;
    for (int row = 0; row < result.rowCount(); ++row) {
        const double v = result.reading(row, column);
        if (std::isnan(v) || v == InvalidReading)
            continue;
        const QString unit = result.text(row, unitColumn).trimmed();
        if (!units.contains(unit))
            units << unit;
    }
    return units;
}
