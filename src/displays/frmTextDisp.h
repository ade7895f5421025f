#pragma once
// frmTextDisp, "Text Display": the live readings as LED panels on seven page layouts (1, 2, 4, 6,
// 8, 12 and 16 panels) plus a "Page Setup" tab where the user picks the channels of the 1- to
// 6-panel pages.
//
// Opened through the window registry (the main window's Monitor menu, the other displays). Works
// with or without WA_DeleteOnClose: showing it after a close loads it again. Load enables the main
// window's scan timer and 100 ms later starts the serial link; activation sets TextDispOpen and
// resumes recording; closing clears TextDispOpen and, when no other live display is open, pauses
// recording and stops the scan timer.
//
// Every 200 ms Timer1_Timer polls the shared channel state: all panels of all pages, the date, the
// time, the recorded-row odometer, and the alarms of the 1- and 2-panel pages (one beep per channel
// out of band, unless paused or the alarm sound is off). Label11 shows "High !!!" or "Low !!!" on
// white-on-red while a watched channel is out of band.
//
// Out-of-range input never crashes the window: a channel choice outside 1..16 shows channel 1, a
// unit code outside the unit table shows an empty unit, and decimals out of range are fitted by the
// panel. The only message boxes are the errors of "Save" and "Save Data" (a full data file among
// them, which the window also notes beside its record counter).
//
// Controls carry their program names as object names ("NumLED2(0)", "Combo1(1)", "Command5", ...).
#include "displays/display_parts.h"

#include <QWidget>
#include <array>
#include <cstdint>
#include <span>
#include <vector>

class NumLED;
class QComboBox;
class QLabel;
class QPushButton;
class QTabWidget;
class QTimer;

class frmTextDisp : public QWidget {
    Q_OBJECT

  public:
    explicit frmTextDisp(QWidget* parent = nullptr);
    ~frmTextDisp() override;

    // The refresh tick (Timer1, every 200 ms while loaded); public so tests drive it directly.
    void Timer1_Timer();

  protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    // One LED panel: where its channel comes from (a stored choice, else a fixed channel).
    struct Panel {
        NumLED* led;
        FitLabel* unit;
        const int16_t* chosen;
        int fixed;
    };

    // Object names of one page's controls, and the index of its first panel in those arrays.
    struct PageNames {
        const char* led;
        const char* number;
        const char* unit;
        int first;
    };

    void buildControls();
    QWidget* buildPanelPage(const PageNames& names, std::span<NumLED*> leds, std::span<QLabel*> numbers,
                            std::span<QLabel*> units, std::span<const int16_t* const> chosen, int columns,
                            std::vector<Panel>& page);
    QWidget* buildSetupPage();
    QWidget* buildStatusArea();

    void Form_Load();
    void Form_Activate();
    void Form_Unload();
    void ShowChannelChoices();
    void SelectTab(int tab);
    void SSTab1_Click(int tab);
    void Command1_Click();
    void Command5_Click();
    void cmd2_Click(int index);
    void Timer2_Timer();
    void init232_3();
    void UpdatePanel(const Panel& panel);
    void TestAlarm(int channel);

    QTabWidget* SSTab1 = nullptr;

    std::array<NumLED*, 3> NumLED2{}; // 0: 1-panel page; 1, 2: 2-panel page
    std::array<QLabel*, 3> Label9{};
    std::array<QLabel*, 3> Label3{};
    std::array<NumLED*, 4> NumLED1{};
    std::array<QLabel*, 4> Label7{}; // channel numbers of the 4-panel page; "Label7(5)" is Label7_5
    std::array<QLabel*, 4> Label1{};
    std::array<NumLED*, 6> NumLED3{};
    std::array<QLabel*, 6> Label10{};
    std::array<QLabel*, 6> Label8{};
    std::array<NumLED*, 8> NumLED4{};
    std::array<QLabel*, 8> Label13{};
    std::array<QLabel*, 8> Label12{};
    std::array<NumLED*, 12> NumLED5{};
    std::array<QLabel*, 12> Label_13{};
    std::array<QLabel*, 12> Label_12{};
    std::array<NumLED*, 16> NumLED6{};
    std::array<QLabel*, 16> Label_17{};
    std::array<QLabel*, 16> Label_16{};

    ChannelPicker* Combo3 = nullptr;
    std::array<ChannelPicker*, 2> Combo1{};
    std::array<ChannelPicker*, 4> Combo2{};
    std::array<ChannelPicker*, 6> Combo4{};
    std::vector<ChannelPicker*> m_pickers;
    QPushButton* Command1 = nullptr;
    QLabel* SavedNote = nullptr; // beside Save: when it saved, or that it did not

    StatusArea m_status; // Label11, Odometer1, Check1, Command5 "RUN", Command3 "Save Data", ...
    std::array<QPushButton*, 3> cmd2{};
    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;

    // The pages with panels, in the order the tick updates them (1, 2, 4, 6, 8, 12, 16 panels).
    std::array<std::vector<Panel>, 7> m_pages;
    bool m_loaded = false;
    bool m_alarm = false; // the tick's alarm flag
    bool m_setupPaused = false; // "Page Setup" paused recording, which was running: leaving it resumes
    QString m_alarmText;
};
