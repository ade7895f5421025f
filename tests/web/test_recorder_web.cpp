// meter-record's web server and service-manager messages end to end: one recorder with meter-sim
// on a pseudo-terminal, serving with a token on a loopback port and reporting to a notification
// socket, answers a table of requests, streams its snapshots, passes promtool, is scraped by a
// real Prometheus while clients misbehave, and shows its page in headless Chromium.
#include "sqlite_cli.h"
#include "test_registry.h"
#include "web_fixture.h"
#include "web/request_rules.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTest>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const QByteArray Secret = "0123456789abcdef-web-secret";
const QByteArray Bearer = "Authorization: Bearer " + Secret + "\r\n";

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

// A datagram socket standing where systemd's notification socket would, drained by a thread of
// its own as systemd drains its socket: a sender whose messages pile up would block.
class NotifySocket {
  public:
    explicit NotifySocket(const QString& path)
    {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path - 1);
        m_bound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        m_reader = std::thread([this] {
            char buffer[4096];
            pollfd p{m_fd, POLLIN, 0};
            while (!m_stop) {
                if (::poll(&p, 1, 100) <= 0)
                    continue;
                const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
                std::lock_guard lock(m_mutex);
                if (n > 0)
                    m_messages << QByteArray(buffer, int(n));
                m_arrived.notify_all();
            }
        });
    }
    ~NotifySocket()
    {
        m_stop = true;
        m_reader.join();
        ::close(m_fd);
    }
    bool bound() const { return m_bound; }
    // Waits for a message containing `text` after the first `seen` messages; true when one came.
    bool waitFor(const QByteArray& text, qsizetype seen = 0, int timeoutMs = 20000)
    {
        std::unique_lock lock(m_mutex);
        return m_arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            return std::any_of(m_messages.begin() + std::min(seen, m_messages.size()), m_messages.end(),
                               [&](const QByteArray& m) { return m.contains(text); });
        });
    }
    QList<QByteArray> messages()
    {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }

  private:
    int m_fd = -1;
    bool m_bound = false;
    std::atomic<bool> m_stop = false;
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    QList<QByteArray> m_messages;
    std::thread m_reader;
};

// Reads an open event stream until `events` more events have come or the time is up.
int ReadEvents(QTcpSocket& stream, QByteArray& raw, int events, int timeoutMs)
{
    const qsizetype before = raw.count("\ndata: ");
    QElapsedTimer clock;
    clock.start();
    while (raw.count("\ndata: ") < before + events && clock.elapsed() < timeoutMs &&
           stream.waitForReadyRead(int(timeoutMs - clock.elapsed())))
        raw += stream.readAll();
    return int(raw.count("\ndata: ") - before);
}

QTcpSocket* OpenStream(quint16 port, QObject* parent)
{
    auto* stream = new QTcpSocket(parent);
    stream->connectToHost(QHostAddress::LocalHost, port);
    if (stream->waitForConnected(5000))
        stream->write("GET /api/stream?token=" + Secret + " HTTP/1.0\r\n\r\n");
    return stream;
}

} // namespace

class RecorderWebTest : public QObject {
    Q_OBJECT

    LiveRecorder live;
    QTemporaryDir notifyDir;
    std::unique_ptr<NotifySocket> notify;
    QElapsedTimer startedSeconds;

    QJsonObject Status()
    {
        return QJsonDocument::fromJson(Get(live.port, "/api/status", "GET", Bearer).body).object();
    }

