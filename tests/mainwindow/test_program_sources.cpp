// The program's sources from the settings store: a libsigrok device alone records its readings
// into rows (a stand-in for meter-sigrok, then the real one with the demo driver), the sources are
// built anew when the meter source dialog saves (the old ones stopped within a second), and a
// source that does not fit the data file is said in the status bar while nothing asks about an
// RS-232 port nobody uses.
#include "core/config_files.h"
#include "core/shared_state.h"
#include "core/startup.h"
#include "datafile/data_file.h"
#include "fake_host.h"
#include "pty_pair.h"
#include "mainwindow/frmMain.h"
#include "platform/serial_control.h"
#include "setup/frmScanRate.h"
#include "sigrok_stand_in.h"
#include "sqlite_cli.h"
#include "station/reading_source.h"
#include "station/recording_station.h"
#include "test_registry.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Driver "fake": two channels, 0.0015 A DC and 12.50 V DC, twenty times a second.
const char* FakeHelper = R"sh(#!/bin/bash
printf 'meter-sigrok\t1\n'
[ "$1" = --check ] && { echo ok; exit 0; }
printf 'device\tStand-in DMM\t2\n'
while :; do printf 'reading\t0\t0.0015\t4\tcurrent\tA\tdc\nreading\t1\t12.5\t2\tvoltage\tV\tdc\n'; sleep 0.05; done
)sh";

} // namespace

