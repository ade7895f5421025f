#pragma once
// Report > Event Log: the events of the current data file, or of one chosen with "Select Data
// File", newest first: the whole file unless a date range is chosen, narrowed by kinds, a channel
// and a text search (event_list.h), with how long each gap lasted. It reads the file again by
// itself when the file changes (while recording). "Copy" puts the rows shown on the clipboard,
// "Save CSV" writes them as meter-query --events does. "Add Note" writes a note into the file
// shown (through the main window's recording when that is the file it records into), and the
// window says which file that is.
// Reading opens the file read-only and never changes it (except rolling back the half row of a
// recorder killed while writing, as every reader does); a file whose events cannot be read shows
// the reason where the count would be; a note that cannot be written is a message box.
#include "query/event_list.h"

#include <QDateTime>
#include <QWidget>
#include <functional>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTableWidget;
class QTimer;
class QToolButton;

class frmEventLog : public QWidget {
    Q_OBJECT
  public:
    explicit frmEventLog(QWidget* parent = nullptr);

    QLabel* lblFile = nullptr;
    QPushButton* cmdSelectFile = nullptr;
    QCheckBox* chkAllDates = nullptr;
    QDateEdit* dtFrom = nullptr;
    QDateEdit* dtTo = nullptr;
    QToolButton* cmdKinds = nullptr; // a menu of checkable kinds; none checked: every kind
    QComboBox* cboChannel = nullptr;
    QLineEdit* txtSearch = nullptr;
    QPushButton* cmdShow = nullptr;
    QTableWidget* grdEvents = nullptr;
    QLabel* lblCount = nullptr;
    QPushButton* cmdCopy = nullptr;
    QPushButton* cmdSave = nullptr;
    QLabel* lblNote = nullptr;
    QLineEdit* txtNote = nullptr;
    QPushButton* cmdAddNote = nullptr;
    QPushButton* cmdClose = nullptr;
    QTimer* tmrWatch = nullptr;

    // The open-file and save-file dialogs: the chosen path or an empty text on cancel. Tests
    // replace them.
    std::function<QString()> dlg1;
    std::function<QString()> dlgSave;

    // Reads the shown file's events into the grid; false when they cannot be read (the reason
    // is then in lblCount).
    bool Refresh();
    // Refresh when the file changed since it was last read (the watch timer's tick).
    void RefreshIfChanged();
    void AddNote();
    void SetKinds(const QStringList& kinds);
    QString ShownFile() const { return m_file; }
    QList<ListedEvent> ShownRows() const { return m_rows; }

  private:
    void SelectFile();
    void ShowFile(const QString& path);
    void CopyRows();
    void SaveRows();
    QString FileStamp() const;

    QString m_file;
    QString m_stamp;
    QMenu* m_kindMenu = nullptr;
    QList<ListedEvent> m_rows;
};
