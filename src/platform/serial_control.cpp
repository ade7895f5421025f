#include "platform/serial_control.h"

#include "platform/host_services.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QSet>
#include <QSignalBlocker>
#include <optional>
#ifndef Q_OS_WIN
#include <poll.h>
#endif

namespace {
struct LineSettings {
    qint32 baud = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

// "baud,parity letter,data bits,stop bits", e.g. "9600,N,8,1".
std::optional<LineSettings> ParseSettings(const QString& text)
{
    const QStringList items = text.split(QLatin1Char(','));
    if (items.size() != 4)
        return std::nullopt;
    LineSettings line;
    bool ok = false;
    line.baud = items[0].trimmed().toInt(&ok);
    if (!ok || line.baud <= 0)
        return std::nullopt;

    const QString parity = items[1].trimmed().toUpper();
    if (parity == QLatin1String("N"))
        line.parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("E"))
        line.parity = QSerialPort::EvenParity;
    else if (parity == QLatin1String("O"))
        line.parity = QSerialPort::OddParity;
    else if (parity == QLatin1String("M"))
        line.parity = QSerialPort::MarkParity;
    else if (parity == QLatin1String("S"))
        line.parity = QSerialPort::SpaceParity;
    else
        return std::nullopt;

    const int dataBits = items[2].trimmed().toInt(&ok);
    if (!ok || dataBits < 5 || dataBits > 8)
        return std::nullopt;
    line.dataBits = static_cast<QSerialPort::DataBits>(dataBits);

    const QString stop = items[3].trimmed();
    if (stop == QLatin1String("1"))
        line.stopBits = QSerialPort::OneStop;
    else if (stop == QLatin1String("1.5"))
        line.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == QLatin1String("2"))
        line.stopBits = QSerialPort::TwoStop;
    else
        return std::nullopt;
    return line;
}
} // namespace

QString SerialDeviceForPort(int n)
{
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(n);
#else
    const QString mapped = MappedSerialDevice(n);
    return mapped.isEmpty() ? QStringLiteral("/dev/ttyS%1").arg(n - 1) : mapped;
#endif
}

QString MappedSerialDevice(int n)
{
    return Host().setting(QStringLiteral("Ports"), QStringLiteral("COM%1").arg(n), QString()).trimmed();
}

void MapSerialPort(int n, const QString& device)
{
    Host().setSetting(QStringLiteral("Ports"), QStringLiteral("COM%1").arg(n), device.trimmed());
}

QList<SerialDeviceInfo> ListSerialDevices(const QString& byIdFolder)
{
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    const auto describe = [](const QSerialPortInfo& port) {
        QStringList parts;
        for (const QString& part : {port.description(), port.manufacturer()}) {
            if (!part.isEmpty() && !parts.contains(part))
                parts.append(part);
        }
        return parts.join(QStringLiteral(", "));
    };

    QList<SerialDeviceInfo> found;
    QSet<QString> linked;
    const QFileInfoList links =
        QDir(byIdFolder).entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& link : links) {
        const QString target = link.canonicalFilePath();
        if (target.isEmpty())
            continue; // a link left dangling by an adapter just pulled
        linked.insert(target);
        QString what = QStringLiteral("USB serial adapter");
        for (const QSerialPortInfo& port : ports) {
            if (QFileInfo(port.systemLocation()).canonicalFilePath() == target && !describe(port).isEmpty())
                what = describe(port);
        }
        found.append({link.absoluteFilePath(), QStringLiteral("%1, now %2").arg(what, target)});
    }
    for (const QSerialPortInfo& port : ports) {
        const QString path = port.systemLocation();
        if (linked.contains(QFileInfo(path).canonicalFilePath()))
            continue;
        const QString what = describe(port);
        found.append({path, what.isEmpty() ? QStringLiteral("Serial port") : what});
    }
    return found;
}

QtSerialControl::QtSerialControl(QObject* parent) : SerialControl(parent), m_port(new QSerialPort(this))
{
    connect(m_port, &QSerialPort::readyRead, this, &QtSerialControl::DataArrived);
    connect(m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        if (error == QSerialPort::ReadError || error == QSerialPort::ResourceError)
            DeviceLost();
    });
}

