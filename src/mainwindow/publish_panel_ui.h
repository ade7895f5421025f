#pragma once
// The main window's MQTT panel in the status bar: shows the publisher's state in brief ("MQTT
// connected", "MQTT down since 10:32:05, 21 queued"); the tooltip has since when and why. It only
// shows: the recording station owns the publisher and feeds it.
#include <QLabel>

class Publisher;

class PublishPanel : public QLabel {
    Q_OBJECT
  public:
    explicit PublishPanel(QWidget* parent = nullptr);
    ~PublishPanel() override;

    // Shows the state of `publisher` from now on.
    void Follow(Publisher* publisher);
    // Publishing could not start: "MQTT off: " and the reason.
    void ShowOff(const QString& why);

  private:
    void Show(const QString& text, const QString& details);

    Publisher* m_publisher = nullptr;
};
