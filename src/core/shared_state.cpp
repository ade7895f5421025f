#include "core/shared_state.h"

SharedState Shared;

QString DataPath(const QString& fileName)
{
    if (!Shared.DataFolder.isEmpty())
        return Shared.DataFolder + QLatin1Char('/') + fileName;
    return Shared.AppPath + QStringLiteral("/data/") + fileName;
}
