#pragma once
// frmAngularDisp, "Angular 2/4 Display": live readings on analogue gauges, one, two or four to a
// page, and on its "Page Setup" tab the channel choices of those pages and the editor of the
// per-channel display setup (gauge scale, ticks, warning limits, decimals, scale factor, unit).
//
// Opened through the window registry. Load enables the main window's scan timer and 100 ms later
// starts the serial link; activation sets AngularDispOpen and resumes recording; "Page Setup"
// pauses recording; closing clears AngularDispOpen and, when no other live display is open, pauses
// recording and stops the scan timer.
//
// Every 500 ms Timer1_Timer sets the needles and the value and unit labels of all gauges, and tests
// the channels of the one- and two-gauge pages against their warning limits: Label8 shows
// "High !!!" or "Low !!!" (the later gauge wins) and each channel out of band beeps once, unless
// recording is paused or the alarm sound is off. The four-gauge page never alarms. Every value
// label shows the reading itself, as the decoder scaled it.
//
// The editor: Enter in a box stores that field of the channel in the stepper (in memory); "Save"
// stores all boxes, writes dispchan.dat and display.dat (channels 1..8) and sets the gauges up
// again. A box that does not hold a number is reported by the name of its label, and then nothing
// of it (Enter) or of that channel's record ("Save") is stored. Errors of the file writes and of
// "Save Data" are message boxes.
//
// Controls carry their program names as object names ("AGauge3(2)", "Text4(5)", "Command1", ...).
#include "displays/display_parts.h"

#include <QWidget>
#include <array>
#include <cstdint>
#include <vector>

class AGauge;
class ChannelPicker;
class FitLabel;
class Odometer;
class QCheckBox;
class QFormLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTimer;

class frmAngularDisp : public QWidget {
    Q_OBJECT

  public:
    explicit frmAngularDisp(QWidget* parent = nullptr);
    ~frmAngularDisp() override;

    // The refresh tick (Timer1, every 500 ms while loaded); public so tests drive it directly.
    void Timer1_Timer();
    // Applies the display setup of `channel` (1..16; outside shows channel 1) to a gauge: scale,
    // the three tick sets and the three zones (below the low warning, between the warnings, above
    // the high warning). A zone that would be empty because a warning equals the scale end is
    // widened by one hundredth of the scale maximum.
    static void AGaugeSetup(AGauge* gauge, int channel);

  protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    struct Gauge {
        QGroupBox* frame;
        AGauge* gauge;
        FitLabel* value;
        FitLabel* unit;
        const int16_t* chosen;
    };

    void buildControls();
    QWidget* buildGaugePage(int count, const char* gaugeName, const char* frameName, const char* valueName,
                            const char* unitName, int first, const int16_t* chosen, int columns);
    QWidget* buildSetupPage();
    QWidget* buildStatusArea();

    void Form_Load();
    void Form_Activate();
    void Form_Unload();
    void ShowChoicesAndSetGauges();
    void SelectTab(int tab);
    void SSTab1_Click(int tab);
    void ShowChanData(int channel);
    // "Manual Unit" and its box, shown while the unit is typed by hand.
    void showManualUnit(bool shown);
    void CommitField(int box);
    void Check1_Click();
    void Command1_Click();
    void Command5_Click();
    void Timer2_Timer();
    void init232_4();
    void UpdateGauge(const Gauge& gauge);
    void TestAlarm(int channel);

    QTabWidget* SSTab1 = nullptr;
    std::array<AGauge*, 3> AGauge2{};
    std::array<AGauge*, 4> AGauge3{};
    std::array<ChannelPicker*, 3> Combo1{};
    std::array<ChannelPicker*, 4> Combo2{};
    QSpinBox* UpDown1 = nullptr;
    std::array<QLineEdit*, 10> Text4{};
    // Beside the warning limits: the alarm events' deadband (empty for 1% of the scale span) and
    // delay in rows; stored with Save.
    QLineEdit* AlarmBand = nullptr;
    QLineEdit* AlarmDelay = nullptr;
    QCheckBox* Check1 = nullptr;
    QPushButton* Command1 = nullptr;
    QLabel* SavedNote = nullptr; // beside Save: when it saved, or that it did not

    StatusArea m_status; // Label8, Odometer1, Check2, Command5 "RUN", Command3 "Save Data", ...
    QPushButton* Command6 = nullptr;
    std::array<QPushButton*, 1> cmd2{};
    QPushButton* cmdExit = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;

    std::vector<Gauge> m_gauges; // 0: one-gauge page; 1, 2: two-gauge page; 3..6: four-gauge page
    std::vector<ChannelPicker*> m_pickers;
    QFormLayout* m_setupForm = nullptr;
    bool m_loaded = false;
    bool m_alarm = false; // the tick's alarm flag
    bool m_setupPaused = false; // "Page Setup" paused recording, which was running: leaving it resumes
    QString m_alarmText;
};
