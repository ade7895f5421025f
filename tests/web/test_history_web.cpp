// The recorder's history API and page against a live meter-record: downloads byte for byte (the
// workbook cell for cell) as meter-query writes them, statistics as the query window computes
// them, the chart's buckets, refusals, the token on every path, and the page in Chromium.
#include "../query/query_fixture.h"
#include "test_registry.h"
#include "web_fixture.h"
#include "query/query_result.h"
#include "query/query_statement.h"
#include "web/series.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QTcpSocket>
#include <memory>
#include <cstdlib>
#include <ctime>

namespace {

const QByteArray Secret = "history-secret-0123456789";
const QByteArray Bearer = "Authorization: Bearer " + Secret + "\r\n";

// Every cell of every sheet of a workbook, as openpyxl reads it.
QByteArray Cells(const QByteArray& workbook)
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("w.xlsx")));
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(workbook);
    file.close();
    QProcess python;
    python.start("/usr/bin/python3", {"-c",
                                      "import sys, openpyxl\n"
                                      "for ws in openpyxl.load_workbook(sys.argv[1]).worksheets:\n"
                                      "    print(ws.title, [[repr(c.value) for c in r] for r in ws.iter_rows()])\n",
                                      file.fileName()});
    python.waitForFinished(60000);
    return python.readAllStandardOutput();
}

QByteArray Bytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Two days of 8 channels every 10 minutes (channel 1 a ramp, channel 2 with nulls and the
// meter's invalid marker), and an event log with a gap and a note.
QString MakeKnownFile(const QString& path)
{
    QStringList rows;
    for (int day = 1; day <= 2; ++day)
        for (int minute = 0; minute < 24 * 60; minute += 10) {
            const int i = (day - 1) * 144 + minute / 10;
            const QString two = i % 7 == 0 ? QStringLiteral("NULL") : i % 11 == 0 ? QStringLiteral("999999")
                                                                                   : QString::number(i % 13 - 6.5);
            QString row = QStringLiteral("'2026-03-0%1','%2:%3:00',%4,'°C',%5,'V'")
                              .arg(day)
                              .arg(minute / 60, 2, 10, QLatin1Char('0'))
                              .arg(minute % 60, 2, 10, QLatin1Char('0'))
                              .arg(20 + i * 0.25)
                              .arg(two);
            for (int c = 3; c <= 8; ++c)
                row += QStringLiteral(",%1,'A'").arg(c * 1.5);
            rows << row;
        }
    if (MakeDataFile(path, 8, rows).isEmpty())
        return {};
    SqliteCli(path, "CREATE TABLE EventLog (id INTEGER PRIMARY KEY, date TEXT, time TEXT, utc TEXT, kind TEXT, "
                    "channel INTEGER, value REAL, text TEXT);"
                    "INSERT INTO EventLog (date,time,utc,kind,channel,value,text) VALUES "
                    "('2026-03-01','10:00:00','2026-03-01T10:00:00.000Z','link-lost',NULL,NULL,'meter silent'),"
                    "('2026-03-01','11:30:00','2026-03-01T11:30:00.000Z','link-restored',NULL,NULL,'frames again'),"
                    "('2026-03-02','08:00:00','2026-03-02T08:00:00.000Z','note',NULL,NULL,'filter, changed');");
    return path;
}

QJsonDocument JsonOf(const HttpReply& reply)
{
    return QJsonDocument::fromJson(reply.body);
}

} // namespace

class HistoryWebTest : public QObject {
    Q_OBJECT

    LiveRecorder live;
    QTemporaryDir out;

    HttpReply Ask(const QByteArray& target, const QByteArray& method = "GET")
    {
        return Get(live.port, target, method, Bearer);
    }

    // meter-query on a copy of the known file (a copy: it is not the recorder's business).
    QByteArray MeterQuery(const QStringList& arguments, const QString& option, const QString& name)
    {
        QFile::remove(out.filePath(name));
        QProcess query;
        query.start(QStringLiteral(VARNIK_BINARY_DIR "/meter-query"),
                    QStringList{live.path("Known.mdb")} + arguments + QStringList{option, out.filePath(name)});
        query.waitForFinished(60000);
        return Bytes(out.filePath(name));
    }

