// meter-record through the faults a user meets: the disk filling up and the meter going silent,
// in one run. The data folder is a 1 MB tmpfs that the test mounts in a user and mount namespace
// of its own (no privileges needed), so the disk really fills; the shell that mounts it fills and
// frees it on SIGUSR1 / SIGUSR2 and copies the data file out when the recorder has ended.
#include "datafile/data_file.h"
#include "record_rig.h"
#include "sqlite_cli.h"
#include "test_registry.h"

#include <QStandardPaths>
#include <QTest>

namespace {

// Runs inside the namespace; $1 mount point, $2 staged configuration, $3 meter-record, the rest
// its arguments. Filling writes at most 4 MB, and only once the tmpfs is mounted.
const char* const Wrapper = R"(set -e
mnt=$1 conf=$2 rec=$3
shift 3
mount -t tmpfs -o size=1m tmpfs "$mnt"
cp "$conf"/unit2.dat "$conf"/display.dat "$conf"/dispchan.dat "$conf"/default.txt "$mnt"/
set +e
"$rec" --data-dir "$mnt" "$@" &
child=$!
trap 'head -c 4194304 /dev/zero > "$mnt/filler" 2>/dev/null; echo "test: disk full"' USR1
trap 'rm -f "$mnt/filler"; echo "test: disk freed"' USR2
trap 'kill -TERM $child' TERM
while :; do wait $child; rc=$?; kill -0 $child 2>/dev/null || break; done
cp "$mnt"/Data1.mdb "$conf"/
exit $rc
)";

bool CanMountTmpfs(const QString& mountPoint)
{
    QProcess probe;
    probe.start(QStringLiteral("unshare"), {"--user", "--map-root-user", "--mount", "mount", "-t", "tmpfs",
                                            "-o", "size=64k", "tmpfs", mountPoint});
    return probe.waitForFinished(10000) && probe.exitStatus() == QProcess::NormalExit &&
           probe.exitCode() == 0;
}

} // namespace

class TestRecordFaults : public QObject {
    Q_OBJECT

  private slots:
    void fullDiskAndSilentMeter()
    {
        RecordFolder folder;
        QTemporaryDir mountPoint;
        if (!CanMountTmpfs(mountPoint.path()))
            VARNIK_SKIP_ENVIRONMENT("a tmpfs cannot be mounted in a user and mount namespace here");
        auto sim = StartSim(folder);
        QVERIFY(sim);
        Run shell(QStandardPaths::findExecutable("unshare"),
                  QStringList{"--user", "--map-root-user", "--mount", "bash", "-c", Wrapper, "wrapper",
                              mountPoint.path(), folder.dir(), VARNIK_BINARY_DIR "/meter-record", "--device",
                              folder.device(), "--channels", "16", "--verbose"},
                  folder.dir());
        const auto log = [&shell] { return qPrintable(shell.output()); };
        QVERIFY2(shell.waitFor("row 2:"), log());

        ::kill(pid_t(shell.process.processId()), SIGUSR1);
        QVERIFY2(shell.waitFor("test: disk full"), log());
        QVERIFY2(shell.waitFor("row not recorded:"), log());
        const int failing = shell.lines.size();
        ::kill(pid_t(shell.process.processId()), SIGUSR2);
        QVERIFY2(shell.waitFor("rows recorded again"), log());
        // One line when rows start failing, one when they are written again.
        QCOMPARE(shell.lines.mid(failing).filter("row not recorded:").size(), 0);

        ::kill(pid_t(sim->process.processId()), SIGSTOP);
        QVERIFY2(shell.waitFor("link lost at"), log());
        QVERIFY2(shell.waitFor("no frames for"), log());
        ::kill(pid_t(sim->process.processId()), SIGCONT);
        QVERIFY2(shell.waitFor("frames arriving", 2), log());
        QVERIFY2(shell.waitFor("link back at"), log());
        const int rows = shell.lines.filter(" row ").size();
        QVERIFY2(shell.waitFor(" row ", rows + 2), log());

        QVERIFY(shell.signalAndWait(SIGTERM));
        QCOMPARE(shell.process.exitCode(), 0);

        const QString file = folder.path("Data1.mdb");
        // Alarm changes come and go with the simulated readings; the rest is the story of the run.
        const QStringList kinds = SqliteCli(
            file, "SELECT kind FROM EventLog WHERE kind NOT IN ('high', 'low', 'normal') ORDER BY id");
        QCOMPARE(kinds, (QStringList{"start", "rows-missed", "link-lost", "link-restored", "stop"}));
        const QStringList missed =
            SqliteCli(file, "SELECT value, text FROM EventLog WHERE kind = 'rows-missed'");
        QVERIFY2(missed.value(0).contains(" missed from ") && missed.value(0).contains("full"),
                 qPrintable(missed.join('\n')));
        QVERIFY2(SqliteCli(file, "SELECT text FROM EventLog WHERE kind = 'start'")
                     .value(0)
                     .startsWith("meter-record "),
                 qPrintable(shell.output()));
        QCOMPARE(SqliteCli(file, "SELECT text FROM EventLog WHERE kind = 'stop'"), QStringList{"signal"});
        // No row of readings older than 3 s: link-lost is timed at the last frame.
        QCOMPARE(
            SqliteCli(file,
                      "SELECT count(*) FROM DataRecord, "
                      "(SELECT date || ' ' || time AS t FROM EventLog WHERE kind = 'link-lost') AS lost, "
                      "(SELECT date || ' ' || time AS t FROM EventLog WHERE kind = 'link-restored') AS back "
                      "WHERE date || ' ' || time > datetime(lost.t, '+3 seconds') AND date || ' ' || time < back.t"),
            QStringList{"0"});
        QVERIFY(SqliteRowCount(file) >= 4);
    }

