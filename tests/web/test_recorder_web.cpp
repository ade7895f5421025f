// meter-record's page, JSON, metrics and service-manager messages end to end, with meter-sim on a
// pseudo-terminal: what they show of a running recorder, the token rule on a network address,
// a real Prometheus server scraping it while bad clients hammer it, and the page in a real browser.
#include "sqlite_cli.h"
#include "test_registry.h"
#include "web_fixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTest>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

QJsonObject Status(quint16 port, const QByteArray& headers = {})
{
    return QJsonDocument::fromJson(Get(port, "/api/status", "GET", headers).body).object();
}

// promtool's verdict on a metrics text: empty when it passes.
QString PromtoolComplaint(const QByteArray& text)
{
    QProcess promtool;
    promtool.start(QStringLiteral("promtool"), {"check", "metrics"});
    if (!promtool.waitForStarted())
        return QStringLiteral("promtool (Debian package prometheus) is needed");
    promtool.write(text);
    promtool.closeWriteChannel();
    promtool.waitForFinished(30000);
    return promtool.exitCode() == 0 ? QString() : QString::fromUtf8(promtool.readAll());
}

quint16 FreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// Times of the rows recorded, in seconds since the epoch, oldest first.
QList<qint64> RowSeconds(const QString& file)
{
    QList<qint64> seconds;
    for (const QString& line : SqliteCli(file, QStringLiteral("SELECT date || 'T' || time FROM DataRecord ORDER BY rowid")))
        seconds << QDateTime::fromString(line, Qt::ISODate).toSecsSinceEpoch();
    return seconds;
}

// A datagram socket standing where systemd's notification socket would.
class NotifySocket {
  public:
    explicit NotifySocket(const QString& path) : m_path(path)
    {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path - 1);
        m_bound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~NotifySocket() { ::close(m_fd); }
    bool bound() const { return m_bound; }
    // Every message received until one contains `text` (or the time is up).
    bool waitFor(const QByteArray& text, int timeoutMs = 20000)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, int(timeoutMs - clock.elapsed())) <= 0)
                break;
            char buffer[4096];
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n > 0)
                messages << QByteArray(buffer, int(n));
            if (n > 0 && messages.last().contains(text))
                return true;
        }
        return false;
    }
    qsizetype count(const QByteArray& text) const
    {
        return std::count_if(messages.begin(), messages.end(), [&](const QByteArray& m) { return m.contains(text); });
    }
    QList<QByteArray> messages;

  private:
    QString m_path;
    int m_fd = -1;
    bool m_bound = false;
};

} // namespace

class RecorderWebTest : public QObject {
    Q_OBJECT

