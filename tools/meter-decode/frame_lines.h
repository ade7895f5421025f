#pragma once
// The text meter-decode prints: one line per decoded frame, or the channel table of --state.
// Called after DecodeFrame has run on the frame, so the shared channel arrays hold its readings.
#include "acquisition/frame_decoder.h"

#include <array>
#include <string>

// One readable line (no line end) for the frame just decoded.
std::string FrameLine(const FrameBufferArray& frame);

// Channels 0..16 that a decoded frame carried a reading (or the invalid marker) of.
using HeardChannels = std::array<bool, MaxChannel + 1>;

// Notes the channels of the frame just decoded (the ones FrameLine names) in heard.
void NoteHeard(const FrameBufferArray& frame, HeardChannels& heard);

// 17 lines "<channel> <value> <unit code> <decimals>", each ending in a line feed; the value is
// written so that it reads back as the same double. A channel no frame carried is "<channel> - - -":
// it has no reading, and a 0 would read as one.
std::string StateLines(const HeardChannels& heard);
