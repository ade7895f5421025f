#include "displays/frmChartDisp.h"

#include "mainwindow/frmMain.h"
#include "controls/led_panel.h"
#include "controls/odometer.h"
#include "controls/strip_chart.h"
#include "core/config_files.h"
#include "core/shared_state.h"
#include "core/typed_number.h"
#include "displays/display_parts.h"
#include "platform/center_form_ui.h"
#include "platform/host_services.h"
#include "platform/window_registry_ui.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace {
constexpr int RefreshMs = 1000;
constexpr int LinkStartMs = 100;

// The shortest decimal text that reads back as the same 32-bit value ("10", "-10", "2.5").
QString floatText(float value)
{
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

double boxValue(const QLineEdit* box)
{
    return LeadingNumber(box->text()).value_or(0);
}
// display.dat holds the setup of the first channels only.
bool HasSetupRecord(int channel)
{
    return channel >= 1 && channel <= DisplayRecordCount;
}
} // namespace

frmChartDisp::frmChartDisp(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmChartDisp"));
    setWindowTitle(QStringLiteral("System Monitor (Chart Display)"));
    buildControls();
    resize(980, 600);

    Timer1 = MakeTimer(this, "Timer1", RefreshMs, false, &frmChartDisp::Timer1_Timer);
    Timer2 = MakeTimer(this, "Timer2", LinkStartMs, true, &frmChartDisp::Timer2_Timer);

    if (MainForm) {
        MainForm->RegisterPauseButton(frmMain::Display::Chart, Command2);
        connect(MainForm, &frmMain::newDataFile, this, [this] { Label6->setText(Shared.DataFileName); });
        connect(MainForm, &frmMain::setupSaved, this, &frmChartDisp::SetupSaved);
    }
}

frmChartDisp::~frmChartDisp()
{
    if (m_loaded)
        Form_Unload();
}

void frmChartDisp::buildControls()
{
    const auto label = [](const QString& name, const QString& text, int points) {
        auto* l = new QLabel(text);
        l->setObjectName(name);
        l->setFont(BoldFont(points));
        return l;
    };

    Strip1 = new StripChart;
    Strip1->setObjectName(QStringLiteral("Strip1"));

    // The reading: channel number, LED panel and unit, with the alarm under them.
    auto* reading = new QFrame;
    reading->setAutoFillBackground(true);
    QPalette face = reading->palette();
    face.setColor(QPalette::Window, NumLED::Face);
    face.setColor(QPalette::WindowText, QColor(225, 225, 215));
    reading->setPalette(face);
    Label7 = label(QStringLiteral("Label7"), QStringLiteral("2"), 16);
    NumLED1 = new NumLED;
    NumLED1->setObjectName(QStringLiteral("NumLED1"));
    NumLED1->setDigitCount(7);
    NumLED1->setMinimumSize(220, 60);
    Label8 = new FitLabel(6, Qt::AlignRight);
    Label8->setObjectName(QStringLiteral("Label8"));
    Label8->showText(QStringLiteral("Lux"));
    Label8->setMinimumSize(100, 40);
    auto* readingGrid = new QGridLayout(reading);
    readingGrid->addWidget(Label7, 0, 0);
    readingGrid->addWidget(Label8, 0, 1);
    readingGrid->addWidget(NumLED1, 1, 0, 1, 2);
    readingGrid->setRowStretch(1, 1);
    readingGrid->setColumnStretch(1, 1);
    Label5 = MakeAlarmLabel(QStringLiteral("Label5"));
    Label5->setMinimumHeight(36);

    auto* Frame1 = new QGroupBox;
    Frame1->setObjectName(QStringLiteral("Frame1"));
    auto* range = new QGridLayout(Frame1);
    const std::array<QString, 2> rangeCaptions{QStringLiteral("Y-Max"), QStringLiteral("Y-Min")};
    const std::array<QString, 2> rangeTexts{QStringLiteral("10"), QStringLiteral("-10")};
    for (int i = 0; i < 2; ++i) {
        auto* caption = new QLabel(rangeCaptions[size_t(i)]);
        caption->setObjectName(QStringLiteral("Label3"));
        Text2[size_t(i)] = new QLineEdit(rangeTexts[size_t(i)]);
        Text2[size_t(i)]->setObjectName(Indexed("Text2", i));
        range->addWidget(caption, i, 0);
        range->addWidget(Text2[size_t(i)], i, 1);
    }
    const std::array<QString, 3> captions{QStringLiteral("Set Y-Axis Min && Max"), QStringLiteral("Clear Chart"),
                                          QStringLiteral("Exit")};
    for (int i = 0; i < 3; ++i) {
        Command1[size_t(i)] = MakeButton(Indexed("Command1", i), captions[size_t(i)]);
        connect(Command1[size_t(i)], &QPushButton::clicked, this, [this, i] { Command1_Click(i); });
    }
    range->addWidget(Command1[0], 2, 0, 1, 2);
    range->addWidget(Command1[1], 3, 0, 1, 2);

    Label1 = label(QStringLiteral("Label1"), QString(), 13);
    Label4 = label(QStringLiteral("Label4"), QString(), 13);
    Label2[0] = label(QStringLiteral("Label2(0)"), QStringLiteral("Scan Rate"), 13);
    Label2[1] = label(QStringLiteral("Label2(1)"), QString(), 13);
    Odometer1 = new Odometer;
    Odometer1->setObjectName(QStringLiteral("Odometer1"));
    Odometer1->setToolTip(tr("Recorded samples"));
    Odometer1->setMinimumSize(150, 36);
    m_fullNote = MakeFullNote();
    m_outage = MakeOutageNote();
    Label6 = label(QStringLiteral("Label6"), QString(), 11);
    Label6->setToolTip(tr("Data file"));

    Command2 = MakeButton(QStringLiteral("Command2"), QStringLiteral("RUN"));
    Command2->setFont(BoldFont(12));
    connect(Command2, &QPushButton::clicked, this, &frmChartDisp::Command2_Click);
    Command3 = MakeButton(QStringLiteral("Command3"), QStringLiteral("Save Data"));
    connect(Command3, &QPushButton::clicked, this, &SaveDataNow);
    const std::array<QString, 2> navigation{QStringLiteral("Text Display"), QStringLiteral("Angular Display")};
    for (int i = 0; i < 2; ++i) {
        cmd2[size_t(i)] = MakeButton(Indexed("cmd2", i), navigation[size_t(i)]);
        connect(cmd2[size_t(i)], &QPushButton::clicked, this, [this, i] { cmd2_Click(i); });
    }

    auto* side = new QVBoxLayout;
    side->addWidget(reading);
    side->addWidget(Label5);
    side->addWidget(Frame1);
    side->addStretch(1);
    auto* top = new QHBoxLayout;
    top->addWidget(Strip1, 1);
    top->addLayout(side);

    auto* bottom = new QGridLayout;
    bottom->setHorizontalSpacing(16);
    bottom->addWidget(Label1, 0, 0);
    bottom->addWidget(Label4, 1, 0);
    bottom->addWidget(Label2[0], 0, 1);
    bottom->addWidget(Label2[1], 1, 1);
    bottom->addWidget(Odometer1, 0, 2, 2, 1);
    bottom->addWidget(m_fullNote, 2, 2);
    bottom->addWidget(Label6, 2, 0, 1, 2);
    bottom->addWidget(m_outage, 3, 0, 1, 6);
    bottom->addWidget(Command2, 0, 3);
    bottom->addWidget(Command3, 1, 3);
    bottom->addWidget(cmd2[0], 0, 4);
    bottom->addWidget(cmd2[1], 1, 4);
    bottom->addWidget(Command1[2], 1, 5);
    bottom->setColumnStretch(0, 1);
    bottom->setColumnStretch(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addLayout(bottom);
}

void frmChartDisp::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_loaded)
        Form_Load();
}

