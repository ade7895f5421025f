#pragma once
// What the two "Find Data" windows share: the data file choice, the channel boxes, the date and
// time inputs, the query into the grid with its record count and statistics line, and the
// spreadsheet export. frmSelect (8 channels, with the chart and the report) and frmSelect_16
// (8, 12 or 16 channels) add their own parts.
//
// While a query window is open the main window's scan timer is stopped; closing puts back the
// state it had. A query never writes to the data file. Every failure is a message box with the
// engine's or the program's description, and sets QueryErr. A failed query (no record matched
// included) and the choice of another data file empty the grid, the count and the statistics,
// and disable Export and Show Chart until a query succeeds: nothing works on an earlier result.
// After a report or an export, OutputFile names the file written until the next query runs.
#include "datafile/event_log.h"
#include "query/query_model.h"

#include <QWidget>
#include <array>
#include <functional>

class QCheckBox;
class QGridLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QVBoxLayout;

class QueryWindow : public QWidget {
    Q_OBJECT
  public:
    QLabel* Label6 = nullptr;
    QPushButton* Command7 = nullptr;
    QList<QCheckBox*> Check2;
    std::array<QLabel*, 4> Label1{};
    std::array<QLineEdit*, 2> Text1{};
    QCheckBox* Check1 = nullptr;
    QLineEdit* MaskEd1 = nullptr;
    QLineEdit* MaskEd2 = nullptr;
    QLabel* Label5 = nullptr;
    QPushButton* Command1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QTableView* DBGrid1 = nullptr;
    QLabel* Statistics = nullptr;
    QLabel* OutputFile = nullptr;
    QPushButton* cmdExportToExcel = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command5 = nullptr;
    std::array<QPushButton*, 2> Command3{};
    QPushButton* Command6 = nullptr;

    bool fgTimer = false;
    bool QueryErr = false;

    // The open-file dialog (dlg1): given the filter " (*.mdb)|*.mdb", returns the chosen path or
    // an empty text on cancel. Tests replace it.
    std::function<QString(const QString& filter)> dlg1;

    // "Data Query": true when the query succeeded.
    bool Command1_Click();
    // The statement of the last query that got as far as building one.
    QString RecordSource() const { return m_recordSource; }
    const QueryResult& Result() const { return m_model->result(); }
    // Channels that are checked, from 1 up to the channel count.
    QList<int> CheckedChannels() const;
    // The event log of the last successful query's data file over its date range, oldest first
    // (the chart and the export show it); empty with *error when it cannot be read.
    QList<LoggedEvent> QueriedEvents(QString* error) const;

  protected:
    QueryWindow(int boxes, int channelCount, QWidget* parent);
    void closeEvent(QCloseEvent* event) override;
    // Runs before each query and when the window closes (the chart is cleared there).
    virtual void ClearChart() {}
    // Runs when " Select Database" has put another data file in Label6.
    virtual void DataFileChosen(const QString& /*path*/) {}
    void SetChannelCount(int count);
    // "Data Query"'s steps; clearChart false leaves a drawn chart as it is (Print Data).
    bool Query(bool clearChart);
    // Names the report or workbook just written in OutputFile, and says when no program opened it.
    void ShowOutputFile(const QString& what, const QString& path, bool opened);
    // Asks the shell to open a file just written and names it in OutputFile; when no program takes
    // it (told at once or later), the line says so and notOpened, if any, is shown.
    void OpenOutputFile(const QString& what, const QString& path, const QString& notOpened = QString());

    QVBoxLayout* m_left = nullptr;  // channel boxes, inputs, buttons
    QVBoxLayout* m_right = nullptr; // file row, grid, count, statistics

  private:
    void Command7_Click();
    void Check1_Click();
    void cmdExportToExcel_Click();
    void SizeColumns();
    void ShowResult(QueryResult result, const QString& count);

    QueryResultModel* m_model = nullptr;
    QString m_recordSource;
    int m_channelCount = 8;
    QString m_queriedFile;
    QDate m_queriedFrom;
    QDate m_queriedTo;
    int m_outputsShown = 0; // counts what OutputFile showed, so a late answer finds it stale
};
