#include "acquisition/serial_link.h"

#include "acquisition/frame_receiver.h"
#include "core/shared_state.h"
#include "platform/host_services.h"
#include "platform/serial_control.h"

#include <limits>

namespace {
constexpr int16_t SilentTicksBeforeAsking = 3;
} // namespace

SerialLink::SerialLink(SerialControl& MSComm1, FrameReceiver& receiver, QObject* parent)
    : QObject(parent), MSComm1(MSComm1), receiver(receiver)
{
    connect(&MSComm1, &SerialControl::OnComm, this, &SerialLink::MSComm1_OnComm);
}

void SerialLink::Start()
{
    SCI_Init();
}

void SerialLink::SCI_Init()
{
    receiver.Reset();
    if (MSComm1.PortOpen())
        return;
    if (recovery == Recovery::Reconnect) {
        Reopen(Host().tickCount());
        return;
    }
    started = true;
    opened = PrimePort();
    if (!opened)
        Host().message(MSComm1.ErrorDescription(), HostServices::Ok, HostServices::Icon::None,
                       HostServices::Ok);
}

bool SerialLink::PrimePort()
{
    ApplyPortSettings();
    // Opening, flushing and reopening once more clears whatever the line delivered before.
    bool ok = MSComm1.SetPortOpen(true);
    if (ok) {
        MSComm1.Input();
        ok = MSComm1.SetPortOpen(false) && MSComm1.SetPortOpen(true);
    }
    return ok;
}

void SerialLink::Reopen(quint32 now)
{
    receiver.Reset();
    MSComm1.SetPortOpen(false);
    if (!PrimePort()) {
        MSComm1.SetPortOpen(false);
        down = true;
        retryAt = now + RetryMs;
        const QString failure = MSComm1.ErrorDescription();
        if (failure != lastFailure) {
            lastFailure = failure;
            Report(Event::OpenFailed, failure);
        }
        LinkDown(QStringLiteral("the port cannot be opened: %1").arg(failure));
        return;
    }
    if (down)
        Report(Event::Opened);
    down = false;
    lastFailure.clear();
    waiting = true;
    // A fresh opening gets a whole silence period before it counts as silent.
    LastRxTick = now;
    MissedChecks = 0;
}

void SerialLink::CheckReconnecting()
{
    const quint32 now = Host().tickCount();
    if (!MSComm1.PortOpen()) {
        Shared.DataReceived = false;
        if (!down) {
            down = true;
            retryAt = now;
            Report(Event::Lost, MSComm1.ErrorDescription());
            LinkDown(QStringLiteral("the port was lost: %1")
                         .arg(MSComm1.ErrorDescription().isEmpty() ? QStringLiteral("closed by the system")
                                                                   : MSComm1.ErrorDescription()));
        }
        if (qint32(now - retryAt) >= 0)
            Reopen(now);
        return;
    }
    if (!SilentLongEnough(now))
        return;
    // A meter that stays quiet gets its port reprimed every silence period, reported once.
    if (!silent) {
        silent = true;
        Report(Event::Silent, QString::number((now - LastRxTick) / 1000));
    }
    Reopen(now);
}

bool SerialLink::SilentLongEnough(quint32 now)
{
    const quint32 silence = now - LastRxTick; // wraps with the tick counter
    if (silence <= SilenceLimitMs) {
        MissedChecks = 0;
        return false;
    }
    // Ticks keep coming while the question is up; the count must not wrap into the quiet range.
    if (MissedChecks < std::numeric_limits<int16_t>::max())
        ++MissedChecks;
    Shared.DataReceived = false;
    LinkDown(LastRxTick == 0 ? QStringLiteral("no frames from the meter since the port was opened")
                             : QStringLiteral("no frames from the meter for more than %1 s")
                                   .arg(SilenceLimitMs / 1000.0));
    return MissedChecks > SilentTicksBeforeAsking;
}

void SerialLink::LinkDown(const QString& why)
{
    if (linkDown)
        return;
    linkDown = true;
    if (OnLinkState)
        OnLinkState(false, why);
}

void SerialLink::Report(Event event, const QString& detail)
{
    if (OnEvent)
        OnEvent(event, detail);
}

