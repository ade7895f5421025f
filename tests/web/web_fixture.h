#pragma once
// What the web tests share: a raw HTTP/1.0 client on a TCP socket (so a test controls every byte
// it sends) and a live recorder: meter-sim on a pseudo-terminal and meter-record serving its page
// on a free loopback port, both in a folder of their own holding the shipped configuration.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <csignal>
#include <memory>

struct HttpReply {
    int status = 0; // 0: no answer (refused, closed or timed out)
    QByteArray head;
    QByteArray body;
    QByteArray header(const QByteArray& name) const
    {
        for (const QByteArray& line : head.split('\n'))
            if (line.toLower().startsWith(name.toLower() + ':'))
                return line.mid(name.size() + 1).trimmed();
        return {};
    }
};

inline HttpReply ParseReply(const QByteArray& raw)
{
    HttpReply reply;
    const qsizetype end = raw.indexOf("\r\n\r\n");
    reply.head = raw.left(end < 0 ? raw.size() : end);
    reply.body = end < 0 ? QByteArray() : raw.mid(end + 4);
    const QList<QByteArray> statusLine = reply.head.left(reply.head.indexOf('\r')).split(' ');
    if (statusLine.size() >= 2 && statusLine[0].startsWith("HTTP/"))
        reply.status = statusLine[1].toInt();
    return reply;
}

// Sends `request` as it is and reads until the server closes.
inline HttpReply Exchange(quint16 port, const QByteArray& request, int timeoutMs = 10000)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(timeoutMs))
        return {};
    socket.write(request);
    QByteArray raw;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(int(timeoutMs - clock.elapsed())))
            break;
        raw += socket.readAll();
    }
    raw += socket.readAll();
    return ParseReply(raw);
}

inline HttpReply Get(quint16 port, const QByteArray& target, const QByteArray& method = "GET",
                     const QByteArray& headers = {})
{
    return Exchange(port, method + ' ' + target + " HTTP/1.0\r\n" + headers + "\r\n");
}

// A child program of the build whose output is read line by line.
class Child {
  public:
    Child(const QString& program, const QStringList& arguments,
          const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
    {
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(VARNIK_BINARY_DIR "/") + program, arguments);
    }
    ~Child()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The first output line matching `pattern` (waiting for it); an invalid match on timeout.
    QRegularExpressionMatch waitFor(const QRegularExpression& pattern, int timeoutMs = 20000)
    {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            while (process.canReadLine())
                lines << QString::fromUtf8(process.readLine()).trimmed();
            for (const QString& line : std::as_const(lines))
                if (QRegularExpressionMatch m = pattern.match(line); m.hasMatch())
                    return m;
            const int left = timeoutMs - int(clock.elapsed());
            if (left <= 0 || process.state() == QProcess::NotRunning)
                return {};
            process.waitForReadyRead(left);
        }
    }
    // Ends the child with SIGTERM; its exit code, -1 when it did not end.
    int stop()
    {
        ::kill(pid_t(process.processId()), SIGTERM);
        if (!process.waitForFinished(20000))
            return -1;
        while (process.canReadLine())
            lines << QString::fromUtf8(process.readLine()).trimmed();
        return process.exitCode();
    }
    QString output() const { return lines.join(QLatin1Char('\n')) + QString::fromUtf8(errors()); }
    QByteArray errors() const { return const_cast<QProcess&>(process).readAllStandardError(); }

    QProcess process;
    QStringList lines;
};

// meter-sim (16 channels) and meter-record recording Web.mdb every second with its page on
// 127.0.0.1 at a free port, unless `http` says otherwise.
class LiveRecorder {
  public:
    // The shipped configuration files into the folder.
    void prepare()
    {
        for (const QString& name : QDir(QStringLiteral(VARNIK_SOURCE_DIR "/data")).entryList(QDir::Files))
            QFile::copy(QStringLiteral(VARNIK_SOURCE_DIR "/data/") + name, path(name));
    }
    bool start(const QStringList& more = {}, const QString& http = QStringLiteral("0"),
               const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
    {
        prepare();
        QProcessEnvironment own = env;
        own.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
        sim = std::make_unique<Child>(QStringLiteral("meter-sim"),
                                      QStringList{"--channels", "16", "--link", path("meter")}, own);
        if (!sim->waitFor(QRegularExpression(QStringLiteral("^/dev/"))).hasMatch())
            return false;
        QStringList arguments{"--data-dir", dir.path(),    "--device", path("meter"), "--channels",
                              "16",         "--scan-rate", "1",        "--data-file", "Web.mdb"};
        if (!http.isEmpty())
            arguments << "--http" << http;
        recorder = std::make_unique<Child>(QStringLiteral("meter-record"), arguments + more, own);
        if (http.isEmpty())
            return true;
        const QRegularExpressionMatch page =
            recorder->waitFor(QRegularExpression(QStringLiteral("status page: (http://[^/]+:(\\d+)/)")));
        url = page.captured(1);
        port = quint16(page.captured(2).toUInt());
        return page.hasMatch();
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    QString dataFile() const { return path(QStringLiteral("Web.mdb")); }

    QTemporaryDir dir;
    std::unique_ptr<Child> sim;
    std::unique_ptr<Child> recorder;
    QString url;
    quint16 port = 0;
};
