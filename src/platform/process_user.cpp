#include "platform/process_user.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#else
#include <pwd.h>
#include <unistd.h>
#endif

QString ProcessUserName()
{
#ifdef Q_OS_WIN
    return qEnvironmentVariable("USERNAME", QStringLiteral("unknown"));
#else
    // The effective user, not $USER: su, sudo and service managers may leave the caller's there.
    const uid_t uid = geteuid();
    if (const passwd* entry = getpwuid(uid); entry && entry->pw_name)
        return QString::fromLocal8Bit(entry->pw_name);
    return QStringLiteral("uid %1").arg(uid);
#endif
}
