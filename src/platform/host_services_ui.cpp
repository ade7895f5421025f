#include "platform/host_services_ui.h"

#include "core/shared_state.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

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
    box.exec();
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

void WindowHostServices::beep()
{
    QApplication::beep();
}

bool WindowHostServices::shellOpen(const QString& path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}
