#include "acquisition/frmMain.h"

#include "core/shared_state.h"
#include "platform/window_registry_ui.h"

#include <QTimer>

frmMain* MainForm = nullptr;

frmMain::frmMain(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Varnik Measurement system"));
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(200);
    if (!MainForm)
        MainForm = this;
}

frmMain::~frmMain()
{
    if (MainForm == this)
        MainForm = nullptr;
}

void frmMain::Start232()
{
}

bool frmMain::savedata(QString* error)
{
    if (error)
        *error = QStringLiteral("Recording is not available yet.");
    return false;
}

void frmMain::check_pause()
{
}

void frmMain::RegisterPauseButton(Display owner, QAbstractButton* button)
{
    m_pauseButtons[static_cast<size_t>(owner)] = button;
}

bool frmMain::BindDataFile(QString* error)
{
    if (error)
        *error = QStringLiteral("Recording is not available yet.");
    return false;
}

void frmMain::AnnounceNewDataFile()
{
    emit newDataFile();
}

void frmMain::CloseProgram()
{
    m_closing = true;
    close();
}

frmMain::Placement frmMain::ReadPlacement()
{
    return {};
}

QRect frmMain::PlacementToPixels(const Placement& twips)
{
    return {twips.left / 15, twips.top / 15, twips.width / 15, twips.height / 15};
}

void frmMain::closeEvent(QCloseEvent* event)
{
    QMainWindow::closeEvent(event);
}
