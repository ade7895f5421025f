#pragma once
// The engine half of the main window's serial handling: priming the port, the receive handler and
// the link watchdog. The meter's source (station/meter_source.h) owns the control, the receiver
// and this link: the program's with the AskUser recovery, meter-record's with Reconnect.
//
// Start (the main window's Start232) is what the live displays call to get data flowing. SCI_Init
// reports open errors in a box with the control's error description and returns. CheckLink runs first in every scan tick:
// after four silent ticks in a row (more than SilenceLimitMs since the last receive notification)
// it closes the port and asks whether to continue; Yes reopens the port at the configured baud rate
// (a port that cannot be opened is reported to OnEvent as OpenFailed with the system's reason,
// tried again every RetryMs, and the question comes back after another silence), No calls
// OnDeclined. Ticks that arrive while the question is up never raise a second one: they try the
// port every RetryMs, and the first good frame closes the question as if Yes was pressed (rows
// go on at once). A port that the system closed (a device pulled) is reported to OnLinkState at
// the next tick, before any question, and tried again every RetryMs.
//
// With the Reconnect recovery nothing is asked and no box is shown: the same silence closes and
// reprimes the port at once, a port that cannot be opened or that the system closed (a device
// pulled) is tried again every RetryMs, and every change of the link's state goes to OnEvent.
#include <QObject>
#include <QString>
#include <functional>

class SerialControl;
class FrameReceiver;

class SerialLink : public QObject {
    Q_OBJECT
  public:
    explicit SerialLink(SerialControl& MSComm1, FrameReceiver& receiver, QObject* parent = nullptr);

    void Start();
    void SCI_Init();
    void CheckLink();
    void MSComm1_OnComm();

    std::function<void()> OnDeclined; // the user answered No: the main window's closing procedure
    quint32 LastRxTick = 0;           // tick of the last receive notification; 0 = never
    int16_t MissedChecks = 0;

    enum class Recovery { AskUser, Reconnect };
    Recovery recovery = Recovery::AskUser;
    // AskUser: the question is shown from the event loop just after the tick that finds the silence
    // (the program, whose scan timer must go on while it is up), not inside that tick.
    bool AskLater = false;
    quint32 SilenceLimitMs = 15000;
    quint32 RetryMs = 5000;

    // Opened: the port is open (again). OpenFailed: it cannot be opened, with the reason; reported
    // again only when the reason changes (AskUser: when Yes could not reopen it). Lost: the system closed an open port.
    // Silent: no frames for longer than SilenceLimitMs, the port is being reopened; reported once
    // per silence. Flowing: the first bytes after an opening or a silence.
    enum class Event { Opened, OpenFailed, Lost, Silent, Flowing };
    std::function<void(Event, const QString& detail)> OnEvent;

    // Both recoveries: the link went down (restored false, with the reason: the meter silent for
    // longer than SilenceLimitMs, the port lost or not to be opened), once per gap; and up again
    // (restored true) at the first good frame after that.
    std::function<void(bool restored, const QString& why)> OnLinkState;

  private:
    void ApplyPortSettings();
    bool PrimePort();
    void Reopen(quint32 now);
    void CheckReconnecting();
    // Counts one watchdog tick; true from the fourth silent tick in a row on.
    bool SilentLongEnough(quint32 now);
    void Report(Event event, const QString& detail = QString());
    void LinkDown(const QString& why);

    SerialControl& MSComm1;
    FrameReceiver& receiver;
    // AskUser: tries a port that is not open (lost, or closed for the question) every RetryMs.
    void TryWhileDown(quint32 now);
    void Ask();
    bool asking = false; // the disconnection question is up
    bool answeredByFrames = false; // frames came back while it was up: it was closed as Yes
    bool opened = false; // AskUser: the port was opened here and not closed here since
    bool started = false; // AskUser: Start was called (the port is wanted)
    bool down = true;    // Reconnect: the port is not open and is being tried
    bool waiting = true; // Reconnect: no good frame since the last opening or silence
    bool silent = false; // Reconnect: this silence has been reported
    quint32 retryAt = 0; // Reconnect: tick of the next attempt while down
    QString lastFailure; // Reconnect: the open failure last reported
    bool linkDown = false; // OnLinkState was told of a gap that no good frame has ended yet
};
