#include "sqlite_cli.h"
#include "acquisition/scan_cycle.h"
#include "core/shared_state.h"
#include "fake_host.h"
#include "test_registry.h"

#include <QColor>
#include <QTemporaryDir>
#include <QTest>

#include <limits>
#include <memory>

class TestScanCycle : public QObject {
    Q_OBJECT

    const QDateTime m_start{QDate(2026, 12, 7), QTime(10, 0, 0)};
    std::unique_ptr<FakeHost> m_host;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<DataFile> m_data;
    std::unique_ptr<ScanCycle> m_cycle;
    QString m_path;

    // A recording set-up: data arriving, the text display open, readings 1.5, 2.5, ... in volts.
    void Start(int channels, int scanRate)
    {
        Shared = SharedState{};
        Shared.DecimalFormat[0] = QStringLiteral("###0");
        Shared.DecimalFormat[1] = QStringLiteral("###0.0");
        Shared.DecimalFormat[2] = QStringLiteral("###0.00");
        Shared.DecimalFormat[3] = QStringLiteral("###0.000");
        Shared.UnitName[1] = QStringLiteral("V");
        Shared.ScanRate = int16_t(scanRate);
        Shared.DataReceived = true;
        Shared.TextDispOpen = true;
        for (int n = 1; n <= MaxChannel; ++n) {
            Shared.ChanValue[n] = n + 0.5;
            Shared.ChanDecimals[n] = 1;
            Shared.ChanUnit[n] = 1;
        }
        m_host = std::make_unique<FakeHost>();
        m_host->clock = m_start;
        HearAllChannels();
        m_dir = std::make_unique<QTemporaryDir>();
        m_path = m_dir->filePath(QStringLiteral("scan.mdb"));
        QVERIFY(CreateDataFile(m_path, channels));
        m_data = std::make_unique<DataFile>();
        QVERIFY(m_data->Bind(m_path));
        m_cycle = std::make_unique<ScanCycle>(*m_data);
        m_cycle->FieldCount = m_data->FieldCount();
    }

    // Ticks every 200 ms from the current clock up to `ms` after the start, inclusive.
    void TickUntil(qint64 ms)
    {
        while (m_start.msecsTo(m_host->clock) < ms) {
            m_host->clock = m_host->clock.addMSecs(200);
            m_cycle->Timer1_Timer();
        }
    }

    QStringList Times() { return SqliteCli(m_path, QStringLiteral("SELECT \"time\" FROM DataRecord")); }
    QString Column(const QString& column)
    {
        return SqliteCli(m_path, QStringLiteral("SELECT \"%1\" FROM DataRecord").arg(column)).value(0);
    }

  private slots:
    void cleanup()
    {
        m_cycle.reset();
        m_data.reset();
        m_dir.reset();
        m_host.reset();
    }

    void firstRowAfterScanRate()
    {
        Start(8, 5);
        TickUntil(4800);
        QCOMPARE(SqliteRowCount(m_path), 0);
        TickUntil(10000);
        QCOMPARE(Times(), (QStringList{"10:00:05", "10:00:10"}));
        QCOMPARE(Shared.RecordCount, 2);
        QCOMPARE(Column(QStringLiteral("date")), QStringLiteral("2026-12-07"));
    }

    void elapsedCountsSecondBoundaries()
    {
        Start(8, 1);
        m_host->clock = m_start.addMSecs(900);
        m_cycle->Timer1_Timer();
        m_host->clock = m_start.addMSecs(1000);
        m_cycle->Timer1_Timer();
        QCOMPARE(SqliteRowCount(m_path), 1);
    }

    void pauseMovesTheScanTimeOn()
    {
        Start(8, 5);
        TickUntil(6000);
        Shared.Paused = true;
        TickUntil(17000);
        QCOMPARE(Times(), QStringList{"10:00:05"});
        Shared.Paused = false;
        // The scans due at 10 s and 15 s passed while paused: the next one comes 5 s after 15 s.
        TickUntil(19800);
        QCOMPARE(SqliteRowCount(m_path), 1);
        TickUntil(20000);
        QCOMPARE(Times(), (QStringList{"10:00:05", "10:00:20"}));
    }

