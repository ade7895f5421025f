#include "setup/frmPortDetect.h"

#include "platform/host_services.h"
#include "platform/serial_control.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPushButton>
#include <QSet>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <limits>

namespace {

// Port numbers looked at for existing mappings: the setup dialog lists 1..255.
constexpr int ListedPorts = 255;

template <class Widget> Widget* Named(Widget* widget, const char* name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QString Canonical(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

} // namespace

frmPortDetect::frmPortDetect(int port, QWidget* parent, const QString& byIdFolder)
    : QDialog(parent), m_byIdFolder(byIdFolder)
{
    setObjectName(QStringLiteral("frmPortDetect"));
    setWindowTitle(QStringLiteral("COM Port Detect"));

    Label1 = Named(new QLabel(QStringLiteral("Serial devices found")), "Label1");
    List1 = Named(new QTreeWidget, "List1");
    List1->setHeaderLabels({QStringLiteral("Device"), QStringLiteral("Description"), QStringLiteral("Port")});
    List1->setRootIsDecorated(false);
    List1->setAllColumnsShowFocus(true);
    List1->header()->setStretchLastSection(false);
    List1->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    List1->header()->setSectionResizeMode(1, QHeaderView::Stretch);
    List1->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    Label2 = Named(new QLabel(QStringLiteral("Device (choose one above or type its path)")), "Label2");
    Text1 = Named(new QLineEdit, "Text1");
    Label3 = Named(new QLabel(QStringLiteral("Comm. Port")), "Label3");
    Text2 = Named(new QSpinBox, "Text2");
    Text2->setRange(1, std::numeric_limits<int16_t>::max());
    Text2->setValue(port);
    Command1 = Named(new QPushButton(QStringLiteral("Map")), "Command1");
    Command2 = Named(new QPushButton(QStringLiteral("Remove Mapping")), "Command2");
    Command3 = Named(new QPushButton(QStringLiteral("Refresh")), "Command3");
    Command4 = Named(new QPushButton(QStringLiteral("Close")), "Command4");
    Command1->setDefault(true);

    auto* choice = new QGridLayout;
    choice->addWidget(Label2, 0, 0, 1, 2);
    choice->addWidget(Text1, 1, 0);
    choice->addWidget(Label3, 0, 2);
    choice->addWidget(Text2, 1, 2);
    choice->setColumnStretch(0, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Command3);
    buttons->addStretch(1);
    buttons->addWidget(Command1);
    buttons->addWidget(Command2);
    buttons->addWidget(Command4);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(List1, 1);
    layout->addLayout(choice);
    layout->addLayout(buttons);

    // The selection, not the current item: the list makes its first row current when it takes
    // the focus, which would overwrite the device mapped now.
    connect(List1, &QTreeWidget::itemSelectionChanged, this, [this] {
        if (const QList<QTreeWidgetItem*> chosen = List1->selectedItems(); !chosen.isEmpty())
            Text1->setText(chosen.first()->text(0));
    });
    connect(Command1, &QPushButton::clicked, this, &frmPortDetect::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &frmPortDetect::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &frmPortDetect::Refresh);
    connect(Command4, &QPushButton::clicked, this, &frmPortDetect::reject);

    Refresh();
    Text1->setText(MappedSerialDevice(port));
    Text1->setFocus();
    resize(std::max(sizeHint().width(), 640), std::max(sizeHint().height(), 320));
}

int frmPortDetect::Port() const
{
    return Text2->value();
}

void frmPortDetect::Refresh()
{
    // Port numbers by the device they are mapped to, compared by the device itself so that a
    // link and its target count as one.
    QMultiMap<QString, int> mapped;
    QMap<QString, QString> written; // the path as the mapping holds it, by device
    for (int n = 1; n <= ListedPorts; ++n) {
        const QString device = MappedSerialDevice(n);
        if (device.isEmpty())
            continue;
        mapped.insert(Canonical(device), n);
        written.insert(Canonical(device), device);
    }
    const auto portsOf = [&](const QString& device) {
        QStringList names;
        for (int n : mapped.values(Canonical(device)))
            names.prepend(QStringLiteral("COM%1").arg(n));
        return names.join(QStringLiteral(", "));
    };

    List1->clear();
    QSet<QString> shown;
    for (const SerialDeviceInfo& device : ListSerialDevices(m_byIdFolder)) {
        List1->addTopLevelItem(new QTreeWidgetItem({device.path, device.description, portsOf(device.path)}));
        shown.insert(Canonical(device.path));
    }
    // Mapped devices the search does not find: typed paths such as pseudo-terminals, and adapters
    // that are unplugged now.
    for (const QString& device : mapped.uniqueKeys()) {
        if (shown.contains(device))
            continue;
        const QString path = written.value(device);
        const QString what = !QFileInfo::exists(device) ? QStringLiteral("Not present now")
                             : path == device           ? QStringLiteral("Typed path")
                                                        : QStringLiteral("Typed path, now %1").arg(device);
        List1->addTopLevelItem(new QTreeWidgetItem({path, what, portsOf(device)}));
    }
}

void frmPortDetect::Command1_Click()
{
    const QString device = Text1->text().trimmed();
    if (device.isEmpty()) {
        Host().message(QStringLiteral("Choose a device from the list or type its path."), HostServices::Ok);
        return;
    }
    const QFileInfo info(device);
    if (!info.exists() || info.isDir()) {
        Host().message(QStringLiteral("No device %1 was found: nothing is mapped.").arg(device),
                       HostServices::Ok, HostServices::Icon::Warning);
        return;
    }
    MapSerialPort(Port(), device);
    accept();
}

void frmPortDetect::Command2_Click()
{
    MapSerialPort(Port(), QString());
    Refresh();
}
