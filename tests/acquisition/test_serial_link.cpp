#include "acquisition/frame_receiver.h"
#include "acquisition/serial_link.h"
#include "core/shared_state.h"
#include "fake_host.h"
#include "meter_frames.h"
#include "platform/serial_control.h"
#include "pty_pair.h"
#include "test_registry.h"

#include <QTest>

namespace {
// Records what the link does with the port; bytes put in `waiting` are what Input() hands out.
class FakeSerialControl : public SerialControl {
  public:
    bool PortOpen() const override { return open; }
    bool SetPortOpen(bool wanted) override
    {
        if (wanted && (failOpenNumber == ++openAttempts || refuse)) {
            log.append("open failed");
            return false;
        }
        log.append(wanted ? "open " + Settings : QStringLiteral("close"));
        open = wanted;
        return true;
    }
    QByteArray Input() override
    {
        log.append("input");
        return std::exchange(waiting, {});
    }
    QString ErrorDescription() const override { return error; }

    void deliver(const QByteArray& bytes, int16_t event = 2)
    {
        waiting += bytes;
        CommEvent = event;
        emit OnComm();
        CommEvent = 0;
    }

    bool open = false;
    int openAttempts = 0;
    int failOpenNumber = 0; // the attempt (1, 2, ...) that fails; 0 = none
    bool refuse = false;    // every attempt fails (the device is gone)
    QString error = QStringLiteral("COM3: serial device /dev/ttyS2 not found");
    QByteArray waiting;
    QStringList log;
};

QByteArray Frame(char channel)
{
    return MeterFrame(channel + QByteArray("0123456789ABC"));
}

// The configured baud rate and the settings the port must get: anything but 9600 means 2400.
void BaudRateRows()
{
    QTest::addColumn<int>("baudRate");
    QTest::addColumn<QString>("settings");
    QTest::newRow("9600") << 9600 << "9600,N,8,1";
    QTest::newRow("4800 falls back to 2400") << 4800 << "2400,N,8,1";
    QTest::newRow("2400") << 2400 << "2400,N,8,1";
}

const QString Question = QStringLiteral("Comm. Port Disconnected!\r\nDo you want to continue ?");

// The unattended link's events as "Name" or "Name: detail".
void RecordEvents(SerialLink& link, QStringList& events)
{
    link.recovery = SerialLink::Recovery::Reconnect;
    link.OnEvent = [&events](SerialLink::Event event, const QString& detail) {
        static const char* const names[] = {"Opened", "OpenFailed", "Lost", "Silent", "Flowing"};
        const QString name = QLatin1String(names[int(event)]);
        events.append(detail.isEmpty() ? name : name + ": " + detail);
    };
}
} // namespace

class TestSerialLink : public QObject {
    Q_OBJECT

    struct Rig {
        FakeHost host;
        FakeSerialControl port;
        FrameReceiver receiver;
        SerialLink link{port, receiver};
        QList<QByteArray> frames;
        int declined = 0;

        Rig()
        {
            host.tick = 100000;
            receiver.OnFrame = [this](FrameBufferArray& buffer) {
                frames.append(QByteArray(reinterpret_cast<const char*>(buffer.data()) + 1, 15));
                return true;
            };
            link.OnDeclined = [this] { ++declined; };
        }
        // Ticks of the 200 ms scan timer with no data arriving.
        void silentTicks(int count)
        {
            for (int i = 0; i < count; ++i) {
                host.tick += 200;
                link.CheckLink();
            }
        }
    };

  private slots:
    void init()
    {
        Shared = SharedState{};
        Shared.ComPort = 3;
        Shared.BaudRate = 9600;
    }

