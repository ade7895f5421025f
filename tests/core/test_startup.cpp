#include "core/config_files.h"
#include "core/startup.h"
#include "data_folder.h"
#include "test_registry.h"

#include <QTest>

class TestStartup : public QObject {
    Q_OBJECT
  private slots:
    void identityByName_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("generic");
        QTest::newRow("branded") << "/opt/x/Varnik350" << false;
        QTest::newRow("branded with extension") << "C:/x/Varnik350.exe" << false;
        QTest::newRow("other letter case") << "/opt/x/varnik350" << true;
        QTest::newRow("generic") << "/opt/x/Datalogger" << true;
        QTest::newRow("longer name") << "/opt/x/Varnik3500" << true;
    }
    void identityByName()
    {
        QFETCH(QString, path);
        QFETCH(bool, generic);
        Shared = SharedState{};
        SetIdentity(path);
        QCOMPARE(Shared.GenericIdentity, generic);
        QCOMPARE(Shared.ExeTitle, generic ? "Datalogger.exe" : "Varnik350.exe");
        QCOMPARE(Shared.VersionText, generic ? "Version : 090725N" : "Version : 100401");
        QCOMPARE(Shared.ProductText, QStringLiteral("Data Acquisition Software "));
    }

    void startupSetsInitialValuesAndLoadsShippedData()
    {
        DataFolder folder;
        for (const char* name : {"unit2.dat", "display.dat", "default.txt", "dispchan.dat"})
            QVERIFY(QFile::copy(QStringLiteral(VARNIK_SOURCE_DIR "/data/") + name, DataPath(name)));
        Shared.AppPath.clear();
        Shared.MaxRecords = 1;
        Shared.AlarmSound = false;
        Shared.Paused = true;
        Shared.CurrentScale = 3;
        Shared.ChartShown = true;
        Shared.DataReceived = true;
        Shared.ChartValue = 5;
        QString error;
        QVERIFY2(StartupEngine(folder.path() + "/Varnik350", &error), qPrintable(error));
        QCOMPARE(Shared.AppPath, folder.path());
        QVERIFY(!Shared.GenericIdentity);
        QCOMPARE(Shared.MaxRecords, 65535);
        QVERIFY(Shared.AlarmSound);
        QVERIFY(!Shared.Paused);
        QCOMPARE(Shared.CurrentScale, 1.0);
        QVERIFY(!Shared.ChartShown);
        QVERIFY(!Shared.DataReceived);
        QCOMPARE(Shared.ChartValue, 0.0);
        QCOMPARE(Shared.DecimalFormat[0], QStringLiteral("###0"));
        QCOMPARE(Shared.DecimalFormat[3], QStringLiteral("###0.000"));
        QVERIFY(Shared.DecimalFormat[4].isEmpty());

        // The shipped files.
        QCOMPARE(Shared.UnitName[1], QStringLiteral("°C"));
        QCOMPARE(Shared.UnitName[8], QStringLiteral("Ohm"));
        QCOMPARE(Shared.UnitName[10], QStringLiteral("Hz"));
        QVERIFY(Shared.UnitCount > 30);
        QCOMPARE(Shared.ComPort, 1);
        QCOMPARE(Shared.DataFileName, QStringLiteral("Data1.mdb"));
        QCOMPARE(Shared.ScanRate, 5);
        QCOMPARE(Shared.ChartDisplayChannel, 1);
        QVERIFY(!Shared.Format01);
        QCOMPARE(Shared.TextChan6[5], 6);
        for (int r = 1; r <= DisplayRecordCount; ++r) {
            QCOMPARE(Shared.DispSetup[r].Scale, 1.0);
            QVERIFY(Shared.DispSetup[r].UnitAutoSense);
            QVERIFY(Shared.DispSetup[r].LowWarning < Shared.DispSetup[r].HighWarning);
        }
    }

    void startupStopsOnConfigurationError()
    {
        DataFolder folder;
        QString error;
        QVERIFY(!StartupEngine(folder.path() + "/Datalogger", &error));
        QVERIFY(error.contains(QDir::toNativeSeparators(DataPath("unit2.dat"))));
        QVERIFY(Shared.GenericIdentity);
    }
};

VARNIK_TEST_CLASS(TestStartup)
#include "test_startup.moc"
