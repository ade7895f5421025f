#pragma once
// Unit codes for sources that name their units in text (a libsigrok meter says "VDC", "Ohm"),
// where the instrument sends a code into unit2.dat's table. A text the table has keeps the table's
// code (Ohm is 8, Hz 10, °C 1); any other text gets a code of its own from the top of the table
// (300 down to the first code unit2.dat fills), written into Shared.UnitName, so that every
// surface that reads Shared.ChanUnit through RecordedReadingOf shows it unchanged. A manual unit
// set for the channel (DispSetup) still wins over both, as it does for the instrument.
#include <QString>
#include <cstdint>

// The code for `text` (at most 10 characters; longer is cut); 0 (the blank unit) for an empty
// text or, never in practice, when every free code is taken. Called again after unit2.dat was
// loaded anew, it gives the text a code again.
int16_t UnitCodeFor(const QString& text);

// The quantity a unit text measures, named as libsigrok names quantities ("voltage" for V, mV,
// VDC, VAC; "current", "resistance", "frequency", "temperature", "capacitance", "power", "rh",
// ...), for what knows the unit only: the instrument's channels and the rows of a data file. Empty
// where a unit alone does not say (dB, %, s, lux, a manual unit of the user's own).
QString QuantityOfUnit(const QString& unit);
// The unit without the AC/DC that a libsigrok meter's voltage and current carry ("VDC" -> "V",
// "mVAC" -> "mV", "AAC+DC" -> "A"); any other text as it is.
QString UnitWithoutCoupling(const QString& unit);
