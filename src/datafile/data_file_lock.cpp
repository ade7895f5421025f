#include "datafile/data_file_lock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStorageInfo>
#include <QSysInfo>

QString DataFileLockPath(const QString& dataFilePath)
{
    return dataFilePath + QStringLiteral(".lock");
}

namespace {
// Why a lock file cannot be made in its folder, as far as can be told: QLockFile keeps the reason
// to itself, so a file of the same kind is tried beside it.
QString LockFileTrouble(const QString& lockPath)
{
    const QStorageInfo disk(QFileInfo(lockPath).absolutePath());
    if (disk.isValid() && disk.bytesAvailable() == 0)
        return QStringLiteral("the disk is full");
    QFile probe(lockPath + QStringLiteral(".probe"));
    const bool made = probe.open(QIODevice::WriteOnly | QIODevice::NewOnly) && probe.write("0\n", 2) == 2 &&
                      probe.flush();
    const QString trouble = probe.errorString();
    if (probe.isOpen()) {
        probe.close();
        probe.remove();
    }
    return made ? QString() : trouble;
}
} // namespace

DataFileLock::DataFileLock() = default;

DataFileLock::~DataFileLock() = default;
DataFileLock::DataFileLock(DataFileLock&&) noexcept = default;
DataFileLock& DataFileLock::operator=(DataFileLock&&) noexcept = default;

bool DataFileLock::Acquire(const QString& dataFilePath, QString* error)
{
    Release();
    const QString shown = QDir::toNativeSeparators(dataFilePath);
    // Two names of one file (a link and its target) share one lock.
    const QFileInfo file(dataFilePath);
    const QString canonical = file.canonicalFilePath();
    auto lock = std::make_unique<QLockFile>(
        DataFileLockPath(canonical.isEmpty() ? file.absoluteFilePath() : canonical));
    // Never by age: a recorder holds its file for weeks. A holder that died is still detected.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        m_lock = std::move(lock);
        return true;
    }
    if (!error)
        return false;
    qint64 pid = 0;
    QString host;
    QString program;
    if (lock->error() != QLockFile::LockFailedError) {
        const QString lockPath = DataFileLockPath(dataFilePath);
        const QString trouble = LockFileTrouble(lockPath);
        *error = QStringLiteral("The data file \"%1\" cannot be locked for recording: the lock file \"%2\" "
                                "cannot be made%3.")
                     .arg(shown, QDir::toNativeSeparators(lockPath),
                          trouble.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(trouble));
    } else if (lock->getLockInfo(&pid, &host, &program)) {
        const QString where = host.isEmpty() || host == QSysInfo::machineHostName()
                                  ? QString()
                                  : QStringLiteral(" on %1").arg(host);
        *error = QStringLiteral("The data file \"%1\" is being recorded by %2 (process %3%4).")
                     .arg(shown, program.isEmpty() ? QStringLiteral("another program") : program)
                     .arg(pid)
                     .arg(where);
    } else {
        *error = QStringLiteral("The data file \"%1\" is being recorded by another process.").arg(shown);
    }
    return false;
}

void DataFileLock::Release()
{
    m_lock.reset(); // unlocks and removes the lock file
}

bool DataFileLock::IsHeld() const
{
    return m_lock != nullptr;
}
