// The program. Its file name picks the identity (Varnik350 branded, any other name generic); the
// configuration and data files live in the "data" folder beside the executable.
// Environment: VARNIK_SPLASH_MS shortens or lengthens the 5 s splash (see startup_ui.h).
#include "about/identity_ui.h"
#include "acquisition/frmMain.h"
#include "app/startup_ui.h"
#include "app/window_registry.h"
#include "core/shared_state.h"
#include "core/startup.h"
#include "platform/host_services_ui.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <cstdio>

namespace {
// The folder of the real executable, but the name it was started under, so a link named
// Varnik350 shows the branded identity while reading the data folder beside the program.
QString invokedExecutable(const char* argv0)
{
    const QString invoked = QFileInfo(QString::fromLocal8Bit(argv0)).fileName();
    if (invoked.isEmpty())
        return QCoreApplication::applicationFilePath();
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + invoked;
}
} // namespace

int main(int argc, char** argv)
{
    const QString hint =
        MissingDisplayHint(QProcessEnvironment::systemEnvironment(), QString::fromLocal8Bit(argv[0]));
    if (!hint.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(hint));
        return 2;
    }

    QApplication app(argc, argv);
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
