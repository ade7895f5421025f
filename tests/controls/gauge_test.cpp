#include "controls/gauge.h"
#include "paint_probe.h"
#include "test_registry.h"

#include <QTest>
#include <QWidget>
#include <cmath>
#include <limits>

namespace {
void setTicks(AGauge& gauge, int id, double delta)
{
    gauge.setTicID(id);
    gauge.setTicDelta(delta);
}
} // namespace

class GaugeTest : public QObject {
    Q_OBJECT
  private slots:
    void tickSets_data()
    {
        const double inf = std::numeric_limits<double>::infinity();
        const double nan = std::numeric_limits<double>::quiet_NaN();
        QTest::addColumn<double>("min");
        QTest::addColumn<double>("max");
        QTest::addColumn<double>("delta");
        QTest::addColumn<int>("count");
        QTest::addColumn<double>("last");
        QTest::newRow("ten steps") << 0.0 << 100.0 << 10.0 << 11 << 100.0;
        QTest::newRow("tenths end on the maximum") << 0.0 << 1.0 << 0.1 << 11 << 1.0;
        QTest::newRow("uneven spacing stops inside") << -5.0 << 5.0 << 3.0 << 4 << 4.0;
        QTest::newRow("spacing 0") << 0.0 << 100.0 << 0.0 << 0 << 0.0;
        QTest::newRow("negative spacing") << 0.0 << 100.0 << -10.0 << 0 << 0.0;
        QTest::newRow("spacing not a number") << 0.0 << 100.0 << nan << 0 << 0.0;
        QTest::newRow("infinite spacing") << 0.0 << 100.0 << inf << 0 << 0.0;
        QTest::newRow("min equals max") << 50.0 << 50.0 << 10.0 << 0 << 0.0;
        QTest::newRow("min above max") << 100.0 << 0.0 << 10.0 << 0 << 0.0;
        QTest::newRow("millions of ticks") << 0.0 << 1e9 << 1e-6 << 0 << 0.0;
        QTest::newRow("one over the bound") << 0.0 << double(AGauge::MaxTicksPerSet + 1) << 1.0 << 0 << 0.0;
        QTest::newRow("at the bound") << 0.0 << double(AGauge::MaxTicksPerSet) << 1.0 << AGauge::MaxTicksPerSet + 1
                                      << double(AGauge::MaxTicksPerSet);
    }
    void tickSets()
    {
        QFETCH(double, min);
        QFETCH(double, max);
        QFETCH(double, delta);
        QFETCH(int, count);
        QFETCH(double, last);
        AGauge gauge;
        gauge.setScaleMinValue(min);
        gauge.setScaleMaxValue(max);
        for (int id = 0; id < AGauge::TickSets; ++id)
            setTicks(gauge, id, delta);
        for (int id = 0; id < AGauge::TickSets; ++id) {
            const std::vector<double> ticks = gauge.tickValues(id);
            QCOMPARE(int(ticks.size()), count);
            if (count > 0) {
                QCOMPARE(ticks.front(), min);
                QCOMPARE(ticks.back(), last);
            }
        }
        gauge.resize(300, 300);
        QVERIFY(!gauge.grab().isNull()); // paints, and in bounded time
    }

    void eachTickSetKeepsItsOwnSpacing()
    {
        AGauge gauge;
        setTicks(gauge, 0, 50);
        setTicks(gauge, 1, 10);
        setTicks(gauge, 2, 25);
        gauge.setTicID(7); // ignored: the next spacing still goes to set 2
        gauge.setTicDelta(20);
        QCOMPARE(gauge.tickValues(0).size(), size_t(3));
        QCOMPARE(gauge.tickValues(1).size(), size_t(11));
        QCOMPARE(gauge.tickValues(2).size(), size_t(6));
    }

    // The captions stay off the end labels of the scale and inside the rim, however the page shapes
    // the gauge (wide on the two-gauge page, tall in a narrow window).
    void captionsClearOfLabelsAndRim_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("default") << QSize(240, 240);
        QTest::newRow("wide") << QSize(460, 220);
        QTest::newRow("tall") << QSize(200, 420);
        QTest::newRow("small") << QSize(110, 110);
    }
    void captionsClearOfLabelsAndRim()
    {
        QFETCH(QSize, size);
        AGauge gauge;
        QWidget value;
        QWidget unit;
        gauge.setCaptions(&value, &unit);
        gauge.resize(size);
        gauge.show();
        QCOMPARE(value.geometry(), gauge.valueArea());
        QCOMPARE(unit.geometry(), gauge.unitArea());
        QVERIFY(!value.geometry().intersects(unit.geometry()));
        for (double end : {gauge.ScaleMinValue(), gauge.ScaleMaxValue()})
            QVERIFY(!gauge.tickLabelBounds(end).intersects(QRectF(value.geometry())));
        // The lower corners of the unit caption lie inside the face, short of the rim's pen.
        const QPointF off = QRectF(unit.geometry()).bottomRight() - QPointF(size.width(), size.height()) / 2;
        QVERIFY(std::hypot(off.x(), off.y()) < (std::min(size.width(), size.height()) - 8) / 2 * 0.94);
    }

    void needlePinsAtTheEndStops_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("fraction");
        QTest::newRow("minimum") << -20.0 << 0.0;
        QTest::newRow("middle") << 40.0 << 0.5;
        QTest::newRow("maximum") << 100.0 << 1.0;
        QTest::newRow("above the scale") << 1e12 << 1.0;
        QTest::newRow("below the scale") << -1e12 << 0.0;
        QTest::newRow("invalid-reading marker") << 999999.0 << 1.0;
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << 0.0;
    }
    void needlePinsAtTheEndStops()
    {
        QFETCH(double, value);
        QFETCH(double, fraction);
        AGauge gauge;
        gauge.setScaleMinValue(-20);
        gauge.setScaleMaxValue(100);
        gauge.setNeedleValue(value);
        QCOMPARE(gauge.needleFraction(), fraction);
    }

    void needleMoveRepaintsOnlyWhereTheNeedleWas()
    {
        AGauge gauge;
        gauge.resize(300, 300);
        gauge.show();
        QVERIFY(QTest::qWaitForWindowExposed(&gauge));
        gauge.setNeedleValue(10);
        QCoreApplication::processEvents();
        const QImage before = gauge.grab().toImage();
        PaintProbe probe;
        gauge.installEventFilter(&probe);
        gauge.setNeedleValue(30);
        QTRY_VERIFY(probe.paints > 0);
        gauge.removeEventFilter(&probe); // grab() paints the whole widget
        const QImage after = gauge.grab().toImage();
        QVERIFY(before != after);
        QCOMPARE(unpaintedChange(before, after, probe.painted), QString());
        QVERIFY2(probe.painted.boundingRect().width() * probe.painted.boundingRect().height() < 300 * 300 / 3,
                 "a needle move repaints the whole face");
    }
};

VARNIK_TEST_CLASS(GaugeTest)
#include "gauge_test.moc"
