#include "displays/frmTextDisp.h"

#include "mainwindow/frmMain.h"
#include "controls/led_panel.h"
#include "controls/odometer.h"
#include "core/config_files.h"
#include "core/shared_state.h"
#include "displays/display_parts.h"
#include "platform/host_services.h"
#include "platform/window_registry_ui.h"

#include <QCloseEvent>
#include <QDir>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace {
constexpr int RefreshMs = 200;
constexpr int LinkStartMs = 100;
const QColor BezelText(225, 225, 215);

// The page a display type from the system setup opens on; a type outside the setup's 0..6 (a
// hand-edited default.txt) opens the 1-panel page.
int typeTab()
{
    const int type = Shared.TextDisplayType;
    return type >= 0 && type <= 6 ? type + 1 : 1;
}

void setDigits(std::span<NumLED* const> leds, int count)
{
    for (NumLED* led : leds)
        led->setDigitCount(count);
}
} // namespace

frmTextDisp::frmTextDisp(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmTextDisp"));
    setWindowTitle(QStringLiteral("Text Display"));
    buildControls();
    resize(1080, 720);

    Timer1 = MakeTimer(this, "Timer1", RefreshMs, false, &frmTextDisp::Timer1_Timer);
    Timer2 = MakeTimer(this, "Timer2", LinkStartMs, true, &frmTextDisp::Timer2_Timer);

    if (MainForm) {
        MainForm->RegisterPauseButton(frmMain::Display::Text, m_status.run);
        connect(MainForm, &frmMain::newDataFile, this, [this] {
            if (isVisible())
                SelectTab(typeTab());
        });
    }
}

frmTextDisp::~frmTextDisp()
{
    // Destroyed without a close (the program tearing windows down): leave no stale open flag.
    if (m_loaded)
        Form_Unload();
}

void frmTextDisp::buildControls()
{
    SSTab1 = new QTabWidget;
    SSTab1->setObjectName(QStringLiteral("SSTab1"));

    const std::array<const int16_t*, 1> one{&Shared.TextChan1};
    const std::array<const int16_t*, 2> two{&Shared.TextChan2[0], &Shared.TextChan2[1]};
    std::array<const int16_t*, 4> four{};
    std::array<const int16_t*, 6> six{};
    for (int i = 0; i < 4; ++i)
        four[i] = &Shared.TextChan4[i];
    for (int i = 0; i < 6; ++i)
        six[i] = &Shared.TextChan6[i];

    const std::span<NumLED*> led2(NumLED2);
    const std::span<QLabel*> num2(Label9), unit2(Label3);
    SSTab1->addTab(buildSetupPage(), QStringLiteral("Page Setup"));
    SSTab1->addTab(buildPanelPage({"NumLED2", "Label9", "Label3", 0}, led2.first(1), num2.first(1),
                                  unit2.first(1), one, 1, m_pages[0]),
                   QStringLiteral("1 Channel Display"));
    SSTab1->addTab(buildPanelPage({"NumLED2", "Label9", "Label3", 1}, led2.subspan(1), num2.subspan(1),
                                  unit2.subspan(1), two, 1, m_pages[1]),
                   QStringLiteral("2 channel Display "));
    SSTab1->addTab(
        buildPanelPage({"NumLED1", "Label7", "Label1", 0}, NumLED1, Label7, Label1, four, 2, m_pages[2]),
        QStringLiteral("4 channel Display "));
    SSTab1->addTab(
        buildPanelPage({"NumLED3", "Label10", "Label8", 0}, NumLED3, Label10, Label8, six, 2, m_pages[3]),
        QStringLiteral("6 Channel Display"));
    SSTab1->addTab(
        buildPanelPage({"NumLED4", "Label13", "Label12", 0}, NumLED4, Label13, Label12, {}, 2, m_pages[4]),
        QStringLiteral("8 Channel Display"));
    SSTab1->addTab(buildPanelPage({"NumLED5", "Label_13", "Label_12", 0}, NumLED5, Label_13, Label_12, {}, 2,
                                  m_pages[5]),
                   QStringLiteral("12 Channel Display"));
    SSTab1->addTab(buildPanelPage({"NumLED6", "Label_17", "Label_16", 0}, NumLED6, Label_17, Label_16, {}, 2,
                                  m_pages[6]),
                   QStringLiteral("16 Channel Display"));
    connect(SSTab1, &QTabWidget::currentChanged, this, &frmTextDisp::SSTab1_Click);

    setDigits(NumLED2, 8);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(SSTab1, 1);
    layout->addWidget(buildStatusArea());
}

