#include "controls/gauge.h"
#include "core/config_files.h"
#include "displays/frmAngularDisp.h"
#include "display_fixture.h"
#include "test_registry.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <cmath>

class AngularDisplayTest : public QObject {
    Q_OBJECT

    DisplayFixture fx;
    QPointer<frmAngularDisp> window;

    frmAngularDisp* open()
    {
        window = new frmAngularDisp;
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->show();
        return window;
    }
    QLineEdit* box(int k) { return child<QLineEdit>(window, QStringLiteral("Text4(%1)").arg(k)); }
    void type(int k, const QString& text)
    {
        box(k)->setText(text);
        QTest::keyClick(box(k), Qt::Key_Return);
    }

  private slots:
    void init() { fx.setUp(); }
    void cleanup()
    {
        delete window;
        fx.tearDown();
    }

    void zonesFollowTheWarnings_data()
    {
        QTest::addColumn<double>("min");
        QTest::addColumn<double>("max");
        QTest::addColumn<double>("low");
        QTest::addColumn<double>("high");
        QTest::addColumn<QList<double>>("zones"); // start, stop of zones 0, 1, 2
        QTest::newRow("inside") << 0.0 << 100.0 << 20.0 << 80.0 << QList<double>{0, 20, 20, 80, 80, 100};
        QTest::newRow("low on the minimum") << 0.0 << 100.0 << 0.0 << 80.0 << QList<double>{0, 1, 0, 80, 80, 100};
        QTest::newRow("high on the maximum") << 0.0 << 100.0 << 20.0 << 100.0
                                             << QList<double>{0, 20, 20, 100, 99, 100};
        QTest::newRow("max 0: empty first zone") << 0.0 << 0.0 << 0.0 << 0.0 << QList<double>{0, 0, 0, 0, 0, 0};
    }
    void zonesFollowTheWarnings()
    {
        QFETCH(double, min);
        QFETCH(double, max);
        QFETCH(double, low);
        QFETCH(double, high);
        QFETCH(QList<double>, zones);
        DispSetupRecord& s = Shared.DispSetup[3];
        s.MinValue = min;
        s.MaxValue = max;
        s.LowWarning = low;
        s.HighWarning = high;
        s.LargeTickDelta = 10;
        s.SmallTickDelta = 0;
        s.LabelDelta = 20;
        AGauge gauge;
        frmAngularDisp::AGaugeSetup(&gauge, 3);
        QCOMPARE(gauge.ScaleMinValue(), min);
        QCOMPARE(gauge.ScaleMaxValue(), max);
        for (int z = 0; z < 3; ++z) {
            gauge.setAnnularID(z);
            QCOMPARE(gauge.AnnularStartValue(), zones[2 * z]);
            QCOMPARE(gauge.AnnularStopValue(), zones[2 * z + 1]);
        }
        gauge.setTicID(1);
        QCOMPARE(gauge.TicDelta(), 0.0);
        gauge.setTicID(2);
        QCOMPARE(gauge.TicDelta(), 20.0);
    }

    // Slots 0 (one-gauge page), 1 and 2 (two-gauge page) show channels 1, 2, 3; the four-gauge
    // page shows 4..7 and never alarms.
    void alarmsAndBeeps_data()
    {
        QTest::addColumn<QList<double>>("readings"); // channels 1..7
        QTest::addColumn<bool>("paused");
        QTest::addColumn<bool>("sound");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("beeps");
        const double hair = std::nextafter(100.0, 200.0);
        QTest::newRow("equal to high") << QList<double>{100, 0, 0, 0, 0, 0, 0} << false << true << "" << 0;
        QTest::newRow("a hair above high") << QList<double>{hair, 0, 0, 0, 0, 0, 0} << false << true << "High !!!"
                                           << 1;
        QTest::newRow("equal to low") << QList<double>{-100, 0, 0, 0, 0, 0, 0} << false << true << "" << 0;
        QTest::newRow("two-gauge page: the later gauge wins")
            << QList<double>{0, 150, -150, 0, 0, 0, 0} << false << true << "Low !!!" << 2;
        QTest::newRow("paused: shown, silent") << QList<double>{0, 150, 0, 0, 0, 0, 0} << true << true << "High !!!"
                                               << 0;
        QTest::newRow("sound off: shown, silent")
            << QList<double>{0, 0, -150, 0, 0, 0, 0} << false << false << "Low !!!" << 0;
        QTest::newRow("four-gauge page never alarms")
            << QList<double>{0, 0, 0, 1e6, -1e6, 150, 999999} << false << true << "" << 0;
    }
    void alarmsAndBeeps()
    {
        QFETCH(QList<double>, readings);
        QFETCH(bool, paused);
        QFETCH(bool, sound);
        QFETCH(QString, shown);
        QFETCH(int, beeps);
        for (int c = 1; c <= 7; ++c)
            Shared.ChanValue[c] = readings[c - 1];
        Shared.AlarmSound = sound;
        open();
        Shared.Paused = paused;
        window->Timer1_Timer();
        QCOMPARE(fx.host->beeps, beeps);
        auto* label8 = child<QLabel>(window, "Label8");
        QCOMPARE(label8->text(), shown);
        QCOMPARE(label8->isVisible(), !shown.isEmpty());
    }