bool frmChartDisp::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate)
        Form_Activate();
    return QWidget::event(event);
}

void frmChartDisp::closeEvent(QCloseEvent* event)
{
    if (m_loaded)
        Form_Unload();
    event->accept();
}

void frmChartDisp::Form_Load()
{
    m_loaded = true;
    CenterForm(this);
    StartScanTimer();
    if (MainForm)
        MainForm->check_pause();
    ShowChannel();

    Odometer1->settle();
    Timer1->start();
    Timer2->start();
    Label6->setText(Shared.DataFileName);
    cmd2[0]->setEnabled(Windows().Exists(WindowId::TextDisp));
    cmd2[1]->setEnabled(Windows().Exists(WindowId::AngularDisp));
}

void frmChartDisp::ShowChannel()
{
    m_channel = ShownChannel(Shared.ChartDisplayChannel);
    Label7->setText(QString::number(m_channel));
    Label2[1]->setText(QString::number(Shared.ScanRate) + QStringLiteral(" sec"));

    // Channels beyond display.dat's records have no limits of their own: the axis follows the
    // readings until the user sets it.
    m_fitToReadings = !HasSetupRecord(m_channel);
    m_seenMin = std::numeric_limits<double>::infinity();
    m_seenMax = -std::numeric_limits<double>::infinity();
    float upper = float(Shared.DispSetup[m_channel].MaxValue);
    float lower = float(Shared.DispSetup[m_channel].MinValue);
    // Limits a 32-bit float cannot hold (a hand-edited display.dat) would draw "nan" labels.
    if (m_fitToReadings || (upper == 0 && lower == 0) || !std::isfinite(upper) || !std::isfinite(lower)) {
        upper = 10;
        lower = -10;
    }
    ShowYRange(upper, lower);
}

void frmChartDisp::ShowYRange(float upper, float lower)
{
    SetYRange(upper, lower);
    Text2[0]->setText(floatText(upper));
    Text2[1]->setText(floatText(lower));
}

