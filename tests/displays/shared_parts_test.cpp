// What the three live displays share: unit labels, channel pickers, the full data file.
#include "acquisition/scan_cycle.h"
#include "core/config_files.h"
#include "datafile/data_file.h"
#include "datafile/event_log.h"
#include "displays/display_parts.h"
#include "displays/frmAngularDisp.h"
#include "displays/frmChartDisp.h"
#include "displays/frmTextDisp.h"
#include "display_fixture.h"
#include "forward/forwarder.h"
#include "spoilt_files.h"
#include "station/meter_source.h"
#include "test_registry.h"

#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QWheelEvent>
#include <sqlite3.h>

namespace {
void tick(QWidget* w)
{
    if (auto* text = qobject_cast<frmTextDisp*>(w))
        text->Timer1_Timer();
    else if (auto* angular = qobject_cast<frmAngularDisp*>(w))
        angular->Timer1_Timer();
    else
        qobject_cast<frmChartDisp*>(w)->Timer1_Timer();
}
} // namespace

class SharedPartsTest : public QObject {
    Q_OBJECT

    DisplayFixture fx;
    QPointer<QWidget> window;

    QWidget* open(const QString& which)
    {
        if (which == QLatin1String("text"))
            window = new frmTextDisp;
        else if (which == QLatin1String("angular"))
            window = new frmAngularDisp;
        else
            window = new frmChartDisp;
        window->show();
        return window;
    }
    static void addDisplays()
    {
        QTest::addColumn<QString>("which");
        for (const char* which : {"text", "angular", "chart"})
            QTest::newRow(which) << which;
    }

  private slots:
    void init() { fx.setUp(); }
    void cleanup()
    {
        delete window;
        fx.tearDown();
    }

    void unitsOfTenCharactersShowInFull_data() { addDisplays(); }
    void unitsOfTenCharactersShowInFull()
    {
        QFETCH(QString, which);
        const QString unit = QStringLiteral("CO2 ppm WW");
        for (int c = 1; c <= MaxChannel; ++c) {
            Shared.DispSetup[c].UnitAutoSense = false;
            Shared.DispSetup[c].ManualUnit = unit;
        }
        open(which);
        tick(window);
        auto* tabs = window->findChild<QTabWidget*>(QStringLiteral("SSTab1"));
        int checked = 0;
        for (int tab = tabs ? 1 : 0; tab < (tabs ? tabs->count() : 1); ++tab) {
            if (tabs)
                tabs->setCurrentIndex(tab);
            QCoreApplication::processEvents();
            for (QLabel* label : window->findChildren<QLabel*>()) {
                if (label->text() != unit || !label->isVisible())
                    continue;
                ++checked;
                auto* fit = dynamic_cast<FitLabel*>(label);
                QVERIFY2(fit && fit->textFits(), qPrintable(label->objectName()));
            }
        }
        QVERIFY(checked >= (which == QLatin1String("text") ? 49 : 1));
    }

    void pickerStoresWhatItShows_data()
    {
        QTest::addColumn<QString>("which");
        QTest::addColumn<QString>("picker");
        QTest::newRow("text") << "text" << "Combo1(0)";
        QTest::newRow("angular") << "angular" << "Combo2(1)";
    }
    void pickerStoresWhatItShows()
    {
        QFETCH(QString, which);
        QFETCH(QString, picker);
        Shared.TextChan2[0] = 2;
        Shared.AngChan4[1] = 2;
        open(which);
        auto* combo = child<QComboBox>(window, picker);
        QCOMPARE(combo->currentText(), QStringLiteral("2"));
        for (int notch = 0; notch < 2; ++notch) {
            QWheelEvent wheel(QPointF(5, 5), combo->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120),
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(combo, &wheel);
        }
        QCOMPARE(combo->currentText(), QStringLiteral("2"));
        QCOMPARE(Shared.TextChan2[0], int16_t(2));
        QCOMPARE(Shared.AngChan4[1], int16_t(2));

        // The arrow keys step from the channel shown, not from a hidden list position.
        QTest::keyClick(combo, Qt::Key_Down);
        QCOMPARE(combo->currentText(), QStringLiteral("3"));
        QCOMPARE(which == QLatin1String("text") ? Shared.TextChan2[0] : Shared.AngChan4[1], int16_t(3));
    }

    void choiceOutsideChannelsIsSavedAsShown_data()
    {
        QTest::addColumn<QString>("which");
        QTest::newRow("text") << "text";
        QTest::newRow("angular") << "angular";
    }
    void choiceOutsideChannelsIsSavedAsShown()
    {
        QFETCH(QString, which);
        Shared.TextChan1 = 40;
        Shared.AngChan4[2] = -3;
        open(which);
        QCOMPARE(child<QComboBox>(window, which == QLatin1String("text") ? "Combo3" : "Combo2(2)")->currentText(),
                 QStringLiteral("1"));
        child<QPushButton>(window, "Command1")->click();
        Shared.TextChan1 = 7;
        Shared.AngChan4[2] = 7;
        QString error;
        QVERIFY2(LoadDisplayChannels(&error), qPrintable(error));
        QCOMPARE(which == QLatin1String("text") ? Shared.TextChan1 : Shared.AngChan4[2], int16_t(1));
    }

