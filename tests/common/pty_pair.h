#pragma once
// A pseudo-terminal pair for serial tests: the test writes at the master end and points a port
// number at the slave device through the settings store.
#include <QByteArray>
#include <QString>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

class PtyPair {
  public:
    PtyPair()
    {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0)
            return;
        if (grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
            closeMaster();
            return;
        }
        if (const char* name = ptsname(m_master))
            m_slave = QString::fromLocal8Bit(name);
    }
    ~PtyPair() { closeMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool isValid() const { return m_master >= 0 && !m_slave.isEmpty(); }
    QString slavePath() const { return m_slave; }

    bool write(const QByteArray& bytes)
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_master, bytes.constData() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
    }

    // The line settings the slave end was given; a pty master reports its slave's.
    bool lineSettings(termios& t) const { return tcgetattr(m_master, &t) == 0; }

    void closeMaster()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

  private:
    int m_master = -1;
    QString m_slave;
};
