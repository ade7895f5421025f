#include "mainwindow/frmMain.h"
#include "core/shared_state.h"
#include "fake_host.h"
#include "query/frmSelect.h"
#include "query/report_writer.h"
#include "meter_query_run.h"
#include "query_fixture.h"
#include "test_registry.h"

#include <QCheckBox>
#include <QCryptographicHash>
#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray Hash(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256)
                                       : "";
}

QByteArray Bytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every cell of a workbook's first sheet, as openpyxl reads it.
QByteArray Cells(const QString& path)
{
    QProcess python;
    python.start("/usr/bin/python3",
                 {"-c",
                  "import sys, openpyxl\n"
                  "ws = openpyxl.load_workbook(sys.argv[1]).active\n"
                  "print([[repr(c.value) for c in r] for r in ws.iter_rows()])\n"
                  "print({k: (d.min, d.max, d.width) for k, d in ws.column_dimensions.items()})",
                  path});
    python.waitForFinished(60000);
    return python.readAllStandardOutput();
}

} // namespace

class TestMeterQuery : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_file;

  private slots:
    void initTestCase()
    {
        m_file = MakeDataFile(m_dir.filePath("run.mdb"), 8,
                              {"'2010-04-01','08:30:05',23.5,'C',NULL,NULL,101.25,'%RH'",
                               "'2010-04-01','17:30:20',24,'C',NULL,NULL,99,'=SUM(A1)'",
                               "'2010-04-02','09:00:00',25,'C',NULL,NULL,98.5,'%RH'"},
                              3);
    }

    void exitCodes_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says"); // on standard error, or the second output line for 0
        const QString f = QDir(m_dir.path()).filePath("run.mdb");
        const QStringList range{"--from", "2010-04-01", "--to", "2010-04-02"};
        QTest::newRow("done") << QStringList{f, "--channels", "3,1"} + range << 0 << "Record No. 3";
        QTest::newRow("time window") << QStringList{f, "--channels", "1", "--time", "08:00-17:30"} + range
                                     << 0 << "Record No. 2";
        QTest::newRow("no record") << QStringList{f,      "--channels", "1", "--from", "2010-04-03",
                                                  "--to", "2010-04-02"}
                                   << 1 << "No record matched";
        QTest::newRow("bad date") << QStringList{f,      "--channels", "1", "--from", "2010-13-01",
                                                 "--to", "2010-04-02"}
                                  << 2 << "2010-13-01";
        QTest::newRow("bad time") << QStringList{f, "--channels", "1", "--time", "8-17"} + range << 2
                                  << "8-17";
        QTest::newRow("bad channel") << QStringList{f, "--channels", "1,x"} + range << 2 << "\"x\"";
        QTest::newRow("channel the file lacks")
            << QStringList{f, "--channels", "9"} + range << 2 << "8 channels";
        QTest::newRow("missing file")
            << QStringList{f + ".gone", "--channels", "1"} + range << 2 << "does not exist";
        QTest::newRow("missing option")
            << QStringList{f, "--channels", "1", "--from", "2010-04-01"} << 2 << "--to";
        QTest::newRow("negative year")
            << QStringList{f, "--channels", "1", "--from", "-2010-04-01", "--to", "2010-04-02"} << 2
            << "\"-2010-04-01\" is not a date";
        QTest::newRow("folder") << QStringList{m_dir.path(), "--channels", "1"} + range << 2 << "is a folder";
        QTest::newRow("csv to standard output")
            << QStringList{f, "--channels", "1", "--csv", "-"} + range << 2 << "--csv writes a file";
        QTest::newRow("in use") << QStringList{f, "--channels", "1"} + range << 3 << "is in use";
    }
    void exitCodes()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, says);
        const QByteArray before = Hash(m_file);
        QSqlDatabase holder; // another program in the middle of writing the file
        if (QTest::currentDataTag() == QLatin1String("in use")) {
            holder = QSqlDatabase::addDatabase("QSQLITE", "holder");
            holder.setDatabaseName(m_file);
            QVERIFY(holder.open());
            QVERIFY(QSqlQuery(holder).exec("BEGIN EXCLUSIVE"));
        }
        const Run r = MeterQuery(args);
        if (holder.isOpen()) {
            holder.close();
            holder = QSqlDatabase();
            QSqlDatabase::removeDatabase("holder");
        }
        QCOMPARE(r.code, code);
        if (code == 0) {
            QCOMPARE(r.out.size(), 2);
            QVERIFY(r.out[0].startsWith("Select [date],[time],[chan 1],[unit 1]"));
            QCOMPARE(r.out[1], says);
        } else {
            QCOMPARE(r.err.count('\n'), 1);
            QVERIFY2(r.err.contains(says), qPrintable(r.err));
        }
        QCOMPARE(Hash(m_file), before);
    }

    // An output that would replace the data file (by any spelling) or another database is refused
    // before the query; otherwise every output that can be written is, whole, beside the ones that
    // fail, and no failure leaves half a file.
    void outputs_data()
    {
        QTest::addColumn<QStringList>("outputs"); // option, path under the test folder, ...
        QTest::addColumn<QString>("channels");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");
        QTest::addColumn<QStringList>("written"); // outputs that must hold new content
        QTest::newRow("csv over the data file")
            << QStringList{"csv", "run.mdb"} << "1" << 2 << "--csv \"" << QStringList{};
        QTest::newRow("report through ./")
            << QStringList{"report", "./sub/../run.mdb"} << "1" << 2 << "is the data file" << QStringList{};
        QTest::newRow("xlsx through a link")
            << QStringList{"xlsx", "link.mdb"} << "1" << 2 << "is the data file" << QStringList{};
        QTest::newRow("another database")
            << QStringList{"csv", "other.mdb"} << "1" << 2 << "is a database" << QStringList{};
        QTest::newRow("one output twice") << QStringList{"csv", "a.txt", "report", "./a.txt"} << "1" << 2
                                          << "name the same file" << QStringList{};
        QTest::newRow("null reading stops only the report")
            << QStringList{"report", "old.txt", "csv", "out.csv", "xlsx", "out.xlsx"} << "1,2" << 3
            << "--report not written: Record 1 has no chan 2 value" << QStringList{"out.csv", "out.xlsx"};
        QTest::newRow("missing folder") << QStringList{"csv", "none/out.csv", "report", "out.txt"} << "1" << 3
                                        << "--csv not written" << QStringList{"out.txt"};
        QTest::newRow("standard output")
            << QStringList{"csv", "/dev/stdout"} << "1" << 0 << "" << QStringList{};
        // A device or a pipe is written as it comes, without a seek it refuses (and a warning).
        for (const char* option : {"csv", "xlsx", "report"})
            QTest::newRow(qPrintable(QStringLiteral("%1 to /dev/null").arg(option)))
                << QStringList{option, "/dev/null"} << "1" << 0 << "" << QStringList{};
        // A device that refuses the bytes is an output not written, never a success.
        for (const char* option : {"csv", "xlsx", "report"})
            QTest::newRow(qPrintable(QStringLiteral("%1 to /dev/full").arg(option)))
                << QStringList{option, "/dev/full"} << "1" << 3 << QStringLiteral("--%1 not written").arg(option)
                << QStringList{};
        QTest::newRow("all written") << QStringList{"csv", "out.csv", "report", "old.txt"} << "1" << 0 << ""
                                     << QStringList{"out.csv", "old.txt"};
    }
    void outputs()
    {
        QFETCH(QStringList, outputs);
        QFETCH(QString, channels);
        QFETCH(int, code);
        QFETCH(QString, says);
        QFETCH(QStringList, written);
        QTemporaryDir dir;
        const QString data = dir.filePath("run.mdb");
        QVERIFY(QFile::copy(m_file, data));
        QVERIFY(QFile::copy(m_file, dir.filePath("other.mdb")));
        QVERIFY(QFile::link(data, dir.filePath("link.mdb")));
        QVERIFY(QDir(dir.path()).mkdir("sub"));
        QFile old(dir.filePath("old.txt"));
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("earlier\r\n") > 0);
        old.close();
        QMap<QString, QByteArray> before;
        for (const QString& name : QDir(dir.path()).entryList(QDir::Files))
            before[name] = Hash(dir.filePath(name));

        QStringList args{data, "--from", "2010-04-01", "--to", "2010-04-02", "--channels", channels};
        for (int i = 0; i < outputs.size(); i += 2)
            args << "--" + outputs[i] << QDir(dir.path()).filePath(outputs[i + 1]);
        const Run r = MeterQuery(args);
        QCOMPARE(r.code, code);
        QVERIFY2(r.err.contains(says), qPrintable(r.err));
        const bool toStdout = outputs.contains("/dev/stdout");
        // With an output on standard output the statement and the count go to standard error.
        QCOMPARE(r.err.count('\n'), (code == 0 ? 0 : 1) + (toStdout ? 2 : 0));
        QCOMPARE(r.out.contains("date,time,chan 1,unit 1\r"), toStdout);
        if (toStdout)
            QCOMPARE(r.out.value(0), QStringLiteral("date,time,chan 1,unit 1\r"));
        for (const QString& name : QDir(dir.path()).entryList(QDir::Files | QDir::Hidden)) {
            const bool isNew = !before.contains(name);
            QVERIFY2(written.contains(name) == (isNew || before[name] != Hash(dir.filePath(name))),
                     qPrintable(name)); // nothing else written or changed, no temporary file left
        }
    }

    // The tool and the query window write the same report and the same workbook for one query.
    void sameOutputsAsTheWindow()
    {
        const Run r = MeterQuery({m_file, "--from", "2010-04-01", "--to", "2010-04-02", "--channels", "1,3",
                                  "--report", m_dir.filePath("tool.txt"), "--xlsx",
                                  m_dir.filePath("tool.xlsx"), "--csv", m_dir.filePath("tool.csv")});
        QCOMPARE(r.code, 0);

        FakeHost host;
        Shared = SharedState{};
        Shared.AppPath = m_dir.path();
        QDir(m_dir.path()).mkpath("data");
        QFile::copy(m_file, DataPath("run.mdb"));
        Shared.DataFileName = "run.mdb";
        host.clock = QDateTime::currentDateTime();
        frmSelect w;
        w.show();
        w.Check2[0]->setChecked(true);
        w.Check2[2]->setChecked(true);
        w.Text1[0]->setText("2010-04-01");
        w.Text1[1]->setText("2010-04-02");
        QTest::mouseClick(w.Command3[1], Qt::LeftButton);
        QTest::mouseClick(w.cmdExportToExcel, Qt::LeftButton);
        QCOMPARE(host.opened.size(), 2);
        QCOMPARE(w.RecordSource(), r.out[0]);
        QCOMPARE(Bytes(m_dir.filePath("tool.txt")), Bytes(DataPath("report.txt")));
        QCOMPARE(Cells(m_dir.filePath("tool.xlsx")), Cells(host.opened[1]));
        QVERIFY(Cells(host.opened[1]).contains("'=SUM(A1)'"));
        QDir(QFileInfo(host.opened[1]).path()).removeRecursively();
        QVERIFY(Bytes(m_dir.filePath("tool.csv")).contains("2010-04-01,17:30:20,24,C,99,'=SUM(A1)\r\n"));
    }
};

VARNIK_TEST_CLASS(TestMeterQuery)
#include "test_meter_query.moc"
