// The recorder's status in its outside forms: alarm states, the JSON, the metrics text (checked by
// Prometheus' own promtool), the --http and --http-token rules.
#include "test_registry.h"
#include "web/listen_options.h"
#include "web/status_formats.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace web;

namespace {

RecorderStatus Sample()
{
    RecorderStatus s;
    s.station = QStringLiteral("Hall \"B\"");
    s.dataFile = QStringLiteral("Data1.mdb");
    s.rows = 1234;
    s.rowLimit = 65535;
    s.linkUp = true;
    s.linkSince = QDateTime(QDate(2026, 12, 7), QTime(10, 0), Qt::UTC);
    s.framesReceived = 500;
    s.framesRejected = 3;
    s.rowsRecorded = 1200;
    s.rowsFailed = 1;
    s.lastFrame = s.linkSince.addSecs(60);
    s.lastRow = s.linkSince.addSecs(59);
    s.updated = s.linkSince.addSecs(61);
    ChannelStatus reading{1, 22.5, 1, QStringLiteral("deg\\C \"x\""), Alarm::Normal, s.linkSince, true, {}, {}};
    ChannelStatus invalid{2, std::nullopt, 0, QStringLiteral("V"), Alarm::None, s.linkSince, false,
                          QStringLiteral("voltage"), {"dc", "hold"}};
    ChannelStatus silent{3, std::nullopt, 0, QString(), Alarm::None, QDateTime(), false, {}, {}};
    s.channels = {reading, invalid, silent};
    return s;
}

} // namespace

class WebFormatsTest : public QObject {
    Q_OBJECT

