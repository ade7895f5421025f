#pragma once
// A host for tests: records every message box, answers from a queue (else the default button),
// counts beeps, and keeps the clock, the tick and the settings store in memory.
#include "core/shared_state.h"
#include "platform/host_services.h"

#include <QMap>
#include <QQueue>
#include <QStringList>
#include <functional>
#include <optional>
#include <utility>

class FakeHost : public HostServices {
public:
    struct Shown {
        QString text;
        Buttons buttons;
        Icon icon;
        Button defaultButton;
    };

    FakeHost() { SetHost(this); }
    ~FakeHost() override { SetHost(nullptr); }
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    Button message(const QString& text, Buttons buttons, Icon icon, Button defaultButton) override
    {
        shown.append({text, buttons, icon, defaultButton});
        m_closedAs.reset();
        ++m_open;
        if (onMessage)
            onMessage();
        --m_open;
        if (m_closedAs)
            return *std::exchange(m_closedAs, std::nullopt);
        return answers.isEmpty() ? defaultButton : answers.dequeue();
    }
    // A box closed by the program while it was up (onMessage runs then) answers as closed.
    void closeMessage(Button answer) override
    {
        if (m_open > 0) {
            m_closedAs = answer;
            closed.append(answer);
        }
    }
    void beep() override { ++beeps; }
    QDateTime now() override { return clock; }
    quint32 tickCount() override { return tick; }
    bool shellOpen(const QString& path) override
    {
        opened.append(path);
        return true;
    }
    // With deferOpen, the answer waits in pendingOpens until the test gives it.
    void shellOpenThen(const QString& path, std::function<void(bool opened)> done) override
    {
        if (!deferOpen)
            return HostServices::shellOpenThen(path, std::move(done));
        opened.append(path);
        pendingOpens.append(std::move(done));
    }
    QString setting(const QString& group, const QString& key, const QString& defaultValue) override
    {
        return settings.value(group + '/' + key, defaultValue);
    }
    void setSetting(const QString& group, const QString& key, const QString& value) override
    {
        settings.insert(group + '/' + key, value);
    }

    QStringList texts() const
    {
        QStringList all;
        for (const auto& s : shown)
            all.append(s.text);
        return all;
    }

    QList<Shown> shown;
    QList<Button> closed; // boxes the program closed itself, with the answer it gave
    QQueue<Button> answers;
    bool deferOpen = false;
    QList<std::function<void(bool opened)>> pendingOpens;
    std::function<void()> onMessage; // runs while the "box" is up, before it is answered
    int beeps = 0;
    QDateTime clock{QDate(2026, 12, 7), QTime(10, 0, 0)};
    quint32 tick = 1000;
    QMap<QString, QString> settings;
    QStringList opened;

private:
    std::optional<Button> m_closedAs;
    int m_open = 0;
};

// As if a frame had just brought a reading of every channel: rows are recorded with the readings
// the test put in Shared, as long as the host's tick stays within the freshness limit of now.
inline void HearAllChannels()
{
    Shared.Freshness.FrameArrived();
    for (int n = 1; n <= MaxChannel; ++n)
        Shared.Freshness.Heard(n);
}
