#pragma once
// The splash window that start-up shows while the main window loads. It shows the identity
// texts of Shared (set before it is created): branded with the model and company lines,
// generic without them. It has no timer: start-up closes it.
#include <QWidget>

class QFrame;
class QLabel;

class frmSplash : public QWidget {
    Q_OBJECT
  public:
    explicit frmSplash(QWidget* parent = nullptr);

  private:
    QFrame* fraMainFrame = nullptr;
    QLabel* imgLogo = nullptr;
    QLabel* lblCompanyProduct = nullptr;
    QLabel* lblProductName = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
};
