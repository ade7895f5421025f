#include "core/cp1252.h"
#include "core/statement_format.h"
#include "test_registry.h"

#include <QTest>

class TestStatementFormat : public QObject {
    Q_OBJECT
  private slots:
    void cp1252RoundTripsEveryByte()
    {
        QByteArray all(256, '\0');
        for (int b = 0; b < 256; ++b)
            all[b] = static_cast<char>(b);
        QByteArray back;
        QVERIFY(ToCp1252(FromCp1252(all), &back));
        QCOMPARE(back, all);
    }

    void cp1252KnownCharacters()
    {
        QCOMPARE(FromCp1252("\xB0"
                            "C"),
                 QStringLiteral("°C"));
        QCOMPARE(FromCp1252("\x80\x99\x9F"), QStringLiteral("€™Ÿ"));
        QByteArray bytes;
        QVERIFY(ToCp1252(QStringLiteral("€ °C µ"), &bytes));
        QCOMPARE(bytes, QByteArray("\x80 \xB0"
                                   "C \xB5"));
        QChar bad;
        QVERIFY(!ToCp1252(QStringLiteral("k\u03A9"), &bytes, &bad));
        QCOMPARE(bad, QChar(0x03A9));
        // Latin-1 controls that Windows-1252 replaced by printable characters have no byte.
        QVERIFY(!ToCp1252(QString(QChar(0x80)), &bytes));
    }

    void writerProducesOneLinePerStatement()
    {
        StatementWriter out;
        QString error;
        QVERIFY(out.addText(QStringLiteral("Comm. Port "), &error));
        out.addNumber(-12);
        out.endStatement();
        out.addNumber(7);
        out.endStatement();
        QVERIFY(out.addText(QStringLiteral("°C"), &error));
        out.endStatement();
        QCOMPARE(out.bytes(), QByteArray("\"Comm. Port \",-12\r\n7\r\n\"\xB0"
                                         "C\"\r\n"));
    }

    void writerRefusesTextItCannotStore_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("double quote") << QStringLiteral("a\"b.mdb");
        QTest::newRow("outside the code page") << QStringLiteral("\u6578\u64DA.mdb");
    }
    void writerRefusesTextItCannotStore()
    {
        QFETCH(QString, text);
        StatementWriter out;
        out.addNumber(1);
        QString error;
        QVERIFY(!out.addText(text, &error));
        QVERIFY(error.contains(text));
        QCOMPARE(out.bytes(), QByteArray("1"));
    }

    void readerFieldsIgnoreLineLayout()
    {
        StatementReader in("\r\n  \"a, b\" junk ,  plain text  \r\n\r\n\"multi\r\nline\",\r\n"
                           "x\n,\"\xB0\x46\"\r\n   \r\n");
        QStringList fields;
        QString field, error;
        while (!in.atEnd()) {
            QVERIFY2(in.readText(&field, &error), qPrintable(error));
            fields << field;
        }
        // After a comma a line end closes an empty field; blank lines between statements are skipped.
        QCOMPARE(fields, (QStringList{"a, b", "plain text", "multi\r\nline", "", "x", "", "°F"}));
        QVERIFY(!in.readText(&field, &error));
        QCOMPARE(error, QStringLiteral("line 9: unexpected end of file"));
    }

    void readerNumbers_data()
    {
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<int>("expected");
        QTest::newRow("plain") << QByteArray("42") << 42;
        QTest::newRow("negative, blanks") << QByteArray("  -17  ") << -17;
        QTest::newRow("quoted") << QByteArray("\"5\"") << 5;
        QTest::newRow("half to even, down") << QByteArray("2.5") << 2;
        QTest::newRow("half to even, up") << QByteArray("3.5") << 4;
        QTest::newRow("negative half") << QByteArray("-0.5") << 0;
        QTest::newRow("fraction") << QByteArray("7.6") << 8;
        QTest::newRow("exponent") << QByteArray("1E3") << 1000;
        QTest::newRow("top of range after rounding") << QByteArray("32767.4") << 32767;
        QTest::newRow("bottom of range") << QByteArray("-32768") << -32768;
    }
    void readerNumbers()
    {
        QFETCH(QByteArray, field);
        QFETCH(int, expected);
        StatementReader in(field + "\r\n");
        int16_t value = 0;
        QString error;
        QVERIFY2(in.readInteger(&value, &error), qPrintable(error));
        QCOMPARE(value, expected);
    }

    void readerRejectsBadNumbers_data()
    {
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<QString>("message");
        QTest::newRow("word") << QByteArray("abc") << "line 2: \"abc\" is not a number";
        QTest::newRow("trailing letters") << QByteArray("12x") << "line 2: \"12x\" is not a number";
        QTest::newRow("empty") << QByteArray("") << "line 2: \"\" is not a number";
        QTest::newRow("inf") << QByteArray("inf") << "line 2: \"inf\" is not a number";
        QTest::newRow("above int16") << QByteArray("32767.5")
                                     << "line 2: 32767.5 is out of range (-32768 to 32767)";
        QTest::newRow("below int16") << QByteArray("-40000")
                                     << "line 2: -40000 is out of range (-32768 to 32767)";
        QTest::newRow("huge") << QByteArray("1e400") << "line 2: 1e400 is out of range (-32768 to 32767)";
    }
    void readerRejectsBadNumbers()
    {
        QFETCH(QByteArray, field);
        QFETCH(QString, message);
        StatementReader in("1\r\n" + field + ",3\r\n");
        int16_t value = 0;
        QString error;
        QVERIFY(in.readInteger(&value, &error));
        QVERIFY(!in.readInteger(&value, &error));
        QCOMPARE(error, message);
    }

    void readerInt32Range()
    {
        StatementReader in("2147483647,2147483648\r\n");
        int32_t value = 0;
        QString error;
        QVERIFY(in.readInteger(&value, &error));
        QCOMPARE(value, 2147483647);
        QVERIFY(!in.readInteger(&value, &error));
        QVERIFY(error.contains(QStringLiteral("out of range")));
    }
};

VARNIK_TEST_CLASS(TestStatementFormat)
#include "test_statement_format.moc"
