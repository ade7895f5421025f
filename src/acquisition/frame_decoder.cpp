#include "acquisition/frame_decoder.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace {

using Digits = std::array<int16_t, 16>;

// Powers of ten rounded to float, as the reading's 32-bit steps use them; 10^38 is the largest a
// float holds.
constexpr int MaxFloatPower = 38;
constexpr std::array<float, MaxFloatPower + 1> FloatPowersOfTen = [] {
    std::array<float, MaxFloatPower + 1> powers{};
    double power = 1.0;
    for (float& p : powers) {
        p = static_cast<float>(power);
        power *= 10.0;
    }
    return powers;
}();

// Digit values of the 16 frame bytes, digit position p from byte 15 - p. Every byte of the stream
// passes here, so on x86 all 16 are done at once.
Digits FrameDigitValues(const uint8_t* bytes)
{
    Digits digits;
#if defined(__SSE2__) || defined(_M_X64)
    const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    const __m128i fortyEight = _mm_set1_epi8(48);
    const __m128i atLeast48 = _mm_cmpeq_epi8(_mm_max_epu8(raw, fortyEight), raw);
    const __m128i values = _mm_sub_epi8(raw, _mm_and_si128(atLeast48, fortyEight));
    const auto reversed = [](__m128i v) {
        v = _mm_shufflelo_epi16(v, _MM_SHUFFLE(0, 1, 2, 3));
        v = _mm_shufflehi_epi16(v, _MM_SHUFFLE(0, 1, 2, 3));
        return _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2));
    };
    const __m128i zero = _mm_setzero_si128();
    _mm_storeu_si128(reinterpret_cast<__m128i*>(digits.data()), reversed(_mm_unpackhi_epi8(values, zero)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(digits.data() + 8),
                     reversed(_mm_unpacklo_epi8(values, zero)));
#else
    for (int p = 0; p < 16; ++p)
        digits[p] = DigitValue(bytes[15 - p]);
#endif
    return digits;
}

constexpr bool IsDecimalDigit(int16_t digit)
{
    return digit >= 0 && digit <= 9;
}

// The unit's high digit comes as 0..9 or as a letter A..F, whose digit value 17..22 means 10..15.
constexpr int16_t UnitCode(const Digits& d)
{
    const int high = d[12] > 9 ? d[12] - 7 : d[12];
    return static_cast<int16_t>(high * 10 + d[11]);
}

constexpr int16_t DecimalsOf(int16_t code)
{
    return code < 7 ? code : 0;
}

// Decimal-point codes 7, 8 and 9 multiply instead of placing a decimal point.
float ApplyMultiplier(float x, int16_t code)
{
    switch (code) {
    case 7:
        return x * 10.0f;
    case 8:
        return x * 100.0f;
    case 9:
        return x * 1000.0f;
    default:
        return x;
    }
}

// A reading on channel 0 stands for channel 1 too, so an invalid one marks both.
void MarkInvalid(int ch)
{
    Shared.ChanValue[ch] = InvalidReading;
    if (ch == 0)
        Shared.ChanValue[1] = InvalidReading;
}

// The reading is kept in a float, rounded after each high digit is added: 99999999 reads 100000000,
// as in every data file recorded so far.
float AddHighDigit(float x, int16_t digit, double weight)
{
    if (digit == 0)
        return x;
    return static_cast<float>(static_cast<double>(x) + digit * weight);
}

void DecodeSingle(int ch, const Digits& d, int16_t unit)
{
    if (!IsDecimalDigit(d[4])) {
        MarkInvalid(ch);
        return;
    }
    // Exact in int and in float: at most 32767 * 11111 from any 16-bit digits.
    const int low = d[5] * 10000 + d[4] * 1000 + d[3] * 100 + d[2] * 10 + d[1];
    float x = static_cast<float>(low);
    x = AddHighDigit(x, d[8], 1e7);
    x = AddHighDigit(x, d[7], 1e6);
    x = AddHighDigit(x, d[6], 1e5);

    const int16_t code = d[9];
    if (code >= 0 && code <= 6)
        x = static_cast<float>(static_cast<double>(x) / static_cast<double>(FloatPowersOfTen[code]));
    else
        x = ApplyMultiplier(x, code);
    Shared.ChanDecimals[ch] = DecimalsOf(code);
    if (d[10] == 1)
        x = -x;
    Shared.ChanValue[ch] = static_cast<double>(x) * Shared.CurrentScale;
    Shared.ChanUnit[ch] = unit;
}