    // Whole on a 1280x800 screen with room for a title bar and a panel; enlarged, the page takes
    // the room and the status row keeps its height.
    void opensWholeOnA1280x800Screen_data() { addDisplays(); }
    void opensWholeOnA1280x800Screen()
    {
        QFETCH(QString, which);
        open(which);
        QVERIFY(window->width() <= 1240 && window->height() <= 720);
        auto* counter = child<QWidget>(window, "Odometer1");
        const int statusHeight = window->height() - counter->mapTo(window, QPoint()).y();
        const QSize larger = window->size() * 3 / 2;
        window->resize(larger);
        QTRY_COMPARE(window->size(), larger);
        QCOMPARE(window->height() - counter->mapTo(window, QPoint()).y(), statusHeight);
    }

    void fullDataFileIsSaid_data() { addDisplays(); }
    void fullDataFileIsSaid()
    {
        QFETCH(QString, which);
        Shared.MaxRecords = 3;
        Shared.RecordCount = 2;
        open(which);
        tick(window);
        QVERIFY(child<QLabel>(window, "lblFileFull")->isHidden());
        QVERIFY(fx.main->savedata());
        QVERIFY(DataFileFull());
        // "Create New Data File" follows the typed name in Shared.DataFileName; the texts name the
        // file in use.
        Shared.DataFileName = QStringLiteral("Typed.mdb");
        const QString full = DataFileFullText(QStringLiteral("Test.mdb"));
        QVERIFY(full.contains(QLatin1String("Test.mdb")));
        tick(window);
        QVERIFY(child<QLabel>(window, "lblFileFull")->isVisible());
        QCOMPARE(child<QLabel>(window, "lblFileFull")->toolTip(), full);
        fx.host->shown.clear();
        child<QPushButton>(window, "Command3")->click();
        QCOMPARE(fx.host->texts(), QStringList{full});
        QCOMPARE(Shared.RecordCount, 3);
        QTRY_COMPARE(fx.main->statusBar()->currentMessage(), full);
        Shared.RecordCount = 0; // a new data file
        QTRY_COMPARE(fx.main->statusBar()->currentMessage(), QString());
    }

    // A data file damaged under the recording turns recording off on every display, not only in
    // the main window they cover: the RUN button reads OFF and the note says why.
    void damagedDataFileIsSaid_data() { addDisplays(); }
    void damagedDataFileIsSaid()
    {
        QFETCH(QString, which);
        open(which);
        tick(window);
        auto* run = child<QPushButton>(window, which == "chart" ? "Command2" : "Command5");
        QCOMPARE(run->text(), QStringLiteral("RUN"));
        QVERIFY(SpoilDataFile(fx.main->Data1->DatabaseName()));
        Shared.DataReceived = true;
        Shared.ScanRate = 0;
        fx.main->Timer1->start();
        QTRY_VERIFY(!fx.main->Data1->IsBound());
        fx.main->Timer1->stop();
        tick(window);
        QCOMPARE(run->text(), QStringLiteral("OFF"));
        QVERIFY(run->toolTip().contains("damaged"));
        auto* note = child<QLabel>(window, "lblFileFull");
        QVERIFY(note->isVisible());
        QCOMPARE(note->text(), QStringLiteral("Recording off: data file damaged"));
    }

    // A data file another program records (or no data file at all) leaves recording off: the
    // displays say so, with the reason, instead of showing RUN over rows that never come.
    void dataFileHeldElsewhereIsSaid()
    {
        const QString path = fx.main->Data1->DatabaseName();
        fx.main->Data1->Unbind();
        DataFile holder;
        QVERIFY(holder.Bind(path));
        QString error;
        QVERIFY(!fx.main->BindDataFile(&error));
        open(QStringLiteral("text"));
        Shared.TextDispOpen = true; // as its activation sets
        tick(window);
        auto* run = child<QPushButton>(window, "Command5");
        QCOMPARE(run->text(), QStringLiteral("OFF"));
        auto* note = child<QLabel>(window, "lblFileFull");
        QVERIFY(note->isVisible());
        QCOMPARE(note->text(), QStringLiteral("Recording off: no data file"));
        QVERIFY2(note->toolTip().contains(error) && error.contains(QLatin1String("being recorded")),
                 qPrintable(note->toolTip()));

        holder.Unbind();
        QVERIFY(fx.main->BindDataFile());
        tick(window);
        QCOMPARE(run->text(), QStringLiteral("RUN"));
        QVERIFY(note->isHidden());
    }

