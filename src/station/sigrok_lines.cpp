#include "station/sigrok_lines.h"

#include <QList>
#include <cmath>

namespace {

// A field as text; a control character (an escape sequence from a device's own description)
// becomes U+FFFD, so that no log line or page shows it as it came.
QString Text(const QByteArray& field)
{
    if (field == "-")
        return QString();
    QString text = QString::fromUtf8(field);
    for (QChar& c : text)
        if (c.category() == QChar::Other_Control)
            c = QChar::ReplacementCharacter;
    return text;
}

bool Int(const QByteArray& field, int low, int high, int* out)
{
    bool ok = false;
    const int v = field.toInt(&ok);
    if (!ok || v < low || v > high)
        return false;
    *out = v;
    return true;
}

// A decimal number as meter-sigrok writes it: optional minus, digits, optional point and digits.
bool Number(const QByteArray& field, double* out)
{
    if (field.isEmpty() || field.size() > 40)
        return false;
    int i = field[0] == '-' ? 1 : 0;
    int digits = 0;
    bool point = false;
    for (; i < field.size(); ++i) {
        const char c = field[i];
        if (c == '.' && !point)
            point = true;
        else if (c >= '0' && c <= '9')
            ++digits;
        else
            return false;
    }
    if (digits == 0)
        return false;
    bool ok = false;
    *out = field.toDouble(&ok);
    return ok && std::isfinite(*out);
}

} // namespace

SigrokLine ParseSigrokLine(const QByteArray& raw)
{
    SigrokLine line;
    const QByteArray text = raw.endsWith('\r') ? raw.chopped(1) : raw;
    const QList<QByteArray> f = text.split('\t');
    const QByteArray& kind = f[0];
    SigrokLine out;
    if (kind == "meter-sigrok" && f.size() == 2 && Int(f[1], 1, 1000000, &out.version)) {
        out.kind = SigrokLine::Kind::Hello;
    } else if (kind == "driver" && f.size() == 3 && f[1] != "-") {
        out.kind = SigrokLine::Kind::Driver;
        out.name = Text(f[1]);
        out.text = Text(f[2]);
    } else if (kind == "ok" && f.size() == 1) {
        out.kind = SigrokLine::Kind::Ok;
    } else if (kind == "device" && f.size() == 3 && Int(f[2], 0, 1000, &out.count)) {
        out.kind = SigrokLine::Kind::Device;
        out.name = Text(f[1]);
    } else if (kind == "channel" && f.size() == 3 && Int(f[1], 0, 999, &out.index)) {
        out.kind = SigrokLine::Kind::Channel;
        out.name = Text(f[2]);
    } else if (kind == "reading" && f.size() == 7 && Int(f[1], 0, 999, &out.index) &&
               Int(f[3], -99, 99, &out.digits) && f[4] != "-" && !f[4].isEmpty()) {
        if (f[2] == "inf" || f[2] == "-inf") {
            out.overload = true;
            out.value = f[2] == "inf" ? INFINITY : -INFINITY;
        } else if (f[2] == "nan") {
            out.notNumber = true;
            out.value = NAN;
        } else if (!Number(f[2], &out.value)) {
            return line;
        }
        out.quantity = Text(f[4]);
        out.unit = Text(f[5]);
        if (out.unit.size() > 10)
            return line;
        if (f[6] != "-")
            for (const QByteArray& flag : f[6].split(','))
                if (!flag.isEmpty())
                    out.flags << QString::fromUtf8(flag);
        out.kind = SigrokLine::Kind::Reading;
    } else if (kind == "error" && f.size() == 3) {
        out.kind = SigrokLine::Kind::Error;
        out.name = Text(f[1]);
        out.text = Text(f[2]);
    } else if (kind == "end" && f.size() == 2) {
        out.kind = SigrokLine::Kind::End;
        out.text = Text(f[1]);
    } else {
        return line;
    }
    return out;
}

QString ColumnUnit(const SigrokLine& reading)
{
    if (reading.unit == QLatin1String("V") || reading.unit == QLatin1String("A")) {
        const bool ac = reading.flags.contains(QLatin1String("ac"));
        const bool dc = reading.flags.contains(QLatin1String("dc"));
        if (ac && dc)
            return reading.unit + QStringLiteral("AC+DC");
        if (ac)
            return reading.unit + QStringLiteral("AC");
        if (dc)
            return reading.unit + QStringLiteral("DC");
    }
    return reading.unit.left(10);
}
