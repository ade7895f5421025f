// The web server on its own, fed by a StatusBoard: what each method and path answers, the token
// rule, the event stream, and the limits that keep a bad client from costing the others.
#include "test_registry.h"
#include "web/status_server.h"
#include "web_fixture.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <vector>

using namespace web;

namespace {

const QByteArray Secret = "0123456789abcdef-secret";

RecorderStatus WithRows(qint64 rows)
{
    RecorderStatus s;
    s.station = QStringLiteral("bench");
    s.dataFile = QStringLiteral("Data1.mdb");
    s.rows = rows;
    s.rowLimit = 100;
    s.channels = {ChannelStatus{1, 1.5, 1, QStringLiteral("V"), Alarm::Normal, QDateTime::currentDateTimeUtc()}};
    return s;
}

struct Served {
    explicit Served(const QByteArray& token = {}, const ServerLimits& limits = {})
        : server(board, Settings(token), limits)
    {
        board.Publish(WithRows(1));
    }
    static WebSettings Settings(const QByteArray& token)
    {
        WebSettings settings;
        settings.listen.address = QHostAddress::LocalHost;
        settings.token = token;
        return settings;
    }
    StatusBoard board;
    StatusServer server;
};

// Reads a stream until its latest event shows `rows`; the events' data.
QList<QByteArray> ReadEvents(QTcpSocket& socket, QByteArray& raw, int rows)
{
    QList<QByteArray> events;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000) {
        events.clear();
        for (const QByteArray& line : raw.split('\n'))
            if (line.startsWith("data: "))
                events << line.mid(6);
        if (!events.isEmpty() && QJsonDocument::fromJson(events.last())["rows"].toInt() == rows)
            break;
        if (!socket.waitForReadyRead(200) && socket.state() != QTcpSocket::ConnectedState)
            break;
        raw += socket.readAll();
    }
    return events;
}

} // namespace

class StatusServerTest : public QObject {
    Q_OBJECT

