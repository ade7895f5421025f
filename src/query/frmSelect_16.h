#pragma once
// "Find Data" for data files of 8, 12 or 16 channels (Report > Data Query 16): the shared query
// window with 16 channel boxes and the channel count selector Combo1, which hides the boxes above
// the count (a hidden box keeps its check but is not queried). It opens on the channel count of
// the data file and follows a file chosen with " Select Database". No chart and no report here.
#include "query/query_window_ui.h"

class QComboBox;

class frmSelect_16 : public QueryWindow {
    Q_OBJECT
  public:
    explicit frmSelect_16(QWidget* parent = nullptr);

    QLabel* Label4 = nullptr;
    QComboBox* Combo1 = nullptr;

  protected:
    void DataFileChosen(const QString& path) override;

  private:
    void Combo1_Click(int index);
};
