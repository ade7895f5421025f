// One range everywhere, for a recorder in a zone with a clock change: the chart, the statistics
// and the downloads of the history API hold exactly the rows of the instants asked for, byte for
// byte as meter-query writes them, across midnight, the hour the clock goes back and the three
// files of a rotated series; a span of thousands of years costs what the rows cost.
#include "../query/query_fixture.h"
#include "test_registry.h"
#include "web_fixture.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QUrl>
#include <ctime>

namespace {

// Rows every 10 minutes from 2026-10-24 18:00 UTC (20:00 summer time) to 05:00 UTC the next day
// (06:00 winter time), channel 1 holding the row's number; rows 20 and 40 start the next file,
// which the recorder logs as a stop 0.1 s after the last row of a file and a start 0.07 s later.
// 03:00 to 04:00 UTC is missing (the recorder stopped), with no event about it.
constexpr qint64 FirstRow = 1792864800; // 2026-10-24T18:00:00Z
constexpr int Rows = 67;

bool Missing(int i)
{
    const qint64 t = FirstRow + i * 600;
    return t > FirstRow + 9 * 3600 && t < FirstRow + 10 * 3600;
}

int RowsBetween(qint64 from, qint64 to)
{
    int n = 0;
    for (int i = 0; i < Rows; ++i)
        n += !Missing(i) && FirstRow + i * 600 >= from && FirstRow + i * 600 <= to;
    return n;
}

bool MakeSeries(const QString& folder)
{
    QStringList files[3];
    QStringList events[3];
    for (int i = 0; i < Rows; ++i) {
        if (Missing(i))
            continue;
        const QDateTime wall = QDateTime::fromSecsSinceEpoch(FirstRow + i * 600).toLocalTime();
        files[std::min(i / 20, 2)] << QStringLiteral("'%1','%2',%3,'V'")
                                          .arg(wall.date().toString(Qt::ISODate), wall.time().toString("HH:mm:ss"))
                                          .arg(i);
    }
    // A rotation: stop and start between the last row of a file and the first of the next.
    const auto logged = [](qint64 ms, const QString& kind) {
        const QDateTime at = QDateTime::fromMSecsSinceEpoch(ms);
        return QStringLiteral("('%1','%2','%3','%4','')")
            .arg(at.date().toString(Qt::ISODate), at.time().toString("HH:mm:ss"),
                 at.toUTC().toString("yyyy-MM-ddTHH:mm:ss.zzzZ"), kind);
    };
    for (int f = 1; f < 3; ++f) {
        const qint64 last = (FirstRow + (f * 20 - 1) * 600) * 1000;
        events[f - 1] << logged(last + 100, QStringLiteral("stop"));
        events[f] << logged(last + 170, QStringLiteral("start"));
    }
    // One note an hour into each file.
    for (int f = 0; f < 3; ++f) {
        const QDateTime at = QDateTime::fromSecsSinceEpoch(FirstRow + f * 20 * 600 + 3600 + 30);
        const QDateTime wall = at.toLocalTime();
        events[f] << QStringLiteral("('%1','%2','%3','note','file %4')")
                         .arg(wall.date().toString(Qt::ISODate), wall.time().toString("HH:mm:ss"),
                              at.toUTC().toString("yyyy-MM-ddTHH:mm:ss.zzzZ"))
                         .arg(f + 1);
    }
    const QString names[3] = {"Turn.mdb", "Turn_002.mdb", "Turn_003.mdb"};
    for (int f = 0; f < 3; ++f) {
        const QString path = MakeDataFile(QDir(folder).filePath(names[f]), 8, files[f], 1);
        if (path.isEmpty())
            return false;
        SqliteCli(path, "CREATE TABLE EventLog (id INTEGER PRIMARY KEY, date TEXT, time TEXT, utc TEXT, kind TEXT, "
                        "channel INTEGER, value REAL, text TEXT);"
                        "INSERT INTO EventLog (date,time,utc,kind,text) VALUES " +
                            events[f].join(',') + ";");
    }
    return true;
}

QByteArray Iso(qint64 t)
{
    return QDateTime::fromSecsSinceEpoch(t, Qt::UTC).toString(Qt::ISODate).toUtf8();
}

QJsonDocument JsonOf(const HttpReply& reply)
{
    return QJsonDocument::fromJson(reply.body);
}

} // namespace