    void stopsAtMaxRecords()
    {
        Start(8, 1);
        Shared.MaxRecords = 3;
        TickUntil(5000);
        QCOMPARE(SqliteRowCount(m_path), 3);
        QCOMPARE(Shared.RecordCount, 3);
        QVERIFY(m_cycle->SaveRow());
        QCOMPARE(SqliteRowCount(m_path), 3);
        QCOMPARE(Shared.RecordCount, 3);
    }

    void nothingWithoutDataOrDisplay()
    {
        Start(8, 1);
        int checks = 0;
        m_cycle->CheckLink = [&] { ++checks; };
        Shared.DataReceived = false;
        TickUntil(3000);
        QCOMPARE(checks, 15);
        QCOMPARE(SqliteRowCount(m_path), 0);
        QVERIFY(m_cycle->LastScanTime.isNull());

        // The program pauses when no live display is open (its rule, given to the cycle).
        Shared.DataReceived = true;
        m_cycle->Unwatched = [] { return true; };
        TickUntil(6000);
        QVERIFY(Shared.Paused);
        QCOMPARE(SqliteRowCount(m_path), 0);
    }

    // The watchdog runs first: a link that went silent stops rows in the same tick.
    void silentLinkStopsRowsAtOnce()
    {
        Start(8, 1);
        TickUntil(1000);
        m_cycle->CheckLink = [] { Shared.DataReceived = false; };
        TickUntil(3000);
        QCOMPARE(SqliteRowCount(m_path), 1);
    }

    void sixteenChannelsInTickAndSavedata()
    {
        Start(16, 1);
        QCOMPARE(m_cycle->FieldCount, int16_t(32));
        TickUntil(1000);
        QString error;
        QVERIFY2(m_cycle->SaveRow(&error), qPrintable(error));
        // savedata once wrote channels 1 to 8 only, losing 9 to 16 of every row saved by hand.
        QCOMPARE(
            SqliteCli(m_path, QStringLiteral("SELECT \"chan 9\", \"chan 16\", \"unit 16\" FROM DataRecord")),
            (QStringList{"9.5|16.5|V", "9.5|16.5|V"}));
        QCOMPARE(Shared.RecordCount, 2);
    }

    void savedataIgnoresPauseAndInterval()
    {
        Start(8, 60);
        Shared.Paused = true;
        Shared.DataReceived = false;
        QVERIFY(m_cycle->SaveRow());
        QVERIFY(m_cycle->SaveRow());
        QCOMPARE(SqliteRowCount(m_path), 2);
        QVERIFY(m_cycle->LastScanTime.isNull());
    }

