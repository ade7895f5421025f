#include "controls/odometer.h"
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
};

VARNIK_TEST_CLASS(OdometerTest)
#include "odometer_test.moc"