class HistoryRangeTest : public QObject {
    Q_OBJECT

    LiveRecorder live;
    QTemporaryDir out;

    HttpReply Ask(const QByteArray& target) { return Get(live.port, target); }

    QByteArray MeterQuery(const QStringList& arguments, const QString& option, const QString& name)
    {
        QFile::remove(out.filePath(name));
        QProcess query;
        query.start(QStringLiteral(VARNIK_BINARY_DIR "/meter-query"),
                    QStringList{live.path("Turn.mdb"), "--series"} + arguments + QStringList{option, out.filePath(name)});
        query.waitForFinished(60000);
        QFile f(out.filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

  private slots:
    void initTestCase()
    {
        qputenv("TZ", "Europe/Berlin"); // meter-query and the recorder read wall clocks in it
        tzset();
        live.prepare();
        QVERIFY(MakeSeries(live.dir.path()));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        QVERIFY2(live.start({}, QStringLiteral("0"), env), qPrintable(live.recorder->output()));
        QTRY_VERIFY_WITH_TIMEOUT(JsonOf(Ask("/api/files")).array().size() == 2, 20000);
    }

    // 23:45 summer time to 02:25 of the second pass (winter time): the chart's rows, the
    // statistics' and every download's are the same rows, as meter-query gives them for the same
    // instants spelt as wall clock and with an offset.
    void oneRangeEverywhere()
    {
        const qint64 from = FirstRow + 3 * 3600 + 45 * 60, to = FirstRow + 7 * 3600 + 25 * 60;
        const int expected = RowsBetween(from, to);
        QCOMPARE(expected, 22);
        const QByteArray range = "file=Turn.mdb&channels=1&from=" + Iso(from) + "&to=" + Iso(to);
        const QJsonObject stats = JsonOf(Ask("/api/stats?" + range)).object();
        QCOMPARE(stats["rows"].toInt(), expected);
        QCOMPARE(stats["channels"][0]["min"].toDouble(), 23.0); // the row of 23:50
        QCOMPARE(stats["channels"][0]["max"].toDouble(), 44.0); // 02:20 of the second pass
        const QJsonObject chart =
            JsonOf(Ask("/api/series?file=Turn.mdb&channels=1&start=" + Iso(from) + "&end=" + Iso(to))).object();
        int charted = 0;
        for (const QJsonValue& n : chart["channels"][0]["count"].toArray())
            charted += n.toInt();
        QCOMPARE(charted, expected);

        const QStringList arguments{"--from", "2026-10-24 23:45:00", "--to", "2026-10-25T02:25:00+01:00", "--channels", "1"};
        const QByteArray csv = Ask("/api/rows?" + range + "&format=csv").body;
        QCOMPARE(csv.count('\n'), expected + 1);
        QCOMPARE(csv, MeterQuery(arguments, "--csv", "r.csv"));
        QCOMPARE(Ask("/api/rows?" + range + "&format=txt").body, MeterQuery(arguments, "--report", "r.txt"));
        // The events of the range only, of every file: the note of the second file and the
        // rotation from the second to the third.
        const QByteArray events = Ask("/api/events?" + range + "&format=csv").body;
        QCOMPARE(events, MeterQuery(arguments.mid(0, 4), "--events", "r-events.csv"));
        QVERIFY2(events.count('\n') == 4 && events.contains("file 2") && !events.contains("file 1") &&
                     events.contains(",stop,") && events.contains(",start,"),
                 events.constData());

        // A date alone still means the whole day, and a file of the series alone only its rows.
        QCOMPARE(JsonOf(Ask("/api/stats?file=Turn.mdb&from=2026-10-24&to=2026-10-24")).object()["rows"].toInt(),
                 RowsBetween(FirstRow, FirstRow + 4 * 3600 - 1));
        QCOMPARE(JsonOf(Ask("/api/stats?file=Turn_002.mdb&from=2026-10-24&to=2026-10-25")).object()["rows"].toInt(), 20);
    }

    // The three files are one entry of the file list, its rows and first and last row those of
    // the series; the series' chart runs through all three.
    // A file whose last row falls in the second pass of the hour the clock goes back ends at that
    // row's later instant: the whole file is charted and counted, not cut an hour short.
    void fileEndingInTheRepeatedHour()
    {
        QStringList rows;
        for (qint64 t = FirstRow; t <= FirstRow + 25800; t += 600) { // to 02:10 of the second pass
            const QDateTime wall = QDateTime::fromSecsSinceEpoch(t).toLocalTime();
            rows << QStringLiteral("'%1','%2',1,'V'").arg(wall.date().toString(Qt::ISODate), wall.time().toString("HH:mm:ss"));
        }
        QVERIFY(!MakeDataFile(QDir(live.dir.path()).filePath("Back.mdb"), 8, rows, 1).isEmpty());
        QJsonObject back;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (const QJsonValue& f : JsonOf(Ask("/api/files")).array())
                    if (f["name"].toString() == QLatin1String("Back.mdb"))
                        back = f.toObject();
                return !back.isEmpty();
            }(),
            20000);
        QCOMPARE(back["lastUtc"].toInteger(), FirstRow + 25800);
        QCOMPARE(JsonOf(Ask("/api/series?file=Back.mdb")).object()["rows"].toInt(), int(rows.size()));
        QVERIFY(QFile::remove(QDir(live.dir.path()).filePath("Back.mdb"))); // the other tests list the files
    }

