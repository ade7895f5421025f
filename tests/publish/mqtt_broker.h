#pragma once
// A mosquitto broker of the test's own on 127.0.0.1 at a free port, with its configuration in a
// temporary folder; stopped (and restartable on the same port) by the test. Optionally with a
// password file (user "meter", password "s3cret") or TLS with a certificate made by openssl for
// "localhost" and 127.0.0.1, signed by a CA of the test's own (CaFile()).
// A Subscriber is mosquitto_sub reading every topic under "#": the independent reader of what the
// broker holds and passes on. A broker that keeps sessions saves them when it stops and takes them
// up again when it starts: a Subscriber with a session of its own then gets the QoS 1 messages
// sent while it was reconnecting, so a test need not race a publisher back to the broker.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include "../forward/pg_server.h"

#include <unistd.h>

class MqttBroker {
  public:
    enum class Kind { Open, Password, Tls };
    static constexpr const char* User = "meter";
    static constexpr const char* Password = "s3cret";

    enum class Sessions { Forgotten, Kept };
    explicit MqttBroker(Kind kind = Kind::Open, Sessions sessions = Sessions::Forgotten) : m_kind(kind)
    {
        m_port = PgServer::FreePort();
        if (m_kind == Kind::Password && !Tool(QStringLiteral("mosquitto_passwd"),
                                              {QStringLiteral("-b"), QStringLiteral("-c"), Path("passwd"),
                                               QLatin1String(User), QLatin1String(Password)}))
            return;
        if (m_kind == Kind::Tls && !MakeCertificates())
            return;
        QFile conf(Path("mosquitto.conf"));
        if (!conf.open(QIODevice::WriteOnly))
            return;
        QByteArray text = QStringLiteral("listener %1 127.0.0.1\nlog_dest stderr\n").arg(m_port).toUtf8();
        text += sessions == Sessions::Kept ? "persistence true\npersistence_location " + m_dir.path().toUtf8() + "/\n"
                                           : QByteArray("persistence false\n");
        // The broker will not run as root unless told to stay root.
        if (::geteuid() == 0)
            text += "user root\n";
        if (m_kind == Kind::Password)
            text += "allow_anonymous false\npassword_file " + Path("passwd").toUtf8() + "\n";
        else
            text += "allow_anonymous true\n";
        if (m_kind == Kind::Tls)
            text += "certfile " + Path("server.crt").toUtf8() + "\nkeyfile " + Path("server.key").toUtf8() + "\n";
        conf.write(text);
        conf.close();
        m_started = Start();
    }
    ~MqttBroker() { Stop(); }
    MqttBroker(const MqttBroker&) = delete;
    MqttBroker& operator=(const MqttBroker&) = delete;

