#include "mainwindow/frmMain.h"
#include "app/startup_ui.h"
#include "core/shared_state.h"
#include "fake_host.h"
#include "test_registry.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

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

    // A display that is named but answers nobody: the program says so and ends, where Qt would
    // abort with a core dump.
    void programWithUnreachableDisplayExplains()
    {
        const QString program = QStringLiteral(VARNIK_BINARY_DIR "/Datalogger");
        if (!QFile::exists(program))
            QSKIP("the program is not built");
        if (QFile::exists(QStringLiteral("/tmp/.X11-unix/X4729")))
            QSKIP("an X server runs as display :4729");
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":4729"));
        process.setProcessEnvironment(env);
        process.start(program, {});
        QVERIFY(process.waitForFinished(20000));
        const QByteArray err = process.readAllStandardError();
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 2);
        QVERIFY2(err.contains("cannot be reached") && err.trimmed().endsWith("xvfb-run -a " + program.toLocal8Bit()),
                 err.constData());
    }

    // Asked to stop by the system (SIGTERM: a logout, kill; SIGINT: Ctrl+C), the program closes as
    // its own Exit does: a normal exit, the data file's lock removed.
    void stopSignalClosesTheProgram_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void stopSignalClosesTheProgram()
    {
        QFETCH(int, signal);
        const QString program = QStringLiteral(VARNIK_BINARY_DIR "/Datalogger");
        if (!QFile::exists(program))
            QSKIP("the program is not built");
        QTemporaryDir dir;
        const QDir data(dir.filePath(QStringLiteral("data")));
        QVERIFY(data.mkpath(QStringLiteral(".")));
        const QDir shipped(QStringLiteral(VARNIK_SOURCE_DIR "/data"));
        for (const QString& name : shipped.entryList(QDir::Files))
            QVERIFY(QFile::copy(shipped.filePath(name), data.filePath(name)));
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("VARNIK_SPLASH_MS"), QStringLiteral("0"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        process.setProcessEnvironment(env);
        process.start(program, {QStringLiteral("--data-dir"), data.path()});
        const auto locks = [&data] { return data.entryList({QStringLiteral("*.lock")}, QDir::Files); };
        QTRY_VERIFY_WITH_TIMEOUT(!locks().isEmpty() || process.state() == QProcess::NotRunning, 30000);
        QVERIFY2(!locks().isEmpty(), process.readAllStandardError().constData());
        ::kill(pid_t(process.processId()), signal);
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(locks(), QStringList());
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