  private slots:
    void initTestCase()
    {
        // The recorder runs in UTC here; the clock change is tested in bucketsFollowTheClockChange.
        qputenv("TZ", "UTC");
        tzset();
        live.prepare();
        QVERIFY(!MakeKnownFile(live.path("Known.mdb")).isEmpty());
        QVERIFY(CreateDataFile(live.path("Other.sqlite"), 8));
        SqliteCli(live.path("Other.sqlite"), "DROP TABLE DataRecord; CREATE TABLE DataRecord (a, b, c);");
        // Links out of the data folder: never listed, never opened.
        QVERIFY(!MakeKnownFile(out.filePath("Secret.mdb")).isEmpty());
        QVERIFY(QFile::link(out.filePath("Secret.mdb"), live.path("Link.mdb")));
        QVERIFY(QFile::link(QStringLiteral("/etc/passwd"), live.path("pw.mdb")));
        QFile token(live.path(QStringLiteral("token")));
        QVERIFY(token.open(QIODevice::WriteOnly));
        token.write(Secret + '\n');
        token.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TZ"), QStringLiteral("UTC"));
        QVERIFY2(live.start({"--http-token", token.fileName()}, QStringLiteral("0"), env),
                 qPrintable(live.recorder->output()));
        QTRY_VERIFY_WITH_TIMEOUT(JsonOf(Ask("/api/files")).array().size() == 2, 20000);
    }

    void listsTheDataFiles()
    {
        const QJsonArray files = JsonOf(Ask("/api/files")).array();
        QCOMPARE(files[0]["name"].toString(), QStringLiteral("Known.mdb"));
        QCOMPARE(files[0]["rows"].toInt(), 288);
        QCOMPARE(files[0]["channels"].toInt(), 8);
        QCOMPARE(files[0]["first"].toString(), QStringLiteral("2026-03-01 00:00:00"));
        QCOMPARE(files[0]["last"].toString(), QStringLiteral("2026-03-02 23:50:00"));
        QCOMPARE(files[0]["recording"].toBool(), false);
        QCOMPARE(files[1]["name"].toString(), QStringLiteral("Web.mdb"));
        QCOMPARE(files[1]["recording"].toBool(), true);
    }

