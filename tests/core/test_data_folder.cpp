#include "core/data_folder.h"
#include "core/shared_state.h"
#include "core/startup.h"
#include "test_registry.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

// An install tree PREFIX/bin + PREFIX/share/varnik/data in a temporary folder, with the per-user
// data location (XDG_DATA_HOME) inside it too, so no test touches the real home folder.
class InstallTree {
  public:
    InstallTree() : m_oldDataHome(qgetenv("XDG_DATA_HOME"))
    {
        Shared = SharedState{};
        QDir(root()).mkpath(QStringLiteral("bin"));
        qputenv("XDG_DATA_HOME", QFile::encodeName(root() + QStringLiteral("/home-data")));
    }
    ~InstallTree()
    {
        if (m_oldDataHome.isNull())
            qunsetenv("XDG_DATA_HOME");
        else
            qputenv("XDG_DATA_HOME", m_oldDataHome);
    }
    InstallTree(const InstallTree&) = delete;
    InstallTree& operator=(const InstallTree&) = delete;

    QString root() const { return m_dir.path(); }
    QString bin() const { return root() + QStringLiteral("/bin"); }
    QString shipped() const { return root() + QStringLiteral("/share/varnik/data"); }
    QString perUser() const { return root() + QStringLiteral("/home-data/Varnik350/data"); }

    // The real shipped configuration files as the package's read-only defaults.
    void ship() const
    {
        QVERIFY(QDir().mkpath(shipped()));
        for (const char* name : {"unit2.dat", "display.dat", "default.txt", "dispchan.dat"})
            QVERIFY(QFile::copy(QStringLiteral(VARNIK_SOURCE_DIR "/data/") + name, shipped() + '/' + name));
    }

  private:
    QTemporaryDir m_dir;
    QByteArray m_oldDataHome;
};

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

