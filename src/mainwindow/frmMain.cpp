#include "mainwindow/frmMain.h"

#include "about/identity_ui.h"
#include "core/config_files.h"
#include "core/shared_state.h"
#include "core/startup.h"
#include "datafile/data_file.h"
#include "platform/center_form_ui.h"
#include "platform/host_services.h"
#include "platform/serial_control.h"
#include "platform/window_registry_ui.h"
#include "mainwindow/publish_panel_ui.h"
#include "publish/publish_settings.h"
#include "station/meter_source.h"
#include "station/recording_station.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <optional>

frmMain* MainForm = nullptr;

namespace {
const QString SettingsGroup = QStringLiteral("Settings");

// Reads a whole decimal number from the settings store; nullopt for anything else.
std::optional<int> storedNumber(const QString& key, int defaultValue)
{
    bool ok = false;
    const int value = Host().setting(SettingsGroup, key, QString::number(defaultValue)).trimmed().toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

// A window counts as reachable when a piece large enough to grab and drag lies on some screen.
bool onSomeScreen(const QRect& rect)
{
    constexpr int grab = 48;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect seen = rect.intersected(screen->availableGeometry());
        if (seen.width() >= std::min(grab, rect.width()) && seen.height() >= std::min(grab, rect.height()))
            return true;
    }
    return false;
}
} // namespace

frmMain::frmMain(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Varnik Measurement system"));
    if (!MainForm)
        MainForm = this;

    m_station = new RecordingStation(this);
    Timer1 = m_station->ScanTimer();
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Data1 = &m_station->Data();
    // Recording pauses while no live display is open.
    m_station->Scan().Unwatched = [] {
        return !Shared.TextDispOpen && !Shared.ChartDispOpen && !Shared.AngularDispOpen;
    };
    // Shown after the tick that met the problem, not inside it.
    m_station->Events().OnProblem = [this](const QString& problem) {
        QTimer::singleShot(0, this, [problem] {
            Host().message(problem, HostServices::Ok, HostServices::Icon::Warning);
        });
    };
    connect(m_station, &RecordingStation::DamagedFile, this, &frmMain::stopDamagedRecording);
    // What the port does when the question's Yes could not open it, and when it opens again.
    connect(m_station, &RecordingStation::SourceReport, this, [this](int, const QString& line) {
        Panels[0]->setText(line);
        Panels[0]->setToolTip(line);
    });

    buildCentralArea();
    buildMenus();
    buildStatusBar();

    m_readPlacement = ReadPlacement();
    m_placedPixels = PlacementToPixels(m_readPlacement);
    move(m_placedPixels.topLeft());
    resize(m_placedPixels.size());
    Shared.BaudRate = StoredBaudRate();
    mnuHelpAbout->setText(QStringLiteral("About ") + Shared.ExeTitle);
    loadDataFile();
    followSourceSettings(); // when no data file could be bound
    applyIdentity();
    const QStringList notes = ConfigurationNotes();
    if (!notes.isEmpty()) {
        Panels[0]->setText((QStringList{Panels[0]->text()} + notes).join(QLatin1Char(' ')).trimmed());
        Panels[0]->setToolTip(Panels[0]->text());
    }
}

frmMain::~frmMain()
{
    // The station and its source go before the window's other parts (the status bar they report to).
    delete m_station;
    m_station = nullptr;
    if (MainForm == this)
        MainForm = nullptr;
}

void frmMain::buildCentralArea()
{
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("centralWidget"));

    Image1 = new QLabel(central);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(VarnikLogo(72));
    Label1 = new QLabel(QStringLiteral("Measure steadily, record faithfully."), central);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont motto = Label1->font();
    motto.setItalic(true);
    motto.setPointSizeF(motto.pointSizeF() * 1.4);
    Label1->setFont(motto);

    List1 = new QListWidget(central);
    List1->setObjectName(QStringLiteral("List1"));
    Command1 = new QPushButton(QStringLiteral("Clear"), central);
    Command1->setObjectName(QStringLiteral("Command1"));
    connect(Command1, &QPushButton::clicked, List1, &QListWidget::clear);

    auto* banner = new QHBoxLayout;
    banner->addWidget(Image1);
    banner->addSpacing(12);
    banner->addWidget(Label1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Command1);
    auto* layout = new QVBoxLayout(central);
    layout->addLayout(banner);
    layout->addWidget(List1, 1);
    layout->addLayout(buttons);
    setCentralWidget(central);
}

