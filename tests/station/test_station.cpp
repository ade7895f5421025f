// A recording station fed by fake sources: freshness judged per source, rows that keep one
// source's channels while another falls silent, the events of each source's gap, the status
// snapshot holding the value the row records, and the sinks (a real mosquitto) fed by the station
// itself and stopped with the link.
#include "../publish/mqtt_broker.h"
#include "core/shared_state.h"
#include "datafile/data_file.h"
#include "datafile/event_log.h"
#include "fake_host.h"
#include "sqlite_cli.h"
#include "station/reading_source.h"
#include "station/recording_station.h"
#include "test_registry.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A source whose readings the test hands in: channel n of the station gets `value` (1 decimal, V).
class FakeSource : public ReadingSource {
  public:
    FakeSource(QString name, int first, int count) : m_name(std::move(name)), m_count(count) { FirstChannel = first; }
    QString Name() const override { return m_name; }
    int ChannelCount() const override { return m_count; }
    void Start() override { ++starts; }
    void Stop() override { ++stops; }
    void Check() override
    {
        ++checks;
        if (portGone) // as the instrument's link does in every check while its port is gone
            Shared.DataReceived = false;
    }

    void Send(double value)
    {
        QList<int> channels;
        for (int n = FirstChannel; n < FirstChannel + m_count; ++n) {
            Shared.ChanValue[n] = value + n / 100.0;
            channels << n;
        }
        hooks.Readings(channels.data(), int(channels.size()));
    }
    void Down(const QString& why) { hooks.LinkChanged(false, why); }
    // A meter that says its mode (as the libsigrok source does) on its first channel.
    void Mode(const QString& quantity, const QStringList& flags, bool reading)
    {
        Shared.ChanMode[FirstChannel] = {quantity, flags};
        if (!reading)
            hooks.ModeChanged(FirstChannel);
    }

    int starts = 0, stops = 0, checks = 0;
    bool portGone = false;

  private:
    QString m_name;
    int m_count;
};

} // namespace

