// The reference for the start-up benchmark: the least a Qt Widgets program does before its main
// window is on screen (a main window with a menu bar and a status bar, about as large as the
// program's), started through the same stopwatch, so that the program's start-up time can be given
// as a ratio that a busy or quiet machine changes less than the milliseconds.
//
//   bench_startup      shows the window titled "Startup reference" until it is closed
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QStatusBar>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Startup reference"));
    QMenu* file = window.menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(QStringLiteral("E&xit"), &app, &QApplication::quit);
    window.menuBar()->addMenu(QStringLiteral("&Help"))->addAction(QStringLiteral("&About"));
    window.setCentralWidget(new QLabel(QStringLiteral("Reference window")));
    window.statusBar()->showMessage(QStringLiteral("Ready"));
    window.resize(433, 433);
    window.show();
    return QApplication::exec();
}
