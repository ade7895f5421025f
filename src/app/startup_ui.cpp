#include "app/startup_ui.h"

#include "about/frmSplash.h"
#include "mainwindow/frmMain.h"
#include "platform/center_form_ui.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QWindow>

qint64 SplashWaitMs(const QProcessEnvironment& env)
{
    bool ok = false;
    const qint64 ms = env.value(QStringLiteral("VARNIK_SPLASH_MS")).trimmed().toLongLong(&ok);
    return ok && ms >= 0 && ms <= 60000 ? ms : DefaultSplashMs;
}

QString MissingDisplayHint(const QProcessEnvironment& env, const QString& program)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        if (!env.value(QString::fromLatin1(name)).isEmpty())
            return {};
    }
    return QStringLiteral("%1: no display found (DISPLAY and WAYLAND_DISPLAY are not set); "
                          "to run without a screen use a virtual one: xvfb-run -a %1")
        .arg(program);
#else
    Q_UNUSED(env);
    Q_UNUSED(program);
    return {};
#endif
}

QString UnreachableDisplayHint(const QProcessEnvironment& env, const QString& program)
{
    QStringList named;
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const QString value = env.value(QString::fromLatin1(name));
        if (!value.isEmpty())
            named << QStringLiteral("%1=%2").arg(QString::fromLatin1(name), value);
    }
    const QString which = named.isEmpty() ? QStringLiteral("the display") : named.join(QStringLiteral(", "));
    return QStringLiteral("%1: %2 cannot be reached (no display server answers there, or it does not let "
                          "this user in); to run without a screen use a virtual one: xvfb-run -a %1")
        .arg(program, which);
}

namespace {
// Lets the window system map and paint the splash now: the wait that follows handles no events.
void paintAtOnce(QWidget* splash)
{
    splash->show();
    QElapsedTimer mapping;
    mapping.start();
    do {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    } while (splash->windowHandle() && !splash->windowHandle()->isExposed() && mapping.elapsed() < 500);
    splash->repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}
} // namespace

std::unique_ptr<frmMain> ShowStartupWindows(qint64 splashWaitMs, StartupTimes* times)
{
    QElapsedTimer sinceSplash;
    auto splash = std::make_unique<frmSplash>();
    splash->adjustSize();
    CenterForm(splash.get());
    sinceSplash.start();
    paintAtOnce(splash.get());

    auto main = std::make_unique<frmMain>();
    if (times)
        times->mainLoaded = sinceSplash.elapsed();

    // Sleeping rather than spinning the event loop: nothing reaches the main window early.
    while (sinceSplash.elapsed() <= splashWaitMs)
        QThread::msleep(static_cast<unsigned long>(splashWaitMs - sinceSplash.elapsed() + 1));

    splash->close();
    splash.reset();
    main->show();
    if (times)
        times->mainShown = sinceSplash.elapsed();
    return main;
}
