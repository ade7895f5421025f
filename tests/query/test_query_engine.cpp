#include "datafile/sql_dialect.h"
#include "fake_host.h"
#include "query/chart_points.h"
#include "query/query_model.h"
#include "query/query_statement.h"
#include "query/report_writer.h"
#include "query/spreadsheet_export.h"
#include "query_fixture.h"
#include "test_registry.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray FileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Runs a python3 program (Debian's, which sees openpyxl) on a file; its standard output as JSON.
QJsonValue PythonReads(const QString& program, const QString& path)
{
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), program, path});
    if (!python.waitForFinished(60000) || python.exitCode() != 0) {
        qWarning() << python.readAllStandardError();
        return {};
    }
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object().value(QStringLiteral("v"));
}

QString Select(const QString& fields, const QString& from, const QString& to, const QString& time = {})
{
    return QStringLiteral("Select %1 From [DataRecord] Where [date] >= #%2 # And [date] <= #%3 #%4")
        .arg(fields, from, to, time);
}

} // namespace

class TestQueryEngine : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QueryResult Query(const QString& file, const QString& statement, QueryStatus expected = QueryStatus::Done)
    {
        QueryResult result;
        QString error;
        const QueryStatus status = RunQuery(file, statement, &result, &error);
        if (status != expected)
            qWarning() << error;
        [&] { QCOMPARE(int(status), int(expected)); }();
        return result;
    }

  private slots:
    void statementText_data()
    {
        QTest::addColumn<QList<int>>("channels");
        QTest::addColumn<bool>("timeCondition");
        QTest::addColumn<QString>("expected");
        QTest::newRow("channels 2 and 5")
            << QList<int>{2, 5} << false
            << Select("[date],[time],[chan 2],[unit 2],[chan 5],[unit 5]", "2010/4/1", "2010/4/2");
        QTest::newRow("1 and 3 with a time window")
            << QList<int>{1, 3} << true
            << Select("[date],[time],[chan 1],[unit 1],[chan 3],[unit 3]", "2010/4/1", "2010/4/2",
                      " AND [time] >= #08:00 # And [time] <= #17:30 #");
        QTest::newRow("channel 12") << QList<int>{12} << false
                                    << Select("[date],[time],[chan 12],[unit 12]", "2010/4/1", "2010/4/2");
    }
    void statementText()
    {
        QFETCH(QList<int>, channels);
        QFETCH(bool, timeCondition);
        QFETCH(QString, expected);
        const QuerySpec spec{channels, "2010-04-01", "2010/4/2", timeCondition, "08:00", "17:30"};
        QString statement, error;
        QVERIFY2(BuildStatement(spec, &statement, &error), qPrintable(error));
        QCOMPARE(statement, expected);
    }

    void statementRefusal_data()
    {
        QTest::addColumn<QuerySpec>("spec");
        QTest::addColumn<QString>("mentions");
        QTest::newRow("no channel") << QuerySpec{{}, "2010-04-01", "2010-04-01", false, {}, {}}
                                    << NoChannelMessage;
        QTest::newRow("not a date") << QuerySpec{{1}, "yesterday", "2010-04-01", false, {}, {}}
                                    << "\"yesterday\"";
        QTest::newRow("no such day") << QuerySpec{{1}, "2010-02-30", "2010-04-01", false, {}, {}}
                                     << "2010-02-30";
        QTest::newRow("incomplete time")
            << QuerySpec{{1}, "2010-04-01", "2010-04-01", true, "08:", "17:30"} << "\"08:\"";
        QTest::newRow("hour 24") << QuerySpec{{1}, "2010-04-01", "2010-04-01", true, "08:00", "24:00"}
                                 << "24:00";
    }
    void statementRefusal()
    {
        QFETCH(QuerySpec, spec);
        QFETCH(QString, mentions);
        QString statement, error;
        QVERIFY(!BuildStatement(spec, &statement, &error));
        QVERIFY2(error.contains(mentions), qPrintable(error));
    }

    void timesIgnoredWithoutTimeCondition()
    {
        QString statement, error;
        QVERIFY(
            BuildStatement({{1}, "2010-04-01", "2010-04-01", false, "__:__", "99:99"}, &statement, &error));
        QVERIFY(!statement.contains(" AND [time]"));
    }

    void readDate_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDate>("expected");
        QTest::newRow("US short") << "en_US"
                                  << "4/1/2010" << QDate(2010, 4, 1);
        QTest::newRow("US two-digit year") << "en_US"
                                           << "4/1/10" << QDate(2010, 4, 1);
        QTest::newRow("German short") << "de_DE"
                                      << "01.04.2010" << QDate(2010, 4, 1);
        QTest::newRow("ISO anywhere") << "de_DE"
                                      << "2010-04-01" << QDate(2010, 4, 1);
        QTest::newRow("year/month/day") << "en_US"
                                        << "2010/4/1" << QDate(2010, 4, 1);
        QTest::newRow("not a date") << "en_US"
                                    << "13/45/2010" << QDate();
    }
    void readDate()
    {
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QFETCH(QDate, expected);
        QCOMPARE(ReadDate(text, QLocale(locale)), expected);
    }

    void shortDateRoundTrip()
    {
        for (const char* name : {"en_US", "de_DE", "fr_FR", "ja_JP"}) {
            const QLocale locale(QString::fromLatin1(name));
            const QDate day(2026, 12, 7);
            QCOMPARE(ReadDate(ShortDateText(day, locale), locale), day);
        }
    }

    void dialect_data()
    {
        QTest::addColumn<QString>("statement");
        QTest::addColumn<QString>("expected"); // empty: refused
        QTest::newRow("dates") << "[date] >= #2010/4/1 # And [date] <= #2010/12/31 #"
                               << "[date] >= '2010-04-01' And [date] <= '2010-12-31'";
        QTest::newRow("times gain seconds") << "[time] >= #8:00 # And [time] <= #17:30 #"
                                            << "[time] >= '08:00:00' And [time] <= '17:30:00'";
        QTest::newRow("# in a name or a text") << "[a#b] = '#x#'"
                                               << "[a#b] = '#x#'";
        QTest::newRow("no such day") << "[date] >= #2010/2/30 #"
                                     << "";
        QTest::newRow("unclosed") << "[date] >= #2010/2/3"
                                  << "";
        QTest::newRow("not a literal") << "[date] >= #soon#"
                                       << "";
    }
    void dialect()
    {
        QFETCH(QString, statement);
        QFETCH(QString, expected);
        QString out, error;
        QCOMPARE(TranslateStatement(statement, &out, &error), !expected.isEmpty());
        if (!expected.isEmpty())
            QCOMPARE(out, expected);
        else
            QVERIFY(!error.isEmpty());
    }

    // The time window applies to every day; its end minute includes :00 and no later second.
    void queryRows_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QList<double>>("readings");
        const QString window = " AND [time] >= #08:00 # And [time] <= #17:30 #";
        QTest::newRow("window on every day") << "2010/4/1"
                                             << "2010/4/3" << window << QList<double>{2, 3, 6, 7};
        QTest::newRow("one day") << "2010/4/2"
                                 << "2010/4/2" << QString() << QList<double>{5, 6};
        QTest::newRow("whole range") << "2010/4/1"
                                     << "2010/4/4" << QString() << QList<double>{1, 2, 3, 4, 5, 6, 7, 8};
    }
    void queryRows()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, time);
        QFETCH(QList<double>, readings);
        static const QString file = MakeDataFile(m_dir.filePath("window.mdb"), 8, WindowRows(), 1);
        const QueryResult r = Query(file, Select("[date],[time],[chan 1],[unit 1]", from, to, time));
        QList<double> got;
        for (int row = 0; row < r.rowCount(); ++row)
            got << r.reading(row, 2);
        QCOMPARE(got, readings);
    }

    void queryFailures_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("fields");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("mentions");
        QTest::addColumn<QString>("from"); // the range ends on 2010/4/1
        QTest::newRow("end before start") << "window.mdb"
                                          << "[date],[time],[chan 1],[unit 1]" << int(QueryStatus::NoRecord)
                                          << NoRecordMessage << "2010/4/3";
        QTest::newRow("column the file lacks")
            << "window.mdb"
            << "[date],[time],[chan 9],[unit 9]" << int(QueryStatus::Failed) << "chan 9"
            << "2010/4/3";
        QTest::newRow("missing file") << "none.mdb"
                                      << "[date]" << int(QueryStatus::Failed) << "does not exist"
                                      << "2010/4/3";
        QTest::newRow("not a database") << "text.mdb"
                                        << "[date]" << int(QueryStatus::Failed) << "not a database"
                                        << "2010/4/3";
        QTest::newRow("nothing readable") << "unreadable.mdb"
                                          << "[date],[time]" << int(QueryStatus::NoRecord)
                                          << "No record matched the query. 2 records were skipped: their "
                                             "date or time cannot be read (the first: time \"24:00:00\")."
                                          << "2010/4/1";
    }
    void queryFailures()
    {
        QFETCH(QString, file);
        QFETCH(QString, fields);
        QFETCH(int, status);
        QFETCH(QString, mentions);
        QFETCH(QString, from);
        MakeDataFile(m_dir.filePath("window.mdb"), 8, WindowRows(), 1);
        MakeDataFile(m_dir.filePath("unreadable.mdb"), 8,
                     {"'2010-04-01','24:00:00',1,'V'", "'2010-04-01','x',1,'V'"}, 1);
        QFile text(m_dir.filePath("text.mdb"));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write(QByteArray(4096, 'x'));
        text.close();
        QueryResult result;
        QString error;
        QCOMPARE(int(RunQuery(m_dir.filePath(file), Select(fields, from, "2010/4/1"), &result, &error)),
                 status);
        QVERIFY2(error.contains(mentions), qPrintable(error));
        QCOMPARE(result.rowCount(), 0);
    }

    // Regression: the query used to rewrite every matched time as hh:mm:ss, which failed on a
    // read-only file and dropped what the stored value held.
    void queryNeverWritesAndReadsOddTimes()
    {
        const QString file =
            MakeDataFile(m_dir.filePath("odd.mdb"), 8,
                         {"'2010-04-01','2010-04-01 08:30:05.250',1,'V'", "'2010-04-01',0.75,2,'V'",
                          "'2010-04-01','9:05',3,'V'", "'2010-04-01',NULL,NULL,NULL"},
                         1);
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        const QByteArray before = FileBytes(file);
        const QueryResult r = Query(file, Select("[date],[time],[chan 1],[unit 1]", "2010/4/1", "2010/4/1"));
        QCOMPARE(FileBytes(file), before);
        QCOMPARE(r.rowCount(), 4);
        QStringList times;
        for (int row = 0; row < 4; ++row)
            times << r.display(row, 1, "yyyy-MM-dd");
        QCOMPARE(times, QStringList({"08:30:05", "18:00:00", "09:05:00", ""}));
        QVERIFY(r.isNull(3, 2) && r.isNull(3, 3));
        QVERIFY(!QFile::exists(file + "-journal"));
    }

    // Cells a recorder never writes: the row holding one is skipped (unreadable date or time) or
    // the reading is null (no number, not finite), in the grid's and the CSV file's text and in
    // the statistics alike; a reading is written in plain decimals.
    void oddCells_data()
    {
        // The time and the reading cell as SQL, and the reading as shown ("skipped": row left out).
        QTest::addColumn<QStringList>("cells");
        QTest::newRow("hour 25") << QStringList{"'25:00:00'", "2", "skipped"};
        QTest::newRow("time as a BLOB") << QStringList{"x'41'", "2", "skipped"};
        QTest::newRow("reading as text") << QStringList{"'08:00:01'", "'abc'", ""};
        QTest::newRow("reading as a BLOB") << QStringList{"'08:00:01'", "x'00'", ""};
        QTest::newRow("infinite") << QStringList{"'08:00:01'", "9e999", ""};
        QTest::newRow("small negative") << QStringList{"'08:00:01'", "-4e-04", "-0.0004"};
        QTest::newRow("tiny") << QStringList{"'08:00:01'", "1e-07", "0.0000001"};
        QTest::newRow("all digits kept") << QStringList{"'08:00:01'", "0.1234567890123", "0.1234567890123"};
    }
    void oddCells()
    {
        QFETCH(QStringList, cells);
        const QString shown = cells[2];
        const QString file = m_dir.filePath(QStringLiteral("odd%1.mdb").arg(QTest::currentDataTag()));
        MakeDataFile(file, 8,
                     {"'2010-04-01','08:00:00',1,'V'", "'2010-04-01'," + cells[0] + "," + cells[1] + ",'V'"},
                     1);
        const QueryResult r = Query(file, Select("[date],[time],[chan 1],[unit 1]", "2010/4/1", "2010/4/1"));
        const ColumnStatistics s = Statistics(r, 2);
        if (shown == "skipped") {
            QCOMPARE(r.rowCount(), 1);
            QCOMPARE(r.skippedRows(), 1);
            QVERIFY2(StatisticsText(r).contains("1 record was skipped: its date or time cannot be read"),
                     qPrintable(StatisticsText(r)));
            QCOMPARE(s.count, 1);
            return;
        }
        QCOMPARE(r.rowCount(), 2);
        QCOMPARE(r.skippedRows(), 0);
        QCOMPARE(r.display(1, 2, "yyyy-MM-dd"), shown);
        QCOMPARE(r.isNull(1, 2), shown.isEmpty());
        QCOMPARE(s.count, shown.isEmpty() ? 1 : 2);
        QCOMPARE(s.maximum, shown.isEmpty() ? 1.0 : std::max(1.0, shown.toDouble()));
        QString error;
        QVERIFY2(WriteCsv(r, m_dir.filePath("odd.csv"), &error), qPrintable(error));
        QVERIFY(FileBytes(m_dir.filePath("odd.csv")).endsWith(",08:00:01," + shown.toLatin1() + ",V\r\n"));
    }

    void statisticsSkipNullAndInvalidMarker()
    {
        const QString file =
            MakeDataFile(m_dir.filePath("stats.mdb"), 8,
                         {"'2010-04-01','08:00:00',1.5,'V'", "'2010-04-01','08:00:01',NULL,'V'",
                          "'2010-04-01','08:00:02',999999,'V'", "'2010-04-01','08:00:03',-2.5,'V'"},
                         1);
        const QueryResult r = Query(file, Select("[date],[time],[chan 1],[unit 1]", "2010/4/1", "2010/4/1"));
        const ColumnStatistics s = Statistics(r, 2);
        QCOMPARE(s.count, 2);
        QCOMPARE(s.minimum, -2.5);
        QCOMPARE(s.maximum, 1.5);
        QCOMPARE(s.mean, -0.5);
        QCOMPARE(StatisticsText(r), QString("Records 4   chan 1: min -2.5  max 1.5  mean -0.5 (n 2)"));

        // Small readings keep their digits, in plain decimals.
        const QString small = MakeDataFile(m_dir.filePath("small.mdb"), 8,
                                           {"'2010-04-01','08:00:00',-0.0004,'V'",
                                            "'2010-04-01','08:00:01',0.00015,'V'",
                                            "'2010-04-01','08:00:02',-0.0002,'V'"},
                                           1);
        QCOMPARE(StatisticsText(Query(small, Select("[date],[time],[chan 1],[unit 1]", "2010/4/1", "2010/4/1"))),
                 QString("Records 3   chan 1: min -0.0004  max 0.00015  mean -0.00015 (n 3)"));
    }

    // A plain sum overflowed to inf for readings near the largest double, and rounding put the
    // mean of three equal readings just outside them.
    void meanStaysWithinMinimumAndMaximum_data()
    {
        QTest::addColumn<QStringList>("values");
        QTest::newRow("near the largest double") << QStringList{"1.7e308", "1.7e308", "1.6e308"};
        QTest::newRow("both ends") << QStringList{"1.7e308", "-1.7e308", "1.7e308"};
        QTest::newRow("repeated") << QStringList{"0.1", "0.1", "0.1", "0.1", "0.1", "0.1", "0.1"};
    }
    void meanStaysWithinMinimumAndMaximum()
    {
        QFETCH(QStringList, values);
        QStringList rows;
        for (int i = 0; i < values.size(); ++i)
            rows << QStringLiteral("'2010-04-01','08:00:0%1',%2,'V'").arg(i).arg(values[i]);
        const QString file = MakeDataFile(m_dir.filePath(QStringLiteral("%1.mdb").arg(QTest::currentDataTag())), 8, rows, 1);
        const ColumnStatistics s = Statistics(Query(file, Select("[date],[time],[chan 1],[unit 1]", "2010/4/1", "2010/4/1")), 2);
        QCOMPARE(s.count, values.size());
        QVERIFY2(std::isfinite(s.mean) && s.mean >= s.minimum && s.mean <= s.maximum, qPrintable(QString::number(s.mean)));
        if (s.minimum == s.maximum)
            QCOMPARE(s.mean, s.minimum);
    }

    void reportNumber_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("whole") << 12.0 << "12.0";
        QTest::newRow("zero") << 0.0 << "0.0";
        QTest::newRow("rounded to three") << 3.14159 << "3.142";
        QTest::newRow("half away from zero") << 2.0005 << "2.001";
        QTest::newRow("negative") << -0.5 << "-0.5";
        QTest::newRow("no negative zero") << -0.0001 << "0.0";
        QTest::newRow("long") << 1234567.125 << "1234567.125";
    }
    void reportNumber()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(ReportNumber(value), text);
    }

    void report_data()
    {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("fields");
        QTest::addColumn<QString>("expected");
        QTest::newRow("two channels")
            << QStringList{"'2010-04-01','08:30:05',23.5,'°C',NULL,NULL,101.25,'%RH'",
                           "'2010-04-01','17:30:00',0,'V',NULL,NULL,-0.5,'    '",
                           "'2010-04-02','09:00:00',12,'V',NULL,NULL,3.14159,'A'"}
            << "[date],[time],[chan 1],[unit 1],[chan 3],[unit 3]"
            << "report_two_channels.txt";
        QStringList longRow(11, "NULL,NULL");
        QTest::newRow("long reading, long unit")
            << QStringList{"'2010-04-01','08:00:00'," + longRow.join(',') + ",1234567.125,'123456789012'",
                           "'2010-04-01','08:00:02'," + longRow.join(',') + ",-123456.125,'mV'"}
            << "[date],[time],[chan 12],[unit 12]"
            << "report_long_values.txt";
    }
    void report()
    {
        QFETCH(QStringList, rows);
        QFETCH(QString, fields);
        QFETCH(QString, expected);
        const bool wide = fields.contains("12");
        const QString file =
            MakeDataFile(m_dir.filePath(expected + ".mdb"), wide ? 12 : 8, rows, wide ? 12 : 3);
        const QueryResult r = Query(file, Select(fields, "2010/4/1", "2010/4/2"));
        QString error;
        const QString out = m_dir.filePath(expected);
        QVERIFY2(WriteReport(r, "Monday, 7 December 2026", out, &error), qPrintable(error));
        QCOMPARE(FileBytes(out), FileBytes(VARNIK_TEST_DATA_DIR "/query/" + expected));
    }

    void reportStopsAtAnEmptyValue()
    {
        const QString file = MakeDataFile(m_dir.filePath("gap.mdb"), 8,
                                          {"'2010-04-01','08:00:00',1,'V'", "'2010-04-01','08:00:01',2,NULL",
                                           "'2010-04-01','08:00:02',3,'V'"},
                                          1);
        const QueryResult r = Query(file, Select("[date],[time],[chan 1],[unit 1]", "2010/4/1", "2010/4/1"));
        QString error;
        const QString out = m_dir.filePath("gap.txt");
        QVERIFY(WriteCsv(r, out, &error));
        const QByteArray earlier = FileBytes(out);
        QVERIFY(!WriteReport(r, "today", out, &error));
        QVERIFY2(error.contains("Record 2") && error.contains("unit 1"), qPrintable(error));
        QCOMPARE(FileBytes(out), earlier); // never half a report
        QCOMPARE(QDir(m_dir.path()).entryList({"gap.txt*"}, QDir::Files | QDir::Hidden),
                 QStringList{"gap.txt"});
    }

    // The workbook read back by openpyxl: positions, cell types, widths.
    void workbookReadBack()
    {
        const QString file = MakeDataFile(m_dir.filePath("book.mdb"), 8,
                                          {"'2010-04-01','08:30:05',23.5,'°C',NULL,NULL,101.25,'%RH'",
                                           "'2010-04-01','17:30:00',0,'V',NULL,NULL,-0.5,NULL",
                                           "'2010-04-02','09:00:00',12,'V',NULL,NULL,3,'=A1'",
                                           "'2010-04-02','09:00:02',999999,'    ',NULL,NULL,999999,'V'"},
                                          3);
        const QueryResult r =
            Query(file, Select("[date],[time],[chan 1],[unit 1],[chan 3],[unit 3]", "2010/4/1", "2010/4/2"));
        QString error;
        const QString book = m_dir.filePath("book.xlsx");
        QVERIFY2(WriteWorkbook(r, book, &error), qPrintable(error));
        const QJsonValue got = PythonReads(R"(
import json, sys, openpyxl
ws = openpyxl.load_workbook(sys.argv[1]).active
rows, cols = ws.max_row, ws.max_column
cells = [[None if c.value is None else [type(c.value).__name__, str(c.value)] for c in row]
         for row in ws.iter_rows(min_row=1, max_row=ws.max_row, max_col=7)]
dims = ws.column_dimensions['A']
print(json.dumps({'v': {'cells': cells, 'rows': rows, 'cols': cols,
                        'widths': [dims.min, dims.max, round(dims.width)]}}))
)",
                                           book);
        const QJsonObject o = got.toObject();
        QCOMPARE(o["rows"].toInt(), 5);
        QCOMPARE(o["cols"].toInt(), 6);
        QCOMPARE(o["widths"].toArray(), QJsonArray({1, 6, 13})); // 12 characters, stored with padding
        const QJsonArray cells = o["cells"].toArray();
        const auto cell = [&](int row, int col) -> QJsonValue { return cells[row].toArray().at(col); };
        QCOMPARE(cell(0, 2).toArray(), QJsonArray({"str", "chan 1"}));
        QCOMPARE(cell(1, 0).toArray(), QJsonArray({"datetime", "2010-04-01 00:00:00"}));
        QCOMPARE(cell(1, 1).toArray(), QJsonArray({"time", "08:30:05"}));
        QCOMPARE(cell(1, 2).toArray(), QJsonArray({"float", "23.5"}));
        QCOMPARE(cell(1, 3).toArray(), QJsonArray({"str", "°C"}));
        QCOMPARE(cell(2, 2).toArray(), QJsonArray({"int", "0"}));
        QVERIFY2(cell(2, 5).isNull(), qPrintable(QJsonDocument(cells).toJson()));
        QCOMPARE(cell(3, 5).toArray(), QJsonArray({"str", "=A1"}));
        QVERIFY(cell(3, 6).isNull());
        // The invalid-reading marker and its unit: empty cells, so a column's mean stays right.
        QCOMPARE(cell(4, 1).toArray(), QJsonArray({"time", "09:00:02"}));
        for (int col = 2; col <= 5; ++col)
            QVERIFY2(cell(4, col).isNull(), qPrintable(QJsonDocument(cells).toJson()));
    }

    void csvReadBack()
    {
        const QString file =
            MakeDataFile(m_dir.filePath("csv.mdb"), 8,
                         {"'2010-04-01','08:30:05',23.5,'°C'", "'2010-04-01','17:30:00',-0.25,'-x'",
                          "'2010-04-02','09:00:00',1e-7,'a,\"b'", "'2010-04-02','09:00:01',NULL,'@x'",
                          "'2010-04-02','09:00:02',999999,'    '", "'2010-04-02','09:00:03',999999.5,'V'"},
                         1);
        const QueryResult r = Query(file, Select("[date],[time],[chan 1],[unit 1]", "2010/4/1", "2010/4/2"));
        QString error;
        const QString out = m_dir.filePath("out.csv");
        QVERIFY2(WriteCsv(r, out, &error), qPrintable(error));
        const QJsonValue got = PythonReads(R"(
import csv, json, sys
print(json.dumps({'v': list(csv.reader(open(sys.argv[1], encoding='utf-8', newline='')))}))
)",
                                           out);
        QCOMPARE(got.toArray(), QJsonArray({QJsonArray({"date", "time", "chan 1", "unit 1"}),
                                            QJsonArray({"2010-04-01", "08:30:05", "23.5", "°C"}),
                                            QJsonArray({"2010-04-01", "17:30:00", "-0.25", "'-x"}),
                                            QJsonArray({"2010-04-02", "09:00:00", "0.0000001", "a,\"b"}),
                                            QJsonArray({"2010-04-02", "09:00:01", "", "'@x"}),
                                            QJsonArray({"2010-04-02", "09:00:02", "", ""}),
                                            QJsonArray({"2010-04-02", "09:00:03", "999999.5", "V"})}));
    }

    // Regression: a record count held in 16 bits stopped every result above 32,767 records.
    void moreThan32767Records()
    {
        const QString file = MakeDataFile(m_dir.filePath("big.mdb"), 8, {});
        SqliteCli(file,
                  "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 39999) "
                  "INSERT INTO DataRecord (\"date\",\"time\",\"chan 1\",\"unit 1\") SELECT "
                  "date('2010-04-01', '+' || (i / 43200) || ' days'), time(i % 43200 * 2, 'unixepoch'), "
                  "i % 100, 'V' FROM n");
        const QueryResult r = Query(file, Select("[date],[time],[chan 1],[unit 1]", "2010/4/1", "2010/4/2"));
        QCOMPARE(r.rowCount(), 40000);
        QString error;
        QVERIFY(WriteReport(r, "today", m_dir.filePath("big.txt"), &error));
        QCOMPARE(FileBytes(m_dir.filePath("big.txt")).count("\r\n"), 40004);
        QVERIFY(WriteWorkbook(r, m_dir.filePath("big.xlsx"), &error));
        QCOMPARE(PythonReads("import json, sys, openpyxl\n"
                             "ws = openpyxl.load_workbook(sys.argv[1], read_only=True).active\n"
                             "print(json.dumps({'v': ws.max_row}))",
                             m_dir.filePath("big.xlsx"))
                     .toInt(),
                 40001);
    }

    void chartThinningKeepsPeaks()
    {
        QStringList rows;
        for (int i = 0; i < 2000; ++i)
            rows << QStringLiteral("'2010-04-01','%1',%2,'V'")
                        .arg(QTime(0, 0).addSecs(i * 10).toString("HH:mm:ss"))
                        .arg(i == 1234   ? 500
                             : i == 1432 ? -500
                                         : i % 7);
        const QString file = MakeDataFile(m_dir.filePath("chart.mdb"), 8, rows, 1);
        const QueryResult r = Query(file, Select("[date],[time],[chan 1],[unit 1]", "2010/4/1", "2010/4/1"));
        const auto times = ChartTimes(r);
        const QList<QPointF> points = ChartPoints(r, times, 2, 200);
        QVERIFY(points.size() <= 200);
        double low = 0, high = 0;
        for (int i = 0; i < points.size(); ++i) {
            low = std::min(low, points[i].y());
            high = std::max(high, points[i].y());
            if (i > 0)
                QVERIFY(points[i].x() > points[i - 1].x());
        }
        QCOMPARE(low, -500.0);
        QCOMPARE(high, 500.0);
        QCOMPARE(points.first().x(), QDateTime(QDate(2010, 4, 1), QTime(0, 0)).toMSecsSinceEpoch() * 1.0);
    }
};

VARNIK_TEST_CLASS(TestQueryEngine)
#include "test_query_engine.moc"
