#include "mainwindow/frmMain.h"
#include "station/recording_station.h"
#include "core/shared_state.h"
#include "core/startup.h"
#include "datafile/data_file.h"
#include "fake_host.h"
#include "sqlite_cli.h"
#include "test_registry.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// The program's own wiring of the recording events: the main window starts them with its scan
// timer, passes the watchdog's gaps on and stops them with the reason.
class TestProgramEvents : public QObject {
    Q_OBJECT

    static void Tick(frmMain& w) { QVERIFY(QMetaObject::invokeMethod(w.Timer1, "timeout")); }
    static QStringList Story(const QString& file)
    {
        return SqliteCli(DataPath(file), "SELECT kind || ': ' || text FROM EventLog ORDER BY id");
    }

  private slots:
    void startPauseOtherFileGapAndExit()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("data"));
        Shared = SharedState{};
        Shared.AppPath = dir.path();
        Shared.DataFileName = "first.mdb";
        Shared.MaxRecords = 65535;
        SetIdentity("/opt/varnik/Datalogger");
        FakeHost host;
        frmMain w;
        QVERIFY(w.Data1->IsBound());
        Shared.DataReceived = true;
        HearAllChannels();
        Shared.TextDispOpen = true;
        Shared.ScanRate = 1;

        Tick(w);
        w.Station().Pause(true, "RUN/PAUSE pressed on the text display");
        w.Station().Pause(false, "RUN/PAUSE pressed on the text display");
        QVERIFY(CreateDataFile(DataPath("second.mdb"), 8));
        Shared.DataFileName = "second.mdb";
        QVERIFY(w.BindDataFile());
        Tick(w);
        // The meter is silent; the fourth silent tick asks (just after the tick, so that the scan
        // goes on behind the question), and No ends the program.
        host.tick = 100000;
        for (int i = 0; i < 4; ++i)
            Tick(w);
        QTRY_VERIFY(w.Closing());

        const QStringList first = Story("first.mdb");
        QCOMPARE(first.size(), 4);
        QVERIFY2(first[0].startsWith("start: Varnik "), qPrintable(first[0]));
        QCOMPARE(first.mid(1), (QStringList{"paused: RUN/PAUSE pressed on the text display",
                                            "resumed: RUN/PAUSE pressed on the text display",
                                            "stop: another data file chosen"}));
        const QStringList second = Story("second.mdb");
        QCOMPARE(second.size(), 3);
        QCOMPARE(second.mid(1), (QStringList{"link-lost: no frames from the meter since the port was opened",
                                             "stop: exit"}));
    }
};

VARNIK_TEST_CLASS(TestProgramEvents)
#include "test_program_events.moc"