    void primesThePortWithTheConfiguredSettings_data() { BaudRateRows(); }
    void primesThePortWithTheConfiguredSettings()
    {
        QFETCH(int, baudRate);
        QFETCH(QString, settings);
        Shared.BaudRate = baudRate;
        Rig rig;
        rig.port.CommPort = 1;
        rig.port.InputMode = 0;
        rig.port.RThreshold = 0;
        rig.port.waiting = Frame('1'); // left over from before: flushed, never decoded
        rig.link.Start();

        QCOMPARE(rig.port.CommPort, int16_t(3));
        QCOMPARE(rig.port.InputMode, int16_t(1));
        QCOMPARE(rig.port.RThreshold, int16_t(1));
        QCOMPARE(rig.port.log, QStringList({"open " + settings, "input", "close", "open " + settings}));
        QVERIFY(rig.port.PortOpen());
        QVERIFY(rig.frames.isEmpty());
        QVERIFY(rig.host.shown.isEmpty());
    }

    void startOnAnOpenPortAbandonsTheHalfFrame()
    {
        Rig rig;
        rig.link.Start();
        rig.port.log.clear();
        rig.port.deliver(Frame('1').left(8));
        rig.link.Start();
        QCOMPARE(rig.port.log, QStringList{"input"}); // the delivery's own, nothing more
        rig.port.deliver(Frame('2'));
        QCOMPARE(rig.frames.size(), 1);
        QCOMPARE(rig.frames[0], Frame('2').mid(1));
    }

    void openErrorsAreShownWithTheirDescription_data()
    {
        QTest::addColumn<int>("failingOpen");
        QTest::newRow("first open") << 1;
        QTest::newRow("reopen after the flush") << 2;
    }
    void openErrorsAreShownWithTheirDescription()
    {
        QFETCH(int, failingOpen);
        Rig rig;
        rig.port.failOpenNumber = failingOpen;
        rig.link.SCI_Init();
        QCOMPARE(rig.host.shown.size(), 1);
        QCOMPARE(rig.host.shown[0].text, rig.port.error);
        QCOMPARE(rig.host.shown[0].buttons, HostServices::Buttons(HostServices::Ok));
        QVERIFY(!rig.port.PortOpen());
    }

    void receiveEventFeedsTheReceiver()
    {
        Rig rig;
        rig.link.Start();
        rig.port.deliver(Frame('1'), 3); // a line event, not data
        QVERIFY(!Shared.DataReceived);
        QCOMPARE(rig.link.LastRxTick, quint32(0));
        QCOMPARE(rig.port.waiting.size(), 16);
        rig.port.waiting.clear();

        rig.host.tick = 123456;
        const QByteArray two = Frame('1') + Frame('2');
        rig.port.deliver(two.left(5));
        rig.port.deliver(two.mid(5));
        QVERIFY(Shared.DataReceived);
        QCOMPARE(rig.link.LastRxTick, quint32(123456));
        QCOMPARE(rig.frames, QList<QByteArray>({Frame('1').mid(1), Frame('2').mid(1)}));
    }

    void silenceLimit_data()
    {
        QTest::addColumn<quint32>("lastRx");
        QTest::addColumn<quint32>("now");
        QTest::addColumn<bool>("silent");
        QTest::newRow("exactly 15000 ms") << 100000u << 115000u << false;
        QTest::newRow("15001 ms") << 100000u << 115001u << true;
        QTest::newRow("tick wrapped, 4352 ms") << 0xFFFFF000u << 0x100u << false;
        QTest::newRow("tick wrapped, 15101 ms") << 0xFFFFFF9Bu << 15000u << true;
    }
    void silenceLimit()
    {
        QFETCH(quint32, lastRx);
        QFETCH(quint32, now);
        QFETCH(bool, silent);
        Rig rig;
        rig.link.Start();
        Shared.DataReceived = true;
        rig.link.LastRxTick = lastRx;
        rig.host.tick = now;
        for (int i = 0; i < 4; ++i)
            rig.link.CheckLink();
        QCOMPARE(rig.link.MissedChecks, int16_t(silent ? 4 : 0));
        QCOMPARE(Shared.DataReceived, !silent);
        QCOMPARE(rig.host.shown.size(), silent ? 1 : 0);
        QCOMPARE(rig.port.PortOpen(), !silent);
    }

