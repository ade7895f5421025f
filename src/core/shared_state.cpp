#include "core/shared_state.h"

SharedState Shared;

QString DataPath(const QString& fileName)
{
    return Shared.AppPath + QStringLiteral("/data/") + fileName;
}
