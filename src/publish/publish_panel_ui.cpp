#include "publish/publish_panel_ui.h"

#include "platform/host_services.h"
#include "publish/payloads.h"
#include "publish/publisher.h"

#include <QFileInfo>

PublishPanel::PublishPanel(QWidget* parent) : QLabel(parent)
{
    setObjectName(QStringLiteral("lblMqtt"));
    setMinimumWidth(120); // may shrink rather than widen the window; the tooltip has all
    hide();
}

PublishPanel::~PublishPanel()
{
    // Its last reports must not reach a panel that is half gone.
    if (m_publisher) {
        m_publisher->disconnect(this);
        delete m_publisher;
    }
}

void PublishPanel::Start()
{
    const QString group = QStringLiteral("MQTT");
    const QString url = Host().setting(group, QStringLiteral("URL"), QString()).trimmed();
    if (url.isEmpty()) {
        if (m_publisher)
            m_publisher->Stop();
        hide();
        return;
    }
    if (!m_publisher) {
        m_publisher = new Publisher({}, this);
        connect(m_publisher, &Publisher::StatusChanged, this, [this](const PublishStatus& status) {
            Show(PublishStatusText(status, true), PublishStatusText(status));
        });
        connect(m_publisher, &Publisher::MessagesDropped, this, [this](qint64 count) {
            setToolTip(toolTip() + QStringLiteral("\n%1 rows dropped while the broker could not be reached.").arg(count));
        });
    }
    show();
    const QString discovery = Host().setting(group, QStringLiteral("Discovery"), QStringLiteral("1")).trimmed();
    const bool withDiscovery =
        discovery != QLatin1String("0") && discovery.compare(QLatin1String("false"), Qt::CaseInsensitive) != 0;
    QString error;
    const QString station = Host().setting(group, QStringLiteral("Station"), QString()).trimmed();
    const QString caFile = Host().setting(group, QStringLiteral("CAFile"), QString()).trimmed();
    const QString prefix =
        Host().setting(group, QStringLiteral("DiscoveryPrefix"), DefaultDiscoveryPrefix).trimmed();
    if (!m_publisher->Start({url, caFile, station, withDiscovery, prefix}, &error)) {
        m_publisher->Stop();
        Show(QStringLiteral("MQTT off: ") + error, error);
    }
}

Publisher* PublishPanel::publisher() const
{
    return m_publisher && m_publisher->IsRunning() ? m_publisher : nullptr;
}

void PublishPanel::FrameDecoded()
{
    if (Publisher* p = publisher())
        p->FrameDecoded();
}

void PublishPanel::RowRecorded(const DataRow& row, qint64 rowNumber, const QString& dataFilePath)
{
    if (Publisher* p = publisher())
        p->RowRecorded(row, rowNumber, QFileInfo(dataFilePath).fileName());
}

void PublishPanel::EventLogged(const LoggedEvent& event, const QString& dataFilePath)
{
    if (Publisher* p = publisher())
        p->EventLogged(EventPayload(event, QFileInfo(dataFilePath).fileName()));
}

void PublishPanel::Show(const QString& text, const QString& details)
{
    setText(fontMetrics().elidedText(text, Qt::ElideRight, 400));
    setToolTip(details);
}
