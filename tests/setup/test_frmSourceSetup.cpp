// The meter source dialog: what it refuses (naming the field, storing nothing), what it stores
// and shows again, and its Scan/Test against a stand-in for meter-sigrok and against the real one
// with libsigrok's demo driver.
#include "core/shared_state.h"
#include "fake_host.h"
#include "setup/frmSourceSetup.h"
#include "sigrok_stand_in.h"
#include "test_registry.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

// Drivers "fake" (six readings, then silence), "absent" (no device) and "picky" (refuses any
// option named bad).
const char* FakeHelper = R"sh(#!/bin/bash
printf 'meter-sigrok\t1\n'
case "$1" in
  --list-drivers) printf 'driver\tabsent\tNo such meter\ndriver\tfake\tA stand-in meter\ndriver\tpicky\tPicky meter\n'; exit 0 ;;
  --check) for o in "$@"; do case "$o" in bad=*) printf 'error\toption\t%s: unknown option\n' "$o"; exit 2 ;; esac; done
           echo ok; exit 0 ;;
  absent) printf 'error\tabsent\tno absent device found\n'; exit 3 ;;
esac
printf 'device\tStand-in DMM\t2\nchannel\t0\tP1\nchannel\t1\tP2\n'
for i in 1 2 3; do
  printf 'reading\t0\t0.0015\t4\tcurrent\tA\tdc,auto\nreading\t1\tinf\t2\tvoltage\tV\tac,hold\n'
done
exec sleep 60
)sh";

} // namespace

