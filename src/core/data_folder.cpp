#include "core/data_folder.h"

#include "core/shared_state.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

QString besideExecutable(const QString& appPath)
{
    return QDir::cleanPath(appPath + QStringLiteral("/data"));
}

} // namespace

QString ShippedDataFolder(const QString& appPath)
{
    const QString shipped = QDir::cleanPath(appPath + QStringLiteral("/../share/varnik/data"));
    return QFileInfo(shipped).isDir() ? shipped : QString();
}

QString PerUserDataFolder()
{
    // Both program names and every tool share one folder, whatever name the process runs under.
    const QString name = QCoreApplication::applicationName();
    const QString organization = QCoreApplication::organizationName();
    QCoreApplication::setApplicationName(QStringLiteral("Varnik350"));
    QCoreApplication::setOrganizationName(QString());
    const QString base = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QCoreApplication::setApplicationName(name);
    QCoreApplication::setOrganizationName(organization);
    return base + QStringLiteral("/data");
}

QString ChooseDataFolder(const QString& appPath, const QString& requested)
{
    if (!requested.isEmpty())
        return QDir::cleanPath(QFileInfo(requested).absoluteFilePath());
    const QFileInfo beside(besideExecutable(appPath));
    if (beside.isDir() && beside.isWritable())
        return beside.filePath();
    if (!ShippedDataFolder(appPath).isEmpty())
        return PerUserDataFolder();
    return beside.filePath();
}

bool FillDataFolder(const QString& folder, const QString& shipped, QString* error, const QStringList& only)
{
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("Cannot create the data folder %1").arg(QDir::toNativeSeparators(folder));
        return false;
    }
    if (shipped.isEmpty())
        return true;
    const QFileInfoList files = QDir(shipped).entryInfoList(QDir::Files, QDir::Name);
    for (const QFileInfo& file : files) {
        const QString target = folder + QLatin1Char('/') + file.fileName();
        if (QFileInfo::exists(target) || (!only.isEmpty() && !only.contains(file.fileName())))
            continue;
        // Copied under a name of its own and renamed: an interrupted first start never leaves a
        // half file that later starts would take for the user's own.
        const QString partial = target + QStringLiteral(".partial");
        QFile::remove(partial);
        if (!QFile::copy(file.filePath(), partial)) {
            *error = QStringLiteral("Cannot copy %1 into %2")
                         .arg(QDir::toNativeSeparators(file.filePath()), QDir::toNativeSeparators(folder));
            return false;
        }
        // The shipped files are read-only; the user's copy is theirs to change.
        QFile::setPermissions(partial, QFile::permissions(partial) | QFile::WriteOwner | QFile::ReadOwner);
        if (!QFile::rename(partial, target))
            QFile::remove(partial); // the file appeared meanwhile (another start): keep that one
    }
    return true;
}

bool PrepareDataFolder(QString* error)
{
    const QString folder = ChooseDataFolder(Shared.AppPath, Shared.DataFolder);
    if (folder != besideExecutable(Shared.AppPath) || !Shared.DataFolder.isEmpty())
        Shared.DataFolder = folder;
    if (Shared.DataFolder.isEmpty())
        return true;
    // A build or a portable copy has no shared defaults: the files beside the executable are them.
    QString shipped = ShippedDataFolder(Shared.AppPath);
    const QFileInfo beside(besideExecutable(Shared.AppPath));
    // Only its configuration files: data files recorded there stay where they are.
    QStringList only;
    if (shipped.isEmpty() && beside.isDir() &&
        beside.canonicalFilePath() != QFileInfo(Shared.DataFolder).canonicalFilePath()) {
        shipped = beside.filePath();
        only = {QStringLiteral("unit2.dat"), QStringLiteral("display.dat"), QStringLiteral("dispchan.dat"),
                QStringLiteral("default.txt")};
    }
    return FillDataFolder(Shared.DataFolder, shipped, error, only);
}
