#pragma once
// A source of readings for a recording station: the instrument's RS-232 link (meter_source.h)
// today, any other kind of meter tomorrow. A source fills channels of the shared channel model
// (Shared.ChanValue, ChanUnit, ChanDecimals of its channels, and ChanMode when the meter says its
// mode) and tells the station through Hooks;
// the station judges freshness, records rows, logs events and feeds the sinks. A source never
// passes a reading on to a sink itself.
//
// Threading: everything here runs on the station's thread; a source whose device talks on another
// thread hands its readings over by queued calls before it calls a hook.
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

class ReadingSource : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;

    // What the station is told. The station sets them when the source is added.
    struct Hooks {
        // A frame (or packet) was taken; `channels` (station numbering) got readings from it,
        // now in the shared state. A frame with no channel still counts for the link. The station
        // judges freshness from these calls (Shared.Freshness, this source's index).
        std::function<void(const int* channels, int count)> Readings;
        // The link as the source sees it: down with the reason (port lost, cannot be opened, silent
        // for the watchdog's limit), up again at its first good frame after that.
        std::function<void(bool up, const QString& why)> LinkChanged;
        // A line for a log about the source's own state ("port open: /dev/ttyUSB0 at 9600 baud").
        std::function<void(const QString& line)> Report;
        // What keeps the source from delivering, for the user to see where they work (a port that
        // cannot be opened, with the system's reason); empty once it is over.
        std::function<void(const QString& text)> Trouble;
        // An event of the source's own for the event log (an overload, a change of function), of
        // a kind EventKind knows, for a channel in station numbering (0: none) and with a value.
        std::function<void(const QString& kind, int channel, std::optional<double> value, const QString& text)> Event;
        // The meter's mode of `channel` (Shared.ChanMode) changed without a reading (HOLD
        // pressed): the surfaces that push readings say the channel's last one again, with it.
        std::function<void(int channel)> ModeChanged;
    };
    Hooks hooks;

    // "the meter on /dev/ttyUSB0": how the event log and the log lines name it.
    virtual QString Name() const = 0;
    // How many channels it fills, from FirstChannel on.
    virtual int ChannelCount() const = 0;
    // Opens the device and starts delivering; failures are reported and retried by the source.
    virtual void Start() = 0;
    // Lets go of the device (within a second).
    virtual void Stop() = 0;
    // Runs first in every scan tick: the source's watchdog.
    virtual void Check() {}
    // The station did not run for a while (stopped, a hung disk): whatever input waits unread
    // was sent then and is dropped, so that no old reading passes for a new one.
    virtual void DropWaiting() {}
    // Frames cut from the input, and those rejected of them.
    virtual quint64 FramesReceived() const { return 0; }
    virtual quint64 FramesRejected() const { return 0; }

    int FirstChannel = 1; // the data file's channel its first channel goes to
    int Index = 0;        // the station's number for it (Shared.Freshness source)
};
