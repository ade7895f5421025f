#include "app/program_options.h"
#include "core/shared_state.h"
#include "core/startup.h"
#include "test_registry.h"

#include <QTest>

class TestProgramOptions : public QObject {
    Q_OBJECT
  private slots:
    void parses_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("dataDir");
        QTest::addColumn<bool>("help");
        QTest::addColumn<bool>("version");
        QTest::addColumn<QString>("error"); // a part of the message; empty = no error
        QTest::newRow("none") << QStringList{} << "" << false << false << "";
        QTest::newRow("folder apart")
            << QStringList{"--data-dir", "/srv/lab"} << "/srv/lab" << false << false << "";
        QTest::newRow("folder joined")
            << QStringList{"--data-dir=my data"} << "my data" << false << false << "";
        QTest::newRow("version with folder")
            << QStringList{"--data-dir", "x", "--version"} << "x" << false << true << "";
        QTest::newRow("short help") << QStringList{"-h"} << "" << true << false << "";
        QTest::newRow("short version") << QStringList{"-v"} << "" << false << true << "";
        QTest::newRow("folder missing")
            << QStringList{"--data-dir"} << "" << false << false << "wants a folder";
        QTest::newRow("folder empty")
            << QStringList{"--data-dir="} << "" << false << false << "wants a folder";
        QTest::newRow("unknown option")
            << QStringList{"--datadir", "x"} << "" << false << false << "\"--datadir\"";
        QTest::newRow("stray argument")
            << QStringList{"Data1.mdb"} << "" << false << false << "\"Data1.mdb\"";
    }
    void parses()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, dataDir);
        QFETCH(bool, help);
        QFETCH(bool, version);
        QFETCH(QString, error);
        arguments.prepend(QStringLiteral("/usr/bin/Varnik350"));
        const ProgramOptions options = ParseProgramOptions(arguments);
        QCOMPARE(options.error.isEmpty(), error.isEmpty());
        QVERIFY2(options.error.contains(error), qPrintable(options.error));
        if (error.isEmpty()) {
            QCOMPARE(options.dataDir, dataDir);
            QCOMPARE(options.help, help);
            QCOMPARE(options.version, version);
        }
    }

    void versionNamesTheIdentityAndTheFolder()
    {
        Shared = SharedState{};
        SetIdentity(QStringLiteral("/usr/bin/Datalogger"));
        QCOMPARE(ProgramVersion(QStringLiteral("Datalogger"),
                                QStringLiteral("/home/u/.local/share/Varnik350/data")),
                 QStringLiteral("Datalogger " VARNIK_VERSION_TEXT " (Version : 090725N)\n"
                                "Data folder: /home/u/.local/share/Varnik350/data\n"));
    }
};

VARNIK_TEST_CLASS(TestProgramOptions)
#include "test_program_options.moc"
