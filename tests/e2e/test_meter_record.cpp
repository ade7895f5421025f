// meter-record end to end, with meter-sim on a pseudo-terminal: the rows it records, its stop on a
// signal, the lock against a second recorder, its recovery from a silent or vanished meter, a full
// or spoilt data file, forwarding through a server outage and its command line. The watchdog is shortened
// through VARNIK_WATCHDOG_MS.
#include "../forward/pg_server.h"
#include "record_rig.h"
#include "datafile/data_file.h"
#include "spoilt_files.h"
#include "sqlite_cli.h"
#include "test_registry.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <memory>

namespace {

// The row count the closing line states.
int StatedRows(const QString& output)
{
    static const QRegularExpression holds(QStringLiteral("holds (\\d+) rows"));
    const auto matches = holds.globalMatch(output);
    int rows = -1;
    for (auto it = matches; it.hasNext();)
        rows = it.next().captured(1).toInt();
    return rows;
}

} // namespace

class TestMeterRecord : public QObject {
    Q_OBJECT

  private slots:
    void recordsUntilSignalled_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
    }
    void recordsUntilSignalled()
    {
        QFETCH(int, signal);
        RecordFolder folder;
        auto sim = StartSim(folder);
        QVERIFY(sim);
        Run recorder(QStringLiteral("meter-record"), Recorder(folder, {"--verbose"}), folder.dir());
        QVERIFY2(recorder.waitFor(QStringLiteral("row 2:")), qPrintable(recorder.output()));

        // A second recorder of the same file is refused, naming the first, and writes nothing:
        // the file holds what the first one stated.
        Run second(QStringLiteral("meter-record"), Recorder(folder), folder.dir());
        QVERIFY(second.finish());
        QCOMPARE(second.process.exitCode(), 1);
        QVERIFY(second.lines.isEmpty());
        const QString refusal = QString::fromUtf8(second.process.readAllStandardError());
        QVERIFY2(
            refusal.contains(QStringLiteral("meter-record (process %1)").arg(recorder.process.processId())),
            qPrintable(refusal));

        QVERIFY2(recorder.waitFor(QStringLiteral("row 3:")), qPrintable(recorder.output()));
        QVERIFY(recorder.signalAndWait(signal));
        QCOMPARE(recorder.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(recorder.process.exitCode(), 0);

        const QString first = recorder.lines.first();
        for (const QString& part :
             {QStringLiteral("recording: device ") + folder.device(), QStringLiteral("9600 baud"),
              QStringLiteral("Data1.mdb (16 channels, 0 rows)"), QStringLiteral("scan rate 1 s"),
              QStringLiteral("row limit 65535")})
            QVERIFY2(first.contains(part), qPrintable(first));
        QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d "))
                    .match(first)
                    .hasMatch());
        QVERIFY2(recorder.lines.last().contains(QStringLiteral("stopped")), qPrintable(recorder.output()));

        // Every row the recorder stated is whole in the file, and the lock is gone with it.
        const QString file = folder.path(QStringLiteral("Data1.mdb"));
        const int rows = StatedRows(recorder.output());
        QVERIFY(rows >= 3);
        QCOMPARE(SqliteRowCount(file), rows);
        QCOMPARE(recorder.lines.filter(QRegularExpression(QStringLiteral(" row \\d+: "))).size(), rows);
        QCOMPARE(SqliteCli(file, QStringLiteral("PRAGMA integrity_check")), QStringList{"ok"});
        QCOMPARE(SqliteCli(file, QStringLiteral("SELECT count(*) FROM DataRecord WHERE \"unit 16\" IS NULL")),
                 QStringList{"0"});
        QVERIFY(!QFile::exists(DataFileLockPath(file)));
    }

    // The meter falls silent (the simulator pauses) or vanishes (the simulator ends and a new
    // one starts on the same link): the recorder says so, reconnects by itself and records on.
    void reconnectsToTheMeter_data()
    {
        QTest::addColumn<bool>("vanish");
        QTest::addColumn<QString>("noticed");
        QTest::newRow("silent meter") << false << QStringLiteral("no frames for");
        QTest::newRow("meter gone and back") << true << QStringLiteral("cannot be opened");
    }
    void reconnectsToTheMeter()
    {
        QFETCH(bool, vanish);
        QFETCH(QString, noticed);
        RecordFolder folder;
        auto sim =
            StartSim(folder, vanish ? QStringList{} : QStringList{"--silence-after", "3", "--silence", "3"});
        QVERIFY(sim);
        Run recorder(QStringLiteral("meter-record"), Recorder(folder, {"--verbose"}), folder.dir());
        QVERIFY2(recorder.waitFor(QStringLiteral("row 1:")), qPrintable(recorder.output()));
        if (vanish) {
            QVERIFY(sim->signalAndWait(SIGTERM));
            QVERIFY2(recorder.waitFor(QStringLiteral("cannot be opened")), qPrintable(recorder.output()));
            sim = StartSim(folder);
            QVERIFY(sim);
            QVERIFY2(recorder.waitFor(QStringLiteral("port open"), 2), qPrintable(recorder.output()));
        }
        QVERIFY2(recorder.waitFor(noticed), qPrintable(recorder.output()));
        QVERIFY2(recorder.waitFor(QStringLiteral("frames arriving"), 2), qPrintable(recorder.output()));
        const int rowsBefore = recorder.lines.filter(QStringLiteral(" row ")).size();
        QVERIFY2(recorder.waitFor(QStringLiteral(" row "), rowsBefore + 2), qPrintable(recorder.output()));
        QVERIFY(recorder.signalAndWait(SIGTERM));
        QCOMPARE(recorder.process.exitCode(), 0);
        QCOMPARE(SqliteRowCount(folder.path(QStringLiteral("Data1.mdb"))), StatedRows(recorder.output()));
        // The event log tells of the one gap.
        QCOMPARE(SqliteCli(folder.path(QStringLiteral("Data1.mdb")),
                           QStringLiteral("SELECT kind FROM EventLog WHERE kind LIKE 'link-%' ORDER BY id")),
                 (QStringList{"link-lost", "link-restored"}));
    }

    void fullDataFile_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("rowsBefore");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("rowsPerFile");
        QTest::newRow("fills up, exit 3") << QStringList{} << 0 << 3 << QStringList{"Data1.mdb=2"};
        QTest::newRow("full at start, nothing written")
            << QStringList{} << 2 << 3 << QStringList{"Data1.mdb=2"};
        QTest::newRow("rotates") << QStringList{"--rotate"} << 1 << 0
                                 << QStringList{"Data1.mdb=2", "Data1_002.mdb=2", "Data1_003.mdb"};
    }
    void fullDataFile()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, rowsBefore);
        QFETCH(int, exitCode);
        QFETCH(QStringList, rowsPerFile);
        RecordFolder folder(2);
        const QString first = folder.path(QStringLiteral("Data1.mdb"));
        QVERIFY(CreateDataFile(first, 16));
        for (int i = 0; i < rowsBefore; ++i)
            SqliteCli(first, QStringLiteral(
                                 "INSERT INTO DataRecord (date, time) VALUES ('2026-12-07', '09:00:00')"));
        auto sim = StartSim(folder);
        QVERIFY(sim);

        Run recorder(QStringLiteral("meter-record"), Recorder(folder, arguments), folder.dir());
        if (exitCode == 0) {
            QVERIFY2(recorder.waitFor(QStringLiteral("Data1_003.mdb")), qPrintable(recorder.output()));
            QVERIFY(recorder.signalAndWait(SIGTERM));
        } else {
            QVERIFY(recorder.finish());
            QVERIFY2(QString::fromUtf8(recorder.process.readAllStandardError())
                         .contains(QStringLiteral("is full")),
                     qPrintable(recorder.output()));
        }
        QCOMPARE(recorder.process.exitCode(), exitCode);
        for (const QString& expected : rowsPerFile) {
            const QStringList parts = expected.split(QLatin1Char('='));
            const QString file = folder.path(parts[0]);
            QCOMPARE(CountTableFields(file, QStringLiteral("DataRecord")), int16_t(34));
            if (parts.size() > 1)
                QCOMPARE(SqliteRowCount(file), parts[1].toInt());
        }
        QCOMPARE(QDir(folder.dir()).entryList({"*.mdb"}).size(), rowsPerFile.size());
    }

    // Rows go to the central database as they are recorded; while the server is down recording
    // goes on, and the rows of the outage arrive when it is back, each exactly once.
    void forwardsRowsThroughAnOutage()
    {
        PgServer server;
        QVERIFY2(server.IsRunning(), qPrintable(server.Error()));
        RecordFolder folder;
        auto sim = StartSim(folder);
        QVERIFY(sim);
        // The password as a query parameter: the start line must not show it either.
        const QString url = server.Url().replace(QStringLiteral(":secret@"), QStringLiteral("@")) +
                            QStringLiteral("?password=secret");
        Run recorder(QStringLiteral("meter-record"),
                     Recorder(folder, {"--verbose", "--forward", url, "--station", "lab-1"}), folder.dir());
        const QString state = QStringLiteral("forwarding Data1.mdb: Central database");
        QVERIFY2(recorder.waitFor(state, 2), qPrintable(recorder.output()));
        QVERIFY(recorder.lines.first().contains(QStringLiteral("as station lab-1")));
        QVERIFY(!recorder.output().contains(QStringLiteral("secret")));
        const QString rowsOnServer =
            QStringLiteral("SELECT count(DISTINCT row_id) FROM readings WHERE station = 'lab-1'");
        QTRY_VERIFY_WITH_TIMEOUT(server.PsqlValue(rowsOnServer).toInt() >= 1, 20000);

        QVERIFY(server.Stop());
        QVERIFY2(recorder.waitFor(QStringLiteral("unreachable since")), qPrintable(recorder.output()));
        const int rowsAtOutage = recorder.lines.filter(QStringLiteral(" row ")).size();
        QVERIFY(recorder.waitFor(QStringLiteral(" row "), rowsAtOutage + 2));
        QVERIFY(server.Start());
        QVERIFY2(recorder.waitFor(state, 4, 40000), qPrintable(recorder.output()));
        QVERIFY(!recorder.lines.filter(state).last().contains(QStringLiteral("unreachable")));
        QTRY_VERIFY_WITH_TIMEOUT(server.PsqlValue(rowsOnServer).toInt() >= rowsAtOutage + 2, 40000);

        QVERIFY(recorder.signalAndWait(SIGTERM));
        QCOMPARE(recorder.process.exitCode(), 0);
        // Whole rows of 16 readings, none twice (row ids are the file's), none beyond the file.
        const int recorded = SqliteRowCount(folder.path(QStringLiteral("Data1.mdb")));
        QCOMPARE(server.PsqlValue(
                     QStringLiteral("SELECT count(*) = 16 * count(DISTINCT row_id) AND max(row_id) <= %1 "
                                    "FROM readings")
                         .arg(recorded)),
                 QStringLiteral("t"));
    }

    // The data file goes bad under the recorder. A table that is no data file is refused at
    // start; a lock is a passing failure, retried with one line when it starts and one when rows
    // go in again; damage lasts, and ends recording with exit 1.
    // An empty data folder gets the default configuration and a data file, and recording starts
    // (it once stopped at "File not found: unit2.dat").
    void emptyDataFolderGetsTheDefaults()
    {
        RecordFolder folder; // the simulator's link lives there
        QTemporaryDir empty;
        auto sim = StartSim(folder);
        QVERIFY(sim);
        Run recorder(QStringLiteral("meter-record"),
                     {"--data-dir", empty.path(), "--device", folder.device(), "--scan-rate", "1", "--verbose"},
                     folder.dir());
        QVERIFY2(recorder.waitFor(QStringLiteral("row 1:")),
                 qPrintable(recorder.output() + recorder.process.readAllStandardError()));
        QVERIFY(recorder.signalAndWait(SIGTERM));
        for (const char* name : {"default.txt", "unit2.dat", "display.dat", "dispchan.dat", "Data1.mdb"})
            QVERIFY2(QFile::exists(QDir(empty.path()).filePath(QLatin1String(name))), name);
        QCOMPARE(SqliteRowCount(QDir(empty.path()).filePath("Data1.mdb")), StatedRows(recorder.output()));
    }

    void dataFileTroubles_data()
    {
        QTest::addColumn<QString>("table"); // the file's table when it is not made by the recorder
        QTest::addColumn<QString>("trouble");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("says");
        QTest::newRow("one reading column") << "DataRecord (date TEXT, time TEXT, \"chan 1\" REAL)"
                                            << "" << 1 << "is not a data file";
        QTest::newRow("other column names") << "DataRecord (date TEXT, time TEXT, a REAL, b TEXT)"
                                            << "" << 1 << "is not a data file";
        QTest::newRow("locked for a while") << "" << "lock" << 0 << "rows recorded again";
        QTest::newRow("damaged while recording") << "" << "damage" << 1 << "is damaged";
    }
    void dataFileTroubles()
    {
        QFETCH(QString, table);
        QFETCH(QString, trouble);
        QFETCH(int, exitCode);
        QFETCH(QString, says);
        RecordFolder folder;
        const QString file = folder.path(QStringLiteral("Data1.mdb"));
        if (!table.isEmpty())
            SqliteCli(file, QStringLiteral("CREATE TABLE ") + table);
        auto sim = StartSim(folder);
        QVERIFY(sim);
        Run recorder(QStringLiteral("meter-record"), Recorder(folder, {"--verbose"}), folder.dir());
        if (trouble == QLatin1String("lock")) {
            QVERIFY2(recorder.waitFor(QStringLiteral("row 1:")), qPrintable(recorder.output()));
            {
                QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("lock"));
                db.setDatabaseName(file);
                QVERIFY(db.open());
                QVERIFY(QSqlQuery(db).exec(QStringLiteral("BEGIN EXCLUSIVE")));
                QVERIFY2(recorder.waitFor(QStringLiteral("row not recorded")), qPrintable(recorder.output()));
                QVERIFY(QSqlQuery(db).exec(QStringLiteral("ROLLBACK")));
                db.close();
            }
            QSqlDatabase::removeDatabase(QStringLiteral("lock"));
            QVERIFY2(recorder.waitFor(says), qPrintable(recorder.output()));
            QVERIFY(recorder.signalAndWait(SIGTERM));
            QCOMPARE(recorder.lines.filter(QStringLiteral("row not recorded")).size(), 1);
            QCOMPARE(recorder.lines.filter(says).size(), 1);
            QCOMPARE(SqliteRowCount(file), StatedRows(recorder.output()));
        } else {
            if (trouble == QLatin1String("damage")) {
                QVERIFY2(recorder.waitFor(QStringLiteral("row 1:")), qPrintable(recorder.output()));
                QVERIFY(SpoilDataFile(file));
            }
            QVERIFY(recorder.finish());
            const QString error = QString::fromUtf8(recorder.process.readAllStandardError());
            QVERIFY2(error.contains(says) && error.contains(file), qPrintable(error));
        }
        QCOMPARE(recorder.process.exitCode(), exitCode);
        QVERIFY2(!recorder.output().contains(QStringLiteral("-1 rows")), qPrintable(recorder.output()));
        if (!table.isEmpty())
            QCOMPARE(SqliteCli(file, QStringLiteral("SELECT count(*) FROM DataRecord")), QStringList{"0"});
    }

    void badArgumentsExit2_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("inDefaults"); // the data file default.txt names; empty: no configuration
        QTest::addColumn<QString>("named");
        const QString none;
        QTest::newRow("baud 4800") << QStringList{"--baud", "4800"} << none << "--baud";
        QTest::newRow("scan rate 0") << QStringList{"--scan-rate", "0"} << none << "--scan-rate";
        QTest::newRow("scan rate not a number") << QStringList{"--scan-rate", "fast"} << none << "--scan-rate";
        QTest::newRow("10 channels") << QStringList{"--channels", "10"} << none << "--channels";
        QTest::newRow("data file in a folder") << QStringList{"--data-file", "../x.mdb"} << none << "--data-file";
        QTest::newRow("unknown option") << QStringList{"--speed", "9600"} << none << "speed";
        QTest::newRow("stray argument") << QStringList{"Data1.mdb"} << none << "Data1.mdb";
        QTest::newRow("station without forward") << QStringList{"--station", "lab"} << none << "--station";
        QTest::newRow("forward URL not a URI") << QStringList{"--forward", "pg-server"} << none << "--forward";
        // libpq reads it only when it connects: retried forever, it would never work.
        QTest::newRow("forward URL with an unknown sslmode")
            << QStringList{"--forward", "postgresql://db/lab?sslmode=bogus"} << none << "sslmode \"bogus\"";
        // libpq would take "2@db" for the host and show it in every message.
        QTest::newRow("forward password with an unencoded @")
            << QStringList{"--forward", "postgresql://u:hunter2@x@db/lab"} << none << "%40";
        QTest::newRow("missing data folder")
            << QStringList{"--data-dir", "/nonexistent/x"} << none << "/nonexistent/x";
        QTest::newRow("default.txt names a file outside the data folder")
            << QStringList{} << "../x.mdb" << "../x.mdb";
        QTest::newRow("rotation past the last number")
            << QStringList{"--data-file", "Data1_2147483647", "--rotate"} << "Data1.mdb"
            << "Data1_2147483647.mdb";
    }
    void badArgumentsExit2()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, inDefaults);
        QFETCH(QString, named);
        QTemporaryDir empty;
        std::unique_ptr<RecordFolder> folder;
        QString dir = empty.path();
        if (!inDefaults.isEmpty()) {
            folder = std::make_unique<RecordFolder>(65535, inDefaults);
            dir = folder->dir();
            arguments << "--data-dir" << dir;
        }
        arguments.replaceInStrings(QStringLiteral("EMPTY"), empty.path());
        Run recorder(QStringLiteral("meter-record"), arguments, empty.path());
        QVERIFY(recorder.finish());
        QCOMPARE(recorder.process.exitCode(), 2);
        const QString error = QString::fromUtf8(recorder.process.readAllStandardError()).trimmed();
        QVERIFY2(!error.contains(QLatin1Char('\n')) && error.contains(named), qPrintable(error));
        QVERIFY(!error.contains(QStringLiteral("hunter2")));
        QVERIFY(recorder.lines.isEmpty());
        QVERIFY(QDir(dir).entryList({"*.mdb"}).isEmpty());
        QVERIFY(!QFile::exists(dir + QStringLiteral("/../x.mdb")));
    }
};

VARNIK_TEST_CLASS(TestMeterRecord)
#include "test_meter_record.moc"
