// The query's figures on the largest file the program writes (65,535 rows of 16 channels), each
// part in its own process so its peak resident memory is its own (bench/query/run.sh runs them):
//
//   bench_query make FILE            write the data file (CreateDataFile, then one transaction)
//   bench_query query FILE           RunQuery of all 16 channels into the grid's model
//   bench_query bare-query FILE      a bare sqlite3 loop over the same SELECT, reading every cell
//   bench_query export FILE OUT      WriteWorkbook of that result (the query is not timed)
//   bench_query bare-export FILE OUT a bare libxlsxwriter loop writing the same cells from the SELECT
//   bench_query report FILE OUT      WriteReport of that result
//   bench_query chart FILE           the query chart with 16 series, until it has been painted
//   bench_query show FILE 8|16       a query window on FILE with a query run (and the chart shown),
//                                    left open for bench/query/screenshots.sh
//
// Each prints its part, wall and CPU milliseconds and peak resident megabytes on one line.
#include "datafile/data_file.h"
#include "datafile/sql_dialect.h"
#include "query/frmSelect.h"
#include "query/frmSelect_16.h"
#include "query/query_chart_ui.h"
#include "query/query_model.h"
#include "query/query_statement.h"
#include "query/report_writer.h"
#include "query/spreadsheet_export.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <sqlite3.h>
#include <xlsxwriter.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int Rows = 65535;
constexpr int Channels = 16;

[[noreturn]] void Die(const char* what)
{
    std::fprintf(stderr, "bench_query: %s\n", what);
    std::exit(1);
}

double CpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

double PeakMB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

// Wall time, CPU time (user + system: steadier on a shared machine) and peak resident memory.
struct Start {
    Clock::time_point wall = Clock::now();
    double cpu = CpuMs();
};

void Report(const char* part, const Start& start)
{
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start.wall).count();
    std::printf("%-12s %9.1f ms wall %9.1f ms cpu %7.1f MB\n", part, ms, CpuMs() - start.cpu, PeakMB());
}

QString Statement()
{
    QList<int> all;
    for (int c = 1; c <= Channels; ++c)
        all << c;
    QString statement, error;
    if (!BuildStatement({all, "2026-12-01", "2026-12-31", false, {}, {}}, &statement, &error))
        Die("statement");
    return statement;
}

void Make(const QString& path)
{
    if (!CreateDataFile(path, Channels))
        Die("the file exists or cannot be made");
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        Die("open");
    QStringList names, marks;
    for (const QString& c : DataRecordColumns(Channels))
        names << QLatin1Char('"') + c + QLatin1Char('"'), marks << QStringLiteral("?");
    sqlite3_stmt* insert = nullptr;
    const QByteArray sql = QStringLiteral("INSERT INTO DataRecord (%1) VALUES (%2)")
                               .arg(names.join(','), marks.join(','))
                               .toUtf8();
    if (sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(db, sql.constData(), -1, &insert, nullptr) != SQLITE_OK)
        Die("prepare");
    const char* units[] = {"\xC2\xB0"
                           "C",
                           "%RH",
                           "V",
                           "mA",
                           "kPa",
                           "Hz",
                           "mV",
                           "A"};
    const QDateTime start(QDate(2026, 12, 1), QTime(0, 0));
    for (int i = 0; i < Rows; ++i) {
        const QDateTime at = start.addSecs(2 * qint64(i));
        const QByteArray date = at.date().toString(Qt::ISODate).toLatin1();
        const QByteArray time = at.time().toString("HH:mm:ss").toLatin1();
        sqlite3_bind_text(insert, 1, date.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 2, time.constData(), -1, SQLITE_TRANSIENT);
        for (int c = 0; c < Channels; ++c) {
            const double wave =
                20 + 10 * c + 5 * std::sin(i / (300.0 + 37 * c)) + (i * 7919 + c * 104729) % 100 / 100.0;
            sqlite3_bind_double(insert, 3 + 2 * c, std::round(wave * 1000) / 1000);
            sqlite3_bind_text(insert, 4 + 2 * c, units[c % 8], -1, SQLITE_STATIC);
        }
        if (sqlite3_step(insert) != SQLITE_DONE)
            Die("insert");
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        Die("commit");
    sqlite3_close(db);
}

QueryResult Query(const QString& path)
{
    QueryResult result;
    QString error;
    if (RunQuery(path, Statement(), &result, &error) != QueryStatus::Done || result.rowCount() != Rows)
        Die(qPrintable(error));
    return result;
}

// The same SELECT as the query, stepped with the C API; hands each row to `row`.
template <class RowFn> void BareSelect(const QString& path, RowFn row)
{
    QString sql;
    if (!TranslateStatement(Statement(), &sql))
        Die("translate");
    sqlite3* db = nullptr;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &stmt, nullptr) != SQLITE_OK)
        Die("bare select");
    int r = 0;
    while (sqlite3_step(stmt) == SQLITE_ROW)
        row(stmt, r++);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
}

int Digits(const unsigned char* p, int n)
{
    int v = 0;
    for (int i = 0; i < n; ++i)
        v = v * 10 + (p[i] - '0');
    return v;
}

