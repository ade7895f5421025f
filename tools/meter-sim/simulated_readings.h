#pragma once
// The readings meter-sim makes up: every channel follows its own slow sine wave, with its own
// unit, decimals, offset and period, so a display shows values that move plausibly; several
// channels swing below zero. Called by the frame stream with the seconds since the start.
#include "frame_encoder.h"

namespace metersim {

// Unit codes of the shipped unit table.
enum Unit {
    DegC = 1,
    DegF = 2,
    RelHumidity = 3,
    Volt = 4,
    MilliVolt = 5,
    Amp = 6,
    MilliAmp = 7,
    Ohm = 8,
    KiloOhm = 9,
    Hertz = 10
};

struct SimulatedReading {
    int unit = 0;
    int decimals = 0;
    double value = 0;
};

// Channel 1..16 at `seconds` after the start; the value is already rounded to its decimals.
SimulatedReading ChannelReading(int channel, double seconds);

// A dual-display meter: a DC voltage on the main display and a temperature on the second one.
struct DualSimulatedReading {
    int channelDigit = 0; // also the second reading's unit
    int firstUnit = 0;
    meterframe::DualReading first;
    meterframe::DualReading second;
};
DualSimulatedReading DualReadings(double seconds);

} // namespace metersim
