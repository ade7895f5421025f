#include "core/number_format.h"
#include "core/typed_number.h"
#include "test_registry.h"

#include <QTest>
#include <limits>

class TestNumberFormat : public QObject {
    Q_OBJECT
  private slots:
    void formats_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("expected");
        const QString p0 = QStringLiteral("###0");
        const QString p1 = QStringLiteral("###0.0");
        const QString p2 = QStringLiteral("###0.00");
        const QString p3 = QStringLiteral("###0.000");
        QTest::newRow("rounds up") << 12.3456 << p2 << "12.35";
        QTest::newRow("no decimals") << 12.3456 << p0 << "12";
        QTest::newRow("negative keeps its decimals") << -0.5 << p2 << "-0.50";
        QTest::newRow("whole number padded") << 7.0 << p2 << "7.00";
        QTest::newRow("leading integer digit") << 0.25 << p3 << "0.250";
        QTest::newRow("carry into a new digit") << 9.995 << p2 << "10.00";
        QTest::newRow("carry from below the first digit") << 0.005 << p2 << "0.01";
        QTest::newRow("half away from zero") << 0.5 << p0 << "1";
        QTest::newRow("negative half away from zero") << -2.5 << p0 << "-3";
        // The nearest doubles of these lie just below the written value; a reader sees the
        // written value, and so does the rounding.
        QTest::newRow("2.675 as written") << 2.675 << p2 << "2.68";
        QTest::newRow("1.005 as written") << 1.005 << p2 << "1.01";
        QTest::newRow("single-precision reading") << double(12.35f) << p2 << "12.35";
        QTest::newRow("negative rounding to zero") << -0.001 << p2 << "0.00";
        QTest::newRow("far below the last decimal") << 1.23e-7 << p3 << "0.000";
        QTest::newRow("zero") << 0.0 << p1 << "0.0";
        QTest::newRow("negative zero") << -0.0 << p1 << "0.0";
        QTest::newRow("invalid-reading marker") << 999999.0 << p1 << "999999.0";
        QTest::newRow("no exponent for large values") << 1e20 << p0 << "100000000000000000000";
        QTest::newRow("no thousands separator") << -1234567.891 << p2 << "-1234567.89";
        QTest::newRow("general form") << 7.25 << QString() << "7.25";
        QTest::newRow("general form of a whole number") << 12.0 << QString() << "12";
        QTest::newRow("general form round-trips") << 0.1 + 0.2 << QString() << "0.30000000000000004";
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << p2 << "nan";
    }
    void formats()
    {
        QFETCH(double, value);
        QFETCH(QString, pattern);
        QFETCH(QString, expected);
        QCOMPARE(FormatNumber(value, pattern), expected);
    }

    void typedIntegers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qlonglong>("min");
        QTest::addColumn<qlonglong>("max");
        QTest::addColumn<QString>("expected"); // "none" for out of range
        constexpr qlonglong Low = std::numeric_limits<qint64>::min();
        constexpr qlonglong High = std::numeric_limits<qint64>::max();
        QTest::newRow("trailing text ignored") << "12 s" << 0LL << 65535LL << "12";
        QTest::newRow("just above a half") << "12.51" << 0LL << 65535LL << "13";
        QTest::newRow("lone sign is 0") << "-" << 0LL << 65535LL << "0";
        QTest::newRow("leading point") << ".6" << 0LL << 65535LL << "1";
        QTest::newRow("exponent") << "1.5e3" << 0LL << 65535LL << "1500";
        QTest::newRow("exponent without digits ignored") << "5e" << 0LL << 65535LL << "5";
        QTest::newRow("tiny exponent is 0") << "1e-999" << 0LL << 65535LL << "0";
        QTest::newRow("beyond 64 bits, not wrapped") << "1e30" << 0LL << 65535LL << "none";
        QTest::newRow("beyond doubles") << "1e999" << 0LL << 65535LL << "none";
        // 2^63 - 1 has no double: it reads as 2^63, one beyond the 64-bit range.
        QTest::newRow("2^63 with 64-bit bounds") << "9223372036854775807" << Low << High << "none";
        QTest::newRow("largest double below 2^63")
            << "9223372036854774784" << Low << High << "9223372036854774784";
        QTest::newRow("-2^63 exactly") << "-9223372036854775808" << Low << High << "-9223372036854775808";
        QTest::newRow("below -2^63") << "-1e19" << Low << High << "none";
    }
    void typedIntegers()
    {
        QFETCH(QString, text);
        QFETCH(qlonglong, min);
        QFETCH(qlonglong, max);
        QFETCH(QString, expected);
        const std::optional<qint64> value = TypedInteger(text, min, max);
        QCOMPARE(value ? QString::number(*value) : QStringLiteral("none"), expected);
    }
};

VARNIK_TEST_CLASS(TestNumberFormat)
#include "test_number_format.moc"