void frmChartDisp::FitToReading(double value)
{
    if (!m_fitToReadings || !std::isfinite(value) || (value >= m_seenMin && value <= m_seenMax))
        return;
    m_seenMin = std::min(m_seenMin, value);
    m_seenMax = std::max(m_seenMax, value);
    // A tenth of the spread above and below (of the value itself, at least 1, while all readings
    // are equal), so the trace does not run along an edge.
    const double spread = m_seenMax - m_seenMin;
    const double margin = spread > 0 ? spread / 10 : std::max(1.0, std::abs(m_seenMin) / 10);
    // Rounded outwards to the channel's decimals, so the boxes read "-353.04", not "-353.03998".
    const double scale = std::pow(10.0, std::clamp<int>(Shared.ChanDecimals[m_channel], 0, 6));
    const auto limit = [scale](double v, double (*round)(double)) {
        const double largest = std::numeric_limits<float>::max();
        const double rounded = round(v * scale) / scale;
        return float(std::clamp(std::isfinite(rounded) ? rounded : v, -largest, largest));
    };
    ShowYRange(limit(m_seenMax + margin, std::ceil), limit(m_seenMin - margin, std::floor));
}

void frmChartDisp::SetupSaved()
{
    if (!m_loaded)
        return;
    Label2[1]->setText(QString::number(Shared.ScanRate) + QStringLiteral(" sec"));
    if (ShownChannel(Shared.ChartDisplayChannel) == m_channel)
        return;
    // The trace so far belongs to the channel shown before.
    Strip1->Clear();
    Strip1->setScrollBack(0);
    ShowChannel();
}

void frmChartDisp::Form_Activate()
{
    Shared.ChartDispOpen = true;
    PauseRecording(false, QStringLiteral("the chart display was activated"));
    // The refresh tick does not paint the RUN/PAUSE buttons: without this, a chart display open
    // on its own would show its button uncoloured until it is first pressed.
    if (MainForm)
        MainForm->check_pause();
}

void frmChartDisp::Form_Unload()
{
    m_loaded = false;
    Timer1->stop();
    Timer2->stop();
    Shared.ChartDispOpen = false;
    PauseWhenNoDisplayOpen();
}

void frmChartDisp::SetYRange(float upper, float lower)
{
    Strip1->setYMax(upper);
    Strip1->setYMin(lower);
}

void frmChartDisp::Command1_Click(int index)
{
    switch (index) {
    case 0: {
        const double upper = boxValue(Text2[0]);
        const double lower = boxValue(Text2[1]);
        const double largest = std::numeric_limits<float>::max();
        if (!(std::abs(upper) <= largest && std::abs(lower) <= largest)) {
            Host().message(QStringLiteral("Y-Max and Y-Min must lie between -3.4E+38 and 3.4E+38."),
                           HostServices::Ok, HostServices::Icon::Warning);
            break;
        }
        m_fitToReadings = false;
        SetYRange(float(upper), float(lower));
        break;
    }
    case 1:
        Strip1->Clear();
        Strip1->setScrollBack(0);
        if (m_fitToReadings) {
            m_seenMin = std::numeric_limits<double>::infinity();
            m_seenMax = -std::numeric_limits<double>::infinity();
        }
        break;
    default:
        close();
        break;
    }
}

void frmChartDisp::Command2_Click()
{
    PauseRecording(!Shared.Paused, QStringLiteral("RUN/PAUSE pressed on the chart display"));
    if (MainForm)
        MainForm->check_pause();
}

void frmChartDisp::cmd2_Click(int index)
{
    if (index == 0) {
        Shared.TextDispOpen = true;
        Windows().Show(WindowId::TextDisp);
    } else {
        Windows().Show(WindowId::AngularDisp);
    }
}

void frmChartDisp::Timer2_Timer()
{
    Timer2->stop();
    if (MainForm)
        MainForm->Start232();
}

void frmChartDisp::Timer1_Timer()
{
    const int c = ShownChannel(Shared.ChartDisplayChannel);
    ShowDateTime(Label1, Label4);
    NumLED1->setDecimals(Shared.ChanDecimals[c]);
    Label8->showText(ChannelUnit(c));
    Odometer1->setCount(Shared.RecordCount);
    ShowFullNote(m_fullNote);
    ShowOutageNote(m_outage);
    Shared.ChartValue = ShownReading(c);
    NumLED1->setValue(Shared.ChartValue);
    FitToReading(Shared.ChartValue);
    Strip1->AddValue(0, Shared.ChartValue);

    // A channel without a setup record has no warning limits to leave.
    const DispSetupRecord& s = Shared.DispSetup[c];
    QString alarm;
    if (HasSetupRecord(c) && !std::isnan(Shared.ChartValue)) {
        if (Shared.ChartValue > s.HighWarning)
            alarm = QStringLiteral("High !!!");
        else if (!(Shared.ChartValue >= s.LowWarning))
            alarm = QStringLiteral("Low !!!");
    }
    ShowAlarm(Label5, alarm);
    if (!alarm.isEmpty() && !Shared.Paused && Shared.AlarmSound)
        Host().beep();
    Strip1->Advance();
}
