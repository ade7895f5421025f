// meter-record with libsigrok sources through the real meter-sigrok: the demo driver's readings in
// rows (every digit, unit VDC, channels after the source's own recorded as invalid), on MQTT and
// the status page, a second
// source that hangs losing only its own channels, the drivers list, and the command lines refused
// with one line and exit code 2.
#include "../publish/mqtt_broker.h"
#include "record_rig.h"
#include "sigrok_stand_in.h"
#include "sqlite_cli.h"
#include "test_registry.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>
#include <csignal>

namespace {

const QString Demo = QStringLiteral("sigrok:demo:analog_channels=2:logic_channels=0:samplerate=4");

// Runs the real meter-sigrok, except for the driver "hang": one reading at its first start, then
// nothing, as a session that spins after its serial device hung up. Each start of it is a line of
// meter-sigrok.launches.
const char* HangingWrapper = R"sh(#!/bin/bash
if [ "$1" = hang ] || [ "$2" = hang ]; then
  printf 'meter-sigrok\t1\n'
  [ "$1" = --check ] && { echo ok; exit 0; }
  echo $$ >> "$0.launches"
  printf 'device\tstuck meter\t1\n'
  [ -e "$0.once" ] || { touch "$0.once"; printf 'reading\t0\t1.234\t3\tvoltage\tV\tdc\n'; }
  exec sleep 60
fi
exec )sh" VARNIK_BINARY_DIR R"sh(/meter-sigrok "$@"
)sh";

int Launches(const QString& wrapper)
{
    QFile launches(wrapper + QStringLiteral(".launches"));
    return launches.open(QIODevice::ReadOnly) ? int(launches.readAll().count('\n')) : 0;
}

QStringList Args(const RecordFolder& folder, const QStringList& more)
{
    return QStringList{"--data-dir", folder.dir(), "--data-file", "Sig", "--channels", "8", "--scan-rate", "1",
                       "--verbose"} +
           more;
}

} // namespace

class TestRecordSigrok : public QObject {
    Q_OBJECT

  private slots:
    void demoRecordsEveryDigitWithItsUnit()
    {
        RecordFolder folder;
        MqttBroker broker;
        QVERIFY2(broker.IsRunning(), qPrintable(broker.Log()));
        Subscriber sub(broker);
        const QString http = QStringLiteral("127.0.0.1:%1").arg(PgServer::FreePort());
        Run run(QStringLiteral("meter-record"),
                Args(folder, {"--source", Demo, "--mqtt", broker.Url(), "--station", "dmm", "--http", http}),
                folder.dir());
        QVERIFY2(run.waitFor(QStringLiteral("recording: ") + Demo + " on channels 1 to 2"), qPrintable(run.output()));
        QVERIFY2(run.waitFor("sigrok:demo: Demo device open, 2 analog channels"), qPrintable(run.output()));
        QVERIFY2(run.waitFor("row 3:"), qPrintable(run.output()));

        // The same reading on MQTT and the status page as in the rows: the unit with its DC.
        const QJsonObject reading =
            QJsonDocument::fromJson(sub.WaitFor(QStringLiteral("test/dmm/channel/2")).value(0).toUtf8()).object();
        QCOMPARE(reading.value("unit").toString(), QStringLiteral("VDC"));
        QCOMPARE(reading.value("quantity").toString(), QStringLiteral("voltage"));
        QVERIFY(reading.value("flags").toArray().contains(QStringLiteral("dc")));
        QVERIFY2(std::abs(reading.value("value").toDouble()) <= 10, qPrintable(sub.Lines().join('\n')));
        QProcess curl;
        curl.start(QStringLiteral("curl"), {"-sS", "http://" + http + "/api/status"});
        QVERIFY(curl.waitForFinished(10000));
        const QJsonArray channels = QJsonDocument::fromJson(curl.readAllStandardOutput()).object().value("channels").toArray();
        QVERIFY2(channels.size() >= 2, qPrintable(curl.readAllStandardError()));
        for (int i = 0; i < 2; ++i) {
            const QJsonObject c = channels[i].toObject();
            QCOMPARE(c.value("unit").toString(), QStringLiteral("VDC"));
            QCOMPARE(c.value("quantity").toString(), QStringLiteral("voltage"));
            QVERIFY2(c.value("current").toBool(), qPrintable(QJsonDocument(c).toJson()));
        }
        QVERIFY(run.signalAndWait(SIGTERM));
        QCOMPARE(run.process.exitCode(), 0);

        const QString file = folder.path("Sig.mdb");
        const QStringList rows =
            SqliteCli(file, "SELECT [chan 1], [unit 1], [chan 2], [unit 2], [chan 3], trim([unit 3]) FROM DataRecord");
        QVERIFY(rows.size() >= 3);
        static const QRegularExpression digits(QStringLiteral("^-?\\d+(\\.\\d{1,4})?$"));
        for (const QString& row : rows) {
            const QStringList c = row.split('|');
            QVERIFY2(c[0] == "-10.0" || c[0] == "10.0", qPrintable(row)); // A0: a square wave
            QCOMPARE(c[1], QStringLiteral("VDC"));
            QVERIFY2(digits.match(c[2]).hasMatch() && std::abs(c[2].toDouble()) <= 10, qPrintable(row));
            QCOMPARE(c[3], QStringLiteral("VDC"));
            QCOMPARE(c[4], QStringLiteral("999999.0"));
            QCOMPARE(c[5], QString());
        }
        // display.dat's alarm limits for channels 1 and 2 give high/low events beside these.
        const QStringList events =
            SqliteCli(file, "SELECT kind, text FROM EventLog WHERE kind IN ('start', 'stop') ORDER BY id");
        QCOMPARE(events.size(), 2);
        QVERIFY2(events[0].startsWith("start|meter-record ") && events[0].endsWith(", " + Demo + " on channels 1 to 2"),
                 qPrintable(events[0]));
        QCOMPARE(events[1], QStringLiteral("stop|signal"));
    }