    void receiveEventRestartsTheCount()
    {
        Rig rig;
        rig.link.Start();
        rig.silentTicks(3);
        QCOMPARE(rig.link.MissedChecks, int16_t(3));
        rig.port.deliver("x");
        rig.link.CheckLink();
        QCOMPARE(rig.link.MissedChecks, int16_t(0));

        rig.host.tick += 15000;
        rig.silentTicks(3);
        QVERIFY(rig.host.shown.isEmpty());
        rig.silentTicks(1);
        QCOMPARE(rig.host.texts(), QStringList{Question});
    }

    void asksOnTheFourthTickWhenNothingWasEverReceived()
    {
        Rig rig;
        rig.link.Start();
        bool openDuringQuestion = true;
        rig.host.onMessage = [&] { openDuringQuestion = rig.port.PortOpen(); };
        rig.silentTicks(3);
        QVERIFY(rig.host.shown.isEmpty());
        QVERIFY(!Shared.DataReceived);
        rig.silentTicks(1);

        QCOMPARE(rig.host.shown.size(), 1);
        const FakeHost::Shown& box = rig.host.shown[0];
        QCOMPARE(box.text, Question);
        QCOMPARE(box.icon, HostServices::Icon::Critical);
        QCOMPARE(box.buttons, HostServices::Buttons(HostServices::Yes | HostServices::No));
        QCOMPARE(box.defaultButton, HostServices::No);
        QVERIFY(!openDuringQuestion);
        // Unanswered, the box gives No: the program closes.
        QCOMPARE(rig.declined, 1);
        QVERIFY(!rig.port.PortOpen());
    }

    void ticksDuringTheQuestionNeverAskTwice()
    {
        Rig rig;
        rig.link.Start();
        rig.host.answers.enqueue(HostServices::Yes);
        rig.host.onMessage = [&] { rig.silentTicks(10); };
        rig.silentTicks(4);
        QCOMPARE(rig.host.shown.size(), 1);
        QVERIFY(rig.port.PortOpen());

        // The question stays available for the next silent spell.
        rig.host.onMessage = nullptr;
        rig.host.tick += 15000;
        rig.silentTicks(4);
        QCOMPARE(rig.host.shown.size(), 2);
    }

    void yesReopensAtTheConfiguredBaudRate_data() { BaudRateRows(); }
    void yesReopensAtTheConfiguredBaudRate()
    {
        QFETCH(int, baudRate);
        QFETCH(QString, settings);
        Shared.BaudRate = baudRate;
        Rig rig;
        rig.link.Start();
        rig.port.deliver(Frame('1').left(6)); // a frame in progress survives the reopening
        rig.host.tick += 15001;
        rig.port.log.clear();
        rig.port.CommPort = 9;
        rig.port.Settings.clear();
        rig.host.answers.enqueue(HostServices::Yes);
        rig.host.onMessage = [&] { rig.host.tick += 7000; };
        rig.silentTicks(4);

        QCOMPARE(rig.port.log, QStringList({"close", "open " + settings}));
        QCOMPARE(rig.port.CommPort, int16_t(3));
        QCOMPARE(rig.link.MissedChecks, int16_t(0));
        QCOMPARE(rig.link.LastRxTick, rig.host.tick);
        QCOMPARE(rig.declined, 0);
        QCOMPARE(rig.receiver.ByteCount, int16_t(5));
        QCOMPARE(rig.receiver.RxState, int16_t(2));
    }

