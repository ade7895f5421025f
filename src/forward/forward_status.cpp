#include "forward/forwarder.h"

QString ForwardStatusText(const ForwardStatus& status, bool brief)
{
    const QString waiting = status.waitingRows == 1 ? QStringLiteral("1 row waits")
                                                    : QStringLiteral("%1 rows wait").arg(status.waitingRows);
    if (brief) {
        switch (status.state) {
        case ForwardStatus::State::Stopped:
            return QStringLiteral("DB: off");
        case ForwardStatus::State::Connecting:
            return QStringLiteral("DB: connecting");
        case ForwardStatus::State::Sending:
            return QStringLiteral("DB: sending, %1").arg(waiting);
        case ForwardStatus::State::UpToDate:
            return QStringLiteral("DB: up to date");
        case ForwardStatus::State::Unreachable:
            return QStringLiteral("DB down since %1, %2")
                .arg(status.unreachableSince.toString(QStringLiteral("HH:mm:ss")), waiting);
        case ForwardStatus::State::DataFileError:
            return QStringLiteral("DB: data file refused, %1").arg(waiting);
        }
        return QString();
    }
    const QString reason = status.message.isEmpty() ? QString() : QStringLiteral(": ") + status.message;
    switch (status.state) {
    case ForwardStatus::State::Stopped:
        return QStringLiteral("Central database: off");
    case ForwardStatus::State::Connecting:
        return QStringLiteral("Central database: connecting, %1").arg(waiting);
    case ForwardStatus::State::Sending:
        return QStringLiteral("Central database: sending, %1").arg(waiting);
    case ForwardStatus::State::UpToDate:
        return QStringLiteral("Central database: up to date%1").arg(reason);
    case ForwardStatus::State::Unreachable:
        return QStringLiteral("Central database unreachable since %1, %2%3")
            .arg(status.unreachableSince.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), waiting, reason);
    case ForwardStatus::State::DataFileError:
        return QStringLiteral("Central database: the data file is not forwarded, %1%2").arg(waiting, reason);
    }
    return QString();
}
