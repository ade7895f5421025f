#pragma once
// A PostgreSQL server of the test's own: a cluster made with initdb in a temporary folder,
// listening on 127.0.0.1 at a free port and on a socket in that folder, run as the postgres user
// when the tests run as root. Logins over TCP need the password "secret" of user postgres; psql
// over the socket gets in without one and is the independent reader of what the server holds.
#include <QDir>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

class PgServer {
  public:
    static constexpr const char* Bin = "/usr/lib/postgresql/15/bin/";

    PgServer()
    {
        m_error = MakeCluster();
        if (m_error.isEmpty())
            Start();
    }
    ~PgServer()
    {
        if (m_running)
            Stop(QStringLiteral("fast"));
    }
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    bool Start()
    {
        m_running =
            Run(QStringLiteral("pg_ctl"),
                {QStringLiteral("-D"), DataDir(), QStringLiteral("-l"), m_dir.filePath(QStringLiteral("log")),
                 QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("120"), QStringLiteral("-o"),
                 QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off")
                     .arg(m_port)
                     .arg(m_dir.path()),
                 QStringLiteral("start")});
        return m_running;
    }
    // "immediate" drops every connection at once, as a crash or a pulled cable would.
    bool Stop(const QString& mode = QStringLiteral("immediate"))
    {
        m_running = false;
        return Run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), DataDir(), QStringLiteral("-m"), mode,
                                              QStringLiteral("-w"), QStringLiteral("stop")});
    }

    bool IsValid() const { return m_error.isEmpty(); }
    bool IsRunning() const { return m_running; }
    QString Error() const { return m_error; }
    int Port() const { return m_port; }
    QString Url(const QString& password = QStringLiteral("secret")) const
    {
        return QStringLiteral("postgresql://postgres:%1@127.0.0.1:%2/postgres").arg(password).arg(m_port);
    }

    // Runs SQL through psql; the lines of its unaligned output, fields separated by '|'.
    QStringList Psql(const QString& sql)
    {
        QProcess psql;
        psql.start(QStringLiteral("%1psql").arg(Bin),
                   {QStringLiteral("-X"), QStringLiteral("-At"), QStringLiteral("-v"),
                    QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-h"), m_dir.path(),
                    QStringLiteral("-p"), QString::number(m_port), QStringLiteral("-U"),
                    QStringLiteral("postgres"), QStringLiteral("-d"), QStringLiteral("postgres"),
                    QStringLiteral("-c"), sql});
        if (!psql.waitForFinished(60000) || psql.exitCode() != 0) {
            m_error = QStringLiteral("psql: ") + QString::fromUtf8(psql.readAllStandardError());
            return {QStringLiteral("psql failed")};
        }
        QString out = QString::fromUtf8(psql.readAllStandardOutput());
        if (out.endsWith(QLatin1Char('\n')))
            out.chop(1);
        return out.isEmpty() ? QStringList() : out.split(QLatin1Char('\n'));
    }
    QString PsqlValue(const QString& sql)
    {
        const QStringList lines = Psql(sql);
        return lines.isEmpty() ? QString() : lines.first();
    }

    // A port that nothing listens on (at the moment of asking).
    static int FreePort()
    {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        int port = 0;
        if (s >= 0 && ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        if (s >= 0)
            ::close(s);
        return port;
    }

  private:
    QString MakeCluster()
    {
        if (!m_dir.isValid())
            return QStringLiteral("no temporary folder");
        m_port = FreePort();
        QFile password(m_dir.filePath(QStringLiteral("password")));
        if (!password.open(QIODevice::WriteOnly) || password.write("secret\n") < 0)
            return QStringLiteral("cannot write the password file");
        password.close();
        if (geteuid() == 0) {
            const passwd* user = getpwnam("postgres");
            if (!user)
                return QStringLiteral("running as root, but there is no postgres user");
            if (::chown(qPrintable(m_dir.path()), user->pw_uid, user->pw_gid) != 0 ||
                ::chown(qPrintable(password.fileName()), user->pw_uid, user->pw_gid) != 0)
                return QStringLiteral("cannot hand the folder to the postgres user");
        }
        Run(QStringLiteral("initdb"),
            {QStringLiteral("-D"), DataDir(), QStringLiteral("-U"), QStringLiteral("postgres"),
             QStringLiteral("--pwfile=") + password.fileName(), QStringLiteral("--auth-local=trust"),
             QStringLiteral("--auth-host=scram-sha-256"), QStringLiteral("--no-sync")});
        return m_error;
    }

    QString DataDir() const { return m_dir.filePath(QStringLiteral("cluster")); }

    bool Run(const QString& tool, const QStringList& arguments)
    {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setWorkingDirectory(m_dir.path()); // the postgres user may not enter the test's own
        const QString program = QLatin1String(Bin) + tool;
        if (geteuid() == 0)
            process.start(
                QStringLiteral("runuser"),
                QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--"), program} +
                    arguments);
        else
            process.start(program, arguments);
        if (process.waitForFinished(180000) && process.exitStatus() == QProcess::NormalExit &&
            process.exitCode() == 0)
            return true;
        m_error = tool + QStringLiteral(" failed: ") + QString::fromLocal8Bit(process.readAll());
        return false;
    }

    QTemporaryDir m_dir{QDir::tempPath() + QStringLiteral("/varnik-pg-XXXXXX")};
    int m_port = 0;
    bool m_running = false;
    QString m_error;
};
