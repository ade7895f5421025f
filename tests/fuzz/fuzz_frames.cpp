// The serial byte stream through the frame receiver and the decoder.
// Byte 0 chooses how the stream is cut into receive events (event sizes 1..64 cycling from it),
// whether frames go to the decoder or to a handler that checks them, and whether the receiver
// starts from a state set from the next bytes (as the serial set-up or a test might leave it).
#include "acquisition/frame_receiver.h"
#include "fuzz_support.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

int FuzzFrames(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const uint8_t selector = in.byte();
    Shared = SharedState{};
    Shared.Format01 = selector & 0x40;
    FrameReceiver receiver;
    const bool setState = selector & 0x80;
    if (setState) {
        receiver.RxState = in.value<int16_t>();
        receiver.SyncIndex = in.value<int16_t>();
        receiver.ByteCount = in.value<int16_t>();
        receiver.FrameLength = in.value<int16_t>();
    }
    const QByteArray stream = in.rest();
    // Frames are checked against the stream only from the receiver's own starting state.
    const bool checkFrames = (selector & 0x20) && !setState;
    int frames = 0;
    if (checkFrames) {
        receiver.OnFrame = [&](FrameBufferArray& frame) {
            ++frames;
            // A frame handed on ends with the end byte, and its body came from the stream after a start byte.
            FUZZ_CHECK(frame[15] == FrameEndByte, "frame without its end byte");
            QByteArray body(1, char(FrameStartByte));
            body.append(reinterpret_cast<const char*>(frame.data() + 1), 15);
            FUZZ_CHECK(stream.contains(body), "frame body not in the stream");
            return DecodeFrame(frame);
        };
    }
    int step = (selector & 0x1f) + 1;
    for (qsizetype at = 0; at < stream.size();) {
        const qsizetype n = std::min<qsizetype>(step, stream.size() - at);
        receiver.Receive(reinterpret_cast<const uint8_t*>(stream.constData() + at), size_t(n));
        at += n;
        step = step % 64 + 1;
        if (receiver.RxState == FrameReceiver::Collecting)
            FUZZ_CHECK(receiver.ByteCount >= 0 && receiver.ByteCount < receiver.FrameLength, "byte count");
    }
    FUZZ_CHECK(frames <= stream.size() / 16, "more frames than the stream holds"); // 0 when not checked
    for (int c = 0; c <= MaxChannel; ++c) {
        FUZZ_CHECK(std::isfinite(Shared.ChanValue[c]), "a reading that is not a finite number");
        FUZZ_CHECK(Shared.ChanDecimals[c] >= 0, "negative decimals");
    }
    FUZZ_CHECK(Shared.FrameChannel >= 0 && Shared.FrameChannel <= MaxChannel, "frame channel");
    return 0;
}

} // namespace

VARNIK_FUZZ_TARGET("frames", FuzzFrames)
