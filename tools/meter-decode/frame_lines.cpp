#include "frame_lines.h"

#include <cstdio>

namespace {

// Byte positions in the frame (0 is the start byte).
constexpr int LayoutByte = 1;
constexpr int ChannelByte = 2;
constexpr int SingleReadingLayout = 4;

std::string Format(const char* format, auto... values)
{
    char text[128];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

std::string Reading(int ch)
{
    const double value = Shared.ChanValue[ch];
    if (value == InvalidReading)
        return Format("ch %d invalid", ch);
    const int decimals = Shared.ChanDecimals[ch];
    const std::string number =
        decimals >= 0 && decimals <= 16 ? Format("%.*f", decimals, value) : Format("%.17g", value);
    return Format("ch %d %s unit %d", ch, number.c_str(), Shared.ChanUnit[ch]);
}

} // namespace

std::string FrameLine(const FrameBufferArray& frame)
{
    const int ch = DigitValue(frame[ChannelByte]);
    if (ch > MaxChannel)
        return Format("dropped: channel digit %d is above %d", ch, MaxChannel);
    if (DigitValue(frame[LayoutByte]) == SingleReadingLayout)
        return Reading(ch);
    std::string line = "dual: " + Reading(1);
    line += Shared.SecondDisplay ? ", " + Reading(2) : std::string(", ch 2 no reading");
    return line;
}

void NoteHeard(const FrameBufferArray& frame, HeardChannels& heard)
{
    const int ch = DigitValue(frame[ChannelByte]);
    if (ch > MaxChannel)
        return;
    if (DigitValue(frame[LayoutByte]) == SingleReadingLayout) {
        heard[size_t(ch)] = true;
        return;
    }
    heard[1] = true;
    if (Shared.SecondDisplay)
        heard[2] = true;
}

std::string StateLines(const HeardChannels& heard)
{
    std::string lines;
    for (int ch = 0; ch <= MaxChannel; ++ch)
        lines += heard[size_t(ch)] ? Format("%d %.17g %d %d\n", ch, Shared.ChanValue[ch], Shared.ChanUnit[ch],
                                            Shared.ChanDecimals[ch])
                                   : Format("%d - - -\n", ch);
    return lines;
}
