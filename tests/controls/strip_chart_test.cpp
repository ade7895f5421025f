#include "controls/strip_chart.h"
#include "test_registry.h"

#include <QTest>
#include <cmath>

class StripChartTest : public QObject {
    Q_OBJECT
  private slots:
    void weeksHoldTheMemoryOfAnHour()
    {
        StripChart chart;
        const auto tick = [&chart](qint64 n) {
            chart.AddValue(0, double(n));
            chart.Advance();
        };
        qint64 n = 0;
        for (; n < 3600; ++n)
            tick(n);
        const size_t hour = chart.memoryBytes();
        for (; n < 24 * 3600; ++n)
            tick(n);
        QCOMPARE(chart.memoryBytes(), hour);
        QCOMPARE(chart.pointCount(0), StripChart::Capacity);
        QCOMPARE(chart.advances(), n);
        QCOMPARE(chart.point(0, 0), double(n - 1));
        QCOMPARE(chart.point(0, StripChart::Capacity - 1), double(n - StripChart::Capacity));
        QVERIFY(std::isnan(chart.point(0, StripChart::Capacity)));
    }

    void tickWithoutValueLeavesAGapAndOtherTracesStayUnused()
    {
        StripChart chart;
        chart.AddValue(0, 1);
        chart.AddValue(0, 2); // the later value of a tick counts
        chart.Advance();
        chart.Advance();
        chart.AddValue(StripChart::Traces, 5); // no such trace
        QCOMPARE(chart.pointCount(0), 2);
        QVERIFY(std::isnan(chart.point(0, 0)));
        QCOMPARE(chart.point(0, 1), 2.0);
        QCOMPARE(chart.pointCount(1), 0);
    }

    void clearEmptiesAndScrollStaysWithinThePoints()
    {
        StripChart chart;
        for (int i = 0; i < 50; ++i) {
            chart.AddValue(0, i);
            chart.Advance();
        }
        chart.setScrollBack(1000);
        QCOMPARE(chart.ScrollBack(), 49);
        chart.Clear();
        chart.setScrollBack(0);
        QCOMPARE(chart.pointCount(0), 0);
        QCOMPARE(chart.ScrollBack(), 0);
        chart.AddValue(0, 7);
        chart.Advance();
        QCOMPARE(chart.point(0, 0), 7.0);
    }

    void oddLimitsAndValuesStillPaint_data()
    {
        QTest::addColumn<float>("upper");
        QTest::addColumn<float>("lower");
        QTest::newRow("upside down") << -10.0f << 10.0f;
        QTest::newRow("equal") << 5.0f << 5.0f;
        QTest::newRow("normal") << 10.0f << -10.0f;
    }
    void oddLimitsAndValuesStillPaint()
    {
        QFETCH(float, upper);
        QFETCH(float, lower);
        StripChart chart;
        chart.resize(400, 200);
        chart.setYMax(upper);
        chart.setYMin(lower);
        for (double v : {1e300, -1e300, 999999.0, 0.0, std::nan("")}) {
            chart.AddValue(0, v);
            chart.Advance();
        }
        QCOMPARE(chart.YMax(), upper);
        QCOMPARE(chart.YMin(), lower);
        QVERIFY(!chart.grab().isNull());
    }
};

VARNIK_TEST_CLASS(StripChartTest)
#include "strip_chart_test.moc"
