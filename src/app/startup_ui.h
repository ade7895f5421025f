#pragma once
// The window half of start-up, run by main() after the engine half (identity, initial values,
// configuration files, formats) has succeeded: the splash is shown and painted, the main window
// is created and loaded behind it, then start-up waits, without handling any window event, until
// more than the splash time has passed since the splash appeared, closes the splash and shows
// the main window.
#include <QProcessEnvironment>
#include <QString>
#include <memory>

class frmMain;

constexpr qint64 DefaultSplashMs = 5000;

// The splash time in ms: VARNIK_SPLASH_MS when it holds a whole number from 0 to 60000,
// otherwise 5000. Lets tests and the start-up benchmark skip the wait.
qint64 SplashWaitMs(const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());

// Empty when a window system is reachable; otherwise one line telling how to run under a virtual
// display. Checked before the QApplication exists, which would abort without a display.
QString MissingDisplayHint(const QProcessEnvironment& env, const QString& program);
// One line for a display that is named (DISPLAY or WAYLAND_DISPLAY) but cannot be used: the window
// system refused the program. main() prints it and ends with exit code 2 instead of Qt's abort.
QString UnreachableDisplayHint(const QProcessEnvironment& env, const QString& program);

// Milliseconds from the splash appearing to the main window loaded and to it shown.
struct StartupTimes {
    qint64 mainLoaded = 0;
    qint64 mainShown = 0;
};

// Runs splash, load, wait and show; the main window stays MainForm until it is destroyed.
std::unique_ptr<frmMain> ShowStartupWindows(qint64 splashWaitMs, StartupTimes* times = nullptr);