    // Query outputs on a full disk: every one is named as not written and meter-query ends with 3;
    // no empty file takes an output's place.
    void queryOutputsOnAFullDisk()
    {
        QTemporaryDir dir;
        QTemporaryDir mountPoint;
        if (!CanMountTmpfs(mountPoint.path()))
            VARNIK_SKIP_ENVIRONMENT("a tmpfs cannot be mounted in a user and mount namespace here");
        const QString data = dir.filePath(QStringLiteral("Q.mdb"));
        QVERIFY(CreateDataFile(data, 8));
        SqliteCli(data, "INSERT INTO DataRecord (date, time, \"chan 1\", \"unit 1\") VALUES "
                        "('2026-12-08', '10:00:00', 1.5, 'V')");
        const char* const script = R"(mount -t tmpfs -o size=64k tmpfs "$1" || exit 99
head -c 1048576 /dev/zero > "$1/fill" 2>/dev/null
"$2" "$3" --from 2026-12-08 --to 2026-12-08 --channels 1 --csv "$1/o.csv" --report "$1/r.txt" --xlsx "$1/w.xlsx"
rc=$?
ls "$1"
exit $rc
)";
        QProcess query;
        query.start(QStringLiteral("unshare"), {"--user", "--map-root-user", "--mount", "bash", "-c", script, "wrapper",
                                                mountPoint.path(), VARNIK_BINARY_DIR "/meter-query", data});
        QVERIFY(query.waitForFinished(30000));
        const QString out = QString::fromUtf8(query.readAllStandardOutput());
        const QString err = QString::fromUtf8(query.readAllStandardError());
        QCOMPARE(query.exitCode(), 3);
        QVERIFY2(out.endsWith(QStringLiteral("fill\n")) && !out.contains(QStringLiteral("o.csv")), qPrintable(out));
        for (const char* option : {"--csv", "--report", "--xlsx"})
            QVERIFY2(err.contains(QStringLiteral("%1 not written").arg(QLatin1String(option))), qPrintable(err));
    }
};

VARNIK_TEST_CLASS(TestRecordFaults)
#include "test_record_faults.moc"
