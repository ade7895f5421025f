#include "mainwindow/frmMain.h"
#include "station/recording_station.h"
#include "core/shared_state.h"
#include "datafile/event_log.h"
#include "fake_host.h"
#include "query/event_spans.h"
#include "query/frmEventLog.h"
#include "query/frmSelect.h"
#include "query/query_chart_ui.h"
#include "meter_query_run.h"
#include "query_fixture.h"
#include "spoilt_files.h"
#include "test_registry.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateEdit>
#include <QHelpEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScatterSeries>
#include <QStyle>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QToolTip>
#include <ctime>
#include <memory>

namespace {

const QDate Day(2010, 4, 1);

// "HH:MM:SS kind text" on Day, or "YYYY-MM-DD HH:MM:SS kind text"; "kind@3" is of channel 3.
LoggedEvent Event(const QString& line)
{
    QStringList parts = line.split(' ');
    const QDate date = parts[0].contains('-') ? QDate::fromString(parts.takeFirst(), Qt::ISODate) : Day;
    const QDateTime at(date, QTime::fromString(parts.takeFirst(), "HH:mm:ss"));
    const QStringList kind = parts.takeFirst().split('@');
    return LoggedEvent::At(at, kind[0], parts.join(' '),
                           kind.size() > 1 ? std::optional<int>(kind[1].toInt()) : std::nullopt);
}

// The time zone of the process for the life of the object (local times on a day clocks change).
struct LocalZone {
    QByteArray before = qgetenv("TZ");
    explicit LocalZone(const char* zone)
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~LocalZone()
    {
        before.isNull() ? qunsetenv("TZ") : qputenv("TZ", before);
        tzset();
    }
};

void WriteEvents(const QString& path, const QStringList& lines)
{
    DataFile data;
    QVERIFY(data.Bind(path));
    for (const QString& line : lines)
        QVERIFY(AppendEvent(data, Event(line)));
}

QString Utc(const QString& line)
{
    return Event(line).UtcText();
}

// What of the Event Log's filter row is cut at the window's present size (empty: nothing). Each
// control gets its size hint; the kinds button's caption, centred, ends left of the menu arrow in
// the button's bottom right corner.
QString FilterRowCut(frmEventLog& w)
{
    w.layout()->activate();
    QStringList cut;
    for (const QWidget* c : std::initializer_list<const QWidget*>{w.chkAllDates, w.dtFrom, w.dtTo, w.cmdKinds,
                                                                  w.cboChannel, w.txtSearch, w.cmdShow})
        if (c->width() < c->sizeHint().width())
            cut << QStringLiteral("%1 is %2 px wide, needs %3")
                       .arg(c->objectName())
                       .arg(c->width())
                       .arg(c->sizeHint().width());
    const QToolButton* kinds = w.cmdKinds;
    const int text = kinds->fontMetrics().horizontalAdvance(kinds->text());
    const int arrow = kinds->style()->pixelMetric(QStyle::PM_MenuButtonIndicator, nullptr, kinds);
    if ((kinds->width() + text) / 2 > kinds->width() - arrow)
        cut << QStringLiteral("\"%1\" (%2 px) runs into the arrow of a button %3 px wide")
                   .arg(kinds->text())
                   .arg(text)
                   .arg(kinds->width());
    return cut.join(QStringLiteral("; "));
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
        QTest::newRow("not recording from a stop to the next start")
            << QStringList{"10:05:00 stop exit", "10:40:00 start", "10:50:00 stop full"}
            << QStringList{"stop 10:05:00-10:40:00"};
        QTest::newRow("marks: notes, alarms of the charted channel")
            << QStringList{"10:00:00 start", "10:01:00 note hi", "10:02:00 high@1", "10:03:00 low@2",
                           "10:04:00 normal", "11:30:00 note"}
            << QStringList{"note 10:01:00", "high 10:02:00"};
        QTest::newRow("marks: the charted channel's overload and change of function")
            << QStringList{"10:05:00 overload@1", "10:06:00 function@1", "10:07:00 function@2", "10:08:00 overload@2"}
            << QStringList{"overload 10:05:00", "function 10:06:00"};
    }
    void chartSpans()
    {
        QFETCH(QStringList, events);
        QFETCH(QStringList, expected);
        QList<LoggedEvent> logged;
        for (const QString& line : events)
            logged << Event(line);
        const ChartEvents chart =
            EventsForChart(logged, QDateTime(Day, QTime(10, 0)), QDateTime(Day, QTime(11, 0)), {1});
        QStringList drawn;
        for (const EventSpan& gap : chart.gaps)
            drawn << QStringLiteral("%1 %2-%3")
                         .arg(gap.kind, gap.from.toString("HH:mm:ss"), gap.to.toString("HH:mm:ss"));
        for (const EventMark& mark : chart.marks)
            drawn << QStringLiteral("%1 %2").arg(mark.kind, mark.at.toString("HH:mm:ss"));
        QCOMPARE(drawn, expected);
    }