void BareExport(const QString& path, const QString& out)
{
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    lxw_workbook* book = workbook_new_opt(out.toUtf8().constData(), &options);
    lxw_worksheet* sheet = workbook_add_worksheet(book, "Sheet1");
    lxw_format* dateFormat = workbook_add_format(book);
    format_set_num_format(dateFormat, "yyyy-mm-dd");
    lxw_format* timeFormat = workbook_add_format(book);
    format_set_num_format(timeFormat, "hh:mm:ss");
    worksheet_set_column(sheet, 0, 5, 12, nullptr);
    bool header = false;
    BareSelect(path, [&](sqlite3_stmt* stmt, int r) {
        const int columns = sqlite3_column_count(stmt);
        if (!header) {
            for (int c = 0; c < columns; ++c)
                worksheet_write_string(sheet, 0, lxw_col_t(c), sqlite3_column_name(stmt, c), nullptr);
            header = true;
        }
        const unsigned char* d = sqlite3_column_text(stmt, 0);
        lxw_datetime date{Digits(d, 4), Digits(d + 5, 2), Digits(d + 8, 2), 0, 0, 0};
        worksheet_write_datetime(sheet, lxw_row_t(r + 1), 0, &date, dateFormat);
        const unsigned char* t = sqlite3_column_text(stmt, 1);
        worksheet_write_number(sheet, lxw_row_t(r + 1), 1,
                               (Digits(t, 2) * 3600 + Digits(t + 3, 2) * 60 + Digits(t + 6, 2)) / 86400.0,
                               timeFormat);
        for (int c = 2; c < columns; c += 2) {
            worksheet_write_number(sheet, lxw_row_t(r + 1), lxw_col_t(c), sqlite3_column_double(stmt, c),
                                   nullptr);
            worksheet_write_string(sheet, lxw_row_t(r + 1), lxw_col_t(c + 1),
                                   reinterpret_cast<const char*>(sqlite3_column_text(stmt, c + 1)), nullptr);
        }
    });
    if (workbook_close(book) != LXW_NO_ERROR)
        Die("bare workbook");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        Die("usage: bench_query make|query|bare-query|export|bare-export|report|chart FILE [OUT]");
    const QString part = QString::fromLocal8Bit(argv[1]);
    const QString file = QString::fromLocal8Bit(argv[2]);
    const QString out = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    QString error;

    if (part == "show") {
        QApplication app(argc, argv);
        const bool eight = out != "16";
        QueryWindow* w = eight ? static_cast<QueryWindow*>(new frmSelect) : new frmSelect_16;
        if (!eight)
            static_cast<frmSelect_16*>(w)->Combo1->setCurrentIndex(2);
        w->Label6->setText(file);
        w->Text1[0]->setText("2026-12-01");
        w->Text1[1]->setText("2026-12-01");
        for (int c : eight ? QList<int>{1, 2, 5} : QList<int>{1, 9, 12, 16})
            w->Check2[c - 1]->setChecked(true);
        w->Check1->click();
        w->MaskEd1->setText("06:00");
        w->MaskEd2->setText("18:00");
        w->move(0, 0);
        w->show();
        w->Command1->click();
        if (eight)
            w->Command2->click();
        return app.exec();
    }
    if (part == "chart") {
        QApplication app(argc, argv);
        const QueryResult result = Query(file);
        QueryChart chart;
        chart.SetupChart();
        chart.resize(1000, 600);
        chart.show();
        QList<int> all;
        for (int c = 1; c <= Channels; ++c)
            all << c;
        const Start start;
        chart.AddSeries(result, all);
        const QPixmap shot = chart.grab();
        Report("chart", start);
        return shot.isNull() ? 1 : 0;
    }

    QCoreApplication app(argc, argv);
    if (part == "make") {
        Make(file);
        return 0;
    }
    if (part == "query") {
        const Start start;
        QueryResultModel model;
        model.setResult(Query(file));
        Report("query", start);
    } else if (part == "bare-query") {
        const Start start;
        double sum = 0;
        size_t bytes = 0;
        BareSelect(file, [&](sqlite3_stmt* stmt, int) {
            for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
                if (c >= 2 && c % 2 == 0)
                    sum += sqlite3_column_double(stmt, c);
                else
                    bytes += std::strlen(reinterpret_cast<const char*>(sqlite3_column_text(stmt, c)));
            }
        });
        Report("bare-query", start);
        std::fprintf(stderr, "(checksum %g %zu)\n", sum, bytes);
    } else if (part == "export") {
        const QueryResult result = Query(file);
        const Start start;
        if (!WriteWorkbook(result, out, &error))
            Die(qPrintable(error));
        Report("export", start);
    } else if (part == "bare-export") {
        const Start start;
        BareExport(file, out);
        Report("bare-export", start);
    } else if (part == "report") {
        const QueryResult result = Query(file);
        const Start start;
        if (!WriteReport(result, ReportLongDate(QDate::currentDate()), out, &error))
            Die(qPrintable(error));
        Report("report", start);
    } else {
        Die("unknown part");
    }
    return 0;
}