void SerialLink::CheckLink()
{
    if (recovery == Recovery::Reconnect) {
        CheckReconnecting();
        return;
    }
    // A port the system closed (a device pulled) is a gap at once; the question still waits for
    // the silence.
    if (opened && !MSComm1.PortOpen()) {
        opened = false;
        Shared.DataReceived = false;
        LinkDown(QStringLiteral("the port was lost: %1")
                     .arg(MSComm1.ErrorDescription().isEmpty() ? QStringLiteral("closed by the system")
                                                               : MSComm1.ErrorDescription()));
    }
    if (asking) {
        // The question is up (its box runs the ticks): the port is tried meanwhile, and frames
        // that return answer it.
        TryWhileDown(Host().tickCount());
        return;
    }
    if (!SilentLongEnough(Host().tickCount())) {
        TryWhileDown(Host().tickCount());
        return;
    }

    opened = false;
    if (MSComm1.PortOpen())
        MSComm1.SetPortOpen(false);
    asking = true;
    answeredByFrames = false;
    retryAt = Host().tickCount() + RetryMs;
    // Asked outside the scan tick when AskLater: a box shown inside the tick would hold the scan
    // timer (a timer does not fire again while its handler runs), and with it every row.
    if (AskLater)
        QMetaObject::invokeMethod(this, &SerialLink::Ask, Qt::QueuedConnection);
    else
        Ask();
}

void SerialLink::Ask()
{
    const HostServices::Button answer =
        Host().message(QStringLiteral("Comm. Port Disconnected!\r\nDo you want to continue ?"),
                       HostServices::Yes | HostServices::No, HostServices::Icon::Critical, HostServices::No);
    asking = false;

    if (answer != HostServices::Yes && !answeredByFrames) {
        if (OnDeclined)
            OnDeclined();
        return;
    }
    MissedChecks = 0;
    LastRxTick = Host().tickCount();
    // Frames that came back while the question was up found the port open already.
    if (!(answeredByFrames && MSComm1.PortOpen())) {
        ApplyPortSettings();
        opened = MSComm1.SetPortOpen(true);
        if (!opened) {
            // Said where the question was; tried again every RetryMs, asked again after a silence.
            retryAt = Host().tickCount() + RetryMs;
            Report(Event::OpenFailed, MSComm1.ErrorDescription());
        }
    }
    LastRxTick = Host().tickCount();
    MissedChecks = 0;
}

void SerialLink::TryWhileDown(quint32 now)
{
    if (!started || opened || qint32(now - retryAt) < 0)
        return;
    retryAt = now + RetryMs;
    ApplyPortSettings();
    if (MSComm1.SetPortOpen(true)) {
        opened = true;
        if (!asking) {
            // A fresh opening gets a whole silence period before the question comes again.
            LastRxTick = now;
            MissedChecks = 0;
        }
        Report(Event::Opened);
    }
}

void SerialLink::MSComm1_OnComm()
{
    if (MSComm1.CommEvent != 2)
        return;
    Shared.DataReceived = true;
    LastRxTick = Host().tickCount();
    // A good frame is one cut with the right end byte and taken by the decoder: bytes alone (a wrong
    // baud rate, another device) are not frames arriving.
    const quint64 goodBefore = receiver.FramesCut - receiver.FramesDropped;
    receiver.Receive(MSComm1.Input());
    const bool goodFrame = receiver.FramesCut - receiver.FramesDropped != goodBefore;
    if (recovery == Recovery::Reconnect && waiting && goodFrame) {
        waiting = false;
        silent = false;
        Report(Event::Flowing);
    }
    if (linkDown && goodFrame) {
        linkDown = false;
        if (OnLinkState)
            OnLinkState(true, QString());
    }
    // The meter is back while the disconnection question is up: it answers itself, as Yes.
    if (asking && goodFrame && !answeredByFrames) {
        answeredByFrames = true;
        Host().closeMessage(HostServices::Yes);
    }
}

void SerialLink::ApplyPortSettings()
{
    MSComm1.CommPort = Shared.ComPort;
    MSComm1.Settings = Shared.BaudRate == 9600 ? QStringLiteral("9600,N,8,1") : QStringLiteral("2400,N,8,1");
    MSComm1.InputMode = 1;
    MSComm1.RThreshold = 1;
}