    // Yes while the port is still missing says why (the system's reason) and keeps trying it every
    // RetryMs; once it opens, a whole silence passes before the question comes again.
    void failedReopenSaysWhyAndKeepsTrying()
    {
        Rig rig;
        QStringList events;
        rig.link.OnEvent = [&events](SerialLink::Event event, const QString& detail) {
            events.append(event == SerialLink::Event::OpenFailed ? "OpenFailed: " + detail
                          : event == SerialLink::Event::Opened   ? QStringLiteral("Opened")
                                                                 : QStringLiteral("other"));
        };
        rig.link.Start();
        rig.port.refuse = true;
        rig.host.answers.enqueue(HostServices::Yes);
        rig.silentTicks(4); // nothing ever came: asked at the fourth tick
        QCOMPARE(rig.host.shown.size(), 1);
        QVERIFY(!rig.port.PortOpen());
        QCOMPARE(events, QStringList{"OpenFailed: " + rig.port.error});

        rig.port.refuse = false;
        rig.silentTicks(5000 / 200);
        QVERIFY(rig.port.PortOpen());
        QCOMPARE(events.last(), QStringLiteral("Opened"));
        rig.silentTicks(15000 / 200 + 3);
        QCOMPARE(rig.host.shown.size(), 1);
        rig.silentTicks(1);
        QCOMPARE(rig.host.texts(), QStringList({Question, Question}));
        QCOMPARE(rig.declined, 1);
    }

    // While the question is up the port is tried again, and the meter's first good frame closes
    // the question as if Yes was pressed: rows go on at once, nobody has to click.
    void framesThatReturnAnswerTheQuestion()
    {
        Rig rig;
        QStringList states;
        rig.link.OnLinkState = [&states](bool up, const QString&) { states.append(up ? "up" : "down"); };
        rig.link.Start();
        rig.host.onMessage = [&] {
            rig.silentTicks(5000 / 200); // the box's own event loop runs the scan timer
            QVERIFY(rig.port.PortOpen());
            rig.port.deliver(Frame('1'));
        };
        rig.silentTicks(4);
        QCOMPARE(rig.host.texts(), QStringList{Question});
        QCOMPARE(rig.host.closed, QList<HostServices::Button>{HostServices::Yes});
        QCOMPARE(rig.declined, 0);
        QVERIFY(rig.port.PortOpen());
        QCOMPARE(states, QStringList({"down", "up"}));
        QCOMPARE(rig.frames.size(), 1);
        rig.silentTicks(15000 / 200 + 3);
        QCOMPARE(rig.host.shown.size(), 1);
    }

    // Bytes that make no frame the decoder takes (another device, a wrong baud rate, a channel above
    // 16) are not frames arriving: the link stays down until the decoder takes a frame.
    void onlyTakenFramesCountAsArriving()
    {
        Rig rig;
        rig.receiver.OnFrame = nullptr; // the decoder itself
        QStringList events;
        RecordEvents(rig.link, events);
        QStringList states;
        rig.link.OnLinkState = [&states](bool restored, const QString&) { states.append(restored ? "up" : "down"); };
        rig.link.Start();
        rig.silentTicks(15000 / 200 + 4);
        QCOMPARE(events, QStringList({"Opened", "Silent: 15"}));
        QCOMPARE(states, QStringList({"down"}));

        rig.port.deliver(MeterFrame("4A012345678901") + QByteArray("\x01 noise"));
        QCOMPARE(rig.receiver.FramesDropped, quint64(1));
        QCOMPARE(events, QStringList({"Opened", "Silent: 15"}));
        QCOMPARE(states, QStringList({"down"}));

        rig.port.deliver(Frame('1'));
        QCOMPARE(events, QStringList({"Opened", "Silent: 15", "Flowing"}));
        QCOMPARE(states, QStringList({"down", "up"}));
    }

