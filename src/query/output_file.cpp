#include "query/output_file.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <filesystem>
#include <system_error>

bool SaveOutput(const QString& path, const QString& what,
                const std::function<bool(QIODevice& out, QString* error)>& write, QString* error)
{
    const QString shown = QDir::toNativeSeparators(path);
    if (IsSqliteDatabase(path)) {
        *error = QStringLiteral("The %1 \"%2\" is not written: that file is a database.").arg(what, shown);
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("The %1 \"%2\" cannot be written: %3").arg(what, shown, file.errorString());
        return false;
    }
    if (!write(file, error)) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *error = QStringLiteral("The %1 \"%2\" cannot be written: %3").arg(what, shown, file.errorString());
        return false;
    }
    return true;
}

bool IsSqliteDatabase(const QString& path)
{
    static const QByteArray header("SQLite format 3", 16); // with its closing zero byte
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(header.size()) == header;
}

bool SameFile(const QString& a, const QString& b)
{
    std::error_code failed;
    return std::filesystem::equivalent(std::filesystem::path(a.toStdU16String()),
                                       std::filesystem::path(b.toStdU16String()), failed) &&
           !failed;
}