    // Rows that come due and cannot be written (here a file locked by another program; a full disk
    // alike) are said beside the row counter and in the status bar, with how many and why, until a
    // row goes in again.
    void rowsNotWrittenAreSaid()
    {
        open(QStringLiteral("text"));
        tick(window);
        auto* note = child<QLabel>(window, "lblFileFull");
        QVERIFY(note->isHidden());
        sqlite3* other = nullptr;
        QCOMPARE(sqlite3_open(fx.main->Data1->DatabaseName().toUtf8().constData(), &other), SQLITE_OK);
        QCOMPARE(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        const int rows = Shared.RecordCount;
        Shared.DataReceived = true;
        Shared.ScanRate = 0;
        fx.main->Timer1->start();
        QTRY_VERIFY(fx.main->Station().RowTrouble().Missed() >= 2);
        tick(window);
        QVERIFY(note->isVisible());
        QVERIFY2(note->text().startsWith(QLatin1String("Rows not recorded (")), qPrintable(note->text()));
        QVERIFY2(note->toolTip().contains(QLatin1String("locked")), qPrintable(note->toolTip()));
        QTRY_COMPARE(fx.main->statusBar()->currentMessage(), note->toolTip());
        QCOMPARE(Shared.RecordCount, rows);

        QCOMPARE(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(other);
        QTRY_VERIFY(Shared.RecordCount > rows);
        fx.main->Timer1->stop();
        tick(window);
        QVERIFY(note->isHidden());
        QTRY_COMPARE(fx.main->statusBar()->currentMessage(), QString());
    }

    // A query window (or Create New Data File) holds the scan: every display reads PAUSE with the
    // reason, and RUN/PAUSE pressed meanwhile neither logs resumed nor claims to run.
    void heldScanLooksPaused_data() { addDisplays(); }
    void heldScanLooksPaused()
    {
        QFETCH(QString, which);
        open(which);
        auto* run = child<QPushButton>(window, which == "chart" ? "Command2" : "Command5");
        Shared.TextDispOpen = Shared.AngularDispOpen = Shared.ChartDispOpen = true; // as the menu opens them
        fx.main->Station().Events().Start();
        fx.main->Timer1->start();
        QVERIFY(fx.main->SuspendScan(QStringLiteral("a query window is open")));
        tick(window);
        QCOMPARE(run->text(), QStringLiteral("PAUSE"));
        QCOMPARE(run->toolTip(), QStringLiteral("Recording paused: a query window is open."));
        auto* note = child<QLabel>(window, "lblFileFull");
        QVERIFY(note->isVisible());
        run->click();
        run->click();
        tick(window);
        QCOMPARE(run->text(), QStringLiteral("PAUSE"));
        const auto kinds = [this] {
            QList<LoggedEvent> events;
            ReadEvents(fx.main->Data1->DatabaseName(), {}, &events);
            QStringList k;
            for (const LoggedEvent& e : events)
                k.prepend(e.kind);
            return k;
        };
        QCOMPARE(kinds().count(EventKind::Resumed), 0);
        QCOMPARE(kinds().count(EventKind::Paused), 1);

        fx.main->ResumeScan(QStringLiteral("the query window was closed"));
        tick(window);
        QCOMPARE(run->text(), Shared.Paused ? QStringLiteral("PAUSE") : QStringLiteral("RUN"));
        QVERIFY(note->isHidden());
        QCOMPARE(kinds().count(EventKind::Resumed), Shared.Paused ? 0 : 1);
        fx.main->Timer1->stop();
    }

    // Yes to the disconnection question while the port is still missing: the reason is said
    // beside the row counter, where the user works, until the port opens again.
    void missingPortIsSaidOnTheDisplay()
    {
        open(QStringLiteral("text"));
        auto& meter = static_cast<MeterSource&>(fx.main->Station().Source(0));
        meter.Link().OnEvent(SerialLink::Event::OpenFailed, QStringLiteral("COM1: serial device /dev/ttyUSB0 not found"));
        tick(window);
        auto* note = child<QLabel>(window, "lblFileFull");
        QVERIFY(note->isVisible());
        QVERIFY2(note->text().contains(QStringLiteral("/dev/ttyUSB0 not found")), qPrintable(note->text()));
        meter.Link().OnEvent(SerialLink::Event::Opened, QString());
        tick(window);
        QVERIFY(note->isHidden());
    }

    // The main window's status bar is covered by the displays: an outage of a minute shows in
    // each display's status row too, with the main window's short text.
    void serverOutageOfAMinuteIsSaid_data() { addDisplays(); }
    void serverOutageOfAMinuteIsSaid()
    {
        QFETCH(QString, which);
        open(which);
        auto* note = child<QLabel>(window, "lblOutage");
        const ForwardStatus down{ForwardStatus::State::Unreachable, fx.host->clock.addSecs(-59), 12, 0, {}};
        fx.main->Station().ForwardStatusReported(down);
        tick(window);
        QVERIFY(note->isHidden());
        fx.host->clock = fx.host->clock.addSecs(1);
        tick(window);
        QVERIFY(note->isVisible());
        QCOMPARE(note->text(), ForwardStatusText(down, true));
        fx.main->Station().ForwardStatusReported({ForwardStatus::State::UpToDate, {}, 0, 0, {}});
        tick(window);
        QVERIFY(note->isHidden());
    }
};

VARNIK_TEST_CLASS(SharedPartsTest)
#include "shared_parts_test.moc"
