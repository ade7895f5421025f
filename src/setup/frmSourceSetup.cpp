#include "setup/frmSourceSetup.h"

#include "core/shared_state.h"
#include "datafile/data_file.h"
#include "mainwindow/frmMain.h"
#include "platform/host_services.h"
#include "platform/serial_control.h"
#include "station/reading_source.h"
#include "station/recording_station.h"
#include "station/sigrok_lines.h"
#include "station/sigrok_source.h"
#include "station/source_setup.h"

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

template <class Widget> Widget* Named(Widget* widget, const char* name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

// The drivers of this libsigrok, read once per run and helper ("NAME  DESCRIPTION").
QStringList& CachedDrivers()
{
    static QMap<QString, QStringList> drivers;
    return drivers[SigrokSource::HelperPath()];
}

struct BusyCursor {
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
};

bool Refuse(QString* error, const QString& text)
{
    *error = text;
    return false;
}

} // namespace

frmSourceSetup::frmSourceSetup(QWidget* parent, int fileChannels) : QDialog(parent), m_fileChannels(fileChannels)
{
    setObjectName(QStringLiteral("frmSourceSetup"));
    setWindowTitle(QStringLiteral("Meter Source"));
    if (m_fileChannels <= 0)
        m_fileChannels = MainForm && MainForm->Data1->IsBound() ? MainForm->FieldCount / 2 : MaxChannel;

    cboKind = Named(new QComboBox, "cboKind");
    cboKind->addItems({QStringLiteral("The instrument (RS-232, set in System Setup)"),
                       QStringLiteral("A libsigrok device"),
                       QStringLiteral("Both: the instrument and a libsigrok device")});
    cboDriver = Named(new QComboBox, "cboDriver");
    lblDrivers = Named(new QLabel, "lblDrivers");
    lblDrivers->setWordWrap(true);
    lblDrivers->hide();
    cboPort = Named(new QComboBox, "cboPort");
    cboPort->setEditable(true);
    cboPort->setInsertPolicy(QComboBox::NoInsert);
    cboPort->lineEdit()->setPlaceholderText(QStringLiteral("none (e.g. the demo driver)"));
    txtOptions = Named(new QLineEdit, "txtOptions");
    txtOptions->setPlaceholderText(QStringLiteral("KEY=VALUE ..., e.g. serialcomm=2400/8n1"));
    spnChannels = Named(new QSpinBox, "spnChannels");
    spnChannels->setRange(1, MaxChannel);
    spnFirst = Named(new QSpinBox, "spnFirst");
    spnFirst->setRange(1, MaxChannel);
    cmdTest = Named(new QPushButton(QStringLiteral("Scan/Test")), "cmdTest");
    txtTest = Named(new QPlainTextEdit, "txtTest");
    txtTest->setReadOnly(true);
    txtTest->setPlaceholderText(QStringLiteral("Scan/Test shows the device's first readings here."));
    txtTest->setMinimumHeight(110);
    cmdSave = Named(new QPushButton(QStringLiteral("Save")), "cmdSave");
    cmdCancel = Named(new QPushButton(QStringLiteral("Cancel")), "cmdCancel");

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Source"), cboKind);
    form->addRow(QStringLiteral("libsigrok driver"), cboDriver);
    form->addRow(QString(), lblDrivers);
    form->addRow(QStringLiteral("Port"), cboPort);
    form->addRow(QStringLiteral("Extra options"), txtOptions);
    form->addRow(QStringLiteral("Channels to record"), spnChannels);
    form->addRow(QStringLiteral("First data-file channel"), spnFirst);
    auto* test = new QHBoxLayout;
    test->addWidget(cmdTest);
    test->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdSave);
    buttons->addWidget(cmdCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(test);
    layout->addWidget(txtTest, 1);
    layout->addLayout(buttons);

    m_testLimit.setSingleShot(true);
    connect(&m_testLimit, &QTimer::timeout, this, [this] { EndTest(QString()); });
    connect(cboKind, &QComboBox::currentIndexChanged, this, &frmSourceSetup::KindChanged);
    connect(cmdTest, &QPushButton::clicked, this, &frmSourceSetup::StartTest);
    connect(cmdSave, &QPushButton::clicked, this, [this] {
        if (Save())
            accept();
    });
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);

    LoadDrivers();
    LoadPorts();
    LoadStored();
    KindChanged();
    m_loaded = true;
    // A test's answer belongs to the driver it was run with.
    connect(cboDriver, &QComboBox::currentIndexChanged, this, [this] {
        if (!m_test)
            txtTest->clear();
    });
    resize(520, sizeHint().height());
}