class TestStation : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeHost> m_host;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<RecordingStation> m_station;
    QString m_path;
    QList<LoggedEvent> m_events;

    void Start(int channels)
    {
        Shared = SharedState{};
        for (int d = 0; d <= 3; ++d)
            Shared.DecimalFormat[d] = QStringLiteral("###0") + (d ? QStringLiteral(".") + QString(d, '0') : QString());
        Shared.UnitName[1] = QStringLiteral("V");
        Shared.ScanRate = 1;
        for (int n = 1; n <= MaxChannel; ++n) {
            Shared.ChanDecimals[n] = 1;
            Shared.ChanUnit[n] = 1;
        }
        // One host at a time: the one going would unset the new one.
        m_station.reset();
        m_host.reset();
        m_host = std::make_unique<FakeHost>();
        m_dir = std::make_unique<QTemporaryDir>();
        m_path = m_dir->filePath(QStringLiteral("station.mdb"));
        QVERIFY(CreateDataFile(m_path, channels));
        m_station = std::make_unique<RecordingStation>();
        QVERIFY(m_station->Bind(m_path));
        m_events.clear();
        connect(m_station.get(), &RecordingStation::EventLogged, this, [this](const LoggedEvent& e) { m_events << e; });
    }

    // 200 ms of the station's life: clock and tick move on, the given sources send, one scan tick.
    ScanCycle::Tick Step(std::initializer_list<FakeSource*> sending, double value = 1)
    {
        m_host->clock = m_host->clock.addMSecs(200);
        m_host->tick += 200;
        for (FakeSource* source : sending)
            source->Send(value);
        return m_station->ScanTick();
    }

    QStringList Kinds() const
    {
        QStringList kinds;
        for (const LoggedEvent& e : m_events)
            kinds << e.kind;
        return kinds;
    }

  private slots:
    // Two sources, one goes silent: its channels are recorded as the invalid marker and its gap is
    // logged with its name, while the other's channels go on; it comes back and its gap ends.
    void eachSourceHasItsOwnFreshness()
    {
        Start(8);
        auto* a = new FakeSource(QStringLiteral("meter A"), 1, 4);
        auto* b = new FakeSource(QStringLiteral("meter B"), 5, 4);
        QCOMPARE(m_station->AddSource(a), 0);
        QCOMPARE(m_station->AddSource(b), 1);
        m_station->StartSources();
        QCOMPARE(a->starts + b->starts, 2);
        for (int i = 0; i < 10; ++i)
            Step({a, b});
        QCOMPARE(a->checks, 10); // the watchdog runs in every tick
        QVERIFY(SqliteRowCount(m_path) >= 1);
        QCOMPARE(SqliteCli(m_path, QStringLiteral("select \"chan 5\", trim(\"unit 5\") from DataRecord limit 1")),
                 QStringList{QStringLiteral("1.1|V")});

        // B silent: 3 s later its channels are no longer current, A's are.
        const int before = SqliteRowCount(m_path);
        for (int i = 0; i < 25; ++i)
            Step({a});
        QVERIFY(!Shared.Freshness.Current(5));
        QVERIFY(Shared.Freshness.Current(1));
        QVERIFY(SqliteRowCount(m_path) > before);
        QCOMPARE(SqliteCli(m_path, QStringLiteral("select \"chan 1\", \"chan 5\", \"unit 5\" from DataRecord "
                                                  "order by rowid desc limit 1")),
                 QStringList{QStringLiteral("1.0|999999.0|    ")});
        QCOMPARE(Kinds().count(EventKind::LinkLost), 1);
        const LoggedEvent lost = m_events[Kinds().indexOf(EventKind::LinkLost)];
        QVERIFY2(lost.text.contains(QStringLiteral("meter B")), qPrintable(lost.text));
        const StationStatus status = m_station->Status();
        QVERIFY(status.linkUp);
        QCOMPARE(status.sources.size(), 2);
        QVERIFY(status.sources[0].linkUp);
        QVERIFY(!status.sources[1].linkUp);
        QVERIFY(status.channels[0].current);
        QVERIFY(!status.channels[4].current);

        // B returns: its gap ends at its first new reading.
        Step({a, b});
        QCOMPARE(Kinds().count(EventKind::LinkRestored), 1);
        QCOMPARE(m_events[Kinds().indexOf(EventKind::LinkRestored)].text, QStringLiteral("frames arriving again from meter B"));
        QVERIFY(Shared.Freshness.Current(5));

        // Both silent: past the freshness limit rows stop and the link as a whole is down.
        for (int i = 0; i < 16; ++i)
            Step({});
        const int rows = SqliteRowCount(m_path);
        for (int i = 0; i < 15; ++i)
            Step({});
        QCOMPARE(SqliteRowCount(m_path), rows);
        QVERIFY(!m_station->Status().linkUp);
        QCOMPARE(Kinds().count(EventKind::LinkLost), 3);
    }

    // One source's port gone and back, in a file with channels no source fills: the other
    // source's rows go on throughout, and do not wait again when the first comes back.
    void rowsGoOnAroundOneSourcesGap()
    {
        Start(8);
        auto* a = new FakeSource(QStringLiteral("sigrok:demo"), 1, 2);
        auto* b = new FakeSource(QStringLiteral("the meter"), 3, 2);
        m_station->AddSource(a);
        m_station->AddSource(b);
        for (int i = 0; i < 20; ++i)
            Step({a, b});
        const int before = SqliteRowCount(m_path);
        QVERIFY(before >= 1);

        b->Down(QStringLiteral("the port was lost: gone"));
        b->portGone = true;
        for (int i = 0; i < 15; ++i)
            Step({a});
        const int during = SqliteRowCount(m_path);
        QCOMPARE(during - before, 3);

        b->portGone = false;
        for (int i = 0; i < 10; ++i)
            Step({a, b});
        QCOMPARE(SqliteRowCount(m_path) - during, 2);
    }

    // A source that reports its own link down (a port lost) opens a gap at once.
    void aSourcesOwnWordOpensAGap()
    {
        Start(8);
        auto* a = new FakeSource(QStringLiteral("the meter"), 1, 2);
        m_station->AddSource(a);
        Step({a});
        a->Down(QStringLiteral("the port was lost: gone"));
        QVERIFY(m_station->Events().InGap());
        QCOMPARE(Kinds().count(EventKind::LinkLost), 1);
        QCOMPARE(m_events.last().text, QStringLiteral("the port was lost: gone"));
        // Its readings stop being current at once, on every surface, not 3 s after its last frame.
        QVERIFY(!Shared.Freshness.Current(1));
        QVERIFY(!m_station->Status().linkUp);
        QVERIFY(!m_station->Status().channels.at(0).current);
    }

    // The status snapshot shows the value the row records: rounded to the meter's decimals, with
    // the unit the user typed, whatever the display's own decimals.
    void statusHoldsTheRecordedValue()
    {
        Start(8);
        auto* a = new FakeSource(QStringLiteral("the meter"), 1, 8);
        m_station->AddSource(a);
        DispSetupRecord& setup = Shared.DispSetup[4];
        setup.UnitAutoSense = false;
        setup.ManualUnit = QStringLiteral("mA        ");
        setup.Decimals = 0;
        Shared.ChanDecimals[4] = 3;
        for (int i = 0; i < 10; ++i) {
            Step({a});
            Shared.ChanValue[4] = 5.58237;
        }
        m_station->SaveNow();
        const QStringList row =
            SqliteCli(m_path, QStringLiteral("select \"chan 4\", trim(\"unit 4\") from DataRecord order by rowid desc limit 1"));
        QCOMPARE(row, QStringList{QStringLiteral("5.582|mA")});
        const ChannelStatus c = m_station->Status().channels.at(3);
        QCOMPARE(c.value, std::optional<double>(5.582));
        QCOMPARE(c.decimals, 3);
        QCOMPARE(c.unit, QStringLiteral("mA"));
        QVERIFY(c.current);
    }

    // A station that did not run for 12 s (stopped, a hung disk) says which rows it missed and
    // why, so a chart breaks its line there; a scan timer stopped on purpose misses nothing.
    void aStallIsLoggedAsMissedRows()
    {
        Start(8);
        auto* a = new FakeSource(QStringLiteral("the meter"), 1, 8);
        m_station->AddSource(a);
        m_station->ScanTimer()->start();
        for (int i = 0; i < 10; ++i)
            Step({a});
        m_host->clock = m_host->clock.addSecs(12);
        m_host->tick += 12000;
        Step({a}); // the frames the meter sent meanwhile wait in the port
        Step({a});
        QCOMPARE(Kinds().count(EventKind::RowsMissed), 1);
        const LoggedEvent missed = m_events[Kinds().indexOf(EventKind::RowsMissed)];
        QCOMPARE(missed.value, std::optional<double>(11));
        QVERIFY2(missed.text.contains(QStringLiteral("the recorder was not running")), qPrintable(missed.text));
        const auto span = MissedSpan(missed);
        QVERIFY(span);
        QCOMPARE(span->second.toSecsSinceEpoch() - span->first.toSecsSinceEpoch(), qint64(10));

        m_station->ScanTimer()->stop();
        for (int i = 0; i < 30; ++i) { // the station's own second timer goes on
            m_host->clock = m_host->clock.addSecs(1);
            m_host->tick += 1000;
            m_station->CheckAlive();
        }
        m_station->ScanTimer()->start();
        for (int i = 0; i < 10; ++i)
            Step({a});
        QCOMPARE(Kinds().count(EventKind::RowsMissed), 1);
    }

    // The station feeds the publisher itself: readings, rows and events reach the broker, and the
    // link topic says "down" in the tick that finds no reading current.
    void sinksAreFedByTheStation()
    {
        MqttBroker broker;
        QVERIFY2(broker.IsRunning(), qPrintable(broker.Log()));
        Subscriber sub(broker);
        Start(8);
        auto* a = new FakeSource(QStringLiteral("the meter"), 1, 8);
        m_station->AddSource(a);
        // A file with rows of an earlier run: rows are numbered by their place in it.
        for (int i = 0; i < 3; ++i)
            SqliteCli(m_path, "INSERT INTO DataRecord (date, time) VALUES ('2026-12-06', '10:00:00')");
        QVERIFY(m_station->Bind(m_path));
        QVERIFY(m_station->PublishTo({broker.Url(), {}, QStringLiteral("st"), false}));
        QTRY_COMPARE_WITH_TIMEOUT(m_station->Publishing().Status().state, PublishStatus::State::Connected, 20000);
        for (int i = 0; i < 10; ++i)
            Step({a}, 2.0);
        const QJsonObject reading = QJsonDocument::fromJson(sub.WaitFor("test/st/channel/1").value(0).toUtf8()).object();
        QCOMPARE(reading.value("value").toDouble(), 2.0);
        const QJsonObject row = QJsonDocument::fromJson(sub.WaitFor("test/st/row").value(0).toUtf8()).object();
        QCOMPARE(row.value("data_file").toString(), QStringLiteral("station.mdb"));
        QCOMPARE(row.value("row").toInt(), 4);
        QCOMPARE(sub.WaitFor("test/st/event").size(), 1); // start
        QCOMPARE(sub.WaitFor("test/st/link", 2).value(1), QStringLiteral("up"));

        m_host->tick += ReadingFreshness::StaleAfterMs + 1;
        m_station->ScanTick();
        QVERIFY(!m_station->Publishing().LinkUp());
        QCOMPARE(sub.WaitFor("test/st/link", 3).value(2), QStringLiteral("down"));
        QVERIFY(!m_station->Status().channels.at(0).current);
    }

    // The meter's mode reaches the snapshot and MQTT: the reading's quantity and flags, HOLD
    // published without a new reading, and a change of function announced to Home Assistant
    // again with the new unit and class. The instrument's channels say none.
    void modeReachesTheSnapshotAndMqtt()
    {
        MqttBroker broker;
        QVERIFY2(broker.IsRunning(), qPrintable(broker.Log()));
        Subscriber sub(broker);
        Start(8);
        Shared.UnitName[2] = QStringLiteral("Ohm");
        Shared.UnitName[3] = QStringLiteral("VDC");
        Shared.ChanUnit[1] = 3;
        auto* meter = new FakeSource(QStringLiteral("sigrok:demo"), 1, 1);
        auto* instrument = new FakeSource(QStringLiteral("the meter"), 2, 1);
        m_station->AddSource(meter);
        m_station->AddSource(instrument);
        QVERIFY(m_station->PublishTo({broker.Url(), {}, QStringLiteral("st"), true}));
        QTRY_COMPARE_WITH_TIMEOUT(m_station->Publishing().Status().state, PublishStatus::State::Connected, 20000);
        meter->Mode(QStringLiteral("voltage"), {"dc", "auto"}, true);
        Step({meter, instrument});
        const ChannelStatus c = m_station->Status().channels.at(0);
        QCOMPARE(c.quantity, QStringLiteral("voltage"));
        QCOMPARE(c.flags, (QStringList{"dc", "auto"}));
        QVERIFY(m_station->Status().channels.at(1).quantity.isEmpty() && m_station->Status().channels.at(1).flags.isEmpty());
        const auto json = [](const QString& text) { return QJsonDocument::fromJson(text.toUtf8()).object(); };
        const QJsonObject first = json(sub.WaitFor("test/st/channel/1").value(0));
        QCOMPARE(first.value("quantity").toString(), QStringLiteral("voltage"));
        QCOMPARE(first.value("flags").toVariant().toStringList(), (QStringList{"dc", "auto"}));
        QVERIFY(!json(sub.WaitFor("test/st/channel/2").value(0)).contains("quantity"));
        const QString config = QStringLiteral("homeassistant/sensor/varnik_st/ch1/config");
        QCOMPARE(json(sub.WaitFor(config).value(0)).value("device_class").toString(), QStringLiteral("voltage"));
        QCOMPARE(json(sub.WaitFor(config).value(0)).value("unit_of_measurement").toString(), QStringLiteral("V"));

        // HOLD: no reading, the last one said again with its own time and the mode now.
        meter->Mode(QStringLiteral("voltage"), {"dc", "hold", "auto"}, false);
        const QJsonObject held = json(sub.WaitFor("test/st/channel/1", 2).value(1));
        QCOMPARE(held.value("flags").toVariant().toStringList(), (QStringList{"dc", "hold", "auto"}));
        QCOMPARE(held.value("time"), first.value("time"));
        QCOMPARE(held.value("value"), first.value("value"));
        QCOMPARE(m_station->Status().channels.at(0).flags, (QStringList{"dc", "hold", "auto"}));

        // Another range (more decimals, the same unit): no new announcement for a meter that
        // auto-ranges all day.
        meter->Mode(QStringLiteral("voltage"), {"dc", "auto"}, true);
        Shared.ChanDecimals[1] = int16_t(Shared.ChanDecimals[1] + 2);
        Step({meter, instrument});
        QCOMPARE(sub.WaitFor("test/st/channel/1", 3).size(), 3);
        QCOMPARE(sub.WaitFor(config, 2, {}, 500).size(), 1);

        // V to Ohm: announced again, without a class Home Assistant has none for.
        meter->Mode(QStringLiteral("resistance"), {"auto"}, true);
        Shared.ChanUnit[1] = 2;
        Step({meter, instrument});
        const QStringList configs = sub.WaitFor(config, 2);
        QCOMPARE(configs.size(), 2);
        QCOMPARE(json(configs[1]).value("unit_of_measurement").toString(), QStringLiteral("Ohm"));
        QVERIFY(!json(configs[1]).contains("device_class"));
        QCOMPARE(json(sub.WaitFor("test/st/channel/1", 4).value(3)).value("quantity").toString(),
                 QStringLiteral("resistance"));

        // The meter falls silent while the instrument goes on: its channel says so itself (the
        // link stays up), with its last reading; the instrument's channel does not.
        for (int i = 0; i < 20; ++i)
            Step({instrument});
        const QJsonObject stale = json(sub.WaitFor("test/st/channel/1", 5).value(4));
        QCOMPARE(stale.value("current"), QJsonValue(false));
        QCOMPARE(stale.value("quantity").toString(), QStringLiteral("resistance"));
        QVERIFY(sub.Lines().filter(QRegularExpression("channel/2 .*current")).isEmpty());
    }
};

VARNIK_TEST_CLASS(TestStation)
#include "test_station.moc"