  private slots:
    void initTestCase()
    {
        notify = std::make_unique<NotifySocket>(notifyDir.filePath(QStringLiteral("notify")));
        QVERIFY(notify->bound());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("NOTIFY_SOCKET"), notifyDir.filePath(QStringLiteral("notify")));
        startedSeconds.start();
        live.prepare();
        QFile token(live.path(QStringLiteral("token")));
        QVERIFY(token.open(QIODevice::WriteOnly));
        token.write(Secret + '\n');
        token.close();
        QVERIFY2(live.start({"--http-token", token.fileName(), "--verbose"}, QStringLiteral("0"), env),
                 qPrintable(live.recorder->output()));
        QTRY_VERIFY_WITH_TIMEOUT(Status()["rows"].toInt() >= 2 && Status()["link"] == "up", 20000);
    }

    void answersByMethodAndPath_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("headers");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("type");
        const auto row = [](const char* name, QByteArray method, QByteArray target, QByteArray headers,
                            int status, QByteArray type) {
            QTest::newRow(name) << method << target << headers << status << type;
        };
        row("page", "GET", "/", Bearer, 200, "text/html");
        row("script", "GET", "/app.js", Bearer, 200, "text/javascript");
        row("style", "GET", "/style.css", Bearer, 200, "text/css");
        row("status", "GET", "/api/status", Bearer, 200, "application/json");
        row("metrics", "GET", "/metrics", Bearer, 200, "text/plain; version=0.0.4");
        row("head of status", "HEAD", "/api/status", Bearer, 200, "application/json");
        row("head of stream", "HEAD", "/api/stream", Bearer, 200, "text/event-stream");
        row("unknown path", "GET", "/etc/passwd", Bearer, 404, "");
        row("climbing path", "GET", "/../../etc/passwd", Bearer, 404, "");
        for (const char* method : {"POST", "PUT", "DELETE", "PATCH", "OPTIONS", "TRACE"})
            row(method, method, "/api/status", Bearer + "Content-Length: 0\r\n", 405, "");
        row("405 before 401", "POST", "/api/status", "", 405, "");
        // The token: as a bearer (any case of the scheme) or in the query, whole and exact.
        row("no token", "GET", "/api/status", "", 401, "");
        row("bearer, any case", "GET", "/metrics", "authorization: bEARER " + Secret + "\r\n", 200,
            "text/plain");
        row("wrong bearer", "GET", "/api/status", "Authorization: Bearer nope\r\n", 401, "");
        row("secret and more", "GET", "/api/status", "Authorization: Bearer " + Secret + "x\r\n", 401, "");
        row("secret cut short", "GET", "/api/status", "Authorization: Bearer " + Secret.chopped(1) + "\r\n",
            401, "");
        row("basic scheme", "GET", "/api/status", "Authorization: Basic " + Secret + "\r\n", 401, "");
        row("query", "GET", "/?token=" + Secret, "", 200, "text/html");
        row("query, wrong", "GET", "/?token=wrong", "", 401, "");
        row("query, empty", "GET", "/?token=", "", 401, "");
        row("cookie", "GET", "/api/status",
            "Cookie: meter_record_token=" + web::PageCookieValue(Secret, QDateTime::currentSecsSinceEpoch() + 600) +
                "\r\n",
            200, "application/json");
        row("the secret as cookie", "GET", "/api/status", "Cookie: meter_record_token=" + Secret + "\r\n", 401, "");
        row("wrong cookie", "GET", "/api/status", "Cookie: meter_record_token=nope\r\n", 401, "");
        // Bad requests: 4xx, never a stall.
        row("100 KB header", "GET", "/", "X-Big: " + QByteArray(100 * 1024, 'a') + "\r\n", 431, "");
        row("100 KB target", "GET", "/" + QByteArray(100 * 1024, 'a'), Bearer, 414, "");
    }
    void answersByMethodAndPath()
    {
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, headers);
        QFETCH(int, status);
        QFETCH(QByteArray, type);
        const HttpReply reply = Get(live.port, target, method, headers);
        QCOMPARE(reply.status, status);
        QVERIFY2(reply.header("Content-Type").startsWith(type), reply.head.constData());
        if (status == 405)
            QCOMPARE(reply.header("Allow"), QByteArray("GET, HEAD"));
        if (status == 401)
            QVERIFY(reply.header("WWW-Authenticate").startsWith("Bearer"));
        // Only an answer to the token in the query hands the browser its cookie.
        // It stands for the token for a day, without holding it.
        const QByteArray cookie = reply.header("Set-Cookie");
        QCOMPARE(cookie.contains("Max-Age=86400; Path=/; HttpOnly; SameSite=Strict"),
                 status == 200 && target.contains("?token="));
        QVERIFY(!cookie.contains(Secret));
        if (method == "HEAD" || status >= 400)
            QVERIFY(!reply.body.contains("station"));
    }

    void bodiesAreReadAndDropped()
    {
        QCOMPARE(Exchange(live.port, "POST /api/status HTTP/1.0\r\n" + Bearer + "Content-Length: 5\r\n\r\nhello").status,
                 405);
        QCOMPARE(Exchange(live.port, "GET /api/status HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n" +
                                         Bearer + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n")
                     .status,
                 200);
    }

    void garbageIsRefused()
    {
        for (const QByteArray& request :
             {QByteArray("\x16\x03\x01 not http\r\n\r\n"), QByteArray("GET / HTTP/9.9\r\n\r\n")}) {
            const int status = Exchange(live.port, request).status;
            QVERIFY2(status >= 400 && status <= 505, qPrintable(QString::number(status)));
        }
    }

    // The JSON and the metrics show the simulator's channels, the rows the data file holds and
    // the link; the stream brings a new snapshot within two seconds.
    void showsTheRunningRecorder()
    {
        const QJsonObject s = Status();
        QCOMPARE(s["data_file"].toString(), QStringLiteral("Web.mdb"));
        QCOMPARE(s["row_limit"].toInt(), 65535);
        QVERIFY(!s["station"].toString().isEmpty());
        QVERIFY(s["forward"].isNull());
        QVERIFY(s["frames_received"].toInt() > 16);
        QCOMPARE(s["frames_rejected"].toInt(), 0);
        const qint64 fileRows = SqliteRowCount(live.dataFile());
        QVERIFY2(std::abs(s["rows"].toInteger() - fileRows) <= 1, qPrintable(QString::number(fileRows)));
        const QJsonArray channels = s["channels"].toArray();
        const QJsonArray events = s["events"].toArray();
        QVERIFY2(!events.isEmpty() && events.first()["text"].toString().startsWith(QStringLiteral("start (meter-record")),
                 qPrintable(QJsonDocument(events).toJson()));
        QCOMPARE(channels.size(), 16);
        // The last frame and row are recent, in ISO 8601 UTC.
        for (const char* field : {"last_frame_utc", "last_row_utc"}) {
            const QDateTime time = QDateTime::fromString(s[field].toString(), Qt::ISODateWithMs);
            QVERIFY2(s[field].toString().endsWith('Z') && std::abs(time.secsTo(QDateTime::currentDateTimeUtc())) < 5,
                     field);
        }
        for (const QJsonValue c : channels)
            QVERIFY(c["value"].isDouble() && !c["time"].isNull());
        // The simulator's first channel: 22.5 +- 3 degrees C, one decimal, within its warning limits.
        QVERIFY(std::abs(channels[0]["value"].toDouble() - 22.5) <= 3.0);
        QCOMPARE(channels[0]["decimals"].toInt(), 1);
        QVERIFY(channels[0]["unit"].toString().endsWith(QLatin1Char('C')));

        const QByteArray metrics = Get(live.port, "/metrics", "GET", Bearer).body;
        QCOMPARE(PromtoolComplaint(metrics), QString());
        for (const char* sample : {"varnik_link_up 1\n", "varnik_frames_rejected_total 0\n",
                                   "varnik_last_frame_timestamp_seconds 1", "varnik_last_row_timestamp_seconds 1",
                                   "varnik_data_file_row_limit 65535\n", "varnik_reading{channel=\"16\","})
            QVERIFY2(metrics.contains(sample), sample);
        QVERIFY(QRegularExpression(QStringLiteral("varnik_rows_recorded_total [1-9]"))
                    .match(QString::fromUtf8(metrics))
                    .hasMatch());

        QTcpSocket* stream = OpenStream(live.port, this);
        QByteArray raw;
        QCOMPARE(ReadEvents(*stream, raw, 2, 2000), 2);
        QVERIFY(raw.contains("Content-Type: text/event-stream"));
        delete stream;
    }

    // A real Prometheus scrapes the recorder (with its token) every second for 30 s while clients
    // misbehave: one sending a byte a second (cut off at the header deadline), 200 at once, 40 live pages at once, 100 KB headers,
    // wrong methods. Every request is answered (2xx or 4xx), Prometheus gets its samples, and the
    // recorder writes a row every second throughout.
    void scrapedByPrometheusWhileAbused()
    {
        QTemporaryDir dir;
        quint16 prometheusPort = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            prometheusPort = probe.serverPort();
        }
        QFile credentials(dir.filePath(QStringLiteral("token")));
        QVERIFY(credentials.open(QIODevice::WriteOnly) && credentials.write(Secret) > 0);
        credentials.close();
        QFile config(dir.filePath(QStringLiteral("prometheus.yml")));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(QStringLiteral("global: {scrape_interval: 1s, scrape_timeout: 1s}\n"
                                    "scrape_configs:\n  - job_name: recorder\n"
                                    "    authorization: {credentials_file: '%1'}\n"
                                    "    static_configs: [{targets: ['127.0.0.1:%2']}]\n")
                         .arg(credentials.fileName())
                         .arg(live.port)
                         .toUtf8());
        config.close();
        QProcess prometheus;
        prometheus.setProcessChannelMode(QProcess::MergedChannels);
        prometheus.start(QStringLiteral("prometheus"),
                         {"--config.file=" + config.fileName(), "--storage.tsdb.path=" + dir.filePath("data"),
                          QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(prometheusPort)});
        QVERIFY2(prometheus.waitForStarted(), "prometheus (Debian package prometheus) is needed");
        const auto stopPrometheus = qScopeGuard([&] {
            prometheus.terminate();
            if (!prometheus.waitForFinished(10000))
                prometheus.kill();
        });
        const qint64 firstSecond = QDateTime::currentSecsSinceEpoch() + 1;
        QElapsedTimer scraping;
        scraping.start();

        QTcpSocket slow;
        slow.connectToHost(QHostAddress::LocalHost, live.port);
        QVERIFY(slow.waitForConnected(5000));
        const QByteArray slowRequest = "GET /api/status HTTP/1.0\r\n" + Bearer + "X-Slow: 1\r\n\r\n";
        qsizetype slowSent = 0;
        QList<int> statuses;
        for (int round = 0; scraping.elapsed() < 30000; ++round) {
            if (slowSent < slowRequest.size() && slow.state() == QTcpSocket::ConnectedState) {
                slow.write(slowRequest.mid(slowSent++, 1));
                slow.flush();
            }
            if (round % 3 == 0) {
                std::vector<std::unique_ptr<QTcpSocket>> crowd;
                for (int i = 0; i < 200; ++i) {
                    crowd.push_back(std::make_unique<QTcpSocket>());
                    crowd.back()->connectToHost(QHostAddress::LocalHost, live.port);
                }
                for (auto& client : crowd)
                    if (client->waitForConnected(5000))
                        client->write("GET /metrics HTTP/1.0\r\n" + Bearer + "\r\n");
                for (auto& client : crowd) {
                    QByteArray raw;
                    while (client->state() == QTcpSocket::ConnectedState && client->waitForReadyRead(10000))
                        raw += client->readAll();
                    statuses << ParseReply(raw + client->readAll()).status;
                }
            } else if (round % 3 == 1) {
                // Streams may take 64 connections; beyond that they are turned away.
                QObject pages;
                QList<QTcpSocket*> streams;
                for (int i = 0; i < 80; ++i)
                    streams << OpenStream(live.port, &pages);
                for (QTcpSocket* stream : streams) {
                    QByteArray raw;
                    while (!raw.contains("\r\n\r\n") && stream->waitForReadyRead(5000))
                        raw += stream->readAll();
                    statuses << ParseReply(raw).status;
                }
                QVERIFY(statuses.count(429) >= 16);
            } else {
                statuses
                    << Get(live.port, "/", "GET", "X-Big: " + QByteArray(100 * 1024, 'b') + "\r\n").status;
                for (const char* method : {"POST", "PUT", "DELETE", "OPTIONS"})
                    statuses << Get(live.port, "/metrics", method).status;
            }
            QTest::qWait(1000);
        }
        QStringList shown;
        for (int status : statuses)
            shown << QString::number(status);
        QVERIFY2(std::all_of(statuses.begin(), statuses.end(),
                             [](int s) { return (s >= 200 && s < 300) || (s >= 400 && s < 500); }),
                 qPrintable(shown.join(' ')));
        QVERIFY(statuses.count(200) >= 200);
        // The header trickled a byte a second was cut off at its deadline, long before it was complete.
        QCOMPARE(slow.state(), QTcpSocket::UnconnectedState);
        QVERIFY(slowSent < 20);

        const auto query = [&](const QByteArray& expression) {
            return QJsonDocument::fromJson(
                       Exchange(prometheusPort, "GET /api/v1/query?query=" + expression + " HTTP/1.0\r\n\r\n")
                           .body)
                .object();
        };
        const QJsonObject rows = query("varnik_rows_recorded_total");
        QVERIFY2(rows["status"] == "success", QJsonDocument(rows).toJson().constData());
        QVERIFY(rows["data"]["result"][0]["value"][1].toString().toInt() >= 20);
        const QJsonObject up = query("up");
        QCOMPARE(up["data"]["result"][0]["value"][1].toString(), QStringLiteral("1"));

        // A row for every second of it.
        QCOMPARE(Status()["rows_failed"].toInt(), 0);
        QList<qint64> seconds;
        for (const QString& t :
             SqliteCli(live.dataFile(),
                       QStringLiteral("SELECT date || 'T' || time FROM DataRecord ORDER BY rowid")))
            seconds << QDateTime::fromString(t, Qt::ISODate).toSecsSinceEpoch();
        QVERIFY(seconds.size() >= 25);
        for (qsizetype i = 1; i < seconds.size(); ++i)
            QVERIFY2(
                seconds[i] < firstSecond || seconds[i] - seconds[i - 1] == 1,
                qPrintable(QStringLiteral("no row between %1 and %2").arg(seconds[i - 1]).arg(seconds[i])));
    }

    // The page in headless Chromium, opened with its token: a panel per channel with the
    // simulator's readings, changing by themselves within two seconds (see page_check.py).
    void pageInABrowser()
    {
        QProcess check;
        check.setProcessChannelMode(QProcess::MergedChannels);
        QStringList arguments{QStringLiteral(VARNIK_SOURCE_DIR "/tests/web/page_check.py"),
                              live.url + "?token=" + QString::fromLatin1(Secret)};
        if (const QString shots = qEnvironmentVariable("VARNIK_SCREENSHOTS"); !shots.isEmpty())
            arguments << shots;
        check.start(QStringLiteral("/usr/bin/python3"), arguments);
        QVERIFY(check.waitForFinished(120000));
        QVERIFY2(check.exitCode() == 0, check.readAll().constData());
    }

    // A locked data file, a meter that falls silent and then a recorder that freezes, in headless
    // Chromium on a recorder of its own: rows failing said, the link down and every reading
    // greyed while the page is live, then the page "stale" (see page_check.py --freeze).
    void pageSaysWhenStale()
    {
        LiveRecorder frozen;
        frozen.prepare();
        QFile token(frozen.path(QStringLiteral("token")));
        QVERIFY(token.open(QIODevice::WriteOnly) && token.write(Secret) > 0);
        token.close();
        QVERIFY2(frozen.start({"--http-token", token.fileName()}), qPrintable(frozen.recorder->output()));
        QProcess check;
        check.setProcessChannelMode(QProcess::MergedChannels);
        check.start(QStringLiteral("/usr/bin/python3"),
                    QStringList{QStringLiteral(VARNIK_SOURCE_DIR "/tests/web/page_check.py"), QStringLiteral("--freeze"),
                     QString::number(frozen.sim->process.processId()),
                     QString::number(frozen.recorder->process.processId()), frozen.dataFile(),
                     frozen.url + "?token=" + QString::fromLatin1(Secret)}
                        << qEnvironmentVariable("VARNIK_SCREENSHOTS"));
        QVERIFY(check.waitForFinished(120000));
        QVERIFY2(check.exitCode() == 0, check.readAll().constData());
        // Without the token a page says how to add it, and nothing of the token.
        for (const QByteArray& path : {QByteArray("/"), QByteArray("/history")}) {
            const HttpReply page = Get(frozen.port, path);
            QCOMPARE(page.status, 401);
            QVERIFY(page.header("Content-Type").startsWith("text/html"));
            QVERIFY2(page.body.contains("?token=") && !page.body.contains(Secret.left(6)), page.body.constData());
        }
        QVERIFY(Get(frozen.port, "/api/status").body.isEmpty());
    }

    // A taken port does not stop recording: one line says why, rows go on, and the page comes
    // up once the port is free. Without a token on a loopback address, only a Host that names
    // this machine is answered (another site's name pointed here is refused).
    void takenPortDoesNotStopRecording()
    {
        QTcpServer squatter;
        QVERIFY(squatter.listen(QHostAddress::LocalHost, 0));
        const QString address = QStringLiteral("127.0.0.1:%1").arg(squatter.serverPort());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VARNIK_RETRY_MS"), QStringLiteral("500"));
        LiveRecorder busy;
        QVERIFY(busy.start({"--http", address}, QString(), env));
        QVERIFY2(busy.recorder
                     ->waitFor(QRegularExpression(QStringLiteral("status page off: cannot serve on %1: .+; "
                                                                 "recording goes on")
                                                      .arg(QRegularExpression::escape(address))))
                     .hasMatch(),
                 qPrintable(busy.recorder->output()));
        QTest::qWait(3000); // rows go on meanwhile: see rows_recorded below
        squatter.close();
        const QRegularExpressionMatch page =
            busy.recorder->waitFor(QRegularExpression(QStringLiteral("status page: http://[^/]+:(\\d+)/")));
        QVERIFY2(page.hasMatch(), qPrintable(busy.recorder->output()));
        const quint16 port = quint16(page.captured(1).toUInt());
        QCOMPARE(busy.recorder->output().count(QStringLiteral("status page off")), 1);
        const auto get = [port](const QByteArray& host) {
            return Exchange(port, "GET /api/status HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n").status;
        };
        QCOMPARE(get("localhost:" + QByteArray::number(port)), 200);
        QCOMPARE(get("127.0.0.1:" + QByteArray::number(port)), 200);
        QCOMPARE(get("rebound.example:" + QByteArray::number(port)), 421);
        const QJsonObject status = QJsonDocument::fromJson(Get(port, "/api/status").body).object();
        QVERIFY2(status["rows_recorded"].toInt() >= 2, qPrintable(busy.recorder->output()));
        QCOMPARE(busy.recorder->stop(), 0);
    }

    // systemd's side: READY with the status line once recording runs, a watchdog ping about every
    // second while ticks complete, STOPPING on the way out. The secret never shows in the output.
    void tellsTheServiceManager()
    {
        QVERIFY2(notify->waitFor("READY=1\nSTATUS=recording Web.mdb, "), qPrintable(live.recorder->output()));
        QVERIFY(notify->waitFor("STATUS=recording Web.mdb, ") && notify->waitFor("link up"));
        // Every tick since the start has pinged: about one ping a second, from the first on.
        const QList<QByteArray> messages = notify->messages();
        const auto count = [&](const char* text) {
            return std::count_if(messages.begin(), messages.end(),
                                 [&](const QByteArray& m) { return m.contains(text); });
        };
        QCOMPARE(count("READY=1"), 1);
        // A ping is due a second after the last, at the next 200 ms tick.
        QVERIFY2(count("WATCHDOG=1") >= startedSeconds.elapsed() / 1200 - 5,
                 qPrintable(QString::number(count("WATCHDOG=1"))));
        QVERIFY(count("WATCHDOG=1") <= startedSeconds.elapsed() / 1000 + 2);
        QVERIFY(notify->waitFor("WATCHDOG=1", messages.size()));
        QCOMPARE(live.recorder->stop(), 0);
        QVERIFY(notify->waitFor("STOPPING=1", messages.size(), 5000));
        QVERIFY(!live.recorder->output().contains(QString::fromLatin1(Secret)));
    }

    // On an address other machines reach the page needs a token: refused at start-up without
    // one, before any data file is touched.
    void networkAddressWithoutTokenIsRefused()
    {
        LiveRecorder refused;
        refused.prepare();
        Child open(QStringLiteral("meter-record"), {"--data-dir", refused.dir.path(), "--device",
                                                    refused.path("meter"), "--http", "0.0.0.0:0"});
        QVERIFY(open.process.waitForFinished(20000));
        QCOMPARE(open.process.exitCode(), 2);
        QVERIFY(open.errors().contains("--http-token"));
        QVERIFY(!QFile::exists(refused.path("Data1.mdb")));
    }
};

VARNIK_TEST_CLASS(RecorderWebTest)

#include "test_recorder_web.moc"
