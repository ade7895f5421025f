// meter-sim end to end: the frames it streams on its pseudo-terminal, its faults, its link and its
// exits; and its frame encoder against the meter's frame layout.
#include "acquisition/frame_receiver.h"
#include "core/shared_state.h"
#include "meter-sim/frame_encoder.h"
#include "meter-sim/fs9721_encoder.h"
#include "test_registry.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

using meterframe::DualReading;
using meterframe::EncodeDualFrame;
using meterframe::EncodeSingleFrame;

namespace {

constexpr int FrameSize = meterframe::FrameSize;

QByteArray Frame(const char* dataBytes)
{
    return QByteArray("\x02") + dataBytes + "\r";
}

bool AllDigits(const QByteArray& bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A running meter-sim with the slave side of its line open and read as bytes arrive.
class SimRun {
  public:
    explicit SimRun(const QStringList& arguments)
    {
        process.start(QStringLiteral(VARNIK_BINARY_DIR "/meter-sim"), arguments);
    }
    ~SimRun()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
        if (fd >= 0)
            ::close(fd);
    }
    SimRun(const SimRun&) = delete;
    SimRun& operator=(const SimRun&) = delete;

    // Reads the device path from the first line and starts reading the line; false on failure.
    bool attach()
    {
        while (!process.canReadLine())
            if (!process.waitForReadyRead(10000))
                return false;
        devicePath = QString::fromLocal8Bit(process.readLine().trimmed());
        fd = ::open(QFile::encodeName(devicePath).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return false;
        clock.start();
        notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(), [this] { readLine(); });
        return true;
    }

    // Sends a signal and waits for the exit.
    bool signalAndWait(int signal)
    {
        ::kill(static_cast<pid_t>(process.processId()), signal);
        return process.waitForFinished(10000);
    }

    QProcess process;
    QString devicePath;
    QByteArray received;
    qint64 longestGapMs = 0; // longest time between two reads that brought bytes
    qint64 lastArrivalMs = 0;
    QElapsedTimer clock;

  private:
    void readLine()
    {
        char buffer[1024];
        ssize_t n = 0;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0) {
            const qint64 now = clock.elapsed();
            if (!received.isEmpty())
                longestGapMs = std::max(longestGapMs, now - lastArrivalMs);
            lastArrivalMs = now;
            received.append(buffer, static_cast<qsizetype>(n));
        }
        if (n == 0 || (n < 0 && errno != EAGAIN))
            notifier->setEnabled(false);
    }

    int fd = -1;
    std::unique_ptr<QSocketNotifier> notifier;
};

struct SeenFrame {
    QByteArray bytes;
    int noiseBefore = 0;
};

// Cuts single-reading frames for channels 1..channels in turn out of the stream; any byte that does
// not start the next expected frame counts as noise before it.
QList<SeenFrame> CutFrames(const QByteArray& stream, int channels)
{
    QList<SeenFrame> frames;
    int expected = 1;
    int noise = 0;
    for (qsizetype at = 0; at + FrameSize <= stream.size();) {
        if (stream[at] == '\x02' && stream[at + 1] == '4' && stream[at + 2] == char('0' + expected)) {
            frames.append({stream.mid(at, FrameSize), noise});
            expected = expected % channels + 1;
            noise = 0;
            at += FrameSize;
        } else {
            ++noise;
            ++at;
        }
    }
    return frames;
}

} // namespace

