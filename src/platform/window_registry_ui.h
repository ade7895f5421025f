#pragma once
// How windows open, raise and close each other without including each other's headers.
// Menus, dialogs and the closing procedure ask Windows() by id; the program installs the
// registry that knows every window of this build (app/), tests install their own or none.
// Without an installed registry Windows() knows no windows: Show returns nullptr, Exists is false.
#include <QWidget>

enum class WindowId { Main, TextDisp, AngularDisp, ChartDisp, NewDB, ScanRate, Select, Select16, EventLog, About };

class WindowRegistry {
  public:
    virtual ~WindowRegistry() = default;
    // Creates the window on first use, shows it and raises it; nullptr when that window is not
    // part of this build.
    virtual QWidget* Show(WindowId id) = 0;
    // Closes (unloads) the window if it is open; its close handler runs as for the close box.
    virtual void Close(WindowId id) = 0;
    virtual bool IsOpen(WindowId id) const = 0;
    // The window type is available in this build (its menu item is enabled).
    virtual bool Exists(WindowId id) const = 0;
};

// The registry in use; never dangling: SetWindowRegistry(nullptr) goes back to the empty one.
WindowRegistry& Windows();
// Installs a registry (not owned).
void SetWindowRegistry(WindowRegistry* registry);
