#include "mainwindow/frmMain.h"
#include "core/shared_state.h"
#include "datafile/data_file.h"
#include "datafile/frmNewDB.h"
#include "fake_host.h"
#include "sqlite_cli.h"
#include "test_registry.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

namespace {
const QString FileExist = QStringLiteral(" File is Exist . New Data will append to this file !!!");
const QString Created = QStringLiteral(" Data File Created O.K. !!!");
} // namespace

class TestFrmNewDB : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeHost> m_host;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<frmMain> m_main;
    QPointer<frmNewDB> m_dialog;

    // The program runs on `current`, a data file of `channels`; the dialog is opened over it.
    void Open(const QString& current, int channels = 8, bool scanning = false)
    {
        m_host = std::make_unique<FakeHost>();
        m_dir = std::make_unique<QTemporaryDir>();
        Shared = SharedState{};
        Shared.AppPath = m_dir->path();
        QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("data")));
        Shared.DataFileName = current;
        if (channels > 0)
            QVERIFY(CreateDataFile(DataPath(current), channels));
        m_main = std::make_unique<frmMain>();
        QVERIFY(MainForm == m_main.get());
        if (scanning)
            m_main->Timer1->start();
        m_host->shown.clear();
        m_dialog = new frmNewDB;
        m_dialog->setAttribute(Qt::WA_DeleteOnClose);
        m_dialog->show();
    }

    void Create(const QString& typed, int comboIndex = -1)
    {
        if (comboIndex >= 0)
            m_dialog->Combo1->setCurrentIndex(comboIndex);
        if (!typed.isNull()) {
            m_dialog->Text1->clear();
            QTest::keyClicks(m_dialog->Text1, typed);
        }
        QTest::mouseClick(m_dialog->Command1, Qt::LeftButton);
    }

  private slots:
    void cleanup()
    {
        delete m_dialog;
        m_main.reset();
        m_dir.reset();
        m_host.reset();
    }

    void openingAndExit()
    {
        Open(QStringLiteral("a.b.mdb"), 8, true);

        QCOMPARE(m_dialog->windowTitle(), QStringLiteral("Create New Data File"));
        QCOMPARE(m_dialog->findChild<QLineEdit*>("Text1")->text(), QStringLiteral("a"));
        QCOMPARE(Shared.DataFileName, QStringLiteral("a.mdb"));
        QCOMPARE(m_dialog->Text2->text(), DataPath(QStringLiteral("a.b.mdb")));
        auto* combo = m_dialog->findChild<QComboBox*>("Combo1");
        QCOMPARE(combo->count(), 3);
        QCOMPARE(combo->itemText(0), QStringLiteral("  8 Channel"));
        QCOMPARE(combo->itemText(2), QStringLiteral("  16 Channel"));
        QCOMPARE(combo->currentIndex(), 0);
        QVERIFY(!m_main->Timer1->isActive());

        QTest::keyClicks(m_dialog->Text1, QStringLiteral("x"));
        QCOMPARE(Shared.DataFileName, QStringLiteral("ax.mdb"));
        QCOMPARE(m_dialog->Text2->text(), DataPath(QStringLiteral("ax.mdb"))); // the path follows
        // Exit without Create: the file in force stays the one the program was using.
        QTest::mouseClick(m_dialog->findChild<QPushButton*>("Command2"), Qt::LeftButton);
        QTRY_VERIFY(m_dialog.isNull());
        QCOMPARE(Shared.DataFileName, QStringLiteral("a.b.mdb"));
        QVERIFY(m_main->Timer1->isActive());
        QVERIFY(m_host->shown.isEmpty());
    }

    void createsNewFiles_data()
    {
        QTest::addColumn<int>("comboIndex");
        QTest::addColumn<int>("channels");
        QTest::newRow("no choice") << -1 << 8;
        QTest::newRow("12") << 1 << 12;
        QTest::newRow("16") << 2 << 16;
    }
    void createsNewFiles()
    {
        QFETCH(int, comboIndex);
        QFETCH(int, channels);
        Open(QStringLiteral("current.mdb"));
        Shared.RecordCount = 42;
        Shared.TextTabSet = Shared.AngTabSet = true;
        QSignalSpy announced(m_main.get(), &frmMain::newDataFile);

        Create(QStringLiteral("run1"), comboIndex);
        const QString path = DataPath(QStringLiteral("run1.mdb"));
        QCOMPARE(m_host->texts(), QStringList{Created});
        QCOMPARE(m_host->shown.first().icon, HostServices::Icon::None);
        QCOMPARE(SqliteCli(path, QStringLiteral("SELECT name FROM pragma_table_info('DataRecord')")),
                 DataRecordColumns(channels));
        QCOMPARE(m_main->Data1->DatabaseName(), path);
        QCOMPARE(m_main->FieldCount, int16_t(2 * channels));
        QCOMPARE(Shared.RecordCount, 0);
        QVERIFY(!Shared.TextTabSet && !Shared.AngTabSet);
        QCOMPARE(announced.size(), 1);
        QCOMPARE(m_dialog->Text2->text(), path);

        // The same name again is adopted, and a name created before Exit stays current.
        Create(QString());
        QCOMPARE(m_host->texts(), (QStringList{Created, FileExist}));
        m_dialog->close();
        QCOMPARE(Shared.DataFileName, QStringLiteral("run1.mdb"));
    }

    // The channel choice is ignored for an existing file; its own count becomes the main window's.
    void adoptsExistingFile()
    {
        Open(QStringLiteral("current.mdb"), 8);
        QVERIFY(CreateDataFile(DataPath(QStringLiteral("wide.mdb")), 16));
        Shared.RecordCount = 65535;
        Create(QStringLiteral("wide"), 1);
        QCOMPARE(m_host->texts(), QStringList{FileExist});
        QCOMPARE(m_main->FieldCount, int16_t(32));
        QCOMPARE(Shared.RecordCount, 0);
        QCOMPARE(SqliteRowCount(DataPath(QStringLiteral("wide.mdb"))), 0);

        // Back to the narrower file: the count follows again.
        Create(QStringLiteral("current"));
        QCOMPARE(m_main->FieldCount, int16_t(16));
    }

    void createUntouchedAdoptsTheCurrentFile()
    {
        Open(QStringLiteral("current.mdb"));
        Shared.RecordCount = 7;
        Create(QString());
        QCOMPARE(m_host->texts(), QStringList{FileExist});
        QCOMPARE(Shared.RecordCount, 0);
    }

    void nameTypedWithExtension()
    {
        Open(QStringLiteral("current.mdb"));
        Create(QStringLiteral("run1.mdb"));
        QVERIFY(FileExists(DataPath(QStringLiteral("run1.mdb.mdb"))));
        QCOMPARE(Shared.DataFileName, QStringLiteral("run1.mdb.mdb"));
    }

    void worksWithoutMainWindow()
    {
        FakeHost host;
        QTemporaryDir dir;
        Shared = SharedState{};
        Shared.AppPath = dir.path();
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("data")));
        QVERIFY(!MainForm);
        frmNewDB dialog;
        dialog.Text1->setText(QStringLiteral("run1"));
        QTest::mouseClick(dialog.Command1, Qt::LeftButton);
        QCOMPARE(host.texts(), QStringList{Created});
        QCOMPARE(CountTableFields(DataPath(QStringLiteral("run1.mdb")), QStringLiteral("DataRecord")),
                 int16_t(18));
    }

    // The engine's refusal is shown and the program goes on with the file it had.
    void refusedFileKeepsThePrevious_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("foreignFile");
        QTest::addColumn<QString>("named");
        QTest::newRow("name with a folder") << "no-folder/run1" << false << "\"no-folder/run1\"";
        QTest::newRow("name leaving the data folder") << "../run1" << false << "\"../run1\"";
        QTest::newRow("not a data file") << "junk" << true << QString();
        QTest::newRow("empty name, a hidden .mdb") << "" << false << "Please type a name";
        QTest::newRow("blank name") << "   " << false << "Please type a name";
    }
    void refusedFileKeepsThePrevious()
    {
        QFETCH(QString, typed);
        QFETCH(bool, foreignFile);
        QFETCH(QString, named);
        Open(QStringLiteral("current.mdb"), 12);
        const QString path = DataPath(typed + QStringLiteral(".mdb"));
        if (foreignFile) {
            QFile junk(path);
            QVERIFY(junk.open(QIODevice::WriteOnly));
            junk.write("not a database at all");
        }
        Shared.RecordCount = 5;
        QSignalSpy announced(m_main.get(), &frmMain::newDataFile);

        m_dialog->Text1->clear(); // an empty typed name types nothing
        Create(typed);
        QCOMPARE(m_host->shown.size(), 1);
        QVERIFY2(
            m_host->shown.first().text.contains(named.isEmpty() ? QDir::toNativeSeparators(path) : named),
            qPrintable(m_host->shown.first().text));
        QCOMPARE(m_host->shown.first().icon, HostServices::Icon::Critical);
        QCOMPARE(Shared.DataFileName, QStringLiteral("current.mdb"));
        QCOMPARE(m_main->Data1->DatabaseName(), DataPath(QStringLiteral("current.mdb")));
        QCOMPARE(m_main->FieldCount, int16_t(24));
        QCOMPARE(Shared.RecordCount, 5);
        QCOMPARE(announced.size(), 0);
        QCOMPARE(FileExists(path), foreignFile);
    }

    // After a refusal the user mends the cause and presses Create again without retyping: the
    // typed name is created and recorded into, not announced while the old file stays bound.
    void createAfterARefusalUsesTheTypedName()
    {
        Open(QStringLiteral("current.mdb"), 8);
        const QString path = DataPath(QStringLiteral("again.mdb"));
        QVERIFY(QDir().mkpath(path)); // a folder where the file should go: the engine refuses
        Create(QStringLiteral("again"));
        QCOMPARE(m_host->shown.size(), 1);
        QCOMPARE(Shared.DataFileName, QStringLiteral("current.mdb"));

        QVERIFY(QDir().rmdir(path));
        Create(QString());
        QCOMPARE(m_host->texts().last(), Created);
        QCOMPARE(Shared.DataFileName, QStringLiteral("again.mdb"));
        QCOMPARE(m_main->Data1->DatabaseName(), path);
        QCOMPARE(m_dialog->Text2->text(), path);
    }
};

VARNIK_TEST_CLASS(TestFrmNewDB)
#include "test_frmNewDB.moc"