class MeterFrameEncoderTest : public QObject {
    Q_OBJECT
  private slots:
    void encodesTheMeterLayout_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("channel 1, unit 1, 123.45")
            << EncodeSingleFrame(1, 1, 2, 123.45) << Frame("41010200012345");
        QTest::newRow("negative") << EncodeSingleFrame(1, 1, 2, -123.45) << Frame("41011200012345");
        QTest::newRow("eight digits") << EncodeSingleFrame(3, 4, 0, 99999999) << Frame("43040099999999");
        QTest::newRow("rounded to its decimals")
            << EncodeSingleFrame(3, 4, 2, -12.345678) << Frame("43041200001235");
        QTest::newRow("negative zero unsigned")
            << EncodeSingleFrame(2, 3, 1, -0.01) << Frame("42030100000000");
        QTest::newRow("channel 16 and unit 103")
            << EncodeSingleFrame(16, 103, 3, 1.5) << Frame("4@A30300001500");
        QTest::newRow("channel 0, six decimals")
            << EncodeSingleFrame(0, 10, 6, 0.000001) << Frame("40100600000001");
        QTest::newRow("dual, both readings")
            << EncodeDualFrame(1, 1, {4.56, 2}, DualReading{12.3, 1}) << Frame("01011201230456");
        QTest::newRow("dual, both negative")
            << EncodeDualFrame(1, 1, {-4.56, 2}, DualReading{-12.3, 1}) << Frame("31011201230456");
        QTest::newRow("dual, first negative")
            << EncodeDualFrame(7, 4, {-9.999, 3}, DualReading{0, 0}) << Frame("17040300009999");
        QTest::newRow("dual, second negative")
            << EncodeDualFrame(10, 15, {0, 0}, DualReading{-99.99, 2}) << Frame("2:152099990000");
        QTest::newRow("dual, no second reading")
            << EncodeDualFrame(1, 4, {-15, 2}, std::nullopt) << Frame("110402????1500");
    }
    void encodesTheMeterLayout()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, expected);
        QCOMPARE(frame, expected);
    }

    void init() { Shared = SharedState{}; }

    // What the program's receiver and decoder make of an encoded frame: the reading the encoder was
    // given, to the meter's 32-bit precision, with its unit and decimals, on the right channel.
    void decodesToWhatWasEncoded_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("channel");
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("unit");
        QTest::addColumn<int>("decimals");
        QTest::newRow("channel 3, -12.34 V") << EncodeSingleFrame(3, 4, 2, -12.34) << 3 << -12.34 << 4 << 2;
        QTest::newRow("channel 16, 1.5 Hz") << EncodeSingleFrame(16, 10, 3, 1.5) << 16 << 1.5 << 10 << 3;
        QTest::newRow("zero") << EncodeSingleFrame(1, 1, 0, -0.2) << 1 << 0.0 << 1 << 0;
        QTest::newRow("seven digits, unit 103")
            << EncodeSingleFrame(12, 103, 1, 1234567.8) << 12 << 1234567.8 << 103 << 1;
        QTest::newRow("six decimals") << EncodeSingleFrame(9, 5, 6, -0.000123) << 9 << -0.000123 << 5 << 6;
        QTest::newRow("dual, first reading")
            << EncodeDualFrame(1, 4, {-4.56, 2}, DualReading{12.3, 1}) << 1 << -4.56 << 4 << 2;
        QTest::newRow("dual, second reading")
            << EncodeDualFrame(1, 4, {-4.56, 2}, DualReading{12.3, 1}) << 2 << 12.3 << 1 << 1;
        QTest::newRow("dual, negative second")
            << EncodeDualFrame(7, 4, {99.99, 2}, DualReading{-0.5, 3}) << 2 << -0.5 << 7 << 3;
    }
    void decodesToWhatWasEncoded()
    {
        QFETCH(QByteArray, frame);
        QFETCH(int, channel);
        QFETCH(double, value);
        QFETCH(int, unit);
        QFETCH(int, decimals);
        FrameReceiver receiver;
        receiver.Receive(frame);
        QCOMPARE(float(Shared.ChanValue[channel]), float(value));
        QCOMPARE(int(Shared.ChanUnit[channel]), unit);
        QCOMPARE(int(Shared.ChanDecimals[channel]), decimals);
    }

    void dualFrameWithoutSecondReadingKeepsChannel2()
    {
        Shared.ChanValue[2] = 42;
        FrameReceiver receiver;
        receiver.Receive(EncodeDualFrame(1, 4, {1.25, 2}, std::nullopt));
        QCOMPARE(Shared.ChanValue[1], 1.25);
        QCOMPARE(Shared.ChanValue[2], 42.0);
    }

    void refusesReadingsThatDoNotFit_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("nine digits") << EncodeSingleFrame(1, 1, 0, 100000000);
        QTest::newRow("too many digits after rounding") << EncodeSingleFrame(1, 1, 2, 999999.996);
        QTest::newRow("seven decimals") << EncodeSingleFrame(1, 1, 7, 1);
        QTest::newRow("negative decimals") << EncodeSingleFrame(1, 1, -1, 1);
        QTest::newRow("channel 17") << EncodeSingleFrame(17, 1, 0, 1);
        QTest::newRow("channel -1") << EncodeSingleFrame(-1, 1, 0, 1);
        QTest::newRow("unit 160") << EncodeSingleFrame(1, 160, 0, 1);
        QTest::newRow("not a number") << EncodeSingleFrame(1, 1, 0, std::numeric_limits<double>::quiet_NaN());
        QTest::newRow("infinite") << EncodeSingleFrame(1, 1, 0, -std::numeric_limits<double>::infinity());
        QTest::newRow("dual first above 4 digits") << EncodeDualFrame(1, 1, {1000.0, 1}, std::nullopt);
        QTest::newRow("dual second above 4 digits") << EncodeDualFrame(1, 1, {1, 0}, DualReading{-10000, 0});
        QTest::newRow("dual second decimals 7") << EncodeDualFrame(1, 1, {1, 0}, DualReading{1, 7});
        QTest::newRow("dual channel digit 17") << EncodeDualFrame(17, 1, {1, 0}, std::nullopt);
    }
    void refusesReadingsThatDoNotFit()
    {
        QFETCH(QByteArray, frame);
        QVERIFY(frame.isEmpty());
    }
};

