#pragma once
// The send loop of meter-sim. A pseudo-terminal ignores the baud rate, so the loop paces its own
// writes: a frame of 16 bytes occupies the line for 16 x 10 bits / baud (16.7 ms at 9600 baud),
// or 1/rate seconds when --rate asks for fewer frames. Writes never block: a partly written frame
// is finished before the next one; a frame that falls due while the line is still full (nobody is
// reading) is dropped, as bytes on a real line are lost when no port listens.
#include "frame_stream.h"
#include "pty_line.h"
#include "sim_options.h"

#include <QByteArray>
#include <chrono>

namespace metersim {

class LineSender {
  public:
    LineSender(const SimOptions& options, PtyLine& line, int stopFd);

    // Runs until a stop request, the --frames limit or a write error; returns the exit code
    // (0, or 1 after printing the error on stderr).
    int run();

  private:
    using Clock = std::chrono::steady_clock;

    void sendWhenDue(Clock::time_point now);
    bool lastFrameDelivered(Clock::time_point now) const;
    int pollTimeout() const;
    void reportProgress(Clock::time_point now);

    SimOptions m_options;
    PtyLine& m_line;
    int m_stopFd;
    FrameStream m_stream;

    Clock::time_point m_start;
    Clock::time_point m_nextDue;
    Clock::time_point m_nextReport;
    Clock::time_point m_drainDeadline;
    QByteArray m_pending;
    int64_t m_dropped = 0;
    bool m_stopped = false;   // --stop-after reached
    bool m_finishing = false; // --frames reached
    bool m_silent = false;
};

} // namespace metersim
