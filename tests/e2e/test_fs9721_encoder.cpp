// The multimeter packets meter-sim sends with --protocol fs9721: each byte numbered in its high
// nibble, the LCD's digits, point, sign and symbols in the low nibbles, and the scripted sequence
// that lists the readings. The expected bytes are worked out by hand from the chip's published
// packet layout, not from the encoder.
#include "meter-sim/fs9721_encoder.h"
#include "test_registry.h"

#include <QSet>
#include <QTest>

using fs9721::Coupling;
using fs9721::EncodePacket;
using fs9721::Reading;
using fs9721::Unit;

Q_DECLARE_METATYPE(fs9721::Unit)
Q_DECLARE_METATYPE(fs9721::Coupling)

namespace {

// The low nibbles of a packet, as 14 hex digits, for comparing against hand-made expectations.
QByteArray LowNibbles(const QByteArray& packet)
{
    QByteArray nibbles;
    for (char byte : packet)
        nibbles += QByteArray::number(static_cast<unsigned char>(byte) & 0x0f, 16);
    return nibbles;
}

Reading Volts(const char* display)
{
    Reading r;
    r.display = QString::fromLatin1(display);
    r.coupling = Coupling::Dc;
    return r;
}

} // namespace

class Fs9721EncoderTest : public QObject {
    Q_OBJECT
  private slots:
    void everyByteCarriesItsNumber()
    {
        for (const char* display : {"0.000", "-3.999", "OL", "1234"}) {
            const QByteArray packet = EncodePacket(Volts(display));
            QCOMPARE(packet.size(), fs9721::PacketSize);
            for (int i = 0; i < fs9721::PacketSize; ++i)
                QCOMPARE((static_cast<unsigned char>(packet[i]) >> 4), i + 1);
        }
    }

    // Bytes 2..9: the four digits (two nibbles each, point or sign in bit 3 of the first), as
    // "sign/point + lower-left upper-left top" then "bottom lower-right middle upper-right".
    void drawsDigitsPointAndSign_data()
    {
        QTest::addColumn<QString>("display");
        QTest::addColumn<QByteArray>("digitNibbles");
        // 0 = 7d, 1 = 05, 2 = 5b, 3 = 1f, 4 = 27, 5 = 3e, 6 = 7e, 7 = 15, 8 = 7f, 9 = 3f
        QTest::newRow("0123, no point") << "0123" << QByteArray("7d055b1f");
        QTest::newRow("3456") << "3456" << QByteArray("1f273e7e");
        QTest::newRow("0789") << "0789" << QByteArray("7d157f3f");
        QTest::newRow("point after the first digit") << "1.234" << QByteArray("05db1f27");
        QTest::newRow("point after the second") << "12.34" << QByteArray("055b9f27");
        QTest::newRow("point after the third") << "123.4" << QByteArray("055b1fa7");
        QTest::newRow("negative") << "-1.234" << QByteArray("85db1f27");
        QTest::newRow("negative zero point") << "-0.512" << QByteArray("fdbe055b");
        QTest::newRow("short: leading zeros shown") << "48.2" << QByteArray("7d277fdb");
        QTest::newRow("single digit") << "7" << QByteArray("7d7d7d15");
        QTest::newRow("overload: blank, 0, L, blank") << "OL" << QByteArray("007d6800");
        QTest::newRow("negative overload") << "-OL" << QByteArray("807d6800");
    }
    void drawsDigitsPointAndSign()
    {
        QFETCH(QString, display);
        QFETCH(QByteArray, digitNibbles);
        Reading r = Volts("0");
        r.display = display;
        QString error;
        const QByteArray packet = EncodePacket(r, &error);
        QVERIFY2(!packet.isEmpty(), qPrintable(error));
        QCOMPARE(LowNibbles(packet).mid(1, 8), digitNibbles);
    }

