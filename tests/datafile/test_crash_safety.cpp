// A recording process killed without warning must leave a sound file that holds every row whose
// scan tick had returned. The recorder is a forked child; it reports each returned row's number
// through a pipe, and the parent kills it with SIGKILL at an arbitrary point of its loop.
#include "acquisition/scan_cycle.h"
#include "core/shared_state.h"
#include "datafile/data_file.h"
#include "fake_host.h"
#include "spoilt_files.h"
#include "sqlite_cli.h"
#include "test_registry.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <functional>
#include <limits>
#include <memory>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Records through the scan cycle, one due scan a second on the injected clock, and reports each
// row whose tick has returned.
[[noreturn]] void RecordUntilKilled(const QString& path, int reportFd)
{
    FakeHost host;
    Shared = SharedState{};
    Shared.ScanRate = 1;
    Shared.DataReceived = true;
    HearAllChannels();
    Shared.TextDispOpen = true;
    Shared.DecimalFormat[0] = QStringLiteral("###0");
    Shared.UnitName[1] = QStringLiteral("V");
    Shared.ChanUnit.fill(1);
    DataFile data;
    if (!data.Bind(path))
        _exit(2);
    ScanCycle scan(data);
    scan.FieldCount = data.FieldCount();
    scan.Timer1_Timer(); // the first tick only starts the interval
    for (qint32 number = 1;; ++number) {
        Shared.ChanValue.fill(double(number));
        host.clock = host.clock.addSecs(1);
        scan.Timer1_Timer();
        if (Shared.RecordCount != number)
            _exit(3);
        if (write(reportFd, &number, sizeof number) != sizeof number)
            _exit(4);
    }
}

// Forks a child that runs `body` with the write end of a pipe and never returns to the test; the
// parent gets the read end in *readFd. -1 when the pipe or the fork fails.
pid_t ForkReporter(int* readFd, const std::function<void(int)>& body)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        body(fds[1]);
        _exit(0);
    }
    close(fds[1]);
    *readFd = fds[0];
    return child;
}

// Reads reported row numbers until `wanted` have come or the pipe closes; waits at most 60 s.
QList<qint32> ReadReports(int fd, int wanted)
{
    QList<qint32> numbers;
    QByteArray pending;
    while (numbers.size() < wanted) {
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, 60000) <= 0)
            break;
        char buffer[256];
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        pending.append(buffer, got);
        while (pending.size() >= qsizetype(sizeof(qint32))) {
            qint32 number;
            memcpy(&number, pending.constData(), sizeof number);
            numbers.append(number);
            pending.remove(0, sizeof number);
        }
    }
    return numbers;
}

} // namespace

class TestCrashSafety : public QObject {
    Q_OBJECT
  private slots:
    void killedRecorderLosesNoReportedRow_data()
    {
        QTest::addColumn<int>("rowsBeforeKill");
        QTest::newRow("early") << 3;
        QTest::newRow("later") << 60;
    }
    void killedRecorderLosesNoReportedRow()
    {
        QFETCH(int, rowsBeforeKill);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("crash.mdb"));
        QVERIFY(CreateDataFile(path, 16));

        int reports = -1;
        const pid_t child = ForkReporter(&reports, [&path](int fd) { RecordUntilKilled(path, fd); });
        QVERIFY(child > 0);
        QList<qint32> reported = ReadReports(reports, rowsBeforeKill);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        reported += ReadReports(reports, std::numeric_limits<int>::max());
        close(reports);
        QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL,
                 "the recorder ended before it was killed");
        QVERIFY(reported.size() >= rowsBeforeKill);

        // Our own read-only probe and binding come first, while the killed writer's journal is
        // still beside the file.
        QCOMPARE(CountTableFields(path, QStringLiteral("DataRecord")), int16_t(34));
        DataFile reopened;
        QString error;
        QVERIFY2(reopened.Bind(path, &error), qPrintable(error));
        reopened.Unbind();
        QCOMPARE(SqliteCli(path, QStringLiteral("PRAGMA integrity_check")), QStringList{"ok"});
        QSet<qint32> stored;
        for (const QString& line :
             SqliteCli(path, QStringLiteral("SELECT \"chan 1\", \"chan 16\" FROM DataRecord"))) {
            const QStringList values = line.split(QLatin1Char('|'));
            QCOMPARE(values.value(0), values.value(1)); // no half row
            stored.insert(qint32(values.value(0).toDouble()));
        }
        for (qint32 number : reported)
            QVERIFY2(stored.contains(number), qPrintable(QStringLiteral("row %1 was lost").arg(number)));
        // At most the row being appended when the kill came is there without a report.
        QVERIFY(stored.size() <= reported.size() + 1);
    }

    // Killed halfway through a row's transaction, a recorder leaves its rollback journal beside
    // the file. The next start must still find the file usable (the half row rolled back), not
    // report it as a file that is not a data file.
    void halfWrittenRowIsRolledBackOnTheNextStart()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("half.mdb"));
        QVERIFY(CreateDataFile(path, 16));
        {
            DataFile data;
            QVERIFY(data.Bind(path));
            QVERIFY(data.AppendRow({QDate(2026, 12, 7), QTime(10, 0), QList<double>(16, 1.0),
                                    QStringList(16, QStringLiteral("V"))}));
        }

        int readyFd = -1;
        const pid_t child = ForkReporter(&readyFd, [&path](int fd) {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("half"));
            db.setDatabaseName(path);
            if (!db.open())
                _exit(2);
            BeginSpilledRows(db);
            const char ready = 1;
            if (write(fd, &ready, 1) != 1)
                _exit(4);
            pause();
        });
        QVERIFY(child > 0);
        char ready = 0;
        QCOMPARE(read(readyFd, &ready, 1), ssize_t(1));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        close(readyFd);
        QVERIFY(QFileInfo::exists(path + QStringLiteral("-journal")));

        QString error;
        QCOMPARE(CountTableFields(path, QStringLiteral("DataRecord"), &error), int16_t(34));
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(SqliteCli(path, QStringLiteral("PRAGMA integrity_check")), QStringList{"ok"});
        QCOMPARE(SqliteRowCount(path), 1);
    }
};

