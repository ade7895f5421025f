#include "displays/frmAngularDisp.h"

#include "mainwindow/frmMain.h"
#include "controls/gauge.h"
#include "controls/odometer.h"
#include "core/config_files.h"
#include "core/number_format.h"
#include "core/shared_state.h"
#include "core/typed_number.h"
#include "displays/display_parts.h"
#include "platform/host_services.h"
#include "platform/window_registry_ui.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

namespace {
constexpr int RefreshMs = 500;
constexpr int LinkStartMs = 100;
constexpr int ManualUnitLength = 10;

// The editor boxes Text4(0..9) in box order, with their labels; the doubles' fields where a box
// holds one.
constexpr std::array<const char*, 10> BoxLabels{"Min Value",    "MaxValue",    "Large Tick Delta", "Small Tick Delta",
                                                "Label Delta",  "High Warning", "Low Warning",      "Decimals",
                                                "Scale",        "Manual Unit"};
constexpr int DecimalsBox = 7;
constexpr int ScaleBox = 8;
constexpr int UnitBox = 9;
constexpr std::array<double DispSetupRecord::*, 9> DoubleFields{
    &DispSetupRecord::MinValue,     &DispSetupRecord::MaxValue,    &DispSetupRecord::LargeTickDelta,
    &DispSetupRecord::SmallTickDelta, &DispSetupRecord::LabelDelta, &DispSetupRecord::HighWarning,
    &DispSetupRecord::LowWarning,   nullptr,                       &DispSetupRecord::Scale};

// The page a display type from the system setup opens on; a type outside the setup's 0..2 (a
// hand-edited default.txt) opens the one-gauge page.
int typeTab()
{
    const int type = Shared.AngularDisplayType;
    return type >= 0 && type <= 2 ? type + 1 : 1;
}

QString manualUnitText(const QString& text)
{
    return text.left(ManualUnitLength).leftJustified(ManualUnitLength, u' ');
}

QString notANumber(const QStringList& labels, const QString& consequence)
{
    QStringList quoted;
    for (const QString& label : labels)
        quoted.append(u'"' + label + u'"');
    return QStringLiteral("%1 %2 not hold a number: %3")
        .arg(quoted.join(QStringLiteral(", ")), labels.size() == 1 ? QStringLiteral("does") : QStringLiteral("do"),
             consequence);
}

// The reading as the value label shows it: with the meter's decimals when the unit is sensed, else
// with the decimals of the setup; decimals without a format show the number's general form.
QString readingText(double value, int decimals)
{
    const bool known = decimals >= 0 && decimals < int(Shared.DecimalFormat.size());
    return FormatNumber(value, known ? Shared.DecimalFormat[decimals] : QString());
}
} // namespace

frmAngularDisp::frmAngularDisp(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmAngularDisp"));
    setWindowTitle(QStringLiteral("Angular 2/4 Display"));
    buildControls();
    resize(960, 720);

    Timer1 = MakeTimer(this, "Timer1", RefreshMs, false, &frmAngularDisp::Timer1_Timer);
    Timer2 = MakeTimer(this, "Timer2", LinkStartMs, true, &frmAngularDisp::Timer2_Timer);

    if (MainForm) {
        MainForm->RegisterPauseButton(frmMain::Display::Angular, m_status.run);
        connect(MainForm, &frmMain::newDataFile, this, [this] {
            if (isVisible())
                SelectTab(typeTab());
        });
    }
}

frmAngularDisp::~frmAngularDisp()
{
    if (m_loaded)
        Form_Unload();
}

void frmAngularDisp::buildControls()
{
    SSTab1 = new QTabWidget;
    SSTab1->setObjectName(QStringLiteral("SSTab1"));
    SSTab1->addTab(buildSetupPage(), QStringLiteral("Page Setup"));
    SSTab1->addTab(buildGaugePage(1, "AGauge2", "Frame2", "Label2", "Label1", 0, &Shared.AngChan2[0], 1),
                   QStringLiteral("1 Angular Display"));
    SSTab1->addTab(buildGaugePage(2, "AGauge2", "Frame2", "Label2", "Label1", 1, &Shared.AngChan2[1], 2),
                   QStringLiteral("2 Angular Displays"));
    SSTab1->addTab(buildGaugePage(4, "AGauge3", "Frame3", "Label7", "Label6", 0, &Shared.AngChan4[0], 2),
                   QStringLiteral("4 Angular  Displays"));
    for (int i = 0; i < 3; ++i)
        AGauge2[size_t(i)] = m_gauges[size_t(i)].gauge;
    for (int i = 0; i < 4; ++i)
        AGauge3[size_t(i)] = m_gauges[size_t(i + 3)].gauge;
    connect(SSTab1, &QTabWidget::currentChanged, this, &frmAngularDisp::SSTab1_Click);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(SSTab1, 1);
    layout->addWidget(buildStatusArea());
}