void frmMain::buildMenus()
{
    auto item = [this](QMenu* menu, const QString& name, const QString& caption, WindowId id) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(name);
        connect(action, &QAction::triggered, this, [this, id] { openWindow(id); });
        return action;
    };
    auto separator = [](QMenu* menu, const QString& name) {
        QAction* action = menu->addSeparator();
        action->setObjectName(name);
        return action;
    };
    auto menu = [this](const QString& name, const QString& caption) {
        QMenu* m = menuBar()->addMenu(caption);
        m->setObjectName(name);
        connect(m, &QMenu::aboutToShow, this, &frmMain::updateMenus);
        return m;
    };

    mnuSetup = menu(QStringLiteral("mnuSetup"), QStringLiteral("Setup(&S)"));
    mnuScanRate =
        item(mnuSetup, QStringLiteral("mnuScanRate"), QStringLiteral("System Setup"), WindowId::ScanRate);
    mnuFileBar1 = separator(mnuSetup, QStringLiteral("mnuFileBar1"));
    mnuNewDB =
        item(mnuSetup, QStringLiteral("mnuNewDB"), QStringLiteral("Create New Data File"), WindowId::NewDB);
    mnuFileBar2 = separator(mnuSetup, QStringLiteral("mnuFileBar2"));
    mnuExit = mnuSetup->addAction(QStringLiteral("Exit"));
    mnuExit->setObjectName(QStringLiteral("mnuExit"));
    connect(mnuExit, &QAction::triggered, this, [this] { CloseProgram(); });

    mnuMonitor = menu(QStringLiteral("mnuMonitor"), QStringLiteral("Monitor(&M)"));
    mnuChart =
        item(mnuMonitor, QStringLiteral("mnuChart"), QStringLiteral("Chart Display"), WindowId::ChartDisp);
    mnuAngular2 = item(mnuMonitor, QStringLiteral("mnuAngular2"), QStringLiteral("Angular  Display"),
                       WindowId::AngularDisp);
    mnuTextDisplay = item(mnuMonitor, QStringLiteral("mnuTextDisplay"), QStringLiteral("Text Display"),
                          WindowId::TextDisp);

    mnuReport = menu(QStringLiteral("mnuReport"), QStringLiteral("Report(&R)"));
    mnuQuery = item(mnuReport, QStringLiteral("mnuQuery"), QStringLiteral("Data Query"), WindowId::Select);
    mnuQuery_16 =
        item(mnuReport, QStringLiteral("mnuQuery_16"), QStringLiteral("Data Query 16"), WindowId::Select16);
    mnuEventLog = item(mnuReport, QStringLiteral("mnuEventLog"), QStringLiteral("Event Log"), WindowId::EventLog);

    mnuHelp = menu(QStringLiteral("mnuHelp"), QStringLiteral("About(&H)"));
    mnuHelpAbout = item(mnuHelp, QStringLiteral("mnuHelpAbout"), QStringLiteral("About "), WindowId::About);
    updateMenus();
}

void frmMain::updateMenus()
{
    const std::pair<QAction*, WindowId> items[] = {
        {mnuScanRate, WindowId::ScanRate},    {mnuNewDB, WindowId::NewDB},
        {mnuChart, WindowId::ChartDisp},      {mnuAngular2, WindowId::AngularDisp},
        {mnuTextDisplay, WindowId::TextDisp}, {mnuQuery, WindowId::Select},
        {mnuQuery_16, WindowId::Select16},    {mnuHelpAbout, WindowId::About},
        {mnuEventLog, WindowId::EventLog},
    };
    for (const auto& [action, id] : items)
        action->setEnabled(Windows().Exists(id));
}

void frmMain::openWindow(WindowId id)
{
    if (id == WindowId::TextDisp)
        Shared.TextDispOpen = true;
    Windows().Show(id);
}

