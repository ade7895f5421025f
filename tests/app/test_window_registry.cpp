#include "about/frmAbout.h"
#include "mainwindow/frmMain.h"
#include "app/window_registry.h"
#include "core/shared_state.h"
#include "fake_host.h"
#include "test_registry.h"

#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

namespace {
int visibleCount(const char* className)
{
    int n = 0;
    for (QWidget* w : QApplication::allWidgets())
        n += w->inherits(className) && w->isVisible();
    return n;
}
} // namespace

class TestWindowRegistry : public QObject {
    Q_OBJECT
  private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        QDir(m_dir.path()).mkpath(QStringLiteral("data"));
        Shared = SharedState{};
        Shared.AppPath = m_dir.path();
        Shared.DataFileName = QStringLiteral("registry.mdb");
        m_host = std::make_unique<FakeHost>();
        SetWindowRegistry(&m_registry);
        m_main = std::make_unique<frmMain>();
    }

    void cleanup()
    {
        for (WindowId id : {WindowId::About, WindowId::NewDB, WindowId::TextDisp, WindowId::ScanRate,
                            WindowId::AngularDisp, WindowId::ChartDisp, WindowId::Select, WindowId::Select16})
            m_registry.Close(id);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_main.reset();
        SetWindowRegistry(nullptr);
        m_host.reset();
    }

    void withoutRegistryNoWindowExists()
    {
        SetWindowRegistry(nullptr);
        QVERIFY(!Windows().Exists(WindowId::About));
        QVERIFY(!Windows().Show(WindowId::About));
        QVERIFY(!Windows().IsOpen(WindowId::Main));
    }

    // A name typed into the data file dialog and never created must not reach default.txt when
    // the program closes with the dialog still open.
    void closingKeepsTheDataFileInUseNotATypedName()
    {
        QWidget* dialog = m_registry.Show(WindowId::NewDB);
        QVERIFY(dialog);
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("Text1"));
        QVERIFY(name);
        name->setText(QStringLiteral("typed"));
        QCOMPARE(Shared.DataFileName, QStringLiteral("typed.mdb"));

        m_main->CloseProgram();
        QCOMPARE(Shared.DataFileName, QStringLiteral("registry.mdb"));
        QFile defaults(DataPath(QStringLiteral("default.txt")));
        QVERIFY(defaults.open(QIODevice::ReadOnly));
        QVERIFY(defaults.readAll().contains("\"Data File Name\",\"registry.mdb\""));
    }

    void aboutOpensOnceAsModalChildOfTheMainWindow()
    {
        QWidget* first = m_registry.Show(WindowId::About);
        QVERIFY(qobject_cast<frmAbout*>(first));
        QCOMPARE(first->parentWidget(), m_main.get());
        QVERIFY(first->isModal());
        QCOMPARE(m_registry.Show(WindowId::About), first);
        QCOMPARE(visibleCount("frmAbout"), 1);
        QVERIFY(m_registry.IsOpen(WindowId::About));
    }

    void closedWindowIsUnloadedAndMadeAfresh()
    {
        QPointer<QWidget> first = m_registry.Show(WindowId::About);
        m_registry.Close(WindowId::About);
        QVERIFY(!m_registry.IsOpen(WindowId::About));
        // Reopened before the closed one is deleted: a new window, not the dying one.
        QWidget* second = m_registry.Show(WindowId::About);
        QVERIFY(second && second != first);
        QTRY_VERIFY(first.isNull());
        QVERIFY(m_registry.IsOpen(WindowId::About));
    }

    void mainWindowIsMainForm()
    {
        QVERIFY(m_registry.Exists(WindowId::Main));
        QCOMPARE(m_registry.Show(WindowId::Main), m_main.get());
        QVERIFY(m_main->isVisible());
    }

    void menuOpensEachWindowOnce_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<WindowId>("id");
        QTest::addColumn<QString>("className");
        QTest::newRow("About") << "mnuHelpAbout" << WindowId::About << "frmAbout";
        QTest::newRow("Text Display") << "mnuTextDisplay" << WindowId::TextDisp << "frmTextDisp";
        QTest::newRow("Create New Data File") << "mnuNewDB" << WindowId::NewDB << "frmNewDB";
        QTest::newRow("System Setup") << "mnuScanRate" << WindowId::ScanRate << "frmScanRate";
        QTest::newRow("Chart Display") << "mnuChart" << WindowId::ChartDisp << "frmChartDisp";
        QTest::newRow("Angular Display") << "mnuAngular2" << WindowId::AngularDisp << "frmAngularDisp";
        QTest::newRow("Data Query") << "mnuQuery" << WindowId::Select << "frmSelect";
        QTest::newRow("Data Query 16") << "mnuQuery_16" << WindowId::Select16 << "frmSelect_16";
    }

    void menuOpensEachWindowOnce()
    {
        QFETCH(QString, item);
        QFETCH(WindowId, id);
        QFETCH(QString, className);
        auto* action = m_main->findChild<QAction*>(item);
        QVERIFY(action->isEnabled());
        action->trigger();
        action->trigger();
        QCOMPARE(visibleCount(qPrintable(className)), 1);
        QVERIFY(m_registry.IsOpen(id));
    }

  private:
    QTemporaryDir m_dir;
    std::unique_ptr<FakeHost> m_host;
    AppWindowRegistry m_registry;
    std::unique_ptr<frmMain> m_main;
};

VARNIK_TEST_CLASS(TestWindowRegistry)
#include "test_window_registry.moc"
