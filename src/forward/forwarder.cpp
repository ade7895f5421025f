#include "forward/forwarder.h"

#include <QSysInfo>

QString DefaultStation()
{
    return QSysInfo::machineHostName();
}

bool CheckForwardUrl(const QString& url, QString* error)
{
    if (url.trimmed().isEmpty()) {
        if (error)
            *error = QStringLiteral("No central database URL is given.");
        return false;
    }
    return true;
}

QString ForwardStatusText(const ForwardStatus& status)
{
    return status.message;
}

ForwardPass ForwardOnce(const ForwardTarget&, const ForwardOptions&, const std::function<void(qint64, qint64)>&,
                        const std::function<bool()>&)
{
    return {ForwardPass::Outcome::Unreachable, 0, 0, 0, QStringLiteral("Forwarding is not built yet.")};
}

class Forwarder::Worker {};

Forwarder::Forwarder(const ForwardOptions& options, QObject* parent) : QObject(parent), m_options(options) {}

Forwarder::~Forwarder() = default;

bool Forwarder::Start(const ForwardTarget& target, QString* error)
{
    if (!CheckForwardUrl(target.url, error))
        return false;
    m_target = target;
    return true;
}

void Forwarder::Stop() {}

bool Forwarder::IsRunning() const
{
    return false;
}

ForwardTarget Forwarder::Target() const
{
    return m_target;
}

void Forwarder::RowRecorded() {}

ForwardStatus Forwarder::Status() const
{
    return m_status;
}

void Forwarder::publish(const ForwardStatus& status)
{
    m_status = status;
    emit StatusChanged(m_status);
}