void frmMain::buildStatusBar()
{
    sbStatusBar = new QStatusBar(this);
    sbStatusBar->setObjectName(QStringLiteral("sbStatusBar"));
    sbStatusBar->setSizeGripEnabled(true);
    for (size_t i = 0; i < Panels.size(); ++i) {
        Panels[i] = new QLabel(sbStatusBar);
        Panels[i]->setObjectName(QStringLiteral("Panel%1").arg(i + 1));
        Panels[i]->setFrameShape(QFrame::StyledPanel);
        Panels[i]->setFrameShadow(QFrame::Sunken);
        Panels[i]->setContentsMargins(4, 0, 4, 0);
    }
    sbStatusBar->addWidget(Panels[0], 1);
    // A long message is cut at the window's edge (its tool tip holds it all), never widens it.
    Panels[0]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    lblForward = new QLabel(sbStatusBar);
    lblForward->setObjectName(QStringLiteral("lblForward"));
    lblForward->setMinimumWidth(120); // may shrink rather than widen the window; the tooltip has all
    lblForward->hide();
    sbStatusBar->addPermanentWidget(lblForward);
    lblMqtt = new PublishPanel(sbStatusBar);
    sbStatusBar->addPermanentWidget(lblMqtt);
    lblMqtt->Follow(&m_station->Publishing());
    followPublishSettings();
    connect(m_station, &RecordingStation::ForwardStatusChanged, this, [this](const ForwardStatus& status) {
        showForwardStatus(ForwardStatusText(status, true), ForwardStatusText(status));
    });
    connect(m_station, &RecordingStation::ForwardFailed, this,
            [this](const QString& why) { showForwardStatus(why, why); });
    sbStatusBar->addPermanentWidget(Panels[1]);
    sbStatusBar->addPermanentWidget(Panels[2]);
    setStatusBar(sbStatusBar);

    m_clock = new QTimer(this);
    m_clock->setInterval(1000);
    connect(m_clock, &QTimer::timeout, this, &frmMain::updateClock);
    m_clock->start();
    updateClock();
}

void frmMain::updateClock()
{
    const QDateTime now = Host().now();
    Panels[1]->setText(QLocale().toString(now.date(), QLocale::ShortFormat));
    Panels[2]->setText(now.time().toString(QStringLiteral("HH:mm:ss")));
    // A full data file records nothing more, and rows that cannot be written are lost: the status bar
    // says so until a new file is made or rows go in again.
    const QString text =
        DataFileFull() ? DataFileFullText(m_station->BoundFileName()) : m_station->RowTrouble().Text();
    if (!text.isEmpty()) {
        if (sbStatusBar->currentMessage() != text)
            sbStatusBar->showMessage(text);
    } else if (m_fullShown) {
        sbStatusBar->clearMessage();
    }
    m_fullShown = !text.isEmpty();
}

void frmMain::loadDataFile()
{
    // A hand-edited default.txt may name a file outside the data folder: it is neither created
    // nor bound there.
    if (const QString refusal = DataFolderNameRefusal(Shared.DataFileName); !refusal.isEmpty()) {
        Host().message(refusal + QStringLiteral("\nRecording stays off until a data file is made with "
                                                "\"Create New Data File\"."),
                       HostServices::Ok, HostServices::Icon::Warning);
        Panels[0]->setText(QStringLiteral("Recording off: no usable data file."));
        return;
    }
    const QString path = DataPath(Shared.DataFileName);
    QString error;
    const bool existed = FileExists(path);
    if (!existed) {
        // A fresh install has no data file yet: give it one so recording works at once.
        if (!CreateDataFile(path, 8, &error)) {
            Host().message(QStringLiteral("The data file %1 could not be created: %2\nRecording stays off "
                                          "until a data file is made with \"Create New Data File\".")
                               .arg(QDir::toNativeSeparators(path), error),
                           HostServices::Ok, HostServices::Icon::Warning);
            return;
        }
    }
    if (BindDataFile(&error)) {
        if (!existed)
            Panels[0]->setText(
                QStringLiteral("New data file %1 created for 8 channels.").arg(Shared.DataFileName));
    } else {
        Host().message(
            QStringLiteral("The data file %1 cannot be used for recording: %2\nCreate a new data file "
                           "or choose another one with \"Create New Data File\"; until then nothing "
                           "is recorded.")
                .arg(QDir::toNativeSeparators(path), error),
            HostServices::Ok, HostServices::Icon::Warning);
    }
}

