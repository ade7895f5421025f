#pragma once
// The host services of the running program: message boxes as QMessageBox (titled with the
// program's identity), the system beep, and the shell "open" action through the desktop's
// default handler. Clock, tick and settings store are those of CoreHostServices.
// main() installs one with SetHost for the program's lifetime; tests use FakeHost instead.
#include "platform/host_services.h"

class WindowHostServices : public CoreHostServices {
  public:
    Button message(const QString& text, Buttons buttons, Icon icon, Button defaultButton) override;
    void beep() override;
    bool shellOpen(const QString& path) override;
};
