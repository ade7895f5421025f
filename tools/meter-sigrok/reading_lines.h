#pragma once
// The lines meter-sigrok writes on standard output (format version 1, see main.cpp): the text of
// one analog reading from libsigrok's packet fields. Pure functions, no libsigrok state.
#include <cstdint>
#include <string>

namespace sigrokhelper {

constexpr int FormatVersion = 1;

// Tabs and line ends in a text field become blanks, so a field never splits a line.
std::string Field(const char* text);

// "0.9999" with `digits` decimals (none when digits <= 0); "inf", "-inf", "nan" when not finite.
std::string ValueText(double value, int digits);

// libsigrok's unit as the line names it ("V", "Ohm", "°C"); "-" for none or unknown.
std::string UnitText(int unit);

// libsigrok's measured-quantity flags as a comma list ("dc,auto"); "-" for none.
std::string FlagsText(uint64_t flags);

// reading<TAB>index<TAB>value<TAB>digits<TAB>quantity<TAB>unit<TAB>flags
std::string ReadingLine(int index, double value, int digits, const std::string& quantity, int unit, uint64_t flags);

} // namespace sigrokhelper
