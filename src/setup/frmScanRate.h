#pragma once
// frmScanRate, "System Setup": scan rate, record limit, serial port and baud rate, meter type and
// the layouts of the text, angular and chart displays. Opened modeless through the window
// registry (Setup > System Setup); one instance.
//
// Load fills the controls from the shared state (a display type outside its list shows the first
// item, a chart channel outside 1..16 shows 1) and closes the open live displays, angular, text,
// chart in that order; they pick the new settings up when opened again.
// "Save" reads the entries: a scan rate outside 1..3600 (" Scan Rate Over Range !!!"), a record
// limit outside 0..65535 ("Max. Record Data Over Range !!!") and a port number that no 16-bit
// number holds (" Comm. Port Over Range !!!") are put back to their values at load, with their
// message in that order, and the rest is saved all the same. Typed numbers are the leading
// number of the text rounded with halves to even. Save then closes an open serial port (and
// restarts the link at once when a live display is open), and writes default.txt; the line beside
// Save says when it was saved ("Saved at 10:00:00"), or "Not saved" with the reason in a message.
// "Exit" takes a scan rate outside 1..3600 as 1 and closes; closing (Exit or the close box) closes
// an open port when the baud rate differs from the one at load, and restarts it as Save does
// unless the program is closing. Entries not saved are dropped.
// "COM Port Detect" opens the port list (frmPortDetect), where a device is mapped to a port number.
// "Meter Source..." opens the choice of sources (frmSourceSetup: the instrument, a libsigrok
// device, or both); the line beside it names the sources in use.
//
// Controls carry their program names as object names ("Text1", "Text2(0)", "Option2(1)", ...).
#include <QWidget>
#include <array>
#include <cstdint>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

class frmScanRate : public QWidget {
    Q_OBJECT
  public:
    explicit frmScanRate(QWidget* parent = nullptr);

    QLabel* Label4 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* Text1 = nullptr;
    QLabel* Label3 = nullptr;   // Label3(2)
    QLineEdit* Text2 = nullptr; // Text2(0)
    QLabel* Label2 = nullptr;
    QComboBox* Combo1 = nullptr;
    QPushButton* Command3 = nullptr;
    QGroupBox* Frame1 = nullptr;
    std::array<QRadioButton*, 2> Option2{}; // "2400", "9600"
    std::array<QRadioButton*, 3> Option1{}; // "Normal Meter", "Special Meter ", "Special Meter 2"
    std::array<QLabel*, 3> Label6{};
    QComboBox* Combo2 = nullptr;
    QComboBox* Combo3 = nullptr;
    QSpinBox* UpDown2 = nullptr; // UpDown2(1); its edit box is Text5(1)
    QPushButton* Command2 = nullptr;
    QPushButton* Command1 = nullptr;
    QLabel* SavedNote = nullptr; // beside Save: "Saved at 10:00:00" (the file in its tool tip)
    QLabel* lblSource = nullptr;       // the sources in use
    QPushButton* cmdSource = nullptr;  // "Meter Source..."

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildControls();
    void Form_Load();
    void Command2_Click();
    void Command1_Click();
    void Command3_Click();
    void cmdSource_Click();
    void ShowSources();
    void DisplayType_Change(QComboBox* combo);
    void Text1_Return();
    void RestartLink();

    int16_t m_scanRate = 0;   // at load: what an out-of-range entry is put back to
    int32_t m_maxRecords = 0; // same
    int16_t m_comPort = 0;    // same
    int32_t m_baudRate = 0;   // at load: tells at closing whether the baud rate changed
};
