#include "app/window_registry.h"
#include "controls/led_panel.h"
#include "controls/strip_chart.h"
#include "displays/frmChartDisp.h"
#include "display_fixture.h"
#include "test_registry.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cmath>

class ChartDisplayTest : public QObject {
    Q_OBJECT

    DisplayFixture fx;
    QPointer<frmChartDisp> window;

    frmChartDisp* open()
    {
        window = new frmChartDisp;
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->show();
        return window;
    }
    StripChart* strip() { return child<StripChart>(window, "Strip1"); }
    QString text(const char* name) { return child<QLineEdit>(window, name)->text(); }

  private slots:
    void init() { fx.setUp(); }
    void cleanup()
    {
        delete window;
        fx.tearDown();
    }

    void yRangeFromTheSetupOrTen_data()
    {
        QTest::addColumn<double>("min");
        QTest::addColumn<double>("max");
        QTest::addColumn<QString>("maxText");
        QTest::addColumn<QString>("minText");
        QTest::newRow("both 0") << 0.0 << 0.0 << "10" << "-10";
        QTest::newRow("from the setup") << -5.0 << 2.5 << "2.5" << "-5";
        QTest::newRow("32-bit text") << 0.0 << 0.1 << "0.1" << "0";
        QTest::newRow("only min 0") << 0.0 << 50.0 << "50" << "0";
        QTest::newRow("beyond a 32-bit float") << -5.0 << 1e39 << "10" << "-10";
    }
    void yRangeFromTheSetupOrTen()
    {
        QFETCH(double, min);
        QFETCH(double, max);
        QFETCH(QString, maxText);
        QFETCH(QString, minText);
        Shared.DispSetup[2].MinValue = min;
        Shared.DispSetup[2].MaxValue = max;
        open();
        QCOMPARE(text("Text2(0)"), maxText);
        QCOMPARE(text("Text2(1)"), minText);
        QCOMPARE(strip()->YMax(), maxText.toFloat());
        QCOMPARE(strip()->YMin(), minText.toFloat());
    }

    void setYAxisTakesLeadingNumbersAsTheyAre_data()
    {
        QTest::addColumn<QString>("maxText");
        QTest::addColumn<QString>("minText");
        QTest::addColumn<float>("upper");
        QTest::addColumn<float>("lower");
        QTest::newRow("numbers") << "200" << "-50.5" << 200.0f << -50.5f;
        QTest::newRow("not numbers give 0") << "abc" << "5 V" << 0.0f << 5.0f;
        QTest::newRow("max below min kept") << "-3" << "3" << -3.0f << 3.0f;
        QTest::newRow("beyond a 32-bit float: refused") << "1e39" << "0" << 10.0f << -10.0f;
        QTest::newRow("far below: refused") << "0" << "-4e38" << 10.0f << -10.0f;
    }
    void setYAxisTakesLeadingNumbersAsTheyAre()
    {
        QFETCH(QString, maxText);
        QFETCH(QString, minText);
        QFETCH(float, upper);
        QFETCH(float, lower);
        open();
        child<QLineEdit>(window, "Text2(0)")->setText(maxText);
        child<QLineEdit>(window, "Text2(1)")->setText(minText);
        child<QPushButton>(window, "Command1(0)")->click();
        QCOMPARE(strip()->YMax(), upper);
        QCOMPARE(strip()->YMin(), lower);
        const bool refused = QTest::currentDataTag() == QLatin1String("beyond a 32-bit float: refused") ||
                             QTest::currentDataTag() == QLatin1String("far below: refused");
        QCOMPARE(fx.host->texts().size(), refused ? 1 : 0);
    }

    // Channels 9 to 16 have no setup record: no alarm, and the axis fits what was read, also after
    // the channel was changed in System Setup while the window is open.
    void channelWithoutSetupFitsItsReadings_data()
    {
        QTest::addColumn<bool>("chosenInSetup");
        QTest::newRow("opened on it") << false;
        QTest::newRow("chosen in System Setup while open") << true;
    }
    void channelWithoutSetupFitsItsReadings()
    {
        QFETCH(bool, chosenInSetup);
        if (!chosenInSetup)
            Shared.ChartDisplayChannel = 12;
        open();
        if (chosenInSetup) {
            Shared.ChanValue[2] = 5;
            window->Timer1_Timer();
            Shared.ChartDisplayChannel = 12;
            fx.main->AnnounceSetupSaved();
            QCOMPARE(strip()->pointCount(0), 0); // channel 2's trace is gone
        }
        QCOMPARE(child<QLabel>(window, "Label7")->text(), QStringLiteral("12"));
        Shared.ChanValue[12] = 250;
        window->Timer1_Timer();
        QCOMPARE(strip()->YMax(), 275.0f); // one reading: a tenth of it either side
        QCOMPARE(strip()->YMin(), 225.0f);
        for (double reading : {300.0, 240.0}) {
            Shared.ChanValue[12] = reading;
            window->Timer1_Timer();
        }
        QCOMPARE(strip()->YMax(), 306.0f);
        QCOMPARE(strip()->YMin(), 234.0f);
        QCOMPARE(text("Text2(0)"), QStringLiteral("306"));
        QVERIFY(child<QLabel>(window, "Label5")->isHidden());
        QCOMPARE(fx.host->beeps, 0);

        // Fitted limits are rounded outwards to the channel's decimals, never "-353.03998".
        child<QPushButton>(window, "Command1(1)")->click();
        Shared.ChanDecimals[12] = 2;
        Shared.ChanValue[12] = -320.94;
        window->Timer1_Timer();
        QCOMPARE(text("Text2(0)"), QStringLiteral("-288.84"));
        QCOMPARE(text("Text2(1)"), QStringLiteral("-353.04"));
        QCOMPARE(strip()->YMin(), -353.04f);
    }

