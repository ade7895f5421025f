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

FuzzUrlParts ReadUrlParts(FuzzInput& in, const QString& drop)
{
    const auto text = [&](bool password) {
        QString t = QString::fromUtf8(in.line());
        t.remove(QLatin1String(FuzzSecretMark));
        if (password)
            for (const QChar c : drop)
                t.remove(c);
        return t;
    };
    FuzzUrlParts parts;
    parts.user = text(false);
    parts.before = text(true);
    parts.after = text(true);
    parts.rest = text(false);
    return parts;
}

void CheckNoSecret(const QString& text, const char* what)
{
    if (text.contains(QLatin1String(FuzzSecretMark))) {
        std::fprintf(stderr, "%s: %s\n", what, qPrintable(text));
        FUZZ_CHECK(false, "a password shows in a message");
    }
}
