// meter-record --mqtt end to end: meter-sim on a pseudo-terminal, a broker of the test's own and
// mosquitto_sub as the reader. Readings and rows arrive; the recorder's lines name the broker
// without its password (given in a file); a meter that falls silent turns the link topic "down";
// a recorder killed with SIGKILL is reported "offline" by the broker.
#include "mqtt_broker.h"
#include "publish/broker_url.h"
#include "test_registry.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <csignal>
#include <memory>

namespace {

// A child process of the build folder whose output is read line by line.
class Tool {
  public:
    Tool(const QString& program, const QStringList& arguments, const QString& configHome)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(VARNIK_BINARY_DIR "/") + program, arguments);
    }
    ~Tool()
    {
        process.kill();
        process.waitForFinished();
    }
    Tool(const Tool&) = delete;
    Tool& operator=(const Tool&) = delete;

    bool WaitFor(const QString& text, int timeoutMs = 20000)
    {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            while (process.canReadLine())
                lines << QString::fromUtf8(process.readLine()).trimmed();
            if (!lines.filter(text).isEmpty())
                return true;
            if (clock.elapsed() > timeoutMs || process.state() == QProcess::NotRunning)
                return false;
            process.waitForReadyRead(100);
        }
    }
    QString Output() const { return lines.join(QLatin1Char('\n')); }

    QProcess process;
    QStringList lines;
};

} // namespace

class TestRecordMqtt : public QObject {
    Q_OBJECT

  private slots:
    void publishesWhileRecordingAndLeavesAWillWhenKilled()
    {
        MqttBroker broker(MqttBroker::Kind::Password);
        QVERIFY2(broker.IsRunning(), qPrintable(broker.Log()));
        QTemporaryDir dir;
        for (const char* name : {"unit2.dat", "display.dat", "dispchan.dat", "default.txt"})
            QVERIFY(QFile::copy(QStringLiteral(VARNIK_SOURCE_DIR "/data/") + QLatin1String(name),
                                dir.filePath(QLatin1String(name))));
        const QString device = dir.filePath(QStringLiteral("meter"));
        Tool sim(QStringLiteral("meter-sim"), {"--channels", "16", "--rate", "60", "--link", device}, dir.path());
        QVERIFY2(sim.WaitFor(QStringLiteral("/dev/")), qPrintable(sim.Output()));
        Subscriber sub(broker);
        QFile password(dir.filePath(QStringLiteral("password")));
        QVERIFY(password.open(QIODevice::WriteOnly));
        password.write(QByteArray(MqttBroker::Password) + "\n");
        password.close();

        const QString station = StationId(QStringLiteral("bench 1"));
        const QString base = QStringLiteral("test/") + station;
        Tool recorder(QStringLiteral("meter-record"),
                      {"--data-dir", dir.path(), "--device", device, "--channels", "16", "--scan-rate", "1",
                       "--mqtt", broker.Url(QStringLiteral("meter")), "--mqtt-password-file", password.fileName(),
                       "--mqtt-discovery-prefix", "ha", "--station", "bench 1"},
                      dir.path());
        QVERIFY2(recorder.WaitFor(QStringLiteral(" MQTT connected")), qPrintable(recorder.Output()));
        QCOMPARE(sub.WaitFor(base + "/status").value(0), QStringLiteral("online"));
        // The link topic's latest word, and how long it took to come.
        const auto link = [&sub, &base](const QString& wanted) {
            QElapsedTimer clock;
            clock.start();
            while (clock.elapsed() < 20000) {
                const QStringList said = sub.WaitFor(base + "/link", 1000, "0", 100);
                if (!said.isEmpty() && said.last() == wanted)
                    return clock.elapsed();
            }
            return qint64(-1);
        };
        QVERIFY(link(QStringLiteral("up")) >= 0);
        const QJsonObject reading = QJsonDocument::fromJson(sub.WaitFor(base + "/channel/16").value(0).toUtf8()).object();
        QVERIFY2(reading.contains("value") && reading.value("time").toString().endsWith('Z'),
                 qPrintable(sub.Lines().join('\n')));
        const QJsonObject discovery =
            QJsonDocument::fromJson(sub.WaitFor("ha/sensor/varnik_" + station + "/ch16/config").value(0).toUtf8()).object();
        QCOMPARE(discovery.value("device").toObject().value("name").toString(), QStringLiteral("bench 1"));
        const QJsonObject row = QJsonDocument::fromJson(sub.WaitFor(base + "/row").value(0).toUtf8()).object();
        QCOMPARE(row.value("data_file").toString(), QStringLiteral("Data1.mdb"));
        QCOMPARE(row.value("channels").toObject().size(), 16);
        const QJsonObject started = QJsonDocument::fromJson(sub.WaitFor(base + "/event").value(0).toUtf8()).object();
        QCOMPARE(started.value("kind").toString(), QStringLiteral("start"));
        QCOMPARE(started.value("data_file").toString(), QStringLiteral("Data1.mdb"));
        QVERIFY(started.value("channel").isNull() && started.value("utc").toString().endsWith('Z'));
        QVERIFY2(recorder.lines.first().contains(QStringLiteral("publishing to mqtt://meter@127.0.0.1")),
                 qPrintable(recorder.Output()));
        QVERIFY(!recorder.Output().contains(QStringLiteral("s3cret")));

        // The meter falls silent: the link goes down within 5 s, and no reading follows.
        ::kill(pid_t(sim.process.processId()), SIGSTOP);
        const qint64 silent = link(QStringLiteral("down"));
        QVERIFY2(silent >= 0 && silent < 5000, qPrintable(QString::number(silent)));
        const qsizetype readings = sub.Lines().filter(base + "/channel/").size();
        sub.WaitFor(QStringLiteral("nothing"), 1, {}, 1500);
        QCOMPARE(sub.Lines().filter(base + "/channel/").size(), readings);
        ::kill(pid_t(sim.process.processId()), SIGCONT);
        QVERIFY(link(QStringLiteral("up")) >= 0);

        ::kill(pid_t(recorder.process.processId()), SIGKILL);
        QCOMPARE(sub.WaitFor(base + "/status", 2).value(1), QStringLiteral("offline"));
    }

    void refusesTheBrokersTopicsAndAPasswordGivenTwice()
    {
        for (const QStringList& args : {QStringList{"--mqtt", "mqtt://127.0.0.1/$SYS"},
                                        QStringList{"--mqtt", "mqtt://127.0.0.1", "--mqtt-discovery-prefix", "$ha"},
                                        QStringList{"--mqtt", "mqtt://u:pw@127.0.0.1", "--mqtt-password-file",
                                                    QStringLiteral(VARNIK_SOURCE_DIR "/README.md")}}) {
            QProcess recorder;
            recorder.start(QStringLiteral(VARNIK_BINARY_DIR "/meter-record"), args);
            QVERIFY(recorder.waitForFinished(20000));
            QCOMPARE(recorder.exitCode(), 2);
            QVERIFY(!recorder.readAll().contains("pw@"));
        }
    }
};

VARNIK_TEST_CLASS(TestRecordMqtt)
#include "test_record_mqtt.moc"
