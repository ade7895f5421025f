#include "frame_encoder.h"

#include <cmath>

namespace meterframe {

namespace {

bool ChannelFits(int channel)
{
    return channel >= 0 && channel <= MaxFrameChannel;
}

bool DecimalsFit(int decimals)
{
    return decimals >= 0 && decimals <= MaxDecimals;
}

// The magnitude as whole digits once the decimal point is dropped; -1 when it needs more than maxDigits.
long long Mantissa(double value, int decimals, long long maxDigits)
{
    if (!std::isfinite(value))
        return -1;
    const double scaled = std::round(std::fabs(value) * std::pow(10.0, decimals));
    if (scaled > static_cast<double>(maxDigits))
        return -1;
    return static_cast<long long>(scaled);
}

// The meter sends every number as "character 0 plus the value"; above 9 that runs into : ; < = > ? @.
char DigitChar(int value)
{
    return static_cast<char>('0' + value);
}

void PutUnit(QByteArray& frame, int at, int unitCode)
{
    const int high = unitCode / 10;
    frame[at] = high > 9 ? static_cast<char>('A' + high - 10) : DigitChar(high);
    frame[at + 1] = DigitChar(unitCode % 10);
}

void PutDigits(QByteArray& frame, int at, int count, long long digits)
{
    for (int i = at + count - 1; i >= at; --i) {
        frame[i] = DigitChar(static_cast<int>(digits % 10));
        digits /= 10;
    }
}

QByteArray EmptyFrame()
{
    QByteArray frame(FrameSize, '0');
    frame[0] = StartByte;
    frame[EndByteIndex] = EndByte;
    return frame;
}

} // namespace

QByteArray EncodeSingleFrame(int channel, int unitCode, int decimals, double value)
{
    if (!ChannelFits(channel) || unitCode < 0 || unitCode > MaxUnitCode || !DecimalsFit(decimals))
        return {};
    const long long digits = Mantissa(value, decimals, MaxSingleDigits);
    if (digits < 0)
        return {};
    QByteArray frame = EmptyFrame();
    frame[1] = '4';
    frame[ChannelByte] = DigitChar(channel);
    PutUnit(frame, 3, unitCode);
    // A reading that rounds to zero goes out unsigned, as the meter shows it.
    frame[5] = value < 0 && digits != 0 ? '1' : '0';
    frame[6] = DigitChar(decimals);
    PutDigits(frame, 7, 8, digits);
    return frame;
}

QByteArray EncodeDualFrame(int channelDigit, int firstUnit, DualReading first,
                           std::optional<DualReading> second)
{
    if (!ChannelFits(channelDigit) || firstUnit < 0 || firstUnit > MaxUnitCode ||
        !DecimalsFit(first.decimals) || (second && !DecimalsFit(second->decimals)))
        return {};
    const long long firstDigits = Mantissa(first.value, first.decimals, MaxDualDigits);
    const long long secondDigits = second ? Mantissa(second->value, second->decimals, MaxDualDigits) : 0;
    if (firstDigits < 0 || secondDigits < 0)
        return {};
    const bool firstNegative = first.value < 0 && firstDigits != 0;
    const bool secondNegative = second && second->value < 0 && secondDigits != 0;
    QByteArray frame = EmptyFrame();
    // Sign code 1, 2 or 3; 0 for both positive, because 4 would mark a single-reading frame.
    frame[1] = DigitChar((firstNegative ? 1 : 0) + (secondNegative ? 2 : 0));
    frame[ChannelByte] = DigitChar(channelDigit);
    PutUnit(frame, 3, firstUnit);
    frame[5] = DigitChar(second ? second->decimals : 0);
    frame[6] = DigitChar(first.decimals);
    if (second)
        PutDigits(frame, 7, 4, secondDigits);
    else
        frame.replace(7, 4, "????");
    PutDigits(frame, CheckedDigitByte, 4, firstDigits);
    return frame;
}

} // namespace meterframe