bool QtSerialControl::PortOpen() const
{
    return m_port->isOpen();
}

bool QtSerialControl::SetPortOpen(bool open)
{
    if (!open) {
        if (m_port->isOpen())
            m_port->close();
        return true;
    }
    if (m_port->isOpen())
        return true;

    const QString name = QStringLiteral("COM%1").arg(CommPort);
    const std::optional<LineSettings> line = ParseSettings(Settings);
    if (!line)
        return Fail(QStringLiteral("%1: invalid port settings \"%2\"").arg(name, Settings));

    QString device = SerialDeviceForPort(CommPort);
#ifndef Q_OS_WIN
    const QString canonical = QFileInfo(device).canonicalFilePath();
    if (canonical.isEmpty())
        return Fail(QStringLiteral("%1: serial device %2 not found").arg(name, device));
    device = canonical;
#endif
    m_device = device;
    m_label = QStringLiteral("%1 (%2)").arg(name, device);
    m_port->setPortName(device);
    m_port->setBaudRate(line->baud);
    m_port->setParity(line->parity);
    m_port->setDataBits(line->dataBits);
    m_port->setStopBits(line->stopBits);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port->open(QIODevice::ReadWrite))
        return Fail(QStringLiteral("%1: %2").arg(m_label, m_port->errorString()));

    // Meters with an optically isolated interface draw their power from DTR. A pseudo-terminal
    // has no modem lines and refuses; that is harmless.
    m_port->setDataTerminalReady(true);
    m_port->clearError();
    ++m_openCount;
    m_error.clear();
    return true;
}

QByteArray QtSerialControl::Input()
{
    if (!m_port->isOpen())
        return {};
    // Qt hands out only what its own buffer holds; right after opening that is nothing, while the
    // system may hold bytes the meter sent earlier. Take those too, so that the flush after
    // opening really empties the line. Signals stay blocked: these bytes are being taken now.
    if (m_port->bytesAvailable() == 0) {
        const QSignalBlocker quiet(m_port);
        m_port->waitForReadyRead(0);
    }
    return m_port->readAll();
}

QString QtSerialControl::ErrorDescription() const
{
    return m_error;
}

bool QtSerialControl::Fail(const QString& description)
{
    m_error = description;
    return false;
}

void QtSerialControl::DataArrived()
{
    if (RThreshold <= 0)
        return;
    CommEvent = 2;
    emit OnComm();
    CommEvent = 0;
}

// Qt words a read that came to an end (the line hung up: an adapter pulled, the other end of a pty
// closed) with whatever errno held from an earlier call: the refused DTR of a pty ("Inappropriate
// ioctl for device"), or a call that a service's system call filter refused ("Operation not
// permitted"). The device's own state tells the real reason.
QString QtSerialControl::LostReason() const
{
#ifndef Q_OS_WIN
    if (!QFileInfo::exists(m_device))
        return QStringLiteral("the device is gone (an adapter unplugged, or a pseudo-terminal closed)");
    pollfd line{int(m_port->handle()), POLLIN, 0};
    if (line.fd >= 0 && ::poll(&line, 1, 0) == 1 && (line.revents & POLLHUP))
        return QStringLiteral("the line hung up (an adapter unplugged, or the other end closed)");
#endif
    return m_port->errorString();
}

// A vanished device reports its read error again on every pass of the event loop until the port
// is closed. The port trims its read buffer after reporting the error, so closing from inside the
// report would leave that buffer miscounted: the close is queued instead, and the opening count
// keeps a late close from hitting a port that was reopened in the meantime.
void QtSerialControl::DeviceLost()
{
    if (!m_port->isOpen())
        return;
    m_error = QStringLiteral("%1: %2").arg(m_label, LostReason());
    const quint32 opening = m_openCount;
    QMetaObject::invokeMethod(
        this,
        [this, opening] {
            if (opening == m_openCount && m_port->isOpen())
                m_port->close();
        },
        Qt::QueuedConnection);
}
