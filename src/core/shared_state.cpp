#include "core/shared_state.h"

#include <QDir>
#include <QRegularExpression>
#include <algorithm>

SharedState Shared;

QString DataPath(const QString& fileName)
{
    if (!Shared.DataFolder.isEmpty())
        return Shared.DataFolder + QLatin1Char('/') + fileName;
    return Shared.AppPath + QStringLiteral("/data/") + fileName;
}

QString DataFolderNameRefusal(const QString& name)
{
    // Control characters would split log lines and file lists; a leading dot hides the file.
    const bool control =
        std::any_of(name.begin(), name.end(), [](QChar c) { return c.category() == QChar::Other_Control; });
    // default.txt keeps the name between double quotes: one in the name could not be stored.
    if (control || name.startsWith(QLatin1Char('.')) || name.contains(QLatin1Char('"')))
        return QStringLiteral("The data file name \"%1\" starts with a dot or holds a double quote or a control "
                              "character: choose a name of letters, digits and the like.")
            .arg(QString(name).replace(QRegularExpression(QStringLiteral("\\p{Cc}")), QStringLiteral("?")));
    if (!name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')))
        return {};
    return QStringLiteral("The data file name \"%1\" names a folder: data files are kept in %2.")
        .arg(name, QDir::toNativeSeparators(DataPath(QString())));
}
