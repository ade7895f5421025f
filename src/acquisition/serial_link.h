#pragma once
// The engine half of the main window's serial handling: priming the port, the receive handler and
// the link watchdog. The main window owns the control, the receiver and this link.
//
// Start232 is what the live displays call to get data flowing. SCI_Init reports open errors in a
// box with the control's error description and returns. CheckLink runs first in every scan tick:
// after four silent ticks in a row (more than 15000 ms since the last receive notification) it
// closes the port and asks whether to continue; Yes reopens the port at the configured baud rate
// (reopen errors stay silent: the question comes back after another 15 s), No calls OnDeclined.
// Ticks that arrive while the question is up never raise a second one.
#include <QObject>
#include <functional>

class SerialControl;
class FrameReceiver;

class SerialLink : public QObject {
    Q_OBJECT
  public:
    explicit SerialLink(SerialControl& MSComm1, FrameReceiver& receiver, QObject* parent = nullptr);

    void Start232();
    void SCI_Init();
    void CheckLink();
    void MSComm1_OnComm();

    std::function<void()> OnDeclined; // the user answered No: the main window's closing procedure
    quint32 LastRxTick = 0;           // tick of the last receive notification; 0 = never
    int16_t MissedChecks = 0;

  private:
    void ApplyPortSettings();

    SerialControl& MSComm1;
    FrameReceiver& receiver;
    bool asking = false; // the disconnection question is up
};
