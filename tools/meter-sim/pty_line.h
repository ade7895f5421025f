#pragma once
// The simulated serial line: a pseudo-terminal whose slave side the program opens as its port.
// meter-sim writes frames to the master side (non-blocking). The slave is put in raw mode so no
// echo or CR/LF translation touches the binary frames, and one slave descriptor stays open here
// for the whole run: the program may close and reopen its port without the master seeing a hang-up,
// and the raw settings survive. Errors are returned as text for main() to print.
#include <QString>

namespace metersim {

class PtyLine {
  public:
    PtyLine() = default;
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    // Opens the pair; `baud` is only reported to whoever asks the slave for its speed.
    bool open(int baud, QString* error);
    int masterFd() const { return m_master; }
    const QString& slavePath() const { return m_slavePath; }
    // Bytes written to the master that nobody has read from the slave yet.
    int unreadBytes() const;

  private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
};

// A symbolic link to the slave device, made at start and removed on exit. An existing symbolic link
// (left by a killed run) is replaced; any other existing file is refused and left alone. On removal
// the link goes only if it still points to this run's device.
class DeviceLink {
  public:
    DeviceLink() = default;
    ~DeviceLink();
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    bool create(const QString& linkPath, const QString& target, QString* error);

  private:
    QString m_path;
    QString m_target;
};

} // namespace metersim
