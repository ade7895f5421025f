#include "core/config_files.h"
#include "data_folder.h"
#include "test_registry.h"

#include <QDataStream>
#include <QDirIterator>
#include <QRandomGenerator>
#include <QTest>
#include <csignal>
#include <cstring>
#include <limits>
#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

namespace {

const QByteArray DefaultsText = "\"Comm. Port \",3\r\n"
                                "\"Data File Name\",\"Mess\xB0"
                                "1.mdb\"\r\n"
                                "\"System Scan Rate\",10\r\n"
                                "\"Max Record data\",100000\r\n"
                                "\"Text Display type\",2\r\n"
                                "\"Angular Display Channel\",1\r\n"
                                "\"Chart Display Channel\",7\r\n"
                                "\"Format 01 and Special Meter\",1\r\n";

QByteArray Lines(const QList<int>& numbers)
{
    QByteArray text;
    for (int n : numbers)
        text += QByteArray::number(n) + "\r\n";
    return text;
}

const QList<int> ChannelNumbers = {5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 1, 2, 3, 4, 5, 6, 7, 8};

// One display.dat record built field by field, independently of the code under test.
QByteArray DisplayRecord(double base, qint16 autoSense, const QByteArray& unit, char reservedFill = 0)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.setFloatingPointPrecision(QDataStream::DoublePrecision);
    out << base << base + 100 << 10.0 << 2.5 << 20.0;
    for (int i = 0; i < 16; ++i)
        out << qint8(reservedFill ? reservedFill + i : 0);
    out << qint16(base) << base + 90 << base + 10 << 0.5 << autoSense;
    out.writeRawData(unit.constData(), 10);
    return bytes;
}

// Messages show paths with the platform's separators.
QString Shown(const QString& file)
{
    return QDir::toNativeSeparators(DataPath(file));
}

bool FailsNamingFile(bool (*operation)(QString*), const QString& file, QString* error)
{
    return !operation(error) && error->contains(Shown(file));
}

} // namespace

class TestConfigFiles : public QObject {
    Q_OBJECT
  private slots:
    void defaultsRoundTrip()
    {
        DataFolder folder;
        folder.write("default.txt", DefaultsText);
        Shared.SecondDisplay = true;
        QString error;
        QVERIFY2(LoadDefaults(&error), qPrintable(error));
        QCOMPARE(Shared.ComPort, 3);
        QCOMPARE(Shared.DataFileName, QStringLiteral("Mess°1.mdb"));
        QCOMPARE(Shared.ScanRate, 10);
        QCOMPARE(Shared.MaxRecords, 100000);
        QCOMPARE(Shared.TextDisplayType, 2);
        QCOMPARE(Shared.AngularDisplayType, 1);
        QCOMPARE(Shared.ChartDisplayChannel, 7);
        QVERIFY(Shared.Format01);
        QVERIFY(!Shared.SecondDisplay);

        folder.write("default.txt", "stale");
        QVERIFY2(SaveDefaults(&error), qPrintable(error));
        QCOMPARE(folder.read("default.txt"), DefaultsText);
    }

