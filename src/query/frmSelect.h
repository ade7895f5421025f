#pragma once
// "Find Data" for channels 1 to 8 (Report > Data Query): the shared query window plus the query
// chart with its set-up frame, "Show Chart", "Clear Chart", "Print Chart", and "Print Data",
// which runs the query again, writes data/report.txt and opens it through the shell service.
// Shared.ChartShown is true while the chart shows series.
#include "query/query_window_ui.h"

class QPrinter;
class QueryChart;

class frmSelect : public QueryWindow {
    Q_OBJECT
  public:
    explicit frmSelect(QWidget* parent = nullptr);

    QueryChart* Chart2D1 = nullptr;
    std::array<QLineEdit*, 6> Text4{};
    std::array<QLabel*, 6> Label4{};
    QPushButton* Command4 = nullptr;

    // Where "Print Chart" goes: the default printer when there is one, else a PDF file named by
    // the user (an empty name cancels). Tests replace it.
    std::function<bool(QPrinter* printer)> choosePrinter;

    void Command2_Click();
    void Command5_Click();
    void Command4_Click();
    void Command3_Click(int index);

  protected:
    void ClearChart() override;

  private:
    void PrintChart();
    void PrintData();
};
