#pragma once
// Packets of the FS9721 multimeter chip, for meter-sim's second protocol and its tests.
//
// The chip mirrors its LCD on the serial line: 14 bytes a packet, 2400 baud 8N1, no checksum. The
// high nibble of each byte is the byte's place in the packet (1..14), so a reader finds the start of
// a packet by looking for 0x1_; the low nibble holds four LCD segments, one bit each. What the
// packet says is what the glass shows, so a reading is written here as its display text ("0.512",
// "-12.34", "OL"), never as a number that could be rounded on the way.
//
// Layout (bit 3 first in each row):
//    1  AC, DC, AUTO, "serial output on" (always set here)
//    2  minus sign, then digit 1's lower-left, upper-left and top segments
//    3  digit 1's bottom, lower-right, middle and upper-right segments
//  4-5  digit 2 the same way, bit 3 of byte 4 being the point between digits 1 and 2
//  6-7  digit 3, bit 3 of byte 6 the point between digits 2 and 3
//  8-9  digit 4, bit 3 of byte 8 the point between digits 3 and 4
//   10  prefix micro, prefix nano, prefix kilo, diode symbol
//   11  prefix milli, percent, prefix mega, beeper symbol
//   12  farad, ohm, REL (relative), HOLD
//   13  ampere, volt, hertz, low battery
//   14  four symbols each meter wires as it likes; degree Celsius is on bit 2 here
//       (TemperatureBit), as on the common 4000-count meters
#include <QByteArray>
#include <QList>
#include <QString>

namespace fs9721 {

constexpr int PacketSize = 14;
constexpr int Baud = 2400;
constexpr int DigitPlaces = 4;
constexpr int MaxCount = 3999; // a 4000-count display: 0.000 .. 3.999, 0 .. 3999 and so on
constexpr int TemperatureBit = 2;

enum class Unit { Volt, Millivolt, Ampere, Milliampere, Ohm, Kiloohm, Hertz, Celsius, Percent };
enum class Coupling { None, Dc, Ac };

struct Reading {
    // The digits as the LCD shows them: "0.512", "-12.34", "3999"; "OL" is overload. Fewer than
    // four digits are sent with leading zeros ("48.2" as 048.2).
    QString display;
    Unit unit = Unit::Volt;
    Coupling coupling = Coupling::None;
    bool hold = false;
    bool relative = false;
    bool autoRange = true;
};

// The 14 bytes of the reading's packet, or an empty array (and the reason in *error) when the LCD
// cannot show it: more than four digits or 3999 counts, a point in front or at the end, a stray
// character.
QByteArray EncodePacket(const Reading& reading, QString* error = nullptr);

// A reading held for a number of packets in a scripted sequence.
struct Step {
    Reading reading;
    int packets = 1;
};

// Parses a scripted sequence: steps separated by ';', each step's words separated by blanks:
//   the display ("1.234", "-0.512", "OL"), one unit (V mV A mA Ohm kOhm Hz degC %),
//   AC or DC (volts and amperes only; DC when neither is given), HOLD, REL, MANUAL (the AUTO
//   symbol off), xN (send it in N packets in a row, 1..100000).
// e.g. "1.234 V DC x4; -0.512 V; 0.230 V AC HOLD; OL V; 12.34 kOhm". Empty with *error on a fault.
QList<Step> ParseSequence(const QString& text, QString* error);

// The unit as the sequence writes it.
QString UnitName(Unit unit);

// What meter-sim sends when no sequence is given: every unit, both couplings, negative, HOLD,
// REL, overload and a change from volts to ohms, then again from the start.
extern const char* const DefaultSequence;

} // namespace fs9721