    // The hour the clocks go back happens twice: events stand where their utc puts them.
    void chartMarksByUtcOnFallBackDay()
    {
        const LocalZone berlin("Europe/Berlin");
        const QDate day(2010, 10, 31); // 03:00 CEST becomes 02:00 CET
        const auto at = [day](const char* utc) {
            return QDateTime(day, QTime::fromString(utc, "HH:mm"), Qt::UTC).toLocalTime();
        };
        const QList<LoggedEvent> events{
            LoggedEvent::At(at("00:30"), EventKind::Note, "first 02:30"),
            LoggedEvent::At(at("00:50"), EventKind::LinkLost),
            LoggedEvent::At(at("01:10"), EventKind::LinkRestored), // 02:10 on the clock, after 02:50
            LoggedEvent::At(at("01:30"), EventKind::Note, "second 02:30"),
        };
        QCOMPARE(events[0].time, events[3].time);
        const ChartEvents chart = EventsForChart(events, at("00:00"), at("02:00"), {});
        QCOMPARE(chart.marks.size(), 2);
        QCOMPARE(chart.marks[0].at.toUTC(), at("00:30").toUTC());
        QCOMPARE(chart.marks[1].at.toUTC(), at("01:30").toUTC());
        QCOMPARE(chart.gaps.size(), 1);
        QCOMPARE(chart.gaps[0].from.secsTo(chart.gaps[0].to), 20 * 60);
        QVERIFY2(MarkTip(chart.marks[1]).startsWith("note at 2010-10-31 02:30:00 CET\nsecond 02:30"),
                 qPrintable(MarkTip(chart.marks[1])));
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
        QCOMPARE(QString::fromUtf8(r.raw), day1);

        // With another output the query runs as before, its lines on standard error.
        const QString csv = m_dir.filePath("events.csv");
        r = MeterQuery({m_file, "--from", "2010-04-01", "--to", "2010-04-02", "--channels", "1", "--events",
                        csv, "--xlsx", m_dir.filePath("run.xlsx")});
        QCOMPARE(r.code, 0);
        QVERIFY(r.raw.startsWith("Select [date]"));
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
        QVERIFY(r.raw.isEmpty());
    }

    // Report > Event Log: the whole file newest first, with how long gaps lasted; filters by
    // kinds, channel and text; copy and save what is shown; it follows the file as it grows; a
    // note goes into the file shown, and is refused with a message on a read-only one.
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
        WriteEvents(DataPath("current.mdb"),
                    {"2008-01-01 09:00:00 note long ago", "09:00:00 start Varnik", "09:10:00 link-lost silent",
                     "09:12:05 link-restored", "09:30:00 high@3 over", "09:31:00 note =cmd|calibrated"});
        frmMain main;

