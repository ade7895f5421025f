#pragma once
// Channel n's reading as a row records it, held once for every surface that shows "the value
// the row records" (rows, MQTT, the status page and /metrics): the shared state's reading rounded
// to the meter's decimals through its format pattern, and the unit the meter sends or the one the
// user typed for the channel. The live displays keep their own formatting.
#include <QString>

struct RecordedReading {
    double value = 0;
    QString unit;     // as the row's unit column holds it (a manual unit keeps its blanks)
    int decimals = 0; // the meter's decimals for the reading
};

// False with *error for a reading that cannot be recorded: decimals outside the format table, a
// reading that is no finite number once formatted, an unknown unit code. n is 1..MaxChannel.
bool RecordedReadingOf(int n, RecordedReading* out, QString* error = nullptr);
