// The main window's MQTT panel: hidden without a URL, the reason for an unusable one, and the
// connection as it comes and goes, with a row saved meanwhile delivered after the outage.
#include "mainwindow/frmMain.h"
#include "core/recorded_reading.h"
#include "core/shared_state.h"
#include "../acquisition/meter_frames.h"
#include "station/meter_source.h"
#include "station/recording_station.h"
#include "fake_host.h"
#include "mqtt_broker.h"
#include "test_registry.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

class TestPublishPanel : public QObject {
    Q_OBJECT

  private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("data")));
        Shared = SharedState{};
        Shared.AppPath = m_dir->path();
        Shared.DataFileName = QStringLiteral("Data1.mdb");
        Shared.MaxRecords = 100;
        m_host.settings.clear();
        HearAllChannels();
    }

    void panelFollowsTheSettings_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("panel");
        QTest::addColumn<QString>("tooltip");
        QTest::newRow("no broker") << "" << "" << "";
        QTest::newRow("not a broker URL") << "http://meter:pw@h" << "MQTT off: \"http://meter:****@h\" is no broker"
                                          << "\"http://meter:****@h\" is no broker URL";
        QTest::newRow("nothing listening") << "mqtt://127.0.0.1:1/x" << "MQTT down since" << "MQTT down since 20";
    }
    void panelFollowsTheSettings()
    {
        QFETCH(QString, url);
        QFETCH(QString, panel);
        QFETCH(QString, tooltip);
        m_host.settings.insert(QStringLiteral("MQTT/URL"), url);
        frmMain w;
        const auto* label = w.findChild<QLabel*>(QStringLiteral("lblMqtt"));
        QVERIFY(label);
        QCOMPARE(label->isHidden(), url.isEmpty());
        if (url.isEmpty())
            return;
        QTRY_VERIFY2_WITH_TIMEOUT(label->text().startsWith(panel), qPrintable(label->text()), 20000);
        QVERIFY2(label->toolTip().startsWith(tooltip), qPrintable(label->toolTip()));
        QVERIFY(!label->toolTip().contains(QStringLiteral("pw")));
    }

    void panelShowsAnOutageAndRowsCatchUp()
    {
        MqttBroker broker;
        QVERIFY2(broker.IsRunning(), qPrintable(broker.Log()));
        m_host.settings.insert(QStringLiteral("MQTT/URL"), broker.Url());
        m_host.settings.insert(QStringLiteral("MQTT/Station"), QStringLiteral("desk"));
        m_host.settings.insert(QStringLiteral("MQTT/Discovery"), QStringLiteral("0"));
        frmMain w;
        const auto* label = w.findChild<QLabel*>(QStringLiteral("lblMqtt"));
        QTRY_COMPARE_WITH_TIMEOUT(label->text(), QStringLiteral("MQTT connected"), 20000);

        broker.Stop();
        QTRY_VERIFY2_WITH_TIMEOUT(label->text().startsWith(QStringLiteral("MQTT down since")),
                                  qPrintable(label->text()), 20000);
        // The row, and the start event that recording logged into the data file before it.
        QVERIFY(w.savedata());
        QTRY_VERIFY2_WITH_TIMEOUT(label->text().endsWith(QStringLiteral(", 2 queued")), qPrintable(label->text()),
                                  20000);
        QVERIFY2(label->toolTip().contains(QStringLiteral("connect")) || label->toolTip().contains(QStringLiteral("lost")),
                 qPrintable(label->toolTip()));

        QVERIFY2(broker.Start(), qPrintable(broker.Log()));
        Subscriber sub(broker);
        const QJsonObject row = QJsonDocument::fromJson(sub.WaitFor("test/desk/row").value(0).toUtf8()).object();
        QCOMPARE(row.value("row").toInt(), 1);
        QCOMPARE(row.value("channels").toObject().size(), 8);
        const QJsonObject event = QJsonDocument::fromJson(sub.WaitFor("test/desk/event").value(0).toUtf8()).object();
        QCOMPARE(event.value("kind").toString(), QStringLiteral("start"));
        QTRY_COMPARE_WITH_TIMEOUT(label->text(), QStringLiteral("MQTT connected"), 20000);
        QVERIFY(sub.WaitFor("homeassistant/sensor/varnik_desk/ch1/config", 1, {}, 300).isEmpty());
    }

    // The program's own data path: a frame the meter sends reaches the broker as the channel's
    // reading, as its row records it, and the link topic says "up".
    void liveReadingsReachTheBroker()
    {
        MqttBroker broker;
        QVERIFY2(broker.IsRunning(), qPrintable(broker.Log()));
        Subscriber sub(broker);
        m_host.settings.insert(QStringLiteral("MQTT/URL"), broker.Url());
        m_host.settings.insert(QStringLiteral("MQTT/Station"), QStringLiteral("bench"));
        Shared.UnitName[1] = QStringLiteral("V");
        Shared.DecimalFormat[2] = QStringLiteral("###0.00");
        frmMain w;
        QTRY_COMPARE_WITH_TIMEOUT(w.Station().Publishing().Status().state, PublishStatus::State::Connected, 20000);
        auto& meter = static_cast<MeterSource&>(w.Station().Source(0));
        meter.Receiver().Receive(MeterFrame("43010200012345")); // channel 3: 123.45 V
        const QJsonObject reading =
            QJsonDocument::fromJson(sub.WaitFor("test/bench/channel/3").value(0).toUtf8()).object();
        RecordedReading recorded;
        QVERIFY(RecordedReadingOf(3, &recorded));
        QCOMPARE(reading.value("value").toDouble(), 123.45);
        QCOMPARE(reading.value("value").toDouble(), recorded.value);
        QCOMPARE(reading.value("unit").toString(), recorded.unit.trimmed());
        QCOMPARE(sub.WaitFor("test/bench/link", 2).value(1), QStringLiteral("up"));
    }

  private:
    FakeHost m_host;
    std::unique_ptr<QTemporaryDir> m_dir;
};

VARNIK_TEST_CLASS(TestPublishPanel)
#include "test_publish_panel.moc"
