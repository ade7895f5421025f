#pragma once
// Builds the 16-byte frames the meter sends: start byte 0x02, 14 ASCII data bytes, end byte 0x0D.
// Used by meter-sim to stream readings and by tests that need frames with known content.
// Every reading digit is a character 0..9; a reading that does not fit its frame (too many digits,
// decimals outside 0..6, a unit code or channel the frame cannot carry) gives an empty array
// instead of a frame that would decode to something else.
#include <QByteArray>
#include <optional>

namespace meterframe {

constexpr int FrameSize = 16;
constexpr char StartByte = 0x02;
constexpr char EndByte = 0x0D;
// Byte offsets inside a frame.
constexpr int ChannelByte = 2;
constexpr int CheckedDigitByte = 11; // thousands digit of the (first) reading; 0..9 or the reading is invalid
constexpr int EndByteIndex = 15;

constexpr int MaxFrameChannel = 16;
constexpr int MaxUnitCode = 159; // high digit 0..15 (letters A..F for 10..15), low digit 0..9
constexpr int MaxDecimals = 6;
constexpr long long MaxSingleDigits = 99'999'999; // eight reading digits
constexpr long long MaxDualDigits = 9'999;        // four digits per reading

// One reading of a single-reading frame, for channel 0..16.
QByteArray EncodeSingleFrame(int channel, int unitCode, int decimals, double value);

// One reading of a dual-display frame.
struct DualReading {
    double value = 0;
    int decimals = 0;
};

// A dual-display frame: the first reading lands on channel 1 with `firstUnit`, the second (if any) on
// channel 2. The meter sends the second reading's unit in the channel byte, so `channelDigit` (0..16)
// is also the second reading's unit code. Without a second reading its four digits are sent as '?'.
// Frames are meant for a decoder with the Format01 meter option off: with it on, a second reading whose
// last two digits are 0 rescales the first reading.
QByteArray EncodeDualFrame(int channelDigit, int firstUnit, DualReading first,
                           std::optional<DualReading> second);

} // namespace meterframe
