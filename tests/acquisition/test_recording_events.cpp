#include "acquisition/scan_cycle.h"
#include "core/shared_state.h"
#include "datafile/event_log.h"
#include "fake_host.h"
#include "sqlite_cli.h"
#include "test_registry.h"

#include <QTemporaryDir>
#include <QTest>
#include <pwd.h>
#include <unistd.h>

#include <memory>

// The event rules as the scan cycle applies them, one script per case. Steps:
//   row             one second later, data arriving: a tick that is due
//   lost / restored the serial link reports a gap and its end
//   pause / run     the RUN/PAUSE button
//   fail / heal     rows cannot be built (a reading with impossible decimals) / can again
//   evfail / evheal the event log cannot be written (as on a full disk) / can again
//   chN=V           channel N reads V
//   span=V, band=V, delay=N   channel 1's scale maximum (minimum 0), alarm deadband and delay
//   stop / exit     the owner stops recording ("exit"); exit is final: the program ends
// Expected: the kinds written, alarm changes as kind[channel]=value, and the rows recorded.
class TestRecordingEvents : public QObject {
    Q_OBJECT

    const QDateTime m_start{QDate(2026, 12, 7), QTime(10, 0, 0)};
    std::unique_ptr<FakeHost> m_host;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<DataFile> m_data;
    std::unique_ptr<ScanCycle> m_cycle;
    QString m_path;
    bool m_eventsFail = false;
    QStringList m_problems;

    void SetUp(int maxRecords)
    {
        Shared = SharedState{};
        Shared.DecimalFormat[1] = QStringLiteral("###0.0");
        Shared.UnitName[1] = QStringLiteral("V");
        Shared.ScanRate = 1;
        Shared.MaxRecords = maxRecords;
        Shared.DataReceived = true;
        Shared.ComPort = 3;
        Shared.BaudRate = 9600;
        for (int n = 1; n <= MaxChannel; ++n) {
            Shared.ChanValue[n] = 5;
            Shared.ChanDecimals[n] = 1;
            Shared.ChanUnit[n] = 1;
        }
        Shared.DispSetup[1].HighWarning = 10;
        Shared.DispSetup[1].LowWarning = 2;
        m_host = std::make_unique<FakeHost>();
        m_host->clock = m_start;
        HearAllChannels();
        m_dir = std::make_unique<QTemporaryDir>();
        m_path = m_dir->filePath(QStringLiteral("events.mdb"));
        QVERIFY(CreateDataFile(m_path, 8));
        m_data = std::make_unique<DataFile>();
        QVERIFY(m_data->Bind(m_path));
        m_cycle = std::make_unique<ScanCycle>(*m_data);
        m_cycle->FieldCount = m_data->FieldCount();
        m_eventsFail = false;
        m_problems.clear();
        auto write = m_cycle->Events.Write;
        m_cycle->Events.Write = [this, write](const LoggedEvent& e, QString* error, bool* created) {
            if (m_eventsFail)
                return *error = QStringLiteral("database or disk is full"), false;
            return write(e, error, created);
        };
        m_cycle->Events.OnProblem = [this](const QString& p) { m_problems << p; };
    }

    void Run(const QStringList& steps)
    {
        for (const QString& step : steps) {
            m_host->clock = m_host->clock.addSecs(1);
            if (step == "row")
                m_cycle->Timer1_Timer();
            else if (step == "lost")
                m_cycle->Events.LinkLost(QStringLiteral("no frames from the meter for more than 15 s"));
            else if (step == "restored")
                m_cycle->Events.LinkRestored();
            else if (step == "pause" || step == "run")
                Shared.Paused = step == "pause", m_cycle->Events.PauseState(Shared.Paused, QStringLiteral("RUN/PAUSE pressed"));
            else if (step == "suspend" || step == "resume")
                m_cycle->Events.Suspended(step == "suspend", QStringLiteral("a query window ") +
                                                                 (step == "suspend" ? "is open" : "was closed"));
            else if (step == "fail" || step == "heal")
                Shared.ChanDecimals[1] = step == "fail" ? 99 : 1;
            else if (step == "evfail" || step == "evheal")
                m_eventsFail = step == "evfail";
            else if (step == "stop" || step == "exit")
                m_cycle->Events.Stop(QStringLiteral("exit"), step == "exit");
            else if (step.startsWith("span="))
                Shared.DispSetup[1].MaxValue = step.section('=', 1).toDouble();
            else if (step.startsWith("band="))
                Shared.DispSetup[1].AlarmDeadband = step.section('=', 1).toDouble();
            else if (step.startsWith("delay="))
                Shared.DispSetup[1].AlarmDelay = int16_t(step.section('=', 1).toInt());
            else if (step.startsWith("ch"))
                Shared.ChanValue[step.mid(2, step.indexOf('=') - 2).toInt()] =
                    step.section('=', 1).toDouble();
            else
                QFAIL(qPrintable("unknown step " + step));
        }
    }