    void readingsRoundedToTheirDecimals_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<QString>("stored");
        QTest::newRow("2 decimals") << 12.3456 << 2 << "12.35";
        QTest::newRow("0 decimals") << 12.3456 << 0 << "12.0";
        QTest::newRow("negative") << -0.5 << 2 << "-0.5";
        QTest::newRow("general form beyond 3") << 7.25 << 5 << "7.25";
    }
    void readingsRoundedToTheirDecimals()
    {
        QFETCH(double, value);
        QFETCH(int, decimals);
        QFETCH(QString, stored);
        Start(8, 1);
        Shared.ChanValue[3] = value;
        Shared.ChanDecimals[3] = int16_t(decimals);
        QVERIFY(m_cycle->SaveRow());
        QCOMPARE(Column(QStringLiteral("chan 3")), stored);
    }

    void unitTexts_data()
    {
        QTest::addColumn<bool>("autoSense");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("manual");
        QTest::addColumn<QString>("stored");
        QTest::newRow("meter's unit") << true << 1 << ""
                                      << "V";
        QTest::newRow("unit without a name") << true << 7 << ""
                                             << "    ";
        QTest::newRow("typed unit as stored") << false << 1 << "mV        "
                                              << "mV        ";
        QTest::newRow("no typed unit") << false << 1 << ""
                                       << "    ";
    }
    void unitTexts()
    {
        QFETCH(bool, autoSense);
        QFETCH(int, code);
        QFETCH(QString, manual);
        QFETCH(QString, stored);
        Start(8, 1);
        Shared.ChanUnit[2] = int16_t(code);
        Shared.DispSetup[2].UnitAutoSense = autoSense;
        Shared.DispSetup[2].ManualUnit = manual;
        QVERIFY(m_cycle->SaveRow());
        QCOMPARE(Column(QStringLiteral("unit 2")), stored);
    }

    // Readings the tables cannot place end the tick without a row (and without a crash); the
    // count keeps its increment. savedata reports the same faults.
    void badChannelStateWritesNothing_data()
    {
        QTest::addColumn<int>("unitCode");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<double>("reading");
        QTest::newRow("unit code 301") << 301 << 1 << 1.0;
        QTest::newRow("negative unit code") << -1 << 1 << 1.0;
        QTest::newRow("decimals 17") << 1 << 17 << 1.0;
        QTest::newRow("negative decimals") << 1 << -1 << 1.0;
        QTest::newRow("reading not a number") << 1 << 1 << std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("infinite reading") << 1 << 1 << -std::numeric_limits<double>::infinity();
    }
    void badChannelStateWritesNothing()
    {
        QFETCH(int, unitCode);
        QFETCH(int, decimals);
        QFETCH(double, reading);
        Start(16, 1);
        Shared.ChanUnit[12] = int16_t(unitCode);
        Shared.ChanDecimals[12] = int16_t(decimals);
        Shared.ChanValue[12] = reading;
        TickUntil(1000);
        // The counter shows what the file holds: a row that could not be written is no row.
        QCOMPARE(Shared.RecordCount, 0);
        QString error;
        QVERIFY(!m_cycle->SaveRow(&error));
        QVERIFY2(error.contains(QStringLiteral("Channel 12")), qPrintable(error));
        QCOMPARE(SqliteRowCount(m_path), 0);
    }

    void fileFaultsWriteNothing()
    {
        Start(8, 1);
        m_cycle->FieldCount = 24; // a count the file does not have
        TickUntil(1000);
        QString error;
        QVERIFY(!m_cycle->SaveRow(&error));
        QVERIFY2(error.contains(QStringLiteral("chan 9")), qPrintable(error));
        QCOMPARE(SqliteRowCount(m_path), 0);

        m_cycle->FieldCount = 16;
        m_data->Unbind();
        TickUntil(2000);
        QVERIFY(!m_cycle->SaveRow(&error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(SqliteRowCount(m_path), 0);
    }

    // Without a usable data file recording is off: the counter does not claim rows that were
    // never written.
    void noDataFileCountsNothing()
    {
        Start(8, 1);
        m_data->Unbind();
        TickUntil(5000);
        QString error;
        QVERIFY(!m_cycle->SaveRow(&error));
        QVERIFY2(error.contains(QStringLiteral("Create New Data File")), qPrintable(error));
        QCOMPARE(Shared.RecordCount, 0);
    }

    void clockSetBackRestartsTheInterval()
    {
        Start(8, 5);
        TickUntil(5000);
        m_host->clock = m_start.addSecs(-3600);
        m_cycle->Timer1_Timer();
        m_host->clock = m_host->clock.addSecs(5);
        m_cycle->Timer1_Timer();
        QCOMPARE(Times(), (QStringList{"10:00:05", "09:00:05"}));
    }

    void pauseLook()
    {
        Shared = SharedState{};
        QCOMPARE(CurrentPauseLook().caption, QStringLiteral("RUN"));
        QCOMPARE(CurrentPauseLook().background, qRgb(128, 255, 128));
        Shared.Paused = true;
        QCOMPARE(CurrentPauseLook().caption, QStringLiteral("PAUSE"));
        QCOMPARE(CurrentPauseLook().background, qRgb(255, 0, 0));
    }
};

VARNIK_TEST_CLASS(TestScanCycle)
#include "test_scan_cycle.moc"
