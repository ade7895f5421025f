// Whatever a data file's cells may hold (made by hand, by another tool, or damaged) through the
// query into the statistics, the report, the CSV file and the workbook. Byte 0: the channels
// queried (low three bits, 1..8), a date condition (bit 3), the workbook too (bit 4). Then rows of
// cells, each a type byte and its value.
#include "datafile/data_file.h"
#include "fuzz_support.h"
#include "query/query_result.h"
#include "query/report_writer.h"
#include "query/spreadsheet_export.h"

#include <QFile>
#include <cfloat>
#include <cmath>
#include <limits>
#include <sqlite3.h>

namespace {

constexpr int FileChannels = 8;

QString DataFilePath()
{
    static const QString path = [] {
        const QString p = FuzzScratchFolder() + QStringLiteral("/cells.mdb");
        sqlite3* db = nullptr;
        FUZZ_CHECK(sqlite3_open(p.toUtf8().constData(), &db) == SQLITE_OK, "make the data file");
        FUZZ_CHECK(sqlite3_exec(db, DataRecordTableSql(FileChannels).constData(), nullptr, nullptr, nullptr) ==
                       SQLITE_OK,
                   "DataRecord table");
        sqlite3_close(db);
        return p;
    }();
    return path;
}

// A text after `pattern`: each 'd' a digit, other characters kept, unless the input byte for
// that place has its high bit set (then the byte's low seven bits); so dates and times are near.
QByteArray Patterned(FuzzInput& in, const char* pattern)
{
    QByteArray text;
    for (const char* p = pattern; *p; ++p) {
        const uint8_t b = in.byte();
        text.append(b & 0x80 ? char(b & 0x7f) : *p == 'd' ? char('0' + b % 10) : *p);
    }
    return text;
}

void BindCell(sqlite3_stmt* insert, int index, FuzzInput& in)
{
    const uint8_t type = in.byte();
    switch (type % 8) {
    case 0:
        sqlite3_bind_null(insert, index);
        break;
    case 1:
        sqlite3_bind_int64(insert, index, in.value<int64_t>());
        break;
    case 2:
        sqlite3_bind_double(insert, index, in.value<double>());
        break;
    case 3: {
        const QByteArray text = in.bytes(type >> 3);
        sqlite3_bind_text(insert, index, text.constData(), int(text.size()), SQLITE_TRANSIENT);
        break;
    }
    case 4: {
        const QByteArray blob = in.bytes(type >> 3);
        sqlite3_bind_blob(insert, index, blob.constData(), int(blob.size()), SQLITE_TRANSIENT);
        break;
    }
    case 5: { // a date-like text, yyyy-mm-dd or a little off
        static const char* const forms[] = {"dddd-dd-dd", "dddd/dd/dd", "dddd-dd-dd dd:dd:dd", "dddd-d-d"};
        const QByteArray text = Patterned(in, forms[(type >> 3) % 4]);
        sqlite3_bind_text(insert, index, text.constData(), int(text.size()), SQLITE_TRANSIENT);
        break;
    }
    case 6: { // a time-like text, hh:mm:ss or a little off
        static const char* const forms[] = {"dd:dd:dd", "d:dd", "dd:dd:dd.ddd", "dddd-dd-ddTdd:dd:dd", "d.ddddd"};
        const QByteArray text = Patterned(in, forms[(type >> 3) % 5]);
        sqlite3_bind_text(insert, index, text.constData(), int(text.size()), SQLITE_TRANSIENT);
        break;
    }
    default: {
        static const double odd[] = {HUGE_VAL, -HUGE_VAL, std::nan(""), DBL_MAX, -DBL_MAX, DBL_MIN / 4, -0.0,
                                     999999.0, 1e15, -1e-300, 0.5, 86399.99999, 2.5e9, -1.0, 1e300, 4.9e-324};
        sqlite3_bind_double(insert, index, odd[(type >> 3) % 16]);
        break;
    }
    }
}

void FillDataFile(FuzzInput& in)
{
    sqlite3* db = nullptr;
    const QByteArray path = DataFilePath().toUtf8();
    FUZZ_CHECK(sqlite3_open(path.constData(), &db) == SQLITE_OK, "open the data file");
    FUZZ_CHECK(sqlite3_exec(db, "BEGIN; DELETE FROM DataRecord;", nullptr, nullptr, nullptr) == SQLITE_OK, "empty it");
    QStringList columns, marks;
    for (const QString& c : DataRecordColumns(FileChannels)) {
        columns << QLatin1Char('"') + c + QLatin1Char('"');
        marks << QStringLiteral("?");
    }
    const QByteArray sql =
        QStringLiteral("INSERT INTO DataRecord (%1) VALUES (%2)").arg(columns.join(','), marks.join(',')).toUtf8();
    sqlite3_stmt* insert = nullptr;
    FUZZ_CHECK(sqlite3_prepare_v2(db, sql.constData(), -1, &insert, nullptr) == SQLITE_OK, "insert statement");
    for (int row = 0; row < 32 && !in.empty(); ++row) {
        for (int i = 1; i <= 2 + 2 * FileChannels; ++i)
            BindCell(insert, i, in);
        sqlite3_step(insert); // a constraint may refuse a row; the rows that stay are the test
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    FUZZ_CHECK(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK, "commit");
    sqlite3_close(db);
}

void CheckStatistics(const QueryResult& result)
{
    for (int c = 0; c < result.columnCount(); ++c) {
        if (result.kind(c) != QueryResult::Kind::Reading)
            continue;
        const ColumnStatistics s = Statistics(result, c);
        FUZZ_CHECK(s.count >= 0 && s.count <= result.rowCount(), "statistics count");
        if (s.count > 0 && std::isfinite(s.minimum) && std::isfinite(s.maximum))
            FUZZ_CHECK(s.minimum <= s.maximum && s.mean >= s.minimum && s.mean <= s.maximum,
                       "a mean outside minimum..maximum");
    }
}

int FuzzCells(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const uint8_t selector = in.byte();
    FillDataFile(in);
    const int channels = (selector & 7) + 1;
    QStringList fields{QStringLiteral("[date]"), QStringLiteral("[time]")};
    for (int c = 1; c <= channels; ++c)
        fields << QStringLiteral("[chan %1]").arg(c) << QStringLiteral("[unit %1]").arg(c);
    QString statement = QStringLiteral("Select %1 From [DataRecord]").arg(fields.join(','));
    if (selector & 8)
        statement += QStringLiteral(" Where [date] >= #2000/1/1 # And [date] <= #2099/12/31 #");

    QueryResult result;
    QString error;
    const QueryStatus status = RunQuery(DataFilePath(), statement, &result, &error);
    if (status != QueryStatus::Done) {
        FUZZ_CHECK(!error.isEmpty(), "a query that failed or matched nothing without saying so");
        return 0;
    }
    FUZZ_CHECK(result.columnCount() == 2 + 2 * channels, "result columns");
    FUZZ_CHECK(result.rowCount() >= 1 && result.rowCount() <= 32, "result rows");
    for (int r = 0; r < result.rowCount(); ++r)
        for (int c = 0; c < result.columnCount(); ++c)
            result.display(r, c, QStringLiteral("yyyy/MM/dd"));
    CheckStatistics(result);

    const QString folder = FuzzScratchFolder();
    error.clear();
    if (!WriteReport(result, QStringLiteral("Monday, 7 December 2026"), folder + QStringLiteral("/report.txt"), &error))
        FUZZ_CHECK(!error.isEmpty(), "a report that failed without saying why");
    error.clear();
    if (WriteCsv(result, folder + QStringLiteral("/out.csv"), &error)) {
        QFile csv(folder + QStringLiteral("/out.csv"));
        FUZZ_CHECK(csv.open(QIODevice::ReadOnly), "read the CSV file back");
        FUZZ_CHECK(csv.readLine().startsWith("date,time,chan 1,unit 1"), "CSV header");
    } else {
        FUZZ_CHECK(!error.isEmpty(), "a CSV file that failed without saying why");
    }
    if (selector & 16) {
        error.clear();
        if (!WriteWorkbook(result, folder + QStringLiteral("/out.xlsx"), &error))
            FUZZ_CHECK(!error.isEmpty(), "a workbook that failed without saying why");
    }
    return 0;
}

} // namespace

VARNIK_FUZZ_TARGET("cells", FuzzCells)
