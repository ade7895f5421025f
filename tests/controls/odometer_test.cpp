#include "controls/odometer.h"
#include "paint_probe.h"
#include "test_registry.h"

#include <QTest>
#include <limits>

class OdometerTest : public QObject {
    Q_OBJECT
  private slots:
    void showsCountOnWheels_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("wheels");
        QTest::addColumn<QString>("shown");
        QTest::newRow("zero") << 0 << 6 << "000000";
        QTest::newRow("leading zeros") << 1234 << 6 << "001234";
        QTest::newRow("exactly full") << 654321 << 6 << "654321";
        QTest::newRow("more digits widen") << 1234567 << 6 << "1234567";
        QTest::newRow("negative") << -5 << 6 << "-00005";
        QTest::newRow("most negative") << std::numeric_limits<int>::min() << 3 << "-2147483648";
    }
    void showsCountOnWheels()
    {
        QFETCH(int, count);
        QFETCH(int, wheels);
        QFETCH(QString, shown);
        Odometer odo;
        odo.setWheelCount(wheels);
        odo.setCount(count);
        QCOMPARE(odo.displayText(), shown);
    }

    void widerCountWidensHint()
    {
        Odometer odo;
        const int six = odo.sizeHint().width();
        odo.setCount(12345678);
        QVERIFY(odo.sizeHint().width() > six);
    }

    void rollsOnlySmallStepsAfterSettle()
    {
        Odometer odo;
        odo.resize(200, 40);
        odo.show();
        QVERIFY(QTest::qWaitForWindowExposed(&odo));
        odo.settle();
        odo.setCount(1234);
        QVERIFY(!odo.rolling()); // the first count after settle shows at once
        odo.setCount(1235);
        QVERIFY(odo.rolling());
        QTRY_VERIFY(!odo.rolling());
        odo.setCount(2000);
        QVERIFY(!odo.rolling());
        odo.setCount(2001);
        odo.settle();
        QVERIFY(!odo.rolling());
        QCOMPARE(odo.displayText(), QStringLiteral("002001"));
    }

    void paintsAtAnySizeWhileRolling()
    {
        Odometer odo;
        odo.resize(300, 60);
        odo.show();
        QVERIFY(QTest::qWaitForWindowExposed(&odo));
        odo.setCount(99999);
        odo.setCount(100003); // carries through every wheel
        QVERIFY(odo.rolling());
        for (QSize size : {QSize(0, 0), QSize(2, 2), QSize(30, 300), QSize(1200, 30), QSize(300, 60)}) {
            odo.resize(size);
            QCOMPARE(odo.grab().size(), size);
        }
        odo.setCount(-7);
        QVERIFY(!odo.grab().isNull());
    }

    // While the wheels roll only the turning wheels repaint, yet every pixel that changes is painted.
    void rollRepaintsWhatTurns_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<bool>("fewWheels");
        QTest::newRow("last wheel") << 1234 << 1235 << true;
        QTest::newRow("carry into the next wheel") << 1239 << 1241 << true;
        QTest::newRow("down through two carries") << 1300 << 1298 << true;
        QTest::newRow("one more wheel") << 999999 << 1000001 << false;
    }
    void rollRepaintsWhatTurns()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(bool, fewWheels);
        QWidget window;
        window.resize(440, 60);
        auto* odo = new Odometer(&window);
        odo->setGeometry(11, 7, 400, 40);
        PaintProbe probe;
        odo->installEventFilter(&probe);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        odo->settle();
        odo->setCount(from);
        QTRY_VERIFY(!probe.painted.isEmpty());
        QCoreApplication::processEvents();
        const QImage before = odo->grab().toImage();
        probe.painted = {};

        odo->setCount(to);
        QVERIFY(odo->rolling());
        QTRY_VERIFY(!odo->rolling());
        QCoreApplication::processEvents();
        const QRegion painted = probe.painted;
        const QImage after = odo->grab().toImage();
        QVERIFY(before != after);
        const QString unpainted = unpaintedChange(before, after, painted);
        QVERIFY2(unpainted.isEmpty(), qPrintable(unpainted));
        const QRect box = painted.boundingRect();
        QCOMPARE(box.width() * box.height() < odo->width() * odo->height() / 4, fewWheels);
    }

    // A count that needs one more wheel moves every wheel over at once, before the roll reaches them.
    void newWheelRepaintsAll()
    {
        Odometer odo;
        odo.resize(400, 40);
        PaintProbe probe;
        odo.installEventFilter(&probe);
        odo.show();
        QVERIFY(QTest::qWaitForWindowExposed(&odo));
        odo.settle();
        odo.setCount(999999);
        QTRY_VERIFY(!probe.painted.isEmpty());
        QCoreApplication::processEvents();
        probe.painted = {};
        odo.setCount(1000001);
        QVERIFY(odo.rolling());
        QCoreApplication::processEvents();
        QCOMPARE(probe.painted, QRegion(odo.rect()));
    }
};

VARNIK_TEST_CLASS(OdometerTest)
#include "odometer_test.moc"