  private slots:
    void alarmFollowsTheWarningLimits_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("low");
        QTest::addColumn<double>("high");
        QTest::addColumn<QString>("alarm");
        QTest::newRow("inside") << 5.0 << 0.0 << 10.0 << "normal";
        QTest::newRow("on the high limit") << 10.0 << 0.0 << 10.0 << "normal";
        QTest::newRow("on the low limit") << 0.0 << 0.0 << 10.0 << "normal";
        QTest::newRow("above") << 10.01 << 0.0 << 10.0 << "high";
        QTest::newRow("below") << -0.5 << 0.0 << 10.0 << "low";
        QTest::newRow("negative limits") << -30.0 << -20.0 << -5.0 << "low";
        QTest::newRow("no limits set") << 123.0 << 0.0 << 0.0 << "none";
        QTest::newRow("invalid reading marker") << InvalidReading << 0.0 << 10.0 << "none";
    }
    void alarmFollowsTheWarningLimits()
    {
        QFETCH(double, value);
        QFETCH(double, low);
        QFETCH(double, high);
        QFETCH(QString, alarm);
        DispSetupRecord setup;
        setup.LowWarning = low;
        setup.HighWarning = high;
        QCOMPARE(AlarmName(AlarmOf(value, setup)), alarm);
    }

    void statusLineForTheServiceManager()
    {
        RecorderStatus s = Sample();
        QCOMPARE(StatusLine(s), QStringLiteral("recording Data1.mdb, 1,234 rows, link up"));
        s.linkUp = false;
        s.forward = ForwardState{QStringLiteral("unreachable"), QString(), 21};
        s.mqtt = MqttState{true, QString()};
        QCOMPARE(StatusLine(s),
                 QStringLiteral(
                     "recording Data1.mdb, 1,234 rows, link down, forwarding unreachable, MQTT connected"));
        s.rowsFailing = 1200;
        QVERIFY(StatusLine(s).startsWith("recording Data1.mdb, 1,234 rows, rows failing (1,200 not recorded), link down"));
    }

    // Invalid and missing readings are null, not the marker; optional parts appear only when on.
    void jsonCarriesEveryField()
    {
        RecorderStatus s = Sample();
        QJsonObject o = QJsonDocument::fromJson(StatusJson(s)).object();
        QCOMPARE(o["station"].toString(), s.station);
        QCOMPARE(o["rows"].toInteger(), 1234);
        QCOMPARE(o["row_limit"].toInteger(), 65535);
        QCOMPARE(o["link"].toString(), "up");
        QCOMPARE(o["since"].toString(), "2026-12-07T10:00:00.000Z");
        QCOMPARE(o["last_frame_utc"].toString(), "2026-12-07T10:01:00.000Z");
        QCOMPARE(o["last_row_utc"].toString(), "2026-12-07T10:00:59.000Z");
        QCOMPARE(o["updated_utc"].toString(), "2026-12-07T10:01:01.000Z");
        QVERIFY(o["forward"].isNull());
        QVERIFY(o["mqtt"].isNull());
        QVERIFY(!o.contains("events"));
        const QJsonArray channels = o["channels"].toArray();
        QCOMPARE(channels.size(), 3);
        QCOMPARE(channels[0]["value"].toDouble(), 22.5);
        QCOMPARE(channels[0]["alarm"].toString(), "normal");
        QCOMPARE(channels[0]["unit"].toString(), s.channels[0].unit);
        QVERIFY(channels[1]["value"].isNull());
        QVERIFY(!channels[1]["time"].isNull());
        QCOMPARE(channels[0]["quantity"].toString(), QString());
        QCOMPARE(channels[0]["flags"].toArray(), QJsonArray());
        QCOMPARE(channels[1]["quantity"].toString(), "voltage");
        QCOMPARE(channels[1]["flags"].toArray(), (QJsonArray{"dc", "hold"}));
        QVERIFY(channels[2]["time"].isNull());
        // Each source's own link (a silent multimeter beside the instrument).
        s.sources = {SourceStatus{QStringLiteral("the meter"), 1, 8, true, {}},
                     SourceStatus{QStringLiteral("sigrok:demo"), 9, 2, false, {}}};
        o = QJsonDocument::fromJson(StatusJson(s)).object();
        QCOMPARE(o["sources"].toArray()[1].toObject(), (QJsonObject{{"name", "sigrok:demo"}, {"first_channel", 9},
                                                                    {"channels", 2}, {"link", "down"}}));

        s.forward = ForwardState{QStringLiteral("sending"), QStringLiteral("sending, 5 rows wait"), 5};
        s.mqtt = MqttState{false, QStringLiteral("broker down"), QStringLiteral("mqtt://meter:****@h/x"), 21};
        s.events = QList<EventLine>{{s.linkSince, QStringLiteral("link up")}};
        o = QJsonDocument::fromJson(StatusJson(s)).object();
        QCOMPARE(o["forward"].toObject()["backlog_rows"].toInteger(), 5);
        QCOMPARE(o["mqtt"].toObject()["connected"].toBool(), false);
        QCOMPARE(o["mqtt"].toObject()["url"].toString(), "mqtt://meter:****@h/x");
        QCOMPARE(o["mqtt"].toObject()["queued"].toInteger(), 21);
        QCOMPARE(o["events"].toArray()[0].toObject()["text"].toString(), "link up");
    }

    // promtool is Prometheus' own checker: labels that need escaping, the optional families and
    // the process figures all pass it, and every family has HELP and TYPE.
    void metricsPassPromtool()
    {
        RecorderStatus s = Sample();
        s.forward = ForwardState{QStringLiteral("sending"), QString(), 7};
        s.mqtt = MqttState{true, QString()};
        s.channels[0].time = s.lastFrame;
        s.channels.append(ChannelStatus{4, 0.5, 3, QStringLiteral("VAC"), Alarm::None, s.lastFrame, true,
                                        QStringLiteral("voltage"), {"ac", "rel"}});
        s.sources = {SourceStatus{QStringLiteral("the meter"), 1, 3, true, {}},
                     SourceStatus{QStringLiteral("sigrok:demo \"x\""), 4, 1, false, {}}};
        const QByteArray text = MetricsText(s, CurrentProcessFigures(), s.lastFrame.addMSecs(1000));
        QProcess promtool;
        promtool.start(QStringLiteral("promtool"), {"check", "metrics"});
        QVERIFY2(promtool.waitForStarted(), "promtool (Debian package prometheus) is needed");
        promtool.write(text);
        promtool.closeWriteChannel();
        QVERIFY(promtool.waitForFinished(30000));
        QVERIFY2(promtool.exitCode() == 0, promtool.readAll().constData());

        for (const char* family :
             {"varnik_reading", "varnik_link_up", "varnik_frames_received_total",
              "varnik_frames_rejected_total", "varnik_rows_recorded_total", "varnik_rows_failed_total",
              "varnik_data_file_rows", "varnik_data_file_row_limit", "varnik_forward_backlog_rows",
              "varnik_mqtt_connected", "varnik_last_frame_timestamp_seconds",
              "varnik_last_row_timestamp_seconds", "process_start_time_seconds", "process_cpu_seconds_total",
              "process_resident_memory_bytes"}) {
            QVERIFY2(text.contains(QByteArray("# HELP ") + family + ' '), family);
            QVERIFY2(text.contains(QByteArray("# TYPE ") + family + ' '), family);
        }
        QVERIFY(text.contains("varnik_reading{channel=\"1\",unit=\"deg\\\\C \\\"x\\\"\"} 22.5\n"));
        QVERIFY(!text.contains("channel=\"2\""));
        // The quantity as a label where the meter says it; the flags are no labels.
        QVERIFY(text.contains("varnik_reading{channel=\"4\",unit=\"VAC\",quantity=\"voltage\"} 0.5\n"));
        QVERIFY(text.contains("varnik_rows_failed_total 1\n"));
        QVERIFY(text.contains("varnik_link_up 1\n"));
        // A silent source beside one that delivers shows in its own sample.
        QVERIFY(text.contains("varnik_source_link_up{source=\"the meter\",first_channel=\"1\"} 1\n"));
        QVERIFY(text.contains("varnik_source_link_up{source=\"sigrok:demo \\\"x\\\"\",first_channel=\"4\"} 0\n"));
        QVERIFY(text.contains("varnik_last_frame_timestamp_seconds 1796637660\n"));
        QVERIFY(text.contains("varnik_last_row_timestamp_seconds 1796637659\n"));
        QVERIFY(!MetricsText(Sample(), {}, s.lastFrame).contains("varnik_forward_backlog_rows"));
    }

    // A silent meter: its readings get no sample once they are older than the freshness limit,
    // and the link is down at the same instant, even when the recorder's last snapshot said up (a
    // frozen recorder); a reading the station no longer counts as current gets none either.
    void silentMeterHasNoCurrentSample()
    {
        RecorderStatus s = Sample();
        s.channels[0].time = s.lastFrame;
        const QByteArray fresh = MetricsText(s, {}, s.lastFrame.addMSecs(ReadingFreshMs - 1));
        QVERIFY(fresh.contains("varnik_reading{channel=\"1\""));
        QVERIFY(fresh.contains("varnik_link_up 1\n"));
        const QByteArray old = MetricsText(s, {}, s.lastFrame.addMSecs(ReadingFreshMs));
        QVERIFY(!old.contains("varnik_reading{"));
        QVERIFY(old.contains("varnik_link_up 0\n"));
        s.channels[0].current = false;
        QVERIFY(!MetricsText(s, {}, s.lastFrame).contains("varnik_reading{"));
    }

    void listenAddresses_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown"); // empty: refused
        QTest::addColumn<bool>("loopback");
        QTest::newRow("port alone") << "8080"
                                    << "127.0.0.1:8080" << true;
        QTest::newRow("any IPv4") << "0.0.0.0:8080"
                                  << "0.0.0.0:8080" << false;
        QTest::newRow("loopback IPv6") << "[::1]:9000"
                                       << "[::1]:9000" << true;
        QTest::newRow("any IPv6") << "[::]:9000"
                                  << "[::]:9000" << false;
        QTest::newRow("other loopback") << "127.0.0.2:80"
                                        << "127.0.0.2:80" << true;
        QTest::newRow("free port") << "0"
                                   << "127.0.0.1:0" << true;
        QTest::newRow("host name") << "localhost:8080"
                                   << "" << false;
        QTest::newRow("port too big") << "70000"
                                      << "" << false;
        QTest::newRow("short address") << "10.1.2:80"
                                       << "" << false;
        QTest::newRow("IPv4 in brackets") << "[10.1.2.3]:80"
                                          << "" << false;
        QTest::newRow("no port") << "127.0.0.1"
                                 << "" << false;
        QTest::newRow("empty") << ""
                               << "" << false;
    }
    void listenAddresses()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QFETCH(bool, loopback);
        ListenAddress address;
        QString error;
        QCOMPARE(ParseListenAddress(text, &address, &error), !shown.isEmpty());
        if (shown.isEmpty()) {
            QVERIFY(error.contains(QStringLiteral("--http")));
            return;
        }
        QCOMPARE(address.Text(), shown);
        QCOMPARE(address.IsLoopback(), loopback);
    }

    // Reachable from other machines only with a token; a bad token file is refused without its
    // content ever showing up in the message.
    void tokenRule_data()
    {
        QTest::addColumn<QString>("http");
        QTest::addColumn<QByteArray>("tokenFile"); // null: no --http-token
        QTest::addColumn<QString>("refusal");      // empty: accepted
        const QByteArray good = "s3cr3t-Token_0123456789\n";
        QTest::newRow("loopback, no token") << "8080" << QByteArray() << "";
        QTest::newRow("loopback with token") << "8080" << good << "";
        QTest::newRow("network, no token") << "0.0.0.0:8080" << QByteArray() << "--http-token FILE";
        QTest::newRow("network with token") << "0.0.0.0:8080" << good << "";
        QTest::newRow("empty file") << "0.0.0.0:8080" << QByteArray("") << "at least 16";
        QTest::newRow("short secret") << "0.0.0.0:8080" << QByteArray("shortsecret\n") << "at least 16";
        QTest::newRow("blank in secret")
            << "0.0.0.0:8080" << QByteArray("secret with blanks inside\n") << "only letters";
        QTest::newRow("token without page") << "" << good << "goes with --http";
    }
    void tokenRule()
    {
        QFETCH(QString, http);
        QFETCH(QByteArray, tokenFile);
        QFETCH(QString, refusal);
        QTemporaryDir dir;
        QString path;
        if (!tokenFile.isNull()) {
            path = dir.filePath(QStringLiteral("token"));
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(tokenFile);
        }
        WebSettings settings;
        QString error;
        QCOMPARE(ResolveWebSettings(http, path, &settings, &error), refusal.isEmpty());
        QVERIFY2(error.contains(refusal), qPrintable(error));
        if (!tokenFile.isEmpty())
            QVERIFY2(!error.contains(QString::fromLatin1(tokenFile.trimmed())), qPrintable(error));
        if (refusal.isEmpty() && !tokenFile.isNull())
            QCOMPARE(settings.token, tokenFile.trimmed());
    }

    void missingTokenFileIsRefused()
    {
        WebSettings settings;
        QString error;
        QVERIFY(!ResolveWebSettings(QStringLiteral("0.0.0.0:1"), QStringLiteral("/nonexistent/token"),
                                    &settings, &error));
        QVERIFY2(error.contains(QStringLiteral("cannot read")), qPrintable(error));
    }
};

VARNIK_TEST_CLASS(WebFormatsTest)

#include "test_web_formats.moc"