class TestProgramSources : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<FakeHost> m_host;

    void Use(const QStringList& texts)
    {
        m_host->setSetting("Sources", "Count", QString::number(texts.size()));
        for (int i = 0; i < texts.size(); ++i)
            m_host->setSetting("Sources", QStringLiteral("Source%1").arg(i + 1), texts[i]);
    }
    // Three scan ticks a second apart.
    void Record(frmMain& w)
    {
        for (int i = 0; i < 3; ++i) {
            m_host->clock = m_host->clock.addSecs(1);
            QVERIFY(QMetaObject::invokeMethod(w.Timer1, "timeout"));
        }
    }
    // Channels no source fills keep rows waiting until the sources' run is 3 s old: the tick moves
    // on a second at a time, each time after the first source's next reading.
    void Settle(frmMain& w)
    {
        for (int i = 0; i < 4; ++i) {
            m_host->tick += 1000;
            const quint64 frames = w.Station().Source(0).FramesReceived();
            QTRY_VERIFY_WITH_TIMEOUT(w.Station().Source(0).FramesReceived() > frames, 10000);
        }
    }
    static QString Panel(frmMain& w) { return w.findChild<QLabel*>("Panel1")->text(); }

  private slots:
    void init()
    {
        QVERIFY(QDir(m_dir.path()).mkpath("data"));
        Shared = SharedState{};
        Shared.AppPath = m_dir.path();
        Shared.MaxRecords = 65535;
        Shared.ScanRate = 1;
        Shared.ComPort = 1;
        Shared.TextDispOpen = true; // a live display is open: recording does not pause
        SetIdentity("/opt/varnik/Datalogger");
        m_host = std::make_unique<FakeHost>();
        UseSigrokStandIn(m_dir.path(), FakeHelper);
        QFile::remove(DataPath("unit2.dat"));
        QVERIFY(QFile::copy(VARNIK_SOURCE_DIR "/data/unit2.dat", DataPath("unit2.dat")));
        QString error;
        QVERIFY2(LoadUnitNames(&error), qPrintable(error));
    }
    void cleanup() { m_host.reset(); }

    void deviceAloneRecordsRows()
    {
        QVERIFY(CreateDataFile(DataPath("two.mdb"), 8));
        Shared.DataFileName = "two.mdb";
        Use({"sigrok:fake:channels=2"});
        frmMain w;
        QVERIFY(!w.MSComm1);
        QCOMPARE(w.Station().SourceCount(), 1);
        QCOMPARE(w.SourcesInUse(), "sigrok:fake:channels=2 on channels 1 to 2");
        w.Start232();
        w.Start232(); // a second display opening starts no second device
        QTRY_VERIFY(Shared.Freshness.Current(1) && Shared.Freshness.Current(2));
        Settle(w);
        Record(w);
        w.CloseProgram();

        const QStringList rows = SqliteCli(DataPath("two.mdb"), "SELECT [chan 1], [unit 1], [chan 2], [unit 2], [chan 3] FROM DataRecord");
        QCOMPARE(rows.size(), 2); // the first tick sets the scan clock
        for (const QString& row : rows)
            QCOMPARE(row, "0.0015|ADC|12.5|VDC|999999.0");
        const QStringList events = SqliteCli(DataPath("two.mdb"), "SELECT kind || ': ' || text FROM EventLog ORDER BY id");
        QVERIFY2(events.first().endsWith("sigrok:fake:channels=2 on channels 1 to 2"), qPrintable(events.first()));
        QCOMPARE(events.last(), "stop: exit");
        QVERIFY(m_host->shown.isEmpty());
    }

    void rebuiltOnSaveAndAMisfitSaidInTheStatusBar()
    {
        QVERIFY(CreateDataFile(DataPath("eight.mdb"), 8));
        Shared.DataFileName = "eight.mdb";
        PtyPair pty;
        QVERIFY(pty.isValid());
        m_host->setSetting("Ports", "COM1", pty.slavePath());
        frmMain w; // nothing stored: the instrument alone, as always
        QVERIFY(w.MSComm1);
        QCOMPARE(w.SourcesInUse(), "the instrument (RS-232)");

        Use({"meter", "sigrok:fake:channels=2@3"});
        w.SourcesChanged();
        QCOMPARE(w.Station().SourceCount(), 2);
        QVERIFY(w.MSComm1);
        QCOMPARE(w.Station().Source(1).FirstChannel, 3);
        QCOMPARE(Panel(w), QStringLiteral("Meter source: device %1 (port COM1), 9600 baud on channels 1 to 2; "
                                          "sigrok:fake:channels=2@3 on channels 3 to 4.")
                               .arg(pty.slavePath()));
        w.Start232();
        QVERIFY(w.MSComm1->PortOpen());
        QTRY_VERIFY(Shared.Freshness.Current(3));
        Record(w); // the event log runs

        // A device placed past the file's channels: said, left out, and no port question.
        Use({"sigrok:fake:channels=1@12"});
        QElapsedTimer stopping;
        stopping.start();
        w.SourcesChanged();
        QVERIFY(stopping.elapsed() < 1000);
        QVERIFY(!Shared.Freshness.Current(3)); // the old device's readings are not current any more
        QCOMPARE(w.Station().SourceCount(), 0);
        QVERIFY(!w.MSComm1);
        QCOMPARE(Panel(w), "Not recorded: source \"sigrok:fake:channels=1@12\" needs channels 12 to 12, "
                           "but the data file has 8. Change it in Setup > System Setup > Meter Source.");
        w.Start232();
        Record(w);
        frmScanRate setup;
        QCOMPARE(setup.lblSource->text(), "Meter source: no meter source (stored meter source not recorded: source "
                                          "\"sigrok:fake:channels=1@12\" needs channels 12 to 12, but the data file "
                                          "has 8)");
        Shared.TextDispOpen = true;
        QTest::mouseClick(setup.Command2, Qt::LeftButton); // Save restarts no port
        QVERIFY(m_host->shown.isEmpty());

        // A 16-channel file takes it: built again, started at once.
        QVERIFY(CreateDataFile(DataPath("sixteen.mdb"), 16));
        Shared.DataFileName = "sixteen.mdb";
        QVERIFY(w.BindDataFile());
        QCOMPARE(w.Station().SourceCount(), 1);
        QCOMPARE(w.SourcesInUse(), "sigrok:fake:channels=1@12 on channels 12 to 12");
        QTRY_VERIFY(Shared.Freshness.Current(12));
        w.CloseProgram();
        const QStringList stops =
            SqliteCli(DataPath("eight.mdb"), "SELECT text FROM EventLog WHERE kind = 'stop' ORDER BY id");
        QVERIFY2(stops.contains("meter sources changed"), qPrintable(stops.join(", ")));
        // The event log says why the refused device's channels were empty.
        const QStringList starts =
            SqliteCli(DataPath("eight.mdb"), "SELECT text FROM EventLog WHERE kind = 'start' ORDER BY id");
        QVERIFY2(starts.last().endsWith("no meter source; stored meter source not recorded: source "
                                        "\"sigrok:fake:channels=1@12\" needs channels 12 to 12, but the data file has 8"),
                 qPrintable(starts.join("\n")));
    }

    void demoDriverRecordsRows()
    {
        qputenv("VARNIK_SIGROK_HELPER", VARNIK_BINARY_DIR "/meter-sigrok");
        QVERIFY(CreateDataFile(DataPath("demo.mdb"), 8));
        Shared.DataFileName = "demo.mdb";
        Use({"sigrok:demo:samplerate=4:analog_channels=2:logic_channels=0"});
        frmMain w;
        w.Start232();
        QTRY_VERIFY_WITH_TIMEOUT(Shared.Freshness.Current(1) && Shared.Freshness.Current(2), 10000);
        Settle(w);
        Record(w);
        w.CloseProgram();
        const QStringList rows = SqliteCli(DataPath("demo.mdb"), "SELECT [chan 1], [unit 1], [unit 2] FROM DataRecord");
        QCOMPARE(rows.size(), 2); // the first tick sets the scan clock
        for (const QString& row : rows) // A0 is a square wave of 10 V
            QVERIFY2(row == "10.0|VDC|VDC" || row == "-10.0|VDC|VDC", qPrintable(row));
    }
};

VARNIK_TEST_CLASS(TestProgramSources)
#include "test_program_sources.moc"