void DecodeFirstOfTwo(int ch, const Digits& d, int16_t unit)
{
    if (!IsDecimalDigit(d[4])) {
        // The first reading is channel 1's whatever the channel digit says: marking the digit's
        // channel instead would leave a stale reading recorded on channel 1 and overwrite another
        // channel's reading.
        Shared.ChanValue[1] = InvalidReading;
        if (ch == 0)
            Shared.ChanValue[0] = InvalidReading;
        return;
    }
    // Fits 16 bits: at most 9 * 1000 + 207 * 111 from frame bytes.
    const int u = d[4] * 1000 + d[3] * 100 + d[2] * 10 + d[1];
    const int16_t code = d[9];
    const float divisor = code >= 0 && code <= 6 ? FloatPowersOfTen[code] : 1.0f;
    float x = ApplyMultiplier(static_cast<float>(u), code);
    Shared.ChanDecimals[1] = DecimalsOf(code);
    x = x / divisor;
    if (d[14] == 3 || d[14] == 1)
        x = -x;
    // On Format 01 meters the second reading's units and tens digits mark the first reading's
    // range: 0 and '?' mean times 10, 0 and 0 times 100.
    if (Shared.Format01) {
        if (d[5] == 0 && d[6] == 15)
            x = x * 10.0f;
        if (d[5] == 0 && d[6] == 0)
            x = x * 100.0f;
    }
    Shared.ChanValue[1] = static_cast<double>(x) * Shared.CurrentScale;
    Shared.ChanUnit[1] = unit;
}

void DecodeSecondOfTwo(const Digits& d)
{
    if (!IsDecimalDigit(d[8])) {
        Shared.ChanValue[2] = InvalidReading;
        return;
    }
    const int v = d[8] * 1000 + d[7] * 100 + d[6] * 10 + d[5];
    const int16_t places = d[10];
    Shared.ChanDecimals[2] = places;
    // Beyond 10^38 the float power overflows: no usable reading.
    if (places < 0 || places > MaxFloatPower) {
        Shared.ChanValue[2] = InvalidReading;
        return;
    }
    double value = v / static_cast<double>(FloatPowersOfTen[places]);
    if (d[14] == 3 || d[14] == 2)
        value = -value;
    Shared.ChanValue[2] = value * Shared.CurrentScale;
    Shared.ChanUnit[2] = d[13];
}

void DecodeDual(int ch, const Digits& d, int16_t unit)
{
    Shared.SecondDisplay = d[7] != 15;
    DecodeFirstOfTwo(ch, d, unit);
    if (Shared.SecondDisplay)
        DecodeSecondOfTwo(d);
}

} // namespace

bool DecodeFrame(FrameBufferArray& FrameBuffer)
{
    FrameBuffer[0] = FrameStartByte;
    const int16_t ch = DigitValue(FrameBuffer[2]);
    if (ch > MaxChannel)
        return false;
    const Digits digits = FrameDigitValues(FrameBuffer.data());
    Shared.FrameStore[ch] = digits;
    Shared.FrameDigits = digits;
    Shared.FrameChannel = ch;
    DecodeReading();
    return true;
}

FrameChannelList FrameChannels()
{
    FrameChannelList list;
    // A dual-display frame carries channel 1, and channel 2 when its second display is on; its
    // channel digit is no channel. A single frame carries its channel's reading (0 is no channel).
    if (Shared.FrameDigits[14] == 4) {
        if (Shared.FrameChannel >= 1 && Shared.FrameChannel <= MaxChannel)
            list.channel[list.count++] = Shared.FrameChannel;
    } else {
        list.channel[list.count++] = 1;
        if (Shared.SecondDisplay)
            list.channel[list.count++] = 2;
    }
    return list;
}

bool TakeFrame(FrameBufferArray& FrameBuffer, ReadingFreshness& freshness, int source)
{
    if (!DecodeFrame(FrameBuffer))
        return false;
    // Only a frame of a channel the program knows keeps the link fresh.
    freshness.FrameArrived(source);
    const FrameChannelList heard = FrameChannels();
    for (int i = 0; i < heard.count; ++i)
        freshness.Heard(heard.channel[i], source);
    return true;
}

void DecodeReading()
{
    const int ch = Shared.FrameChannel;
    if (ch < 0 || ch > MaxChannel)
        return;
    const Digits& d = Shared.FrameStore[ch];
    const int16_t unit = UnitCode(d);
    Shared.ChanUnit[ch] = unit;
    Shared.ChanDecimals[ch] = DecimalsOf(d[9]);
    Shared.CurrentScale = Shared.DispSetup[ch == 0 ? 1 : ch].Scale;
    if (d[14] == 4)
        DecodeSingle(ch, d, unit);
    else
        DecodeDual(ch, d, unit);
}
