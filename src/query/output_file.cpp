#include "query/output_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>
#include <system_error>

namespace {

// A pipe, a terminal or a descriptor named as a file (/dev/stdout, /dev/fd/3): written in place,
// since renaming a file over it would replace what it stands for.
bool IsStream(const QString& path)
{
    const QFileInfo info(path);
    const QString absolute = info.absoluteFilePath();
    return (info.exists() && !info.isFile() && !info.isDir()) ||
           absolute.startsWith(QLatin1String("/dev/")) || absolute.startsWith(QLatin1String("/proc/"));
}

// The descriptor a path such as /dev/stdout or /dev/fd/3 names, else -1: writing through the
// descriptor itself keeps its place in the file it shares with the program's other output.
int Descriptor(const QString& path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (absolute == QLatin1String("/dev/stdout"))
        return 1;
    if (absolute == QLatin1String("/dev/stderr"))
        return 2;
    for (const QLatin1String prefix : {QLatin1String("/dev/fd/"), QLatin1String("/proc/self/fd/")}) {
        bool ok = false;
        const int fd = absolute.startsWith(prefix) ? absolute.mid(prefix.size()).toInt(&ok) : -1;
        if (ok && fd >= 0)
            return fd;
    }
    return -1;
}

} // namespace

bool SaveOutput(const QString& path, const QString& what,
                const std::function<bool(QIODevice& out, QString* error)>& write, QString* error)
{
    const QString shown = QDir::toNativeSeparators(path);
    if (IsSqliteDatabase(path)) {
        *error = QStringLiteral("The %1 \"%2\" is not written: that file is a database.").arg(what, shown);
        return false;
    }
    if (IsStream(path)) {
        QFile stream(path);
        int fd = Descriptor(path);
        // Opened here, appending, and handed to QFile without its Append mode: QFile would seek to
        // the end, which a pipe or a device such as /dev/null refuses with a warning.
        const bool own = fd < 0;
        if (own)
            fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
        const QString reason = fd < 0 ? QString::fromLocal8Bit(std::strerror(errno)) : QString();
        const bool opened = fd >= 0 && stream.open(fd, QIODevice::WriteOnly,
                                                   own ? QFileDevice::AutoCloseHandle : QFileDevice::DontCloseHandle);
        if (!opened) {
            if (own && fd >= 0)
                ::close(fd);
            *error = QStringLiteral("The %1 \"%2\" cannot be written: %3")
                         .arg(what, shown, reason.isEmpty() ? stream.errorString() : reason);
            return false;
        }
        // A device or pipe that refuses bytes (a full disk behind /dev/stdout, /dev/full) shows in
        // the device's error state: the output is named as not written, never taken for done.
        const bool written = write(stream, error);
        const bool flushed = stream.flush();
        if (written && (!flushed || stream.error() != QFileDevice::NoError)) {
            *error = QStringLiteral("The %1 \"%2\" cannot be written: %3").arg(what, shown, stream.errorString());
            return false;
        }
        return written;
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
    // A full disk shows when the buffered bytes go out: without this check the empty temporary
    // file would take the target's place.
    if (!file.flush() || file.error() != QFileDevice::NoError) {
        *error = QStringLiteral("The %1 \"%2\" cannot be written: %3").arg(what, shown, file.errorString());
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
    return !IsStream(path) && QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly) &&
           file.read(header.size()) == header;
}

bool SameFile(const QString& a, const QString& b)
{
    std::error_code failed;
    return std::filesystem::equivalent(std::filesystem::path(a.toStdU16String()),
                                       std::filesystem::path(b.toStdU16String()), failed) &&
           !failed;
}