  private slots:
    // The JSON, the metrics and the stream show the simulator's channels, the recorder's rows
    // (as many as the data file holds) and its link.
    void showsTheRunningRecorder()
    {
        LiveRecorder live;
        QVERIFY2(live.start(), qPrintable(live.recorder->output()));
        QVERIFY(live.url.startsWith(QStringLiteral("http://127.0.0.1:")));
        QTRY_VERIFY_WITH_TIMEOUT(Status(live.port)["rows"].toInt() >= 2 && Status(live.port)["link"] == "up", 20000);

        const QJsonObject s = Status(live.port);
        QCOMPARE(s["data_file"].toString(), QStringLiteral("Web.mdb"));
        QCOMPARE(s["row_limit"].toInt(), 65535);
        QVERIFY(!s["station"].toString().isEmpty());
        QVERIFY(s["forward"].isNull());
        QVERIFY(s["frames_received"].toInt() > 16);
        QCOMPARE(s["frames_rejected"].toInt(), 0);
        QCOMPARE(s["rows_failed"].toInt(), 0);
        const qint64 fileRows = SqliteRowCount(live.dataFile());
        QVERIFY2(std::abs(s["rows"].toInteger() - fileRows) <= 1, qPrintable(QString::number(fileRows)));
        const QJsonArray channels = s["channels"].toArray();
        QCOMPARE(channels.size(), 16);
        for (const QJsonValue c : channels) {
            QVERIFY(c["value"].isDouble());
            QVERIFY(!c["time"].isNull());
            QVERIFY(QStringList({"normal", "high", "low", "none"}).contains(c["alarm"].toString()));
        }
        // The simulator's first channel: 22.5 +- 3 degrees C, one decimal.
        QVERIFY(std::abs(channels[0]["value"].toDouble() - 22.5) <= 3.0);
        QCOMPARE(channels[0]["decimals"].toInt(), 1);
        QVERIFY(channels[0]["unit"].toString().endsWith(QLatin1Char('C')));

        const QByteArray metrics = Get(live.port, "/metrics").body;
        QCOMPARE(PromtoolComplaint(metrics), QString());
        for (const char* sample : {"varnik_link_up 1\n", "varnik_frames_rejected_total 0\n",
                                   "varnik_data_file_row_limit 65535\n", "varnik_reading{channel=\"16\","})
            QVERIFY2(metrics.contains(sample), sample);
        QVERIFY(QRegularExpression(QStringLiteral("varnik_rows_recorded_total [1-9]"))
                    .match(QString::fromUtf8(metrics))
                    .hasMatch());

        // The stream: two events within two seconds, the second newer than the first.
        QTcpSocket stream;
        stream.connectToHost(QHostAddress::LocalHost, live.port);
        QVERIFY(stream.waitForConnected(5000));
        stream.write("GET /api/stream HTTP/1.0\r\n\r\n");
        QByteArray raw;
        QElapsedTimer clock;
        clock.start();
        while (raw.count("\ndata: ") < 2 && clock.elapsed() < 2000 && stream.waitForReadyRead(2000))
            raw += stream.readAll();
        QVERIFY2(raw.count("\ndata: ") >= 2, raw.constData());

        QCOMPARE(live.recorder->stop(), 0);
        QVERIFY(live.recorder->lines.last().contains(QStringLiteral("stopped")));
    }