frmSourceSetup::~frmSourceSetup()
{
    if (m_test) {
        m_test->disconnect(this);
        m_test->kill();
        m_test->waitForFinished(1000);
    }
}

void frmSourceSetup::LoadDrivers()
{
    QStringList& drivers = CachedDrivers();
    if (drivers.isEmpty()) {
        BusyCursor busy;
        QString error;
        QStringList lines;
        if (!SigrokSource::ListDrivers(&lines, &error)) {
            lblDrivers->setText(QStringLiteral("No driver list: %1").arg(error));
            lblDrivers->show();
        } else {
            drivers = lines;
        }
    }
    for (const QString& line : drivers) {
        const QString name = line.section(QStringLiteral("  "), 0, 0);
        const QString description = line.section(QStringLiteral("  "), 1).trimmed();
        cboDriver->addItem(description.isEmpty() ? name : QStringLiteral("%1 (%2)").arg(name, description), name);
    }
}

void frmSourceSetup::LoadPorts()
{
    cboPort->addItem(QString());
    for (const SerialDeviceInfo& device : ListSerialDevices()) {
        cboPort->addItem(device.path);
        cboPort->setItemData(cboPort->count() - 1, device.description, Qt::ToolTipRole);
    }
}

void frmSourceSetup::LoadStored()
{
    QList<SourceChoice> choices;
    QString error;
    if (!ParseSourceChoices(StoredSourceTexts(), &choices, &error)) {
        txtTest->setPlainText(QStringLiteral("The stored source is not usable (%1); the instrument is shown.").arg(error));
        return;
    }
    const auto device = std::find_if(choices.begin(), choices.end(),
                                     [](const SourceChoice& c) { return c.kind == SourceChoice::Kind::Sigrok; });
    const bool meter = std::any_of(choices.begin(), choices.end(),
                                   [](const SourceChoice& c) { return c.kind == SourceChoice::Kind::Meter; });
    if (device == choices.end()) {
        cboKind->setCurrentIndex(Instrument);
        spnFirst->setValue(std::min(2, m_fileChannels));
        return;
    }
    cboKind->setCurrentIndex(meter ? Both : Device);
    int found = cboDriver->findData(device->driver);
    if (found < 0) {
        cboDriver->addItem(device->driver, device->driver);
        found = cboDriver->count() - 1;
    }
    cboDriver->setCurrentIndex(found);
    QStringList options;
    for (const QString& option : device->options) {
        if (option.startsWith(QLatin1String("conn=")))
            cboPort->setEditText(option.mid(5));
        else
            options << option;
    }
    txtOptions->setText(options.join(QLatin1Char(' ')));
    spnChannels->setValue(device->channels);
    spnFirst->setValue(device->at.value_or(1));
}

void frmSourceSetup::KindChanged()
{
    const bool device = cboKind->currentIndex() != Instrument;
    // Chosen by the user: a device alone starts at channel 1, beside the instrument after its first.
    if (m_loaded && cboKind->currentIndex() == Device)
        spnFirst->setValue(1);
    else if (m_loaded && cboKind->currentIndex() == Both && spnFirst->value() == 1)
        spnFirst->setValue(std::min(2, m_fileChannels));
    for (QWidget* w : std::initializer_list<QWidget*>{cboDriver, cboPort, txtOptions, spnChannels, spnFirst, cmdTest})
        w->setEnabled(device);
}