    // Unattended, a silent meter's port is reprimed every silence period without a question, and
    // the silence is reported once, until frames flow again.
    void reconnectReprimesASilentPortWithoutAsking()
    {
        Rig rig;
        QStringList events;
        RecordEvents(rig.link, events);
        rig.link.Start();
        rig.port.deliver(Frame('1'));
        QCOMPARE(events, QStringList({"Opened", "Flowing"}));

        const int silencePeriod = 15000 / 200 + 4; // past the limit, then the fourth silent tick
        const QStringList reprime{"close", "open 9600,N,8,1", "input", "close", "open 9600,N,8,1"};
        for (int period = 0; period < 2; ++period) {
            rig.port.log.clear();
            rig.silentTicks(silencePeriod - 1);
            QVERIFY(rig.port.log.isEmpty());
            QVERIFY(!Shared.DataReceived);
            rig.silentTicks(1);
            QCOMPARE(rig.port.log, reprime);
        }
        QCOMPARE(events, QStringList({"Opened", "Flowing", "Silent: 15"}));
        rig.port.deliver(Frame('2'));
        QCOMPARE(events, QStringList({"Opened", "Flowing", "Silent: 15", "Flowing"}));
        QVERIFY(rig.host.shown.isEmpty());
        QCOMPARE(rig.frames.size(), 2);
    }

    // A device missing at the start, or closed by the system while open, is tried again every
    // RetryMs until it opens; the same failure is reported once.
    void reconnectRetriesAClosedPort_data()
    {
        QTest::addColumn<bool>("lostWhileOpen");
        QTest::addColumn<QStringList>("events");
        const QString reason = QStringLiteral("COM3: serial device /dev/ttyS2 not found");
        QTest::newRow("missing at start") << false << QStringList{"OpenFailed: " + reason};
        QTest::newRow("lost while open")
            << true << QStringList{"Opened", "Lost: " + reason, "OpenFailed: " + reason};
    }
    void reconnectRetriesAClosedPort()
    {
        QFETCH(bool, lostWhileOpen);
        QFETCH(QStringList, events);
        Rig rig;
        QStringList seen;
        RecordEvents(rig.link, seen);
        rig.port.refuse = !lostWhileOpen;
        rig.link.Start();
        if (lostWhileOpen) {
            rig.port.open = false;
            rig.port.refuse = true;
        }
        const int attempts = rig.port.openAttempts;
        rig.silentTicks(5 * 5000 / 200);
        QCOMPARE(rig.port.openAttempts - attempts, 5);
        QCOMPARE(seen.mid(0, events.size()), events);

        rig.port.refuse = false;
        rig.silentTicks(5000 / 200);
        QVERIFY(rig.port.PortOpen());
        QCOMPARE(seen, events + QStringList{"Opened"});
        QVERIFY(rig.host.shown.isEmpty());
        QCOMPARE(rig.declined, 0);
    }

    // Whatever ends the flow of frames, the link tells of the gap once, with its reason, and of
    // its end only at the first good frame: bytes that make no frame do not end it.
    void linkStateDownOnceUpAtAGoodFrame_data()
    {
        QTest::addColumn<bool>("reconnect");
        QTest::addColumn<QString>("cause");
        QTest::addColumn<QString>("reason");
        const QString silent = QStringLiteral("no frames from the meter for more than 15 s");
        const QString device = QStringLiteral("COM3: serial device /dev/ttyS2 not found");
        QTest::newRow("asking, meter silent") << false << "silence" << silent;
        QTest::newRow("unattended, meter silent") << true << "silence" << silent;
        QTest::newRow("unattended, device missing") << true << "missing" << "the port cannot be opened: " + device;
        QTest::newRow("unattended, device pulled") << true << "lost" << "the port was lost: " + device;
        QTest::newRow("asking, device pulled") << false << "lost" << "the port was lost: " + device;
    }
    void linkStateDownOnceUpAtAGoodFrame()
    {
        QFETCH(bool, reconnect);
        QFETCH(QString, cause);
        QFETCH(QString, reason);
        Rig rig;
        QStringList seen;
        if (reconnect)
            rig.link.recovery = SerialLink::Recovery::Reconnect;
        rig.link.OnLinkState = [&seen](bool restored, const QString& why) {
            seen << (restored ? QStringLiteral("up") : "down: " + why);
        };
        for (int i = 0; i < 4; ++i)
            rig.host.answers << HostServices::Yes;
        rig.port.refuse = cause == "missing";
        rig.link.Start();
        if (cause != "missing")
            rig.port.deliver(Frame('1'));
        if (cause == "lost") {
            rig.port.open = false;
            rig.port.refuse = true;
        }
        rig.silentTicks(2 * (15000 / 200 + 4));
        QCOMPARE(seen, QStringList{"down: " + reason});

        rig.port.refuse = false;
        rig.silentTicks(5000 / 200);
        rig.port.deliver("no frame here");
        QCOMPARE(seen.size(), 1);
        rig.port.deliver(Frame('2'));
        QCOMPARE(seen, (QStringList{"down: " + reason, "up"}));
        QCOMPARE(rig.declined, 0);
    }
};