QWidget* frmTextDisp::buildPanelPage(const PageNames& names, std::span<NumLED*> leds,
                                     std::span<QLabel*> numbers, std::span<QLabel*> units,
                                     std::span<const int16_t* const> chosen, int columns,
                                     std::vector<Panel>& page)
{
    auto* widget = new QWidget;
    auto* grid = new QGridLayout(widget);
    const int count = int(leds.size());
    const int rows = (count + columns - 1) / columns;
    for (int i = 0; i < count; ++i) {
        const int index = names.first + i;
        auto* bezel = new QFrame;
        bezel->setAutoFillBackground(true);
        QPalette palette = bezel->palette();
        palette.setColor(QPalette::Window, NumLED::Face);
        palette.setColor(QPalette::WindowText, BezelText);
        bezel->setPalette(palette);

        leds[i] = new NumLED;
        leds[i]->setObjectName(Indexed(names.led, index));
        numbers[i] = new FitLabel(2, Qt::AlignRight);
        numbers[i]->setObjectName(Indexed(names.number, index));
        auto* unit = new FitLabel(5, Qt::AlignLeft);
        unit->setObjectName(Indexed(names.unit, index));
        units[i] = unit;
        if (chosen.empty())
            numbers[i]->setText(QString::number(i + 1));

        auto* row = new QHBoxLayout(bezel);
        row->setContentsMargins(6, 4, 6, 4);
        row->addWidget(numbers[i], 1);
        row->addWidget(leds[i], 8);
        row->addWidget(units[i], 2);
        // Channel numbers run down the first column, then down the next.
        grid->addWidget(bezel, i % rows, i / rows);
        page.push_back({leds[i], unit, chosen.empty() ? nullptr : chosen[i], i + 1});
    }
    return widget;
}

QWidget* frmTextDisp::buildSetupPage()
{
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    Combo3 = new ChannelPicker(QStringLiteral("Combo3"), &Shared.TextChan1);
    for (int i = 0; i < 2; ++i)
        Combo1[i] = new ChannelPicker(Indexed("Combo1", i), &Shared.TextChan2[i]);
    for (int i = 0; i < 4; ++i)
        Combo2[i] = new ChannelPicker(Indexed("Combo2", i), &Shared.TextChan4[i]);
    for (int i = 0; i < 6; ++i)
        Combo4[i] = new ChannelPicker(Indexed("Combo4", i), &Shared.TextChan6[i]);
    m_pickers = {Combo3};
    m_pickers.insert(m_pickers.end(), Combo1.begin(), Combo1.end());
    m_pickers.insert(m_pickers.end(), Combo2.begin(), Combo2.end());
    m_pickers.insert(m_pickers.end(), Combo4.begin(), Combo4.end());
    const std::array<ChannelPicker*, 1> one{Combo3};
    grid->addWidget(PickerFrame(QStringLiteral("One Channel Display"), one), 0, 0);
    grid->addWidget(PickerFrame(QStringLiteral("Two Channel Display"), Combo1), 1, 0);
    grid->addWidget(PickerFrame(QStringLiteral("4 Channel Display "), Combo2), 0, 1, 2, 1);
    grid->addWidget(PickerFrame(QStringLiteral("6 Channel Display "), Combo4), 0, 2, 2, 1);

    Command1 = new QPushButton(QStringLiteral("Save"));
    Command1->setObjectName(QStringLiteral("Command1"));
    connect(Command1, &QPushButton::clicked, this, &frmTextDisp::Command1_Click);
    SavedNote = MakeSavedNote();
    auto* save = new QHBoxLayout;
    save->addWidget(SavedNote, 1, Qt::AlignRight);
    save->addWidget(Command1);
    grid->addLayout(save, 2, 1, 1, 2);
    grid->setRowStretch(3, 1);
    return page;
}