    void rotatedSeriesIsOneHistory()
    {
        const QJsonArray files = JsonOf(Ask("/api/files")).array();
        QCOMPARE(files[0]["name"].toString(), QStringLiteral("Turn.mdb"));
        QCOMPARE(files[0]["files"].toArray(), (QJsonArray{"Turn.mdb", "Turn_002.mdb", "Turn_003.mdb"}));
        QCOMPARE(files[0]["rows"].toInt(), Rows - 5);
        QCOMPARE(qint64(files[0]["firstUtc"].toDouble()), FirstRow);
        QCOMPARE(qint64(files[0]["lastUtc"].toDouble()), FirstRow + (Rows - 1) * 600);
        QCOMPARE(files[1]["name"].toString(), QStringLiteral("Web.mdb"));
        const QJsonObject all = JsonOf(Ask("/api/series?file=Turn.mdb&channels=1&points=5000")).object();
        QCOMPARE(all["rows"].toInt(), Rows - 5);
    }

    // The recorder stopped for an hour without a word in the event log: the chart's line breaks
    // there (a point without a reading between the last row before and the first after). The
    // stop and start of a rotation, the next row on time, are no gap and break nothing.
    void silenceBreaksTheLine()
    {
        const QJsonObject s = JsonOf(Ask("/api/series?file=Turn.mdb&channels=1&points=5000")).object();
        QVERIFY2(s["gaps"].toArray().isEmpty(), QJsonDocument(s["gaps"].toArray()).toJson().constData());
        const QJsonArray time = s["time"].toArray(), mean = s["channels"][0]["mean"].toArray();
        QStringList breaks;
        for (int k = 0; k < time.size(); ++k)
            if (mean[k].isNull())
                breaks << QString::number(qint64(time[k].toDouble()) - FirstRow);
        QCOMPARE(breaks, QStringList{QString::number(9 * 3600 + 1800)}); // midway between 03:00 and 04:00 UTC
    }

