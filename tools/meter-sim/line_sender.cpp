#include "line_sender.h"

#include <QTextStream>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace metersim {

namespace {

using Seconds = std::chrono::duration<double>;

constexpr int BitsPerByte = 10; // start bit, 8 data bits, stop bit
// After the last frame of --frames, wait this long at most for the reader to take it.
constexpr Seconds DrainLimit{1.0};
constexpr std::chrono::milliseconds DrainPoll{10};
constexpr std::chrono::seconds ReportEvery{5};

QTextStream& Err()
{
    static QTextStream stream(stderr);
    return stream;
}

template <typename Duration> std::chrono::steady_clock::duration Ticks(Duration d)
{
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(d);
}

// Writes what the line takes now; false on an error other than a full line.
bool WriteSome(int fd, QByteArray& pending)
{
    while (!pending.isEmpty()) {
        const ssize_t n = ::write(fd, pending.constData(), static_cast<size_t>(pending.size()));
        if (n > 0) {
            pending.remove(0, static_cast<qsizetype>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
    return true;
}

// Whatever the program writes to its port is read and thrown away, so its writes never block.
void DiscardInput(int fd)
{
    char buffer[256];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
}

} // namespace

LineSender::LineSender(const SimOptions& options, PtyLine& line, int stopFd)
    : m_options(options), m_line(line), m_stopFd(stopFd), m_stream(options)
{
}

void LineSender::sendWhenDue(Clock::time_point now)
{
    const double elapsed = Seconds(now - m_start).count();
    if (m_options.stopAfter >= 0 && elapsed >= m_options.stopAfter) {
        m_stopped = true;
        if (m_options.verbose)
            Err() << "meter-sim: stopped sending after " << m_stream.framesMade() << " frames" << Qt::endl;
        return;
    }
    if (now < m_nextDue)
        return;
    const double silenceEnd = m_options.silenceAfter + m_options.silenceSeconds;
    const bool silent =
        m_options.silenceAfter >= 0 && elapsed >= m_options.silenceAfter && elapsed < silenceEnd;
    if (silent != m_silent && m_options.verbose)
        Err() << "meter-sim: " << (silent ? "silent" : "sending again") << Qt::endl;
    m_silent = silent;
    if (silent) {
        m_nextDue = m_start + Ticks(Seconds(silenceEnd));
        return;
    }

    const QByteArray bytes = m_stream.next(elapsed);
    if (m_pending.isEmpty())
        m_pending = bytes;
    else
        ++m_dropped;
    const Seconds lineTime{static_cast<double>(bytes.size()) * BitsPerByte / m_options.baud};
    const Seconds minimumPeriod{m_options.rate > 0 ? 1.0 / m_options.rate : 0.0};
    m_nextDue += Ticks(std::max(lineTime, minimumPeriod));
    // After a stall (the process was stopped, the machine slept) carry on from now instead of
    // sending the missed frames in a burst.
    if (m_nextDue < now - std::chrono::seconds(1))
        m_nextDue = now;
    if (m_options.frames > 0 && m_stream.framesMade() >= m_options.frames) {
        m_finishing = true;
        m_drainDeadline = m_nextDue + Ticks(DrainLimit);
    }
}

// The last frame counts as delivered once its line time is over and the reader has taken it;
// asking earlier could miss bytes the kernel has not yet handed to the slave side.
bool LineSender::lastFrameDelivered(Clock::time_point now) const
{
    return (now >= m_nextDue && m_pending.isEmpty() && m_line.unreadBytes() == 0) || now >= m_drainDeadline;
}

int LineSender::pollTimeout() const
{
    if (m_finishing)
        return static_cast<int>(DrainPoll.count());
    if (m_stopped)
        return -1;
    const auto left = std::chrono::duration<double, std::milli>(m_nextDue - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::ceil(left));
}

void LineSender::reportProgress(Clock::time_point now)
{
    if (!m_options.verbose || now < m_nextReport)
        return;
    Err() << "meter-sim: " << m_stream.framesMade() << " frames, " << m_dropped << " dropped" << Qt::endl;
    m_nextReport += ReportEvery;
}

int LineSender::run()
{
    m_start = m_nextDue = Clock::now();
    m_nextReport = m_start + ReportEvery;
    const int fd = m_line.masterFd();
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (!m_stopped && !m_finishing)
            sendWhenDue(now);
        if (!WriteSome(fd, m_pending)) {
            Err() << "meter-sim: cannot write to the pseudo-terminal: " << std::strerror(errno) << Qt::endl;
            return 1;
        }
        DiscardInput(fd);
        if (m_finishing && lastFrameDelivered(now))
            break;
        reportProgress(now);

        pollfd watched[2] = {{m_stopFd, POLLIN, 0},
                             {fd, static_cast<short>(POLLIN | (m_pending.isEmpty() ? 0 : POLLOUT)), 0}};
        if (::poll(watched, 2, pollTimeout()) < 0 && errno != EINTR) {
            Err() << "meter-sim: poll failed: " << std::strerror(errno) << Qt::endl;
            return 1;
        }
        if (watched[0].revents != 0)
            break;
        if (watched[1].revents & (POLLERR | POLLNVAL)) {
            Err() << "meter-sim: the pseudo-terminal failed" << Qt::endl;
            return 1;
        }
    }
    if (m_options.verbose)
        Err() << "meter-sim: " << m_stream.framesMade() << " frames, " << m_dropped << " dropped; done"
              << Qt::endl;
    return 0;
}

} // namespace metersim
