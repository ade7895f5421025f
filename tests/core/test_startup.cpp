#include "core/config_files.h"
#include "core/startup.h"
#include "data_folder.h"
#include "test_registry.h"

#include "mainwindow/frmMain.h"
#include "datafile/data_file.h"
#include "fake_host.h"

#include <QLabel>
#include <QTest>

namespace {
QByteArray Shipped(const char* name)
{
    QFile file(QStringLiteral(VARNIK_SOURCE_DIR "/data/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A program folder with the shipped configuration, `file` edited by hand (from -> to).
void HandEdited(const DataFolder& folder, const char* file, const QByteArray& from, const QByteArray& to)
{
    for (const char* name : {"unit2.dat", "display.dat", "default.txt", "dispchan.dat"}) {
        QByteArray bytes = Shipped(name);
        if (qstrcmp(name, file) == 0) {
            const qsizetype at = bytes.indexOf(from);
            QVERIFY(at >= 0);
            bytes.replace(at, from.size(), to);
        }
        folder.write(name, bytes);
    }
}
} // namespace

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

    // Values the setup dialog would never store are put right as it would, and the main window's
    // status bar says so.
    void handEditedValuesAreFitted_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("to");
        QTest::addColumn<QString>("note");
        QTest::newRow("scan rate 0") << QByteArray("default.txt") << QByteArray("Rate\",5")
                                     << QByteArray("Rate\",0") << "Scan rate 0 in default.txt taken as 1 s.";
        QTest::newRow("scan rate too large for 16 bits")
            << QByteArray("default.txt") << QByteArray("Rate\",5") << QByteArray("Rate\",50000")
            << "Scan rate 50000";
        QTest::newRow("text display type 7") << QByteArray("default.txt") << QByteArray("type\",0")
                                             << QByteArray("type\",7") << "Text display type 7";
        QTest::newRow("angular display type -1")
            << QByteArray("default.txt") << QByteArray("Display Channel\",0")
            << QByteArray("Display Channel\",-1") << "Angular display type -1";
        QTest::newRow("chart channel 17")
            << QByteArray("default.txt") << QByteArray("Chart Display Channel\",1")
            << QByteArray("Chart Display Channel\",17") << "Chart channel 17";
        QTest::newRow("channel choices 0 and 40000")
            << QByteArray("dispchan.dat") << QByteArray("1\r\n1\r\n2\r\n")
            << QByteArray("0\r\n1\r\n40000\r\n") << "Channels 0, 40000 in dispchan.dat taken as 1.";
    }
    void handEditedValuesAreFitted()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        QFETCH(QString, note);
        DataFolder folder;
        HandEdited(folder, file.constData(), from, to);
        QString error;
        QVERIFY2(StartupEngine(folder.path() + "/Datalogger", &error), qPrintable(error));
        QCOMPARE(ConfigurationNotes().size(), 1);
        QVERIFY2(ConfigurationNotes().first().startsWith(note), qPrintable(ConfigurationNotes().first()));
        QCOMPARE(Shared.ScanRate, from.contains("Rate") ? 1 : 5);
        QCOMPARE(Shared.TextDisplayType, 0);
        QCOMPARE(Shared.AngularDisplayType, 0);
        QCOMPARE(Shared.ChartDisplayChannel, 1);
        QCOMPARE(Shared.TextChan1, 1);
        QCOMPARE(Shared.TextChan2[1], file == "dispchan.dat" ? 1 : 2);

        FakeHost host;
        frmMain main;
        QVERIFY(main.findChild<QLabel*>("Panel1")->text().contains(ConfigurationNotes().first()));
    }

    void dataFileNameWithAFolderIsRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("parent folder") << "../outside.mdb";
        QTest::newRow("absolute path") << "%1/abs.mdb";
        QTest::newRow("backslash") << "sub\\x.mdb";
    }
    void dataFileNameWithAFolderIsRefused()
    {
        QFETCH(QString, name);
        DataFolder folder;
        QTemporaryDir elsewhere;
        name = name.arg(elsewhere.path());
        HandEdited(folder, "default.txt", "Data1.mdb", name.toLatin1());
        QString error;
        QVERIFY2(StartupEngine(folder.path() + "/Datalogger", &error), qPrintable(error));
        QCOMPARE(Shared.DataFileName, name);

        FakeHost host;
        frmMain main;
        QCOMPARE(host.shown.size(), 1);
        QVERIFY2(host.shown.first().text.contains("\"" + name + "\""), qPrintable(host.shown.first().text));
        QVERIFY(!main.Data1->IsBound());
        QCOMPARE(main.findChild<QLabel*>("Panel1")->text(),
                 QStringLiteral("Recording off: no usable data file."));
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList{});
        QCOMPARE(QDir(folder.path() + "/data").entryList(QDir::Files).size(), 4);
        QCOMPARE(QDir(elsewhere.path()).entryList(QDir::Files), QStringList{});
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