QWidget* frmAngularDisp::buildGaugePage(int count, const char* gaugeName, const char* frameName,
                                        const char* valueName, const char* unitName, int first,
                                        const int16_t* chosen, int columns)
{
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    for (int i = 0; i < count; ++i) {
        const int index = first + i;
        auto* frame = new QGroupBox;
        frame->setObjectName(Indexed(frameName, index));
        frame->setFont(BoldFont(11));
        auto* gauge = new AGauge;
        gauge->setObjectName(Indexed(gaugeName, index));
        auto* value = new FitLabel(7, Qt::AlignHCenter);
        value->setObjectName(Indexed(valueName, index));
        auto* unit = new FitLabel(6, Qt::AlignHCenter);
        unit->setObjectName(Indexed(unitName, index));
        gauge->setCaptions(value, unit);
        auto* inFrame = new QVBoxLayout(frame);
        inFrame->addWidget(gauge);
        grid->addWidget(frame, i / columns, i % columns);
        m_gauges.push_back({frame, gauge, value, unit, chosen + i});
    }
    return page;
}

QWidget* frmAngularDisp::buildSetupPage()
{
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    for (int i = 0; i < 3; ++i)
        Combo1[size_t(i)] = new ChannelPicker(Indexed("Combo1", i), &Shared.AngChan2[size_t(i)]);
    for (int i = 0; i < 4; ++i)
        Combo2[size_t(i)] = new ChannelPicker(Indexed("Combo2", i), &Shared.AngChan4[size_t(i)]);
    m_pickers.assign(Combo1.begin(), Combo1.end());
    m_pickers.insert(m_pickers.end(), Combo2.begin(), Combo2.end());
    grid->addWidget(PickerFrame(QStringLiteral("One  Display"), std::span(Combo1).first(1)), 0, 0);
    grid->addWidget(PickerFrame(QStringLiteral("Two  Display"), std::span(Combo1).subspan(1)), 1, 0);
    grid->addWidget(PickerFrame(QStringLiteral("Four Display "), Combo2), 2, 0);

    auto* setup = new QGroupBox(QStringLiteral("Display  Setup"));
    auto* form = new QFormLayout(setup);
    m_setupForm = form;
    UpDown1 = new QSpinBox;
    UpDown1->setObjectName(QStringLiteral("UpDown1"));
    UpDown1->setRange(1, 8);
    connect(UpDown1, &QSpinBox::valueChanged, this, &frmAngularDisp::ShowChanData);
    form->addRow(QStringLiteral("Channel No"), UpDown1);
    for (int k = 0; k < int(Text4.size()); ++k) {
        Text4[size_t(k)] = new QLineEdit;
        Text4[size_t(k)]->setObjectName(Indexed("Text4", k));
        Text4[size_t(k)]->installEventFilter(this);
    }
    Text4[ScaleBox]->setText(QStringLiteral("1"));
    Check1 = new QCheckBox(QStringLiteral("Unit Auto Sense"));
    Check1->setObjectName(QStringLiteral("Check1"));
    connect(Check1, &QCheckBox::clicked, this, &frmAngularDisp::Check1_Click);
    AlarmBand = new QLineEdit;
    AlarmBand->setObjectName(QStringLiteral("AlarmBand"));
    AlarmBand->setPlaceholderText(QStringLiteral("1% of the scale span"));
    AlarmDelay = new QLineEdit;
    AlarmDelay->setObjectName(QStringLiteral("AlarmDelay"));
    // In record order: the scale and ticks, the decimals, the warnings, the factor, the unit; the
    // alarm events' deadband and delay beside the warnings.
    for (int k : {0, 1, 2, 3, 4, DecimalsBox, 5, 6})
        form->addRow(QLatin1String(BoxLabels[size_t(k)]), Text4[size_t(k)]);
    form->addRow(QStringLiteral("Alarm Deadband"), AlarmBand);
    form->addRow(QStringLiteral("Alarm Delay (rows)"), AlarmDelay);
    form->addRow(QLatin1String(BoxLabels[ScaleBox]), Text4[ScaleBox]);
    form->addRow(Check1);
    form->addRow(QLatin1String(BoxLabels[UnitBox]), Text4[UnitBox]);
    grid->addWidget(setup, 0, 1, 4, 1);

    Command1 = new QPushButton(QStringLiteral("Save"));
    Command1->setObjectName(QStringLiteral("Command1"));
    connect(Command1, &QPushButton::clicked, this, &frmAngularDisp::Command1_Click);
    SavedNote = MakeSavedNote();
    auto* save = new QHBoxLayout;
    save->addWidget(Command1);
    save->addWidget(SavedNote, 1);
    grid->addLayout(save, 3, 0, Qt::AlignLeft | Qt::AlignBottom);
    grid->setRowStretch(3, 1);
    grid->setColumnStretch(2, 1); // the boxes keep a readable width; the space goes to the right
    setup->setMinimumWidth(380);
    return page;
}

