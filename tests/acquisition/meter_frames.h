#pragma once
// Frames and exact double checks shared by the acquisition tests.
#include <QByteArray>
#include <QString>
#include <cmath>

// A meter frame: start byte, the 14 data bytes given, end byte (CR unless told otherwise).
inline QByteArray MeterFrame(const QByteArray& data, char end = '\r')
{
    Q_ASSERT(data.size() == 14);
    return '\x02' + data + end;
}

// Equal bit for bit as far as a reading goes: same value and same sign of zero.
inline bool SameReading(double a, double b)
{
    return a == b && std::signbit(a) == std::signbit(b);
}

inline QString ReadingText(double value)
{
    return QString::asprintf("%.17g", value);
}
