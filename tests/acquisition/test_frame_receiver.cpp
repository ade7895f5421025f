#include "acquisition/frame_receiver.h"
#include "meter_frames.h"
#include "test_registry.h"

#include <QTest>

namespace {

// A receiver that records the 15 bytes after the start byte of every frame it hands on.
struct RecordingReceiver {
    FrameReceiver receiver;
    QList<QByteArray> frames;

    RecordingReceiver()
    {
        receiver.OnFrame = [this](FrameBufferArray& buffer) {
            frames.append(QByteArray(reinterpret_cast<const char*>(buffer.data() + 1), 15));
            return true;
        };
    }
};

QByteArray Body(const QByteArray& frame)
{
    return frame.mid(1);
}

} // namespace

class TestFrameReceiver : public QObject {
    Q_OBJECT

  private slots:
    void init() { Shared = SharedState{}; }

    void cutsFrames_data()
    {
        QTest::addColumn<QList<QByteArray>>("events");
        QTest::addColumn<QList<QByteArray>>("expected");
        const QByteArray a = MeterFrame("41010200012345");
        const QByteArray b = MeterFrame("01011201230456");
        const QByteArray c = MeterFrame("43A30299999999");
        const QByteArray bad = MeterFrame("45010100000001", 'X');
        const QByteArray stxInside = MeterFrame("4101020001\x02"
                                                "345");

        QTest::newRow("one frame") << QList<QByteArray>{a} << QList<QByteArray>{Body(a)};
        QTest::newRow("one frame in events of 5, 6 and 5 bytes")
            << QList<QByteArray>{a.left(5), a.mid(5, 6), a.mid(11)} << QList<QByteArray>{Body(a)};
        QTest::newRow("a byte at a time") << [&] {
            QList<QByteArray> bytes;
            for (char byte : a + b)
                bytes.append(QByteArray(1, byte));
            return bytes;
        }() << QList<QByteArray>{Body(a), Body(b)};
        QTest::newRow("two frames in one event, in order")
            << QList<QByteArray>{a + b} << QList<QByteArray>{Body(a), Body(b)};
        QTest::newRow("noise before the start byte is skipped")
            << QList<QByteArray>{QByteArray("\r\r\x01zz"), QByteArray("\n\r9") + a}
            << QList<QByteArray>{Body(a)};
        QTest::newRow("start byte inside a frame is data")
            << QList<QByteArray>{stxInside} << QList<QByteArray>{Body(stxInside)};
        QTest::newRow("wrong end byte drops the rest of the event")
            << QList<QByteArray>{bad + a + b, c} << QList<QByteArray>{Body(c)};
        QTest::newRow("wrong end byte at the end of an event")
            << QList<QByteArray>{a + bad, b} << QList<QByteArray>{Body(a), Body(b)};
        QTest::newRow("wrong end byte of a split frame")
            << QList<QByteArray>{bad.left(9), bad.mid(9) + a, b} << QList<QByteArray>{Body(b)};
        QTest::newRow("no time-out inside a frame")
            << QList<QByteArray>{a.left(8), b, c} << QList<QByteArray>{Body(c)};
        QTest::newRow("empty events change nothing")
            << QList<QByteArray>{a.left(4), QByteArray(), a.mid(4)} << QList<QByteArray>{Body(a)};
    }

    void cutsFrames()
    {
        QFETCH(QList<QByteArray>, events);
        QFETCH(QList<QByteArray>, expected);
        RecordingReceiver recording;
        for (const QByteArray& event : events)
            recording.receiver.Receive(event);
        QCOMPARE(recording.frames, expected);
    }

    void resetAbandonsAPartFrame()
    {
        RecordingReceiver recording;
        const QByteArray a = MeterFrame("41010200012345");
        recording.receiver.Receive(a.left(8));
        recording.receiver.Reset();
        QCOMPARE(recording.receiver.RxState, FrameReceiver::Hunting);
        QCOMPARE(recording.receiver.ByteCount, int16_t(0));
        recording.receiver.Receive(a.mid(8) + a);
        QCOMPARE(recording.frames, QList<QByteArray>{Body(a)});
    }

    void decodesIntoSharedStateByDefault()
    {
        FrameReceiver receiver;
        receiver.Receive(MeterFrame("43010200012345"));
        QCOMPARE(Shared.FrameChannel, int16_t(3));
        QCOMPARE(Shared.ChanValue[3], double(123.45f));
        QCOMPARE(receiver.FrameBuffer[0], FrameStartByte);
    }

    // The fields are public: a caller that leaves them out of range must not make the receiver
    // write past its buffer.
    void resetsAStateOutOfRange_data()
    {
        QTest::addColumn<int>("rxState");
        QTest::addColumn<int>("byteCount");
        QTest::addColumn<int>("frameLength");
        QTest::addColumn<int>("syncIndex");
        QTest::newRow("frame length past the buffer") << 2 << 0 << 500 << 1;
        QTest::newRow("negative byte count") << 2 << -5 << 15 << 1;
        QTest::newRow("byte count past the frame") << 2 << 160 << 15 << 1;
        QTest::newRow("unknown state") << 7 << 0 << 15 << 1;
        QTest::newRow("sync index past its table") << 0 << 0 << 15 << 40;
    }

    void resetsAStateOutOfRange()
    {
        QFETCH(int, rxState);
        QFETCH(int, byteCount);
        QFETCH(int, frameLength);
        QFETCH(int, syncIndex);
        RecordingReceiver recording;
        recording.receiver.RxState = static_cast<int16_t>(rxState);
        recording.receiver.ByteCount = static_cast<int16_t>(byteCount);
        recording.receiver.FrameLength = static_cast<int16_t>(frameLength);
        recording.receiver.SyncIndex = static_cast<int16_t>(syncIndex);
        const QByteArray a = MeterFrame("41010200012345");
        recording.receiver.Receive(a);
        QCOMPARE(recording.frames, QList<QByteArray>{Body(a)});
    }

    void frameHandlerMayChangeTheFields()
    {
        RecordingReceiver recording;
        auto record = recording.receiver.OnFrame;
        recording.receiver.OnFrame = [&](FrameBufferArray& buffer) {
            recording.receiver.FrameLength = 1000;
            return record(buffer);
        };
        const QByteArray a = MeterFrame("41010200012345");
        const QByteArray b = MeterFrame("01011201230456");
        recording.receiver.Receive(a + b);
        QCOMPARE(recording.frames, (QList<QByteArray>{Body(a), Body(b)}));
    }
};

VARNIK_TEST_CLASS(TestFrameReceiver)
#include "test_frame_receiver.moc"