    QList<LoggedEvent> Events()
    {
        QList<LoggedEvent> events;
        QString error;
        if (!ReadEvents(m_path, {}, &events, &error))
            qWarning() << error;
        std::reverse(events.begin(), events.end());
        return events;
    }

  private slots:
    void cleanup()
    {
        m_cycle.reset();
        m_data.reset();
        m_dir.reset();
        m_host.reset();
    }

    void rules_data()
    {
        QTest::addColumn<int>("maxRecords");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("rows");
        QTest::newRow("start and stop")
            << 100 << QStringList{"row", "row", "stop"} << QStringList{"start", "stop"} << 1;
        QTest::newRow("a new start after a stop")
            << 100 << QStringList{"row", "stop", "stop", "row"} << QStringList{"start", "stop", "start"} << 1;
        QTest::newRow("nothing after the final stop")
            << 100 << QStringList{"row", "exit", "row", "lost", "restored"} << QStringList{"start", "stop"}
            << 1;
        QTest::newRow("no row inside a gap")
            << 100 << QStringList{"row", "lost", "row", "row", "restored", "row"}
            << QStringList{"start", "link-lost", "link-restored"} << 1;
        QTest::newRow("one gap reported once")
            << 100 << QStringList{"lost", "lost", "row", "restored", "restored", "row", "row"}
            << QStringList{"start", "link-lost", "link-restored"} << 1;
        QTest::newRow("pause and resume") << 100 << QStringList{"row", "pause", "row", "pause", "run", "row"}
                                          << QStringList{"start", "paused", "resumed"} << 1;
        QTest::newRow("a window stops the scan timer")
            << 100 << QStringList{"row", "suspend", "resume", "row"} << QStringList{"start", "paused", "resumed"}
            << 1;
        QTest::newRow("scan timer stopped while paused")
            << 100 << QStringList{"row", "pause", "suspend", "resume", "run", "row"}
            << QStringList{"start", "paused", "resumed"} << 1;
        QTest::newRow("paused before start")
            << 100 << QStringList{"pause", "row"} << QStringList{"start", "paused"} << 0;
        QTest::newRow("alarm changes")
            << 100
            << QStringList{"row", "ch1=12", "row", "ch1=13", "row", "ch1=1", "row", "ch2=500", "ch1=5", "row"}
            << QStringList{"start", "high[1]=12", "low[1]=1", "normal[1]=5"} << 4;
        QTest::newRow("invalid reading keeps the state")
            << 100 << QStringList{"ch1=1", "row", "row", "ch1=999999", "row", "ch1=1", "row"}
            << QStringList{"start", "low[1]=1"} << 3;
        // A reading hovering at a limit: one event pair, not one per crossing. The deadband is
        // 1% of the scale span 0..100 unless set.
        QStringList hovering{"span=100", "row"};
        for (int i = 0; i < 200; ++i)
            hovering << (i % 2 ? "ch1=9.2" : "ch1=10.3") << "row";
        QTest::newRow("hovering at the limit")
            << 1000 << (hovering << "ch1=8.9" << "row") << QStringList{"start", "high[1]=10.3", "normal[1]=8.9"}
            << 201;
        QTest::newRow("deadband as set")
            << 100 << QStringList{"band=0.5", "row", "ch1=1", "row", "ch1=2.4", "row", "ch1=2.5", "row", "ch1=12", "row"}
            << QStringList{"start", "low[1]=1", "normal[1]=2.5", "high[1]=12"} << 4;
        QTest::newRow("delay: a state holds for 3 rows")
            << 100
            << QStringList{"delay=3", "row", "ch1=12", "row", "row", "ch1=5", "row", "ch1=12", "row", "row", "row", "row"}
            << QStringList{"start", "high[1]=12"} << 7;
        QTest::newRow("rows missed, written once writing works")
            << 100 << QStringList{"row", "fail", "row", "row", "row", "heal", "row", "row"}
            << QStringList{"start", "rows-missed"} << 2;
        QTest::newRow("events kept while the log cannot be written")
            << 100 << QStringList{"row", "evfail", "lost", "restored", "row", "evheal", "row"}
            << QStringList{"start", "link-lost", "link-restored"} << 2;
        QTest::newRow("full stops recording") << 2 << QStringList{"row", "row", "row", "lost", "row"}
                                              << QStringList{"start", "full", "stop"} << 2;
    }
    void rules()
    {
        QFETCH(int, maxRecords);
        QFETCH(QStringList, steps);
        QFETCH(QStringList, expected);
        QFETCH(int, rows);
        SetUp(maxRecords);
        Run(steps);
        QStringList kinds;
        for (const LoggedEvent& e : Events())
            kinds << (e.channel ? QStringLiteral("%1[%2]=%3").arg(e.kind).arg(*e.channel).arg(*e.value)
                                : e.kind);
        QCOMPARE(kinds, expected);
        QCOMPARE(SqliteRowCount(m_path), rows);
    }