class TestFrmSourceSetup : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<FakeHost> m_host;

    QString Stored() const
    {
        QStringList texts;
        for (auto it = m_host->settings.begin(); it != m_host->settings.end(); ++it)
            if (it.key().startsWith("Sources/"))
                texts << it.key() + "=" + it.value();
        return texts.join(", ");
    }
    static void Choose(frmSourceSetup& d, int kind, const QString& driver, const QString& port,
                       const QString& options, int channels, int first)
    {
        d.cboKind->setCurrentIndex(kind);
        d.cboDriver->setCurrentIndex(d.cboDriver->findData(driver));
        d.cboPort->setEditText(port);
        d.txtOptions->setText(options);
        d.spnChannels->setValue(channels);
        d.spnFirst->setValue(first);
    }

  private slots:
    void init()
    {
        Shared = SharedState{};
        m_host = std::make_unique<FakeHost>();
        UseSigrokStandIn(m_dir.path(), FakeHelper);
    }
    void cleanup() { m_host.reset(); }

    void refusesNamingTheFieldAndStoresNothing_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("driver");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("options");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("first");
        QTest::addColumn<QString>("message");
        const int device = frmSourceSetup::Device, both = frmSourceSetup::Both;
        QTest::newRow("no driver") << device << "" << "" << "" << 1 << 1 << "Not saved. libsigrok driver: choose one";
        QTest::newRow("option without =") << device << "fake" << "" << "serialcomm" << 1 << 1
                                          << "Not saved. Extra options: \"serialcomm\" is not KEY=VALUE";
        QTest::newRow("port as an option") << device << "fake" << "" << "conn=/dev/ttyS0" << 1 << 1
                                           << "Not saved. Extra options: give the port in the Port box";
        QTest::newRow("missing port") << device << "fake" << "/dev/ttyUSB-none" << "" << 1 << 1
                                      << "Not saved. Port: /dev/ttyUSB-none does not exist.";
        QTest::newRow("past the file's channels")
            << device << "fake" << "" << "" << 2 << 8
            << "Not saved. First data-file channel / Channels to record: source \"sigrok:fake:channels=2@8\" needs "
               "channels 8 to 9, but the data file has 8.";
        QTest::newRow("on the instrument's channel 1") << both << "fake" << "" << "" << 1 << 1
                                                       << "Not saved. First data-file channel / Channels to record: "
                                                          "the instrument has no channel left.";
        QTest::newRow("option the helper refuses")
            << device << "picky" << "" << "bad=1" << 1 << 1
            << "Not saved. libsigrok driver / Extra options: bad=1: unknown option";
    }
    void refusesNamingTheFieldAndStoresNothing()
    {
        QFETCH(int, kind);
        QFETCH(QString, driver);
        QFETCH(QString, port);
        QFETCH(QString, options);
        QFETCH(int, channels);
        QFETCH(int, first);
        QFETCH(QString, message);
        frmSourceSetup d(nullptr, 8);
        Choose(d, kind, driver, port, options, channels, first);
        QTest::mouseClick(d.cmdSave, Qt::LeftButton);
        QCOMPARE(m_host->shown.size(), 1);
        QVERIFY2(m_host->shown[0].text.startsWith(message), qPrintable(m_host->shown[0].text));
        QCOMPARE(Stored(), QString());
    }

    void storesSourceTextsAndShowsThemAgain()
    {
        {
            frmSourceSetup d(nullptr, 8);
            QCOMPARE(d.cboKind->currentIndex(), int(frmSourceSetup::Instrument)); // nothing stored yet
            QCOMPARE(d.cboDriver->count(), 3);
            // A device alone starts at channel 1; beside the instrument, after its channel 1.
            d.cboKind->setCurrentIndex(frmSourceSetup::Device);
            QCOMPARE(d.spnFirst->value(), 1);
            d.cboKind->setCurrentIndex(frmSourceSetup::Both);
            QCOMPARE(d.spnFirst->value(), 2);
            Choose(d, frmSourceSetup::Both, "fake", "/dev/null", " serialcomm=2400/8n1  ", 2, 3);
            QVERIFY(d.Save());
        }
        QCOMPARE(Stored(), "Sources/Count=2, Sources/Source1=meter, "
                           "Sources/Source2=sigrok:fake:conn=/dev/null:serialcomm=2400/8n1:channels=2@3");
        {
            frmSourceSetup d(nullptr, 8);
            QCOMPARE(d.cboKind->currentIndex(), int(frmSourceSetup::Both));
            QCOMPARE(d.cboDriver->currentData().toString(), "fake");
            QCOMPARE(d.cboDriver->currentText(), "fake (A stand-in meter)");
            QCOMPARE(d.cboPort->currentText(), "/dev/null");
            QCOMPARE(d.txtOptions->text(), "serialcomm=2400/8n1");
            QCOMPARE(d.spnChannels->value(), 2);
            QCOMPARE(d.spnFirst->value(), 3);
            d.cboKind->setCurrentIndex(frmSourceSetup::Instrument);
            QVERIFY(!d.cboDriver->isEnabled() && !d.cmdTest->isEnabled());
            QVERIFY(d.Save());
        }
        QCOMPARE(Stored(), "Sources/Count=1, Sources/Source1=meter, Sources/Source2=");
        QVERIFY(m_host->shown.isEmpty());
    }

    void testShowsTheFirstReadingsOrTheError()
    {
        frmSourceSetup d(nullptr, 8);
        Choose(d, frmSourceSetup::Device, "fake", "", "", 2, 1);
        QTest::mouseClick(d.cmdTest, Qt::LeftButton);
        QVERIFY(d.Testing() && !d.cmdTest->isEnabled());
        QTRY_VERIFY(!d.Testing()); // six readings end it at once, not after TestMs
        QCOMPARE(d.txtTest->toPlainText().split('\n').mid(1),
                 (QStringList{"Device: Stand-in DMM, 2 analog channel(s)", "P1: 0.0015 ADC  DC AUTO",
                              "P2: overload VAC  AC HOLD", "P1: 0.0015 ADC  DC AUTO", "P2: overload VAC  AC HOLD",
                              "P1: 0.0015 ADC  DC AUTO", "P2: overload VAC  AC HOLD", "Test done: 6 reading(s)."}));
        QVERIFY(d.cmdTest->isEnabled());

        Choose(d, frmSourceSetup::Device, "absent", "", "", 1, 1);
        QTest::mouseClick(d.cmdTest, Qt::LeftButton);
        QTRY_VERIFY(!d.Testing());
        QCOMPARE(d.txtTest->toPlainText().split('\n').mid(1), QStringList{"error: no absent device found"});
        QVERIFY(m_host->shown.isEmpty());
    }

    void realDemoDriverListsTestsAndSaves()
    {
        qputenv("VARNIK_SIGROK_HELPER", VARNIK_BINARY_DIR "/meter-sigrok");
        frmSourceSetup d(nullptr, 8);
        QVERIFY2(d.cboDriver->findData("demo") >= 0, qPrintable(d.lblDrivers->text()));
        Choose(d, frmSourceSetup::Device, "demo", "", "samplerate=4 analog_channels=1 logic_channels=0", 1, 1);
        QTest::mouseClick(d.cmdTest, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!d.Testing(), frmSourceSetup::TestMs + 3000);
        const QString shown = d.txtTest->toPlainText();
        QVERIFY2(shown.contains("Device: Demo device") && shown.contains(QRegularExpression("\nA0: -?10\\.0+ VDC")),
                 qPrintable(shown));
        QVERIFY(d.Save());
        QCOMPARE(Stored(), "Sources/Count=1, "
                           "Sources/Source1=sigrok:demo:samplerate=4:analog_channels=1:logic_channels=0:channels=1@1");
        QVERIFY(m_host->shown.isEmpty());

        // A value the device refuses (only it can tell): Scan/Test says so, and Save refuses it.
        d.txtOptions->setText("samplerate=-5 analog_channels=1 logic_channels=0");
        QTest::mouseClick(d.cmdTest, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!d.Testing(), frmSourceSetup::TestMs + 3000);
        QVERIFY2(d.txtTest->toPlainText().contains("error: samplerate=-5: invalid argument"), qPrintable(d.txtTest->toPlainText()));
        QVERIFY(!d.Save());
        QCOMPARE(m_host->shown.size(), 1);
        QVERIFY2(m_host->shown[0].text.contains("Scan/Test was refused: samplerate=-5"), qPrintable(m_host->shown[0].text));
    }
};

VARNIK_TEST_CLASS(TestFrmSourceSetup)
#include "test_frmSourceSetup.moc"
