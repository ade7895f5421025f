#pragma once
// The About box's system-information window: what someone reporting a problem needs to tell
// (program and Qt versions, operating system, serial devices, port mapping, data folder), as
// text the user can copy. CollectSystemInfo gathers it; it reads only, and never fails.
#include <QDialog>

class QPlainTextEdit;
class QPushButton;

QString CollectSystemInfo();

class frmSysInfo : public QDialog {
    Q_OBJECT
  public:
    explicit frmSysInfo(const QString& info, QWidget* parent = nullptr);

  private:
    QPlainTextEdit* txtInfo = nullptr;
    QPushButton* cmdCopy = nullptr;
    QPushButton* cmdOK = nullptr;
};
