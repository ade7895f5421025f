#pragma once
// The About box, opened modal over the main window from its About menu. Shows the identity texts
// of Shared (branded or generic), this build's revision and a warning line. "System Info(&S)..."
// opens the system-information window, or shows "此時的系統資訊不正確" when nothing can be shown.
#include <QDialog>
#include <QPointer>
#include <array>
#include <functional>

class QFrame;
class QLabel;
class QPushButton;
class frmSysInfo;

class frmAbout : public QDialog {
    Q_OBJECT
  public:
    explicit frmAbout(QWidget* parent = nullptr);

    // Opens (or raises) the system-information window.
    void StartSysInfo();
    // Gathers the text of the system-information window; an empty text means nothing to show.
    std::function<QString()> SystemInfo;

  private:
    QLabel* picIcon = nullptr;
    QLabel* lblTitle = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* lblDescription = nullptr;
    QLabel* lblDisclaimer = nullptr;
    QLabel* lblLicense = nullptr; // the licence, in a line
    std::array<QFrame*, 2> Line1{};
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdSysInfo = nullptr;
    QPointer<frmSysInfo> m_sysInfo;
};
