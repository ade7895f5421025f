// The readers behind a data file query: typed dates, range ends (a date and time), times, channel choices and numbers, and the
// statement they make, translated and prepared by SQLite against a DataRecord table of 16 channels.
// Byte 0: the reader (low two bits) and the locale (next three bits); lines of the rest are the
// texts typed.
#include "core/typed_number.h"
#include "datafile/data_file.h"
#include "datafile/sql_dialect.h"
#include "fuzz_support.h"
#include "query/query_range.h"
#include "query/query_statement.h"

#include <cmath>
#include <sqlite3.h>

namespace {

sqlite3* DataRecordDatabase()
{
    static sqlite3* db = [] {
        sqlite3* d = nullptr;
        FUZZ_CHECK(sqlite3_open(":memory:", &d) == SQLITE_OK, "in-memory database");
        const QByteArray create = DataRecordTableSql(16);
        FUZZ_CHECK(sqlite3_exec(d, create.constData(), nullptr, nullptr, nullptr) == SQLITE_OK, "DataRecord table");
        return d;
    }();
    return db;
}

// Prepares (and, when `run`, steps through) a translated statement; false when SQLite refuses it.
bool Prepares(const QString& sql, bool run)
{
    const QByteArray text = sql.toUtf8();
    sqlite3_stmt* statement = nullptr;
    const int rc = sqlite3_prepare_v2(DataRecordDatabase(), text.constData(), int(text.size()), &statement, nullptr);
    if (rc == SQLITE_OK && run && statement)
        while (sqlite3_step(statement) == SQLITE_ROW) {
        }
    sqlite3_finalize(statement);
    return rc == SQLITE_OK;
}

QLocale PickLocale(int n)
{
    static const char* const names[] = {"C", "en_US", "de_DE", "fr_FR", "ja_JP", "en_GB", "nl_NL", "ko_KR"};
    return QLocale(QString::fromLatin1(names[n % 8]));
}

void Dates(FuzzInput& in, const QLocale& locale)
{
    const QString text = QString::fromUtf8(in.line());
    // A range end of the history API and meter-query: a date, or a date and time to the second.
    QDate end;
    std::optional<qint64> ms;
    QString why;
    if (ReadRangeEnd(text, &end, &ms, &why)) {
        FUZZ_CHECK(end.isValid() && end.year() >= 1 && end.year() <= 9999, "a range end outside the years 1 to 9999");
        FUZZ_CHECK(!ms || QDateTime::fromMSecsSinceEpoch(*ms).date() == end, "a range end's instant on another day");
    } else {
        FUZZ_CHECK(!why.isEmpty(), "a range end refused without a reason");
    }
    const QDate date = ReadDate(text, locale);
    if (!date.isValid() || date.year() < 1 || date.year() > 9999)
        return;
    // A date shown in the short form reads back as the same day.
    const QString shown = ShortDateText(date, locale);
    FUZZ_CHECK(ReadDate(shown, locale) == date, "a date shown in the short form reads back as another day");
}

void Statement(FuzzInput& in, const QLocale& locale)
{
    QuerySpec spec;
    const uint16_t chosen = in.value<uint16_t>();
    for (int c = 1; c <= 16; ++c)
        if (chosen & (1u << (c - 1)))
            spec.channels.append(c);
    spec.timeCondition = in.byte() & 1;
    spec.startDate = QString::fromUtf8(in.line());
    spec.endDate = QString::fromUtf8(in.line());
    spec.startTime = QString::fromUtf8(in.line());
    spec.endTime = QString::fromUtf8(in.line());
    QString statement, error;
    if (!BuildStatement(spec, &statement, &error, locale)) {
        FUZZ_CHECK(!error.isEmpty(), "a statement refused without a reason");
        return;
    }
    QString translated;
    if (!TranslateStatement(statement, &translated, &error)) {
        FUZZ_CHECK(!error.isEmpty(), "a translation refused without a reason");
        return;
    }
    if (!Prepares(translated, true)) {
        std::fprintf(stderr, "statement: %s\nSQLite: %s\n", qPrintable(translated),
                     sqlite3_errmsg(DataRecordDatabase()));
        FUZZ_CHECK(false, "an accepted query that SQLite cannot prepare");
    }
}

void Translation(FuzzInput& in)
{
    const QString statement = QString::fromUtf8(in.rest());
    QString translated, error;
    if (!TranslateStatement(statement, &translated, &error)) {
        FUZZ_CHECK(!error.isEmpty(), "a translation refused without a reason");
        return;
    }
    if (!statement.contains(QLatin1Char('#')))
        FUZZ_CHECK(translated == statement, "a statement without literals changed in translation");
    Prepares(translated, false); // any statement: SQLite may refuse it, but must not fail otherwise
}

void Numbers(FuzzInput& in)
{
    const qint64 a = in.value<qint64>();
    const qint64 b = in.value<qint64>();
    const double raw = in.value<double>();
    const QString text = QString::fromUtf8(in.rest());
    const qint64 min = std::min(a, b), max = std::max(a, b);
    if (const auto typed = TypedInteger(text, min, max))
        FUZZ_CHECK(*typed >= min && *typed <= max, "a typed integer outside its bounds");
    const auto leading = LeadingNumber(text);
    FUZZ_CHECK(!leading || std::isfinite(*leading), "a leading number beyond a double");
    if (const auto strict = StrictNumber(text)) {
        FUZZ_CHECK(std::isfinite(*strict), "a strict number that is not finite");
        FUZZ_CHECK(leading && *leading == *strict, "a whole-text number is not its own leading number");
    }
    StrictInt16(text);
    if (const auto rounded = RoundToInt16(raw))
        FUZZ_CHECK(std::fabs(*rounded - raw) <= 0.5, "a value rounded to a 16-bit integer moved by more than a half");
}

int FuzzStatement(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const uint8_t selector = in.byte();
    const QLocale locale = PickLocale(selector >> 2);
    switch (selector & 3) {
    case 0:
        Dates(in, locale);
        break;
    case 1:
        Statement(in, locale);
        break;
    case 2:
        Translation(in);
        break;
    default:
        Numbers(in);
        break;
    }
    return 0;
}

} // namespace

VARNIK_FUZZ_TARGET("statement", FuzzStatement)
