// The instrument beside another source: frames naming a channel above the meter's own count
// still count for its link, but leave the other source's reading, unit and decimals alone.
#include "core/shared_state.h"
#include "meter-sim/frame_encoder.h"
#include "station/meter_source.h"
#include "test_registry.h"

#include <QTest>

class TestMeterSource : public QObject {
    Q_OBJECT

  private slots:
    void framesAboveItsChannelsLeaveThemAlone()
    {
        MeterSource meter(SerialLink::Recovery::Reconnect);
        meter.Channels = 8;
        QList<QList<int>> heard;
        meter.hooks.Readings = [&](const int* channels, int count) {
            heard.append(QList<int>(channels, channels + count));
        };
        // Channel 12 belongs to another source (a multimeter in VDC, 3 decimals).
        Shared.ChanValue[12] = 1.234;
        Shared.ChanUnit[12] = 300;
        Shared.ChanDecimals[12] = 3;

        meter.Receiver().Receive(meterframe::EncodeSingleFrame(12, 4, 1, 99.9));
        meter.Receiver().Receive(meterframe::EncodeSingleFrame(3, 4, 2, 5.25));

        QCOMPARE(heard, (QList<QList<int>>{{}, {3}}));
        QCOMPARE(Shared.ChanValue[12], 1.234);
        QCOMPARE(Shared.ChanUnit[12], int16_t(300));
        QCOMPARE(Shared.ChanDecimals[12], int16_t(3));
        QCOMPARE(Shared.ChanValue[3], 5.25);
        QCOMPARE(Shared.ChanDecimals[3], int16_t(2));
    }
};

VARNIK_TEST_CLASS(TestMeterSource)
#include "test_meter_source.moc"
