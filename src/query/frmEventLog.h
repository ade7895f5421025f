#pragma once
// Report > Event Log: the events of the current data file, or of one chosen with "Select Data
// File", newest first, filtered by a date range and a kind; and a box with "Add Note" that writes
// a note into the current data file through the main window's recording (frmMain::AddNote).
// Reading opens the file read-only and never changes it; a file whose event log cannot be read, or
// a note that cannot be written (no current data file, a read-only one), is a message box.
#include <QWidget>
#include <functional>

class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

class frmEventLog : public QWidget {
    Q_OBJECT
  public:
    explicit frmEventLog(QWidget* parent = nullptr);

    QLabel* lblFile = nullptr;
    QPushButton* cmdSelectFile = nullptr;
    QDateEdit* dtFrom = nullptr;
    QDateEdit* dtTo = nullptr;
    QComboBox* cboKind = nullptr;
    QPushButton* cmdShow = nullptr;
    QTableWidget* grdEvents = nullptr;
    QLabel* lblCount = nullptr;
    QLineEdit* txtNote = nullptr;
    QPushButton* cmdAddNote = nullptr;
    QPushButton* cmdClose = nullptr;

    // The open-file dialog: returns the chosen path or an empty text on cancel. Tests replace it.
    std::function<QString()> dlg1;

    // Reads the shown file's events with the filter into the grid; false after a message.
    bool Refresh();
    void AddNote();
    QString ShownFile() const { return m_file; }

  private:
    void SelectFile();

    QString m_file;
};
