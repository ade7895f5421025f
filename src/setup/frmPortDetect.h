#pragma once
// frmPortDetect, "COM Port Detect": the serial devices of this host with what each is and the
// port numbers mapped to it, so that a meter is attached by choosing its device rather than by
// editing the settings file. Opened modal by the setup dialog's "COM Port Detect" button with the
// port number its "Comm. Port" box holds.
//
// Clicking a device puts its path into the device box; a path may also be typed there (pseudo-
// terminals are never listed). "Map" stores the device under the chosen port number in the
// settings store and accepts the dialog, so that the caller shows that number; a device box that
// is empty or names no existing device is refused with a message and nothing is stored.
// "Remove Mapping" drops the mapping of the chosen number (it means /dev/ttyS(n-1) again).
// "Refresh" lists the devices again (after plugging an adapter in).
//
// byIdFolder is where the stable names of USB adapters live; tests pass a folder of their own.
#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTreeWidget;

class frmPortDetect : public QDialog {
    Q_OBJECT
  public:
    explicit frmPortDetect(int port, QWidget* parent = nullptr,
                           const QString& byIdFolder = QStringLiteral("/dev/serial/by-id"));

    // The port number chosen in the dialog.
    int Port() const;

    QLabel* Label1 = nullptr;
    QTreeWidget* List1 = nullptr; // columns: device, description, mapped port numbers
    QLabel* Label2 = nullptr;
    QLineEdit* Text1 = nullptr; // the device to map
    QLabel* Label3 = nullptr;
    QSpinBox* Text2 = nullptr;       // the port number
    QPushButton* Command1 = nullptr; // "Map"
    QPushButton* Command2 = nullptr; // "Remove Mapping"
    QPushButton* Command3 = nullptr; // "Refresh"
    QPushButton* Command4 = nullptr; // "Close"

  private:
    void Refresh();
    void Command1_Click();
    void Command2_Click();

    QString m_byIdFolder;
};
