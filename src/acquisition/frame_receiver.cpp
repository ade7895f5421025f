#include "acquisition/frame_receiver.h"

#include <algorithm>
#include <cstring>

void FrameReceiver::Reset()
{
    RxState = Hunting;
    SyncBytes[1] = FrameStartByte;
    FrameLength = 15;
    SyncIndex = 1;
    ByteCount = 0;
}

bool FrameReceiver::StateInRange() const
{
    const bool collectingInRange = RxState == Collecting && ByteCount >= 0 && ByteCount < FrameLength;
    return (RxState == Hunting || collectingInRange) && SyncIndex >= 0 &&
           SyncIndex < static_cast<int>(SyncBytes.size()) && FrameLength >= 1 &&
           FrameLength < static_cast<int>(FrameBuffer.size());
}

void FrameReceiver::Deliver()
{
    if (OnFrame)
        OnFrame(FrameBuffer);
    else
        DecodeFrame(FrameBuffer);
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
        const auto taken = std::min<std::ptrdiff_t>(FrameLength - ByteCount, end - next);
        std::memcpy(&FrameBuffer[ByteCount + 1], next, taken);
        ByteCount = static_cast<int16_t>(ByteCount + taken);
        next += taken;
        if (ByteCount < FrameLength)
            return;
        RxState = Hunting;
        if (FrameBuffer[FrameLength] != FrameEndByte)
            return;
        Deliver();
        SyncIndex = 1;
        RxState = Hunting;
        // OnFrame may have changed the fields.
        if (!StateInRange())
            Reset();
    }
}

void FrameReceiver::Receive(const QByteArray& bytes)
{
    Receive(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size()));
}
