#include "platform/stop_signals.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

int StopPipeWriteEnd = -1;

void OnStopSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(StopPipeWriteEnd, &byte, 1);
    errno = saved;
}

bool MakeNonBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 &&
           ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

} // namespace

int InstallStopSignals(QString* error)
{
    int ends[2];
    if (::pipe(ends) != 0 || !MakeNonBlocking(ends[0]) || !MakeNonBlocking(ends[1])) {
        *error = QStringLiteral("cannot create the signal pipe: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return -1;
    }
    StopPipeWriteEnd = ends[1];
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return ends[0];
}