    // systemd's side: READY with the status line once recording runs, watchdog pings while ticks
    // complete, STOPPING on the way out. Works without --http.
    void tellsTheServiceManager()
    {
        QTemporaryDir dir;
        NotifySocket notify(dir.filePath(QStringLiteral("notify")));
        QVERIFY(notify.bound());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("NOTIFY_SOCKET"), dir.filePath(QStringLiteral("notify")));
        LiveRecorder live;
        QVERIFY(live.start({}, QString(), env));
        QVERIFY2(notify.waitFor("READY=1"), qPrintable(live.recorder->output()));
        QVERIFY(notify.messages.last().contains("STATUS=recording Web.mdb, "));
        QVERIFY(notify.waitFor("link up"));
        const int pings = int(notify.count("WATCHDOG=1"));
        QVERIFY(notify.waitFor("WATCHDOG=1"));
        QVERIFY(notify.waitFor("WATCHDOG=1"));
        QVERIFY(notify.count("WATCHDOG=1") >= pings + 2);
        QVERIFY(notify.count("READY=1") == 1);
        QCOMPARE(live.recorder->stop(), 0);
        QVERIFY(notify.waitFor("STOPPING=1", 5000));
    }

    // On an address other machines reach, the page needs a token: refused at start-up without
    // one; with one every request must carry it, and the secret never shows in the output.
    void networkAddressNeedsToken()
    {
        LiveRecorder refused;
        refused.prepare();
        Child open(QStringLiteral("meter-record"),
                   {"--data-dir", refused.dir.path(), "--device", refused.path("meter"), "--http", "0.0.0.0:0"});
        QVERIFY(open.process.waitForFinished(20000));
        QCOMPARE(open.process.exitCode(), 2);
        QVERIFY(open.errors().contains("--http-token"));
        QVERIFY(!QFile::exists(refused.path("Data1.mdb")));

        LiveRecorder live;
        const QByteArray secret = "tok-" + QByteArray::number(QDateTime::currentMSecsSinceEpoch()) + "-abcdefgh";
        QFile token(live.path("token"));
        QVERIFY(token.open(QIODevice::WriteOnly));
        token.write(secret + '\n');
        token.close();
        QVERIFY2(live.start({"--http-token", live.path("token"), "--verbose"}, QStringLiteral("0.0.0.0:0")),
                 qPrintable(live.recorder->output()));
        QCOMPARE(Get(live.port, "/api/status").status, 401);
        QCOMPARE(Get(live.port, "/metrics", "GET", "Authorization: Bearer wrong\r\n").status, 401);
        QCOMPARE(Get(live.port, "/metrics", "GET", "Authorization: Bearer " + secret + "\r\n").status, 200);
        QCOMPARE(Get(live.port, "/?token=" + secret).status, 200);
        QCOMPARE(Get(live.port, "/api/status?token=" + secret, "DELETE").status, 405);
        QCOMPARE(live.recorder->stop(), 0);
        QVERIFY(!live.recorder->output().contains(QString::fromLatin1(secret)));
        QVERIFY(!live.recorder->output().contains(QStringLiteral("tok-")));
    }

    // A real Prometheus scrapes the recorder every second for 30 s while clients misbehave: one
    // sending a byte a second, 200 at once, 100 KB headers, wrong methods. Every request is
    // answered (2xx or 4xx), Prometheus gets its samples, and the recorder writes a row every
    // second throughout.
    void scrapedByPrometheusWhileAbused()
    {
        LiveRecorder live;
        QVERIFY2(live.start(), qPrintable(live.recorder->output()));
        QTemporaryDir prometheusDir;
        const quint16 prometheusPort = FreePort();
        QFile config(prometheusDir.filePath(QStringLiteral("prometheus.yml")));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(QStringLiteral("global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
                                    "scrape_configs:\n  - job_name: recorder\n    static_configs:\n"
                                    "      - targets: ['127.0.0.1:%1']\n")
                         .arg(live.port)
                         .toUtf8());
        config.close();
        QProcess prometheus;
        prometheus.setProcessChannelMode(QProcess::MergedChannels);
        prometheus.start(QStringLiteral("prometheus"),
                         {"--config.file=" + config.fileName(),
                          "--storage.tsdb.path=" + prometheusDir.filePath(QStringLiteral("data")),
                          QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(prometheusPort)});
        QVERIFY2(prometheus.waitForStarted(), "prometheus (Debian package prometheus) is needed");
        const auto stopPrometheus = qScopeGuard([&] {
            prometheus.terminate();
            if (!prometheus.waitForFinished(10000))
                prometheus.kill();
        });
        QElapsedTimer scraping;
        scraping.start();
        const qint64 firstRowSecond = QDateTime::currentSecsSinceEpoch() + 1;

        QTcpSocket slow;
        slow.connectToHost(QHostAddress::LocalHost, live.port);
        QVERIFY(slow.waitForConnected(5000));
        const QByteArray slowRequest = "GET /api/status HTTP/1.0\r\nX-Slow: 1\r\n\r\n";
        qsizetype slowSent = 0;
        QList<int> statuses;
        int round = 0;
        while (scraping.elapsed() < 30000) {
            if (slowSent < slowRequest.size()) {
                slow.write(slowRequest.mid(slowSent++, 1));
                slow.flush();
            }
            switch (round++ % 4) {
            case 0: {
                std::vector<std::unique_ptr<QTcpSocket>> crowd;
                for (int i = 0; i < 200; ++i) {
                    crowd.push_back(std::make_unique<QTcpSocket>());
                    crowd.back()->connectToHost(QHostAddress::LocalHost, live.port);
                }
                for (auto& client : crowd)
                    if (client->waitForConnected(5000))
                        client->write("GET /metrics HTTP/1.0\r\n\r\n");
                for (auto& client : crowd) {
                    QByteArray raw;
                    while (client->state() == QTcpSocket::ConnectedState && client->waitForReadyRead(10000))
                        raw += client->readAll();
                    statuses << ParseReply(raw + client->readAll()).status;
                }
                break;
            }
            case 1:
                statuses << Get(live.port, "/", "GET", "X-Big: " + QByteArray(100 * 1024, 'b') + "\r\n").status;
                break;
            case 2:
                for (const char* method : {"POST", "PUT", "DELETE", "OPTIONS"})
                    statuses << Get(live.port, "/metrics", method).status;
                break;
            case 3:
                statuses << Exchange(live.port, "\x16\x03\x01 not http at all\r\n\r\n").status;
                break;
            }
            QTest::qWait(1000);
        }
        const auto answered = [](int status) { return (status >= 200 && status < 300) || (status >= 400 && status < 500); };
        QVERIFY2(std::all_of(statuses.begin(), statuses.end(), answered),
                 qPrintable(QStringLiteral("statuses: %1").arg([&] {
                     QStringList shown;
                     for (int s : statuses)
                         shown << QString::number(s);
                     return shown.join(' ');
                 }())));
        QVERIFY(statuses.count(200) >= 200);
        QVERIFY(statuses.count(405) >= 4);
        slow.write(slowRequest.mid(slowSent));
        QByteArray slowReply;
        while (slow.waitForReadyRead(10000))
            slowReply += slow.readAll();
        QCOMPARE(ParseReply(slowReply + slow.readAll()).status, 200);

        const QJsonObject answer = QJsonDocument::fromJson(
                                       Exchange(prometheusPort, "GET /api/v1/query?query=varnik_rows_recorded_total "
                                                                "HTTP/1.0\r\n\r\n")
                                           .body)
                                       .object();
        QCOMPARE(answer["status"].toString(), QStringLiteral("success"));
        const QJsonArray result = answer["data"]["result"].toArray();
        QVERIFY2(result.size() == 1, QJsonDocument(answer).toJson().constData());
        QVERIFY(result[0]["value"][1].toString().toInt() >= 20);
        const QJsonObject up = QJsonDocument::fromJson(
                                   Exchange(prometheusPort, "GET /api/v1/query?query=up HTTP/1.0\r\n\r\n").body)
                                   .object();
        QCOMPARE(up["data"]["result"][0]["value"][1].toString(), QStringLiteral("1"));

        // A row for every second of the abuse.
        QCOMPARE(Status(live.port)["rows_failed"].toInt(), 0);
        QCOMPARE(live.recorder->stop(), 0);
        const QList<qint64> seconds = RowSeconds(live.dataFile());
        QVERIFY(seconds.size() >= 25);
        for (qsizetype i = 1; i < seconds.size(); ++i)
            if (seconds[i] >= firstRowSecond)
                QVERIFY2(seconds[i] - seconds[i - 1] == 1,
                         qPrintable(QStringLiteral("no row between %1 and %2").arg(seconds[i - 1]).arg(seconds[i])));
    }

    // The page in headless Chromium: a panel per channel with the simulator's readings, changing
    // by themselves within two seconds (see page_check.py).
    void pageInABrowser()
    {
        LiveRecorder live;
        QVERIFY2(live.start(), qPrintable(live.recorder->output()));
        QTRY_VERIFY_WITH_TIMEOUT(Status(live.port)["link"] == "up", 20000);
        QProcess check;
        check.setProcessChannelMode(QProcess::MergedChannels);
        QStringList arguments{QStringLiteral(VARNIK_SOURCE_DIR "/tests/web/page_check.py"), live.url};
        if (const QString shots = qEnvironmentVariable("VARNIK_SCREENSHOTS"); !shots.isEmpty())
            arguments << shots;
        check.start(QStringLiteral("/usr/bin/python3"), arguments);
        QVERIFY(check.waitForFinished(120000));
        QVERIFY2(check.exitCode() == 0, check.readAll().constData());
    }
};

VARNIK_TEST_CLASS(RecorderWebTest)

#include "test_recorder_web.moc"