        frmEventLog w;
        w.show();
        // At its first size the filter row shows whole whatever caption the kinds button has.
        QCOMPARE(w.size(), QSize(960, 560));
        QList<QStringList> picks{{}, EventKind::All()};
        for (const QString& kind : EventKind::All())
            picks << QStringList{kind};
        for (const QStringList& kinds : picks) {
            w.SetKinds(kinds);
            const QString cut = FilterRowCut(w);
            QVERIFY2(cut.isEmpty(), qPrintable(cut));
        }
        w.SetKinds({});
        QCOMPARE(w.grdEvents->rowCount(), 6);
        QCOMPARE(w.lblCount->text(), QStringLiteral("6 event(s)"));
        QCOMPARE(w.grdEvents->item(5, 6)->text(), QStringLiteral("long ago"));
        QCOMPARE(w.grdEvents->item(2, 2)->text(), QStringLiteral("link-restored"));
        QCOMPARE(w.grdEvents->item(2, 5)->text(), QStringLiteral("2 min 05 s"));

        w.SetKinds({"link-lost", "link-restored"});
        QCOMPARE(w.grdEvents->rowCount(), 2);
        QCOMPARE(w.lblCount->text(), QStringLiteral("2 of 6 event(s)"));
        w.SetKinds({});
        w.cboChannel->setCurrentIndex(3);
        QCOMPARE(w.grdEvents->rowCount(), 1);
        QCOMPARE(w.grdEvents->item(0, 6)->text(), QStringLiteral("over"));
        w.cboChannel->setCurrentIndex(0);
        w.txtSearch->setText("CALIBRATED");
        QCOMPARE(w.grdEvents->rowCount(), 1);
        QTest::mouseClick(w.cmdCopy, Qt::LeftButton);
        QCOMPARE(QApplication::clipboard()->text().split('\n')[1].split('\t').mid(2, 1), QStringList{"note"});
        const QString csv = m_dir.filePath("shown.csv");
        w.dlgSave = [csv] { return csv; };
        QTest::mouseClick(w.cmdSave, Qt::LeftButton);
        QFile saved(csv);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QVERIFY2(saved.readAll().endsWith(",note,,,'=cmd|calibrated\n"), qPrintable(csv));
        w.txtSearch->clear();

        // The note goes into the file shown, which the window names.
        QVERIFY(w.lblNote->text().contains("current.mdb"));
        w.txtNote->setText("calibrated channel 3");
        QTest::mouseClick(w.cmdAddNote, Qt::LeftButton);
        QVERIFY2(host.shown.isEmpty(), qPrintable(host.texts().join('\n')));
        QCOMPARE(w.grdEvents->rowCount(), 7);
        QCOMPARE(w.grdEvents->item(0, 6)->text(), QStringLiteral("calibrated channel 3"));
        QCOMPARE(w.grdEvents->item(0, 1)->text(), QStringLiteral("12:00:00"));
        QVERIFY(w.lblCount->text().contains("note added to") && w.lblCount->text().contains("current.mdb"));
        QVERIFY(w.txtNote->text().isEmpty());

        // Recording writes more events: the window follows by itself.
        QString error;
        QVERIFY2(main.Station().AddNote("from the recording", &error), qPrintable(error));
        w.RefreshIfChanged();
        QCOMPARE(w.grdEvents->rowCount(), 8);

        // Another file: its events, and its notes go into it.
        const QString other = m_dir.filePath("other.mdb");
        QFile::remove(other);
        QVERIFY(QFile::copy(m_file, other));
        w.dlg1 = [other] { return other; };
        QTest::mouseClick(w.cmdSelectFile, Qt::LeftButton);
        QCOMPARE(w.grdEvents->rowCount(), 5);
        QCOMPARE(w.grdEvents->item(0, 2)->text(), QStringLiteral("stop"));
        QVERIFY(w.lblNote->text().contains("other.mdb"));
        w.txtNote->setText("into the other file");
        QTest::mouseClick(w.cmdAddNote, Qt::LeftButton);
        QVERIFY2(host.shown.isEmpty(), qPrintable(host.texts().join('\n')));
        QCOMPARE(SqliteCli(other, "SELECT text FROM EventLog WHERE kind = 'note' ORDER BY id DESC LIMIT 1"),
                 QStringList{"into the other file"});
        QCOMPARE(SqliteCli(DataPath("current.mdb"), "SELECT count(*) FROM EventLog"), QStringList{"8"});

