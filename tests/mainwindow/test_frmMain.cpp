#include "mainwindow/frmMain.h"
#include "core/shared_state.h"
#include "core/startup.h"
#include "datafile/data_file.h"
#include "fake_host.h"
#include "../acquisition/meter_frames.h"
#include "pty_pair.h"
#include "station/recording_station.h"
#include "platform/serial_control.h"
#include "platform/window_registry_ui.h"
#include "spoilt_files.h"
#include "test_registry.h"

#include <QAction>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {
// Stands in for the program's windows: records what is asked of it and runs a hook on Close.
class RecordingRegistry final : public WindowRegistry {
  public:
    QWidget* Show(WindowId id) override
    {
        if (onShow)
            onShow(id);
        shown.append(id);
        open.insert(id);
        return nullptr;
    }
    void Close(WindowId id) override
    {
        if (onClose)
            onClose(id);
        closed.append(id);
        open.remove(id);
    }
    bool IsOpen(WindowId id) const override { return open.contains(id); }
    bool Exists(WindowId id) const override { return id != WindowId::Select16; }

    QList<WindowId> shown;
    QList<WindowId> closed;
    QSet<WindowId> open;
    std::function<void(WindowId)> onShow;
    std::function<void(WindowId)> onClose;
};

// The colour the button is painted in, beside its caption.
QColor centreColour(QPushButton& button)
{
    button.resize(120, 40);
    return QColor(button.grab().toImage().pixel(6, 20));
}