class TestDataFolder : public QObject {
    Q_OBJECT
  private slots:
    // Names a data file may not have: outside the data folder, hidden, unstorable in default.txt,
    // or splitting the lines and lists that name it.
    void refusedDataFileNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("refused");
        QTest::newRow("plain") << "Lab 7.mdb" << false;
        QTest::newRow("folder") << "../x.mdb" << true;
        QTest::newRow("backslash") << "sub\\x.mdb" << true;
        QTest::newRow("hidden") << ".x.mdb" << true;
        QTest::newRow("double quote") << "q\"x,\"Max Record data\",5" << true;
        QTest::newRow("newline") << "a\nb" << true;
    }
    void refusedDataFileNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, refused);
        const QString why = DataFolderNameRefusal(name);
        QCOMPARE(!why.isEmpty(), refused);
        QVERIFY(!why.contains(QLatin1Char('\n')));
    }

    void choosesTheFolder_data()
    {
        QTest::addColumn<bool>("dataBeside");
        QTest::addColumn<bool>("shipped");
        QTest::addColumn<QString>("requested");
        QTest::addColumn<QString>("expected"); // "beside", "per-user" or the requested folder
        QTest::newRow("build or portable copy") << true << false << ""
                                                << "beside";
        QTest::newRow("writable data beside wins over shipped") << true << true << ""
                                                                << "beside";
        QTest::newRow("installed") << false << true << ""
                                   << "per-user";
        QTest::newRow("nothing anywhere: as before") << false << false << ""
                                                     << "beside";
        QTest::newRow("--data-dir over everything") << true << true << "/srv/lab/data"
                                                    << "/srv/lab/data";
        QTest::newRow("--data-dir made absolute, cleaned") << false << true << "/srv/lab/../x/"
                                                           << "/srv/x";
    }
    void choosesTheFolder()
    {
        QFETCH(bool, dataBeside);
        QFETCH(bool, shipped);
        QFETCH(QString, requested);
        QFETCH(QString, expected);
        InstallTree tree;
        if (dataBeside)
            QVERIFY(QDir(tree.bin()).mkdir(QStringLiteral("data")));
        if (shipped)
            tree.ship();
        const QString chosen = ChooseDataFolder(tree.bin(), requested);
        if (expected == QLatin1String("beside"))
            QCOMPARE(chosen, tree.bin() + QStringLiteral("/data"));
        else if (expected == QLatin1String("per-user"))
            QCOMPARE(chosen, tree.perUser());
        else
            QCOMPARE(chosen, expected);
        QVERIFY2(!QFileInfo::exists(tree.perUser()), "choosing must not create anything");
    }

    void installedStartupFillsThePerUserFolderOnce()
    {
        InstallTree tree;
        tree.ship();
        QString error;
        QVERIFY2(StartupEngine(tree.bin() + QStringLiteral("/Varnik350"), &error), qPrintable(error));
        QCOMPARE(Shared.DataFolder, tree.perUser());
        QCOMPARE(DataPath(QStringLiteral("default.txt")), tree.perUser() + QStringLiteral("/default.txt"));
        QCOMPARE(Shared.DataFileName, QStringLiteral("Data1.mdb"));
        QVERIFY(QFileInfo(tree.perUser() + QStringLiteral("/display.dat")).isWritable());

        // The user's own settings survive a later start, even when the shipped ones change.
        const QByteArray mine =
            "\"Comm. Port \",3\r\n\"Data File Name\",\"Mine.mdb\"\r\n\"System Scan Rate\",2\r\n"
            "\"Max Record data\",100\r\n\"Text Display type\",1\r\n"
            "\"Angular Display Channel\",1\r\n\"Chart Display Channel\",1\r\n"
            "\"Format 01 and Special Meter\",0\r\n";
        QFile user(tree.perUser() + QStringLiteral("/default.txt"));
        QVERIFY(user.open(QIODevice::WriteOnly | QIODevice::Truncate));
        user.write(mine);
        user.close();
        QFile::remove(tree.perUser() + QStringLiteral("/dispchan.dat"));
        Shared = SharedState{};
        QVERIFY2(StartupEngine(tree.bin() + QStringLiteral("/Datalogger"), &error), qPrintable(error));
        QCOMPARE(contents(tree.perUser() + QStringLiteral("/default.txt")), mine);
        QCOMPARE(Shared.DataFileName, QStringLiteral("Mine.mdb"));
        QCOMPARE(contents(tree.perUser() + QStringLiteral("/dispchan.dat")),
                 contents(tree.shipped() + QStringLiteral("/dispchan.dat")));
        QCOMPARE(QDir(tree.perUser()).entryList(QDir::Files).size(), 4); // no half copies left
    }

    void requestedFolderIsMadeAndFilled()
    {
        InstallTree tree;
        tree.ship();
        Shared.DataFolder = tree.root() + QStringLiteral("/lab/line 2");
        QString error;
        QVERIFY2(StartupEngine(tree.bin() + QStringLiteral("/meter-record"), &error), qPrintable(error));
        QCOMPARE(Shared.DataFolder, tree.root() + QStringLiteral("/lab/line 2"));
        QVERIFY(QFileInfo::exists(DataPath(QStringLiteral("unit2.dat"))));
        QVERIFY(!QFileInfo::exists(tree.perUser()));
    }

    void folderThatCannotBeMadeStopsStartup()
    {
        InstallTree tree;
        tree.ship();
        QFile blocker(tree.root() + QStringLiteral("/file"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        Shared.DataFolder = blocker.fileName() + QStringLiteral("/data");
        QString error;
        QVERIFY(!StartupEngine(tree.bin() + QStringLiteral("/Datalogger"), &error));
        QVERIFY2(error.contains(QDir::toNativeSeparators(Shared.DataFolder)), qPrintable(error));
    }
};

VARNIK_TEST_CLASS(TestDataFolder)
#include "test_data_folder.moc"
