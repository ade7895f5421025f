#include "mainwindow/frmMain.h"
#include "datafile/data_file.h"
#include "controls/led_panel.h"
#include "controls/odometer.h"
#include "core/config_files.h"
#include "core/shared_state.h"
#include "displays/display_parts.h"
#include "displays/frmTextDisp.h"
#include "display_fixture.h"
#include "platform/window_registry_ui.h"
#include "test_registry.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <memory>

namespace {
void chooseFromList(QComboBox* combo, const QString& item)
{
    combo->showPopup();
    QAbstractItemView* view = combo->view();
    const QRect rect = view->visualRect(combo->model()->index(combo->findText(item), 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
}

// Knows the chart display only, and records what it was asked to show.
class ChartOnlyRegistry : public WindowRegistry {
  public:
    QWidget* Show(WindowId id) override
    {
        shown.append(id);
        return nullptr;
    }
    void Close(WindowId) override {}
    bool IsOpen(WindowId) const override { return false; }
    bool Exists(WindowId id) const override { return id == WindowId::ChartDisp; }
    QList<WindowId> shown;
};
} // namespace

class TextDisplayTest : public QObject {
    Q_OBJECT

    DisplayFixture fx;
    QPointer<frmTextDisp> window;

    frmTextDisp* open()
    {
        window = new frmTextDisp;
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->show();
        return window;
    }
    QLabel* label(const QString& name) { return child<QLabel>(window, name); }
    NumLED* led(const QString& name) { return child<NumLED>(window, name); }

  private slots:
    void init()
    {
        fx.setUp();
        Shared.TextChan1 = 1;
        Shared.TextChan2 = {1, 2};
        for (int i = 0; i < 8; ++i) {
            Shared.TextChan4[i] = int16_t(i + 1);
            Shared.TextChan6[i] = int16_t(i + 1);
        }
    }
    void cleanup()
    {
        delete window;
        fx.tearDown();
    }

    void opensOnTheSetupPageType_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("tab");
        QTest::newRow("1 Display") << 0 << 1;
        QTest::newRow("6 Display") << 3 << 4;
        QTest::newRow("16 Display") << 6 << 7;
        QTest::newRow("hand-edited type") << 9 << 1;
        QTest::newRow("negative type") << -1 << 1;
    }
    void opensOnTheSetupPageType()
    {
        QFETCH(int, type);
        QFETCH(int, tab);
        Shared.TextDisplayType = int16_t(type);
        open();
        QCOMPARE(child<QTabWidget>(window, "SSTab1")->currentIndex(), tab);
        QCOMPARE(Shared.TextTab, tab);
        QVERIFY(Shared.TextTabSet);
    }

    void remembersTabAcrossCloseAndReopen()
    {
        Shared.TextDisplayType = 3;
        open();
        child<QTabWidget>(window, "SSTab1")->setCurrentIndex(7);
        window->close();
        QTRY_VERIFY(window.isNull());
        open();
        QCOMPARE(child<QTabWidget>(window, "SSTab1")->currentIndex(), 7);

        // The same instance kept after its close loads again when shown.
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        child<QTabWidget>(window, "SSTab1")->setCurrentIndex(2);
        window->close();
        Shared.TextTab = 5;
        window->show();
        QCOMPARE(child<QTabWidget>(window, "SSTab1")->currentIndex(), 5);
        QVERIFY(fx.main->Timer1->isActive());
    }

    void newDataFileSelectsTheConfiguredPage()
    {
        Shared.TextDisplayType = 1;
        open();
        child<QTabWidget>(window, "SSTab1")->setCurrentIndex(6);
        fx.main->AnnounceNewDataFile();
        QCOMPARE(child<QTabWidget>(window, "SSTab1")->currentIndex(), 2);
    }

    void typedPickerTextStoresNothing()
    {
        Shared.TextChan2 = {2, 3};
        open();
        auto* combo = child<QComboBox>(window, "Combo1(0)");
        QCOMPARE(combo->currentText(), QStringLiteral("2"));
        combo->setFocus();
        combo->lineEdit()->selectAll();
        QTest::keyClicks(combo->lineEdit(), "3");
        QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
        child<QPushButton>(window, "Command1")->setFocus(); // leaving the box stores nothing either
        QCOMPARE(Shared.TextChan2[0], int16_t(2));

        QTest::mouseClick(child<QPushButton>(window, "Command1"), Qt::LeftButton);
        QCOMPARE(combo->currentText(), QStringLiteral("2"));
        Shared.TextChan2[0] = 7;
        QString error;
        QVERIFY2(LoadDisplayChannels(&error), qPrintable(error));
        QCOMPARE(Shared.TextChan2[0], int16_t(2));
        QVERIFY(fx.host->shown.isEmpty());
    }

    void chosenChannelShowsAtNextTickLabelAfterSave()
    {
        Shared.TextChan2 = {2, 3};
        Shared.ChanValue[2] = 2;
        Shared.ChanValue[5] = 5;
        open();
        window->Timer1_Timer();
        QCOMPARE(led("NumLED2(1)")->value(), 2.0);

        chooseFromList(child<QComboBox>(window, "Combo1(0)"), "5");
        QCOMPARE(Shared.TextChan2[0], int16_t(5));
        window->Timer1_Timer();
        QCOMPARE(led("NumLED2(1)")->value(), 5.0);
        QCOMPARE(label("Label9(1)")->text(), QStringLiteral("2"));

        QTest::mouseClick(child<QPushButton>(window, "Command1"), Qt::LeftButton);
        QCOMPARE(label("Label9(1)")->text(), QStringLiteral("5"));
        QCOMPARE(label("SavedNote")->text(), QStringLiteral("Saved at 10:00:00")); // the press took
    }

    void choiceOutsideChannelsShowsChannelOne()
    {
        Shared.TextChan1 = 40;
        Shared.TextChan6[2] = 0;
        Shared.ChanValue[1] = 11;
        open();
        window->Timer1_Timer();
        QCOMPARE(label("Label9(0)")->text(), QStringLiteral("1"));
        QCOMPARE(child<QComboBox>(window, "Combo4(2)")->currentText(), QStringLiteral("1"));
        QCOMPARE(led("NumLED2(0)")->value(), 11.0);
        QCOMPARE(led("NumLED3(2)")->value(), 11.0);
        QCOMPARE(Shared.TextChan1, int16_t(40)); // kept as read until the user chooses
    }

    void alarmAtTheLimits_data()
    {
        QTest::addColumn<double>("reading");
        QTest::addColumn<bool>("paused");
        QTest::addColumn<bool>("sound");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("beeps");
        const double hair = std::nextafter(100.0, 200.0);
        QTest::newRow("equal to high") << 100.0 << false << true << "" << 0;
        QTest::newRow("a hair above high") << hair << false << true << "High !!!" << 1;
        QTest::newRow("equal to low") << -100.0 << false << true << "" << 0;
        QTest::newRow("below low") << -100.5 << false << true << "Low !!!" << 1;
        QTest::newRow("paused: shown, silent") << hair << true << true << "High !!!" << 0;
        QTest::newRow("sound off: shown, silent") << hair << false << false << "High !!!" << 0;
    }
    void alarmAtTheLimits()
    {
        QFETCH(double, reading);
        QFETCH(bool, paused);
        QFETCH(bool, sound);
        QFETCH(QString, shown);
        QFETCH(int, beeps);
        Shared.TextChan1 = 3;
        Shared.ChanValue[3] = reading;
        Shared.AlarmSound = sound;
        open();
        Shared.Paused = paused;
        window->Timer1_Timer();
        QCOMPARE(fx.host->beeps, beeps);
        QCOMPARE(label("Label11")->text(), shown);
        QCOMPARE(label("Label11")->isVisible(), !shown.isEmpty());
        QCOMPARE(child<QCheckBox>(window, "Check1")->isChecked(), sound);

        Shared.ChanValue[3] = 0;
        window->Timer1_Timer();
        QVERIFY(label("Label11")->isHidden());
        QVERIFY(label("Label11")->text().isEmpty());
    }

    void sameChannelOnThreePanelsBeepsThrice()
    {
        Shared.TextChan1 = 4;
        Shared.TextChan2 = {4, 4};
        Shared.ChanValue[4] = 1000;
        open();
        Shared.Paused = false;
        window->Timer1_Timer();
        QCOMPARE(fx.host->beeps, 3);
        window->Timer1_Timer();
        QCOMPARE(fx.host->beeps, 6);
    }

    void pagesOfFourAndMoreNeverAlarm()
    {
        Shared.ChanValue[7] = 1e6; // on the 4-, 6-, 8-, 12- and 16-panel pages, not on 1 or 2
        open();
        Shared.Paused = false;
        window->Timer1_Timer();
        QCOMPARE(fx.host->beeps, 0);
        QVERIFY(label("Label11")->isHidden());
        QCOMPARE(led("NumLED4(6)")->value(), 1e6);
    }

    void unitsAndDecimalsFollowTheSetup()
    {
        Shared.UnitName[5] = QStringLiteral("mV");
        Shared.ChanUnit[1] = 5;
        Shared.ChanDecimals[1] = 2;
        Shared.ChanValue[1] = 1.5;
        Shared.DispSetup[2].UnitAutoSense = false;
        Shared.DispSetup[2].ManualUnit = QStringLiteral("V         ");
        Shared.DispSetup[2].Decimals = 3;
        Shared.ChanValue[2] = 1.5;
        Shared.ChanUnit[3] = 400; // outside the unit table
        Shared.ChanDecimals[3] = 300;
        Shared.ChanValue[3] = 2.25;
        open();
        window->Timer1_Timer();

        QCOMPARE(label("Label3(1)")->text(), QStringLiteral("mV"));
        QCOMPARE(led("NumLED2(1)")->displayText(), QStringLiteral("     1.50"));
        QVERIFY(!led("NumLED2(1)")->manualMarker());
        QCOMPARE(label("Label3(2)")->text(), QStringLiteral("V         "));
        QCOMPARE(led("NumLED2(2)")->displayText(), QStringLiteral("    1.500"));
        QVERIFY(led("NumLED2(2)")->manualMarker());
        QCOMPARE(label("Label_16(1)")->text(), QStringLiteral("V         "));
        QCOMPARE(label("Label_16(2)")->text(), QString());
        QCOMPARE(led("NumLED6(2)")->displayText(), QStringLiteral("2.25000"));

        Shared.DispSetup[2].UnitAutoSense = true;
        window->Timer1_Timer();
        QVERIFY(!led("NumLED2(2)")->manualMarker());
    }

    void tickShowsClockCountAndScanRate()
    {
        Shared.RecordCount = 1234;
        open();
        QCOMPARE(label("Label17")->text(), QStringLiteral("10 sec"));
        QCOMPARE(label("Label7(5)")->text(), QStringLiteral("Scan Rate"));
        fx.host->clock = QDateTime(QDate(2026, 3, 4), QTime(17, 5, 9));
        window->Timer1_Timer();
        QCOMPARE(label("Label16")->text(), QStringLiteral("03-04-2026"));
        QCOMPARE(label("Label15")->text(), QStringLiteral("17:05:09"));
        QCOMPARE(child<Odometer>(window, "Odometer1")->displayText(), QStringLiteral("001234"));
        QVERIFY(!child<Odometer>(window, "Odometer1")->rolling());

        child<QCheckBox>(window, "Check1")->click();
        QVERIFY(!Shared.AlarmSound);
    }

    void saveFailureIsShownAndChoicesStillRedrawn()
    {
        Shared.TextChan1 = 4;
        open();
        QVERIFY(QDir(fx.folder->path() + "/data").removeRecursively());
        chooseFromList(child<QComboBox>(window, "Combo3"), "6");
        QTest::mouseClick(child<QPushButton>(window, "Command1"), Qt::LeftButton);
        QCOMPARE(fx.host->shown.size(), 1);
        QVERIFY2(fx.host->shown[0].text.contains("dispchan.dat"), qPrintable(fx.host->shown[0].text));
        QCOMPARE(label("SavedNote")->text(), QStringLiteral("Not saved"));
        QCOMPARE(label("Label9(0)")->text(), QStringLiteral("6"));
    }

    void pageSetupPausesAndActivationResumes()
    {
        open();
        QEvent activate(QEvent::WindowActivate);
        QApplication::sendEvent(window, &activate);
        QVERIFY(Shared.TextDispOpen);
        QVERIFY(!Shared.Paused);
        child<QTabWidget>(window, "SSTab1")->setCurrentIndex(0);
        QVERIFY(Shared.Paused);
        // A click on "Page Setup" of a display that was not active activates it after the tab
        // changed: recording stays paused while the page setup is shown.
        QApplication::sendEvent(window, &activate);
        QVERIFY(Shared.Paused);
        child<QTabWidget>(window, "SSTab1")->setCurrentIndex(1);
        QVERIFY(!Shared.Paused);
        // Leaving "Page Setup" for a page resumes what it paused, and only that.
        child<QTabWidget>(window, "SSTab1")->setCurrentIndex(0);
        child<QTabWidget>(window, "SSTab1")->setCurrentIndex(1);
        QVERIFY(!Shared.Paused);
        PauseRecording(true, QStringLiteral("the user"));
        child<QTabWidget>(window, "SSTab1")->setCurrentIndex(0);
        child<QTabWidget>(window, "SSTab1")->setCurrentIndex(2);
        QVERIFY(Shared.Paused);
        PauseRecording(false, QStringLiteral("the user"));

        QTest::mouseClick(child<QPushButton>(window, "Command5"), Qt::LeftButton);
        QVERIFY(Shared.Paused);
        QTest::mouseClick(child<QPushButton>(window, "Command5"), Qt::LeftButton);
        QVERIFY(!Shared.Paused);
    }

    void closingLastDisplayStopsTheScanTimer()
    {
        open();
        QVERIFY(fx.main->Timer1->isActive());
        QVERIFY(child<QTimer>(window, "Timer1")->isActive());
        Shared.TextDispOpen = true;
        window->close();
        QVERIFY(!Shared.TextDispOpen);
        QVERIFY(Shared.Paused);
        QVERIFY(!fx.main->Timer1->isActive());
    }

    void closingBesideAnotherDisplayKeepsRecording()
    {
        Shared.ChartDispOpen = true;
        open();
        Shared.Paused = false;
        child<QPushButton>(window, "cmd2(2)")->click();
        QVERIFY(!Shared.TextDispOpen);
        QVERIFY(!Shared.Paused);
        QVERIFY(fx.main->Timer1->isActive());
    }

    void navigationOffersOnlyDisplaysThatExist()
    {
        ChartOnlyRegistry registry;
        SetWindowRegistry(&registry);
        open();
        QVERIFY(child<QPushButton>(window, "cmd2(0)")->isEnabled());
        QVERIFY(!child<QPushButton>(window, "cmd2(1)")->isEnabled());
        QTest::mouseClick(child<QPushButton>(window, "cmd2(0)"), Qt::LeftButton);
        SetWindowRegistry(nullptr);
        QCOMPARE(registry.shown, QList<WindowId>{WindowId::ChartDisp});
        QVERIFY(window->isVisible());
    }

    void saveDataFailureIsShown()
    {
        open();
        fx.main->Data1->Unbind(); // no data file: the row cannot be written
        QString expected;
        QVERIFY(!fx.main->savedata(&expected));
        fx.host->shown.clear();
        QTest::mouseClick(child<QPushButton>(window, "Command3"), Qt::LeftButton);
        QCOMPARE(fx.host->texts(), QStringList{expected});
    }
};

VARNIK_TEST_CLASS(TextDisplayTest)
#include "text_display_test.moc"
