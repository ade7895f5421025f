#pragma once
// Cuts complete frames out of the meter's serial byte stream.
// The serial link's receive handler owns one receiver and passes it the bytes of every receive event
// (after it has set DataReceived and LastRxTick); frames may be split over events or several to one
// event, and the state carries over between events. The serial set-up calls Reset.
// A frame is the start byte, then FrameLength (15) bytes of which the last must be the end byte
// 0x0D. Each complete frame goes to OnFrame, or to TakeFrame when OnFrame is empty; either says
// whether it took the frame (DecodeFrame refuses a channel above 16).
// Errors: a frame with a wrong end byte is dropped together with the rest of that event's bytes;
// hunting for the next start byte resumes with the next event. Bytes before a start byte are skipped.
// The fields are public for the serial set-up and tests; a state outside its ranges (RxState 0 or
// 2, SyncIndex 0..15, FrameLength 1..170, while collecting ByteCount 0..FrameLength - 1) is reset
// before use.
#include "acquisition/frame_decoder.h"

#include <QByteArray>
#include <QtGlobal>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

class FrameReceiver {
  public:
    static constexpr int16_t Hunting = 0;
    static constexpr int16_t Collecting = 2;

    // Back to hunting for the start byte; a frame being collected is abandoned.
    void Reset();
    // The bytes of one receive event, in order.
    void Receive(const uint8_t* bytes, std::size_t count);
    void Receive(const QByteArray& bytes);

    // Takes a complete frame; false when it refused it. Empty: TakeFrame into Shared.Freshness.
    std::function<bool(FrameBufferArray&)> OnFrame;

    // Complete frames cut from the stream, and those of them dropped for a wrong end byte or refused
    // by the handler; the link watches the difference for the first good frame after a silence.
    quint64 FramesCut = 0;
    quint64 FramesDropped = 0;

    int16_t RxState = Hunting;
    std::array<uint8_t, 16> SyncBytes{0, FrameStartByte};
    int16_t SyncIndex = 1;
    int16_t ByteCount = 0;
    int16_t FrameLength = 15;
    FrameBufferArray FrameBuffer{};

  private:
    bool StateInRange() const;
};