class MeterSimTest : public QObject {
    Q_OBJECT
  private slots:
    void streamsFramesForEveryChannelInTurn_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("channels");
        QTest::newRow("default eight") << QStringList{} << 8;
        QTest::newRow("one") << QStringList{"--channels", "1"} << 1;
        QTest::newRow("sixteen") << QStringList{"--channels", "16"} << 16;
        QTest::newRow("2400 baud, limited rate")
            << QStringList{"--channels=3", "--baud", "2400", "--rate", "40"} << 3;
    }
    void streamsFramesForEveryChannelInTurn()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, channels);
        SimRun sim(arguments);
        QVERIFY(sim.attach());
        const int wanted = 2 * channels + 2;
        QTRY_VERIFY_WITH_TIMEOUT(sim.received.size() >= wanted * FrameSize, 10000);

        const QList<SeenFrame> frames = CutFrames(sim.received, channels);
        QVERIFY(frames.size() >= wanted);
        for (const SeenFrame& seen : frames) {
            QCOMPARE(seen.noiseBefore, 0);
            QCOMPARE(seen.bytes[15], '\r');
            QVERIFY2(AllDigits(seen.bytes.mid(3, 12)), seen.bytes.constData());
        }
        QVERIFY(sim.process.state() == QProcess::Running);

        // The program's own receiver reads a plausible reading for every channel.
        Shared = SharedState{};
        FrameReceiver receiver;
        receiver.Receive(sim.received);
        for (int channel = 1; channel <= channels; ++channel) {
            QVERIFY(Shared.ChanUnit[channel] >= 1 && Shared.ChanUnit[channel] <= 10);
            QVERIFY(Shared.ChanDecimals[channel] >= 0 && Shared.ChanDecimals[channel] <= 3);
            QVERIFY(std::fabs(Shared.ChanValue[channel]) < 10000);
        }
    }

    void streamsDualDisplayFrames()
    {
        SimRun sim({"--dual", "--channels", "5"});
        QVERIFY(sim.attach());
        QTRY_VERIFY_WITH_TIMEOUT(sim.received.size() >= 6 * FrameSize, 10000);
        for (int i = 0; i < 6; ++i) {
            const QByteArray frame = sim.received.mid(i * FrameSize, FrameSize);
            QCOMPARE(frame[0], '\x02');
            QCOMPARE(frame[15], '\r');
            QVERIFY2(frame[1] >= '0' && frame[1] <= '3', frame.constData());
            QVERIFY2(AllDigits(frame.mid(11, 4)), frame.constData());
            // Every third frame comes without its second reading.
            QCOMPARE(frame.mid(7, 4) == "????", (i + 1) % 3 == 0);
        }
    }

    void injectsFaultsOnEveryNthFrame_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("badEndEvery");
        QTest::addColumn<int>("badDigitEvery");
        QTest::addColumn<int>("noiseEvery");
        QTest::newRow("wrong end byte") << QStringList{"--bad-end", "3"} << 3 << 0 << 0;
        QTest::newRow("invalid digit") << QStringList{"--bad-digit", "2"} << 0 << 2 << 0;
        QTest::newRow("noise") << QStringList{"--noise", "4", "--seed", "7"} << 0 << 0 << 4;
        QTest::newRow("all at once") << QStringList{"--noise=2", "--bad-end=5", "--bad-digit=1"} << 5 << 1
                                     << 2;
    }
    void injectsFaultsOnEveryNthFrame()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, badEndEvery);
        QFETCH(int, badDigitEvery);
        QFETCH(int, noiseEvery);
        const int channels = 4;
        SimRun sim(arguments << "--channels" << QString::number(channels));
        QVERIFY(sim.attach());
        const int wanted = 20;
        QTRY_VERIFY_WITH_TIMEOUT(CutFrames(sim.received, channels).size() >= wanted, 10000);

        const QList<SeenFrame> frames = CutFrames(sim.received, channels);
        const auto every = [](int n, int frame) { return n > 0 && frame % n == 0; };
        for (int i = 0; i < wanted; ++i) {
            const int number = i + 1;
            const QByteArray& frame = frames[i].bytes;
            QCOMPARE(frame[15] != '\r', every(badEndEvery, number));
            QCOMPARE(!AllDigits(frame.mid(11, 1)), every(badDigitEvery, number));
            QCOMPARE(frames[i].noiseBefore > 0, every(noiseEvery, number));
            QVERIFY(frames[i].noiseBefore < FrameSize);
        }

        // Frame by frame, as separate receive events, each frame's reading is valid or not as meant.
        for (int i = 0; i < wanted; ++i) {
            Shared = SharedState{};
            FrameReceiver receiver;
            receiver.Receive(frames[i].bytes);
            const int channel = i % channels + 1;
            const bool decoded = Shared.ChanUnit[channel] != 0;
            QCOMPARE(decoded, !every(badEndEvery, i + 1));
            if (decoded)
                QCOMPARE(Shared.ChanValue[channel] == InvalidReading, every(badDigitEvery, i + 1));
        }
    }

    void framesOptionDeliversThemAllAndExits()
    {
        SimRun sim({"--frames", "20", "--channels", "16"});
        QVERIFY(sim.attach());
        QTRY_COMPARE_WITH_TIMEOUT(sim.process.state(), QProcess::NotRunning, 10000);
        QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.process.exitCode(), 0);
        QCOMPARE(sim.received.size(), 20 * FrameSize);
        QCOMPARE(CutFrames(sim.received, 16).size(), 20);
    }

    // --protocol fs9721: the sequence's packets in turn, each step for its count, then from the
    // start again, paced to 2400 baud (14 bytes of 10 bits: 58 ms a packet) unless told otherwise.
    void streamsMultimeterPackets_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("steps"); // the packets expected, as one-step sequences
        QTest::addColumn<int>("minimumGapMs");  // between two packets: paced, not in one burst
        QTest::newRow("sequence, repeated")
            << QStringList{"--sequence", "1.234 V x2; OL Ohm", "--frames", "5"}
            << QStringList{"1.234 V", "1.234 V", "OL Ohm", "1.234 V", "1.234 V"} << 40;
        QTest::newRow("default sequence")
            << QStringList{"--frames", "5"}
            << QStringList{"1.234 V DC", "1.234 V DC", "1.234 V DC", "1.234 V DC", "-1.234 V DC"} << 40;
        QTest::newRow("faster line") << QStringList{"--sequence", "-0.512 mA AC HOLD; 23.0 degC",
                                                    "--baud",     "115200",
                                                    "--frames",   "3"}
                                     << QStringList{"-0.512 mA AC HOLD", "23.0 degC", "-0.512 mA AC HOLD"}
                                     << 0;
    }
    void streamsMultimeterPackets()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, steps);
        QFETCH(int, minimumGapMs);
        SimRun sim(QStringList{"--protocol", "fs9721"} + arguments);
        QVERIFY(sim.attach());
        QTRY_COMPARE_WITH_TIMEOUT(sim.process.state(), QProcess::NotRunning, 10000);
        QCOMPARE(sim.process.exitCode(), 0);
        QByteArray expected;
        for (const QString& step : steps)
            expected += fs9721::EncodePacket(fs9721::ParseSequence(step, nullptr).value(0).reading);
        QCOMPARE(sim.received.toHex(' '), expected.toHex(' '));
        QVERIFY2(sim.longestGapMs >= minimumGapMs, qPrintable(QString::number(sim.longestGapMs)));
    }

    void silenceEndsAndSendingResumes()
    {
        SimRun sim({"--silence-after", "0.2", "--silence", "0.8", "--frames", "40"});
        QVERIFY(sim.attach());
        QTRY_COMPARE_WITH_TIMEOUT(sim.process.state(), QProcess::NotRunning, 10000);
        QCOMPARE(sim.process.exitCode(), 0);
        QCOMPARE(CutFrames(sim.received, 8).size(), 40);
        QVERIFY2(sim.longestGapMs >= 400, qPrintable(QString::number(sim.longestGapMs)));
    }

    void stopAfterKeepsRunningSilently()
    {
        SimRun sim({"--stop-after", "0.2"});
        QVERIFY(sim.attach());
        QTRY_VERIFY_WITH_TIMEOUT(!sim.received.isEmpty() && sim.clock.elapsed() - sim.lastArrivalMs > 600,
                                 10000);
        QCOMPARE(sim.process.state(), QProcess::Running);
        const QList<SeenFrame> frames = CutFrames(sim.received, 8);
        QCOMPARE(frames.size() * FrameSize, sim.received.size());
        QVERIFY(frames.size() < 60);
        QVERIFY(sim.signalAndWait(SIGTERM));
        QCOMPARE(sim.process.exitCode(), 0);
    }

    void linkLivesUntilSignalled_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("staleLinkFirst");
        QTest::newRow("SIGTERM") << int(SIGTERM) << false;
        QTest::newRow("SIGINT") << int(SIGINT) << false;
        QTest::newRow("stale link replaced") << int(SIGTERM) << true;
    }
    void linkLivesUntilSignalled()
    {
        QFETCH(int, signal);
        QFETCH(bool, staleLinkFirst);
        QTemporaryDir dir;
        const QString link = dir.filePath("meter");
        if (staleLinkFirst)
            QVERIFY(QFile::link(dir.filePath("gone"), link));
        SimRun sim({"--link", link});
        QVERIFY(sim.attach());
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(QFileInfo(link).symLinkTarget(), sim.devicePath);
        QTRY_VERIFY_WITH_TIMEOUT(!sim.received.isEmpty(), 10000);

        QVERIFY(sim.signalAndWait(signal));
        QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.process.exitCode(), 0);
        QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
        QVERIFY(sim.process.readAllStandardOutput().isEmpty());
    }

    void linkNeverReplacesARealFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("meter");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("keep me");
        file.close();
        SimRun sim({"--link", path});
        QVERIFY(sim.process.waitForFinished(10000));
        QCOMPARE(sim.process.exitCode(), 1);
        QVERIFY(sim.process.readAllStandardOutput().isEmpty());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("keep me"));
    }

    void badCommandLineExitsWithCode2_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("unknown option") << QStringList{"--bogus"};
        QTest::newRow("no channels") << QStringList{"--channels", "0"};
        QTest::newRow("seventeen channels") << QStringList{"--channels", "17"};
        QTest::newRow("channels not a number") << QStringList{"--channels", "8x"};
        QTest::newRow("missing value") << QStringList{"--frames"};
        QTest::newRow("zero rate") << QStringList{"--rate", "0"};
        QTest::newRow("negative fault interval") << QStringList{"--bad-end", "-3"};
        QTest::newRow("silence without its start") << QStringList{"--silence", "2"};
        QTest::newRow("stray argument") << QStringList{"/dev/ttyS0"};
        QTest::newRow("unknown protocol") << QStringList{"--protocol", "fs9999"};
        QTest::newRow("sequence without fs9721") << QStringList{"--sequence", "1 V"};
        QTest::newRow("bad sequence") << QStringList{"--protocol", "fs9721", "--sequence", "1 W"};
        QTest::newRow("sequence that does not fit") << QStringList{"--protocol=fs9721", "--sequence=4000 V"};
        QTest::newRow("fs9721 with channels") << QStringList{"--protocol", "fs9721", "--channels", "2"};
        QTest::newRow("fs9721 with dual") << QStringList{"--protocol", "fs9721", "--dual"};
        QTest::newRow("fs9721 with bad digits") << QStringList{"--protocol", "fs9721", "--bad-digit", "3"};
    }
    void badCommandLineExitsWithCode2()
    {
        QFETCH(QStringList, arguments);
        SimRun sim(arguments);
        QVERIFY(sim.process.waitForFinished(10000));
        QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.process.exitCode(), 2);
        QVERIFY(sim.process.readAllStandardOutput().isEmpty());
        const QByteArray error = sim.process.readAllStandardError();
        QCOMPARE(error.count('\n'), 1);
        QVERIFY(error.endsWith('\n'));
    }
};

VARNIK_TEST_CLASS(MeterFrameEncoderTest)
VARNIK_TEST_CLASS(MeterSimTest)

#include "test_meter_sim.moc"
