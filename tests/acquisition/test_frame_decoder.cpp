#include "acquisition/frame_decoder.h"
#include "meter_frames.h"
#include "test_registry.h"

#include <QTest>
#include <cstring>

namespace {

struct ChannelReading {
    int ch;
    double value;
    int unit;
    int decimals;
};

// Channels a frame must not touch keep these.
constexpr double UntouchedValue = 7.0;
constexpr int16_t UntouchedCode = 77;

double Float(double value)
{
    return static_cast<float>(value);
}

void Decode(const QByteArray& frame)
{
    FrameBufferArray buffer{};
    std::memcpy(buffer.data() + 1, frame.constData() + 1, 15);
    DecodeFrame(buffer);
}

} // namespace

Q_DECLARE_METATYPE(ChannelReading)
Q_DECLARE_METATYPE(QList<ChannelReading>)

class TestFrameDecoder : public QObject {
    Q_OBJECT

  private slots:
    void init()
    {
        Shared = SharedState{};
        Shared.ChanValue.fill(UntouchedValue);
        Shared.ChanUnit.fill(UntouchedCode);
        Shared.ChanDecimals.fill(UntouchedCode);
    }

    void readings_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("format01");
        QTest::addColumn<int>("scaleChannel");
        QTest::addColumn<double>("scale");
        QTest::addColumn<bool>("secondDisplay");
        QTest::addColumn<QList<ChannelReading>>("expected");
        const double f12345 = Float(123.45);
        const double f456 = Float(4.56);
        const double invalid = InvalidReading;

        QTest::newRow("single, two decimals") << QByteArray("41010200012345") << false << 0 << 1.0 << false
                                              << QList<ChannelReading>{{1, f12345, 1, 2}};
        QTest::newRow("single, code 7 times 10") << QByteArray("41010700012345") << false << 0 << 1.0 << false
                                                 << QList<ChannelReading>{{1, 123450, 1, 0}};
        QTest::newRow("single, code 8 times 100") << QByteArray("41010800012345") << false << 0 << 1.0
                                                  << false << QList<ChannelReading>{{1, 1234500, 1, 0}};
        QTest::newRow("single, code 9 times 1000") << QByteArray("41010900012345") << false << 0 << 1.0
                                                   << false << QList<ChannelReading>{{1, 12345000, 1, 0}};
        QTest::newRow("single, code 10 leaves the reading")
            << QByteArray("41010:00012345") << false << 0 << 1.0 << false
            << QList<ChannelReading>{{1, 12345, 1, 0}};
        QTest::newRow("single, negative") << QByteArray("41011200012345") << false << 0 << 1.0 << false
                                          << QList<ChannelReading>{{1, -f12345, 1, 2}};
        QTest::newRow("single, negative zero") << QByteArray("41011000000000") << false << 0 << 1.0 << false
                                               << QList<ChannelReading>{{1, -0.0, 1, 0}};
        QTest::newRow("single, 99999999 rounds in float")
            << QByteArray("41010099999999") << false << 0 << 1.0 << false
            << QList<ChannelReading>{{1, 100000000, 1, 0}};
        QTest::newRow("single, rounded after each high digit")
            << QByteArray("41010068478395") << false << 0 << 1.0 << false
            << QList<ChannelReading>{{1, 68478400, 1, 0}};
        QTest::newRow("single, byte 0xFF as top digit")
            << QByteArray("41010\x32\xFF"
                          "0012345")
            << false << 0 << 1.0 << false << QList<ChannelReading>{{1, 20700122, 1, 2}};
        QTest::newRow("single, unit high digit A") << QByteArray("43A30200012345") << false << 0 << 1.0
                                                   << false << QList<ChannelReading>{{3, f12345, 103, 2}};
        QTest::newRow("single, unit high digit F") << QByteArray("43F90200012345") << false << 0 << 1.0
                                                   << false << QList<ChannelReading>{{3, f12345, 159, 2}};
        QTest::newRow("single, channel 16") << QByteArray("4@010200012345") << false << 0 << 1.0 << false
                                            << QList<ChannelReading>{{16, f12345, 1, 2}};
        QTest::newRow("single, scale in double") << QByteArray("43010200012345") << false << 3 << 0.1 << false
                                                 << QList<ChannelReading>{{3, f12345 * 0.1, 1, 2}};
        QTest::newRow("single, invalid keeps unit and decimals")
            << QByteArray("4305020001?345") << false << 0 << 1.0 << false
            << QList<ChannelReading>{{3, invalid, 5, 2}};
        QTest::newRow("single, channel 0 uses channel 1's scale")
            << QByteArray("40010200012345") << false << 1 << 2.0 << false
            << QList<ChannelReading>{{0, 246.89999389648438, 1, 2}};
        QTest::newRow("single, invalid on channel 0 marks channel 1")
            << QByteArray("4005020001?345") << false << 0 << 1.0 << false
            << QList<ChannelReading>{{0, invalid, 5, 2}, {1, invalid, UntouchedCode, UntouchedCode}};

