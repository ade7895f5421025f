#pragma once
// The program's window registry: knows every window of this build by id and creates it on first
// use. Windows it creates close with WA_DeleteOnClose; a closed window is created afresh the next
// time. The About box is modal and owned by the main window; the main window itself is MainForm
// (created by start-up) and closing it ends the program. Installed by main() and by window tests.
#include "platform/window_registry_ui.h"

#include <QPointer>
#include <array>

class AppWindowRegistry final : public WindowRegistry {
  public:
    QWidget* Show(WindowId id) override;
    void Close(WindowId id) override;
    bool IsOpen(WindowId id) const override;
    bool Exists(WindowId id) const override;

  private:
    QWidget* window(WindowId id) const;
    QWidget* create(WindowId id);

    std::array<QPointer<QWidget>, static_cast<size_t>(WindowId::About) + 1> m_windows;
};
