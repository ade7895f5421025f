#pragma once
// Turns one complete meter frame into channel readings in the shared state.
// The receiver (frame_receiver.h) calls DecodeFrame for every frame it cuts from the serial stream;
// nothing else needs to. A frame is 16 bytes: start byte 0x02, 14 data bytes, end byte 0x0D.
// Every byte b becomes a digit value (b - 48 from 48 up, else b) and byte k is digit position
// 15 - k. The first data byte tells the layout: the character 4 is a single reading of the frame's
// channel, anything else a dual-display frame whose readings go to channels 1 and 2.
// Errors: a reading whose checked digit is not 0..9 is stored as InvalidReading, and so is a second
// reading whose decimal places (above 38) put its power of ten beyond the float range; a frame whose
// channel digit is above MaxChannel is dropped and changes nothing.
#include "core/shared_state.h"

#include <array>
#include <cstdint>

using FrameBufferArray = std::array<uint8_t, 171>;

constexpr uint8_t FrameStartByte = 0x02;
constexpr uint8_t FrameEndByte = 0x0D;

constexpr int16_t DigitValue(uint8_t b)
{
    return static_cast<int16_t>(b >= 48 ? b - 48 : b);
}

// Decodes the frame in FrameBuffer[1..15] (the bytes after the start byte) into Shared: FrameDigits,
// FrameChannel, FrameStore, ChanValue, ChanUnit, ChanDecimals, CurrentScale, SecondDisplay. Puts the
// start byte back in FrameBuffer[0]. False when the frame names no channel 0..MaxChannel: it is
// dropped, Shared still holds the previous frame, and nothing may be passed on as newly read.
bool DecodeFrame(FrameBufferArray& FrameBuffer);

// The channels whose readings the frame DecodeFrame just took carries: its own channel for a
// single-reading frame (none for channel 0), channel 1 and (with the second display on) 2 for a
// dual-display frame. The one place this rule is held.
struct FrameChannelList {
    std::array<int, 2> channel{};
    int count = 0;
};
FrameChannelList FrameChannels();

// DecodeFrame, then the frame and its channels told to `freshness` as source `source`'s, as a
// recording station does with what its meter source hears: what the receiver does by itself (for
// source 0 of Shared.Freshness) when no station took its frames (tools and tests).
bool TakeFrame(FrameBufferArray& FrameBuffer, ReadingFreshness& freshness, int source = 0);

// Computes the reading of channel Shared.FrameChannel from Shared.FrameStore; DecodeFrame calls it.
// Does nothing when FrameChannel is outside 0..MaxChannel.
void DecodeReading();