// The link over a real control: a pseudo-terminal stands in for the meter's port.
class TestSerialLinkOnPty : public QObject {
    Q_OBJECT

    struct Rig {
        FakeHost host;
        PtyPair pty;
        QtSerialControl port;
        FrameReceiver receiver;
        SerialLink link{port, receiver};

        Rig()
        {
            host.tick = 100000;
            host.setSetting("Ports", "COM7", pty.slavePath());
        }
    };

  private slots:
    void init()
    {
        Shared = SharedState{};
        Shared.ComPort = 7;
        Shared.BaudRate = 9600;
    }

    void framesFromTheMeterEndReachTheChannels()
    {
        Rig rig;
        QVERIFY(rig.pty.isValid());
        rig.link.Start();
        QVERIFY2(rig.port.PortOpen(), qPrintable(rig.host.texts().join('|')));

        const QByteArray stream = "noise" + MeterFrame("41010200012345") + MeterFrame("01011201230456") +
                                  MeterFrame("43010100000789");
        QVERIFY(rig.pty.write(stream.left(10)));
        QVERIFY(rig.pty.write(stream.mid(10, 17)));
        QVERIFY(rig.pty.write(stream.mid(27)));
        QTRY_VERIFY(SameReading(Shared.ChanValue[3], double(78.9f)));
        QVERIFY(SameReading(Shared.ChanValue[1], double(4.56f)));
        QVERIFY(SameReading(Shared.ChanValue[2], 12.3));
        QCOMPARE(Shared.ChanDecimals[3], int16_t(1));
        QCOMPARE(Shared.ChanUnit[3], int16_t(1));
        QVERIFY(Shared.DataReceived);
        QCOMPARE(rig.link.LastRxTick, rig.host.tick);
    }

    void pulledDeviceEndsInTheQuestionNotACrash()
    {
        Rig rig;
        QVERIFY(rig.pty.isValid());
        rig.link.Start();
        QVERIFY(rig.port.PortOpen());

        QStringList seen;
        rig.link.OnLinkState = [&seen](bool restored, const QString& why) {
            seen << (restored ? QStringLiteral("up") : "down: " + why);
        };
        rig.pty.closeMaster();
        QTRY_VERIFY(!rig.port.PortOpen());
        rig.host.answers.enqueue(HostServices::Yes);
        for (int i = 0; i < 4; ++i) {
            rig.host.tick += 200;
            rig.link.CheckLink();
            // Noticed at once, long before the watchdog's question.
            QCOMPARE(seen.size(), 1);
            QVERIFY2(seen[0].startsWith("down: the port was lost: "), qPrintable(seen[0]));
        }
        // The device is gone: the reopening fails without a box of its own.
        QCOMPARE(rig.host.texts(), QStringList{Question});
        QVERIFY(!rig.port.PortOpen());
        QCOMPARE(rig.link.MissedChecks, int16_t(0));
    }
};

VARNIK_TEST_CLASS(TestSerialLink)
VARNIK_TEST_CLASS(TestSerialLinkOnPty)
#include "test_serial_link.moc"