bool frmSourceSetup::Texts(QStringList* texts, QString* error) const
{
    const int kind = cboKind->currentIndex();
    QStringList out;
    if (kind != Device)
        out << QStringLiteral("meter");
    if (kind != Instrument) {
        const QString driver = cboDriver->currentData().toString();
        if (driver.isEmpty())
            return Refuse(error, QStringLiteral("libsigrok driver: choose one from the list."));
        QString text = QStringLiteral("sigrok:") + driver;
        const QString port = cboPort->currentText().trimmed();
        if (port.contains(QRegularExpression(QStringLiteral("\\s"))) || port.contains(QLatin1Char('@')))
            return Refuse(error, QStringLiteral("Port: \"%1\" is no port (no spaces or @).").arg(port));
        if (port.startsWith(QLatin1String("/dev/")) && !QFileInfo::exists(port))
            return Refuse(error, QStringLiteral("Port: %1 does not exist. Plug the meter's cable in, or choose a "
                                                "port from the list.")
                                     .arg(port));
        if (!port.isEmpty())
            text += QStringLiteral(":conn=") + port;
        static const QRegularExpression option(QStringLiteral("^[a-z][a-z0-9_]*=[^:@]+$"));
        for (const QString& o : txtOptions->text().split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)) {
            if (!option.match(o).hasMatch())
                return Refuse(error, QStringLiteral("Extra options: \"%1\" is not KEY=VALUE (e.g. serialcomm=2400/8n1).")
                                         .arg(o));
            const QString key = o.section(QLatin1Char('='), 0, 0);
            if (key == QLatin1String("conn"))
                return Refuse(error, QStringLiteral("Extra options: give the port in the Port box, not as conn=."));
            if (key == QLatin1String("channels"))
                return Refuse(error, QStringLiteral("Extra options: give the channels in \"Channels to record\", not "
                                                    "as channels=."));
            text += QLatin1Char(':') + o;
        }
        text += QStringLiteral(":channels=%1@%2").arg(spnChannels->value()).arg(spnFirst->value());
        out << text;
    }
    *texts = out;
    return true;
}

bool frmSourceSetup::Save()
{
    QStringList texts;
    QString error;
    QList<SourceChoice> choices;
    bool ok = Texts(&texts, &error);
    if (ok && !ParseSourceChoices(texts, &choices, &error))
        ok = false, error = QStringLiteral("Source: %1.").arg(error);
    if (ok && !LayOutSources(choices, m_fileChannels, &error))
        ok = false, error = QStringLiteral("First data-file channel / Channels to record: %1.")
                                .arg(error.replace(QStringLiteral("source \"meter\""), QStringLiteral("the instrument")));
    for (const SourceChoice& c : choices) {
        if (!ok || c.kind != SourceChoice::Kind::Sigrok)
            continue;
        if (c.text == m_tested && !m_refused.isEmpty()) {
            ok = false, error = QStringLiteral("libsigrok driver / Extra options: Scan/Test was refused: %1").arg(m_refused);
            continue;
        }
        BusyCursor busy;
        if (!SigrokSource::Check({c.driver, c.options, c.channels}, &error))
            ok = false, error = QStringLiteral("libsigrok driver / Extra options: %1").arg(error);
    }
    if (!ok) {
        Host().message(QStringLiteral("Not saved. %1").arg(error), HostServices::Ok, HostServices::Icon::Warning);
        return false;
    }
    StoreSourceTexts(texts);
    if (MainForm)
        MainForm->SourcesChanged();
    return true;
}

void frmSourceSetup::StartTest()
{
    if (m_test)
        return;
    QStringList texts;
    QString error;
    SourceChoice device;
    if (!Texts(&texts, &error) || !ParseSourceChoice(texts.last(), &device, &error) ||
        device.kind != SourceChoice::Kind::Sigrok) {
        txtTest->setPlainText(error);
        return;
    }
    txtTest->setPlainText(QStringLiteral("Testing %1 for up to %2 s ...").arg(device.text).arg(TestMs / 1000));
    m_tested = device.text;
    m_refused.clear();
    m_channelNames.clear();
    m_testReadings = 0;
    m_testError.clear();
    cmdTest->setEnabled(false);
    m_test = new QProcess(this);
    m_test->setProcessChannelMode(QProcess::SeparateChannels);
    connect(m_test, &QProcess::readyReadStandardOutput, this, &frmSourceSetup::ReadTest);
    connect(m_test, &QProcess::finished, this, [this](int code) {
        ReadTest();
        if (m_test)
            EndTest(m_testReadings == 0 && m_testError.isEmpty()
                        ? QStringLiteral("meter-sigrok ended with exit code %1 before any reading.").arg(code)
                        : QString());
    });
    connect(m_test, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart && m_test)
            EndTest(QStringLiteral("%1 cannot run: %2").arg(SigrokSource::HelperPath(), m_test->errorString()));
    });
    m_test->start(SigrokSource::HelperPath(), QStringList{device.driver} + device.options);
    m_testLimit.start(TestMs);
}

