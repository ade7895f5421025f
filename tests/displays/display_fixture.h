#pragma once
// What the live display tests share: a fresh shared state with channels 1..16 in band -100..100, a
// fake host, a data folder of their own, the main window, and lookups of controls by name.
#include "mainwindow/frmMain.h"
#include "station/recording_station.h"
#include "core/shared_state.h"
#include "fake_host.h"

#include <QDir>
#include <QTemporaryDir>
#include <memory>

template <typename T> T* child(QWidget* w, const QString& name)
{
    T* found = w->findChild<T*>(name);
    if (!found)
        qFatal("no control %s", qPrintable(name));
    return found;
}

struct DisplayFixture {
    std::unique_ptr<FakeHost> host;
    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<frmMain> main;

    void setUp()
    {
        Shared = SharedState{};
        host = std::make_unique<FakeHost>();
        folder = std::make_unique<QTemporaryDir>();
        QDir(folder->path()).mkdir(QStringLiteral("data"));
        Shared.AppPath = folder->path();
        Shared.ScanRate = 10;
        Shared.DataFileName = QStringLiteral("Test.mdb");
        Shared.AngChan2 = {1, 2, 3};
        Shared.AngChan4 = {4, 5, 6, 7};
        Shared.ChartDisplayChannel = 2;
        Shared.DecimalFormat[0] = QStringLiteral("###0");
        Shared.DecimalFormat[1] = QStringLiteral("###0.0");
        Shared.DecimalFormat[2] = QStringLiteral("###0.00");
        for (int c = 1; c <= MaxChannel; ++c) {
            Shared.DispSetup[c].LowWarning = -100;
            Shared.DispSetup[c].HighWarning = 100;
        }
        main = std::make_unique<frmMain>();
        HearAllChannels();
    }
    void tearDown()
    {
        main.reset();
        host.reset();
        folder.reset();
    }
};
