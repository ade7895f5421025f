#include "pty_line.h"

#include <QFile>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace metersim {

namespace {

QString SystemError(const QString& what)
{
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(errno)));
}

speed_t SpeedCode(int baud)
{
    switch (baud) {
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 19200:
        return B19200;
    default:
        return B9600;
    }
}

QByteArray ReadLink(const QByteArray& path)
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(path.constData(), buffer, sizeof buffer);
    return n < 0 ? QByteArray() : QByteArray(buffer, static_cast<int>(n));
}

} // namespace

PtyLine::~PtyLine()
{
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
}

bool PtyLine::open(int baud, QString* error)
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0) {
        *error = SystemError("cannot open a pseudo-terminal");
        return false;
    }
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        *error = SystemError("cannot unlock the pseudo-terminal");
        return false;
    }
    const char* name = ::ptsname(m_master);
    if (name == nullptr) {
        *error = SystemError("cannot name the pseudo-terminal");
        return false;
    }
    m_slavePath = QString::fromLocal8Bit(name);
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0) {
        *error = SystemError("cannot open " + m_slavePath);
        return false;
    }
    termios settings{};
    if (::tcgetattr(m_slave, &settings) != 0) {
        *error = SystemError("cannot read the line settings");
        return false;
    }
    ::cfmakeraw(&settings);
    ::cfsetispeed(&settings, SpeedCode(baud));
    ::cfsetospeed(&settings, SpeedCode(baud));
    if (::tcsetattr(m_slave, TCSANOW, &settings) != 0) {
        *error = SystemError("cannot set raw mode");
        return false;
    }
    const int flags = ::fcntl(m_master, F_GETFL);
    if (flags < 0 || ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK) != 0 ||
        ::fcntl(m_master, F_SETFD, FD_CLOEXEC) != 0) {
        *error = SystemError("cannot make the pseudo-terminal non-blocking");
        return false;
    }
    return true;
}

int PtyLine::unreadBytes() const
{
    int count = 0;
    return ::ioctl(m_slave, FIONREAD, &count) == 0 ? count : 0;
}

DeviceLink::~DeviceLink()
{
    if (m_path.isEmpty())
        return;
    const QByteArray path = QFile::encodeName(m_path);
    if (ReadLink(path) == QFile::encodeName(m_target))
        ::unlink(path.constData());
}

bool DeviceLink::create(const QString& linkPath, const QString& target, QString* error)
{
    const QByteArray path = QFile::encodeName(linkPath);
    struct stat existing {};
    if (::lstat(path.constData(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
        *error = QStringLiteral("%1 exists and is not a symbolic link; not replacing it").arg(linkPath);
        return false;
    }
    // Made beside the final name and renamed over it, so a stale link is replaced in one step.
    const QByteArray temporary = path + ".meter-sim-" + QByteArray::number(::getpid());
    if (::symlink(QFile::encodeName(target).constData(), temporary.constData()) != 0) {
        *error = SystemError("cannot create the link " + linkPath);
        return false;
    }
    if (::rename(temporary.constData(), path.constData()) != 0) {
        *error = SystemError("cannot create the link " + linkPath);
        ::unlink(temporary.constData());
        return false;
    }
    m_path = linkPath;
    m_target = target;
    return true;
}

} // namespace metersim