// One recorder per data file: a second binding, in this process or another, is refused with the
// holder named and leaves the file untouched; a released or killed holder's lock is taken over.
class TestDataFileLock : public QObject {
    Q_OBJECT
  private slots:
    void heldFileIsRefusedNamingTheHolder_data()
    {
        QTest::addColumn<bool>("inChild");
        QTest::newRow("another binding in this process") << false;
        QTest::newRow("another process, then killed") << true;
    }
    void heldFileIsRefusedNamingTheHolder()
    {
        QFETCH(bool, inChild);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("held.mdb"));
        QVERIFY(CreateDataFile(path, 8));
        auto holder = std::make_unique<DataFile>();
        int readyFd = -1;
        pid_t holderPid = getpid();
        if (inChild) {
            holderPid = ForkReporter(&readyFd, [&path](int fd) {
                DataFile data;
                const char ok = data.Bind(path) ? 1 : 0;
                if (write(fd, &ok, 1) == 1)
                    pause();
            });
            QVERIFY(holderPid > 0);
            char ok = 0;
            QCOMPARE(read(readyFd, &ok, 1), ssize_t(1));
            close(readyFd);
            QCOMPARE(ok, char(1));
        } else {
            QVERIFY(holder->Bind(path));
            QVERIFY(holder->AppendRow({QDate(2026, 12, 7), QTime(10, 0), {1.0}, {QStringLiteral("V")}}));
        }
        const QByteArray before = FileBytes(path);

        DataFile second;
        QString error;
        QVERIFY(!second.Bind(path, &error));
        const QString named =
            QStringLiteral("%1 (process %2)").arg(QCoreApplication::applicationName()).arg(holderPid);
        QVERIFY2(error.contains(named) && error.contains(QStringLiteral("held.mdb")), qPrintable(error));
        QVERIFY(!second.IsBound());
        QCOMPARE(FileBytes(path), before);

        if (inChild) {
            kill(holderPid, SIGKILL);
            waitpid(holderPid, nullptr, 0);
            QVERIFY(QFileInfo::exists(DataFileLockPath(path))); // left behind by the killed holder
        } else {
            holder->Unbind();
        }
        QVERIFY2(second.Bind(path, &error), qPrintable(error));
        QVERIFY(!holder->Bind(path));
    }

    void rebindingKeepsTheLockAndAnotherFileReleasesIt()
    {
        QTemporaryDir dir;
        const QString a = dir.filePath(QStringLiteral("a.mdb"));
        const QString b = dir.filePath(QStringLiteral("b.mdb"));
        QVERIFY(CreateDataFile(a, 8));
        QVERIFY(CreateDataFile(b, 8));
        DataFile data;
        DataFile other;
        QVERIFY(data.Bind(a));
        QVERIFY(data.Bind(a));
        QVERIFY(!other.Bind(a));
        QVERIFY(!data.Bind(dir.filePath(QStringLiteral("missing.mdb"))));
        QVERIFY(!other.Bind(a)); // a refused binding keeps the file it had, lock included
        QVERIFY(data.Bind(b));
        QVERIFY(other.Bind(a));
        QVERIFY(!QFileInfo::exists(DataFileLockPath(dir.filePath(QStringLiteral("missing.mdb")))));
    }

    // A lock file that cannot be made is said with the reason (here its folder is gone; a full
    // disk alike), not only with the file's name.
    void lockFileTroubleIsNamed()
    {
        QTemporaryDir dir;
        DataFileLock lock;
        QString error;
        QVERIFY(!lock.Acquire(dir.filePath(QStringLiteral("gone/a.mdb")), &error));
        QVERIFY2(error.contains(QStringLiteral("cannot be made (")) && error.contains(QStringLiteral("a.mdb.lock")),
                 qPrintable(error));
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("gone"))));
    }

  private:
    static QByteArray FileBytes(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

VARNIK_TEST_CLASS(TestCrashSafety)
VARNIK_TEST_CLASS(TestDataFileLock)
#include "test_crash_safety.moc"
