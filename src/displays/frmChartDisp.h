#pragma once
// frmChartDisp, "System Monitor (Chart Display)": one channel live (ChartDisplayChannel from the
// system setup; outside 1..16 it shows channel 1) as a strip chart that scrolls one point a
// second, an LED panel with the reading and its unit, a high/low alarm, the date and time, the scan
// rate, the recorded-row counter and the data file's name.
//
// Opened through the window registry. Load enables the main window's scan timer and 100 ms later
// starts the serial link; activation sets ChartDispOpen and resumes recording; closing clears
// ChartDispOpen and, when no other live display is open, pauses recording and stops the scan timer.
//
// The Y range comes from the channel's setup (MinValue..MaxValue as 32-bit floats), or -10..10
// when both are 0 or beyond a 32-bit float. A channel without a setup record (9..16: display.dat
// holds 1..8) raises no alarm, and its Y axis fits the readings seen (a tenth of their spread
// above and below) until the range is set by hand. "Set Y-Axis Min & Max" takes the leading
// numbers of the two boxes (0 when a box holds none) as they are, a maximum below the minimum
// included; limits beyond a 32-bit float are refused with a message. Saving the system setup
// while the window is open shows its scan rate and, for another channel, starts the chart afresh
// on it. Every second Timer1_Timer copies the reading to ChartValue, shows it, adds it to the chart
// and tests it: above HighWarning shows "High !!!", below LowWarning "Low !!!" (a reading equal to
// a limit is not in alarm), each with one beep unless recording is paused or the alarm sound is
// off.
//
// Controls carry their program names as object names ("Strip1", "NumLED1", "Command1(1)", ...).
#include <QWidget>
#include <array>

class FitLabel;
class NumLED;
class Odometer;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class StripChart;

class frmChartDisp : public QWidget {
    Q_OBJECT

  public:
    explicit frmChartDisp(QWidget* parent = nullptr);
    ~frmChartDisp() override;

    // The refresh tick (Timer1, every second while loaded); public so tests drive it directly.
    void Timer1_Timer();

  protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildControls();
    void Form_Load();
    void Form_Activate();
    void Form_Unload();
    void SetYRange(float upper, float lower);
    void ShowChannel();
    void ShowYRange(float upper, float lower);
    void FitToReading(double value);
    void SetupSaved();
    void Command1_Click(int index);
    void Command2_Click();
    void cmd2_Click(int index);
    void Timer2_Timer();

    StripChart* Strip1 = nullptr;
    NumLED* NumLED1 = nullptr;
    FitLabel* Label8 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label4 = nullptr;
    std::array<QLabel*, 2> Label2{};
    Odometer* Odometer1 = nullptr;
    QLabel* Label6 = nullptr;
    std::array<QLineEdit*, 2> Text2{};
    std::array<QPushButton*, 3> Command1{};
    std::array<QPushButton*, 2> cmd2{};
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;

    QLabel* m_fullNote = nullptr;
    QLabel* m_outage = nullptr;
    bool m_loaded = false;
    int m_channel = 1;
    bool m_fitToReadings = false; // the Y axis follows the readings seen
    double m_seenMin = 0;
    double m_seenMax = 0;
};
