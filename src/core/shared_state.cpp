#include "core/shared_state.h"

#include <QDir>

SharedState Shared;

QString DataPath(const QString& fileName)
{
    if (!Shared.DataFolder.isEmpty())
        return Shared.DataFolder + QLatin1Char('/') + fileName;
    return Shared.AppPath + QStringLiteral("/data/") + fileName;
}

QString DataFolderNameRefusal(const QString& name)
{
    if (!name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')))
        return {};
    return QStringLiteral("The data file name \"%1\" names a folder: data files are kept in %2.")
        .arg(name, QDir::toNativeSeparators(DataPath(QString())));
}
