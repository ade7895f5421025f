#include "acquisition/frame_receiver.h"

#include <cstring>

void FrameReceiver::Reset()
{
    RxState = Hunting;
    SyncBytes[1] = FrameStartByte;
    FrameLength = 15;
    SyncIndex = 1;
    ByteCount = 0;
}

inline bool FrameReceiver::StateInRange() const
{
    const bool collectingInRange = RxState == Collecting && ByteCount >= 0 && ByteCount < FrameLength;
    return (RxState == Hunting || collectingInRange) && SyncIndex >= 0 &&
           SyncIndex < static_cast<int>(SyncBytes.size()) && FrameLength >= 1 &&
           FrameLength < static_cast<int>(FrameBuffer.size());
}

void FrameReceiver::Receive(const uint8_t* bytes, std::size_t count)
{
    if (count == 0)
        return;
    if (!StateInRange())
        Reset();
    const uint8_t* next = bytes;
    const uint8_t* const end = bytes + count;
    while (next != end) {
        if (RxState == Hunting) {
            const uint8_t start = SyncBytes[SyncIndex];
            if (*next != start) {
                next = static_cast<const uint8_t*>(std::memchr(next, start, end - next));
                if (next == nullptr)
                    return;
            }
            ++next;
            ByteCount = 0;
            RxState = Collecting;
            continue;
        }
        const std::ptrdiff_t wanted = FrameLength - ByteCount;
        const std::ptrdiff_t available = end - next;
        uint8_t* const into = &FrameBuffer[ByteCount + 1];
        if (available < wanted) {
            std::memcpy(into, next, available);
            ByteCount = static_cast<int16_t>(ByteCount + available);
            return;
        }
        // A whole frame body inside one event is the usual case; its fixed size copies inline.
        if (wanted == 15)
            std::memcpy(into, next, 15);
        else
            std::memcpy(into, next, wanted);
        next += wanted;
        ByteCount = FrameLength;
        RxState = Hunting;
        ++FramesCut;
        if (FrameBuffer[FrameLength] != FrameEndByte) {
            ++FramesDropped;
            return;
        }
        if (!(OnFrame ? OnFrame(FrameBuffer) : TakeFrame(FrameBuffer, Shared.Freshness)))
            ++FramesDropped;
        SyncIndex = 1;
        RxState = Hunting;
        // A replaced handler may have changed the fields.
        if (OnFrame && !StateInRange())
            Reset();
    }
}

void FrameReceiver::Receive(const QByteArray& bytes)
{
    Receive(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size()));
}