    void everyValueLabelShowsTheReadingItself()
    {
        Shared.AngChan2[0] = 4; // channel 4 on the one-gauge and on the four-gauge page
        Shared.DispSetup[4].Scale = 2;
        Shared.DispSetup[4].MaxValue = 100;
        Shared.ChanValue[4] = 21.5;
        Shared.ChanDecimals[4] = 1;
        open();
        window->Timer1_Timer();
        QCOMPARE(child<QLabel>(window, "Label2(0)")->text(), QStringLiteral("21.5"));
        QCOMPARE(child<QLabel>(window, "Label7(0)")->text(), QStringLiteral("21.5"));
        QCOMPARE(child<AGauge>(window, "AGauge3(0)")->needleValue(), 21.5);
        QCOMPARE(child<AGauge>(window, "AGauge2(0)")->needleValue(), 21.5);
    }

    void unitAutoSenseHidesManualUnitAndHoldsAtTheNextTick()
    {
        Shared.UnitName[3] = QStringLiteral("mV");
        Shared.ChanUnit[1] = 3;
        Shared.DispSetup[1].UnitAutoSense = false;
        Shared.DispSetup[1].ManualUnit = QStringLiteral("CO2 ppm   ");
        open();
        child<QTabWidget>(window, "SSTab1")->setCurrentIndex(0);
        QVERIFY(box(9)->isVisible());
        QCOMPARE(box(9)->text(), QStringLiteral("CO2 ppm   "));
        child<QCheckBox>(window, "Check1")->click();
        QVERIFY(box(9)->isHidden());
        QVERIFY(Shared.DispSetup[1].UnitAutoSense);
        window->Timer1_Timer();
        QCOMPARE(child<QLabel>(window, "Label1(0)")->text(), QStringLiteral("mV"));
    }

    void enterCommitsOneFieldAndTheGaugeWaitsForSave()
    {
        Shared.ChanValue[2] = 50;
        open();
        child<QTabWidget>(window, "SSTab1")->setCurrentIndex(0);
        child<QSpinBox>(window, "UpDown1")->setValue(2);
        type(5, QStringLiteral("40abc")); // the leading number counts on Enter
        QCOMPARE(Shared.DispSetup[2].HighWarning, 40.0);
        type(7, QStringLiteral("2.5")); // halves to even
        QCOMPARE(Shared.DispSetup[2].Decimals, int16_t(2));
        auto* gauge = child<AGauge>(window, "AGauge2(1)");
        gauge->setAnnularID(2);
        QCOMPARE(gauge->AnnularStartValue(), 100.0);
        window->Timer1_Timer();
        QCOMPARE(child<QLabel>(window, "Label8")->text(), QStringLiteral("High !!!"));
        QVERIFY(fx.host->shown.isEmpty());
    }

    void boxWithoutNumberIsReportedAndNotStored_data()
    {
        QTest::addColumn<int>("box");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("save"); // false: Enter
        QTest::addColumn<QString>("label");
        QTest::newRow("Enter: no number") << 0 << "abc" << false << "\"Min Value\"";
        QTest::newRow("Enter: scale must be a whole number") << 8 << "2x" << false << "\"Scale\"";
        QTest::newRow("Enter: decimals beyond 16 bits") << 7 << "70000" << false << "\"Decimals\"";
        QTest::newRow("Save: trailing text") << 5 << "40abc" << true << "\"High Warning\"";
        QTest::newRow("Save: empty") << 2 << "" << true << "\"Large Tick Delta\"";
    }
    void boxWithoutNumberIsReportedAndNotStored()
    {
        QFETCH(int, box);
        QFETCH(QString, text);
        QFETCH(bool, save);
        QFETCH(QString, label);
        open();
        child<QTabWidget>(window, "SSTab1")->setCurrentIndex(0);
        const DispSetupRecord before = Shared.DispSetup[1];
        type(1, QStringLiteral("55")); // another box, good, and not yet stored by Save
        const double storedMax = Shared.DispSetup[1].MaxValue;
        if (save) {
            this->box(box)->setText(text);
            child<QPushButton>(window, "Command1")->click();
        } else {
            type(box, text);
        }
        QCOMPARE(fx.host->shown.size(), 1);
        QVERIFY2(fx.host->shown[0].text.contains(label), qPrintable(fx.host->shown[0].text));
        QCOMPARE(Shared.DispSetup[1].MinValue, before.MinValue);
        QCOMPARE(Shared.DispSetup[1].LargeTickDelta, before.LargeTickDelta);
        QCOMPARE(Shared.DispSetup[1].HighWarning, before.HighWarning);
        QCOMPARE(Shared.DispSetup[1].Scale, before.Scale);
        QCOMPARE(Shared.DispSetup[1].Decimals, before.Decimals);
        QCOMPARE(Shared.DispSetup[1].MaxValue, storedMax); // the earlier Enter stays
    }