    // Thousands of years in three points: answered at once, with the rows that exist; years
    // outside 0001-9999 and empty ends are refused naming the parameter.
    void spanOfMillenniaCostsWhatTheRowsCost()
    {
        QElapsedTimer clock;
        clock.start();
        const HttpReply reply = Ask("/api/series?file=Turn.mdb&start=0002-01-01T00:00:00Z&end=9999-12-30T00:00:00Z&points=3");
        const qint64 took = clock.elapsed();
        QCOMPARE(reply.status, 200);
        QVERIFY2(took < 1000, qPrintable(QString::number(took)));
        int counted = 0;
        for (const QJsonValue& n : JsonOf(reply).object()["channels"][0]["count"].toArray())
            counted += n.toInt();
        QCOMPARE(counted, Rows - 5);
        clock.restart();
        QCOMPARE(Ask("/api/stats?file=Turn.mdb&from=0001-01-01&to=9999-12-31").status, 200);
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));

        const QList<std::pair<QByteArray, QByteArray>> refused{
            {"/api/series?file=Turn.mdb&start=0000-12-31T00:00:00Z", "start \"0000-12-31T00:00:00Z\""},
            {"/api/stats?file=Turn.mdb&from=2026-10-24&to=10000-01-01", "to \"10000-01-01\""},
            {"/api/stats?file=Turn.mdb&from=&to=2026-10-24", "from is empty"},
            {"/api/rows?file=Turn.mdb&from=2026-10-24 25:00:00&to=2026-10-24", "from \"2026-10-24 25:00:00\""}};
        for (const auto& [target, says] : refused) {
            const HttpReply r = Ask(QByteArray(target).replace(' ', "%20"));
            QVERIFY2(r.status == 400 && r.body.startsWith(says), r.body.constData());
        }
    }

    // A range end with anything after its date or time, or a time not hh:mm[:ss[.fff]], is
    // refused naming the parameter by every path and by meter-query (exit 2), never read as a
    // whole day.
    void malformedRangeEndsAreRefused_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        for (const char* from : {"2026-10-25T02:30:00ZZ", "2026-10-25Tgarbage", "2026-10-25x", "2026-10-25T3:00:00",
                                 "2026-10-25T02:30:00.123456789123", "2026-10-25 02:30:00 +01:00", "2026-10-25 3",
                                 "2026-10-25T", "2026-10-25T02:30:00+1:00"})
            QTest::newRow(from) << "from" << from;
        QTest::newRow("to with ZZ") << "to" << "2026-10-25T01:00:00ZZ";
        QTest::newRow("to a date and a word") << "to" << "2026-10-25 noon";
    }
    void malformedRangeEndsAreRefused()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        const QString other = key == "from" ? "to" : "from";
        const QByteArray asked = "file=Turn.mdb&channels=1&" + key.toUtf8() + '=' + QUrl::toPercentEncoding(value) + '&' +
                                 other.toUtf8() + "=2026-10-25";
        for (const QByteArray path : {"/api/rows", "/api/stats", "/api/events"}) {
            const HttpReply r = Ask(path + '?' + asked);
            QVERIFY2(r.status == 400 && r.body.startsWith(key.toUtf8() + " \""), (path + ": " + r.body).constData());
        }
        QProcess query;
        query.start(QStringLiteral(VARNIK_BINARY_DIR "/meter-query"),
                    {live.path("Turn.mdb"), "--channels", "1", "--" + key, value, "--" + other, "2026-10-25", "--csv",
                     out.filePath("never.csv")});
        QVERIFY(query.waitForFinished(60000));
        const QByteArray said = query.readAllStandardError();
        QVERIFY2(query.exitCode() == 2 && said.startsWith("meter-query: --" + key.toUtf8() + " \""), said.constData());
        QVERIFY(!QFile::exists(out.filePath("never.csv")));
        // The sound forms still read: the same instant with Z, an offset and the wall clock.
        for (const char* good : {"2026-10-25T01:30:00Z", "2026-10-25T02:30:00+01:00", "2026-10-25 02:30", "2026/10/25"})
            QVERIFY2(Ask("/api/stats?file=Turn.mdb&from=" + QUrl::toPercentEncoding(good) + "&to=2026-10-25").status == 200,
                     good);
    }

    // The hour the clock goes back in Chromium: a zoom into the second 02:xx hour, then Show with
    // the boxes as they are, keeps that hour (not the first pass of the same wall times), and the
    // caption names the offset of the times it shows.
    void clockChangeInTheBrowser()
    {
        QProcess check;
        check.setProcessChannelMode(QProcess::MergedChannels);
        check.start(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral(VARNIK_SOURCE_DIR "/tests/web/history_check.py"), "--clock-change",
                     live.url + "history?file=Turn.mdb"});
        QVERIFY(check.waitForFinished(120000));
        QVERIFY2(check.exitCode() == 0, check.readAll().constData());
    }
};

VARNIK_TEST_CLASS(HistoryRangeTest)
#include "test_history_range.moc"