    // Byte 1 (AC, DC, AUTO, serial on) and bytes 10..14 (prefixes, units, REL, HOLD, the maker's
    // symbols) for each unit and flag.
    void setsUnitsAndSymbols_data()
    {
        QTest::addColumn<Unit>("unit");
        QTest::addColumn<Coupling>("coupling");
        QTest::addColumn<bool>("hold");
        QTest::addColumn<bool>("relative");
        QTest::addColumn<bool>("autoRange");
        QTest::addColumn<QByteArray>("symbolNibbles"); // byte 1, then bytes 10..14
        QTest::newRow("V DC auto") << Unit::Volt << Coupling::Dc << false << false << true
                                   << QByteArray("700040");
        QTest::newRow("V AC auto") << Unit::Volt << Coupling::Ac << false << false << true
                                   << QByteArray("b00040");
        QTest::newRow("mV DC manual")
            << Unit::Millivolt << Coupling::Dc << false << false << false << QByteArray("508040");
        QTest::newRow("A AC") << Unit::Ampere << Coupling::Ac << false << false << true
                              << QByteArray("b00080");
        QTest::newRow("mA DC") << Unit::Milliampere << Coupling::Dc << false << false << true
                               << QByteArray("708080");
        QTest::newRow("Ohm") << Unit::Ohm << Coupling::None << false << false << true << QByteArray("300400");
        QTest::newRow("kOhm") << Unit::Kiloohm << Coupling::None << false << false << true
                              << QByteArray("320400");
        QTest::newRow("Hz") << Unit::Hertz << Coupling::None << false << false << true
                            << QByteArray("300020");
        QTest::newRow("degC") << Unit::Celsius << Coupling::None << false << false << true
                              << QByteArray("300004");
        QTest::newRow("percent") << Unit::Percent << Coupling::None << false << false << true
                                 << QByteArray("304000");
        QTest::newRow("V DC HOLD") << Unit::Volt << Coupling::Dc << true << false << true
                                   << QByteArray("700140");
        QTest::newRow("Ohm REL") << Unit::Ohm << Coupling::None << false << true << true
                                 << QByteArray("300600");
        QTest::newRow("Ohm HOLD REL manual")
            << Unit::Ohm << Coupling::None << true << true << false << QByteArray("100700");
    }
    void setsUnitsAndSymbols()
    {
        QFETCH(Unit, unit);
        QFETCH(Coupling, coupling);
        QFETCH(bool, hold);
        QFETCH(bool, relative);
        QFETCH(bool, autoRange);
        QFETCH(QByteArray, symbolNibbles);
        Reading r{QStringLiteral("1.000"), unit, coupling, hold, relative, autoRange};
        const QByteArray nibbles = LowNibbles(EncodePacket(r));
        QCOMPARE(nibbles.left(1) + nibbles.mid(9), symbolNibbles);
    }

    void refusesWhatTheDisplayCannotShow_data()
    {
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("why");
        QTest::newRow("4000 counts") << "4000"
                                     << "3999 counts";
        QTest::newRow("4.000") << "4.000"
                               << "3999 counts";
        QTest::newRow("five digits") << "0.1234"
                                     << "3999 counts";
        QTest::newRow("empty") << ""
                               << "not what the display shows";
        QTest::newRow("point first") << ".5"
                                     << "not what the display shows";
        QTest::newRow("point last") << "5."
                                    << "not what the display shows";
        QTest::newRow("two points") << "1.2.3"
                                    << "not what the display shows";
        QTest::newRow("comma") << "1,5"
                               << "not what the display shows";
        QTest::newRow("double minus") << "--1"
                                      << "not what the display shows";
        QTest::newRow("plus") << "+1"
                              << "not what the display shows";
        QTest::newRow("lower-case overload") << "ol"
                                             << "not what the display shows";
    }
    void refusesWhatTheDisplayCannotShow()
    {
        QFETCH(QString, display);
        QFETCH(QString, why);
        Reading r = Volts("0");
        r.display = display;
        QString error;
        QVERIFY(EncodePacket(r, &error).isEmpty());
        QVERIFY2(error.contains(why), qPrintable(error));
    }