    void saveWritesDisplayDatThatReadsBackEqual()
    {
        open();
        child<QTabWidget>(window, "SSTab1")->setCurrentIndex(0);
        child<QSpinBox>(window, "UpDown1")->setValue(3);
        const QStringList texts{"-5", "250.5", "50", "10", "25", "200", "-1.25", "3", "0.5", "kPa"};
        for (int k = 0; k < texts.size(); ++k)
            box(k)->setText(texts[k]);
        child<QLineEdit>(window, "AlarmBand")->setText(QStringLiteral("0.5"));
        child<QLineEdit>(window, "AlarmDelay")->setText(QStringLiteral("3"));
        child<QPushButton>(window, "Command1")->click();
        QVERIFY2(fx.host->shown.isEmpty(), qPrintable(fx.host->texts().join('\n')));
        QCOMPARE(QFile(DataPath(QStringLiteral("display.dat"))).size(), qint64(752 + AlarmBlockSize));
        QVERIFY(child<QLabel>(window, "SavedNote")->text().startsWith(QStringLiteral("Saved at ")));
        QVERIFY(QFile::exists(DataPath(QStringLiteral("dispchan.dat"))));
        QCOMPARE(child<AGauge>(window, "AGauge2(2)")->ScaleMaxValue(), 250.5);

        const auto saved = Shared.DispSetup;
        Shared.DispSetup = {};
        QString error;
        QVERIFY2(LoadDisplaySetup(&error), qPrintable(error));
        for (int c = 1; c <= DisplayRecordCount; ++c) {
            const DispSetupRecord &a = saved[c], &b = Shared.DispSetup[c];
            QCOMPARE(b.MinValue, a.MinValue);
            QCOMPARE(b.MaxValue, a.MaxValue);
            QCOMPARE(b.LabelDelta, a.LabelDelta);
            QCOMPARE(b.Decimals, a.Decimals);
            QCOMPARE(b.HighWarning, a.HighWarning);
            QCOMPARE(b.LowWarning, a.LowWarning);
            QCOMPARE(b.Scale, a.Scale);
            QCOMPARE(b.UnitAutoSense, a.UnitAutoSense);
            QCOMPARE(b.ManualUnit, a.ManualUnit);
        }
        QCOMPARE(Shared.DispSetup[3].ManualUnit, QStringLiteral("kPa       "));
        QCOMPARE(Shared.DispSetup[3].LowWarning, -1.25);
        QCOMPARE(Shared.DispSetup[3].AlarmDeadband, 0.5);
        QCOMPARE(Shared.DispSetup[3].AlarmDelay, 3);
        QCOMPARE(Shared.DispSetup[2].AlarmDeadband, -1.0);
    }

    void pickerShowsNewChannelAtTickFrameAfterSave()
    {
        Shared.ChanValue[5] = 5;
        open();
        auto* picker = child<QComboBox>(window, "Combo1(0)");
        picker->setCurrentIndex(4);
        emit picker->activated(4);
        QCOMPARE(Shared.AngChan2[0], int16_t(5));
        window->Timer1_Timer();
        QCOMPARE(child<AGauge>(window, "AGauge2(0)")->needleValue(), 5.0);
        QCOMPARE(child<QGroupBox>(window, "Frame2(0)")->title(), QStringLiteral("1"));
        child<QPushButton>(window, "Command1")->click();
        QCOMPARE(child<QGroupBox>(window, "Frame2(0)")->title(), QStringLiteral("5"));
    }

    void opensOnTheConfiguredPageAndSetupPauses_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("tab");
        QTest::newRow("1 Display") << 0 << 1;
        QTest::newRow("4 Display") << 2 << 3;
        QTest::newRow("hand-edited type") << 5 << 1;
    }
    void opensOnTheConfiguredPageAndSetupPauses()
    {
        QFETCH(int, type);
        QFETCH(int, tab);
        Shared.AngularDisplayType = int16_t(type);
        open();
        auto* tabs = child<QTabWidget>(window, "SSTab1");
        QCOMPARE(tabs->currentIndex(), tab);
        QEvent activate(QEvent::WindowActivate);
        QApplication::sendEvent(window, &activate);
        QVERIFY(Shared.AngularDispOpen && !Shared.Paused);
        tabs->setCurrentIndex(0);
        QVERIFY(Shared.Paused);
        // A message box closing over "Page Setup" activates the window again: still paused.
        QApplication::sendEvent(window, &activate);
        QVERIFY(Shared.Paused);
        // Leaving it for a page resumes what it paused.
        tabs->setCurrentIndex(1);
        QVERIFY(!Shared.Paused);
        QVERIFY(fx.main->Timer1->isActive());
        window->close();
        QVERIFY(!Shared.AngularDispOpen);
        QVERIFY(!fx.main->Timer1->isActive());
    }
};

VARNIK_TEST_CLASS(AngularDisplayTest)
#include "angular_display_test.moc"
