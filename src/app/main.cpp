// The program. Its file name picks the identity (Varnik350 branded, any other name generic); the
// configuration and data files live in the folder that core/data_folder.h chooses (--data-dir,
// the "data" folder beside the executable, or the per-user one of an installed program).
// Command line: see app/program_options.h. Exit code 2 on a bad command line.
// Environment: VARNIK_SPLASH_MS shortens or lengthens the 5 s splash (see startup_ui.h).
#include "about/identity_ui.h"
#include "mainwindow/frmMain.h"
#include "app/program_options.h"
#include "app/startup_ui.h"
#include "app/window_registry.h"
#include "core/data_folder.h"
#include "core/shared_state.h"
#include "core/startup.h"
#include "platform/host_services_ui.h"
#include "platform/stop_signals.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QSocketNotifier>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {
QtMessageHandler QtHandler = nullptr;
QByteArray DisplayHint;

// While the window system is reached: Qt's fatal "could not connect to display" ends the program
// with its text and the hint, exit code 2, instead of an abort.
void EndWithoutDisplay(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    QtHandler(type == QtFatalMsg ? QtCriticalMsg : type, context, message);
    if (type != QtFatalMsg)
        return;
    std::fprintf(stderr, "%s\n", DisplayHint.constData());
    std::fflush(stderr);
    std::_Exit(2);
}

// The folder of the real executable, but the name it was started under, so a link named
// Varnik350 shows the branded identity while reading the data folder beside the program.
QString invokedExecutable(const char* argv0)
{
    const QString invoked = QFileInfo(QString::fromLocal8Bit(argv0)).fileName();
    if (invoked.isEmpty())
        return QCoreApplication::applicationFilePath();
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + invoked;
}

// --help or --version: printed, and the program ends without a window.
int printAndEnd(const ProgramOptions& options, const char* argv0)
{
    const QString executable = invokedExecutable(argv0);
    const QString program = QFileInfo(executable).fileName();
    if (options.help) {
        std::fputs(qPrintable(ProgramHelp(program)), stdout);
        return 0;
    }
    SetIdentity(executable);
    std::fputs(qPrintable(ProgramVersion(
                   program, ChooseDataFolder(QCoreApplication::applicationDirPath(), options.dataDir))),
               stdout);
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // Answered before any window system is needed, so they work without a display.
    if (const ProgramOptions early = ParseProgramOptions(arguments);
        early.error.isEmpty() && (early.help || early.version)) {
        QCoreApplication core(argc, argv);
        return printAndEnd(early, argv[0]);
    }

    const QString hint =
        MissingDisplayHint(QProcessEnvironment::systemEnvironment(), QString::fromLocal8Bit(argv[0]));
    if (!hint.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(hint));
        return 2;
    }

    DisplayHint = UnreachableDisplayHint(QProcessEnvironment::systemEnvironment(),
                                         QString::fromLocal8Bit(argv[0]))
                      .toLocal8Bit();
    QtHandler = qInstallMessageHandler(EndWithoutDisplay);
    QApplication app(argc, argv);
    qInstallMessageHandler(QtHandler);
    const ProgramOptions options = ParseProgramOptions(QCoreApplication::arguments());
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "%s: %s (see --help)\n", qPrintable(QFileInfo(arguments.first()).fileName()),
                     qPrintable(options.error));
        return 2;
    }
    if (options.help || options.version)
        return printAndEnd(options, argv[0]);
    if (!options.dataDir.isEmpty())
        Shared.DataFolder = QFileInfo(options.dataDir).absoluteFilePath();

    WindowHostServices host;
    SetHost(&host);

    QString error;
    if (!StartupEngine(invokedExecutable(argv[0]), &error)) {
        Host().message(error, HostServices::Ok, HostServices::Icon::Critical, HostServices::Ok);
        SetHost(nullptr);
        return 1;
    }
    QApplication::setApplicationName(QFileInfo(Shared.ExeTitle).completeBaseName());
    QApplication::setApplicationVersion(QStringLiteral(VARNIK_VERSION_TEXT));
    QApplication::setWindowIcon(QIcon(VarnikLogo(64)));

    AppWindowRegistry windows;
    SetWindowRegistry(&windows);
    // SIGTERM (a logout, systemd, kill), SIGINT (Ctrl+C in the terminal) and SIGHUP close the program
    // as its own Exit does: the row being written finishes, the event log gets its stop, the data
    // file's lock and the temporary files go.
    const int stopFd = InstallStopSignals(&error);
    std::unique_ptr<QSocketNotifier> stopRequests;
    if (stopFd >= 0) {
        stopRequests = std::make_unique<QSocketNotifier>(stopFd, QSocketNotifier::Read);
        QObject::connect(stopRequests.get(), &QSocketNotifier::activated, [stopFd] {
            char byte = 0;
            while (::read(stopFd, &byte, 1) == 1) {
            }
            if (MainForm)
                MainForm->CloseProgram(QStringLiteral("signal"));
            else
                QCoreApplication::quit();
        });
    } else {
        std::fprintf(stderr, "%s\n", qPrintable(error));
    }
    int result = 0;
    {
        std::unique_ptr<frmMain> main = ShowStartupWindows(SplashWaitMs());
        result = QApplication::exec();
        // Windows closed on the way out were only scheduled for deletion.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    SetWindowRegistry(nullptr);
    SetHost(nullptr);
    return result;
}
