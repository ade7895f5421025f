#pragma once
// The host services of the running program: message boxes as QMessageBox (titled with the
// program's identity), the beep, and the shell "open" action through the desktop's default
// handler (xdg-open on a Unix desktop). Clock, tick and settings store are those of CoreHostServices.
// The beep is a short tone played through the sound system (the X bell is silent on many
// desktops); where there is no sound output device, or the tone cannot be played, it is the
// system bell (QApplication::beep). The sound system is first touched by the first beep.
// main() installs one with SetHost for the program's lifetime; tests use FakeHost instead.
#include "platform/host_services.h"

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <memory>

class AlarmTone;

// The alarm tone as a complete WAV file: 16-bit mono PCM, 880 Hz for 150 ms, faded in and out so
// that it starts and ends without a click.
QByteArray AlarmToneWav();

class QMessageBox;

class WindowHostServices : public CoreHostServices {
  public:
    WindowHostServices();
    ~WindowHostServices() override;

    Button message(const QString& text, Buttons buttons, Icon icon, Button defaultButton) override;
    void closeMessage(Button answer) override;
    void beep() override;
    bool shellOpen(const QString& path) override;
    // Through xdg-open where there is one, which ends with an error when no program is set to
    // open the file (starting it would succeed all the same): `done` is told when it ends. It is
    // never stopped, also when the program ends first. Elsewhere as shellOpen.
    void shellOpenThen(const QString& path, std::function<void(bool opened)> done) override;
    // The opener shellOpenThen runs; found on PATH by default, a test sets its own.
    QString opener;

  private:
    std::unique_ptr<AlarmTone> m_tone;
    QList<QPointer<QMessageBox>> m_boxes; // the boxes shown now, innermost last
};