QString panelText(frmMain& w, int panel)
{
    return w.findChild<QLabel*>(QStringLiteral("Panel%1").arg(panel))->text();
}
} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
  private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("data")));
        Shared = SharedState{};
        Shared.AppPath = m_dir->path();
        Shared.DataFileName = QStringLiteral("test.mdb");
        Shared.MaxRecords = 65535;
        SetIdentity(QStringLiteral("/opt/varnik/Datalogger"));
        m_host = std::make_unique<FakeHost>();
        m_windows = std::make_unique<RecordingRegistry>();
        SetWindowRegistry(m_windows.get());
    }

    void cleanup()
    {
        SetWindowRegistry(nullptr);
        m_windows.reset();
        m_host.reset();
        m_dir.reset();
    }

    void menuTree_data()
    {
        QTest::addColumn<QString>("menu");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<QStringList>("captions");

        QTest::newRow("setup") << "mnuSetup"
                               << "Setup(&S)"
                               << QStringList{"mnuScanRate", "mnuFileBar1", "mnuNewDB", "mnuFileBar2",
                                              "mnuExit"}
                               << QStringList{"System Setup", "", "Create New Data File", "", "Exit"};
        QTest::newRow("monitor") << "mnuMonitor"
                                 << "Monitor(&M)" << QStringList{"mnuChart", "mnuAngular2", "mnuTextDisplay"}
                                 << QStringList{"Chart Display", "Angular  Display", "Text Display"};
        QTest::newRow("report") << "mnuReport"
                                << "Report(&R)" << QStringList{"mnuQuery", "mnuQuery_16", "mnuEventLog"}
                                << QStringList{"Data Query", "Data Query 16", "Event Log"};
        QTest::newRow("about") << "mnuHelp"
                               << "About(&H)" << QStringList{"mnuHelpAbout"}
                               << QStringList{"About Datalogger.exe"};
    }

    void menuTree()
    {
        QFETCH(QString, menu);
        QFETCH(QString, title);
        QFETCH(QStringList, items);
        QFETCH(QStringList, captions);
        frmMain w;
        auto* m = w.findChild<QMenu*>(menu);
        QVERIFY(m);
        QCOMPARE(m->title(), title);
        const QList<QAction*> actions = m->actions();
        QCOMPARE(actions.size(), items.size());
        for (int i = 0; i < actions.size(); ++i) {
            QCOMPARE(actions[i]->objectName(), items[i]);
            QCOMPARE(actions[i]->isSeparator(), captions[i].isEmpty());
            if (!captions[i].isEmpty())
                QCOMPARE(actions[i]->text(), captions[i]);
        }
    }

    void identityCaptions_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("about");
        QTest::addColumn<bool>("logoShown");
        QTest::newRow("branded") << "/opt/v/Varnik350"
                                 << "Varnik Measurement system"
                                 << "About Varnik350.exe" << true;
        QTest::newRow("case differs") << "/opt/v/VARNIK350"
                                      << "Data Acquisition Software "
                                      << "About Datalogger.exe" << false;
        QTest::newRow("generic") << "/opt/v/Datalogger"
                                 << "Data Acquisition Software "
                                 << "About Datalogger.exe" << false;
    }

    void identityCaptions()
    {
        QFETCH(QString, executable);
        QFETCH(QString, caption);
        QFETCH(QString, about);
        QFETCH(bool, logoShown);
        SetIdentity(executable);
        frmMain w;
        QCOMPARE(w.windowTitle(), caption);
        QCOMPARE(w.findChild<QAction*>("mnuHelpAbout")->text(), about);
        QCOMPARE(!w.findChild<QLabel*>("Image1")->isHidden(), logoShown);
        QCOMPARE(!w.findChild<QLabel*>("Label1")->isHidden(), logoShown);
    }

    void menuItemsOpenTheirWindows()
    {
        frmMain w;
        bool textFlagBeforeShow = false;
        m_windows->onShow = [&](WindowId id) {
            if (id == WindowId::TextDisp)
                textFlagBeforeShow = Shared.TextDispOpen;
        };
        w.findChild<QAction*>("mnuTextDisplay")->trigger();
        w.findChild<QAction*>("mnuNewDB")->trigger();
        w.findChild<QAction*>("mnuHelpAbout")->trigger();
        w.findChild<QAction*>("mnuQuery_16")->trigger(); // not in this build: disabled, nothing opens
        QVERIFY(textFlagBeforeShow);
        QCOMPARE(m_windows->shown, (QList<WindowId>{WindowId::TextDisp, WindowId::NewDB, WindowId::About}));
        QVERIFY(!w.findChild<QAction*>("mnuQuery_16")->isEnabled());
    }

    void clearEmptiesTheList()
    {
        frmMain w;
        auto* list = w.findChild<QListWidget*>("List1");
        list->addItems({"a", "b"});
        QTest::mouseClick(w.findChild<QPushButton*>("Command1"), Qt::LeftButton);
        QCOMPARE(list->count(), 0);
    }

    void statusBarKeepsDateAndTime()
    {
        frmMain w;
        QCOMPARE(panelText(w, 3), QStringLiteral("10:00:00"));
        QVERIFY(panelText(w, 2).contains(QStringLiteral("7")));
        m_host->clock = m_host->clock.addSecs(65);
        QTRY_COMPARE_WITH_TIMEOUT(panelText(w, 3), QStringLiteral("10:01:05"), 3000);
    }

    // Closing writes default.txt before any other window but the data file dialog unloads, saves
    // the baud rate, then the placement (unless minimized).
    void closingOrder_data()
    {
        QTest::addColumn<bool>("minimized");
        QTest::addColumn<bool>("byCloseBox");
        QTest::newRow("Exit") << false << false;
        QTest::newRow("close box") << false << true;
        QTest::newRow("Exit while minimized") << true << false;
    }

    void closingOrder()
    {
        QFETCH(bool, minimized);
        QFETCH(bool, byCloseBox);
        m_host->settings.insert("Settings/MainLeft", "1500");
        m_host->settings.insert("Settings/MainTop", "1500");
        m_host->settings.insert("Settings/MainWidth", "9000");
        m_host->settings.insert("Settings/MainHeight", "7500");
        m_host->settings.insert("Settings/BaudRate", "2400");
        m_windows->open = {WindowId::TextDisp, WindowId::NewDB, WindowId::About};
        const QString defaults = DataPath(QStringLiteral("default.txt"));
        QStringList seen;
        m_windows->onClose = [&](WindowId) {
            seen << QStringLiteral("%1 %2")
                        .arg(QFile::exists(defaults))
                        .arg(m_host->settings.value("Settings/BaudRate"));
        };

        frmMain w;
        QCOMPARE(Shared.BaudRate, 2400);
        Shared.BaudRate = 9600;
        w.show();
        w.move(200, 120);
        if (minimized)
            w.setWindowState(Qt::WindowMinimized);
        w.Timer1->start();
        if (byCloseBox)
            w.close();
        else
            w.findChild<QAction*>("mnuExit")->trigger();

        // The data file dialog goes first, so a name typed there and not created is not kept.
        QCOMPARE(seen, (QStringList{"0 2400", "1 9600", "1 9600"}));
        QCOMPARE(m_windows->closed, (QList<WindowId>{WindowId::NewDB, WindowId::About, WindowId::TextDisp}));
        QVERIFY(!w.isVisible());
        QVERIFY(!w.Timer1->isActive());
        QCOMPARE(m_host->settings.value("Settings/MainLeft"), minimized ? "1500" : "3000");
        QCOMPARE(m_host->settings.value("Settings/MainTop"), minimized ? "1500" : "1800");
        QCOMPARE(m_host->settings.value("Settings/MainWidth"), "9000");
        QCOMPARE(m_host->settings.value("Settings/MainHeight"), "7500");

        w.CloseProgram(); // a second request changes nothing
        QCOMPARE(m_windows->closed.size(), 3);
    }

    // Exit must end the program's event loop, not only hide the window.
    void exitEndsTheEventLoop()
    {
        frmMain w;
        w.show();
        QTimer::singleShot(0, &w, [&w] { w.findChild<QAction*>("mnuExit")->trigger(); });
        bool hung = false;
        QTimer::singleShot(5000, &w, [&hung] {
            hung = true;
            QCoreApplication::exit(1);
        });
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(!hung);
    }

    void closingGoesOnWhenDefaultsCannotBeWritten()
    {
        frmMain w;
        m_host->shown.clear();
        QVERIFY(QDir(m_dir->path() + "/data").removeRecursively());
        m_windows->open = {WindowId::TextDisp};
        w.CloseProgram();
        QCOMPARE(m_host->shown.size(), 1);
        QCOMPARE(m_host->settings.value("Settings/BaudRate"), "9600");
        QCOMPARE(m_windows->closed, QList<WindowId>{WindowId::TextDisp});
    }

    void placement_data()
    {
        QTest::addColumn<QStringList>("stored"); // left, top, width, height; empty = absent
        QTest::addColumn<QRect>("pixels");
        const QRect defaults(67, 67, 600, 433); // 1000, 9000 and 6500 twips at 96 dpi

        QTest::newRow("first run") << QStringList{"", "", "", ""} << defaults;
        QTest::newRow("saved") << QStringList{"1500", "750", "9000", "7500"} << QRect(100, 50, 600, 500);
        QTest::newRow("not a number") << QStringList{"1500", "abc", "9000", "7500"} << defaults;
        QTest::newRow("fraction") << QStringList{"1500", "1500", "9000.5", "7500"} << defaults;
        QTest::newRow("zero width") << QStringList{"1500", "1500", "0", "7500"} << defaults;
        QTest::newRow("monitor since unplugged") << QStringList{"40000", "1500", "9000", "7500"} << defaults;
        QTest::newRow("far above") << QStringList{"1500", "-90000", "9000", "7500"} << defaults;
        QTest::newRow("partly off, still reachable")
            << QStringList{"-3000", "1500", "9000", "7500"} << QRect(-200, 100, 600, 500);
    }

    void placement()
    {
        QFETCH(QStringList, stored);
        QFETCH(QRect, pixels);
        const char* keys[] = {"MainLeft", "MainTop", "MainWidth", "MainHeight"};
        for (int i = 0; i < 4; ++i) {
            if (!stored[i].isEmpty())
                m_host->settings.insert(QStringLiteral("Settings/") + keys[i], stored[i]);
        }
        frmMain w;
        QCOMPARE(QRect(w.pos(), w.size()), pixels);
        // Not moved: saved back as read (or as the defaults it fell back to), without drift.
        w.CloseProgram();
        const QStringList fallback{"1000", "1000", "9000", "6500"};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(m_host->settings.value(QStringLiteral("Settings/") + keys[i]),
                     pixels == QRect(67, 67, 600, 433) ? fallback[i] : stored[i]);
    }

    void baudRate_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("expected");
        QTest::newRow("absent") << QString() << 9600;
        QTest::newRow("2400") << "2400" << 2400;
        QTest::newRow("not a number") << "fast" << 9600;
    }

    void baudRate()
    {
        QFETCH(QString, stored);
        QFETCH(int, expected);
        if (!stored.isNull())
            m_host->settings.insert("Settings/BaudRate", stored);
        frmMain w;
        QCOMPARE(Shared.BaudRate, expected);
    }

    void firstRunCreatesAnEightChannelFile()
    {
        frmMain w;
        const QString path = DataPath(QStringLiteral("test.mdb"));
        QVERIFY(QFile::exists(path));
        QCOMPARE(CountTableFields(path, QStringLiteral("DataRecord")), int16_t(18));
        QCOMPARE(w.FieldCount, int16_t(16));
        QVERIFY(w.Data1->IsBound());
        QVERIFY2(panelText(w, 1).contains(QStringLiteral("test.mdb")), qPrintable(panelText(w, 1)));
        QVERIFY(m_host->shown.isEmpty());
    }

    void fieldCountFollowsTheFile_data()
    {
        QTest::addColumn<int>("channels");
        QTest::newRow("8 channels") << 8;
        QTest::newRow("12 channels") << 12;
        QTest::newRow("16 channels") << 16;
    }

    void fieldCountFollowsTheFile()
    {
        QFETCH(int, channels);
        QVERIFY(CreateDataFile(DataPath(Shared.DataFileName), channels));
        frmMain w;
        QCOMPARE(int(w.FieldCount), 2 * channels);
        QVERIFY(panelText(w, 1).isEmpty());
    }

    void foreignFileLeavesRecordingOff_data()
    {
        QTest::addColumn<QString>("table");
        QTest::newRow("text file") << QString();
        QTest::newRow("database without the table") << "Notes (a TEXT, b TEXT, c TEXT, d TEXT)";
        // Bound, it would get rows of a date and time only, or none at all.
        QTest::newRow("one reading column") << "DataRecord (date TEXT, time TEXT, \"chan 1\" REAL)";
        QTest::newRow("other column names") << "DataRecord (date TEXT, time TEXT, x REAL, y TEXT)";
    }

    void foreignFileLeavesRecordingOff()
    {
        QFETCH(QString, table);
        const QString path = DataPath(Shared.DataFileName);
        writeForeignFile(path, table);
        const QByteArray before = readAll(path);

        frmMain w;
        QCOMPARE(m_host->shown.size(), 1);
        const QString text = m_host->shown.first().text;
        QVERIFY2(text.contains(QStringLiteral("test.mdb")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("\"Create New Data File\"")), qPrintable(text));
        QVERIFY(!w.Data1->IsBound());
        QCOMPARE(w.FieldCount, int16_t(0));
        QCOMPARE(panelText(w, 1), QStringLiteral("Recording off: no usable data file."));

        // The scan cycle runs on without a file: it writes nothing and the file stays as it was.
        Shared.DataReceived = true;
        HearAllChannels();
        Shared.TextDispOpen = true;
        QSignalSpy ticks(w.Timer1, &QTimer::timeout);
        w.Timer1->start();
        QVERIFY(ticks.wait(2000));
        QString error;
        QVERIFY(!w.savedata(&error));
        QCOMPARE(Shared.RecordCount, 0);
        QCOMPARE(readAll(path), before);
    }

    // A file damaged under the recording: one box naming it, recording off, no box at later ticks.
    void damagedFileTurnsRecordingOff()
    {
        const QString path = DataPath(Shared.DataFileName);
        QVERIFY(CreateDataFile(path, 8));
        frmMain w;
        QVERIFY(w.Data1->IsBound());
        QVERIFY(SpoilDataFile(path));
        Shared.DataReceived = true;
        HearAllChannels();
        Shared.TextDispOpen = true;
        Shared.ScanRate = 0;
        QSignalSpy ticks(w.Timer1, &QTimer::timeout);
        w.Timer1->start();
        QTRY_VERIFY(!w.Data1->IsBound());
        QCOMPARE(m_host->shown.size(), 1);
        const QString text = m_host->shown.first().text;
        QVERIFY2(text.contains(QStringLiteral("test.mdb")) && text.contains(QStringLiteral("malformed")),
                 qPrintable(text));
        QCOMPARE(panelText(w, 1), QStringLiteral("Recording off: the data file is damaged."));
        QVERIFY(ticks.wait(2000));
        QCOMPARE(m_host->shown.size(), 1);
    }

    // Another recorder holds the data file: the program names it and records nothing.
    void fileHeldByAnotherRecorderLeavesRecordingOff()
    {
        const QString path = DataPath(Shared.DataFileName);
        QVERIFY(CreateDataFile(path, 8));
        DataFile recorder;
        QVERIFY(recorder.Bind(path));
        frmMain w;
        QCOMPARE(m_host->shown.size(), 1);
        const QString text = m_host->shown.first().text;
        QVERIFY2(text.contains(QStringLiteral("is being recorded by %1 (process %2)")
                                   .arg(QCoreApplication::applicationName())
                                   .arg(QCoreApplication::applicationPid())),
                 qPrintable(text));
        QVERIFY(!w.Data1->IsBound());
        QCOMPARE(panelText(w, 1), QStringLiteral("Recording off: no usable data file."));
    }

    void failedRebindKeepsTheCurrentFile()
    {
        frmMain w;
        const QString bound = w.Data1->DatabaseName();
        writeForeignFile(DataPath(QStringLiteral("other.mdb")), QString());
        Shared.DataFileName = QStringLiteral("other.mdb");
        QString error;
        QVERIFY(!w.BindDataFile(&error));
        QVERIFY(!error.isEmpty());
        QVERIFY(w.Data1->IsBound());
        QCOMPARE(w.Data1->DatabaseName(), bound);
        QCOMPARE(w.FieldCount, int16_t(16));

        QVERIFY(CreateDataFile(DataPath(QStringLiteral("wide.mdb")), 16));
        Shared.DataFileName = QStringLiteral("wide.mdb");
        QSignalSpy announced(&w, &frmMain::newDataFile);
        QVERIFY(w.BindDataFile(&error));
        w.AnnounceNewDataFile();
        QCOMPARE(w.FieldCount, int16_t(32));
        QCOMPARE(announced.size(), 1);
    }

    void checkPausePaintsOpenDisplaysOnly()
    {
        frmMain w;
        QPushButton text, chart;
        auto* angular = new QPushButton;
        w.RegisterPauseButton(frmMain::Display::Text, &text);
        w.RegisterPauseButton(frmMain::Display::Chart, &chart);
        w.RegisterPauseButton(frmMain::Display::Angular, angular);
        delete angular; // a display that closed: its button must simply be skipped
        Shared.TextDispOpen = true;
        Shared.AngularDispOpen = true;
        Shared.ChartDispOpen = false;

        Shared.Paused = true;
        w.check_pause();
        QCOMPARE(text.text(), QStringLiteral("PAUSE"));
        QCOMPARE(centreColour(text), QColor(255, 0, 0));
        QVERIFY(chart.text().isEmpty());

        Shared.Paused = false;
        w.check_pause();
        QCOMPARE(text.text(), QStringLiteral("RUN"));
        QCOMPARE(centreColour(text), QColor(128, 255, 128));
    }

    // With nothing ever received the watchdog asks on its fourth silent tick; No ends the program.
    void watchdogNoClosesTheProgram()
    {
        m_host->tick = 100000;
        m_host->answers.enqueue(HostServices::No);
        m_windows->open = {WindowId::TextDisp};
        frmMain w;
        w.show();
        w.Timer1->start();
        QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 5000);
        QCOMPARE(m_host->shown.size(), 1);
        QVERIFY(m_host->shown.first().text.startsWith(QStringLiteral("Comm. Port Disconnected!")));
        QVERIFY(QFile::exists(DataPath(QStringLiteral("default.txt"))));
        QCOMPARE(m_windows->closed, QList<WindowId>{WindowId::TextDisp});
        QVERIFY(!w.Timer1->isActive());
    }

    // The meter comes back while the disconnection question is up: the scan goes on behind the
    // box, the port is tried again, the first frame closes the box as Yes, and rows are recorded
    // without anybody clicking (the program on a pseudo-terminal, as with the simulator).
    void framesThatReturnCloseTheQuestion()
    {
        PtyPair pty;
        QVERIFY(pty.isValid());
        m_host->setSetting(QStringLiteral("Ports"), QStringLiteral("COM7"), pty.slavePath());
        Shared.ComPort = 7;
        Shared.BaudRate = 9600;
        Shared.ScanRate = 1;
        Shared.DecimalFormat[2] = QStringLiteral("###0.00");
        Shared.UnitName[1] = QStringLiteral("V");
        Shared.TextDispOpen = true;
        m_host->tick = 100000;
        frmMain w;
        w.Start232();
        QVERIFY(w.MSComm1->PortOpen());
        const auto send = [&pty] {
            QByteArray frames;
            for (char c = '1'; c <= '8'; ++c)
                frames += MeterFrame(QByteArray("4") + c + "010200012345");
            return pty.write(frames);
        };
        const auto later = [this](int ms) {
            m_host->tick += quint32(ms);
            m_host->clock = m_host->clock.addMSecs(ms);
        };
        QVERIFY(send());
        QTRY_VERIFY(Shared.Freshness.Current(8));
        w.Timer1->start();
        int rowsDuringTheBox = -1;
        m_host->onMessage = [&] {
            // Behind the box: the scan timer ticks, the port is tried again after 5 s.
            later(5000);
            QTRY_VERIFY(w.MSComm1->PortOpen());
            QVERIFY(send());
            QTRY_COMPARE(m_host->closed.size(), 1);
            const qint32 before = Shared.RecordCount;
            QSignalSpy ticks(w.Timer1, &QTimer::timeout);
            for (int second = 0; second < 3; ++second) {
                later(1000);
                QVERIFY(send());
                QVERIFY(ticks.wait());
                QVERIFY(ticks.wait());
            }
            rowsDuringTheBox = Shared.RecordCount - before;
        };
        later(16000); // the meter has been silent for longer than the watchdog waits
        QTRY_COMPARE(m_host->shown.size(), 1);
        QCOMPARE(m_host->shown.first().text, QStringLiteral("Comm. Port Disconnected!\r\nDo you want to continue ?"));
        QCOMPARE(m_host->closed, QList<HostServices::Button>{HostServices::Yes});
        QVERIFY(rowsDuringTheBox > 0);
        QVERIFY(w.isVisible() || !w.Closing());
        QVERIFY(w.MSComm1->PortOpen());
        w.Timer1->stop();
    }

  private:
    static void writeForeignFile(const QString& path, const QString& table)
    {
        if (table.isEmpty()) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("these are somebody's notes, not readings\n");
            return;
        }
        {
            auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("foreign"));
            db.setDatabaseName(path);
            QVERIFY(db.open());
            QVERIFY(QSqlQuery(db).exec(QStringLiteral("CREATE TABLE ") + table));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("foreign"));
    }

    static QByteArray readAll(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeHost> m_host;
    std::unique_ptr<RecordingRegistry> m_windows;
};

VARNIK_TEST_CLASS(TestMainWindow)
#include "test_frmMain.moc"