    void hungSourceLosesOnlyItsChannels()
    {
        RecordFolder folder;
        UseSigrokStandIn(folder.dir(), HangingWrapper);
        Run run(QStringLiteral("meter-record"), Args(folder, {"--source", Demo, "--source", "sigrok:hang@4"}),
                folder.dir());
        qunsetenv("VARNIK_SIGROK_HELPER");
        // The watchdog (1 s here) kills the stuck helper and starts it again, and again (said
        // once); the demo's channels go on.
        QVERIFY2(run.waitFor("sigrok:hang: no readings for 1 s: helper restarted"), qPrintable(run.output()));
        QVERIFY2(run.waitFor("row 3:"), qPrintable(run.output()));
        QTRY_VERIFY_WITH_TIMEOUT(Launches(folder.path("meter-sigrok")) >= 3, 10000);
        QVERIFY2(run.waitFor("row 4:"), qPrintable(run.output()));
        QCOMPARE(run.lines.filter("helper restarted").size(), 1);
        QVERIFY(run.signalAndWait(SIGTERM));

        const QString file = folder.path("Sig.mdb");
        QCOMPARE(SqliteCli(file, "SELECT kind, text FROM EventLog WHERE kind NOT IN ('high', 'low', 'normal') "
                                 "ORDER BY id")
                     .mid(1),
                 (QStringList{"link-lost|sigrok:hang: no readings for 1 s", "stop|signal"}));
        // The demo's channels are in every row, the stuck meter's never.
        QCOMPARE(SqliteCli(file, "SELECT count(*), sum([chan 1] = 999999), sum([chan 4] = 999999) FROM DataRecord")
                     .value(0)
                     .section('|', 1),
                 QStringLiteral("0|") + QString::number(SqliteRowCount(file)));
    }

    void listsTheDrivers()
    {
        RecordFolder folder;
        Run run(QStringLiteral("meter-record"), {"--list-drivers"}, folder.dir());
        QVERIFY(run.finish());
        QCOMPARE(run.process.exitCode(), 0);
        QVERIFY2(!run.lines.filter(QRegularExpression("^demo  \\S")).isEmpty(), qPrintable(run.output()));
    }

    void refusedWithOneLine_data()
    {
        QTest::addColumn<QStringList>("sources");
        QTest::addColumn<QString>("says");
        QTest::newRow("unknown driver") << QStringList{"sigrok:no-such-meter"} << "no libsigrok driver";
        QTest::newRow("unknown option") << QStringList{"sigrok:demo:wobble=1"} << "unknown option \"wobble\"";
        QTest::newRow("bad value") << QStringList{"sigrok:demo:samplerate=fast"} << "cannot take \"fast\"";
        QTest::newRow("value the device refuses") << QStringList{"sigrok:demo:samplerate=-5"}
                                                  << "sigrok:demo: samplerate=-5: invalid argument: refused";
        QTest::newRow("not a source") << QStringList{"thermometer"} << "neither meter nor sigrok";
        QTest::newRow("does not fit") << QStringList{"sigrok:demo:analog_channels=4@6"}
                                      << "needs channels 6 to 9, but the data file has 8";
        QTest::newRow("overlap") << QStringList{"sigrok:demo:channels=3", "sigrok:demo@2"} << "overlap";
        QTest::newRow("after the meter") << QStringList{"meter", "sigrok:demo"} << "give it its first channel with @N";
    }
    void refusedWithOneLine()
    {
        QFETCH(QStringList, sources);
        QFETCH(QString, says);
        RecordFolder folder;
        QStringList more;
        for (const QString& s : sources)
            more << "--source" << s;
        Run run(QStringLiteral("meter-record"), Args(folder, more), folder.dir());
        QVERIFY(run.finish());
        QCOMPARE(run.process.exitCode(), 2);
        const QStringList errors =
            QString::fromUtf8(run.process.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors[0].contains(says), qPrintable(errors[0]));
    }
};

VARNIK_TEST_CLASS(TestRecordSigrok)
#include "test_record_sigrok.moc"
