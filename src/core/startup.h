#pragma once
// The engine half of start-up, run by main() before any window exists: the identity, the initial
// values of the shared state, the configuration files and the number formats. The window half
// (splash, main window, the wait) lives in app/.
#include <QString>
#include <cstdint>

// Sets GenericIdentity, ExeTitle, VersionText and ProductText from the executable's file name
// without its extension: exactly "Varnik350" (letter case included) is the branded identity, any
// other name the generic one.
void SetIdentity(const QString& executablePath);

// AppPath (the executable's folder), identity, initial run-state values, the data folder
// (PrepareDataFolder: Shared.DataFolder set beforehand is the command line's choice), LoadConfiguration,
// DecimalFormat(0..3) and ChartValue. Returns false with LoadConfiguration's message when a
// configuration file cannot be read; start-up then shows the message and ends.
bool StartupEngine(const QString& executablePath, QString* error);

// The baud rate kept in the settings store (group "Settings", key "BaudRate"); 9600 when the
// store has none or a value that is not a whole number.
int32_t StoredBaudRate();
