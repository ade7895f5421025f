#pragma once
// Host services that engine and windows ask for: message boxes, the beep, the clock, the
// millisecond tick, the shell "open" action and the per-user settings store.
// Everything goes through Host(), so a test installs a fake that records message texts, answers
// them, counts beeps and sets the time. The default host has no windows (messages go to stderr);
// the program installs the window host at start-up.
#include <QDateTime>
#include <QString>
#include <functional>

class HostServices {
public:
    enum class Icon { None, Information, Warning, Critical };
    enum Button { Ok = 0x1, Yes = 0x2, No = 0x4 };
    using Buttons = int;

    virtual ~HostServices() = default;

    // Modal message box; returns the button the user pressed.
    virtual Button message(const QString& text, Buttons buttons = Ok, Icon icon = Icon::None,
                           Button defaultButton = Ok) = 0;
    // Closes the message box shown now (the innermost) as if `answer` had been pressed: message()
    // returns it. Nothing when no box is shown.
    virtual void closeMessage(Button answer) { (void)answer; }
    virtual void beep() = 0;
    virtual QDateTime now() = 0;
    // Monotonic millisecond tick counter; wraps around at 2^32 like the system's tick count.
    virtual quint32 tickCount() = 0;
    virtual bool shellOpen(const QString& path) = 0;
    // The shell "open" action, telling `done` whether a program took the file: at once when that
    // is known at once (here: shellOpen's answer), or later, when the opener ends, for a host
    // whose opener only starts the request.
    virtual void shellOpenThen(const QString& path, std::function<void(bool opened)> done)
    {
        done(shellOpen(path));
    }
    // Per-user settings store: organization and application "Varnik350".
    virtual QString setting(const QString& group, const QString& key, const QString& defaultValue) = 0;
    virtual void setSetting(const QString& group, const QString& key, const QString& value) = 0;
};

// The host in use; never null.
HostServices& Host();
// Installs a host (not owned); nullptr goes back to the default host.
void SetHost(HostServices* host);

// The default host: stderr for messages (answering the default button), the real clock and tick,
// QSettings for the store. The window host derives from it.
class CoreHostServices : public HostServices {
public:
    CoreHostServices();
    Button message(const QString& text, Buttons buttons, Icon icon, Button defaultButton) override;
    void beep() override;
    QDateTime now() override;
    quint32 tickCount() override;
    bool shellOpen(const QString& path) override;
    QString setting(const QString& group, const QString& key, const QString& defaultValue) override;
    void setSetting(const QString& group, const QString& key, const QString& value) override;

private:
    qint64 m_startMs;
};
