#pragma once
// The main window's MQTT panel in the status bar: owns the program's Publisher, configured from
// the settings store (group "MQTT": "URL", "Station", "Discovery" = 0 to leave discovery out,
// "DiscoveryPrefix", "CAFile" for mqtts://).
// Hidden while no URL is set. Shows the connection in brief ("MQTT connected", "MQTT down since
// 10:32:05, 21 queued"); the tooltip has since when and why.
#include <QLabel>

class Publisher;
struct DataRow;
struct LoggedEvent;

class PublishPanel : public QLabel {
    Q_OBJECT
  public:
    explicit PublishPanel(QWidget* parent = nullptr);
    ~PublishPanel() override; // stops publishing ("offline" goes out)

    // (Re)reads the settings and starts, restarts or stops publishing accordingly.
    void Start();
    // nullptr while nothing is published.
    Publisher* publisher() const;

    void FrameDecoded();
    void RowRecorded(const DataRow& row, qint64 rowNumber, const QString& dataFilePath);
    void EventLogged(const LoggedEvent& event, const QString& dataFilePath);

  private:
    void Show(const QString& text, const QString& details);

    Publisher* m_publisher = nullptr;
};