QWidget* frmTextDisp::buildStatusArea()
{
    m_status = StatusArea::Build(QStringLiteral("Label11"), QStringLiteral("Check1"));
    connect(m_status.run, &QPushButton::clicked, this, &frmTextDisp::Command5_Click);
    const std::array<QString, 3> captions{QStringLiteral("Chart Display"), QStringLiteral("AngularDisplay"),
                                          QStringLiteral("Exit")};
    for (int i = 0; i < 3; ++i) {
        cmd2[i] = MakeButton(Indexed("cmd2", i), captions[i]);
        connect(cmd2[i], &QPushButton::clicked, this, [this, i] { cmd2_Click(i); });
    }
    m_status.grid->addWidget(cmd2[0], 0, 6);
    m_status.grid->addWidget(cmd2[1], 1, 6);
    m_status.grid->addWidget(cmd2[2], 1, 7);
    return m_status.widget;
}

void frmTextDisp::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_loaded)
        Form_Load();
}

bool frmTextDisp::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate)
        Form_Activate();
    return QWidget::event(event);
}

void frmTextDisp::closeEvent(QCloseEvent* event)
{
    if (m_loaded)
        Form_Unload();
    event->accept();
}

void frmTextDisp::Form_Load()
{
    m_loaded = true;
    for (ChannelPicker* picker : m_pickers)
        picker->fillChannels();

    m_status.showSetup();
    ShowChannelChoices();
    setDigits(NumLED1, 6);
    setDigits(NumLED3, 6);

    if (Shared.TextTabSet) {
        SelectTab(Shared.TextTab);
    } else {
        SelectTab(typeTab());
        Shared.TextTabSet = true;
    }

    StartScanTimer();
    Timer1->start();
    Timer2->start();
    cmd2[0]->setEnabled(Windows().Exists(WindowId::ChartDisp));
    cmd2[1]->setEnabled(Windows().Exists(WindowId::AngularDisp));
}

void frmTextDisp::Form_Activate()
{
    Shared.TextDispOpen = true;
    // A click on "Page Setup" of a display that was not active activates it too (after the tab has
    // changed): recording stays paused while "Page Setup" is shown, as the angular display does.
    const bool setup = SSTab1->currentIndex() == 0;
    PauseRecording(setup, setup ? QStringLiteral("the text display's page setup is shown")
                                : QStringLiteral("the text display was activated"));
}

void frmTextDisp::Form_Unload()
{
    m_loaded = false;
    Timer1->stop();
    Timer2->stop();
    Shared.TextDispOpen = false;
    PauseWhenNoDisplayOpen();
}

void frmTextDisp::ShowChannelChoices()
{
    for (ChannelPicker* picker : m_pickers)
        picker->showChoice();
    const auto show = [](QLabel* label, int16_t chosen) { label->setText(QString::number(ShownChannel(chosen))); };
    show(Label9[0], Shared.TextChan1);
    for (int i = 0; i < 2; ++i)
        show(Label9[i + 1], Shared.TextChan2[i]);
    for (int i = 0; i < 4; ++i)
        show(Label7[i], Shared.TextChan4[i]);
    for (int i = 0; i < 6; ++i)
        show(Label10[i], Shared.TextChan6[i]);
}

void frmTextDisp::SelectTab(int tab)
{
    if (SSTab1->currentIndex() == tab)
        SSTab1_Click(tab); // selecting the tab already shown still runs its entry actions
    else
        SSTab1->setCurrentIndex(tab);
}

