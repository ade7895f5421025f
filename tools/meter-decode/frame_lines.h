#pragma once
// The text meter-decode prints: one line per decoded frame, or the channel table of --state.
// Called after DecodeFrame has run on the frame, so the shared channel arrays hold its readings.
#include "acquisition/frame_decoder.h"

#include <string>

// One readable line (no line end) for the frame just decoded.
std::string FrameLine(const FrameBufferArray& frame);

// 17 lines "<channel> <value> <unit code> <decimals>", each ending in a line feed; the value is
// written so that it reads back as the same double.
std::string StateLines();
