#include "acquisition/frmMain.h"
#include "core/shared_state.h"
#include "datafile/event_log.h"
#include "fake_host.h"
#include "query/event_spans.h"
#include "query/frmEventLog.h"
#include "query/frmSelect.h"
#include "query/query_chart_ui.h"
#include "query_fixture.h"
#include "test_registry.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

const QDate Day(2010, 4, 1);

// "HH:MM:SS kind text" on Day, or "YYYY-MM-DD HH:MM:SS kind text".
LoggedEvent Event(const QString& line)
{
    QStringList parts = line.split(' ');
    const QDate date = parts[0].contains('-') ? QDate::fromString(parts.takeFirst(), Qt::ISODate) : Day;
    const QDateTime at(date, QTime::fromString(parts.takeFirst(), "HH:mm:ss"));
    const QString kind = parts.takeFirst();
    return LoggedEvent::At(at, kind, parts.join(' '));
}

void WriteEvents(const QString& path, const QStringList& lines)
{
    DataFile data;
    QVERIFY(data.Bind(path));
    for (const QString& line : lines)
        QVERIFY(AppendEvent(data, Event(line)));
}

struct Run {
    int code = -1;
    QByteArray out;
    QString err;
};

Run MeterQuery(const QStringList& args)
{
    QProcess p;
    p.start(VARNIK_BINARY_DIR "/meter-query", args);
    Run r;
    if (!p.waitForFinished(60000))
        return r;
    r.code = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QString Utc(const QString& line)
{
    return Event(line).UtcText();
}

} // namespace