    // What the texts tell: who recorded on which port, why it stopped, what was missed and when.
    void texts()
    {
        SetUp(100);
        m_cycle->Events.Who = QStringLiteral("meter-record 1.0.0");
        Run({"row", "fail", "row", "row", "heal", "row", "stop"});
        const QList<LoggedEvent> events = Events();
        QCOMPARE(events.size(), 3);
        // The account named is the effective one, whatever $USER says.
        QVERIFY2(events[0].text.startsWith(QStringLiteral("meter-record 1.0.0 as user %1, port COM3 (")
                                               .arg(getpwuid(geteuid())->pw_name)) &&
                     events[0].text.endsWith("), 9600 baud"),
                 qPrintable(events[0].text));
        QCOMPARE(events[1].kind, EventKind::RowsMissed);
        QCOMPARE(events[1].value, std::optional<double>(2));
        QVERIFY2(events[1].text.startsWith("2 rows missed from 2026-12-07 10:00:03 to 2026-12-07 10:00:04: "
                                           "Channel 1 has 99 decimals"),
                 qPrintable(events[1].text));
        QCOMPARE(events[1].time, QTime(10, 0, 6)); // when writing worked again
        const auto span = MissedSpan(events[1]);
        QVERIFY(span);
        QCOMPARE(span->first, QDateTime(QDate(2026, 12, 7), QTime(10, 0, 3)));
        QCOMPARE(span->second, QDateTime(QDate(2026, 12, 7), QTime(10, 0, 4)));
        QCOMPARE(events[2].text, QStringLiteral("exit"));
        QVERIFY(m_problems.isEmpty());
    }

    // Another tool damaged the event log: rows go on, the problem is told once.
    void damagedLogDoesNotStopRows()
    {
        SetUp(100);
        SqliteCli(m_path, QStringLiteral("CREATE TABLE EventLog (id INTEGER PRIMARY KEY, note TEXT)"));
        Run({"row", "lost", "restored", "row", "row"});
        QCOMPARE(SqliteRowCount(m_path), 2);
        QCOMPARE(m_problems.size(), 1);
        QVERIFY2(m_problems[0].contains("not an event log"), qPrintable(m_problems[0]));
    }

    // Events that cannot be written pile up only to a bound; the loss is told.
    void keptEventsAreBounded()
    {
        SetUp(100);
        m_cycle->Events.MaxPending = 20;
        Run({"row", "evfail"});
        for (int i = 0; i < 26; ++i)
            m_cycle->Events.PauseState(i % 2 == 0);
        QCOMPARE(m_cycle->Events.Pending(), 20);
        Run({"evheal", "row"});
        QCOMPARE(m_cycle->Events.Pending(), 0);
        QVERIFY2(m_problems.last().startsWith("6 event(s) could not be written"),
                 qPrintable(m_problems.last()));
    }
};

VARNIK_TEST_CLASS(TestRecordingEvents)
#include "test_recording_events.moc"
