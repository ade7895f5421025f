#include "publish/publish_settings.h"

#include "platform/host_services.h"

bool PublishTargetFromSettings(PublishTarget* target)
{
    const QString group = QStringLiteral("MQTT");
    const auto setting = [&group](const char* key, const QString& fallback = QString()) {
        return Host().setting(group, QLatin1String(key), fallback).trimmed();
    };
    const QString url = setting("URL");
    if (url.isEmpty())
        return false;
    const QString discovery = setting("Discovery", QStringLiteral("1"));
    const bool withDiscovery =
        discovery != QLatin1String("0") && discovery.compare(QLatin1String("false"), Qt::CaseInsensitive) != 0;
    *target = PublishTarget(url, setting("CAFile"), setting("Station"), withDiscovery,
                            setting("DiscoveryPrefix", DefaultDiscoveryPrefix));
    return true;
}