void frmMain::stopDamagedRecording(const QString& path, const QString& damage)
{
    Panels[0]->setText(QStringLiteral("Recording off: the data file is damaged."));
    // The displays cover this window: their RUN buttons and notes say it at once too (the station
    // unbinds the file once this returns; its off text already names the damage).
    check_pause();
    Host().message(QStringLiteral("The data file %1 is damaged and cannot take more rows: %2\nRecording is "
                                  "off until a data file is made or chosen with \"Create New Data File\".")
                       .arg(QDir::toNativeSeparators(path), damage),
                   HostServices::Ok, HostServices::Icon::Warning);
}

bool frmMain::BindDataFile(QString* error)
{
    followForwardSettings();
    QString failure;
    if (!m_station->Bind(DataPath(Shared.DataFileName), &failure)) {
        if (!Data1->IsBound())
            Panels[0]->setText(QStringLiteral("Recording off: no usable data file."));
        if (error)
            *error = failure;
        return false;
    }
    FieldCount = Data1->FieldCount();
    Panels[0]->clear(); // a message about an earlier file no longer holds
    followSourceSettings(); // the new file may have other channels
    return true;
}

void frmMain::followForwardSettings()
{
    const QString group = QStringLiteral("Forward");
    const QString url = Host().setting(group, QStringLiteral("URL"), QString()).trimmed();
    m_station->ForwardTo(url, Host().setting(group, QStringLiteral("Station"), QString()).trimmed());
    lblForward->setVisible(!url.isEmpty());
}

void frmMain::followPublishSettings()
{
    PublishTarget target;
    if (!PublishTargetFromSettings(&target)) {
        m_station->StopPublishing();
        lblMqtt->hide();
        return;
    }
    lblMqtt->show();
    QString error;
    if (!m_station->PublishTo(target, &error))
        lblMqtt->ShowOff(error);
}

void frmMain::showForwardStatus(const QString& text, const QString& details)
{
    // A long text would widen the window: the panel shows what fits, the tooltip all of it.
    lblForward->setText(lblForward->fontMetrics().elidedText(text, Qt::ElideRight, 400));
    lblForward->setToolTip(details);
}

void frmMain::applyIdentity()
{
    if (!Shared.GenericIdentity)
        return;
    Image1->hide();
    setWindowTitle(Shared.ProductText);
    Label1->hide();
}

void frmMain::Start232()
{
    if (m_meter)
        m_meter->Start();
    if (m_sourcesStarted)
        return;
    m_sourcesStarted = true;
    for (int i = 0; i < m_station->SourceCount(); ++i)
        if (&m_station->Source(i) != m_meter)
            m_station->Source(i).Start();
}

bool frmMain::savedata(QString* error)
{
    return m_station->SaveNow(error);
}

bool frmMain::SuspendScan(const QString& why)
{
    const bool held = m_station->Suspend(why);
    check_pause(); // every display says PAUSE, with why
    return held;
}

void frmMain::ResumeScan(const QString& why)
{
    m_station->Resume(why);
    check_pause();
}

void frmMain::RegisterPauseButton(Display owner, QAbstractButton* button)
{
    m_pauseButtons[static_cast<size_t>(owner)] = button;
}

void frmMain::check_pause()
{
    const QString off = m_station->RecordingOffText();
    const QString held = m_station->HeldText();
    const PauseLook look = !off.isEmpty()    ? RecordingOffLook()
                           : !held.isEmpty() ? PausedLook()
                                             : CurrentPauseLook();
    const QString tip = !off.isEmpty() ? off : held;
    const std::pair<bool, Display> displays[] = {
        {Shared.ChartDispOpen, Display::Chart},
        {Shared.AngularDispOpen, Display::Angular},
        {Shared.TextDispOpen, Display::Text},
    };
    for (const auto& [open, owner] : displays) {
        QAbstractButton* button = m_pauseButtons[static_cast<size_t>(owner)];
        if (!open || !button)
            continue;
        button->setText(look.caption);
        if (button->toolTip() != tip)
            button->setToolTip(tip);
        // A style sheet, not the palette: the style would shade a palette colour, and the
        // colours are meant to be seen across the bench as they are. Set only on a change:
        // restyling repaints the button on every tick.
        const QString sheet =
            QStringLiteral("QPushButton { background-color: %1; color: black; "
                           "border: 1px solid #606060; border-radius: 3px; padding: 4px 10px; }")
                .arg(QColor::fromRgb(look.background).name());
        if (button->styleSheet() != sheet)
            button->setStyleSheet(sheet);
    }
}

