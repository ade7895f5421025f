// The size every window opens with on a first run: whole on a 1280x800 screen with its title bar,
// and the main window wide enough for its status texts at the default font.
#include "about/frmSplash.h"
#include "about/frmSysInfo.h"
#include "mainwindow/frmMain.h"
#include "app/window_registry.h"
#include "core/shared_state.h"
#include "fake_host.h"
#include "setup/frmPortDetect.h"
#include "test_registry.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

namespace {
// The smallest screen the program is made for, less what a window manager adds around a window.
constexpr int ScreenWidth = 1280;
constexpr int ScreenHeight = 800;
constexpr int TitleBar = 40;
constexpr int Border = 4;

QString fitProblem(const QWidget* w)
{
    const QSize s = w->size();
    if (s.width() + 2 * Border <= ScreenWidth && s.height() + TitleBar + Border <= ScreenHeight)
        return {};
    return QStringLiteral("%1 opens at %2x%3, more than a %4x%5 screen holds with a title bar")
        .arg(w->metaObject()->className())
        .arg(s.width())
        .arg(s.height())
        .arg(ScreenWidth)
        .arg(ScreenHeight);
}
} // namespace

class TestFirstSizes : public QObject {
    Q_OBJECT
  private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        QDir(m_dir.path()).mkpath(QStringLiteral("data"));
        Shared = SharedState{};
        Shared.AppPath = m_dir.path();
        Shared.DataFileName = QStringLiteral("Data1.mdb");
        m_host = std::make_unique<FakeHost>();
        SetWindowRegistry(&m_registry);
        m_main = std::make_unique<frmMain>();
        m_main->show();
    }

    void cleanup()
    {
        for (WindowId id : {WindowId::About, WindowId::NewDB, WindowId::TextDisp, WindowId::ScanRate,
                            WindowId::AngularDisp, WindowId::ChartDisp, WindowId::Select, WindowId::Select16,
                            WindowId::EventLog})
            m_registry.Close(id);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_main.reset();
        SetWindowRegistry(nullptr);
        m_host.reset();
        QDir(m_dir.path() + QStringLiteral("/data")).removeRecursively();
    }

    // The first run makes the data file and says so in the status bar: every status text whole.
    void mainWindowShowsItsStatusTextsWhole()
    {
        QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
        QVERIFY(fitProblem(m_main.get()).isEmpty());
        int texts = 0;
        for (const QLabel* label : m_main->statusBar()->findChildren<QLabel*>()) {
            if (!label->isVisible() || label->text().isEmpty())
                continue;
            ++texts;
            const int needed = label->fontMetrics().horizontalAdvance(label->text());
            QVERIFY2(label->contentsRect().width() >= needed,
                     qPrintable(QStringLiteral("\"%1\" needs %2 px, has %3 in a window %4 px wide")
                                    .arg(label->text())
                                    .arg(needed)
                                    .arg(label->contentsRect().width())
                                    .arg(m_main->width())));
        }
        QCOMPARE(texts, 3); // the data file made, the date, the time
        QVERIFY(m_main->statusBar()->findChild<QLabel*>(QStringLiteral("Panel1"))->text().contains(
            QStringLiteral("created for 8 channels")));
    }

    void everyWindowFitsTheScreen_data()
    {
        QTest::addColumn<WindowId>("id");
        QTest::newRow("About") << WindowId::About;
        QTest::newRow("Text Display") << WindowId::TextDisp;
        QTest::newRow("Create New Data File") << WindowId::NewDB;
        QTest::newRow("System Setup") << WindowId::ScanRate;
        QTest::newRow("Angular Display") << WindowId::AngularDisp;
        QTest::newRow("Chart Display") << WindowId::ChartDisp;
        QTest::newRow("Data Query") << WindowId::Select;
        QTest::newRow("Data Query 16") << WindowId::Select16;
        QTest::newRow("Event Log") << WindowId::EventLog;
    }

    void everyWindowFitsTheScreen()
    {
        QFETCH(WindowId, id);
        QWidget* w = m_registry.Show(id);
        QVERIFY(w);
        QVERIFY(QTest::qWaitForWindowExposed(w));
        const QString problem = fitProblem(w);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }

    // The windows that open from other windows rather than from the menu.
    void windowsOpenedFromOthersFitTheScreen()
    {
        frmSplash splash;
        frmSysInfo info(QStringLiteral("Data folder: /home/user/.local/share/Varnik350/data"));
        frmPortDetect ports(1, nullptr, m_dir.path());
        for (QWidget* w : std::initializer_list<QWidget*>{&splash, &info, &ports}) {
            w->show();
            QVERIFY(QTest::qWaitForWindowExposed(w));
            const QString problem = fitProblem(w);
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
        }
    }

  private:
    QTemporaryDir m_dir;
    std::unique_ptr<FakeHost> m_host;
    AppWindowRegistry m_registry;
    std::unique_ptr<frmMain> m_main;
};

VARNIK_TEST_CLASS(TestFirstSizes)
#include "test_first_sizes.moc"