    // csv, the report and the events are meter-query's bytes; the workbook its cells; json the
    // same rows; the statistics the query window's.
    void downloadsAreMeterQuerysOutput_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("two days, two channels") << QByteArray("from=2026-03-01&to=2026-03-02&channels=1,3")
                                                << QStringList{"--from", "2026-03-01", "--to", "2026-03-02",
                                                               "--channels", "1,3"};
        QTest::newRow("a time window, one day, all channels")
            << QByteArray("from=2026/3/2&to=2026-03-02&time=08:00-09:30")
            << QStringList{"--from", "2026/3/2", "--to", "2026-03-02", "--time", "08:00-09:30", "--channels",
                           "1,2,3,4,5,6,7,8"};
    }
    void downloadsAreMeterQuerysOutput()
    {
        QFETCH(QByteArray, query);
        QFETCH(QStringList, arguments);
        const QByteArray base = "/api/rows?file=Known.mdb&" + query;
        const HttpReply csv = Ask(base + "&format=csv");
        QCOMPARE(csv.status, 200);
        QVERIFY(csv.header("Content-Disposition").startsWith("attachment; filename=\"Known_2026-03-0"));
        QCOMPARE(csv.body, MeterQuery(arguments, "--csv", "q.csv"));
        // A null reading stops the report: meter-query writes none, the API says why in one line.
        const QByteArray report = MeterQuery(arguments, "--report", "q.txt");
        const HttpReply txt = Ask(base + "&format=txt");
        if (report.isEmpty())
            QVERIFY2(txt.status == 500 && txt.body.contains("has no chan 2 value"), txt.body.constData());
        else
            QCOMPARE(txt.body, report);
        QCOMPARE(Cells(Ask(base + "&format=xlsx").body), Cells(MeterQuery(arguments, "--xlsx", "q.xlsx")));
        QCOMPARE(Ask("/api/events?file=Known.mdb&format=csv&from=" + arguments[1].toUtf8() + "&to=" +
                     arguments[3].toUtf8())
                     .body,
                 MeterQuery(arguments.mid(0, 4), "--events", "q-events.csv"));

        // The same query through the engine, as the query window runs it.
        QuerySpec spec;
        spec.startDate = arguments[1];
        spec.endDate = arguments[3];
        spec.channels = query.contains("channels=1,3") ? QList<int>{1, 3} : QList<int>{1, 2, 3, 4, 5, 6, 7, 8};
        spec.timeCondition = query.contains("time=");
        spec.startTime = QStringLiteral("08:00");
        spec.endTime = QStringLiteral("09:30");
        QString statement, error;
        QVERIFY(BuildStatement(spec, &statement, &error));
        QueryResult result;
        QCOMPARE(RunQuery(live.path("Known.mdb"), statement, &result, &error), QueryStatus::Done);
        const QJsonArray rows = JsonOf(Ask(base + "&format=json")).array();
        QCOMPARE(rows.size(), result.rowCount());
        QCOMPARE(rows[3]["time"].toString(), result.display(3, 1, "yyyy-MM-dd"));
        QCOMPARE(rows[3]["chan 1"].toDouble(), result.reading(3, 2));
        const QJsonArray stats = JsonOf(Ask("/api/stats?file=Known.mdb&" + query)).object()["channels"].toArray();
        QCOMPARE(stats.size(), spec.channels.size());
        for (int i = 0; i < stats.size(); ++i) {
            const ColumnStatistics s = Statistics(result, 2 + 2 * i);
            QCOMPARE(stats[i]["count"].toInt(), s.count);
            QCOMPARE(stats[i]["min"].toDouble(), s.minimum);
            QCOMPARE(stats[i]["max"].toDouble(), s.maximum);
            QCOMPARE(stats[i]["mean"].toDouble(), s.mean);
        }
    }

    // The whole file in 50 buckets: every row counted once, min <= mean <= max, the gap and the
    // events of the range.
    void seriesBuckets()
    {
        const QJsonObject s = JsonOf(Ask("/api/series?file=Known.mdb&channels=1,2&points=50")).object();
        const QJsonArray time = s["time"].toArray();
        QVERIFY(time.size() <= 50 && time.size() >= 45);
        const QJsonArray channels = s["channels"].toArray();
        int counted = 0;
        for (int b = 0; b < time.size(); ++b) {
            counted += channels[0]["count"][b].toInt();
            QVERIFY(channels[0]["min"][b].toDouble() <= channels[0]["mean"][b].toDouble());
            QVERIFY(channels[0]["mean"][b].toDouble() <= channels[0]["max"][b].toDouble());
            if (b > 0)
                QVERIFY(time[b].toDouble() > time[b - 1].toDouble());
        }
        QCOMPARE(counted, 288);
        int twoCounted = 0; // nulls and the invalid marker are no readings
        for (const QJsonValue& n : channels[1]["count"].toArray())
            twoCounted += n.toInt();
        QCOMPARE(twoCounted, 288 - 42 - 23);
        QCOMPARE(s["gaps"].toArray().size(), 1);
        QCOMPARE(s["gaps"][0]["from"].toDouble(), double(QDateTime(QDate(2026, 3, 1), QTime(10, 0), Qt::UTC).toSecsSinceEpoch()));
        QCOMPARE(s["events"].toArray().size(), 1); // the note: the chart marks notes and alarms
        QVERIFY(s["events"][0]["tip"].toString().contains("filter, changed"));
        QCOMPARE(s["offsets"].toArray(), (QJsonArray{QJsonArray{s["start"].toDouble(), 0}})); // the recorder runs in UTC
        // A range: only its rows.
        const QJsonObject hour =
            JsonOf(Ask("/api/series?file=Known.mdb&channels=1&start=2026-03-02T10:00:00Z&end=2026-03-02T10:59:59Z"))
                .object();
        QCOMPARE(hour["time"].toArray().size(), 6);
        QCOMPARE(hour["channels"][0]["min"][0].toDouble(), 20 + (144 + 60) * 0.25);
    }

    // Rows carry the wall clock only: in the hour the clock goes back the second pass of the
    // same times still lies after the first, and buckets never mix the two.
    void bucketsFollowTheClockChange()
    {
        const QByteArray zone = qgetenv("TZ");
        qputenv("TZ", "Europe/Berlin");
        tzset();
        QStringList rows;
        for (const char* t : {"01:30:00", "02:00:00", "02:30:00", "02:59:00", "02:00:00", "02:30:00", "03:00:00"})
            rows << QStringLiteral("'2026-10-25','%1',%2,'V'").arg(QLatin1String(t)).arg(rows.size());
        const QString path = MakeDataFile(out.filePath("change.mdb"), 8, rows, 1);
        QueryResult result;
        QString error;
        QCOMPARE(RunQuery(path, "Select [date],[time],[chan 1],[unit 1] From [DataRecord]", &result, &error),
                 QueryStatus::Done);
        const std::vector<qint64> at = RowInstants(result, 0, 1);
        const qint64 first = QDateTime(QDate(2026, 10, 24), QTime(23, 30), Qt::UTC).toMSecsSinceEpoch();
        const std::vector<qint64> minutes{0, 30, 60, 89, 90, 120, 150};
        for (size_t i = 0; i < at.size(); ++i)
            QCOMPARE((at[i] - first) / 60000, minutes[i]);
        // 30-minute buckets: one row each, in the order recorded.
        const web::Buckets b = web::MakeBuckets(first, first + 180 * 60000 - 1, 6, at, {{0, 1, 2, 3, 4, 5, 6}});
        QCOMPARE(b.firstMs.size(), size_t(6));
        QCOMPARE(b.channels[0].count, (std::vector<int>{1, 1, 2, 1, 1, 1}));
        QCOMPARE(b.channels[0].mean[2], 2.5);
        // The offsets the page gets for the range: summer time, then winter time from 01:00 UTC;
        // each row's instant at its own offset is the wall clock the row holds.
        const qint64 change = QDateTime(QDate(2026, 10, 25), QTime(1, 0), Qt::UTC).toMSecsSinceEpoch();
        const auto offsets = web::OffsetChanges(first, at.back());
        QCOMPARE(offsets, (std::vector<std::pair<qint64, int>>{{first, 7200}, {change, 3600}}));
        for (size_t i = 0; i < at.size(); ++i) {
            int offset = 0;
            for (const auto& [from, o] : offsets)
                offset = from <= at[i] ? o : offset;
            QCOMPARE(QDateTime::fromMSecsSinceEpoch(at[i] + offset * 1000, Qt::UTC).toString("HH:mm:ss"),
                     rows[int(i)].section(',', 1, 1).remove('\''));
        }
        qputenv("TZ", zone);
        tzset();
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("reason");
        const QString days = "&from=2026-03-01&to=2026-03-01";
        QTest::newRow("up a folder") << QString("/api/rows?file=../Known.mdb") + days << 400 << "not a file name";
        QTest::newRow("absolute") << QString("/api/stats?file=%2Fetc%2Fpasswd") + days << 400 << "not a file name";
        QTest::newRow("hidden") << QString("/api/stats?file=.Known.mdb") + days << 400 << "not a file name";
        QTest::newRow("not a data file") << QString("/api/series?file=Other.sqlite") + days << 400 << "is not a data file";
        QTest::newRow("not SQLite") << QString("/api/rows?file=default.txt") + days << 400 << "is not a data file";
        QTest::newRow("link out") << QString("/api/rows?file=Link.mdb") + days << 404 << "\"Link.mdb\" leads outside";
        QTest::newRow("link to passwd") << QString("/api/stats?file=pw.mdb") + days << 404 << "leads outside";
        QTest::newRow("NUL") << QString("/api/rows?file=Known.mdb%00.txt") + days << 400 << "not a file name";
        QTest::newRow("line feed") << QString("/api/series?file=Known%0A.mdb") << 400 << "not a file name";
        QTest::newRow("missing") << QString("/api/events?file=Gone.mdb") + days << 404 << "no data file \"Gone.mdb\"";
        QTest::newRow("bad date") << QString("/api/rows?file=Known.mdb&from=2026-13-01&to=2026-03-01") << 400
                                  << "\"2026-13-01\" is not a date";
        QTest::newRow("no from") << QString("/api/stats?file=Known.mdb&to=2026-03-01") << 400 << "from is missing: give a date";
        QTest::newRow("channel beyond the file") << QString("/api/rows?file=Known.mdb&channels=9") + days << 400
                                                 << "has 8 channels, not channel 9";
        QTest::newRow("bad channel") << QString("/api/series?file=Known.mdb&channels=1,x") << 400 << "\"x\" is not a channel";
        QTest::newRow("empty channels") << QString("/api/stats?file=Known.mdb&channels=") + days << 400 << "channels is empty";
        // What the client sent is echoed on one line: NUL, line ends and quotes escaped.
        QTest::newRow("NUL and line feed shown escaped") << QString("/api/stats?file=Kn%00o%0Dw%0An%22.mdb") + days << 400
                                                         << "\"Kn\\x00o\\rw\\nn\\\".mdb\" is not a file name";
        QTest::newRow("line feed in a time window") << QString("/api/stats?file=Known.mdb&time=08%0A00-09:00") + days
                                                    << 400 << "time: \"08\\n00-09:00\" is not a time window";
        QTest::newRow("line feed in points") << QString("/api/series?file=Known.mdb&points=1%0A2") << 400 << "not \"1\\n2\"";
        QTest::newRow("bad format") << QString("/api/rows?file=Known.mdb&format=pdf") + days << 400 << "format wants";
        QTest::newRow("bad points") << QString("/api/series?file=Known.mdb&points=5001") << 400 << "points wants";
        QTest::newRow("bad start") << QString("/api/series?file=Known.mdb&start=yesterday") << 400
                                   << "\"yesterday\" is not a date";
        QTest::newRow("nothing matched") << QString("/api/rows?file=Known.mdb&from=2027-01-01&to=2027-01-02&format=csv")
                                         << 404 << "No record";
    }
    void refusals()
    {
        QFETCH(QString, target);
        QFETCH(int, status);
        QFETCH(QString, reason);
        const HttpReply reply = Ask(target.toUtf8());
        QCOMPARE(reply.status, status);
        QVERIFY2(reply.body.contains(reason.toUtf8()) && reply.body.count('\n') == 1 && !reply.body.contains('\0') &&
                     !reply.body.contains('\r'),
                 reply.body.constData());
    }

    void tokenOnEveryPath()
    {
        for (const QByteArray& path : QList<QByteArray>{"/history", "/history.js", "/history.css", "/vendor/uPlot.iife.min.js",
                                      "/api/files", "/api/rows?file=Known.mdb&from=2026-03-01&to=2026-03-01",
                                      "/api/stats?file=Known.mdb&from=2026-03-01&to=2026-03-01",
                                      "/api/events?file=Known.mdb&from=2026-03-01&to=2026-03-01",
                                      "/api/series?file=Known.mdb"}) {
            QCOMPARE(Get(live.port, path).status, 401);
            QCOMPARE(Get(live.port, path, "GET", "Authorization: Bearer wrong\r\n").status, 401);
            QCOMPARE(Get(live.port, path, "POST", Bearer).status, 405);
            QCOMPARE(Ask(path).status, 200);
        }
        const HttpReply page = Get(live.port, "/history?token=" + Secret);
        QCOMPARE(page.status, 200);
        QVERIFY(page.header("Set-Cookie").startsWith("meter_record_token="));
        // The data file is not locked against the recorder: rows still come.
        const qint64 rows = JsonOf(Ask("/api/files")).array().at(1)["rows"].toInteger();
        QTRY_VERIFY_WITH_TIMEOUT(JsonOf(Ask("/api/files")).array().at(1)["rows"].toInteger() > rows, 5000);
    }

    // Two people opening the page at once send six requests, more than run at once: every one is
    // answered (the rest wait their turn), none refused as busy.
    void burstOfPageRequestsIsAnswered()
    {
        std::vector<std::unique_ptr<QTcpSocket>> sockets;
        for (int i = 0; i < 12; ++i) {
            auto& socket = sockets.emplace_back(std::make_unique<QTcpSocket>());
            socket->connectToHost(QStringLiteral("127.0.0.1"), live.port);
            QVERIFY(socket->waitForConnected(5000));
        }
        for (size_t i = 0; i < sockets.size(); ++i) {
            const QByteArray path = i % 3 == 0   ? "/api/stats?file=Known.mdb&from=2026-03-01&to=2026-03-02"
                                    : i % 3 == 1 ? "/api/events?file=Known.mdb&from=2026-03-01&to=2026-03-02"
                                                 : "/api/series?file=Known.mdb&channels=1,2,3,4&points=1000";
            sockets[i]->write("GET " + path + " HTTP/1.0\r\n" + Bearer + "\r\n");
            sockets[i]->flush();
        }
        QList<int> statuses;
        for (auto& socket : sockets) {
            QByteArray raw;
            QElapsedTimer clock;
            clock.start();
            while (socket->state() == QAbstractSocket::ConnectedState && clock.elapsed() < 30000)
                if (socket->waitForReadyRead(1000))
                    raw += socket->readAll();
            raw += socket->readAll();
            statuses << ParseReply(raw).status;
        }
        QCOMPARE(statuses, QList<int>(12, 200));
    }

    // A download whose client goes away is given up within a second: two workbooks of a large
    // file left after 0.3 s free their slots, and the next download is answered at once.
    void leftDownloadsStop()
    {
        QVERIFY(CreateDataFile(live.path("Big.mdb"), 8));
        SqliteCli(live.path("Big.mdb"),
                  "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 129599) "
                  "INSERT INTO DataRecord SELECT date('2026-11-01', '+' || (i / 43200) || ' days'), "
                  "time(i % 43200 * 2, 'unixepoch'), i * 0.5, 'V', i % 7, 'A', 1.5, 'A', 2.5, 'A', 3.5, 'A', 4.5, 'A', "
                  "5.5, 'A', 6.5, 'A' FROM n;");
        QCOMPARE(SqliteRowCount(live.path("Big.mdb")), 129600);
        std::vector<std::unique_ptr<QTcpSocket>> left;
        for (int i = 0; i < 2; ++i) {
            auto& socket = left.emplace_back(std::make_unique<QTcpSocket>());
            socket->connectToHost(QStringLiteral("127.0.0.1"), live.port);
            QVERIFY(socket->waitForConnected(5000));
            socket->write("GET /api/rows?file=Big.mdb&from=2026-11-01&to=2026-11-03&format=xlsx HTTP/1.0\r\n" + Bearer +
                          "\r\n");
            socket->flush();
        }
        QTest::qWait(300);
        for (auto& socket : left)
            socket->abort();
        QElapsedTimer clock;
        clock.start();
        const HttpReply next = Ask("/api/rows?file=Known.mdb&from=2026-03-01&to=2026-03-01&format=csv");
        QCOMPARE(next.status, 200);
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
    }

    // A meter that changed function: the chart's legend gets every unit of the range with its
    // quantity, its overload and change of function are marks with their text, and its
    // statistics are per unit, never volts and ohms together.
    void seriesSaysUnitsAndMeterEvents()
    {
        const QString path = live.path("Modes.mdb");
        QVERIFY(!MakeDataFile(path, 8, {"'2026-03-01','10:00:00',1.5,'VDC',1,'V'", "'2026-03-01','10:00:10',999999,'VDC',1,'V'",
                                        "'2026-03-01','10:00:20',12.3,'Ohm   ',1,'V'", "'2026-03-01','10:00:30',12.4,'Ohm',1,'V'"}, 2)
                     .isEmpty());
        SqliteCli(path, "CREATE TABLE EventLog (id INTEGER PRIMARY KEY, date TEXT, time TEXT, utc TEXT, kind TEXT, "
                        "channel INTEGER, value REAL, text TEXT);"
                        "INSERT INTO EventLog (date,time,utc,kind,channel,value,text) VALUES "
                        "('2026-03-01','10:00:10','2026-03-01T10:00:10.000Z','overload',1,NULL,'voltage VDC: over range (+)'),"
                        "('2026-03-01','10:00:20','2026-03-01T10:00:20.000Z','function',1,NULL,'voltage VDC to resistance Ohm'),"
                        "('2026-03-01','10:00:25','2026-03-01T10:00:25.000Z','function',2,NULL,'HOLD on');");
        const QJsonObject s = JsonOf(Ask("/api/series?file=Modes.mdb&channels=1")).object();
        const QJsonArray stats =
            JsonOf(Ask("/api/stats?file=Modes.mdb&channels=1&from=2026-03-01&to=2026-03-01")).object()["channels"].toArray();
        QFile::remove(path);
        QCOMPARE(stats.size(), 2);
        QCOMPARE(stats[0].toObject(), (QJsonObject{{"channel", 1}, {"unit", "VDC"}, {"count", 1}, {"min", 1.5}, {"max", 1.5},
                                                    {"mean", 1.5}}));
        QCOMPARE(stats[1].toObject()["unit"].toString(), QStringLiteral("Ohm"));
        QCOMPARE(stats[1].toObject()["count"].toInt(), 2);
        QCOMPARE(stats[1].toObject()["max"].toDouble(), 12.4);
        // A line per unit: no point and no line joins volts and ohms.
        const QJsonArray lines = s["channels"].toArray();
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0]["units"].toArray(), (QJsonArray{QJsonObject{{"unit", "VDC"}, {"quantity", "voltage"}}}));
        QCOMPARE(lines[1]["units"].toArray(), (QJsonArray{QJsonObject{{"unit", "Ohm"}, {"quantity", "resistance"}}}));
        QCOMPARE(lines[0]["channel"].toInt(), 1);
        QCOMPARE(lines[1]["channel"].toInt(), 1);
        QCOMPARE(lines[0]["max"].toArray().at(0).toDouble(), 1.5);
        for (const QJsonValue& v : lines[0]["max"].toArray())
            QVERIFY(v.isNull() || v.toDouble() == 1.5);
        for (const QJsonValue& v : lines[1]["min"].toArray())
            QVERIFY(v.isNull() || v.toDouble() >= 12.3);
        QStringList marks;
        for (const QJsonValue& e : s["events"].toArray())
            marks << e["kind"].toString() + ": " + e["text"].toString();
        QCOMPARE(marks, (QStringList{"overload: voltage VDC: over range (+)", "function: voltage VDC to resistance Ohm"}));
    }

    // The page in headless Chromium at desktop and phone width: the chart drawn and the
    // statistics of the known file as the API gives them; a zoom, an empty range, no channel, a
    // file without rows and one that does not exist as the page says them (history_check.py).
    void pageInABrowser()
    {
        QVERIFY(!MakeDataFile(live.path("Empty.mdb"), 8, {}).isEmpty());
        // A rotated series whose second file holds one row: named on its own it is charted alone.
        QVERIFY(!MakeDataFile(live.path("Ser.mdb"), 8, {"'2026-03-01','00:00:00',1,'V'", "'2026-03-01','00:00:10',2,'V'"}, 1)
                     .isEmpty());
        QVERIFY(!MakeDataFile(live.path("Ser_002.mdb"), 8, {"'2026-03-01','00:00:20',3,'V'"}, 1).isEmpty());
        const QJsonArray stats =
            JsonOf(Ask("/api/stats?file=Known.mdb&from=2026-03-01&to=2026-03-02&channels=1,2,3,4"))
                .object()["channels"]
                .toArray();
        QProcess check;
        check.setProcessChannelMode(QProcess::MergedChannels);
        QStringList arguments{QStringLiteral(VARNIK_SOURCE_DIR "/tests/web/history_check.py"),
                              live.url + "history?file=Known.mdb&token=" + QString::fromLatin1(Secret),
                              QString::fromUtf8(QJsonDocument(stats).toJson(QJsonDocument::Compact))};
        if (const QString shots = qEnvironmentVariable("VARNIK_SCREENSHOTS"); !shots.isEmpty())
            arguments << shots;
        check.start(QStringLiteral("/usr/bin/python3"), arguments);
        QVERIFY(check.waitForFinished(120000));
        QVERIFY2(check.exitCode() == 0, check.readAll().constData());
    }
};

VARNIK_TEST_CLASS(HistoryWebTest)
#include "test_history_web.moc"