void frmMain::AnnounceNewDataFile()
{
    emit newDataFile();
}

void frmMain::AnnounceSetupSaved()
{
    emit setupSaved();
}

frmMain::Placement frmMain::ReadPlacement()
{
    const Placement defaults;
    const auto left = storedNumber(QStringLiteral("MainLeft"), defaults.left);
    const auto top = storedNumber(QStringLiteral("MainTop"), defaults.top);
    const auto width = storedNumber(QStringLiteral("MainWidth"), defaults.width);
    const auto height = storedNumber(QStringLiteral("MainHeight"), defaults.height);
    if (!left || !top || !width || !height || *width <= 0 || *height <= 0)
        return defaults;
    const Placement stored{*left, *top, *width, *height};
    return onSomeScreen(PlacementToPixels(stored)) ? stored : defaults;
}

QRect frmMain::PlacementToPixels(const Placement& twips)
{
    const double tx = TwipsPerPixelX();
    const double ty = TwipsPerPixelY();
    return {static_cast<int>(std::lround(twips.left / tx)), static_cast<int>(std::lround(twips.top / ty)),
            static_cast<int>(std::lround(twips.width / tx)),
            static_cast<int>(std::lround(twips.height / ty))};
}

void frmMain::savePlacement()
{
    const double tx = TwipsPerPixelX(screen());
    const double ty = TwipsPerPixelY(screen());
    const QRect r(pos(), size());
    // Twips to whole pixels and back drifts (1000 twips at 15 a pixel comes back as 1005): a
    // window neither moved nor resized keeps the numbers it was placed by.
    Placement twips = m_readPlacement;
    if (r != m_placedPixels)
        twips = {int(std::lround(r.left() * tx)), int(std::lround(r.top() * ty)),
                 int(std::lround(r.width() * tx)), int(std::lround(r.height() * ty))};
    Host().setSetting(SettingsGroup, QStringLiteral("MainLeft"), QString::number(twips.left));
    Host().setSetting(SettingsGroup, QStringLiteral("MainTop"), QString::number(twips.top));
    Host().setSetting(SettingsGroup, QStringLiteral("MainWidth"), QString::number(twips.width));
    Host().setSetting(SettingsGroup, QStringLiteral("MainHeight"), QString::number(twips.height));
}

void frmMain::CloseProgram(const QString& why)
{
    if (m_closing)
        return;
    m_closing = true;

    // The data file dialog changes the data file name as the user types; closing it first puts
    // back the name of the file in use, which is the one default.txt must keep. Closing it also
    // restarts the scan timer it had suspended, so the timer is stopped after it.
    if (Windows().IsOpen(WindowId::NewDB))
        Windows().Close(WindowId::NewDB);
    m_station->Stop(why);
    QString error;
    if (!SaveDefaults(&error))
        Host().message(error, HostServices::Ok, HostServices::Icon::Critical);
    Host().setSetting(SettingsGroup, QStringLiteral("BaudRate"), QString::number(Shared.BaudRate));

    // A fixed order, the query and setup windows before the live displays, the text display last.
    for (int id = static_cast<int>(WindowId::About); id > static_cast<int>(WindowId::Main); --id) {
        const auto which = static_cast<WindowId>(id);
        if (Windows().IsOpen(which))
            Windows().Close(which);
    }
    if (!isMinimized())
        savePlacement();

    hide();
    QCoreApplication::quit();
}

void frmMain::closeEvent(QCloseEvent* event)
{
    CloseProgram();
    event->accept();
}