void frmTextDisp::SSTab1_Click(int tab)
{
    Shared.TextTab = int16_t(tab);
    if (tab != 0 && m_setupPaused) {
        m_setupPaused = false;
        if (Shared.Paused)
            PauseRecording(false, QStringLiteral("the text display's page setup was left"));
    }
    switch (tab) {
    case 0:
        m_setupPaused = m_setupPaused || !Shared.Paused;
        PauseRecording(true, QStringLiteral("the text display's page setup is shown"));
        break;
    case 1:
        NumLED2[0]->setDigitCount(8);
        break;
    case 2:
        setDigits(std::span(NumLED2).subspan(1), 8);
        break;
    case 3:
        setDigits(NumLED1, 6);
        break;
    case 4:
        setDigits(NumLED3, 6);
        break;
    case 5:
        setDigits(NumLED4, 6);
        break;
    default:
        break;
    }
}

void frmTextDisp::Command1_Click()
{
    for (ChannelPicker* picker : m_pickers)
        picker->keepShownChoice();
    QString error;
    const bool saved = SaveDisplayChannels(&error);
    ShowSaved(SavedNote, saved, saved ? QDir::toNativeSeparators(DataPath(QStringLiteral("dispchan.dat"))) : error);
    if (!saved)
        Host().message(error, HostServices::Ok, HostServices::Icon::Critical);
    ShowChannelChoices();
    setDigits(NumLED1, 6);
    setDigits(NumLED3, 6);
}

void frmTextDisp::Command5_Click()
{
    PauseRecording(!Shared.Paused, QStringLiteral("RUN/PAUSE pressed on the text display"));
    if (MainForm)
        MainForm->check_pause();
}

void frmTextDisp::cmd2_Click(int index)
{
    switch (index) {
    case 0:
        Windows().Show(WindowId::ChartDisp);
        break;
    case 1:
        Windows().Show(WindowId::AngularDisp);
        break;
    default:
        close();
        break;
    }
}

void frmTextDisp::Timer2_Timer()
{
    Timer2->stop();
    init232_3();
}

void frmTextDisp::init232_3()
{
    if (MainForm)
        MainForm->Start232();
}

void frmTextDisp::Timer1_Timer()
{
    m_alarm = false;
    m_status.refresh();

    for (size_t p = 0; p < m_pages.size(); ++p) {
        for (const Panel& panel : m_pages[p])
            UpdatePanel(panel);
        if (p == 0)
            TestAlarm(Shared.TextChan1);
        else if (p == 1) {
            TestAlarm(Shared.TextChan2[0]);
            TestAlarm(Shared.TextChan2[1]);
        }
    }

    ShowAlarm(m_status.alarm, m_alarm ? m_alarmText : QString());
}

void frmTextDisp::UpdatePanel(const Panel& panel)
{
    const int c = panel.chosen ? ShownChannel(*panel.chosen) : panel.fixed;
    const DispSetupRecord& setup = Shared.DispSetup[c];
    if (setup.UnitAutoSense) {
        panel.unit->showText(UnitText(Shared.ChanUnit[c]));
        panel.led->setDecimals(Shared.ChanDecimals[c]);
        panel.led->setManualMarker(false);
    } else {
        panel.unit->showText(setup.ManualUnit);
        panel.led->setDecimals(setup.Decimals);
        panel.led->setManualMarker(true);
    }
    panel.led->setValue(ShownReading(c));
}

void frmTextDisp::TestAlarm(int channel)
{
    const int c = ShownChannel(channel);
    const double value = ShownReading(c); // not a number: neither high nor low
    const DispSetupRecord& setup = Shared.DispSetup[c];
    const bool high = value > setup.HighWarning;
    if (!high && !(value < setup.LowWarning))
        return;
    if (!m_alarm)
        m_alarmText = high ? QStringLiteral("High !!!") : QStringLiteral("Low !!!");
    m_alarm = true;
    if (!Shared.Paused && Shared.AlarmSound)
        Host().beep();
}