    void parsesSequences_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("expected"); // display unit coupling flags xN, one per step
        QTest::newRow("one step") << "1.234 V" << QStringList{"1.234 V DC - x1"};
        QTest::newRow("words in any order, extra blanks and ;")
            << " x3  HOLD AC -0.512 mA ;; 12.34 kOhm REL MANUAL;"
            << QStringList{"-0.512 mA AC H x3", "12.34 kOhm none RM x1"};
        QTest::newRow("change of function")
            << "OL V DC x2; 220.0 Ohm x5" << QStringList{"OL V DC - x2", "220.0 Ohm none - x5"};
        QTest::newRow("every unit") << "1 V; 1 mV; 1 A; 1 mA; 1 Ohm; 1 kOhm; 1 Hz; 1 degC; 1 %"
                                    << QStringList{"1 V DC - x1",    "1 mV DC - x1",     "1 A DC - x1",
                                                   "1 mA DC - x1",   "1 Ohm none - x1",  "1 kOhm none - x1",
                                                   "1 Hz none - x1", "1 degC none - x1", "1 % none - x1"};
    }
    void parsesSequences()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, expected);
        QString error;
        const QList<fs9721::Step> steps = fs9721::ParseSequence(text, &error);
        QStringList seen;
        for (const fs9721::Step& s : steps) {
            const Reading& r = s.reading;
            const QString coupling = r.coupling == Coupling::Ac   ? "AC"
                                     : r.coupling == Coupling::Dc ? "DC"
                                                                  : "none";
            QString flags = QString(r.hold ? "H" : "") + (r.relative ? "R" : "") + (r.autoRange ? "" : "M");
            seen << QStringLiteral("%1 %2 %3 %4 x%5")
                        .arg(r.display, fs9721::UnitName(r.unit), coupling, flags.isEmpty() ? "-" : flags)
                        .arg(s.packets);
        }
        QVERIFY2(!steps.isEmpty(), qPrintable(error));
        QCOMPARE(seen, expected);
    }

    void refusesBadSequences_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("why");
        QTest::newRow("nothing") << " ; ;"
                                 << "no step";
        QTest::newRow("no unit") << "1.234"
                                 << "wants a display and a unit";
        QTest::newRow("no display") << "V DC"
                                    << "wants a display and a unit";
        QTest::newRow("two units") << "1 V mV"
                                   << "two units";
        QTest::newRow("two displays") << "1 2 V"
                                      << "unknown word \"2\"";
        QTest::newRow("unknown unit") << "1 W"
                                      << "unknown word \"W\"";
        QTest::newRow("lower-case flag") << "1 V hold"
                                         << "unknown word \"hold\"";
        QTest::newRow("AC and DC") << "1 V AC DC"
                                   << "not both";
        QTest::newRow("AC on ohms") << "1 Ohm AC"
                                    << "V, mV, A or mA only";
        QTest::newRow("HOLD twice") << "1 V HOLD HOLD"
                                    << "given twice";
        QTest::newRow("count zero") << "1 V x0"
                                    << "1..100000";
        QTest::newRow("count twice") << "1 V x2 x3"
                                     << "once";
        QTest::newRow("does not fit, in a later step") << "1 V; 5000 V"
                                                       << "3999 counts";
    }
    void refusesBadSequences()
    {
        QFETCH(QString, text);
        QFETCH(QString, why);
        QString error;
        QVERIFY(fs9721::ParseSequence(text, &error).isEmpty());
        QVERIFY2(error.contains(why), qPrintable(error));
    }

    void defaultSequenceCoversEveryFeature()
    {
        QString error;
        const QList<fs9721::Step> steps =
            fs9721::ParseSequence(QString::fromLatin1(fs9721::DefaultSequence), &error);
        QVERIFY2(!steps.isEmpty(), qPrintable(error));
        QSet<Unit> units;
        bool ac = false, negative = false, hold = false, relative = false, overload = false, manual = false;
        for (const fs9721::Step& s : steps) {
            units.insert(s.reading.unit);
            ac |= s.reading.coupling == Coupling::Ac;
            negative |= s.reading.display.startsWith('-');
            hold |= s.reading.hold;
            relative |= s.reading.relative;
            overload |= s.reading.display == "OL";
            manual |= !s.reading.autoRange;
        }
        QCOMPARE(units.size(), 9);
        QVERIFY(ac && negative && hold && relative && overload && manual);
    }
};

VARNIK_TEST_CLASS(Fs9721EncoderTest)

#include "test_fs9721_encoder.moc"
