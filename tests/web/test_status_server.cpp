// The web server in this process, with short limits: a header trickled byte by byte is cut off at
// its deadline though every byte comes well within the idle timeout, a stream whose client reads
// nothing is ended while a reading one goes on, and a kept-alive connection answers twice.
#include "test_registry.h"
#include "web_fixture.h"
#include "web/status_server.h"

#include <QTest>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace web;

namespace {

// A client that reads nothing: a raw socket with a small receive buffer.
int DeafClient(quint16 port, const QByteArray& request)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::write(fd, request.constData(), size_t(request.size())) != request.size()) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool Ended(int fd)
{
    pollfd p{fd, 0, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLERR | POLLHUP));
}

RecorderStatus Bulky(int n)
{
    RecorderStatus s;
    s.station = QStringLiteral("bulky %1 ").arg(n) + QString(20000, QLatin1Char('x'));
    return s;
}

} // namespace

class StatusServerTest : public QObject {
    Q_OBJECT

    StatusBoard board;
    std::unique_ptr<StatusServer> server;

    void start(const ServerLimits& limits)
    {
        WebSettings settings;
        QString error;
        QVERIFY(ParseListenAddress(QStringLiteral("127.0.0.1:0"), &settings.listen, &error));
        server = std::make_unique<StatusServer>(board, settings, limits);
        QVERIFY2(server->Start(&error), qPrintable(error));
    }

  private slots:
    void cleanup() { server.reset(); }

    void trickledHeaderIsCutAtItsDeadline()
    {
        ServerLimits limits;
        limits.headerDeadlineMs = 400;
        start(limits);
        QTcpSocket slow;
        slow.connectToHost(QHostAddress::LocalHost, server->Port());
        QVERIFY(slow.waitForConnected(5000));
        const QByteArray request = "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: " + QByteArray(200, 'a');
        QElapsedTimer clock;
        clock.start();
        for (qsizetype i = 0; i < request.size() && slow.state() == QTcpSocket::ConnectedState; ++i) {
            slow.write(request.mid(i, 1));
            slow.waitForDisconnected(50);
        }
        QCOMPARE(slow.state(), QTcpSocket::UnconnectedState);
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        // A request that comes at once is answered as ever.
        QCOMPARE(Get(server->Port(), "/api/status").status, 200);
    }

    void keptAliveConnectionAnswersTwice()
    {
        start({});
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, server->Port());
        QVERIFY(socket.waitForConnected(5000));
        const QByteArray request = "GET /api/status HTTP/1.1\r\nHost: localhost\r\n\r\n";
        QByteArray raw;
        for (int i = 1; i <= 2; ++i) {
            socket.write(request);
            while (raw.count("HTTP/1.1 200") < i && socket.waitForReadyRead(5000))
                raw += socket.readAll();
        }
        QVERIFY2(raw.count("HTTP/1.1 200") == 2, raw.constData());
        QCOMPARE(socket.state(), QTcpSocket::ConnectedState);
        // Without Host an HTTP/1.1 request is refused; another site's name is turned away.
        QCOMPARE(Exchange(server->Port(), "GET /api/status HTTP/1.1\r\n\r\n").status, 400);
        QCOMPARE(Exchange(server->Port(), "GET /api/status HTTP/1.1\r\nHost: rebound.example\r\n\r\n").status,
                 421);
    }

    void deafStreamIsEnded()
    {
        ServerLimits limits;
        limits.streamStallMs = 1000;
        limits.streamQueueBytes = 64 * 1024;
        start(limits);
        const int deaf = DeafClient(server->Port(), "GET /api/stream HTTP/1.0\r\n\r\n");
        QVERIFY(deaf >= 0);
        QTcpSocket reading;
        reading.connectToHost(QHostAddress::LocalHost, server->Port());
        QVERIFY(reading.waitForConnected(5000));
        reading.write("GET /api/stream HTTP/1.0\r\n\r\n");
        QElapsedTimer clock;
        clock.start();
        for (int n = 0; !Ended(deaf) && clock.elapsed() < 10000; ++n) {
            board.Publish(Bulky(n));
            reading.waitForReadyRead(50);
            reading.readAll();
        }
        const bool ended = Ended(deaf);
        ::close(deaf);
        QVERIFY2(ended, "the stream nobody reads is still open after 10 s");
        QCOMPARE(reading.state(), QTcpSocket::ConnectedState);
        board.Publish(Bulky(-1));
        QByteArray raw;
        while (!raw.contains("bulky -1") && reading.waitForReadyRead(5000))
            raw += reading.readAll();
        QVERIFY(raw.contains("bulky -1"));
    }
};

VARNIK_TEST_CLASS(StatusServerTest)

#include "test_status_server.moc"
