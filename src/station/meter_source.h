#pragma once
// The instrument on its RS-232 link as a source of readings: the serial control, the frame
// receiver and decoder, and the link's watchdog. Every frame the receiver cuts is decoded into the
// shared state, and the channels it carries (FrameChannels, the frame -> channels rule) go to the
// station, which judges their freshness. The meter's frames name their channels themselves, so
// this source always starts at channel 1.
//
// recovery AskUser (the program): a silent port raises the disconnection question (SerialLink).
// Reconnect (meter-record): silent or lost ports are reopened and retried on their own, and each
// change of the port's state is one Report line.
#include "acquisition/frame_receiver.h"
#include "acquisition/serial_link.h"
#include "station/reading_source.h"

class SerialControl;

class MeterSource : public ReadingSource {
    Q_OBJECT
  public:
    // port: the serial control to use (the program's MSComm1); null makes one of its own.
    explicit MeterSource(SerialLink::Recovery recovery, SerialControl* port = nullptr, QObject* parent = nullptr);
    ~MeterSource() override;

    QString Name() const override;
    int ChannelCount() const override { return Channels; }
    void Start() override;
    void Stop() override;
    void Check() override;
    void DropWaiting() override;
    quint64 FramesReceived() const override { return m_receiver.FramesCut; }
    quint64 FramesRejected() const override { return m_receiver.FramesDropped; }

    // The channels it fills, from 1. Beside another source (from channel Channels + 1 on), frames
    // naming a channel above it count for the link only and leave that channel as it was.
    int Channels = MaxChannel;

    SerialControl& Port() { return *m_port; }
    SerialLink& Link() { return *m_link; }
    FrameReceiver& Receiver() { return m_receiver; }

  private:
    bool Decoded(FrameBufferArray& frame);
    void Reported(SerialLink::Event event, const QString& detail);

    SerialControl* m_port;
    FrameReceiver m_receiver;
    SerialLink* m_link;
};