    void defaultsFormat01OnlyForOne_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("format01");
        QTest::newRow("1") << QByteArray("1") << true;
        QTest::newRow("0") << QByteArray("0") << false;
        QTest::newRow("2") << QByteArray("2") << false;
        QTest::newRow("-1") << QByteArray("-1") << false;
    }
    void defaultsFormat01OnlyForOne()
    {
        QFETCH(QByteArray, value);
        QFETCH(bool, format01);
        DataFolder folder;
        QByteArray text = DefaultsText;
        text.replace("Meter\",1", "Meter\"," + value);
        folder.write("default.txt", text);
        Shared.Format01 = !format01;
        QString error;
        QVERIFY2(LoadDefaults(&error), qPrintable(error));
        QCOMPARE(Shared.Format01, format01);
    }

    void defaultsReadWhateverTheLineLayout()
    {
        DataFolder folder;
        folder.write("default.txt", "\"Comm. Port \", 2,\"Data File Name\"\r\nPlain.mdb,x,4\r\n\r\n"
                                    "y,  7.5  ,z,0,a,1,b,2,c,0");
        QString error;
        QVERIFY2(LoadDefaults(&error), qPrintable(error));
        QCOMPARE(Shared.ComPort, 2);
        QCOMPARE(Shared.DataFileName, QStringLiteral("Plain.mdb"));
        QCOMPARE(Shared.ScanRate, 4);
        QCOMPARE(Shared.MaxRecords, 8);
        QCOMPARE(Shared.ChartDisplayChannel, 2);
    }

    void displayChannelsRoundTrip()
    {
        DataFolder folder;
        const QByteArray text = Lines(ChannelNumbers);
        folder.write("dispchan.dat", text);
        Shared.TextChan4[4] = 99;
        QString error;
        QVERIFY2(LoadDisplayChannels(&error), qPrintable(error));
        QCOMPARE(Shared.TextChan1, 5);
        QCOMPARE(Shared.TextChan2, (std::array<int16_t, 2>{6, 7}));
        QCOMPARE(Shared.TextChan4, (std::array<int16_t, 8>{8, 9, 10, 11, 99, 0, 0, 0}));
        QCOMPARE(Shared.TextChan6, (std::array<int16_t, 8>{12, 13, 14, 15, 16, 1, 0, 0}));
        QCOMPARE(Shared.AngChan2, (std::array<int16_t, 3>{2, 3, 4}));
        QCOMPARE(Shared.AngChan4, (std::array<int16_t, 4>{5, 6, 7, 8}));

        folder.write("dispchan.dat", "");
        QVERIFY2(SaveDisplayChannels(&error), qPrintable(error));
        QCOMPARE(folder.read("dispchan.dat"), text);
    }

    void unitNames()
    {
        DataFolder folder;
        folder.write("unit2.dat", "0,\"\"\r\n1,\"\xB0"
                                  "C\"\r\n2,\"Twelve chars\"\r\n\"x\",\"\x80/kWh\"\r\n4,V\r\n");
        Shared.UnitName[7] = "left over";
        Shared.UnitCount = 8;
        QString error;
        QVERIFY2(LoadUnitNames(&error), qPrintable(error));
        QCOMPARE(Shared.UnitCount, 5);
        QCOMPARE(Shared.UnitName[0], QString());
        QCOMPARE(Shared.UnitName[1], QStringLiteral("°C"));
        QCOMPARE(Shared.UnitName[2], QStringLiteral("Twelve cha"));
        QCOMPARE(Shared.UnitName[3], QStringLiteral("€/kWh"));
        QCOMPARE(Shared.UnitName[4], QStringLiteral("V"));
        QCOMPARE(Shared.UnitName[7], QString());
    }

    void unitNamesBeyondTheTableAreIgnored()
    {
        DataFolder folder;
        QByteArray text;
        for (int k = 0; k < 305; ++k)
            text += QByteArray::number(k) + ",\"u" + QByteArray::number(k) + "\"\r\n";
        folder.write("unit2.dat", text + "odd field count");
        QString error;
        QVERIFY2(LoadUnitNames(&error), qPrintable(error));
        QCOMPARE(Shared.UnitCount, 301);
        QCOMPARE(Shared.UnitName[300], QStringLiteral("u300"));
    }

    void displaySetupRoundTripKeepsReservedBytesAndTail()
    {
        DataFolder folder;
        QByteArray file;
        for (int r = 1; r <= 8; ++r)
            file +=
                DisplayRecord(r, r % 2 ? -1 : 0, "unit" + QByteArray::number(r) + "\x80    ", char(r * 16));
        file += QByteArray("bytes beyond record 8");
        folder.write("display.dat", file);
        QString error;
        QVERIFY2(LoadDisplaySetup(&error), qPrintable(error));
        const DispSetupRecord& third = Shared.DispSetup[3];
        QCOMPARE(third.MinValue, 3.0);
        QCOMPARE(third.MaxValue, 103.0);
        QCOMPARE(third.SmallTickDelta, 2.5);
        QCOMPARE(third.Decimals, 3);
        QCOMPARE(third.HighWarning, 93.0);
        QCOMPARE(third.LowWarning, 13.0);
        QCOMPARE(third.Scale, 0.5);
        QVERIFY(third.UnitAutoSense);
        QVERIFY(!Shared.DispSetup[4].UnitAutoSense);
        QCOMPARE(third.ManualUnit, QStringLiteral("unit3€    "));
        QCOMPARE(third.Reserved[0], 48);
        QCOMPARE(Shared.DispSetup[9].Scale, 1.0);
        // A file from before the alarm block: the defaults.
        QCOMPARE(third.AlarmDeadband, -1.0);
        QCOMPARE(third.AlarmDelay, 1);

        Shared.DispSetup[3].AlarmDeadband = 0.25;
        Shared.DispSetup[8].AlarmDelay = 4;
        QVERIFY2(SaveDisplaySetup(&error), qPrintable(error));
        const qsizetype records = 8 * DisplayRecordSize;
        const QByteArray saved = folder.read("display.dat");
        QCOMPARE(saved.left(records), file.left(records));
        QCOMPARE(saved.mid(records, 8), QByteArray("VKALARM1"));
        QCOMPARE(saved.mid(records + AlarmBlockSize), file.mid(records));
        Shared = SharedState{};
        Shared.AppPath = folder.path();
        QVERIFY2(LoadDisplaySetup(&error), qPrintable(error));
        QCOMPARE(Shared.DispSetup[3].AlarmDeadband, 0.25);
        QCOMPARE(Shared.DispSetup[8].AlarmDelay, 4);
        QCOMPARE(Shared.DispSetup[8].AlarmDeadband, -1.0);
        QVERIFY2(SaveDisplaySetup(&error), qPrintable(error));
        QCOMPARE(folder.read("display.dat"), saved);
    }

    void displaySetupShortFileKeepsDefaults()
    {
        DataFolder folder;
        const QByteArray three = DisplayRecord(1, 0, "a         ") + DisplayRecord(2, 0, "b         ") +
                                 DisplayRecord(3, 0, "c         ");
        folder.write("display.dat", three + DisplayRecord(4, 0, "d         ").left(50));
        QString error;
        QVERIFY2(LoadDisplaySetup(&error), qPrintable(error));
        QCOMPARE(Shared.DispSetup[3].Scale, 0.5);
        for (int r = 4; r <= 8; ++r) {
            QCOMPARE(Shared.DispSetup[r].Scale, 1.0);
            QVERIFY(Shared.DispSetup[r].UnitAutoSense);
            QCOMPARE(Shared.DispSetup[r].MaxValue, 0.0);
        }
        QVERIFY2(SaveDisplaySetup(&error), qPrintable(error));
        const QByteArray saved = folder.read("display.dat");
        QCOMPARE(saved.size(), 8 * DisplayRecordSize + AlarmBlockSize);
        QCOMPARE(saved.left(3 * DisplayRecordSize), three);
    }

    // Records no setup page writes are used as read, but the status bar names their channels.
    void damagedDisplaySetupIsNoted_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("note");
        QByteArray records;
        for (int r = 1; r <= 8; ++r)
            records += DisplayRecord(r, 0, "V         ");
        QByteArray shipped;
        QFile installed(QStringLiteral(VARNIK_SOURCE_DIR "/data/display.dat"));
        QVERIFY(installed.open(QIODevice::ReadOnly));
        shipped = installed.readAll();
        QTest::newRow("shipped file") << shipped << QString();
        QTest::newRow("well-formed records") << records << QString();
        QByteArray nanScale = records;
        const double nan = std::numeric_limits<double>::quiet_NaN();
        std::memcpy(nanScale.data() + DisplayRecordSize + 74, &nan, sizeof nan);
        QTest::newRow("one scale not a number") << nanScale << "channel 2 in display.dat";
        QByteArray odd = records;
        odd[3 * DisplayRecordSize + 82] = 1; // unit flag 1: neither true (-1) nor false
        QTest::newRow("unit flag neither -1 nor 0") << odd << "channel 4 in display.dat";
        QByteArray random(8 * DisplayRecordSize, '\0');
        QRandomGenerator bytes(13);
        for (char& c : random)
            c = char(bytes.bounded(256));
        QTest::newRow("random bytes") << random << "channels 1, 2, 3, 4, 5, 6, 7, 8 in display.dat";
    }
    void damagedDisplaySetupIsNoted()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, note);
        DataFolder folder;
        folder.write("display.dat", file);
        folder.write("unit2.dat", "0,\"V\"\r\n");
        folder.write("default.txt", DefaultsText);
        folder.write("dispchan.dat", Lines(ChannelNumbers));
        QString error;
        QVERIFY2(LoadConfiguration(&error), qPrintable(error));
        const QStringList notes = ConfigurationNotes().filter(QStringLiteral("display.dat"));
        QCOMPARE(notes.size(), note.isEmpty() ? 0 : 1);
        if (!note.isEmpty())
            QVERIFY2(notes.first().contains(note), qPrintable(notes.first()));
    }

    void displaySetupMissingIsCreatedEmpty()
    {
        DataFolder folder;
        QString error;
        QVERIFY2(LoadDisplaySetup(&error), qPrintable(error));
        QCOMPARE(folder.read("display.dat"), QByteArray());
        QCOMPARE(Shared.DispSetup[1].Scale, 1.0);
    }

    void manualUnitIsBlankPadded()
    {
        DataFolder folder;
        Shared.DispSetup[2].ManualUnit = QStringLiteral("€/h");
        Shared.DispSetup[5].ManualUnit = QStringLiteral("much too long");
        QString error;
        QVERIFY2(SaveDisplaySetup(&error), qPrintable(error));
        const QByteArray saved = folder.read("display.dat");
        QCOMPARE(saved.mid(DisplayRecordSize + 84, 10), QByteArray("\x80/h       "));
        QCOMPARE(saved.mid(4 * DisplayRecordSize + 84, 10), QByteArray("much too l"));
        QCOMPARE(Shared.DispSetup[2].ManualUnit, QStringLiteral("€/h       "));
        QCOMPARE(Shared.DispSetup[1].ManualUnit, QStringLiteral("          "));
        QCOMPARE(saved.mid(82, 2), QByteArray("\xFF\xFF"));

        Shared.DispSetup[2].ManualUnit.clear();
        QVERIFY2(LoadDisplaySetup(&error), qPrintable(error));
        QCOMPARE(Shared.DispSetup[2].ManualUnit, QStringLiteral("€/h       "));
    }

    void missingFilesAreErrors()
    {
        DataFolder folder;
        QString error;
        QVERIFY(FailsNamingFile(LoadUnitNames, "unit2.dat", &error));
        QVERIFY(error.startsWith(QStringLiteral("File not found")));
        QVERIFY(FailsNamingFile(LoadDefaults, "default.txt", &error));
        QVERIFY(FailsNamingFile(LoadDisplayChannels, "dispchan.dat", &error));
    }

    void badFieldsNameFileAndLine_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("where");
        QByteArray defaults = DefaultsText;
        QTest::newRow("scan rate not a number")
            << "default.txt" << defaults.replace("Rate\",10", "Rate\",ten")
            << ", line 3: \"ten\" is not a number";
        defaults = DefaultsText;
        QTest::newRow("port out of range") << "default.txt" << defaults.replace("Port \",3", "Port \",40000")
                                           << ", line 1: 40000 is out of range";
        QTest::newRow("defaults cut short")
            << "default.txt" << DefaultsText.left(60) << ", line 3: unexpected end of file";
        QTest::newRow("channel not a number")
            << "dispchan.dat" << Lines(ChannelNumbers).replace("13\r\n", "1 3\r\n")
            << ", line 9: \"1 3\" is not a number";
        QTest::newRow("19 channels") << "dispchan.dat" << Lines(ChannelNumbers.mid(1))
                                     << ", line 20: unexpected end of file";
        defaults = DefaultsText;
        // Read without complaint once, it could never be saved again.
        QTest::newRow("quote in the data file name")
            << "default.txt" << defaults.replace("\"Mess\xB0" "1.mdb\"", "Me\"ss.mdb")
            << ", line 2: the data file name Me\"ss.mdb holds a double quote";
        // Not cut to "Da" (and a file Da created without .mdb).
        for (const char* name : {"\"Da\"ta1.mdb\"", "\"Da\"\"ta1.mdb\""}) {
            defaults = DefaultsText;
            QTest::newRow(name) << "default.txt" << defaults.replace("\"Mess\xB0" "1.mdb\"", name)
                                << QStringLiteral(", line 2: the data file name %1 holds a double quote").arg(name);
        }
        QTest::newRow("unit without name")
            << "unit2.dat" << QByteArray("0,\"\"\r\n1") << ", line 2: unexpected end of file";
    }
    void badFieldsNameFileAndLine()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, text);
        QFETCH(QString, where);
        DataFolder folder;
        folder.write(file, text);
        Shared.ScanRate = 77;
        Shared.TextChan1 = 77;
        Shared.UnitCount = 77;
        const auto load = file == "default.txt"    ? LoadDefaults
                          : file == "dispchan.dat" ? LoadDisplayChannels
                                                   : LoadUnitNames;
        QString error;
        QVERIFY(!load(&error));
        QVERIFY2(error.startsWith(Shown(file) + where), qPrintable(error));
        QCOMPARE(Shared.ScanRate, 77);
        QCOMPARE(Shared.TextChan1, 77);
        QCOMPARE(Shared.UnitCount, 77);
    }

    void configurationLoadsInOrder()
    {
        DataFolder folder;
        folder.write("unit2.dat", "0,\"\"\r\n");
        QString error;
        QVERIFY(!LoadConfiguration(&error));
        // display.dat comes before default.txt: it was created before the missing default.txt stopped the
        // load.
        QVERIFY(QFile::exists(DataPath("display.dat")));
        QVERIFY(error.contains(Shown("default.txt")));
        folder.write("default.txt", DefaultsText);
        folder.write("dispchan.dat", Lines(ChannelNumbers));
        QVERIFY2(LoadConfiguration(&error), qPrintable(error));
        QCOMPARE(Shared.ChartDisplayChannel, 7);
        QCOMPARE(Shared.AngChan4[3], 8);
    }

    void saveRefusesTextTheFileCannotHold()
    {
        DataFolder folder;
        folder.write("default.txt", DefaultsText);
        Shared.DataFileName = QStringLiteral("a\"b.mdb");
        QString error;
        QVERIFY(FailsNamingFile(SaveDefaults, "default.txt", &error));
        Shared.DataFileName = QStringLiteral("\u6578\u64DA.mdb");
        QVERIFY(FailsNamingFile(SaveDefaults, "default.txt", &error));
        Shared.DispSetup[1].ManualUnit = QStringLiteral("k\u03A9");
        QVERIFY(FailsNamingFile(SaveDisplaySetup, "display.dat", &error));
        QCOMPARE(folder.read("default.txt"), DefaultsText);
        QVERIFY(!QFile::exists(DataPath("display.dat")));
    }

    void saveIntoUnwritablePlaceFails()
    {
        DataFolder folder;
        QDir(folder.path()).rmdir("data");
        QFile blocker(folder.path() + "/data");
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QString error;
        QVERIFY(FailsNamingFile(SaveDefaults, "default.txt", &error));
        QVERIFY(FailsNamingFile(SaveDisplayChannels, "dispchan.dat", &error));
        QVERIFY(FailsNamingFile(SaveDisplaySetup, "display.dat", &error));
        QVERIFY(FailsNamingFile(LoadDisplaySetup, "display.dat", &error));
    }

    void diskFullWriteLeavesOldFileIntact()
    {
#ifndef Q_OS_UNIX
        QSKIP("needs a file-size limit");
#else
        DataFolder folder;
        const QByteArray old = Lines(ChannelNumbers);
        folder.write("dispchan.dat", old);
        Shared.TextChan1 = 3;
        // A file-size limit makes the write fail part-way, as a full disk would, even for root.
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit tight = saved;
        tight.rlim_cur = 10;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tight), 0);
        QString error;
        const bool savedOk = SaveDisplayChannels(&error);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);

        QVERIFY(!savedOk);
        QVERIFY(error.contains(Shown("dispchan.dat")));
        QCOMPARE(folder.read("dispchan.dat"), old);
        QCOMPARE(QDir(folder.path() + "/data").entryList(QDir::Files), QStringList{"dispchan.dat"});
#endif
    }
};

VARNIK_TEST_CLASS(TestConfigFiles)
#include "test_config_files.moc"
