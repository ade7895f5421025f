#include "controls/gauge.h"
#include "controls/led_panel.h"
#include "controls/strip_chart.h"
#include "core/shared_state.h"
#include "display_fixture.h"
#include "displays/frmAngularDisp.h"
#include "displays/frmChartDisp.h"
#include "displays/frmTextDisp.h"
#include "test_registry.h"

#include <QLabel>
#include <QTest>
#include <cmath>

// A channel the meter has not sent for 3 s, or never sent, shows no number on any live display
// and raises no alarm, however far its last (or initial) value lies outside the warning limits.
class NoCurrentReadingTest : public QObject {
    Q_OBJECT

    DisplayFixture fx;

    struct Shown {
        double text;      // the one-panel page's LED
        QString gauge;    // the one-gauge page's value label
        double needle;
        double chart;     // the chart display's LED
        double chartPoint; // the strip chart's newest point
        bool alarm;       // any display's alarm indicator visible
    };
    Shown showAll()
    {
        frmTextDisp text;
        frmAngularDisp angular;
        frmChartDisp chart;
        for (QWidget* w : std::initializer_list<QWidget*>{&text, &angular, &chart})
            w->show();
        Shared.Paused = false; // closing the displays of the previous look paused recording
        text.Timer1_Timer();
        angular.Timer1_Timer();
        chart.Timer1_Timer();
        return {child<NumLED>(&text, "NumLED2(0)")->value(),
                child<QLabel>(&angular, "Label2(0)")->text(),
                child<AGauge>(&angular, "AGauge2(0)")->needleValue(),
                child<NumLED>(&chart, "NumLED1")->value(),
                child<StripChart>(&chart, "Strip1")->point(0, 0),
                child<QLabel>(&text, "Label11")->isVisible() || child<QLabel>(&angular, "Label8")->isVisible() ||
                    child<QLabel>(&chart, "Label5")->isVisible()};
    }

  private slots:
    void init()
    {
        fx.setUp();
        Shared.TextChan1 = 3;
        Shared.AngChan2[0] = 3;
        Shared.ChartDisplayChannel = 3;
        Shared.DispSetup[3].MaxValue = 200;
        Shared.ChanValue[3] = -150; // below the low warning of -100
        Shared.AlarmSound = true;
    }
    void cleanup() { fx.tearDown(); }

    void noNumberAndNoAlarm_data()
    {
        QTest::addColumn<bool>("neverHeard");
        QTest::newRow("silent for 3 s") << false;
        QTest::newRow("never sent since the link started") << true;
    }
    void noNumberAndNoAlarm()
    {
        QFETCH(bool, neverHeard);
        if (neverHeard) {
            Shared.Freshness = ReadingFreshness{};
            Shared.Freshness.FrameArrived();
            for (int n = 1; n <= MaxChannel; ++n)
                if (n != 3)
                    Shared.Freshness.Heard(n);
        } else {
            fx.host->tick += ReadingFreshness::StaleAfterMs + 1;
        }
        const Shown stale = showAll();
        QVERIFY(std::isnan(stale.text));
        QCOMPARE(stale.gauge, QStringLiteral("----"));
        QVERIFY(std::isnan(stale.needle));
        QVERIFY(std::isnan(stale.chart));
        QVERIFY(std::isnan(stale.chartPoint));
        QVERIFY(!stale.alarm);
        QCOMPARE(fx.host->beeps, 0);

        // The next frame with the channel brings its reading and its alarm back on every display.
        Shared.Freshness.FrameArrived();
        Shared.Freshness.Heard(3);
        const Shown current = showAll();
        QCOMPARE(current.text, -150.0);
        QCOMPARE(current.gauge, QStringLiteral("-150"));
        QCOMPARE(current.needle, -150.0);
        QCOMPARE(current.chart, -150.0);
        QCOMPARE(current.chartPoint, -150.0);
        QVERIFY(current.alarm);
        QVERIFY(fx.host->beeps > 0);
    }
};
VARNIK_TEST_CLASS(NoCurrentReadingTest)
#include "no_current_reading_test.moc"
