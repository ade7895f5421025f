// Rows hold only readings that are current: a meter that falls silent, channels never heard, a
// data file that another connection holds. The scan cycle here is the one the program and
// meter-record both tick; frames go through the receiver and decoder as they do there.
#include "acquisition/frame_receiver.h"
#include "acquisition/scan_cycle.h"
#include "core/shared_state.h"
#include "fake_host.h"
#include "meter_frames.h"
#include "sqlite_cli.h"
#include "test_registry.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <sqlite3.h>

#include <memory>

namespace {

// A single-reading frame of channel n (1..16): 123.45 V.
QByteArray SingleFrame(int channel)
{
    return MeterFrame(QByteArray("4") + char('0' + channel) + "010200012345");
}

// A dual-display frame: channel 1, and channel 2 unless the second display is off.
QByteArray DualFrame(bool second = true)
{
    return MeterFrame(second ? "01011201230456" : "0101120?230456");
}

} // namespace

class TestFreshness : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeHost> m_host;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<DataFile> m_data;
    std::unique_ptr<ScanCycle> m_cycle;
    FrameReceiver m_receiver;
    QList<LoggedEvent> m_events;
    QString m_path;
    int m_sent = 0;

    void Start(int channels = 8)
    {
        Shared = SharedState{};
        Shared.DecimalFormat[2] = QStringLiteral("###0.00");
        Shared.DecimalFormat[1] = QStringLiteral("###0.0");
        Shared.UnitName[1] = QStringLiteral("V");
        Shared.ScanRate = 1;
        Shared.TextDispOpen = true;
        m_host = std::make_unique<FakeHost>();
        m_dir = std::make_unique<QTemporaryDir>();
        m_path = m_dir->filePath(QStringLiteral("fresh.mdb"));
        QVERIFY(CreateDataFile(m_path, channels));
        m_data = std::make_unique<DataFile>();
        QVERIFY(m_data->Bind(m_path));
        m_cycle = std::make_unique<ScanCycle>(*m_data);
        m_cycle->FieldCount = m_data->FieldCount();
        m_cycle->Events.OnLogged = [this](const LoggedEvent& e) { m_events << e; };
        m_events.clear();
        m_sent = 0;
    }

    // 200 ms of the program's life: the clock and tick move on, the meter sends `frames` (none:
    // silent), and the scan timer ticks.
    ScanCycle::Tick Step(const QList<QByteArray>& frames)
    {
        m_host->clock = m_host->clock.addMSecs(200);
        m_host->tick += 200;
        for (const QByteArray& frame : frames) {
            Shared.DataReceived = true;
            m_receiver.Receive(frame);
        }
        return m_cycle->Timer1_Timer();
    }
    // A meter of the given kind sending one frame a step for `steps` steps.
    void Meter(const QString& kind, int steps)
    {
        for (int i = 0; i < steps; ++i)
            Step({kind == "dual" ? DualFrame() : SingleFrame(m_sent++ % 8 + 1)});
    }
    void Silence(int steps)
    {
        for (int i = 0; i < steps; ++i)
            Step({});
    }
    QStringList Sql(const QString& sql) { return SqliteCli(m_path, sql); }
    QList<LoggedEvent> EventsOf(const QString& kind) const
    {
        QList<LoggedEvent> found;
        for (const LoggedEvent& e : m_events)
            if (e.kind == kind)
                found << e;
        return found;
    }

  private slots:
    void cleanup()
    {
        m_cycle.reset();
        m_data.reset();
        m_dir.reset();
        m_host.reset();
        Shared = SharedState{};
    }

    void silentMeterRecordsNoStaleRow_data()
    {
        QTest::addColumn<QString>("meter");
        QTest::newRow("dual-display meter") << "dual";
        QTest::newRow("single-reading meter") << "single";
    }
    void silentMeterRecordsNoStaleRow()
    {
        QFETCH(QString, meter);
        Start();
        Meter(meter, 50);
        const QDateTime lastFrame = m_host->clock;
        Silence(50);
        QVERIFY(!m_cycle->SaveRow());
        Meter(meter, 1);
        const QDateTime firstNew = m_host->clock;
        Meter(meter, 24);

        // Rows of readings at most 3 s old, none after that until frames came back.
        const QString gap = QStringLiteral("SELECT count(*) FROM DataRecord WHERE \"time\" > '%1' AND \"time\" < '%2'")
                                .arg(lastFrame.addSecs(3).toString("HH:mm:ss"), firstNew.toString("HH:mm:ss"));
        QCOMPARE(Sql(gap), QStringList{"0"});
        QVERIFY(Sql(QStringLiteral("SELECT count(*) FROM DataRecord WHERE \"time\" > '%1'")
                        .arg(firstNew.toString("HH:mm:ss")))
                    .value(0)
                    .toInt() >= 1);
        QCOMPARE(Shared.RecordCount, SqliteRowCount(m_path));

        const auto lost = EventsOf(EventKind::LinkLost);
        const auto back = EventsOf(EventKind::LinkRestored);
        QCOMPARE(lost.size(), 1);
        QCOMPARE(back.size(), 1);
        QCOMPARE(lost[0].utc, lastFrame.toUTC());
        QCOMPARE(back[0].utc, firstNew.toUTC());
    }

    void saveDataInAGapSaysWhy()
    {
        Start();
        QString error;
        QVERIFY(!m_cycle->SaveRow(&error));
        QVERIFY2(error.contains("no frames have come from the meter yet"), qPrintable(error));
        Meter("dual", 5);
        Silence(16);
        const qint32 rows = Shared.RecordCount;
        QVERIFY(!m_cycle->SaveRow(&error));
        QVERIFY2(error.contains("no frames have come from the meter since"), qPrintable(error));
        QCOMPARE(Shared.RecordCount, rows);
        QCOMPARE(SqliteRowCount(m_path), rows);
    }

    // Rows wait for every channel of the file (at most 3 s after the first frame); a channel still
    // unheard is the invalid-reading marker with no unit, never 0.0.
    void neverHeardChannelsAreInvalid_data()
    {
        QTest::addColumn<QString>("meter");
        QTest::addColumn<int>("earliestRowMs"); // after the first frame
        QTest::addColumn<QString>("invalid");   // channels recorded as 999999
        QTest::newRow("single, all eight") << "single8" << 0 << "";
        QTest::newRow("single, four of eight") << "single4" << 3000 << "5 6 7 8";
        QTest::newRow("dual") << "dual" << 3000 << "3 4 5 6 7 8";
        QTest::newRow("dual, second display off") << "dual1" << 3000 << "2 3 4 5 6 7 8";
    }
    void neverHeardChannelsAreInvalid()
    {
        QFETCH(QString, meter);
        QFETCH(int, earliestRowMs);
        QFETCH(QString, invalid);
        Start();
        const QDateTime first = m_host->clock.addMSecs(200);
        for (int i = 0; i < 40 && SqliteRowCount(m_path) == 0; ++i) {
            if (meter.startsWith("single"))
                Step({SingleFrame(i % meter.mid(6).toInt() + 1)});
            else
                Step({DualFrame(meter == "dual")});
        }
        QCOMPARE(SqliteRowCount(m_path), 1);
        const QTime rowTime = QTime::fromString(Sql("SELECT \"time\" FROM DataRecord").value(0), "HH:mm:ss");
        QVERIFY2(first.time().msecsTo(rowTime) + 999 >= earliestRowMs, qPrintable(rowTime.toString()));

        for (int n = 1; n <= 8; ++n) {
            const QStringList cell = Sql(QStringLiteral("SELECT \"chan %1\", trim(\"unit %1\") FROM DataRecord").arg(n));
            const bool unheard = invalid.split(' ').contains(QString::number(n));
            QCOMPARE(cell.value(0).section('|', 0, 0) == "999999.0", unheard);
            if (unheard)
                QCOMPARE(cell.value(0).section('|', 1), QString());
        }
    }

    // Another connection holds the file: nothing counts as recorded, each due row counts as
    // missed (a tick that comes late for every interval it spans), and no tick waits long.
    void lockedDataFile()
    {
        Start();
        Meter("dual", 25);
        const int rows = SqliteRowCount(m_path);
        QVERIFY(rows >= 1);
        QCOMPARE(Shared.RecordCount, rows);
        {
            QSqlQuery busy(QSqlDatabase::database(m_data->ConnectionName()));
            QVERIFY(busy.exec("PRAGMA busy_timeout") && busy.next());
            QVERIFY2(busy.value(0).toInt() <= 1000, qPrintable(busy.value(0).toString()));
        }

        sqlite3* other = nullptr;
        QCOMPARE(sqlite3_open(m_path.toUtf8().constData(), &other), SQLITE_OK);
        QCOMPARE(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        ScanCycle::Tick tick = ScanCycle::Tick::Idle;
        while (tick == ScanCycle::Tick::Idle)
            tick = Step({DualFrame()});
        QCOMPARE(tick, ScanCycle::Tick::Failed);
        QCOMPARE(m_cycle->MissedRows(), 1);
        QCOMPARE(Shared.RecordCount, rows);
        // The next tick comes 3 s late: three rows were due meanwhile.
        m_host->clock = m_host->clock.addSecs(3);
        QCOMPARE(Step({DualFrame()}), ScanCycle::Tick::Failed);
        QCOMPARE(m_cycle->MissedRows(), 3);
        QCOMPARE(Shared.RecordCount, rows);
        sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(other);

        tick = ScanCycle::Tick::Idle;
        while (tick == ScanCycle::Tick::Idle)
            tick = Step({DualFrame()});
        QCOMPARE(tick, ScanCycle::Tick::Recorded);
        QCOMPARE(Shared.RecordCount, rows + 1);
        const auto missed = EventsOf(EventKind::RowsMissed);
        QCOMPARE(missed.size(), 1);
        QCOMPARE(missed[0].value, std::optional<double>(4));
    }
};

VARNIK_TEST_CLASS(TestFreshness)
#include "test_freshness.moc"