  private slots:
    void answersByMethodAndPath_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("type");
        QTest::newRow("page") << QByteArray("GET") << QByteArray("/") << 200 << QByteArray("text/html");
        QTest::newRow("script") << QByteArray("GET") << QByteArray("/app.js") << 200 << QByteArray("text/javascript");
        QTest::newRow("style") << QByteArray("GET") << QByteArray("/style.css") << 200 << QByteArray("text/css");
        QTest::newRow("status") << QByteArray("GET") << QByteArray("/api/status") << 200
                                << QByteArray("application/json");
        QTest::newRow("metrics") << QByteArray("GET") << QByteArray("/metrics") << 200 << QByteArray("text/plain");
        QTest::newRow("head of status") << QByteArray("HEAD") << QByteArray("/api/status") << 200
                                        << QByteArray("application/json");
        QTest::newRow("head of stream") << QByteArray("HEAD") << QByteArray("/api/stream") << 200
                                        << QByteArray("text/event-stream");
        QTest::newRow("unknown path") << QByteArray("GET") << QByteArray("/etc/passwd") << 404 << QByteArray();
        QTest::newRow("climbing path") << QByteArray("GET") << QByteArray("/../../etc/passwd") << 404 << QByteArray();
        for (const char* method : {"POST", "PUT", "DELETE", "PATCH", "OPTIONS", "TRACE", "CONNECT"})
            QTest::newRow(method) << QByteArray(method) << QByteArray("/api/status") << 405 << QByteArray();
    }
    void answersByMethodAndPath()
    {
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, target);
        QFETCH(int, status);
        QFETCH(QByteArray, type);
        Served served;
        QString error;
        QVERIFY2(served.server.Start(&error), qPrintable(error));
        const HttpReply reply = Get(served.server.Port(), target, method,
                                    method == "POST" || method == "PUT" ? "Content-Length: 5\r\n" : "");
        QCOMPARE(reply.status, status);
        QVERIFY2(reply.header("Content-Type").startsWith(type), reply.head.constData());
        if (status == 405)
            QCOMPARE(reply.header("Allow"), QByteArray("GET, HEAD"));
        if (method == "HEAD")
            QVERIFY(reply.body.isEmpty());
        if (target == "/api/status")
            QCOMPARE(QJsonDocument::fromJson(reply.body)["rows"].toInt(), method == "GET" ? 1 : 0);
    }

    void tokenRule_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("headers");
        QTest::addColumn<int>("status");
        QTest::newRow("nothing") << QByteArray("/api/status") << QByteArray() << 401;
        QTest::newRow("bearer") << QByteArray("/api/status") << "Authorization: Bearer " + Secret + "\r\n" << 200;
        QTest::newRow("bearer, any case") << QByteArray("/metrics") << "authorization: bearer " + Secret + "\r\n"
                                          << 200;
        QTest::newRow("wrong bearer") << QByteArray("/api/status") << QByteArray("Authorization: Bearer nope\r\n")
                                      << 401;
        QTest::newRow("secret and more") << QByteArray("/api/status")
                                         << "Authorization: Bearer " + Secret + "x\r\n" << 401;
        QTest::newRow("secret cut short") << QByteArray("/api/status")
                                          << "Authorization: Bearer " + Secret.chopped(1) + "\r\n" << 401;
        QTest::newRow("basic scheme") << QByteArray("/api/status") << "Authorization: Basic " + Secret + "\r\n"
                                      << 401;
        QTest::newRow("query") << "/?token=" + Secret << QByteArray() << 200;
        QTest::newRow("query, wrong") << QByteArray("/?token=wrong") << QByteArray() << 401;
        QTest::newRow("query, empty") << QByteArray("/?token=") << QByteArray() << 401;
        QTest::newRow("stream with query") << "/api/stream?token=" + Secret << QByteArray() << 200;
        QTest::newRow("405 before 401") << QByteArray("/api/status") << QByteArray("X-Method: POST\r\n") << 405;
    }
    void tokenRule()
    {
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, headers);
        QFETCH(int, status);
        Served served(Secret);
        QString error;
        QVERIFY2(served.server.Start(&error), qPrintable(error));
        const QByteArray method = headers.startsWith("X-Method: ") ? headers.mid(10).trimmed() : "GET";
        const HttpReply reply = method == "GET" && target.startsWith("/api/stream")
                                    ? Get(served.server.Port(), target, "HEAD", headers)
                                    : Get(served.server.Port(), target, method, headers);
        QCOMPARE(reply.status, status);
        if (status == 401) {
            QVERIFY(reply.header("WWW-Authenticate").startsWith("Bearer"));
            QVERIFY(!reply.body.contains("station"));
        }
    }

    // An open stream gets the snapshot at once and then the latest after every publication
    // (snapshots published in quick succession may come as one), whoever else is connected.
    void streamSendsEverySnapshot()
    {
        Served served;
        QString error;
        QVERIFY2(served.server.Start(&error), qPrintable(error));
        std::vector<std::unique_ptr<QTcpSocket>> streams;
        std::vector<QByteArray> raws(3);
        for (int i = 0; i < 3; ++i) {
            streams.push_back(std::make_unique<QTcpSocket>());
            streams.back()->connectToHost(QHostAddress::LocalHost, served.server.Port());
            QVERIFY(streams.back()->waitForConnected(5000));
            streams.back()->write("GET /api/stream HTTP/1.0\r\n\r\n");
        }
        for (int i = 0; i < 3; ++i)
            QCOMPARE(ReadEvents(*streams[i], raws[i], 1).size(), 1);
        served.board.Publish(WithRows(2));
        for (int i = 0; i < 3; ++i)
            QCOMPARE(ReadEvents(*streams[i], raws[i], 2).size(), 2);
        served.board.Publish(WithRows(3));
        served.board.Publish(WithRows(4));
        for (int i = 0; i < 3; ++i) {
            const QList<QByteArray> events = ReadEvents(*streams[i], raws[i], 4);
            QVERIFY2(!events.isEmpty(), raws[i].constData());
            QCOMPARE(QJsonDocument::fromJson(events.last())["rows"].toInt(), 4);
            QVERIFY(events.size() <= 4);
            QVERIFY(raws[i].contains("Content-Type: text/event-stream"));
        }
        // Stopping ends open streams instead of waiting for them.
        served.server.Stop();
        for (auto& stream : streams)
            QVERIFY(stream->state() != QTcpSocket::ConnectedState || stream->waitForDisconnected(5000));
    }

    // Oversized or malformed requests get a 4xx; a client stalled mid-request, even one holding
    // every connection the server allows, does not keep later clients waiting once it is gone.
    void badClientsAreRefused_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("low");
        QTest::addColumn<int>("high");
        QTest::newRow("100 KB header") << "GET / HTTP/1.0\r\nX-Big: " + QByteArray(100 * 1024, 'a') + "\r\n\r\n"
                                       << 400 << 499;
        QTest::newRow("100 KB target") << "GET /" + QByteArray(100 * 1024, 'a') + " HTTP/1.0\r\n\r\n" << 400 << 499;
        QTest::newRow("garbage") << QByteArray("\x01\x02\x03 garbage\r\n\r\n") << 400 << 499;
        QTest::newRow("unknown version") << QByteArray("GET / HTTP/9.9\r\n\r\n") << 400 << 505;
    }
    void badClientsAreRefused()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, low);
        QFETCH(int, high);
        Served served;
        QString error;
        QVERIFY2(served.server.Start(&error), qPrintable(error));
        const HttpReply reply = Exchange(served.server.Port(), request);
        QVERIFY2(reply.status >= low && reply.status <= high, reply.head.constData());
        QCOMPARE(Get(served.server.Port(), "/api/status").status, 200);
    }

    void stalledClientsDoNotBlockOthers()
    {
        ServerLimits limits;
        limits.connections = 4;
        Served served({}, limits);
        QString error;
        QVERIFY2(served.server.Start(&error), qPrintable(error));
        std::vector<std::unique_ptr<QTcpSocket>> stalled;
        for (unsigned i = 0; i + 1 < limits.connections; ++i) {
            stalled.push_back(std::make_unique<QTcpSocket>());
            stalled.back()->connectToHost(QHostAddress::LocalHost, served.server.Port());
            QVERIFY(stalled.back()->waitForConnected(5000));
            stalled.back()->write("GET /api/status HTTP/1.0\r\nX-Slow: ");
            QVERIFY(stalled.back()->waitForBytesWritten(5000));
        }
        // One connection left: served at once, again and again.
        for (int i = 0; i < 5; ++i)
            QCOMPARE(Get(served.server.Port(), "/api/status").status, 200);
        stalled.clear();
        QTRY_COMPARE_WITH_TIMEOUT(Get(served.server.Port(), "/metrics").status, 200, 5000);
    }
};

VARNIK_TEST_CLASS(StatusServerTest)

#include "test_status_server.moc"
