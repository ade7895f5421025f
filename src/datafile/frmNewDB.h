#pragma once
// The "Create New Data File" dialog, opened from the main window's Setup menu. It creates a data
// file for 8, 12 or 16 channels in the data folder, or adopts an existing one of the typed name,
// and makes it the current data file: the counter restarts, the main window re-binds Data1 and
// derives its channel count again, and the open displays re-select their pages.
//
// Every edit of the name box sets Shared.DataFileName at once, and a typed name shows its full path
// in the path box (which shows the current file's when the dialog opens). A name the engine cannot create,
// or an existing file that is no data file, shows the engine's error and leaves the previous file
// current. Closing without a successful Create puts back the file name that was current when the
// dialog opened. The main window's scan timer is off while the dialog is open.
#include <QWidget>
#include <cstdint>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class frmNewDB : public QWidget {
    Q_OBJECT
  public:
    explicit frmNewDB(QWidget* parent = nullptr);

    QLabel* Label4 = nullptr;
    QComboBox* Combo1 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* Text1 = nullptr;
    QLineEdit* Text2 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void Combo1_Click(int index);
    void Text1_Change(const QString& text);
    void Command1_Click();
    void Refuse(const QString& error);

    int16_t m_channels = 8;
    bool m_timerWasOn = false;
    QString m_currentName; // the data file name in force: the one at opening or the last created
};
