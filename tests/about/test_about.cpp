#include "about/frmAbout.h"
#include "about/frmSplash.h"
#include "about/frmSysInfo.h"
#include "about/identity_ui.h"
#include "core/shared_state.h"
#include "core/startup.h"
#include "fake_host.h"
#include "test_registry.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

namespace {
QString labelText(QWidget* window, const char* name)
{
    auto* label = window->findChild<QLabel*>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("<no %1>").arg(QString::fromLatin1(name));
}

bool labelShown(QWidget* window, const char* name)
{
    auto* label = window->findChild<QLabel*>(QString::fromLatin1(name));
    return label && !label->isHidden();
}

QList<frmSysInfo*> sysInfoWindows(QWidget* owner)
{
    return owner->findChildren<frmSysInfo*>();
}
} // namespace

class TestIdentityWindows : public QObject {
    Q_OBJECT
  private slots:
    void init() { Shared = SharedState{}; }

    void texts_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("firstLine");
        QTest::addColumn<bool>("modelShown");

        QTest::newRow("branded") << "/opt/v/Varnik350"
                                 << "Varnik350.exe"
                                 << "Version : 100401"
                                 << "Varnik Data Acquisition  Software" << true;
        QTest::newRow("branded with extension") << "C:/v/Varnik350.exe"
                                                << "Varnik350.exe"
                                                << "Version : 100401"
                                                << "Varnik Data Acquisition  Software" << true;
        QTest::newRow("letter case differs") << "/opt/v/varnik350"
                                             << "Datalogger.exe"
                                             << "Version : 090725N"
                                             << "Data Acquisition  Software" << false;
        QTest::newRow("generic") << "/opt/v/Datalogger"
                                 << "Datalogger.exe"
                                 << "Version : 090725N"
                                 << "Data Acquisition  Software" << false;
    }

    void texts()
    {
        QFETCH(QString, executable);
        QFETCH(QString, title);
        QFETCH(QString, version);
        QFETCH(QString, firstLine);
        QFETCH(bool, modelShown);
        SetIdentity(executable);
        const QString description = firstLine + "\n ( Software for u-P instrument & DMM )";

        frmSplash splash;
        QCOMPARE(labelText(&splash, "lblProductName"), description);
        QCOMPARE(labelText(&splash, "lblVersion"), version);
        QCOMPARE(labelText(&splash, "Label1"), QStringLiteral("Model no. : SW-U350-WIN"));
        QCOMPARE(labelText(&splash, "Label2"), QStringLiteral("Version : V9904TW"));
        QCOMPARE(labelShown(&splash, "Label1"), modelShown);
        QCOMPARE(labelShown(&splash, "lblCompanyProduct"), modelShown);

        frmAbout about;
        QCOMPARE(about.windowTitle(), "About " + title);
        QCOMPARE(labelText(&about, "lblTitle"), title);
        QCOMPARE(labelText(&about, "lblVersion"), version);
        QCOMPARE(labelText(&about, "lblDescription"), description);
        QCOMPARE(labelShown(&about, "Label1"), modelShown);
        QCOMPARE(labelText(&about, "Label2"), QStringLiteral("Revised : " VARNIK_VERSION_TEXT));
        QVERIFY(about.isModal());
        QVERIFY(!labelText(&about, "lblDisclaimer").isEmpty());
        QVERIFY(labelText(&about, "lblLicense").contains("GNU General Public License, version 3"));
        auto* sysInfo = about.findChild<QPushButton*>("cmdSysInfo");
        QVERIFY(sysInfo);
        QCOMPARE(sysInfo->text(), QStringLiteral("System Info(&S)..."));
    }

    // A version part with a leading zero must not be read as octal ("0017" is 17, not 15).
    void revisionPartsAreDecimal_data()
    {
        QTest::addColumn<QString>("major");
        QTest::addColumn<QString>("minor");
        QTest::addColumn<QString>("patch");
        QTest::addColumn<QString>("expected");
        QTest::newRow("leading zeros") << "8"
                                       << "01"
                                       << "0017"
                                       << "Revised : 8.1.17";
        QTest::newRow("plain") << "1"
                               << "0"
                               << "0"
                               << "Revised : 1.0.0";
        QTest::newRow("digits 8 and 9") << "08"
                                        << "09"
                                        << "0019"
                                        << "Revised : 8.9.19";
    }

    void revisionPartsAreDecimal()
    {
        QFETCH(QString, major);
        QFETCH(QString, minor);
        QFETCH(QString, patch);
        QFETCH(QString, expected);
        QCOMPARE(RevisionText(major, minor, patch), expected);
    }

    void okClosesTheAboutBox()
    {
        auto* about = new frmAbout;
        about->setAttribute(Qt::WA_DeleteOnClose);
        QPointer<frmAbout> watch(about);
        about->show();
        QTest::mouseClick(about->findChild<QPushButton*>("cmdOK"), Qt::LeftButton);
        QVERIFY(!about->isVisible());
        QTRY_VERIFY(watch.isNull());
    }

    void systemInfoOpensOnceWithWhatAReportNeeds()
    {
        FakeHost host;
        Shared.AppPath = QStringLiteral("/srv/varnik-test");
        frmAbout about;
        about.show();
        auto* button = about.findChild<QPushButton*>("cmdSysInfo");
        QTest::mouseClick(button, Qt::LeftButton);
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(sysInfoWindows(&about).size(), 1);
        QVERIFY(host.shown.isEmpty());

        const QString info =
            sysInfoWindows(&about).first()->findChild<QPlainTextEdit*>("txtInfo")->toPlainText();
        QVERIFY2(info.contains(QString::fromLatin1(qVersion())), qPrintable(info));
        QVERIFY2(info.contains(QStringLiteral(VARNIK_VERSION_TEXT)), qPrintable(info));
        QVERIFY2(info.contains(QStringLiteral("Data folder: /srv/varnik-test/data\n")), qPrintable(info));
        QVERIFY2(info.contains(QStringLiteral("Serial devices found:")), qPrintable(info));

        // An installed program's per-user folder, or the one given with --data-dir.
        Shared.DataFolder = QStringLiteral("/home/u/.local/share/Varnik350/data");
        const QString installed = CollectSystemInfo();
        Shared.DataFolder.clear();
        QVERIFY2(installed.contains(QStringLiteral("Data folder: /home/u/.local/share/Varnik350/data\n")),
                 qPrintable(installed));
    }

    void systemInfoWithNothingToShowGivesTheMessage()
    {
        FakeHost host;
        frmAbout about;
        about.SystemInfo = [] { return QString(); };
        about.StartSysInfo();
        QCOMPARE(host.texts(), QStringList{QStringLiteral("此時的系統資訊不正確")});
        QCOMPARE(host.shown.first().buttons, HostServices::Buttons(HostServices::Ok));
        QVERIFY(sysInfoWindows(&about).isEmpty());
    }

    void logoIsPainted()
    {
        const QImage logo = VarnikLogo(64).toImage();
        QVERIFY(!logo.isNull());
        // Corners stay transparent, the middle carries the mark.
        QCOMPARE(qAlpha(logo.pixel(0, 0)), 0);
        QVERIFY(qAlpha(logo.pixel(logo.width() / 2, logo.height() / 2)) > 0);
    }
};

VARNIK_TEST_CLASS(TestIdentityWindows)
#include "test_about.moc"
