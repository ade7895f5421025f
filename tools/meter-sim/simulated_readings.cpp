#include "simulated_readings.h"

#include <array>
#include <cmath>
#include <numbers>

namespace metersim {

namespace {

struct Wave {
    int unit;
    int decimals;
    double offset;
    double amplitude;
    double periodSeconds;
};

// Periods differ so the channels drift apart; amplitudes keep every value within the frame's digits.
constexpr std::array<Wave, 16> Waves{{
    {DegC, 1, 22.5, 3, 60},
    {RelHumidity, 1, 45, 10, 90},
    {Volt, 2, 0, 12, 40},
    {MilliAmp, 3, 12, 8, 30},
    {DegF, 1, 72, 5, 75},
    {Hertz, 2, 50, 0.5, 20},
    {KiloOhm, 3, 4.7, 0.5, 50},
    {Amp, 2, 0, 5, 35},
    {MilliVolt, 1, -250, 100, 45},
    {Ohm, 0, 1000, 200, 80},
    {DegC, 0, -10, 15, 120},
    {Volt, 3, 3.3, 0.1, 25},
    {RelHumidity, 0, 60, 20, 100},
    {Hertz, 1, 1000, 250, 65},
    {MilliAmp, 2, -5, 10, 55},
    {DegF, 2, -40, 60, 150},
}};

double RoundTo(double value, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

double WaveValue(const Wave& wave, double seconds, double phase)
{
    const double angle = 2 * std::numbers::pi * seconds / wave.periodSeconds + phase;
    return RoundTo(wave.offset + wave.amplitude * std::sin(angle), wave.decimals);
}

} // namespace

SimulatedReading ChannelReading(int channel, double seconds)
{
    const Wave& wave = Waves.at(static_cast<std::size_t>(channel - 1));
    // A phase per channel, so channels with similar periods do not move in step.
    return {wave.unit, wave.decimals, WaveValue(wave, seconds, 0.7 * channel)};
}

DualSimulatedReading DualReadings(double seconds)
{
    constexpr Wave Main{Volt, 2, 0, 15, 40};
    constexpr Wave Second{DegC, 1, 2, 8, 70};
    return {DegC,
            Volt,
            {WaveValue(Main, seconds, 0), Main.decimals},
            {WaveValue(Second, seconds, 1), Second.decimals}};
}

} // namespace metersim
