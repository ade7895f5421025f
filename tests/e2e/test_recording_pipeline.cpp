// The whole acquisition road without a window, through the recording station both hosts use: frames written into a pseudo-terminal come out
// as rows of the data file, read back by the sqlite3 command-line tool as an independent reader.
#include "core/shared_state.h"
#include "datafile/data_file.h"
#include "fake_host.h"
#include "meter-sim/frame_encoder.h"
#include "platform/serial_control.h"
#include "pty_pair.h"
#include "station/meter_source.h"
#include "station/recording_station.h"
#include "sqlite_cli.h"
#include "test_registry.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

class TestRecordingPipeline : public QObject {
    Q_OBJECT

  private slots:
    void init()
    {
        Shared = SharedState{};
        Shared.ComPort = 7;
        Shared.BaudRate = 9600;
        Shared.ScanRate = 2;
        Shared.UnitCount = 11;
        Shared.UnitName[1] = QStringLiteral("°C");
        Shared.UnitName[4] = QStringLiteral("V");
        for (int d = 0; d <= 3; ++d)
            Shared.DecimalFormat[d] =
                QStringLiteral("###0") + (d ? QStringLiteral(".") + QString(d, '0') : QString());
    }

    void framesInAtThePtyBecomeRowsInTheFile()
    {
        FakeHost host;
        PtyPair pty;
        QVERIFY(pty.isValid());
        host.settings.insert(QStringLiteral("Ports/COM7"), pty.slavePath());

        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("run.mdb"));
        QString error;
        QVERIFY2(CreateDataFile(file, 8, &error), qPrintable(error));

        // The station as the program wires it: the meter's source on the serial port.
        RecordingStation station;
        auto* meter = new MeterSource(SerialLink::Recovery::AskUser);
        station.AddSource(meter);
        QVERIFY2(station.Bind(file, &error), qPrintable(error));
        SerialControl& port = meter->Port();
        const SerialLink& link = meter->Link();
        const FrameReceiver& receiver = meter->Receiver();

        meter->Start();
        QVERIFY2(port.PortOpen(), qPrintable(port.ErrorDescription()));
        QVERIFY(host.shown.isEmpty());

        // Readings split over several writes, with noise in between.
        QByteArray stream = QByteArray("\x55\x13", 2);
        stream += meterframe::EncodeSingleFrame(1, 1, 2, 21.456);
        stream += meterframe::EncodeSingleFrame(2, 4, 3, -1.234);
        const QByteArray tail = meterframe::EncodeSingleFrame(8, 4, 0, 230);
        stream += tail.left(7);
        QVERIFY(pty.write(stream));
        QTRY_COMPARE(Shared.ChanDecimals[2], int16_t(3));
        QVERIFY(pty.write(tail.mid(7)));
        QTRY_COMPARE(Shared.ChanValue[8], 230.0);
        // Channels 3 to 7 never come: rows wait for them 3 s from the first frame, while the
        // meter keeps sending, then record them as the invalid-reading marker.
        host.tick += 2900;
        const quint64 cut = receiver.FramesCut;
        QVERIFY(pty.write(stream + tail.mid(7)));
        QTRY_COMPARE(receiver.FramesCut, cut + 3);

        // Scans are due every 2 s on the injected clock; the link is alive on the injected tick.
        const QDateTime start = host.clock;
        for (int i = 0; i <= 10; ++i) { // 2 s in 200 ms ticks
            host.clock = start.addMSecs(200 * i);
            host.tick = link.LastRxTick + 200;
            station.ScanTick();
        }
        QCOMPARE(SqliteRowCount(file), 1);
        QCOMPARE(SqliteCli(file, QStringLiteral(
                                     "select date, time, \"chan 1\", \"unit 1\", \"chan 2\", \"unit 2\", "
                                     "\"chan 3\", \"unit 3\", \"chan 8\", \"unit 8\" from DataRecord")),
                 QStringList{QStringLiteral("2026-12-07|10:00:02|21.46|°C|-1.234|V|999999.0|    |230.0|V")});

        // The meter goes quiet: rows stop at the first silent tick.
        host.clock = start.addSecs(10);
        host.tick = link.LastRxTick + 15001;
        station.ScanTick();
        QCOMPARE(SqliteRowCount(file), 1);
        QVERIFY(!Shared.DataReceived);
    }
};

VARNIK_TEST_CLASS(TestRecordingPipeline)
#include "test_recording_pipeline.moc"
