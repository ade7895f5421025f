#include "acquisition/frmMain.h"
#include "app/startup_ui.h"
#include "core/shared_state.h"
#include "fake_host.h"
#include "test_registry.h"

#include <QApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestStartupWindows : public QObject {
    Q_OBJECT
  private slots:
    void splashTime_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<qint64>("expected");
        QTest::newRow("unset") << QString() << DefaultSplashMs;
        QTest::newRow("zero") << "0" << qint64(0);
        QTest::newRow("short") << "250" << qint64(250);
        QTest::newRow("blanks around") << " 40 " << qint64(40);
        QTest::newRow("not a number") << "fast" << DefaultSplashMs;
        QTest::newRow("negative") << "-5" << DefaultSplashMs;
        QTest::newRow("over a minute") << "600000" << DefaultSplashMs;
    }

    void splashTime()
    {
        QFETCH(QString, value);
        QFETCH(qint64, expected);
        QProcessEnvironment env;
        if (!value.isNull())
            env.insert(QStringLiteral("VARNIK_SPLASH_MS"), value);
        QCOMPARE(SplashWaitMs(env), expected);
    }

    void displayHint_data()
    {
        QTest::addColumn<QString>("variable");
        QTest::addColumn<bool>("hint");
        QTest::newRow("nothing set") << QString() << true;
        QTest::newRow("X display") << "DISPLAY" << false;
        QTest::newRow("Wayland") << "WAYLAND_DISPLAY" << false;
        QTest::newRow("platform chosen") << "QT_QPA_PLATFORM" << false;
    }

    void displayHint()
    {
        QFETCH(QString, variable);
        QFETCH(bool, hint);
        QProcessEnvironment env;
        if (!variable.isEmpty())
            env.insert(variable, QStringLiteral(":0"));
        const QString text = MissingDisplayHint(env, QStringLiteral("./Datalogger"));
        QCOMPARE(!text.isEmpty(), hint);
        if (hint)
            QVERIFY2(text.contains(QStringLiteral("xvfb-run -a ./Datalogger")), qPrintable(text));
    }

    // The program itself prints the hint and fails instead of letting Qt abort.
    void programWithoutDisplayExplainsXvfb()
    {
        const QString program = QStringLiteral(VARNIK_BINARY_DIR "/Datalogger");
        if (!QFile::exists(program))
            QSKIP("the program is not built");
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        process.setProcessEnvironment(env);
        process.start(program, {});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY(process.exitCode() != 0);
        QVERIFY2(process.readAllStandardError().contains("xvfb-run -a"), "no Xvfb hint");
    }

    void splashThenMainWindow()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("data")));
        Shared = SharedState{};
        Shared.AppPath = dir.path();
        Shared.DataFileName = QStringLiteral("first.mdb");
        FakeHost host;

        constexpr qint64 wait = 60;
        StartupTimes times;
        std::unique_ptr<frmMain> main = ShowStartupWindows(wait, &times);
        QVERIFY(main);
        QCOMPARE(MainForm, main.get());
        QVERIFY(main->isVisible());
        QVERIFY(times.mainLoaded <= times.mainShown);
        QVERIFY2(times.mainShown > wait, qPrintable(QString::number(times.mainShown)));
        for (QWidget* w : QApplication::topLevelWidgets())
            QVERIFY2(!w->isVisible() || w == main.get(), qPrintable(w->objectName()));
        main->CloseProgram();
    }
};

VARNIK_TEST_CLASS(TestStartupWindows)
#include "test_startup_ui.moc"
