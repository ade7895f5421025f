#include "fake_host.h"
#include "platform/serial_control.h"
#include "pty_pair.h"
#include "test_registry.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {
// Empty when the port opened, else the reason.
QString OpenError(SerialControl& control)
{
    return control.SetPortOpen(true) ? QString() : control.ErrorDescription();
}

// A control on port 7, which the settings store maps to the slave end of a fresh pty.
struct PtyPort {
    FakeHost host;
    PtyPair pty;
    QtSerialControl control;

    PtyPort()
    {
        host.setSetting("Ports", "COM7", pty.slavePath());
        control.CommPort = 7;
    }
    QString open() { return pty.isValid() ? OpenError(control) : QStringLiteral("no pty"); }
};
} // namespace

class TestSerialControl : public QObject {
    Q_OBJECT

  private slots:
    void deviceForPort()
    {
        FakeHost host;
        host.setSetting("Ports", "COM7", "/dev/ttyUSB0");
        QCOMPARE(SerialDeviceForPort(7), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(SerialDeviceForPort(1), QStringLiteral("/dev/ttyS0"));
        QCOMPARE(SerialDeviceForPort(4), QStringLiteral("/dev/ttyS3"));
    }

    void settingsReachTheLine_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<int>("speed");
        QTest::addColumn<bool>("twoStopBits");
        // A pty keeps 8 data bits without parity whatever it is told, so only 8N rows are checked.
        QTest::newRow("9600 baud") << "9600,N,8,1" << int(B9600) << false;
        QTest::newRow("2400 baud") << "2400,N,8,1" << int(B2400) << false;
        QTest::newRow("two stop bits") << "4800,N,8,2" << int(B4800) << true;
    }
    void settingsReachTheLine()
    {
        QFETCH(QString, settings);
        QFETCH(int, speed);
        QFETCH(bool, twoStopBits);
        PtyPort port;
        port.control.Settings = settings;
        QCOMPARE(port.open(), QString());

        termios t{};
        QVERIFY(port.pty.lineSettings(t));
        QCOMPARE(int(cfgetispeed(&t)), speed);
        QCOMPARE(int(t.c_cflag & CSIZE), int(CS8));
        QVERIFY(!(t.c_cflag & PARENB));
        QCOMPARE(bool(t.c_cflag & CSTOPB), twoStopBits);
        // Binary input: no line editing, no CR translation.
        QVERIFY(!(t.c_lflag & ICANON));
        QVERIFY(!(t.c_iflag & ICRNL));
    }

    void malformedSettingsRefuseToOpen()
    {
        PtyPort port;
        QVERIFY(port.pty.isValid());
        port.control.Settings = QStringLiteral("9600,X,8,1");
        QVERIFY(port.open().contains("9600,X,8,1"));
        QVERIFY(!port.control.PortOpen());
    }

    void missingDeviceGivesReadableError()
    {
        FakeHost host;
        host.setSetting("Ports", "COM9", "/nonexistent/ttyUSB9");
        QtSerialControl control;
        control.CommPort = 9;
        const QString error = OpenError(control);
        QVERIFY(!control.PortOpen());
        QVERIFY2(error.contains("COM9") && error.contains("/nonexistent/ttyUSB9"), qPrintable(error));
        QVERIFY2(error.contains("not found"), qPrintable(error));
    }

    void bytesArriveInOrderThroughNotifications()
    {
        PtyPort port;
        QCOMPARE(port.open(), QString());
        QtSerialControl& control = port.control;
        QByteArray received;
        bool eventWasDataReceived = true;
        connect(&control, &SerialControl::OnComm, this, [&] {
            eventWasDataReceived = eventWasDataReceived && control.CommEvent == 2;
            received += control.Input();
        });
        QByteArray sent;
        for (int chunk = 0; chunk < 20; ++chunk) {
            QByteArray bytes;
            for (int i = 0; i < 37; ++i)
                bytes.append(char((chunk * 37 + i) & 0xFF)); // every byte value, 0x0D and 0x0A included
            sent += bytes;
            QVERIFY(port.pty.write(bytes));
        }
        QTRY_COMPARE(received.size(), sent.size());
        QCOMPARE(received, sent);
        QVERIFY(eventWasDataReceived);
        QCOMPARE(control.CommEvent, int16_t(0));
    }

    // Lock files carry the device's path, so a symlink must resolve to the device's own name or
    // two programs could read the same meter.
    void symlinkAndDeviceNameShareOneLock()
    {
        PtyPort viaLink;
        QTemporaryDir dir;
        const QString link = dir.filePath("meter");
        QVERIFY(QFile::link(viaLink.pty.slavePath(), link));
        viaLink.host.setSetting("Ports", "COM7", link);
        viaLink.host.setSetting("Ports", "COM8", viaLink.pty.slavePath());
        QCOMPARE(viaLink.open(), QString());

        QtSerialControl viaDevice;
        viaDevice.CommPort = 8;
        QVERIFY(!OpenError(viaDevice).isEmpty());

        QVERIFY(viaLink.control.SetPortOpen(false));
        QCOMPARE(OpenError(viaDevice), QString());
    }

    void vanishedDeviceClosesThePort()
    {
        PtyPort port;
        QCOMPARE(port.open(), QString());
        QSignalSpy notifications(&port.control, &SerialControl::OnComm);

        port.pty.closeMaster();
        QTRY_VERIFY(!port.control.PortOpen());
        QVERIFY(port.control.Input().isEmpty());
        // The real reason, not the errno an earlier call left (the pty's refused DTR): a pty's
        // device goes away with its other end.
        const QString reason = port.control.ErrorDescription();
        QCOMPARE(reason, QStringLiteral("COM7 (%1): the device is gone (an adapter unplugged, or a "
                                        "pseudo-terminal closed)")
                             .arg(port.pty.slavePath()));
        QCOMPARE(notifications.count(), 0);
    }

    void inputRightAfterOpeningTakesWhatTheLineHeldBefore()
    {
        PtyPort port;
        QVERIFY(port.pty.isValid());
        QVERIFY(port.pty.write("STALE"));
        QCOMPARE(port.open(), QString());
        QCOMPARE(port.control.Input(), QByteArray("STALE"));
        QVERIFY(port.control.Input().isEmpty());
    }

    void reopensAfterClose()
    {
        PtyPort port;
        QCOMPARE(port.open(), QString());
        QVERIFY(port.control.SetPortOpen(false));
        QVERIFY(!port.control.PortOpen());
        QCOMPARE(port.open(), QString());

        QSignalSpy notifications(&port.control, &SerialControl::OnComm);
        QVERIFY(port.pty.write("abc"));
        QVERIFY(notifications.wait(5000));
        QCOMPARE(port.control.Input(), QByteArray("abc"));
    }
};

VARNIK_TEST_CLASS(TestSerialControl)
#include "test_serial_control.moc"
