#include "frame_stream.h"

#include "frame_encoder.h"
#include "simulated_readings.h"

namespace metersim {

namespace {
constexpr int MaxNoiseBytes = 6; // fewer than a frame, so noise can never pass for one
// Every third dual-display frame comes without a second reading, as when the meter blanks it.
constexpr int DualWithoutSecondEvery = 3;
} // namespace

FrameStream::FrameStream(const SimOptions& options) : m_options(options), m_random(options.seed)
{
}

QByteArray FrameStream::nextFrame(double seconds)
{
    if (m_options.protocol == Protocol::Fs9721) {
        if (m_stepPackets == m_options.sequence[m_step].packets) {
            m_step = (m_step + 1) % m_options.sequence.size();
            m_stepPackets = 0;
        }
        ++m_stepPackets;
        return fs9721::EncodePacket(m_options.sequence[m_step].reading);
    }
    if (m_options.dual) {
        const DualSimulatedReading r = DualReadings(seconds);
        std::optional<meterframe::DualReading> second;
        if (!due(DualWithoutSecondEvery, m_frames))
            second = r.second;
        return meterframe::EncodeDualFrame(r.channelDigit, r.firstUnit, r.first, second);
    }
    m_channel = m_channel % m_options.channels + 1;
    const SimulatedReading r = ChannelReading(m_channel, seconds);
    return meterframe::EncodeSingleFrame(m_channel, r.unit, r.decimals, r.value);
}

QByteArray FrameStream::next(double seconds)
{
    ++m_frames;
    QByteArray frame = nextFrame(seconds);
    if (m_options.protocol == Protocol::Fs9721) {
        Q_ASSERT(frame.size() == fs9721::PacketSize); // the options' parser encoded every step once
    } else {
        Q_ASSERT(frame.size() == meterframe::FrameSize); // every simulated wave fits its frame
    }
    if (due(m_options.badEndEvery, m_frames))
        frame[meterframe::EndByteIndex] = '\n';
    if (due(m_options.badDigitEvery, m_frames))
        frame[meterframe::CheckedDigitByte] = ':';
    if (!due(m_options.noiseEvery, m_frames))
        return frame;
    std::uniform_int_distribution<int> count(1, MaxNoiseBytes);
    std::uniform_int_distribution<int> byte(0, 255);
    QByteArray bytes(count(m_random), '\0');
    for (char& b : bytes)
        b = static_cast<char>(byte(m_random));
    return bytes + frame;
}

} // namespace metersim