    void alarmAtTheLimits_data()
    {
        QTest::addColumn<double>("reading");
        QTest::addColumn<bool>("paused");
        QTest::addColumn<bool>("sound");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("beeps");
        QTest::newRow("equal to high") << 100.0 << false << true << "" << 0;
        QTest::newRow("above high") << 100.001 << false << true << "High !!!" << 1;
        QTest::newRow("equal to low") << -100.0 << false << true << "" << 0;
        QTest::newRow("just below low") << std::nextafter(-100.0, -200.0) << false << true << "Low !!!" << 1;
        QTest::newRow("invalid-reading marker") << 999999.0 << false << true << "High !!!" << 1;
        QTest::newRow("paused: shown, silent") << 150.0 << true << true << "High !!!" << 0;
        QTest::newRow("sound off: shown, silent") << -150.0 << false << false << "Low !!!" << 0;
    }
    void alarmAtTheLimits()
    {
        QFETCH(double, reading);
        QFETCH(bool, paused);
        QFETCH(bool, sound);
        QFETCH(QString, shown);
        QFETCH(int, beeps);
        Shared.ChanValue[2] = reading;
        Shared.AlarmSound = sound;
        open();
        Shared.Paused = paused;
        window->Timer1_Timer();
        QCOMPARE(fx.host->beeps, beeps);
        QCOMPARE(child<QLabel>(window, "Label5")->text(), shown);
        QCOMPARE(child<QLabel>(window, "Label5")->isVisible(), !shown.isEmpty());
        QCOMPARE(Shared.ChartValue, reading);
        QCOMPARE(strip()->point(0, 0), reading);
    }

    void tickShowsReadingUnitAndOnePointEach()
    {
        Shared.ChartDisplayChannel = 40; // a hand-edited default.txt: channel 1
        Shared.ScanRate = 5;
        Shared.ChanValue[1] = 12.345;
        Shared.ChanDecimals[1] = 2;
        Shared.DispSetup[1].UnitAutoSense = false;
        Shared.DispSetup[1].ManualUnit = QStringLiteral("CO2 ppm   ");
        open();
        QCOMPARE(child<QLabel>(window, "Label7")->text(), QStringLiteral("1"));
        QCOMPARE(child<QLabel>(window, "Label2(1)")->text(), QStringLiteral("5 sec"));
        QCOMPARE(child<QLabel>(window, "Label6")->text(), QStringLiteral("Test.mdb"));
        window->Timer1_Timer();
        window->Timer1_Timer();
        QCOMPARE(child<NumLED>(window, "NumLED1")->displayText(), QStringLiteral("   12.35"));
        QCOMPARE(child<QLabel>(window, "Label8")->text(), QStringLiteral("CO2 ppm   "));
        QCOMPARE(strip()->pointCount(0), 2);
        child<QPushButton>(window, "Command1(1)")->click();
        QCOMPARE(strip()->pointCount(0), 0);
    }

    void closingBesideTheTextDisplayKeepsRecording()
    {
        open();
        QEvent activate(QEvent::WindowActivate);
        QApplication::sendEvent(window, &activate);
        QVERIFY(Shared.ChartDispOpen && !Shared.Paused);
        QVERIFY(child<QPushButton>(window, "Command2")->styleSheet().contains(QLatin1String("#80ff80")));
        Shared.TextDispOpen = true;
        child<QPushButton>(window, "Command1(2)")->click();
        QVERIFY(!Shared.ChartDispOpen);
        QVERIFY(!Shared.Paused);
        QVERIFY(fx.main->Timer1->isActive());
        Shared.TextDispOpen = false;
        open()->close();
        QVERIFY(Shared.Paused);
        QVERIFY(!fx.main->Timer1->isActive());
    }

    // Every live display leads to the others, each opened once however often it is asked for.
    void navigationOpensEachDisplayOnce()
    {
        AppWindowRegistry registry;
        SetWindowRegistry(&registry);
        QWidget* chart = registry.Show(WindowId::ChartDisp);
        child<QPushButton>(chart, "cmd2(1)")->click();
        QWidget* angular = registry.Show(WindowId::AngularDisp);
        child<QPushButton>(angular, "Command6")->click();
        QWidget* text = registry.Show(WindowId::TextDisp);
        child<QPushButton>(text, "cmd2(0)")->click();
        child<QPushButton>(angular, "cmd2(0)")->click();
        QCOMPARE(registry.Show(WindowId::ChartDisp), chart);
        for (const char* name : {"frmChartDisp", "frmAngularDisp", "frmTextDisp"}) {
            int shown = 0;
            for (QWidget* w : QApplication::topLevelWidgets())
                shown += w->isVisible() && w->objectName() == QLatin1String(name);
            QVERIFY2(shown == 1, name);
        }
        for (WindowId id : {WindowId::TextDisp, WindowId::AngularDisp, WindowId::ChartDisp})
            registry.Close(id);
        SetWindowRegistry(nullptr);
        QVERIFY(Shared.Paused);
        QVERIFY(!fx.main->Timer1->isActive());
    }
};

VARNIK_TEST_CLASS(ChartDisplayTest)
#include "chart_display_test.moc"
