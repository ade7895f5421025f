#include "fs9721_encoder.h"

#include <QRegularExpression>
#include <array>

namespace fs9721 {

const char* const DefaultSequence = "1.234 V DC x4; -1.234 V DC x4; 0.230 V AC x4; 0.230 V AC HOLD x4; "
                                    "OL V DC x4; 390.5 mV DC x4; -12.5 mA DC x4; 1.500 A AC x4; "
                                    "12.34 kOhm x4; 220.0 Ohm REL x4; OL kOhm x4; 50.0 Hz x4; "
                                    "23.0 degC MANUAL x4; 48.2 % x4";

namespace {

// A digit's seven segments, named as usual: a top, b upper right, c lower right, d bottom,
// e lower left, f upper left, g middle.
enum Segment : unsigned { A = 1, B = 2, C = 4, D = 8, E = 16, F = 32, G = 64 };

// The glyphs the display needs: the ten digits, the L of "OL", and a blank place.
unsigned Glyph(QChar c)
{
    static constexpr std::array<unsigned, 10> digits = {
        A | B | C | D | E | F,     // 0
        B | C,                     // 1
        A | B | D | E | G,         // 2
        A | B | C | D | G,         // 3
        B | C | F | G,             // 4
        A | C | D | F | G,         // 5
        A | C | D | E | F | G,     // 6
        A | B | C,                 // 7
        A | B | C | D | E | F | G, // 8
        A | B | C | D | F | G,     // 9
    };
    if (c == QLatin1Char('L'))
        return D | E | F;
    if (c.isDigit())
        return digits[static_cast<size_t>(c.digitValue())];
    return 0;
}

// A digit place fills the low three bits of its first byte (lower left, upper left, top) and the
// four bits of its second byte (bottom, lower right, middle, upper right).
void PutGlyph(QByteArray& packet, int place, unsigned glyph)
{
    const auto bit = [glyph](unsigned segment, int shift) { return (glyph & segment) ? 1u << shift : 0u; };
    const int first = 1 + 2 * place; // 0-based index: place 0 -> bytes 1 and 2
    packet[first] = static_cast<char>(packet[first] | static_cast<char>(bit(E, 2) | bit(F, 1) | bit(A, 0)));
    packet[first + 1] = static_cast<char>(packet[first + 1] |
                                          static_cast<char>(bit(D, 3) | bit(C, 2) | bit(G, 1) | bit(B, 0)));
}

void Set(QByteArray& packet, int byteNumber, int bitNumber)
{
    packet[byteNumber - 1] = static_cast<char>(packet[byteNumber - 1] | (1 << bitNumber));
}

bool Fail(QString* error, const QString& message)
{
    if (error)
        *error = message;
    return false;
}

// What the four digit places show, and after which of them (1..3) the point stands, 0 for none.
struct Glass {
    QString places = QString(DigitPlaces, QLatin1Char(' '));
    int pointAfter = 0;
    bool negative = false;
};

bool Layout(const QString& display, Glass* glass, QString* error)
{
    QString text = display;
    if (text.startsWith(QLatin1Char('-'))) {
        glass->negative = true;
        text.remove(0, 1);
    }
    if (text == QLatin1String("OL")) {
        glass->places = QStringLiteral(" 0L ");
        return true;
    }
    static const QRegularExpression shape(QStringLiteral("^[0-9]+(\\.[0-9]+)?$"));
    if (!shape.match(text).hasMatch())
        return Fail(error, QStringLiteral("\"%1\" is not what the display shows (digits, one point "
                                          "between them, a leading minus, or OL)")
                               .arg(display));
    const qsizetype point = text.indexOf(QLatin1Char('.'));
    QString digits = text;
    if (point >= 0)
        digits.remove(point, 1);
    if (digits.size() > DigitPlaces || digits.toInt() > MaxCount)
        return Fail(
            error,
            QStringLiteral("\"%1\" does not fit the display (at most %2 counts)").arg(display).arg(MaxCount));
    // Every place shows a digit, leading zeros too ("0.512", "048.2"): a real decoder read a
    // blank place as a wrong digit (" 48.2" as -51.8), so nothing but the overload is blanked.
    glass->places = digits.rightJustified(DigitPlaces, QLatin1Char('0'));
    const qsizetype decimals = point >= 0 ? text.size() - point - 1 : 0;
    glass->pointAfter = decimals > 0 ? DigitPlaces - static_cast<int>(decimals) : 0;
    return true;
}

void PutUnit(QByteArray& packet, Unit unit)
{
    constexpr int Prefixes1 = 10, Prefixes2 = 11, Symbols = 12, BaseUnits = 13, MakerSymbols = 14;
    switch (unit) {
    case Unit::Millivolt:
        Set(packet, Prefixes2, 3);
        [[fallthrough]];
    case Unit::Volt:
        Set(packet, BaseUnits, 2);
        break;
    case Unit::Milliampere:
        Set(packet, Prefixes2, 3);
        [[fallthrough]];
    case Unit::Ampere:
        Set(packet, BaseUnits, 3);
        break;
    case Unit::Kiloohm:
        Set(packet, Prefixes1, 1);
        [[fallthrough]];
    case Unit::Ohm:
        Set(packet, Symbols, 2);
        break;
    case Unit::Hertz:
        Set(packet, BaseUnits, 1);
        break;
    case Unit::Percent:
        Set(packet, Prefixes2, 2);
        break;
    case Unit::Celsius:
        Set(packet, MakerSymbols, TemperatureBit);
        break;
    }
}

struct UnitWord {
    const char* word;
    Unit unit;
};
constexpr std::array<UnitWord, 9> UnitWords = {{{"V", Unit::Volt},
                                                {"mV", Unit::Millivolt},
                                                {"A", Unit::Ampere},
                                                {"mA", Unit::Milliampere},
                                                {"Ohm", Unit::Ohm},
                                                {"kOhm", Unit::Kiloohm},
                                                {"Hz", Unit::Hertz},
                                                {"degC", Unit::Celsius},
                                                {"%", Unit::Percent}}};

bool HasCoupling(Unit unit)
{
    return unit == Unit::Volt || unit == Unit::Millivolt || unit == Unit::Ampere || unit == Unit::Milliampere;
}

bool ParseStep(const QString& text, Step* step, QString* error)
{
    const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    bool haveUnit = false;
    bool haveDisplay = false;
    bool haveCount = false;
    static const QRegularExpression count(QStringLiteral("^x([0-9]+)$"));
    for (const QString& word : words) {
        const auto unit = std::find_if(UnitWords.begin(), UnitWords.end(),
                                       [&word](const UnitWord& u) { return word == QLatin1String(u.word); });
        const QRegularExpressionMatch repeat = count.match(word);
        const QString repeated = QStringLiteral("\"%1\" is given twice in \"%2\"").arg(word, text.trimmed());
        if (unit != UnitWords.end()) {
            if (haveUnit)
                return Fail(error, QStringLiteral("two units in \"%1\"").arg(text.trimmed()));
            step->reading.unit = unit->unit;
            haveUnit = true;
        } else if (word == QLatin1String("AC") || word == QLatin1String("DC")) {
            if (step->reading.coupling != Coupling::None)
                return Fail(error, QStringLiteral("AC or DC, not both, in \"%1\"").arg(text.trimmed()));
            step->reading.coupling = word == QLatin1String("AC") ? Coupling::Ac : Coupling::Dc;
        } else if (word == QLatin1String("HOLD") || word == QLatin1String("REL")) {
            bool& flag = word == QLatin1String("HOLD") ? step->reading.hold : step->reading.relative;
            if (flag)
                return Fail(error, repeated);
            flag = true;
        } else if (word == QLatin1String("MANUAL")) {
            if (!step->reading.autoRange)
                return Fail(error, repeated);
            step->reading.autoRange = false;
        } else if (repeat.hasMatch()) {
            bool ok = false;
            const int n = repeat.captured(1).toInt(&ok);
            if (haveCount || !ok || n < 1 || n > 100000)
                return Fail(error, QStringLiteral("\"%1\" wants a count of 1..100000, once, in \"%2\"")
                                       .arg(word, text.trimmed()));
            step->packets = n;
            haveCount = true;
        } else if (!haveDisplay &&
                   (word[0].isDigit() || word[0] == QLatin1Char('-') || word == QLatin1String("OL"))) {
            step->reading.display = word;
            haveDisplay = true;
        } else {
            return Fail(error, QStringLiteral("unknown word \"%1\" in \"%2\"").arg(word, text.trimmed()));
        }
    }
    if (!haveDisplay || !haveUnit)
        return Fail(
            error, QStringLiteral("\"%1\" wants a display and a unit, e.g. \"1.234 V\"").arg(text.trimmed()));
    if (!HasCoupling(step->reading.unit) && step->reading.coupling != Coupling::None)
        return Fail(
            error,
            QStringLiteral("AC and DC go with V, mV, A or mA only, not in \"%1\"").arg(text.trimmed()));
    if (HasCoupling(step->reading.unit) && step->reading.coupling == Coupling::None)
        step->reading.coupling = Coupling::Dc;
    QString why;
    if (EncodePacket(step->reading, &why).isEmpty())
        return Fail(error, why);
    return true;
}

} // namespace

QByteArray EncodePacket(const Reading& reading, QString* error)
{
    Glass glass;
    if (!Layout(reading.display, &glass, error))
        return {};
    QByteArray packet(PacketSize, '\0');
    for (int i = 0; i < PacketSize; ++i)
        packet[i] = static_cast<char>((i + 1) << 4);
    constexpr int Modes = 1, SignAndFirstDigit = 2, Symbols = 12;
    Set(packet, Modes, 0); // the serial output is on, or nothing would be sent
    if (reading.coupling == Coupling::Ac)
        Set(packet, Modes, 3);
    if (reading.coupling == Coupling::Dc)
        Set(packet, Modes, 2);
    if (reading.autoRange)
        Set(packet, Modes, 1);
    if (glass.negative)
        Set(packet, SignAndFirstDigit, 3);
    for (int place = 0; place < DigitPlaces; ++place)
        PutGlyph(packet, place, Glyph(glass.places[place]));
    if (glass.pointAfter > 0)
        Set(packet, 2 + 2 * glass.pointAfter, 3); // the first byte of the digit after the point
    PutUnit(packet, reading.unit);
    if (reading.relative)
        Set(packet, Symbols, 1);
    if (reading.hold)
        Set(packet, Symbols, 0);
    return packet;
}

QList<Step> ParseSequence(const QString& text, QString* error)
{
    QList<Step> steps;
    for (const QString& part : text.split(QLatin1Char(';'))) {
        if (part.trimmed().isEmpty())
            continue;
        Step step;
        if (!ParseStep(part, &step, error))
            return {};
        steps.append(step);
    }
    if (steps.isEmpty())
        Fail(error, QStringLiteral("the sequence has no step"));
    return steps;
}

QString UnitName(Unit unit)
{
    for (const UnitWord& u : UnitWords)
        if (u.unit == unit)
            return QString::fromLatin1(u.word);
    return {};
}

} // namespace fs9721