void frmSourceSetup::ReadTest()
{
    while (m_test && m_test->canReadLine()) {
        QByteArray raw = m_test->readLine();
        raw.chop(1);
        ShowTestLine(ParseSigrokLine(raw));
    }
    if (m_test && m_testReadings >= TestReadings)
        EndTest(QString());
}

void frmSourceSetup::ShowTestLine(const SigrokLine& line)
{
    switch (line.kind) {
    case SigrokLine::Kind::Device:
        txtTest->appendPlainText(QStringLiteral("Device: %1, %2 analog channel(s)").arg(line.name).arg(line.count));
        if (line.count < spnChannels->value())
            txtTest->appendPlainText(QStringLiteral("Note: \"Channels to record\" is %1, but the device has %2: "
                                                    "set it to %2 or fewer, or the rest get no readings.")
                                         .arg(spnChannels->value())
                                         .arg(line.count));
        break;
    case SigrokLine::Kind::Channel:
        while (m_channelNames.size() <= line.index)
            m_channelNames << QString();
        m_channelNames[line.index] = line.name;
        break;
    case SigrokLine::Kind::Reading: {
        if (m_testReadings >= TestReadings)
            break;
        ++m_testReadings;
        const QString value = line.overload    ? QStringLiteral("overload")
                              : line.notNumber ? QStringLiteral("not a number")
                                               : QString::number(line.value, 'f', std::max(line.digits, 0));
        const QString name = line.index < m_channelNames.size() && !m_channelNames[line.index].isEmpty()
                                 ? m_channelNames[line.index]
                                 : QStringLiteral("channel %1").arg(line.index + 1);
        QStringList flags;
        for (const QString& f : line.flags)
            flags << f.toUpper();
        txtTest->appendPlainText(QStringLiteral("%1: %2 %3%4")
                                     .arg(name, value, ColumnUnit(line))
                                     .arg(flags.isEmpty() ? QString() : QStringLiteral("  ") + flags.join(QLatin1Char(' '))));
        break;
    }
    case SigrokLine::Kind::Error:
        m_testError = QStringLiteral("error: %1").arg(line.text);
        // The device itself refused an option (a value out of its range): Save refuses it too.
        if (line.name == QLatin1String("option") || line.name == QLatin1String("driver"))
            m_refused = line.text;
        // A serial port opens for one program at a time: the recording may hold this device.
        if (line.name == QLatin1String("open") || line.name == QLatin1String("absent")) {
            const QString name = QStringLiteral("sigrok:") + cboDriver->currentData().toString();
            const RecordingStation* station = MainForm ? &MainForm->Station() : nullptr;
            for (int i = 0; station && i < station->SourceCount(); ++i)
                if (station->Source(i).Name() == name)
                    m_testError += QStringLiteral("\nThe device may be busy: the recording uses %1 now, and a "
                                                  "serial port opens for one program at a time. Its readings "
                                                  "show in the live displays.")
                                       .arg(name);
        }
        txtTest->appendPlainText(m_testError);
        break;
    case SigrokLine::Kind::End:
        txtTest->appendPlainText(QStringLiteral("The session ended: %1").arg(line.text));
        break;
    default:
        break;
    }
}

void frmSourceSetup::EndTest(const QString& last)
{
    if (!m_test)
        return;
    m_testLimit.stop();
    QProcess* p = m_test;
    m_test = nullptr;
    p->disconnect(this);
    SigrokSource::EndHelper(p);
    if (!last.isEmpty())
        txtTest->appendPlainText(last);
    else if (m_testReadings == 0 && m_testError.isEmpty())
        txtTest->appendPlainText(QStringLiteral("No reading within %1 s.").arg(TestMs / 1000));
    else if (m_testReadings > 0)
        txtTest->appendPlainText(QStringLiteral("Test done: %1 reading(s).").arg(m_testReadings));
    cmdTest->setEnabled(cboKind->currentIndex() != Instrument);
}
