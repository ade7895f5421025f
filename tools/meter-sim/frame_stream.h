#pragma once
// The byte stream meter-sim puts on the line: one frame per call, for channels 1..N in turn (or
// dual-display frames), with the faults the options ask for: a wrong end byte or an invalid
// checked digit on every Nth frame, a few random bytes before every Nth frame. With the fs9721
// protocol a frame is a multimeter packet: the steps of the sequence in turn, each for its count of
// packets, then from the first step again; only the noise applies to them. Frames are counted
// from 1, so "every 3rd" spoils frames 3, 6, 9, ... The same seed gives the same noise.
#include "sim_options.h"

#include <QByteArray>
#include <cstdint>
#include <random>

namespace metersim {

class FrameStream {
  public:
    explicit FrameStream(const SimOptions& options);

    // The bytes of the next frame, noise included, with readings taken at `seconds` after the start.
    QByteArray next(double seconds);
    int64_t framesMade() const { return m_frames; }

  private:
    QByteArray nextFrame(double seconds);
    static bool due(int every, int64_t frame) { return every > 0 && frame % every == 0; }

    SimOptions m_options;
    std::mt19937 m_random;
    int64_t m_frames = 0;
    int m_channel = 0;
    qsizetype m_step = 0;  // fs9721: the step being sent
    int m_stepPackets = 0; // and how many of its packets went already
};

} // namespace metersim
