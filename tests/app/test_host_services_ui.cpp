#include "core/shared_state.h"
#include "platform/host_services_ui.h"
#include "test_registry.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

namespace {
// Runs `act` on the message box once it is up, from a timer started before the box blocks.
void whenBoxShows(std::function<void(QMessageBox*)> act, QString* seenText = nullptr,
                  QMessageBox::StandardButton* seenDefault = nullptr)
{
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [=] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        poll->stop();
        poll->deleteLater();
        if (seenText)
            *seenText = box->text();
        if (seenDefault)
            *seenDefault = box->standardButton(box->defaultButton());
        act(box);
    });
    poll->start(10);
}
} // namespace

class TestWindowHost : public QObject {
    Q_OBJECT
  private slots:
    void init() { Shared = SharedState{}; }

    void answers_data()
    {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("defaultButton");
        QTest::addColumn<int>("press"); // the box's button to click; NoButton presses Escape
        QTest::addColumn<int>("expected");
        const int yesNo = HostServices::Yes | HostServices::No;
        QTest::newRow("Yes") << yesNo << int(HostServices::No) << int(QMessageBox::Yes)
                             << int(HostServices::Yes);
        QTest::newRow("No") << yesNo << int(HostServices::No) << int(QMessageBox::No)
                            << int(HostServices::No);
        QTest::newRow("Escape on a question means No")
            << yesNo << int(HostServices::Yes) << int(QMessageBox::NoButton) << int(HostServices::No);
        QTest::newRow("OK") << int(HostServices::Ok) << int(HostServices::Ok) << int(QMessageBox::Ok)
                            << int(HostServices::Ok);
        QTest::newRow("Escape on a notice") << int(HostServices::Ok) << int(HostServices::Ok)
                                            << int(QMessageBox::NoButton) << int(HostServices::Ok);
    }

    void answers()
    {
        QFETCH(int, buttons);
        QFETCH(int, defaultButton);
        QFETCH(int, press);
        QFETCH(int, expected);
        WindowHostServices host;
        QString text;
        QMessageBox::StandardButton shownDefault = QMessageBox::NoButton;
        whenBoxShows(
            [press](QMessageBox* box) {
                QAbstractButton* button = box->button(static_cast<QMessageBox::StandardButton>(press));
                if (button)
                    button->click();
                else
                    QTest::keyClick(box, Qt::Key_Escape);
            },
            &text, &shownDefault);
        const auto answer =
            host.message(QStringLiteral("Comm. Port Disconnected!\r\nDo you want to continue ?"), buttons,
                         HostServices::Icon::Critical, static_cast<HostServices::Button>(defaultButton));
        QCOMPARE(int(answer), expected);
        QCOMPARE(text, QStringLiteral("Comm. Port Disconnected!\r\nDo you want to continue ?"));
        const auto wantDefault = defaultButton == HostServices::Yes  ? QMessageBox::Yes
                                 : defaultButton == HostServices::No ? QMessageBox::No
                                                                     : QMessageBox::Ok;
        QCOMPARE(shownDefault, wantDefault);
    }

    // The program closes a box itself (the meter came back while it asked): the box answers as if
    // that button had been pressed.
    void closedByTheProgram()
    {
        WindowHostServices host;
        QString text;
        whenBoxShows([&host](QMessageBox*) { host.closeMessage(HostServices::Yes); }, &text, nullptr);
        const auto answer = host.message(QStringLiteral("Comm. Port Disconnected!\r\nDo you want to continue ?"),
                                         HostServices::Yes | HostServices::No, HostServices::Icon::Critical,
                                         HostServices::No);
        QCOMPARE(answer, HostServices::Yes);
        host.closeMessage(HostServices::No); // no box: nothing happens
    }

    // The desktop's opener starts whatever the file type asks for; only its exit code says
    // whether a program took the file (xdg-open ends with 3 when none is set).
    void openerAnswersWhenItEnds()
    {
        QTemporaryDir dir;
        const QString opener = dir.filePath(QStringLiteral("opener"));
        QFile script(opener);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\ncase \"$1\" in *.txt) exit 0;; *) exit 3;; esac\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        WindowHostServices host;
        QList<bool> answers;
        const auto record = [&answers](bool opened) { answers << opened; };
        host.opener = opener;
        host.shellOpenThen(dir.filePath(QStringLiteral("report.txt")), record);
        QTRY_COMPARE(answers, QList<bool>{true});
        host.shellOpenThen(dir.filePath(QStringLiteral("Query.xlsx")), record);
        QTRY_COMPARE(answers, (QList<bool>{true, false}));
        host.opener = dir.filePath(QStringLiteral("missing"));
        host.shellOpenThen(dir.filePath(QStringLiteral("report.txt")), record);
        QTRY_COMPARE(answers, (QList<bool>{true, false, false}));
    }
};

VARNIK_TEST_CLASS(TestWindowHost)
#include "test_host_services_ui.moc"
