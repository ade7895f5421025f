#include "reading_lines.h"

#include <libsigrok/libsigrok.h>

#include <cmath>
#include <cstdio>

namespace sigrokhelper {

std::string Field(const char* text)
{
    std::string out = text ? text : "";
    for (char& c : out)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    return out.empty() ? std::string("-") : out;
}

std::string ValueText(double value, int digits)
{
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value > 0 ? "inf" : "-inf";
    char text[64];
    const int decimals = digits > 0 ? (digits > 15 ? 15 : digits) : 0;
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string out = text;
    // "-0.000" is a zero reading.
    if (out[0] == '-' && out.find_first_not_of("-0.") == std::string::npos)
        out.erase(0, 1);
    return out;
}

std::string UnitText(int unit)
{
    switch (unit) {
    case SR_UNIT_VOLT: return "V";
    case SR_UNIT_AMPERE: return "A";
    case SR_UNIT_OHM: return "Ohm";
    case SR_UNIT_FARAD: return "F";
    case SR_UNIT_KELVIN: return "K";
    case SR_UNIT_CELSIUS: return "°C";
    case SR_UNIT_FAHRENHEIT: return "°F";
    case SR_UNIT_HERTZ: return "Hz";
    case SR_UNIT_PERCENTAGE: return "%";
    case SR_UNIT_BOOLEAN: return "bool";
    case SR_UNIT_SECOND: return "s";
    case SR_UNIT_SIEMENS: return "S";
    case SR_UNIT_DECIBEL_MW: return "dBm";
    case SR_UNIT_DECIBEL_VOLT: return "dBV";
    case SR_UNIT_DECIBEL_SPL: return "dB";
    case SR_UNIT_CONCENTRATION: return "ppm";
    case SR_UNIT_REVOLUTIONS_PER_MINUTE: return "rpm";
    case SR_UNIT_VOLT_AMPERE: return "VA";
    case SR_UNIT_WATT: return "W";
    case SR_UNIT_WATT_HOUR: return "Wh";
    case SR_UNIT_METER_SECOND: return "m/s";
    case SR_UNIT_HECTOPASCAL: return "hPa";
    case SR_UNIT_HUMIDITY_293K: return "%RH";
    case SR_UNIT_DEGREE: return "deg";
    case SR_UNIT_HENRY: return "H";
    case SR_UNIT_GRAM: return "g";
    case SR_UNIT_CARAT: return "ct";
    case SR_UNIT_OUNCE: return "oz";
    case SR_UNIT_TROY_OUNCE: return "ozt";
    case SR_UNIT_POUND: return "lb";
    case SR_UNIT_PENNYWEIGHT: return "dwt";
    case SR_UNIT_GRAIN: return "gr";
    case SR_UNIT_TAEL: return "tael";
    default: return "-";
    }
}

std::string FlagsText(uint64_t flags)
{
    static const struct {
        uint64_t flag;
        const char* name;
    } names[] = {
        {SR_MQFLAG_AC, "ac"},
        {SR_MQFLAG_DC, "dc"},
        {SR_MQFLAG_RMS, "rms"},
        {SR_MQFLAG_DIODE, "diode"},
        {SR_MQFLAG_HOLD, "hold"},
        {SR_MQFLAG_MAX, "max"},
        {SR_MQFLAG_MIN, "min"},
        {SR_MQFLAG_AUTORANGE, "auto"},
        {SR_MQFLAG_RELATIVE, "rel"},
        {SR_MQFLAG_SPL_FREQ_WEIGHT_A, "spl-a"},
        {SR_MQFLAG_SPL_FREQ_WEIGHT_C, "spl-c"},
        {SR_MQFLAG_SPL_FREQ_WEIGHT_Z, "spl-z"},
        {SR_MQFLAG_SPL_FREQ_WEIGHT_FLAT, "spl-flat"},
        {SR_MQFLAG_SPL_TIME_WEIGHT_S, "spl-slow"},
        {SR_MQFLAG_SPL_TIME_WEIGHT_F, "spl-fast"},
        {SR_MQFLAG_SPL_LAT, "spl-lat"},
        {SR_MQFLAG_SPL_PCT_OVER_ALARM, "over-alarm"},
        {SR_MQFLAG_DURATION, "duration"},
        {SR_MQFLAG_AVG, "avg"},
        {SR_MQFLAG_REFERENCE, "ref"},
        {SR_MQFLAG_UNSTABLE, "unstable"},
        {SR_MQFLAG_FOUR_WIRE, "4wire"},
    };
    std::string out;
    for (const auto& n : names)
        if (flags & n.flag) {
            if (!out.empty())
                out += ',';
            out += n.name;
        }
    return out.empty() ? std::string("-") : out;
}

std::string ReadingLine(int index, double value, int digits, const std::string& quantity, int unit, uint64_t flags)
{
    return "reading\t" + std::to_string(index) + '\t' + ValueText(value, digits) + '\t' + std::to_string(digits) +
           '\t' + quantity + '\t' + UnitText(unit) + '\t' + FlagsText(flags) + '\n';
}

} // namespace sigrokhelper