        QTest::newRow("dual, both readings") << QByteArray("01011201230456") << false << 0 << 1.0 << true
                                             << QList<ChannelReading>{{1, f456, 1, 2}, {2, 12.3, 1, 1}};
        QTest::newRow("dual, both negative") << QByteArray("31011201230456") << false << 0 << 1.0 << true
                                             << QList<ChannelReading>{{1, -f456, 1, 2}, {2, -12.3, 1, 1}};
        QTest::newRow("dual, first negative") << QByteArray("11011201230456") << false << 0 << 1.0 << true
                                              << QList<ChannelReading>{{1, -f456, 1, 2}, {2, 12.3, 1, 1}};
        QTest::newRow("dual, second negative") << QByteArray("21011201230456") << false << 0 << 1.0 << true
                                               << QList<ChannelReading>{{1, f456, 1, 2}, {2, -12.3, 1, 1}};
        QTest::newRow("dual, code 7 times 10") << QByteArray("01011701230456") << false << 0 << 1.0 << true
                                               << QList<ChannelReading>{{1, 4560, 1, 0}, {2, 12.3, 1, 1}};
        QTest::newRow("dual, no second reading")
            << QByteArray("0101120?230456") << false << 0 << 1.0 << false
            << QList<ChannelReading>{{1, f456, 1, 2}, {2, UntouchedValue, UntouchedCode, UntouchedCode}};
        QTest::newRow("dual, invalid second reading")
            << QByteArray("010112?1230456") << false << 0 << 1.0 << true
            << QList<ChannelReading>{{1, f456, 1, 2}, {2, invalid, UntouchedCode, UntouchedCode}};
        QTest::newRow("dual, second reading with 38 places")
            << QByteArray("0101V201230456") << false << 0 << 1.0 << true
            << QList<ChannelReading>{{1, f456, 1, 2}, {2, 123 / Float(1e38), 1, 38}};
        QTest::newRow("dual, second reading places beyond float range")
            << QByteArray("0101w201230456") << false << 0 << 1.0 << true
            << QList<ChannelReading>{{1, f456, 1, 2}, {2, invalid, UntouchedCode, 71}};
        QTest::newRow("dual, channel 5 goes to channels 1 and 2 with its scale")
            << QByteArray("05011201230456") << false << 5 << 2.0 << true
            << QList<ChannelReading>{{1, 2 * f456, 1, 2}, {2, 24.6, 5, 1}, {5, UntouchedValue, 1, 2}};
        QTest::newRow("dual, invalid first reading marks channel 1, not the frame's channel")
            << QByteArray("0501120123?456") << false << 0 << 1.0 << true
            << QList<ChannelReading>{
                   {1, invalid, UntouchedCode, UntouchedCode}, {2, 12.3, 5, 1}, {5, UntouchedValue, 1, 2}};
        QTest::newRow("dual, Format01 with 0 0 times 100")
            << QByteArray("01011200000456") << true << 0 << 1.0 << true
            << QList<ChannelReading>{{1, 456, 1, 2}, {2, 0, 1, 1}};
        QTest::newRow("dual, Format01 with ? 0 times 10")
            << QByteArray("01011200?00456") << true << 0 << 1.0 << true
            << QList<ChannelReading>{{1, 45.599998474121094, 1, 2}, {2, 15, 1, 1}};
        QTest::newRow("dual, ? 0 without Format01")
            << QByteArray("01011200?00456") << false << 0 << 1.0 << true
            << QList<ChannelReading>{{1, f456, 1, 2}, {2, 15, 1, 1}};
    }

    void readings()
    {
        QFETCH(QByteArray, data);
        QFETCH(bool, format01);
        QFETCH(int, scaleChannel);
        QFETCH(double, scale);
        QFETCH(bool, secondDisplay);
        QFETCH(QList<ChannelReading>, expected);
        Shared.Format01 = format01;
        Shared.DispSetup[scaleChannel].Scale = scale;

        Decode(MeterFrame(data));

        for (int ch = 0; ch <= MaxChannel; ++ch) {
            ChannelReading want{ch, UntouchedValue, UntouchedCode, UntouchedCode};
            for (const ChannelReading& reading : expected)
                if (reading.ch == ch)
                    want = reading;
            QVERIFY2(SameReading(Shared.ChanValue[ch], want.value),
                     qPrintable(QStringLiteral("channel %1: %2, expected %3")
                                    .arg(ch)
                                    .arg(ReadingText(Shared.ChanValue[ch]), ReadingText(want.value))));
            QCOMPARE(Shared.ChanUnit[ch], want.unit);
            QCOMPARE(Shared.ChanDecimals[ch], want.decimals);
        }
        QCOMPARE(Shared.SecondDisplay, secondDisplay);
    }

    void filesDigitsBackwardsUnderTheChannel()
    {
        Shared.DispSetup[3].Scale = 0.5;
        FrameBufferArray buffer{};
        buffer[0] = 0x55;
        const QByteArray frame = MeterFrame("43A50200012345");
        std::memcpy(buffer.data() + 1, frame.constData() + 1, 15);
        DecodeFrame(buffer);

        const std::array<int16_t, 16> digits{13, 5, 4, 3, 2, 1, 0, 0, 0, 2, 0, 5, 17, 3, 4, 2};
        QCOMPARE(buffer[0], FrameStartByte);
        QCOMPARE(Shared.FrameChannel, int16_t(3));
        QCOMPARE(Shared.FrameDigits, digits);
        QCOMPARE(Shared.FrameStore[3], digits);
        QCOMPARE(Shared.CurrentScale, 0.5);
    }

    void dropsChannelsAbove16()
    {
        Shared.FrameChannel = 4;
        const SharedState before = Shared;
        FrameBufferArray buffer{};
        const QByteArray frame = MeterFrame("4A010200012345");
        std::memcpy(buffer.data() + 1, frame.constData() + 1, 15);
        // Callers pass nothing on as newly read, and the dropped frame keeps no link fresh.
        QVERIFY(!DecodeFrame(buffer));
        QVERIFY(!Shared.Freshness.AnyFrame());

        QCOMPARE(buffer[0], FrameStartByte);
        QCOMPARE(Shared.FrameChannel, before.FrameChannel);
        QCOMPARE(Shared.FrameDigits, before.FrameDigits);
        QCOMPARE(Shared.FrameStore, before.FrameStore);
        QCOMPARE(Shared.ChanUnit, before.ChanUnit);
        QCOMPARE(Shared.ChanDecimals, before.ChanDecimals);
        QVERIFY(std::memcmp(Shared.ChanValue.data(), before.ChanValue.data(), sizeof Shared.ChanValue) == 0);
        QCOMPARE(Shared.CurrentScale, before.CurrentScale);
    }

    void laterFrameOfAnotherChannelKeepsEarlierReadings()
    {
        Decode(MeterFrame("41010200012345"));
        Decode(MeterFrame("42030100000072"));
        QVERIFY(SameReading(Shared.ChanValue[1], Float(123.45)));
        QVERIFY(SameReading(Shared.ChanValue[2], Float(7.2)));
        QCOMPARE(Shared.FrameStore[1][9], int16_t(2));
        QCOMPARE(Shared.FrameStore[2][9], int16_t(1));
    }
};

VARNIK_TEST_CLASS(TestFrameDecoder)
#include "test_frame_decoder.moc"
