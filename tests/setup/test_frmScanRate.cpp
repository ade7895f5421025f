#include "mainwindow/frmMain.h"
#include "app/window_registry.h"
#include "core/shared_state.h"
#include "fake_host.h"
#include "platform/serial_control.h"
#include "pty_pair.h"
#include "setup/frmPortDetect.h"
#include "setup/frmScanRate.h"
#include "test_registry.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <memory>

namespace {
const QString ScanRateOver = QStringLiteral(" Scan Rate Over Range !!!");
const QString MaxRecordOver = QStringLiteral("Max. Record Data Over Range !!!");
const QString PortOver = QStringLiteral(" Comm. Port Over Range !!!");

// default.txt as the program writes it for these values (data file "setup.mdb", the rest fixed).
QByteArray Defaults(int port, int scanRate, int maxRecords, int textType = 2, int angularType = 1,
                    int chart = 4, int format01 = 0)
{
    return QStringLiteral("\"Comm. Port \",%1\r\n\"Data File Name\",\"setup.mdb\"\r\n"
                          "\"System Scan Rate\",%2\r\n\"Max Record data\",%3\r\n"
                          "\"Text Display type\",%4\r\n\"Angular Display Channel\",%5\r\n"
                          "\"Chart Display Channel\",%6\r\n\"Format 01 and Special Meter\",%7\r\n")
        .arg(port)
        .arg(scanRate)
        .arg(maxRecords)
        .arg(textType)
        .arg(angularType)
        .arg(chart)
        .arg(format01)
        .toLatin1();
}

// Records the displays closed, in order.
class RecordingRegistry final : public WindowRegistry {
  public:
    QWidget* Show(WindowId) override { return nullptr; }
    void Close(WindowId id) override { closed.append(id); }
    bool IsOpen(WindowId) const override { return false; }
    bool Exists(WindowId) const override { return true; }
    QList<WindowId> closed;
};
} // namespace

