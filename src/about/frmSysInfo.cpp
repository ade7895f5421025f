#include "about/frmSysInfo.h"

#include "core/shared_state.h"
#include "platform/serial_control.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QSysInfo>
#include <QVBoxLayout>

QString CollectSystemInfo()
{
    QStringList lines;
    lines << QStringLiteral("Program: %1, %2, build %3")
                 .arg(Shared.ExeTitle, Shared.VersionText, QStringLiteral(VARNIK_VERSION_TEXT));
    lines << QStringLiteral("Qt: %1 (built with %2)")
                 .arg(QString::fromLatin1(qVersion()), QStringLiteral(QT_VERSION_STR));
    lines << QStringLiteral("Operating system: %1; kernel %2 %3; %4")
                 .arg(QSysInfo::prettyProductName(), QSysInfo::kernelType(), QSysInfo::kernelVersion(),
                      QSysInfo::currentCpuArchitecture());
    lines << QStringLiteral("Data folder: %1")
                 .arg(QDir::toNativeSeparators(QDir::cleanPath(DataPath(QString()))));
    const QString dataFile = DataPath(Shared.DataFileName);
    lines << QStringLiteral("Data file: %1 (%2)")
                 .arg(QDir::toNativeSeparators(dataFile),
                      QFileInfo(dataFile).isFile() ? QStringLiteral("present") : QStringLiteral("missing"));
    if (Shared.ComPort >= 1) {
        lines << QStringLiteral("Serial port: COM%1 = %2, %3 baud")
                     .arg(Shared.ComPort)
                     .arg(SerialDeviceForPort(Shared.ComPort))
                     .arg(Shared.BaudRate);
    } else {
        lines << QStringLiteral("Serial port: none chosen");
    }

    const auto ports = QSerialPortInfo::availablePorts();
    lines << QStringLiteral("Serial devices found: %1").arg(ports.size());
    for (const QSerialPortInfo& port : ports) {
        QStringList about;
        for (const QString& part : {port.description(), port.manufacturer(), port.serialNumber()}) {
            if (!part.isEmpty())
                about << part;
        }
        lines << QStringLiteral("  %1%2").arg(
            port.systemLocation(),
            about.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(about.join(QStringLiteral(", "))));
    }
    return lines.join(QLatin1Char('\n'));
}

frmSysInfo::frmSysInfo(const QString& info, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmSysInfo"));
    setWindowTitle(QStringLiteral("System Information"));

    txtInfo = new QPlainTextEdit(info, this);
    txtInfo->setObjectName(QStringLiteral("txtInfo"));
    txtInfo->setReadOnly(true);
    txtInfo->setLineWrapMode(QPlainTextEdit::NoWrap);

    cmdCopy = new QPushButton(QStringLiteral("&Copy"), this);
    cmdCopy->setObjectName(QStringLiteral("cmdCopy"));
    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    connect(cmdCopy, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(txtInfo->toPlainText()); });
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdCopy);
    buttons->addWidget(cmdOK);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(txtInfo, 1);
    layout->addLayout(buttons);
    resize(560, 300);
}