QWidget* frmAngularDisp::buildStatusArea()
{
    m_status = StatusArea::Build(QStringLiteral("Label8"), QStringLiteral("Check2"));
    connect(m_status.run, &QPushButton::clicked, this, &frmAngularDisp::Command5_Click);
    Command6 = MakeButton(QStringLiteral("Command6"), QStringLiteral("Text Display"));
    connect(Command6, &QPushButton::clicked, this, [] { Windows().Show(WindowId::TextDisp); });
    cmd2[0] = MakeButton(QStringLiteral("cmd2(0)"), QStringLiteral("Chart Display"));
    connect(cmd2[0], &QPushButton::clicked, this, [] { Windows().Show(WindowId::ChartDisp); });
    cmdExit = MakeButton(QStringLiteral("cmdExit"), QStringLiteral("Exit"));
    connect(cmdExit, &QPushButton::clicked, this, &QWidget::close);
    m_status.grid->addWidget(Command6, 0, 6);
    m_status.grid->addWidget(cmd2[0], 1, 6);
    m_status.grid->addWidget(cmdExit, 1, 7);
    return m_status.widget;
}

void frmAngularDisp::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_loaded)
        Form_Load();
}

bool frmAngularDisp::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate)
        Form_Activate();
    return QWidget::event(event);
}