class TestFrmScanRate : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<FakeHost> m_host;
    std::unique_ptr<frmMain> m_main;
    std::unique_ptr<frmScanRate> m_dialog;

    void Open()
    {
        m_dialog = std::make_unique<frmScanRate>();
        m_dialog->show();
    }

    void Save() { QTest::mouseClick(m_dialog->Command2, Qt::LeftButton); }

    QByteArray StoredDefaults() const
    {
        QFile file(DataPath(QStringLiteral("default.txt")));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    static void Type(QLineEdit* box, const QString& text)
    {
        box->clear();
        QTest::keyClicks(box, text);
    }

  private slots:
    void init()
    {
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("data")));
        QFile::remove(DataPath(QStringLiteral("default.txt")));
        Shared = SharedState{};
        Shared.AppPath = m_dir.path();
        Shared.DataFileName = QStringLiteral("setup.mdb");
        Shared.ComPort = 3;
        Shared.ScanRate = 5;
        Shared.MaxRecords = 1000;
        Shared.TextDisplayType = 2;
        Shared.AngularDisplayType = 1;
        Shared.ChartDisplayChannel = 4;
        Shared.BaudRate = 9600;
        m_host = std::make_unique<FakeHost>();
    }

    void cleanup()
    {
        m_dialog.reset();
        m_main.reset();
        SetWindowRegistry(nullptr);
        m_host.reset();
    }

    void captionsAndLoadedValues()
    {
        Open();
        QCOMPARE(m_dialog->windowTitle(), QStringLiteral("System Setup"));
        QCOMPARE(m_dialog->findChild<QLineEdit*>("Text2(0)")->text(), QStringLiteral("1000"));
        QCOMPARE(m_dialog->Combo1->count(), 255);
        QCOMPARE(m_dialog->Combo1->currentText(), QStringLiteral("3"));
        QCOMPARE(m_dialog->Combo2->itemText(6), QStringLiteral("16 Display"));
        QVERIFY(m_dialog->findChild<QLineEdit*>("Text5(1)"));
        QVERIFY(m_dialog->findChild<QRadioButton*>("Option2(1)")->isChecked());
        QVERIFY(m_dialog->findChild<QRadioButton*>("Option1(0)")->isChecked());
        QCOMPARE(m_dialog->Label1->text(), QStringLiteral("System Scan Rate (1-3600  Sec)"));
        QCOMPARE(m_dialog->Label6[0]->text(), QStringLiteral(" Text Display Type"));
        QCOMPARE(m_dialog->Option1[1]->text(), QStringLiteral("Special Meter "));
    }

    void saveValidations_data()
    {
        QTest::addColumn<QString>("scan");
        QTest::addColumn<QString>("records");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("scanShown");
        QTest::newRow("upper limits") << "3600"
                                      << "65535"
                                      << "7" << QStringList{} << Defaults(7, 3600, 65535) << "3600";
        QTest::newRow("lower limits") << "1"
                                      << "0"
                                      << "0" << QStringList{} << Defaults(0, 1, 0) << "1";
        QTest::newRow("12.5 rounds to 12") << "12.5"
                                           << "99.5"
                                           << "3" << QStringList{} << Defaults(3, 12, 100) << "12.5";
        QTest::newRow("13.5 rounds to 14") << "13.5 s"
                                           << "10abc"
                                           << "4.5" << QStringList{} << Defaults(4, 14, 10) << "13.5 s";
        QTest::newRow("scan 0") << "0"
                                << "1"
                                << "3" << QStringList{ScanRateOver} << Defaults(3, 5, 1) << "5";
        QTest::newRow("scan 3601") << "3601"
                                   << "1"
                                   << "3" << QStringList{ScanRateOver} << Defaults(3, 5, 1) << "5";
        QTest::newRow("scan without a number")
            << "abc"
            << "1"
            << "3" << QStringList{ScanRateOver} << Defaults(3, 5, 1) << "5";
        QTest::newRow("scan too large for 16 bits, not wrapped")
            << "65537"
            << "1"
            << "3" << QStringList{ScanRateOver} << Defaults(3, 5, 1) << "5";
        QTest::newRow("records 65536") << "2"
                                       << "65536"
                                       << "3" << QStringList{MaxRecordOver} << Defaults(3, 2, 1000) << "2";
        QTest::newRow("records -1") << "2"
                                    << "-1"
                                    << "3" << QStringList{MaxRecordOver} << Defaults(3, 2, 1000) << "2";
        QTest::newRow("records beyond 32 bits")
            << "2"
            << "1e12"
            << "3" << QStringList{MaxRecordOver} << Defaults(3, 2, 1000) << "2";
        QTest::newRow("both wrong, scan rate first")
            << "0"
            << "70000"
            << "3" << QStringList{ScanRateOver, MaxRecordOver} << Defaults(3, 5, 1000) << "5";
        QTest::newRow("port too large for 16 bits, not wrapped")
            << "2"
            << "1"
            << "70000" << QStringList{PortOver} << Defaults(3, 2, 1) << "2";
    }
    void saveValidations()
    {
        QFETCH(QString, scan);
        QFETCH(QString, records);
        QFETCH(QString, port);
        QFETCH(QStringList, messages);
        QFETCH(QByteArray, stored);
        QFETCH(QString, scanShown);
        Open();
        Type(m_dialog->Text1, scan);
        Type(m_dialog->Text2, records);
        m_dialog->Combo1->setEditText(port);
        Save();
        QCOMPARE(m_host->texts(), messages);
        QCOMPARE(StoredDefaults(), stored);
        QCOMPARE(m_dialog->Text1->text(), scanShown);
        QVERIFY(m_dialog->isVisible()); // Save keeps the dialog open
    }

    void saveStoresChoices_data()
    {
        QTest::addColumn<int>("meter");
        QTest::addColumn<int>("baudOption");
        QTest::addColumn<int>("format01");
        QTest::addColumn<int>("baudRate");
        QTest::newRow("normal meter, 9600") << 0 << 1 << 0 << 9600;
        QTest::newRow("special meter, 2400") << 1 << 0 << 1 << 2400;
        QTest::newRow("special meter 2 stores false") << 2 << 1 << 0 << 9600;
    }
    void saveStoresChoices()
    {
        QFETCH(int, meter);
        QFETCH(int, baudOption);
        QFETCH(int, format01);
        QFETCH(int, baudRate);
        Open();
        m_dialog->Option1[meter]->setChecked(true);
        m_dialog->Option2[baudOption]->setChecked(true);
        m_dialog->Combo2->setCurrentIndex(6);
        m_dialog->Combo3->setCurrentIndex(2);
        m_dialog->UpDown2->setValue(16);
        Save();
        QCOMPARE(StoredDefaults(), Defaults(3, 5, 1000, 6, 2, 16, format01));
        QCOMPARE(Shared.BaudRate, baudRate);
        QVERIFY(m_host->shown.isEmpty());
    }

    // Save leaves the dialog open: the line beside it tells that it saved, and when.
    void saveSaysItSaved()
    {
        Open();
        QCOMPARE(m_dialog->SavedNote->text(), QString());
        m_host->clock = QDateTime(QDate(2026, 12, 7), QTime(10, 0, 5));
        Save();
        QCOMPARE(m_dialog->SavedNote->text(), QStringLiteral("Saved at 10:00:05"));
        QVERIFY(m_host->shown.isEmpty());
        QFile::remove(DataPath(QStringLiteral("default.txt")));
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("data/default.txt"))); // cannot be written
        Save();
        QCOMPARE(m_dialog->SavedNote->text(), QStringLiteral("Not saved"));
        QCOMPARE(m_host->shown.size(), 1);
        QVERIFY(QDir(m_dir.path()).rmdir(QStringLiteral("data/default.txt")));
    }

    void handEditedValuesShowFirstItem_data()
    {
        QTest::addColumn<int>("textType");
        QTest::addColumn<int>("angularType");
        QTest::addColumn<int>("chart");
        QTest::addColumn<int>("textShown");
        QTest::addColumn<int>("angularShown");
        QTest::addColumn<int>("chartShown");
        QTest::newRow("in the lists") << 6 << 2 << 16 << 6 << 2 << 16;
        QTest::newRow("beyond the lists") << 7 << 3 << 17 << 0 << 0 << 1;
        QTest::newRow("negative") << -1 << -1 << 0 << 0 << 0 << 1;
    }
    void handEditedValuesShowFirstItem()
    {
        QFETCH(int, textType);
        QFETCH(int, angularType);
        QFETCH(int, chart);
        Shared.TextDisplayType = int16_t(textType);
        Shared.AngularDisplayType = int16_t(angularType);
        Shared.ChartDisplayChannel = int16_t(chart);
        Open();
        QTEST(m_dialog->Combo2->currentIndex(), "textShown");
        QTEST(m_dialog->Combo3->currentIndex(), "angularShown");
        QTEST(m_dialog->UpDown2->value(), "chartShown");
    }

    void typedDisplayType_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("index");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("an item") << "12 Display" << 5 << QStringList{};
        QTest::newRow("no item") << "7 Display" << 0 << QStringList{"Please select a display type"};
    }
    void typedDisplayType()
    {
        QFETCH(QString, typed);
        QFETCH(int, index);
        QFETCH(QStringList, messages);
        Open();
        QLineEdit* edit = m_dialog->Combo2->lineEdit();
        edit->setFocus();
        edit->clear();
        QTest::keyClicks(edit, typed);
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(m_host->texts(), messages);
        QCOMPARE(m_dialog->Combo2->currentIndex(), index);
        Save();
        QVERIFY(
            StoredDefaults().contains(QStringLiteral("\"Text Display type\",%1\r\n").arg(index).toLatin1()));
    }

    // Clicking Save straight from a box holding no item: Save's own check, nothing stored.
    void saveRefusesADisplayTypeMatchingNoItem_data()
    {
        QTest::addColumn<QString>("box");
        QTest::newRow("text display type") << "Combo2";
        QTest::newRow("angular display type") << "Combo3";
    }
    void saveRefusesADisplayTypeMatchingNoItem()
    {
        QFETCH(QString, box);
        m_main = std::make_unique<frmMain>();
        m_host->shown.clear();
        QSignalSpy saved(m_main.get(), &frmMain::setupSaved);
        Open();
        m_dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_dialog.get()));
        auto* combo = m_dialog->findChild<QComboBox*>(box);
        combo->lineEdit()->setFocus();
        combo->lineEdit()->clear();
        QTest::keyClicks(combo->lineEdit(), QStringLiteral("7 Display"));
        m_dialog->Text1->setText(QStringLiteral("9"));
        m_dialog->Command2->setFocus(); // where the mouse press puts it
        Save();
        QCOMPARE(m_host->texts(), QStringList{"Please select a display type"});
        QCOMPARE(StoredDefaults(), QByteArray("<missing>"));
        QCOMPARE(Shared.ScanRate, int16_t(5));
        QVERIFY(combo->hasFocus());
        QCOMPARE(saved.size(), 0);
        combo->setEditText(QStringLiteral("2 Display"));
        Save();
        QCOMPARE(Shared.ScanRate, int16_t(9));
        QCOMPARE(saved.size(), 1); // an open chart display follows the saved channel
    }

    // Opens whole on a 1280x800 screen; enlarged, its boxes keep their width and their place
    // under the title.
    void fitsTheScreenAndKeepsItsProportions()
    {
        Open();
        const QSize natural = m_dialog->size();
        QVERIFY(natural.width() <= 1280 && natural.height() <= 760);
        const int boxWidth = m_dialog->Text1->width();
        const int underTitle = m_dialog->Text1->y() - m_dialog->Label4->geometry().bottom();
        m_dialog->resize(natural * 2);
        QTRY_COMPARE(m_dialog->size(), natural * 2);
        QCOMPARE(m_dialog->Text1->width(), boxWidth);
        QCOMPARE(m_dialog->Text1->y() - m_dialog->Label4->geometry().bottom(), underTitle);
        QVERIFY(m_dialog->Command2->geometry().bottom() > m_dialog->height() - 40); // buttons at the foot
    }

    void exitFitsScanRate_data()
    {
        QTest::addColumn<int>("scanRate");
        QTest::addColumn<bool>("closeBox");
        QTest::addColumn<int>("after");
        QTest::newRow("Exit, 0") << 0 << false << 1;
        QTest::newRow("Exit, 3601") << 3601 << false << 1;
        QTest::newRow("Exit, in range") << 3600 << false << 3600;
        QTest::newRow("close box keeps it") << 0 << true << 0;
    }
    void exitFitsScanRate()
    {
        QFETCH(int, scanRate);
        QFETCH(bool, closeBox);
        Shared.ScanRate = int16_t(scanRate);
        Open();
        m_dialog->Text1->setText(QStringLiteral("77")); // not saved: dropped
        if (closeBox)
            m_dialog->close();
        else
            QTest::mouseClick(m_dialog->Command1, Qt::LeftButton);
        QVERIFY(!m_dialog->isVisible());
        QTEST(int(Shared.ScanRate), "after");
        QCOMPARE(StoredDefaults(), QByteArray("<missing>"));
    }

    void openingClosesLiveDisplaysInOrder()
    {
        RecordingRegistry registry;
        SetWindowRegistry(&registry);
        Shared.TextDispOpen = Shared.ChartDispOpen = Shared.AngularDispOpen = true;
        Open();
        QCOMPARE(registry.closed,
                 (QList<WindowId>{WindowId::AngularDisp, WindowId::TextDisp, WindowId::ChartDisp}));
    }

    void systemSetupClosesTheTextDisplay()
    {
        AppWindowRegistry registry;
        SetWindowRegistry(&registry);
        m_main = std::make_unique<frmMain>();
        m_main->findChild<QAction*>("mnuTextDisplay")->trigger();
        QVERIFY(registry.IsOpen(WindowId::TextDisp));
        QVERIFY(Shared.TextDispOpen);
        m_main->findChild<QAction*>("mnuScanRate")->trigger();
        QVERIFY(registry.IsOpen(WindowId::ScanRate));
        QVERIFY(!registry.IsOpen(WindowId::TextDisp));
        QVERIFY(!Shared.TextDispOpen);
        QVERIFY(Shared.Paused);
        QVERIFY(!m_main->Timer1->isActive());
        registry.Close(WindowId::ScanRate);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // The port is opened on a pseudo-terminal mapped to COM3.
    void serialPortAfterSaveAndExit_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<bool>("openAfter");
        QTest::newRow("Save closes an open port") << "save" << false;
        QTest::newRow("Save restarts it for an open display") << "display,save" << true;
        QTest::newRow("Exit with the baud rate kept leaves it open") << "exit" << true;
        QTest::newRow("Exit after a baud rate change closes it") << "2400,save,start,exit" << false;
    }
    void serialPortAfterSaveAndExit()
    {
        QFETCH(QString, steps);
        PtyPair pty;
        QVERIFY(pty.isValid());
        m_host->setSetting(QStringLiteral("Ports"), QStringLiteral("COM3"), pty.slavePath());
        m_main = std::make_unique<frmMain>();
        m_main->Start232();
        QVERIFY(m_main->MSComm1->PortOpen());
        Open();
        for (const QString& step : steps.split(QLatin1Char(','))) {
            if (step == "display")
                Shared.TextDispOpen = true;
            else if (step == "2400")
                m_dialog->Option2[0]->setChecked(true);
            else if (step == "save")
                Save();
            else if (step == "start")
                m_main->Start232();
            else if (step == "exit")
                QTest::mouseClick(m_dialog->Command1, Qt::LeftButton);
        }
        QTEST(m_main->MSComm1->PortOpen(), "openAfter");
        QVERIFY(m_host->shown.isEmpty());
    }

    void portListMapsADevice_data()
    {
        QTest::addColumn<bool>("fromList");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("mapped");
        QTest::newRow("adapter chosen in the list") << true << QString() << true;
        QTest::newRow("typed pseudo-terminal") << false << "pty" << true;
        QTest::newRow("typed path of no device") << false << "/dev/no-such-tty" << false;
        QTest::newRow("nothing chosen") << false << "" << false;
    }
    void portListMapsADevice()
    {
        QFETCH(bool, fromList);
        QFETCH(QString, typed);
        QFETCH(bool, mapped);
        PtyPair pty;
        QTemporaryDir byId;
        const QString link = byId.filePath(QStringLiteral("usb-Test_Adapter_42-if00-port0"));
        QVERIFY(QFile::link(pty.slavePath(), link));
        frmPortDetect list(9, nullptr, byId.path());
        QTreeWidgetItem* row = list.List1->findItems(link, Qt::MatchExactly).value(0);
        QVERIFY(row);
        QCOMPARE(row->text(1), QStringLiteral("USB serial adapter, now %1").arg(pty.slavePath()));
        if (fromList)
            list.List1->setCurrentItem(row);
        else
            list.Text1->setText(typed == "pty" ? pty.slavePath() : typed);
        const QString expected = list.Text1->text();
        QTest::mouseClick(list.Command1, Qt::LeftButton);
        QCOMPARE(list.result() == QDialog::Accepted, mapped);
        QCOMPARE(MappedSerialDevice(9), mapped ? expected : QString());
        QCOMPARE(SerialDeviceForPort(9), mapped ? expected : QStringLiteral("/dev/ttyS8"));
        QCOMPARE(m_host->shown.size(), mapped ? 0 : 1);
        if (mapped) {
            frmPortDetect again(9, nullptr, byId.path());
            QCOMPARE(again.Text1->text(), expected);
            QCOMPARE(again.List1->findItems(QStringLiteral("COM9"), Qt::MatchExactly, 2).size(), 1);
        }
    }
};

VARNIK_TEST_CLASS(TestFrmScanRate)
#include "test_frmScanRate.moc"