class TestEventViews : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_file;

  private slots:
    void initTestCase()
    {
        m_file = MakeDataFile(m_dir.filePath("run.mdb"), 8,
                              {"'2010-04-01','10:00:00',23.5,'C'", "'2010-04-01','10:30:00',24,'C'",
                               "'2010-04-02','09:00:00',25,'C'"},
                              1);
        WriteEvents(m_file, {"10:00:00 start Varnik", "10:10:00 link-lost silent", "10:20:00 link-restored",
                             "10:25:00 note a, \"quoted\" note", "2010-04-02 08:00:00 stop exit"});
    }

    // The chart's gaps and marks over 10:00 to 11:00.
    void chartSpans_data()
    {
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("link gap") << QStringList{"10:10:00 link-lost", "10:20:00 link-restored"}
                                  << QStringList{"link-lost 10:10:00-10:20:00"};
        QTest::newRow("clipped at both ends")
            << QStringList{"09:50:00 paused", "10:05:00 resumed", "10:55:00 link-lost"}
            << QStringList{"paused 10:00:00-10:05:00", "link-lost 10:55:00-11:00:00"};
        QTest::newRow("a stop ends the gaps")
            << QStringList{"10:10:00 link-lost", "10:15:00 paused", "10:30:00 stop"}
            << QStringList{"link-lost 10:10:00-10:30:00", "paused 10:15:00-10:30:00"};
        QTest::newRow("rows missed until written again")
            << QStringList{"10:40:30 rows-missed 3 rows missed from 2010-04-01 10:40:00 to 2010-04-01 "
                           "10:40:20: full"}
            << QStringList{"rows-missed 10:40:00-10:40:30"};
        QTest::newRow("outside the range")
            << QStringList{"08:00:00 link-lost", "09:00:00 link-restored"} << QStringList{};
        QTest::newRow("marks") << QStringList{"10:00:00 start", "10:01:00 note hi", "10:02:00 high",
                                              "11:30:00 note"}
                               << QStringList{"note 10:01:00", "high 10:02:00"};
    }
    void chartSpans()
    {
        QFETCH(QStringList, events);
        QFETCH(QStringList, expected);
        QList<LoggedEvent> logged;
        for (const QString& line : events)
            logged << Event(line);
        const ChartEvents chart =
            EventsForChart(logged, QDateTime(Day, QTime(10, 0)), QDateTime(Day, QTime(11, 0)));
        QStringList drawn;
        for (const EventSpan& gap : chart.gaps)
            drawn << QStringLiteral("%1 %2-%3")
                         .arg(gap.kind, gap.from.toString("HH:mm:ss"), gap.to.toString("HH:mm:ss"));
        for (const EventMark& mark : chart.marks)
            drawn << QStringLiteral("%1 %2").arg(mark.kind, mark.at.toString("HH:mm:ss"));
        QCOMPARE(drawn, expected);
    }

    // --events alone writes only the events of the range, oldest first; with - on standard output.
    void meterQueryEvents()
    {
        const QString header = "date,time,utc,kind,channel,value,text\n";
        const QString day1 =
            header + QStringLiteral("2010-04-01,10:00:00,%1,start,,,Varnik\n"
                                    "2010-04-01,10:10:00,%2,link-lost,,,silent\n"
                                    "2010-04-01,10:20:00,%3,link-restored,,,\n"
                                    "2010-04-01,10:25:00,%4,note,,,\"a, \"\"quoted\"\" note\"\n")
                         .arg(Utc("10:00:00 start"), Utc("10:10:00 start"), Utc("10:20:00 start"),
                              Utc("10:25:00 start"));
        Run r = MeterQuery({m_file, "--from", "2010-04-01", "--to", "2010-04-01", "--events", "-"});
        QCOMPARE(r.code, 0);
        QCOMPARE(QString::fromUtf8(r.out), day1);

        // With another output the query runs as before, its lines on standard error.
        const QString csv = m_dir.filePath("events.csv");
        r = MeterQuery({m_file, "--from", "2010-04-01", "--to", "2010-04-02", "--channels", "1", "--events",
                        csv, "--xlsx", m_dir.filePath("run.xlsx")});
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.startsWith("Select [date]"));
        QFile written(csv);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QVERIFY(written.readAll().endsWith(",stop,,,exit\n"));

        QProcess python;
        python.start("/usr/bin/python3", {"-c",
                                          "import sys, openpyxl\n"
                                          "wb = openpyxl.load_workbook(sys.argv[1])\n"
                                          "print(wb.sheetnames)\n"
                                          "for r in wb['Events'].iter_rows(values_only=True): print(r)",
                                          m_dir.filePath("run.xlsx")});
        QVERIFY(python.waitForFinished(60000));
        const QStringList lines =
            QString::fromUtf8(python.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.value(0), QStringLiteral("['Sheet1', 'Events']"));
        QCOMPARE(lines.value(1),
                 QStringLiteral("('Date', 'Time', 'UTC', 'Kind', 'Channel', 'Value', 'Text')"));
        QCOMPARE(lines.size(), 7);
        QVERIFY2(lines[2].startsWith("(datetime.datetime(2010, 4, 1, 0, 0), datetime.time(10, 0), '") &&
                     lines[2].endsWith("', 'start', None, None, 'Varnik')"),
                 qPrintable(lines[2]));
    }

    void meterQueryDamagedEventLog()
    {
        const QString damaged = MakeDataFile(m_dir.filePath("damaged.mdb"), 8, {});
        SqliteCli(damaged, "CREATE TABLE EventLog (id INTEGER PRIMARY KEY, what TEXT)");
        const Run r = MeterQuery({damaged, "--from", "2010-04-01", "--to", "2010-04-01", "--events", "-"});
        QCOMPARE(r.code, 3);
        QVERIFY2(r.err.contains("not an event log"), qPrintable(r.err));
        QVERIFY(r.out.isEmpty());
    }

    // Report > Event Log: newest first, filtered by kind; a chosen file; a note goes into the
    // current data file, and is refused with a message on a read-only one.
    void eventLogWindow()
    {
        FakeHost host;
        host.clock = QDateTime(QDate(2010, 4, 2), QTime(12, 0));
        Shared = SharedState{};
        QTemporaryDir app;
        Shared.AppPath = app.path();
        QVERIFY(QDir(app.path()).mkpath("data"));
        Shared.DataFileName = "current.mdb";
        MakeDataFile(DataPath("current.mdb"), 8, {});
        WriteEvents(DataPath("current.mdb"), {"09:00:00 start Varnik", "09:30:00 note older"});
        frmMain main;

        frmEventLog w;
        w.show();
        QCOMPARE(w.grdEvents->rowCount(), 2);
        QCOMPARE(w.grdEvents->item(0, 5)->text(), QStringLiteral("older"));
        w.txtNote->setText("calibrated channel 3");
        QTest::mouseClick(w.cmdAddNote, Qt::LeftButton);
        QVERIFY2(host.shown.isEmpty(), qPrintable(host.texts().join('\n')));
        QCOMPARE(w.grdEvents->rowCount(), 3);
        QCOMPARE(w.grdEvents->item(0, 2)->text(), QStringLiteral("note"));
        QCOMPARE(w.grdEvents->item(0, 5)->text(), QStringLiteral("calibrated channel 3"));
        QCOMPARE(w.grdEvents->item(0, 1)->text(), QStringLiteral("12:00:00"));
        QVERIFY(w.txtNote->text().isEmpty());

        w.cboKind->setCurrentText("start");
        QCOMPARE(w.grdEvents->rowCount(), 1);

        w.dlg1 = [this] { return m_file; };
        QTest::mouseClick(w.cmdSelectFile, Qt::LeftButton);
        w.cboKind->setCurrentText("All kinds");
        QCOMPARE(w.grdEvents->rowCount(), 5);
        QCOMPARE(w.grdEvents->item(0, 2)->text(), QStringLiteral("stop"));

        // The current file turned read-only, so the main window could not bind it: the note is
        // refused (root may still write such a file, hence the unbinding by hand).
        QVERIFY(QFile::setPermissions(DataPath("current.mdb"), QFile::ReadOwner));
        main.Data1->Unbind();
        w.txtNote->setText("refused");
        QTest::mouseClick(w.cmdAddNote, Qt::LeftButton);
        QCOMPARE(host.shown.size(), 1);
        QVERIFY2(host.shown[0].text.contains("current.mdb") &&
                     host.shown[0].text.contains("the note cannot be added"),
                 qPrintable(host.shown[0].text));
        QCOMPARE(w.txtNote->text(), QStringLiteral("refused"));
        QCOMPARE(SqliteCli(DataPath("current.mdb"), "SELECT count(*) FROM EventLog"), QStringList{"3"});
    }

    // The 8-channel window's chart shades the gaps of the charted range, with legend entries.
    void chartShowsEvents()
    {
        FakeHost host;
        Shared = SharedState{};
        QTemporaryDir app;
        Shared.AppPath = app.path();
        QVERIFY(QDir(app.path()).mkpath("data"));
        QFile::copy(m_file, DataPath("run.mdb"));
        Shared.DataFileName = "run.mdb";
        frmSelect w;
        w.show();
        w.Check2[0]->setChecked(true);
        w.Text1[0]->setText("2010-04-01");
        w.Text1[1]->setText("2010-04-01");
        QVERIFY(w.Command1_Click());
        QTest::mouseClick(w.Command2, Qt::LeftButton);
        auto* chart = w.findChild<QueryChart*>();
        QVERIFY(chart);
        QCOMPARE(chart->SeriesNames(), QStringList{"chan 1"});
        QCOMPARE(chart->EventLegend(), (QStringList{"gap: link lost", "note"}));
        QCOMPARE(chart->ShownEvents().gaps.size(), 1);
        QCOMPARE(chart->ShownEvents().gaps[0].from.time(), QTime(10, 10));
        // The note at 10:25 lies inside the charted 10:00 to 10:30.
        QCOMPARE(chart->ShownEvents().marks.size(), 1);
        QTest::mouseClick(w.Command5, Qt::LeftButton);
        QVERIFY(chart->EventLegend().isEmpty());
        QVERIFY(host.shown.isEmpty());
    }
};

VARNIK_TEST_CLASS(TestEventViews)
#include "test_event_views.moc"
