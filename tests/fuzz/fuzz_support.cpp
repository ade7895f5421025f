#include "fuzz_support.h"

#include "datafile/data_file.h"

#include <QTemporaryDir>
#include <memory>

QString FuzzScratchFolder()
{
    static const std::unique_ptr<QTemporaryDir> folder = [] {
        const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
        auto dir = std::make_unique<QTemporaryDir>(base + QStringLiteral("/varnik-fuzz-XXXXXX"));
        FUZZ_CHECK(dir->isValid(), "scratch folder");
        return dir;
    }();
    return folder->path();
}

QByteArray DataRecordTableSql(int channels)
{
    QStringList columns;
    for (const QString& c : DataRecordColumns(channels)) {
        const QString type = c.startsWith(QLatin1String("chan")) ? QStringLiteral("REAL")
                             : c.startsWith(QLatin1String("unit")) ? QStringLiteral("VARCHAR(10)")
                                                                    : QStringLiteral("TEXT");
        columns << QStringLiteral("\"%1\" %2").arg(c, type);
    }
    return QStringLiteral("CREATE TABLE DataRecord (%1)").arg(columns.join(QStringLiteral(", "))).toUtf8();
}
