#include "app/window_registry.h"

#include "about/frmAbout.h"
#include "mainwindow/frmMain.h"
#include "datafile/frmNewDB.h"
#include "displays/frmAngularDisp.h"
#include "displays/frmChartDisp.h"
#include "displays/frmTextDisp.h"
#include "setup/frmScanRate.h"
#include "query/frmEventLog.h"
#include "query/frmSelect.h"
#include "query/frmSelect_16.h"

namespace {
size_t slot(WindowId id)
{
    return static_cast<size_t>(id);
}
} // namespace

QWidget* AppWindowRegistry::window(WindowId id) const
{
    if (id == WindowId::Main)
        return MainForm;
    QWidget* w = m_windows[slot(id)];
    // A closed window may still await its deferred deletion; it counts as gone.
    return w && w->isVisible() ? w : nullptr;
}

bool AppWindowRegistry::Exists(WindowId id) const
{
    switch (id) {
    case WindowId::Main:
    case WindowId::About:
    case WindowId::TextDisp:
    case WindowId::NewDB:
    case WindowId::ScanRate:
    case WindowId::AngularDisp:
    case WindowId::ChartDisp:
    case WindowId::Select:
    case WindowId::Select16:
    case WindowId::EventLog:
        return true;
    }
    return false;
}

QWidget* AppWindowRegistry::create(WindowId id)
{
    QWidget* w = nullptr;
    switch (id) {
    case WindowId::About:
        w = new frmAbout(MainForm);
        break;
    case WindowId::TextDisp:
        w = new frmTextDisp;
        break;
    case WindowId::NewDB:
        w = new frmNewDB;
        break;
    case WindowId::ScanRate:
        w = new frmScanRate;
        break;
    case WindowId::AngularDisp:
        w = new frmAngularDisp;
        break;
    case WindowId::ChartDisp:
        w = new frmChartDisp;
        break;
    case WindowId::Select:
        w = new frmSelect;
        break;
    case WindowId::EventLog:
        w = new frmEventLog;
        break;
    case WindowId::Select16:
        w = new frmSelect_16;
        break;
    default:
        return nullptr;
    }
    w->setAttribute(Qt::WA_DeleteOnClose);
    m_windows[slot(id)] = w;
    return w;
}

QWidget* AppWindowRegistry::Show(WindowId id)
{
    if (!Exists(id))
        return nullptr;
    QWidget* w = window(id);
    if (!w && id != WindowId::Main) {
        if (QWidget* closed = m_windows[slot(id)])
            closed->deleteLater();
        w = create(id);
    }
    if (!w)
        return nullptr;
    if (w->isMinimized())
        w->showNormal();
    else
        w->show();
    w->raise();
    w->activateWindow();
    return w;
}

void AppWindowRegistry::Close(WindowId id)
{
    if (QWidget* w = window(id))
        w->close();
}

bool AppWindowRegistry::IsOpen(WindowId id) const
{
    return window(id) != nullptr;
}
