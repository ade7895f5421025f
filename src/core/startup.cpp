#include "core/startup.h"

#include "core/config_files.h"
#include "core/data_folder.h"
#include "core/shared_state.h"
#include "platform/host_services.h"

#include <QFileInfo>

void SetIdentity(const QString& executablePath)
{
    const bool branded = QFileInfo(executablePath).completeBaseName() == QLatin1String("Varnik350");
    Shared.GenericIdentity = !branded;
    Shared.ExeTitle = branded ? QStringLiteral("Varnik350.exe") : QStringLiteral("Datalogger.exe");
    Shared.VersionText = branded ? QStringLiteral("Version : 100401") : QStringLiteral("Version : 090725N");
    Shared.ProductText = QStringLiteral("Data Acquisition Software ");
}

bool StartupEngine(const QString& executablePath, QString* error)
{
    Shared.AppPath = QFileInfo(executablePath).absolutePath();
    SetIdentity(executablePath);

    Shared.MaxRecords = 65535;
    Shared.AlarmSound = true;
    Shared.Paused = false;
    Shared.CurrentScale = 1.0;
    Shared.ChartShown = false;
    Shared.DataReceived = false;

    if (!PrepareDataFolder(error) || !LoadConfiguration(error))
        return false;

    Shared.DecimalFormat[0] = QStringLiteral("###0");
    Shared.DecimalFormat[1] = QStringLiteral("###0.0");
    Shared.DecimalFormat[2] = QStringLiteral("###0.00");
    Shared.DecimalFormat[3] = QStringLiteral("###0.000");
    Shared.ChartValue = 0;
    return true;
}

int32_t StoredBaudRate()
{
    bool ok = false;
    const int value = Host()
                          .setting(QStringLiteral("Settings"), QStringLiteral("BaudRate"), QString())
                          .trimmed()
                          .toInt(&ok);
    return ok ? value : 9600;
}