    bool Start()
    {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral("/usr/sbin/mosquitto"), {QStringLiteral("-c"), Path("mosquitto.conf")});
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 20000 && m_process.state() != QProcess::NotRunning) {
            m_log += QString::fromUtf8(m_process.readAll());
            if (m_log.count(QStringLiteral(" running\n")) > m_starts)
                return ++m_starts, true;
            m_process.waitForReadyRead(200);
        }
        m_log += QString::fromUtf8(m_process.readAll());
        return false;
    }
    void Stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
        m_log += QString::fromUtf8(m_process.readAll());
    }

    // Started at construction and running.
    bool IsRunning() const { return m_started && m_process.state() == QProcess::Running; }
    int Port() const { return m_port; }
    QString Log() const { return m_log; }
    QString CaFile() const { return Path("ca.crt"); }
    QString Url(const QString& credentials = {}) const
    {
        const bool tls = m_kind == Kind::Tls;
        return QStringLiteral("%1://%2%3:%4/test")
            .arg(tls ? QStringLiteral("mqtts") : QStringLiteral("mqtt"),
                 credentials.isEmpty() ? QString() : credentials + QLatin1Char('@'),
                 tls ? QStringLiteral("localhost") : QStringLiteral("127.0.0.1"))
            .arg(m_port);
    }
    // Arguments for mosquitto_sub and mosquitto_pub to reach this broker.
    QStringList ClientArguments() const
    {
        QStringList args{QStringLiteral("-h"), QStringLiteral("localhost"), QStringLiteral("-p"),
                         QString::number(m_port)};
        if (m_kind == Kind::Password)
            args << QStringLiteral("-u") << QLatin1String(User) << QStringLiteral("-P") << QLatin1String(Password);
        if (m_kind == Kind::Tls)
            args << QStringLiteral("--cafile") << CaFile();
        return args;
    }

  private:
    QString Path(const char* name) const { return m_dir.filePath(QLatin1String(name)); }

    bool Tool(const QString& program, const QStringList& args)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(program, args);
        const bool ok = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        m_log += QString::fromUtf8(p.readAll());
        return ok;
    }

    bool MakeCertificates()
    {
        const QString openssl = QStringLiteral("openssl");
        QFile ext(Path("san.ext"));
        if (!ext.open(QIODevice::WriteOnly))
            return false;
        ext.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n");
        ext.close();
        return Tool(openssl, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                              "/CN=varnik test CA", "-keyout", Path("ca.key"), "-out", Path("ca.crt")}) &&
               Tool(openssl, {"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost", "-keyout",
                              Path("server.key"), "-out", Path("server.csr")}) &&
               Tool(openssl, {"x509", "-req", "-in", Path("server.csr"), "-CA", Path("ca.crt"), "-CAkey",
                              Path("ca.key"), "-CAcreateserial", "-days", "2", "-extfile", Path("san.ext"), "-out",
                              Path("server.crt")});
    }

    Kind m_kind;
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
    int m_starts = 0;
    bool m_started = false;
    QString m_log;
};

// mosquitto_sub on every topic: lines "topic payload", retained messages flagged with "r ".
class Subscriber {
  public:
    // session: the client id of a session the broker keeps while this reader is away (QoS 1).
    explicit Subscriber(const MqttBroker& broker, const QString& session = {})
    {
        QStringList kept;
        if (!session.isEmpty())
            kept = {"-c", "-i", session, "-q", "1"};
        m_process.start(QStringLiteral("mosquitto_sub"),
                        broker.ClientArguments() + kept + QStringList{"-t", "#", "-v", "-F", "%r %t %p"});
        // Live messages reach only a subscription in place: wait until one of ours comes through.
        for (int i = 0; i < 40 && m_process.waitForStarted(); ++i) {
            QProcess::execute(QStringLiteral("mosquitto_pub"),
                              broker.ClientArguments() + QStringList{"-t", "subscriber/ready", "-m", "1"});
            if (!WaitFor(QStringLiteral("subscriber/ready"), 1, {}, 500).isEmpty())
                break;
        }
    }
    ~Subscriber()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    Subscriber(const Subscriber&) = delete;
    Subscriber& operator=(const Subscriber&) = delete;

    // Waits until `count` messages have arrived whose line starts with "R TOPIC " (R: 1 retained,
    // 0 live; give "" for either); the payloads of all of them in order, or fewer on timeout.
    QStringList WaitFor(const QString& topic, int count = 1, const QString& retained = {}, int timeoutMs = 20000)
    {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            while (m_process.canReadLine())
                m_lines << QString::fromUtf8(m_process.readLine()).chopped(1);
            QStringList found;
            for (const QString& line : m_lines) {
                const qsizetype space = line.indexOf(QLatin1Char(' '));
                const qsizetype space2 = line.indexOf(QLatin1Char(' '), space + 1);
                if (space2 < 0 || line.mid(space + 1, space2 - space - 1) != topic)
                    continue;
                if (!retained.isEmpty() && line.left(space) != retained)
                    continue;
                found << line.mid(space2 + 1);
            }
            if (found.size() >= count || clock.elapsed() > timeoutMs || m_process.state() == QProcess::NotRunning)
                return found;
            // The code under test may need this thread's event loop meanwhile.
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            m_process.waitForReadyRead(20);
        }
    }
    QStringList Lines() const { return m_lines; }

  private:
    QProcess m_process;
    QStringList m_lines;
};
