#include "platform/host_services_ui.h"

#include "core/shared_state.h"

#include <QApplication>
#include <QAudioDevice>
#include <QDesktopServices>
#include <QMediaDevices>
#include <QMessageBox>
#include <QProcess>
#include <QSoundEffect>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QUrl>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace {
QMessageBox::Icon boxIcon(HostServices::Icon icon)
{
    switch (icon) {
    case HostServices::Icon::Information:
        return QMessageBox::Information;
    case HostServices::Icon::Warning:
        return QMessageBox::Warning;
    case HostServices::Icon::Critical:
        return QMessageBox::Critical;
    case HostServices::Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButton boxButton(HostServices::Button button)
{
    switch (button) {
    case HostServices::Yes:
        return QMessageBox::Yes;
    case HostServices::No:
        return QMessageBox::No;
    case HostServices::Ok:
        break;
    }
    return QMessageBox::Ok;
}
} // namespace

HostServices::Button WindowHostServices::message(const QString& text, Buttons buttons, Icon icon,
                                                 Button defaultButton)
{
    // Without a window system (a program started before the QApplication exists) there is no box.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return CoreHostServices::message(text, buttons, icon, defaultButton);

    QMessageBox box(boxIcon(icon), Shared.ExeTitle.section('.', 0, 0), text, QMessageBox::NoButton,
                    QApplication::activeWindow());
    for (Button b : {Yes, No, Ok}) {
        if (buttons & b)
            box.addButton(boxButton(b));
    }
    if (box.buttons().isEmpty())
        box.addButton(QMessageBox::Ok);
    box.setDefaultButton(boxButton(defaultButton));
    m_boxes.append(&box);
    box.exec();
    m_boxes.removeAll(&box);
    const auto pressed = box.standardButton(box.clickedButton());
    if (pressed == QMessageBox::Yes)
        return Yes;
    if (pressed == QMessageBox::No)
        return No;
    if (pressed == QMessageBox::Ok)
        return Ok;
    // Escape or the close box: the answer that does nothing, like the box's escape button.
    return (buttons & No) ? No : defaultButton;
}

void WindowHostServices::closeMessage(Button answer)
{
    m_boxes.removeAll(nullptr);
    if (m_boxes.isEmpty())
        return;
    // Clicked, so that the box answers as if the user had pressed it.
    if (QAbstractButton* button = m_boxes.last()->button(boxButton(answer)))
        button->click();
}

QByteArray AlarmToneWav()
{
    constexpr int rate = 22050;
    constexpr int samples = rate * 150 / 1000;
    constexpr int fade = rate * 5 / 1000;
    constexpr double frequency = 880.0;
    constexpr double amplitude = 0.5 * 32767;
    constexpr int dataBytes = samples * 2;

    QByteArray wav(44 + dataBytes, '\0');
    char* at = wav.data();
    const auto put32 = [&](int offset, quint32 v) { qToLittleEndian(v, at + offset); };
    const auto put16 = [&](int offset, quint16 v) { qToLittleEndian(v, at + offset); };
    std::memcpy(at, "RIFF", 4);
    put32(4, 36 + dataBytes);
    std::memcpy(at + 8, "WAVEfmt ", 8);
    put32(16, 16); // format chunk size
    put16(20, 1);  // PCM
    put16(22, 1);  // mono
    put32(24, rate);
    put32(28, rate * 2); // bytes a second
    put16(32, 2);        // bytes a frame
    put16(34, 16);       // bits a sample
    std::memcpy(at + 36, "data", 4);
    put32(40, dataBytes);
    for (int i = 0; i < samples; ++i) {
        const double envelope = std::min({1.0, double(i) / fade, double(samples - 1 - i) / fade});
        const double value = amplitude * envelope * std::sin(2 * std::numbers::pi * frequency * i / rate);
        put16(44 + 2 * i, static_cast<quint16>(static_cast<qint16>(std::lround(value))));
    }
    return wav;
}

// The tone, written once to a temporary file (QSoundEffect plays files and resources only).
class AlarmTone {
  public:
    AlarmTone()
    {
        if (!m_file.open() || m_file.write(AlarmToneWav()) < 0 || !m_file.flush())
            return;
        m_effect.setSource(QUrl::fromLocalFile(m_file.fileName()));
        m_effect.setVolume(0.8f);
    }

    // False when the tone cannot be heard: no output device, or the file did not load.
    bool play()
    {
        if (m_effect.source().isEmpty() || m_effect.status() == QSoundEffect::Error ||
            QMediaDevices::defaultAudioOutput().isNull())
            return false;
        m_effect.play();
        return true;
    }

  private:
    QTemporaryFile m_file;
    QSoundEffect m_effect;
};

WindowHostServices::WindowHostServices() = default;
WindowHostServices::~WindowHostServices() = default;

void WindowHostServices::beep()
{
    if (!m_tone && qobject_cast<QApplication*>(QCoreApplication::instance()))
        m_tone = std::make_unique<AlarmTone>();
    if (!m_tone || !m_tone->play())
        QApplication::beep();
}

bool WindowHostServices::shellOpen(const QString& path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void WindowHostServices::shellOpenThen(const QString& path, std::function<void(bool opened)> done)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    const QString program = opener.isEmpty() ? QStandardPaths::findExecutable(QStringLiteral("xdg-open")) : opener;
    if (!program.isEmpty()) {
        // Not a child of anything: the viewer it may run in the foreground stays when we end.
        auto* process = new QProcess;
        process->setProgram(program);
        process->setArguments({path});
        process->setStandardInputFile(QProcess::nullDevice());
        process->setStandardOutputFile(QProcess::nullDevice());
        QObject::connect(process, &QProcess::finished, process, [process, done](int code, QProcess::ExitStatus status) {
            done(status == QProcess::NormalExit && code == 0);
            process->deleteLater();
        });
        QObject::connect(process, &QProcess::errorOccurred, process, [process, done](QProcess::ProcessError error) {
            if (error != QProcess::FailedToStart)
                return;
            done(false);
            process->deleteLater();
        });
        process->start();
        return;
    }
#endif
    done(shellOpen(path));
}
