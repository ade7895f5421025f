#pragma once
// The lines of meter-sigrok (tools/meter-sigrok/main.cpp describes format 1), read by the sigrok
// source, and how a reading's unit is written in the data file's unit column. Pure functions: the
// fuzz target "sigrok_lines" feeds them arbitrary bytes.
#include <QByteArray>
#include <QString>
#include <QStringList>

struct SigrokLine {
    enum class Kind { Invalid, Hello, Driver, Ok, Device, Channel, Reading, Error, End };
    Kind kind = Kind::Invalid;
    int version = 0;    // Hello
    int index = -1;     // Channel, Reading: the device's analog channel, from 0
    int count = 0;      // Device: analog channels
    QString name;       // Driver, Device, Channel: name or description; Error: what failed
    QString text;       // Driver: description; Error, End: the message
    double value = 0;   // Reading: finite unless overload or notNumber
    bool overload = false;   // Reading: "inf" or "-inf"
    bool notNumber = false;  // Reading: "nan"
    int digits = 0;     // Reading: decimals the meter shows (<= 0: none)
    QString quantity;   // Reading: "voltage", "resistance", ...
    QString unit;       // Reading: "V", "Ohm", "°C", ... empty for none
    QStringList flags;  // Reading: "dc", "hold", "rel", ...
};

// One line without its line end (a trailing CR is ignored). Anything that is not a well-formed
// line of format 1 is Kind::Invalid.
SigrokLine ParseSigrokLine(const QByteArray& line);

// The unit column's text for a reading: V and A carry AC/DC ("VDC", "AAC"; "V" when the meter says
// neither), every other unit as meter-sigrok names it ("Ohm", "Hz", "°C", "F", "%"); at most 10
// characters.
QString ColumnUnit(const SigrokLine& reading);
