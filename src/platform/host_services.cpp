#include "platform/host_services.h"

#include <QElapsedTimer>
#include <QSettings>
#include <cstdio>

namespace {
HostServices* g_host = nullptr;

QElapsedTimer& monotonic()
{
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer;
}
} // namespace

HostServices& Host()
{
    static CoreHostServices fallback;
    return g_host ? *g_host : fallback;
}

void SetHost(HostServices* host)
{
    g_host = host;
}

CoreHostServices::CoreHostServices()
    // Start the tick away from 0: a tick of 0 means "nothing received yet" to the link watchdog.
    : m_startMs(100000)
{
}

HostServices::Button CoreHostServices::message(const QString& text, Buttons, Icon, Button defaultButton)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
    return defaultButton;
}

void CoreHostServices::beep()
{
    std::fputc('\a', stderr);
}

QDateTime CoreHostServices::now()
{
    return QDateTime::currentDateTime();
}

quint32 CoreHostServices::tickCount()
{
    return static_cast<quint32>(m_startMs + monotonic().elapsed());
}

bool CoreHostServices::shellOpen(const QString&)
{
    return false;
}

QString CoreHostServices::setting(const QString& group, const QString& key, const QString& defaultValue)
{
    QSettings store(QStringLiteral("Varnik350"), QStringLiteral("Varnik350"));
    store.beginGroup(group);
    return store.value(key, defaultValue).toString();
}

void CoreHostServices::setSetting(const QString& group, const QString& key, const QString& value)
{
    QSettings store(QStringLiteral("Varnik350"), QStringLiteral("Varnik350"));
    store.beginGroup(group);
    store.setValue(key, value);
}
