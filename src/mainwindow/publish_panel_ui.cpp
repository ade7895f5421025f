#include "mainwindow/publish_panel_ui.h"

#include "publish/publisher.h"

PublishPanel::PublishPanel(QWidget* parent) : QLabel(parent)
{
    setObjectName(QStringLiteral("lblMqtt"));
    setMinimumWidth(120); // may shrink rather than widen the window; the tooltip has all
    hide();
}

PublishPanel::~PublishPanel()
{
    // The publisher's last reports must not reach a panel that is half gone.
    if (m_publisher)
        m_publisher->disconnect(this);
}

void PublishPanel::Follow(Publisher* publisher)
{
    if (m_publisher)
        m_publisher->disconnect(this);
    m_publisher = publisher;
    connect(publisher, &Publisher::StatusChanged, this, [this](const PublishStatus& status) {
        Show(PublishStatusText(status, true), PublishStatusText(status));
    });
    connect(publisher, &Publisher::MessagesDropped, this, [this](qint64 count) {
        setToolTip(toolTip() + QStringLiteral("\n%1 rows dropped while the broker could not be reached.").arg(count));
    });
    connect(publisher, &QObject::destroyed, this, [this] { m_publisher = nullptr; });
}

void PublishPanel::ShowOff(const QString& why)
{
    Show(QStringLiteral("MQTT off: ") + why, why);
}

void PublishPanel::Show(const QString& text, const QString& details)
{
    setText(fontMetrics().elidedText(text, Qt::ElideRight, 400));
    setToolTip(details);
}
