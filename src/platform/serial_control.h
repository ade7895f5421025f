#pragma once
// The serial control the main window owns: the handful of operations the program uses of a port
// (port number, settings text, binary input, receive threshold, open/close, take the waiting bytes)
// and a receive notification delivered on the user-interface thread.
//
// The main window's serial link (acquisition/serial_link.h) is the only user; tests substitute a
// fake. Set CommPort and Settings while the port is closed; they take effect when it opens.
// SetPortOpen(true) returns false when the device is missing, busy, not permitted or the settings
// text is malformed; ErrorDescription() then says why in a sentence fit for a message box.
// A device that fails while open (a USB adapter pulled, the far end of a pseudo-terminal gone)
// closes itself: PortOpen() turns false, no notification is raised, and the link watchdog
// notices the silence.
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <cstdint>

class QSerialPort;

class SerialControl : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;

    int16_t CommPort = 1;                            // port number; see SerialDeviceForPort
    QString Settings = QStringLiteral("9600,N,8,1"); // "9600,N,8,1" or "2400,N,8,1"
    int16_t InputMode = 1;                           // 1 = binary
    int16_t RThreshold = 1;                          // 1 = notify when at least one byte waits
    int16_t CommEvent = 0;                           // 2 while a receive notification is handled

    virtual bool PortOpen() const = 0;
    virtual bool SetPortOpen(bool open) = 0; // false on failure; ErrorDescription() says why
    virtual QByteArray Input() = 0;          // takes the waiting bytes
    virtual QString ErrorDescription() const = 0;

  signals:
    void OnComm(); // receive notification on the UI thread
};

// The real control over QSerialPort. Opens the device by its canonical path, so two names of one
// device (a symlink and its target) share one lock file.
class QtSerialControl : public SerialControl {
    Q_OBJECT
  public:
    explicit QtSerialControl(QObject* parent = nullptr);

    bool PortOpen() const override;
    bool SetPortOpen(bool open) override;
    QByteArray Input() override;
    QString ErrorDescription() const override;

  private:
    bool Fail(const QString& description);
    void DataArrived();
    void DeviceLost();
    QString LostReason() const;

    QSerialPort* m_port = nullptr;
    QString m_error;
    QString m_device;        // the device opened, by its resolved path
    QString m_label;         // "COM7 (/dev/pts/3)", for error descriptions
    quint32 m_openCount = 0; // tells a queued close which opening it belongs to
};

// Device for port number n: "COMn" on Windows; elsewhere the device that the settings store maps
// to "COMn" in its group "Ports", else /dev/ttyS(n-1).
QString SerialDeviceForPort(int n);

// Maps port number n to a device in the settings store (group "Ports", key "COMn"); an empty
// device removes the mapping, so that n means /dev/ttyS(n-1) again. Used by the setup dialog's
// port list, so a user never edits the settings file by hand.
void MapSerialPort(int n, const QString& device);
// The device the settings store maps to port number n; empty when there is none.
QString MappedSerialDevice(int n);

// One serial device of this host, as the port list shows it.
struct SerialDeviceInfo {
    QString path;        // what a mapping stores: the stable /dev/serial/by-id link of a USB adapter
    QString description; // what it is and, for a link, the device it points at now
};
// The serial devices found: the links in byIdFolder first (USB adapters keep those names across
// replugging, unlike /dev/ttyUSBn), then the ports QSerialPortInfo lists that no link points at.
// Pseudo-terminals are not found this way; the list takes a typed path for those.
QList<SerialDeviceInfo> ListSerialDevices(const QString& byIdFolder = QStringLiteral("/dev/serial/by-id"));
