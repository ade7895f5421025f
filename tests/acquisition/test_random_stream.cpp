#include "acquisition/frame_receiver.h"
#include "test_registry.h"

#include <QTest>
#include <cmath>
#include <random>

namespace {

// The receiver's rules taken one byte at a time, the plainest way they can be written: the
// receiver under test copies whole runs of bytes and must hand on exactly the same frames.
class ByteByByteReceiver {
  public:
    QList<QByteArray> frames;

    void Receive(const QByteArray& event)
    {
        for (char c : event) {
            const auto b = static_cast<uint8_t>(c);
            if (!collecting) {
                if (b == FrameStartByte) {
                    body.clear();
                    collecting = true;
                }
                continue;
            }
            body.append(c);
            if (body.size() < 15)
                continue;
            collecting = false;
            if (b != FrameEndByte)
                return;
            frames.append(body);
        }
    }

  private:
    bool collecting = false;
    QByteArray body;
};

// A stream that looks like a meter's: good frames with any data bytes and channel digits around
// 0..16, some with a wrong end byte, some cut short, and noise between them.
QByteArray MeterLikeStream(std::mt19937& random, int pieces)
{
    std::uniform_int_distribution<int> anyByte(0, 255);
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<int> channel('0', '0' + 18);
    const char layouts[] = {'4', '4', '0', '1', '2', '3', '?'};
    std::uniform_int_distribution<int> layout(0, sizeof layouts - 1);
    QByteArray stream;
    for (int i = 0; i < pieces; ++i) {
        const int kind = percent(random);
        if (kind < 10) {
            for (int n = percent(random) % 6; n >= 0; --n)
                stream.append(static_cast<char>(anyByte(random)));
            continue;
        }
        QByteArray frame(16, '\0');
        frame[0] = FrameStartByte;
        frame[1] = layouts[layout(random)];
        frame[2] = static_cast<char>(channel(random));
        for (int k = 3; k < 15; ++k)
            frame[k] = static_cast<char>(percent(random) < 70 ? '0' + percent(random) % 10 : anyByte(random));
        frame[15] = kind < 20 ? static_cast<char>(anyByte(random)) : static_cast<char>(FrameEndByte);
        stream.append(kind < 25 ? frame.left(percent(random) % 16) : frame);
    }
    return stream;
}

QList<QByteArray> Chunks(std::mt19937& random, const QByteArray& stream)
{
    std::uniform_int_distribution<int> size(0, 80);
    QList<QByteArray> chunks;
    for (qsizetype at = 0; at < stream.size();) {
        const int n = size(random);
        chunks.append(stream.mid(at, n));
        at += n;
    }
    return chunks;
}

} // namespace

class TestRandomStream : public QObject {
    Q_OBJECT

  private slots:
    void init() { Shared = SharedState{}; }

    void sameFramesAsByteByByte()
    {
        for (unsigned seed = 1; seed <= 50; ++seed) {
            std::mt19937 random(seed);
            const QByteArray stream = MeterLikeStream(random, 200);
            ByteByByteReceiver reference;
            FrameReceiver receiver;
            QList<QByteArray> frames;
            receiver.OnFrame = [&](FrameBufferArray& buffer) {
                frames.append(QByteArray(reinterpret_cast<const char*>(buffer.data() + 1), 15));
                return true;
            };
            for (const QByteArray& chunk : Chunks(random, stream)) {
                reference.Receive(chunk);
                receiver.Receive(chunk);
            }
            QVERIFY2(frames == reference.frames, qPrintable(QStringLiteral("seed %1").arg(seed)));
            QVERIFY(!frames.isEmpty());
        }
    }

    // Runs clean under the address and undefined-behaviour sanitizers with any byte values.
    void decodesAnyBytesSafely()
    {
        std::mt19937 random(20240601);
        std::uniform_real_distribution<double> scale(-1000, 1000);
        for (int ch = 1; ch <= MaxChannel; ++ch)
            Shared.DispSetup[ch].Scale = scale(random);
        FrameReceiver receiver;
        int decoded = 0;
        int wrongDigits = 0;
        receiver.OnFrame = [&](FrameBufferArray& buffer) {
            if (!DecodeFrame(buffer))
                return false;
            ++decoded;
            for (int p = 0; p < 16; ++p)
                wrongDigits += Shared.FrameDigits[p] != DigitValue(buffer[15 - p]);
            return true;
        };
        for (int round = 0; round < 20; ++round) {
            Shared.Format01 = round % 2 == 1;
            for (const QByteArray& chunk : Chunks(random, MeterLikeStream(random, 2000)))
                receiver.Receive(chunk);
        }
        QVERIFY(decoded > 10000);
        QCOMPARE(wrongDigits, 0);
        for (int ch = 0; ch <= MaxChannel; ++ch) {
            QVERIFY(std::isfinite(Shared.ChanValue[ch]));
            QVERIFY(Shared.ChanDecimals[ch] >= 0 && Shared.ChanDecimals[ch] <= 207);
            QVERIFY(Shared.ChanUnit[ch] >= 0 && Shared.ChanUnit[ch] <= 2207);
        }
        QVERIFY(Shared.FrameChannel >= 0 && Shared.FrameChannel <= MaxChannel);
    }
};

VARNIK_TEST_CLASS(TestRandomStream)
#include "test_random_stream.moc"