bool frmAngularDisp::eventFilter(QObject* watched, QEvent* event)
{
    for (int k = 0; k < int(Text4.size()); ++k) {
        if (watched != Text4[size_t(k)])
            continue;
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                CommitField(k);
                return true;
            }
        } else if (event->type() == QEvent::FocusIn) {
            // After the click that gave the focus, or the whole text would be deselected again.
            QTimer::singleShot(0, Text4[size_t(k)], &QLineEdit::selectAll);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void frmAngularDisp::closeEvent(QCloseEvent* event)
{
    if (m_loaded)
        Form_Unload();
    event->accept();
}

void frmAngularDisp::Form_Load()
{
    m_loaded = true;
    for (ChannelPicker* picker : m_pickers)
        picker->fillChannels();
    ShowChoicesAndSetGauges();
    UpDown1->setValue(1);
    ShowChanData(1);
    m_status.showSetup();
    if (Shared.AngTabSet) {
        SelectTab(Shared.AngTab);
    } else {
        SelectTab(typeTab());
        Shared.AngTabSet = true;
    }
    StartScanTimer();
    Timer1->start();
    Timer2->start();
    Command6->setEnabled(Windows().Exists(WindowId::TextDisp));
    cmd2[0]->setEnabled(Windows().Exists(WindowId::ChartDisp));
}

void frmAngularDisp::Form_Activate()
{
    Shared.AngularDispOpen = true;
    // The window is activated again whenever a message box over it closes: while "Page Setup" is
    // shown, recording stays paused.
    PauseRecording(SSTab1->currentIndex() == 0, SSTab1->currentIndex() == 0
                                                        ? QStringLiteral("the angular display's page setup is shown")
                                                        : QStringLiteral("the angular display was activated"));
    m_status.odometer->settle();
}

void frmAngularDisp::Form_Unload()
{
    m_loaded = false;
    Timer1->stop();
    Timer2->stop();
    Shared.AngularDispOpen = false;
    PauseWhenNoDisplayOpen();
}

void frmAngularDisp::ShowChoicesAndSetGauges()
{
    for (ChannelPicker* picker : m_pickers)
        picker->showChoice();
    for (const Gauge& g : m_gauges) {
        g.frame->setTitle(QString::number(ShownChannel(*g.chosen)));
        AGaugeSetup(g.gauge, *g.chosen);
    }
}

void frmAngularDisp::AGaugeSetup(AGauge* gauge, int channel)
{
    const DispSetupRecord& s = Shared.DispSetup[ShownChannel(channel)];
    const double GaugeMin = s.MinValue;
    const double GaugeMax = s.MaxValue;
    const double GaugeLow = s.LowWarning;
    const double GaugeHigh = s.HighWarning;
    gauge->setScaleMinValue(GaugeMin);
    gauge->setScaleMaxValue(GaugeMax);
    const std::array<double, 3> deltas{s.LargeTickDelta, s.SmallTickDelta, s.LabelDelta};
    for (int id = 0; id < 3; ++id) {
        gauge->setTicID(id);
        gauge->setTicDelta(deltas[size_t(id)]);
    }
    const double eps = GaugeMax / 100;
    gauge->setAnnularID(0);
    gauge->setAnnularStartValue(GaugeMin);
    gauge->setAnnularStopValue(GaugeMin == GaugeLow ? GaugeLow + eps : GaugeLow);
    gauge->setAnnularID(1);
    gauge->setAnnularStartValue(GaugeLow);
    gauge->setAnnularStopValue(GaugeHigh);
    gauge->setAnnularID(2);
    gauge->setAnnularStartValue(GaugeHigh == GaugeMax ? GaugeHigh - eps : GaugeHigh);
    gauge->setAnnularStopValue(GaugeMax);
}

void frmAngularDisp::SelectTab(int tab)
{
    if (SSTab1->currentIndex() == tab)
        SSTab1_Click(tab); // selecting the tab already shown still runs its entry actions
    else
        SSTab1->setCurrentIndex(tab);
}

void frmAngularDisp::SSTab1_Click(int tab)
{
    Shared.AngTab = int16_t(tab);
    if (tab == 0) {
        ShowChanData(UpDown1->value());
        m_setupPaused = m_setupPaused || !Shared.Paused;
        PauseRecording(true, QStringLiteral("the angular display's page setup is shown"));
    } else if (m_setupPaused) {
        m_setupPaused = false;
        if (Shared.Paused)
            PauseRecording(false, QStringLiteral("the angular display's page setup was left"));
    }
}

void frmAngularDisp::ShowChanData(int channel)
{
    const DispSetupRecord& s = Shared.DispSetup[ShownChannel(channel)];
    for (int k = 0; k < int(DoubleFields.size()); ++k)
        if (DoubleFields[size_t(k)])
            Text4[size_t(k)]->setText(QString::number(s.*DoubleFields[size_t(k)], 'g', 15));
    Text4[DecimalsBox]->setText(QString::number(s.Decimals));
    Text4[UnitBox]->setText(manualUnitText(s.ManualUnit));
    AlarmBand->setText(s.AlarmDeadband < 0 ? QString() : QString::number(s.AlarmDeadband, 'g', 15));
    AlarmDelay->setText(QString::number(s.AlarmDelay));
    Check1->setChecked(s.UnitAutoSense);
    showManualUnit(!s.UnitAutoSense);
}

void frmAngularDisp::showManualUnit(bool shown)
{
    m_setupForm->setRowVisible(Text4[UnitBox], shown);
}

void frmAngularDisp::CommitField(int box)
{
    DispSetupRecord& s = Shared.DispSetup[ShownChannel(UpDown1->value())];
    const QString text = Text4[size_t(box)]->text();
    if (box == UnitBox) {
        s.ManualUnit = manualUnitText(text);
        return;
    }
    // Boxes take the leading number of their text; the factor must be a number as a whole.
    const std::optional<double> number = box == ScaleBox ? StrictNumber(text) : LeadingNumber(text);
    const std::optional<int16_t> decimals = number ? RoundToInt16(*number) : std::nullopt;
    if (!number || (box == DecimalsBox && !decimals)) {
        Host().message(notANumber({QLatin1String(BoxLabels[size_t(box)])}, QStringLiteral("it was not stored.")),
                       HostServices::Ok, HostServices::Icon::Warning);
        return;
    }
    if (box == DecimalsBox)
        s.Decimals = *decimals;
    else
        s.*DoubleFields[size_t(box)] = *number;
}

void frmAngularDisp::Check1_Click()
{
    const bool ticked = Check1->isChecked();
    Shared.DispSetup[ShownChannel(UpDown1->value())].UnitAutoSense = ticked;
    showManualUnit(!ticked);
}

void frmAngularDisp::Command1_Click()
{
    const int c = ShownChannel(UpDown1->value());
    DispSetupRecord edited = Shared.DispSetup[c];
    QStringList rejected;
    for (int k = 0; k < int(DoubleFields.size()); ++k) {
        if (!DoubleFields[size_t(k)])
            continue;
        if (const std::optional<double> number = StrictNumber(Text4[size_t(k)]->text()))
            edited.*DoubleFields[size_t(k)] = *number;
        else
            rejected.append(QLatin1String(BoxLabels[size_t(k)]));
    }
    if (const std::optional<int16_t> decimals = StrictInt16(Text4[DecimalsBox]->text()))
        edited.Decimals = *decimals;
    else
        rejected.append(QLatin1String(BoxLabels[DecimalsBox]));
    edited.ManualUnit = manualUnitText(Text4[UnitBox]->text());
    if (AlarmBand->text().trimmed().isEmpty())
        edited.AlarmDeadband = -1;
    else if (const std::optional<double> band = StrictNumber(AlarmBand->text()); band && *band >= 0)
        edited.AlarmDeadband = *band;
    else
        rejected.append(QStringLiteral("Alarm Deadband"));
    if (const std::optional<int16_t> delay = StrictInt16(AlarmDelay->text()); delay && *delay >= 1 && *delay <= MaxAlarmDelay)
        edited.AlarmDelay = *delay;
    else
        rejected.append(QStringLiteral("Alarm Delay (rows)"));
    if (rejected.isEmpty())
        Shared.DispSetup[c] = edited;
    else
        Host().message(
            notANumber(rejected, QStringLiteral("nothing of the setup of channel %1 was stored.").arg(c)),
            HostServices::Ok, HostServices::Icon::Warning);

    Check1->setChecked(Shared.DispSetup[c].UnitAutoSense);
    showManualUnit(!Shared.DispSetup[c].UnitAutoSense);
    for (ChannelPicker* picker : m_pickers)
        picker->keepShownChoice();
    QString error;
    bool saved = SaveDisplayChannels(&error);
    if (!saved)
        Host().message(error, HostServices::Ok, HostServices::Icon::Critical);
    ShowChoicesAndSetGauges();
    QString setupError;
    if (!SaveDisplaySetup(&setupError)) {
        Host().message(setupError, HostServices::Ok, HostServices::Icon::Critical);
        error = saved ? setupError : error + QLatin1Char('\n') + setupError;
        saved = false;
    }
    ShowSaved(SavedNote, saved && rejected.isEmpty(),
              !saved ? error
              : rejected.isEmpty()
                  ? QStringLiteral("%1, %2").arg(QDir::toNativeSeparators(DataPath(QStringLiteral("display.dat"))),
                                                 QDir::toNativeSeparators(DataPath(QStringLiteral("dispchan.dat"))))
                  : QStringLiteral("The setup of channel %1 was not stored: %2").arg(c).arg(rejected.join(QStringLiteral(", "))));
    SelectTab(Shared.AngTab);
}

void frmAngularDisp::Command5_Click()
{
    PauseRecording(!Shared.Paused, QStringLiteral("RUN/PAUSE pressed on the angular display"));
    if (MainForm)
        MainForm->check_pause();
}

void frmAngularDisp::Timer2_Timer()
{
    Timer2->stop();
    init232_4();
}

void frmAngularDisp::init232_4()
{
    if (MainForm)
        MainForm->Start232();
}

void frmAngularDisp::Timer1_Timer()
{
    m_alarm = false;
    m_status.refresh();

    for (size_t i = 0; i < m_gauges.size(); ++i) {
        UpdateGauge(m_gauges[i]);
        if (i < 3)
            TestAlarm(*m_gauges[i].chosen);
    }
    ShowAlarm(m_status.alarm, m_alarm ? m_alarmText : QString());
}

void frmAngularDisp::UpdateGauge(const Gauge& g)
{
    const int c = ShownChannel(*g.chosen);
    const DispSetupRecord& s = Shared.DispSetup[c];
    const double v = ShownReading(c);
    g.gauge->setNeedleValue(v);
    g.value->showText(std::isnan(v) ? NoReadingText()
                                   : readingText(v, s.UnitAutoSense ? Shared.ChanDecimals[c] : s.Decimals));
    g.unit->showText(ChannelUnit(c));
}

void frmAngularDisp::TestAlarm(int channel)
{
    const int c = ShownChannel(channel);
    const double v = ShownReading(c); // not a number: neither high nor low
    const DispSetupRecord& s = Shared.DispSetup[c];
    if (v > s.HighWarning)
        m_alarmText = QStringLiteral("High !!!");
    else if (v < s.LowWarning)
        m_alarmText = QStringLiteral("Low !!!");
    else
        return;
    m_alarm = true;
    if (!Shared.Paused && Shared.AlarmSound)
        Host().beep();
}
