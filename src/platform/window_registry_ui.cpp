#include "platform/window_registry_ui.h"

namespace {
class NoWindows final : public WindowRegistry {
  public:
    QWidget* Show(WindowId) override { return nullptr; }
    void Close(WindowId) override {}
    bool IsOpen(WindowId) const override { return false; }
    bool Exists(WindowId) const override { return false; }
};

WindowRegistry* g_registry = nullptr;
} // namespace

WindowRegistry& Windows()
{
    static NoWindows none;
    return g_registry ? *g_registry : none;
}

void SetWindowRegistry(WindowRegistry* registry)
{
    g_registry = registry;
}