        // The current file turned read-only, so the main window could not bind it: the note is
        // refused (root may still write such a file, hence the unbinding by hand).
        w.dlg1 = [] { return DataPath("current.mdb"); };
        QTest::mouseClick(w.cmdSelectFile, Qt::LeftButton);
        QVERIFY(QFile::setPermissions(DataPath("current.mdb"), QFile::ReadOwner));
        main.Data1->Unbind();
        w.txtNote->setText("refused");
        QTest::mouseClick(w.cmdAddNote, Qt::LeftButton);
        QCOMPARE(host.shown.size(), 1);
        QVERIFY2(host.shown[0].text.contains("current.mdb") &&
                     host.shown[0].text.contains("the note cannot be added"),
                 qPrintable(host.shown[0].text));
        QCOMPARE(w.txtNote->text(), QStringLiteral("refused"));
        QCOMPARE(SqliteCli(DataPath("current.mdb"), "SELECT count(*) FROM EventLog"), QStringList{"8"});
    }

    // A file whose events cannot be read says so where the count would be; the half row of a
    // recorder killed while writing is rolled back and the events are listed.
    void eventLogReadFailures()
    {
        FakeHost host;
        Shared = SharedState{};
        QTemporaryDir app;
        Shared.AppPath = app.path();
        QVERIFY(QDir(app.path()).mkpath("data"));
        const QString hot = m_dir.filePath("hot.mdb");
        QVERIFY(CopyWithHotJournal(m_file, hot));
        const QString garbage = m_dir.filePath("garbage.mdb");
        QFile bad(garbage);
        QVERIFY(bad.open(QIODevice::WriteOnly) && bad.write(QByteArray(8192, 'x')) == 8192);
        bad.close();

        frmEventLog w;
        w.dlg1 = [hot] { return hot; };
        QTest::mouseClick(w.cmdSelectFile, Qt::LeftButton);
        QCOMPARE(w.lblCount->text(), QStringLiteral("5 event(s)"));
        QVERIFY(!QFile::exists(hot + "-journal"));
        w.dlg1 = [garbage] { return garbage; };
        QTest::mouseClick(w.cmdSelectFile, Qt::LeftButton);
        QCOMPARE(w.grdEvents->rowCount(), 0);
        QVERIFY2(w.lblCount->text().contains("Cannot read the event log") &&
                     w.lblCount->text().contains("garbage.mdb"),
                 qPrintable(w.lblCount->text()));
        QVERIFY(host.shown.isEmpty());
    }

    // The events CSV: formulas neutralised as in the rows' CSV, plain decimals, text where a
    // number belongs left empty; a text too long for a workbook cell is cut and says so.
    void eventsCsvAndSheetCells()
    {
        const QString file = MakeDataFile(m_dir.filePath("cells.mdb"), 8, {"'2010-04-01','10:00:00',1,'V'"}, 1);
        WriteEvents(file, {"10:00:00 note =1+2"});
        SqliteCli(file, "INSERT INTO EventLog (date, time, utc, kind, channel, value, text) VALUES "
                        "('2010-04-01','10:00:01','2010-04-01T10:00:01.000Z','high','three','x','@SUM(A1)'),"
                        "('2010-04-01','10:00:02','2010-04-01T10:00:02.000Z','low',2,0.00001,'-5, below'),"
                        "('2010-04-01','10:00:03','2010-04-01T10:00:03.000Z','note',NULL,NULL,"
                        "'+' || replace(hex(zeroblob(20000)), '00', 'ab'))");
        Run r = MeterQuery({file, "--from", "2010-04-01", "--to", "2010-04-01", "--events", "-"});
        QCOMPARE(r.code, 0);
        const QStringList lines = QString::fromUtf8(r.raw).split('\n');
        QVERIFY2(lines[1].endsWith(",note,,,'=1+2"), qPrintable(lines[1]));
        QCOMPARE(lines[2].section(',', 3), QStringLiteral("high,,,'@SUM(A1)"));
        QCOMPARE(lines[3].section(',', 3), QStringLiteral("low,2,0.00001,\"'-5, below\""));
        QVERIFY(lines[4].section(',', 6).startsWith("'+abab"));

        const QString book = m_dir.filePath("cells.xlsx");
        r = MeterQuery({file, "--from", "2010-04-01", "--to", "2010-04-01", "--channels", "1", "--xlsx", book});
        QCOMPARE(r.code, 0);
        QProcess python;
        python.start("/usr/bin/python3", {"-c",
                                          "import sys, openpyxl\n"
                                          "t = openpyxl.load_workbook(sys.argv[1])['Events'].cell(5, 7).value\n"
                                          "print(len(t), t[-60:])",
                                          book});
        QVERIFY(python.waitForFinished(60000));
        const QString out = QString::fromUtf8(python.readAllStandardOutput()).trimmed();
        QVERIFY2(out.startsWith("32") && out.endsWith("[cut here: 7314 more characters in the data file]"),
                 qPrintable(out + python.readAllStandardError()));
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
        WriteEvents(DataPath("run.mdb"),
                    {"10:05:00 note same time", "10:05:00 high@1 over 30", "10:06:00 high@2 not charted"});
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
        QCOMPARE(chart->EventLegend(), (QStringList{"gap: link lost", "note", "high"}));
        QCOMPARE(chart->ShownEvents().gaps.size(), 1);
        QCOMPARE(chart->ShownEvents().gaps[0].from.time(), QTime(10, 10));
        // The note at 10:25 lies inside the charted 10:00 to 10:30; channel 2 is not charted.
        QCOMPARE(chart->ShownEvents().marks.size(), 3);
        EventMark high;
        for (const EventMark& mark : chart->ShownEvents().marks)
            if (mark.kind == EventKind::High)
                high = mark;
        const QString highTip =
            QStringLiteral("high at 2010-04-01 10:05:00 %1, channel 1\nover 30").arg(high.at.toString("t"));
        QCOMPARE(chart->MarkTipAt(QPointF(double(high.at.toMSecsSinceEpoch()), 0), "high"), highTip);
        // Resting the mouse on the mark shows its tooltip; the alarm lies over the note of the same
        // time, so the alarm's tooltip is the one shown.
        auto* view = chart->findChild<QChartView*>();
        QScatterSeries* highMarks = nullptr;
        for (QAbstractSeries* s : view->chart()->series())
            if (s->name() == "high")
                highMarks = qobject_cast<QScatterSeries*>(s);
        QVERIFY(highMarks);
        QCOMPARE(view->chart()->series().last(), highMarks);
        const QPoint at = view->mapFromScene(
            view->chart()->mapToScene(view->chart()->mapToPosition(highMarks->points().first(), highMarks)));
        QHelpEvent rest(QEvent::ToolTip, at, view->viewport()->mapToGlobal(at));
        QApplication::sendEvent(view->viewport(), &rest);
        QTRY_COMPARE(QToolTip::text(), highTip);
        QHelpEvent away(QEvent::ToolTip, QPoint(1, 1), view->viewport()->mapToGlobal(QPoint(1, 1)));
        QApplication::sendEvent(view->viewport(), &away);
        QTRY_VERIFY(!QToolTip::isVisible());
        // The line stops at the gap and goes on after it, one legend entry still.
        QCOMPARE(chart->LineRuns("chan 1"), 2);
        QCOMPARE(chart->Points("chan 1").size(), 2);
        QCOMPARE(chart->SeriesNames(), QStringList{"chan 1"});
        QCOMPARE(chart->XFormat(), QStringLiteral("HH:mm:ss"));
        QTest::mouseClick(w.Command5, Qt::LeftButton);
        QVERIFY(chart->EventLegend().isEmpty());

        // Over two days the axis shows the dates.
        w.Text1[1]->setText("2010-04-02");
        QVERIFY(w.Command1_Click());
        QTest::mouseClick(w.Command2, Qt::LeftButton);
        QCOMPARE(chart->XFormat(), QStringLiteral("yyyy-MM-dd HH:mm"));
        QVERIFY(host.shown.isEmpty());
    }
};

VARNIK_TEST_CLASS(TestEventViews)
#include "test_event_views.moc"
