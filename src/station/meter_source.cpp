#include "station/meter_source.h"

#include "core/shared_state.h"
#include "platform/serial_control.h"

#include <QDir>

MeterSource::MeterSource(SerialLink::Recovery recovery, SerialControl* port, QObject* parent)
    : ReadingSource(parent), m_port(port ? port : new QtSerialControl(this))
{
    m_link = new SerialLink(*m_port, m_receiver, this);
    m_link->recovery = recovery;
    m_link->AskLater = true;
    m_link->OnEvent = [this](SerialLink::Event event, const QString& detail) { Reported(event, detail); };
    m_link->OnLinkState = [this](bool up, const QString& why) {
        if (hooks.LinkChanged)
            hooks.LinkChanged(up, why);
    };
    m_receiver.OnFrame = [this](FrameBufferArray& frame) {
        if (Channels >= MaxChannel)
            return Decoded(frame);
        // Another source owns the channels above ours: what the decoder writes there is undone.
        const auto value = Shared.ChanValue;
        const auto unit = Shared.ChanUnit;
        const auto decimals = Shared.ChanDecimals;
        const bool decoded = Decoded(frame);
        for (int n = Channels + 1; n <= MaxChannel; ++n) {
            Shared.ChanValue[n] = value[n];
            Shared.ChanUnit[n] = unit[n];
            Shared.ChanDecimals[n] = decimals[n];
        }
        return decoded;
    };
}

MeterSource::~MeterSource()
{
    // The link holds references to the receiver and the control: it goes before either.
    delete m_link;
    m_link = nullptr;
}

bool MeterSource::Decoded(FrameBufferArray& frame)
{
    if (!DecodeFrame(frame))
        return false;
    if (hooks.Readings) {
        const FrameChannelList heard = FrameChannels();
        int ours[MaxChannel + 1];
        int count = 0;
        for (int i = 0; i < heard.count; ++i)
            if (heard.channel[size_t(i)] <= Channels)
                ours[count++] = heard.channel[size_t(i)];
        hooks.Readings(ours, count);
    }
    return true;
}

QString MeterSource::Name() const
{
    return QStringLiteral("the meter");
}

void MeterSource::Start()
{
    m_link->Start();
}

void MeterSource::Stop()
{
    if (m_port->PortOpen())
        m_port->SetPortOpen(false);
}

void MeterSource::DropWaiting()
{
    m_receiver.Reset();
    if (m_port->PortOpen())
        m_port->Input();
}

void MeterSource::Check()
{
    m_link->CheckLink();
}

void MeterSource::Reported(SerialLink::Event event, const QString& detail)
{
    if (!hooks.Report)
        return;
    const auto trouble = [this](const QString& text) {
        if (hooks.Trouble)
            hooks.Trouble(text);
    };
    const QString device = QDir::toNativeSeparators(SerialDeviceForPort(Shared.ComPort));
    const QString retry = QStringLiteral("trying again every %1 s").arg(m_link->RetryMs / 1000.0);
    switch (event) {
    case SerialLink::Event::Opened:
        hooks.Report(QStringLiteral("port open: %1 at %2 baud").arg(device).arg(Shared.BaudRate == 9600 ? 9600 : 2400));
        trouble({});
        break;
    case SerialLink::Event::OpenFailed:
        hooks.Report(QStringLiteral("port cannot be opened: %1; %2").arg(detail, retry));
        trouble(QStringLiteral("The meter's port cannot be opened: %1; %2.").arg(detail, retry));
        break;
    case SerialLink::Event::Lost:
        hooks.Report(QStringLiteral("port lost: %1; %2")
                         .arg(detail.isEmpty() ? QStringLiteral("closed by the system") : detail, retry));
        trouble(QStringLiteral("The meter's port was lost: %1; %2.")
                    .arg(detail.isEmpty() ? QStringLiteral("closed by the system") : detail, retry));
        break;
    case SerialLink::Event::Silent:
        hooks.Report(QStringLiteral("no frames for %1 s: reopening the port").arg(detail));
        break;
    case SerialLink::Event::Flowing:
        hooks.Report(QStringLiteral("frames arriving"));
        trouble({});
        break;
    }
}
