#include "setup/frmScanRate.h"

#include "mainwindow/frmMain.h"
#include "core/config_files.h"
#include "displays/display_parts.h"
#include "core/typed_number.h"
#include "core/shared_state.h"
#include "platform/center_form_ui.h"
#include "platform/host_services.h"
#include "platform/serial_control.h"
#include "platform/window_registry_ui.h"
#include "setup/frmPortDetect.h"
#include "setup/frmSourceSetup.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <limits>

namespace {

const QString ScanRateOverRange = QStringLiteral(" Scan Rate Over Range !!!");
const QString MaxRecordOverRange = QStringLiteral("Max. Record Data Over Range !!!");
const QString ComPortOverRange = QStringLiteral(" Comm. Port Over Range !!!");
const QString SelectDisplayType = QStringLiteral("Please select a display type");

constexpr int MaxRecordLimit = 65535;
constexpr int ListedPorts = 255;

const QStringList TextDisplayTypes = {
    QStringLiteral("1 Display"),  QStringLiteral("2 Display"), QStringLiteral("4 Display"),
    QStringLiteral("6 Display"),  QStringLiteral("8 Display"), QStringLiteral("12 Display"),
    QStringLiteral("16 Display"),
};
const QStringList AngularDisplayTypes = {QStringLiteral("1 Display"), QStringLiteral("2 Display"),
                                         QStringLiteral("4 Display")};

template <class Widget> Widget* Named(Widget* widget, const QString& name)
{
    widget->setObjectName(name);
    return widget;
}

bool ScanRateInRange(int rate)
{
    return rate >= MinScanRate && rate <= MaxScanRate;
}

// The list position to show: a value read from a hand-edited default.txt outside the list shows
// the first item.
int ListPosition(int value, int count)
{
    return value >= 0 && value < count ? value : 0;
}

} // namespace

frmScanRate::frmScanRate(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmScanRate"));
    setWindowTitle(QStringLiteral("System Setup"));
    buildControls();
    Form_Load();
}

void frmScanRate::buildControls()
{
    Label4 = Named(new QLabel(QStringLiteral("System Setup")), QStringLiteral("Label4"));
    QFont title = Label4->font();
    title.setBold(true);
    title.setPointSizeF(title.pointSizeF() * 1.5);
    Label4->setFont(title);
    Label4->setAlignment(Qt::AlignCenter);

    Label1 = Named(new QLabel(QStringLiteral("System Scan Rate (1-3600  Sec)")), QStringLiteral("Label1"));
    Text1 = Named(new QLineEdit, QStringLiteral("Text1"));
    Label3 = Named(new QLabel(QStringLiteral("Max Record Data")), QStringLiteral("Label3(2)"));
    Text2 = Named(new QLineEdit, QStringLiteral("Text2(0)"));
    Label2 = Named(new QLabel(QStringLiteral("Comm. Port")), QStringLiteral("Label2"));
    Combo1 = Named(new QComboBox, QStringLiteral("Combo1"));
    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    Command3 = Named(new QPushButton(QStringLiteral("COM Port Detect")), QStringLiteral("Command3"));

    Frame1 = Named(new QGroupBox(QStringLiteral("baud rate")), QStringLiteral("Frame1"));
    Option2[1] = Named(new QRadioButton(QStringLiteral("9600"), Frame1), QStringLiteral("Option2(1)"));
    Option2[0] = Named(new QRadioButton(QStringLiteral("2400"), Frame1), QStringLiteral("Option2(0)"));
    Option2[1]->setChecked(true);
    auto* baud = new QHBoxLayout(Frame1);
    baud->addWidget(Option2[1]);
    baud->addWidget(Option2[0]);

    auto* meter = Named(new QGroupBox, QStringLiteral("Frame2"));
    const QString meterCaptions[] = {QStringLiteral("Normal Meter"), QStringLiteral("Special Meter "),
                                     QStringLiteral("Special Meter 2")};
    auto* meterLayout = new QVBoxLayout(meter);
    for (size_t i = 0; i < Option1.size(); ++i) {
        Option1[i] = Named(new QRadioButton(meterCaptions[i], meter), QStringLiteral("Option1(%1)").arg(i));
        meterLayout->addWidget(Option1[i]);
    }
    Option1[0]->setChecked(true);

    const QString typeCaptions[] = {QStringLiteral(" Text Display Type"),
                                    QStringLiteral("Angular Display Type"),
                                    QStringLiteral("Chart Display Chan.")};
    for (size_t i = 0; i < Label6.size(); ++i)
        Label6[i] = Named(new QLabel(typeCaptions[i]), QStringLiteral("Label6(%1)").arg(i));
    Combo2 = Named(new QComboBox, QStringLiteral("Combo2"));
    Combo3 = Named(new QComboBox, QStringLiteral("Combo3"));
    for (QComboBox* combo : {Combo2, Combo3}) {
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
    }
    UpDown2 = Named(new QSpinBox, QStringLiteral("UpDown2(1)"));
    UpDown2->setRange(1, MaxChannel);
    if (auto* box = UpDown2->findChild<QLineEdit*>())
        box->setObjectName(QStringLiteral("Text5(1)"));

    lblSource = Named(new QLabel, QStringLiteral("lblSource"));
    lblSource->setWordWrap(true);
    cmdSource = Named(new QPushButton(QStringLiteral("Meter Source...")), QStringLiteral("cmdSource"));

    Command2 = Named(new QPushButton(QStringLiteral("Save")), QStringLiteral("Command2"));
    Command1 = Named(new QPushButton(QStringLiteral("Exit")), QStringLiteral("Command1"));

    auto* grid = new QGridLayout;
    int row = 0;
    grid->addWidget(Label1, row, 0);
    grid->addWidget(Text1, row++, 1);
    grid->addWidget(Label3, row, 0);
    grid->addWidget(Text2, row++, 1);
    grid->addWidget(Label2, row, 0);
    grid->addWidget(Combo1, row, 1);
    grid->addWidget(Command3, row++, 2);
    grid->addWidget(Frame1, row, 0);
    grid->addWidget(meter, row++, 1, 1, 2);
    for (size_t i = 0; i < Label6.size(); ++i)
        grid->addWidget(Label6[i], row + int(i), 0);
    grid->addWidget(Combo2, row++, 1);
    grid->addWidget(Combo3, row++, 1);
    grid->addWidget(UpDown2, row++, 1);
    grid->addWidget(lblSource, row, 0, 1, 2);
    grid->addWidget(cmdSource, row++, 2);
    // Enlarged, the dialog keeps its entries together, centred under the title: the room goes
    // beside and under them, not into wider boxes.
    auto* centred = new QHBoxLayout;
    centred->addStretch(1);
    centred->addLayout(grid);
    centred->addStretch(1);

    SavedNote = MakeSavedNote();
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(SavedNote, 1);
    buttons->addWidget(Command2);
    buttons->addWidget(Command1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label4);
    layout->addSpacing(8);
    layout->addLayout(centred);
    layout->addSpacing(8);
    layout->addStretch(1);
    layout->addLayout(buttons);

    for (QLineEdit* edit : {Text1, Text2})
        edit->installEventFilter(this);
    connect(Text1, &QLineEdit::returnPressed, this, &frmScanRate::Text1_Return);
    connect(Command2, &QPushButton::clicked, this, &frmScanRate::Command2_Click);
    connect(Command1, &QPushButton::clicked, this, &frmScanRate::Command1_Click);
    connect(Command3, &QPushButton::clicked, this, &frmScanRate::Command3_Click);
    connect(cmdSource, &QPushButton::clicked, this, &frmScanRate::cmdSource_Click);
    for (QComboBox* combo : {Combo2, Combo3})
        connect(combo->lineEdit(), &QLineEdit::editingFinished, this,
                [this, combo] { DisplayType_Change(combo); });
}

void frmScanRate::Form_Load()
{
    ShowSources();
    adjustSize();
    CenterForm(this);

    m_scanRate = Shared.ScanRate;
    m_maxRecords = Shared.MaxRecords;
    m_comPort = Shared.ComPort;
    Text1->setText(QString::number(Shared.ScanRate));
    Text2->setText(QString::number(Shared.MaxRecords));

    for (int port = 1; port <= ListedPorts; ++port)
        Combo1->addItem(QString::number(port));
    Combo1->setEditText(QString::number(Shared.ComPort));

    Combo2->addItems(TextDisplayTypes);
    Combo2->setCurrentIndex(ListPosition(Shared.TextDisplayType, Combo2->count()));
    Combo3->addItems(AngularDisplayTypes);
    Combo3->setCurrentIndex(ListPosition(Shared.AngularDisplayType, Combo3->count()));

    const int chart = Shared.ChartDisplayChannel;
    UpDown2->setValue(chart >= 1 && chart <= MaxChannel ? chart : 1);

    if (Shared.Format01)
        Option1[1]->setChecked(true);
    if (Shared.BaudRate == 2400)
        Option2[0]->setChecked(true);
    m_baudRate = Shared.BaudRate;

    const std::pair<bool, WindowId> displays[] = {
        {Shared.AngularDispOpen, WindowId::AngularDisp},
        {Shared.TextDispOpen, WindowId::TextDisp},
        {Shared.ChartDispOpen, WindowId::ChartDisp},
    };
    for (const auto& [open, id] : displays) {
        if (open || Windows().IsOpen(id))
            Windows().Close(id);
    }
}

void frmScanRate::Command2_Click()
{
    // Clicking Save moves the focus out of a display type box without the box's own check (see
    // DisplayType_Change): a type that matches no item stores nothing at all.
    for (QComboBox* combo : {Combo2, Combo3}) {
        if (combo->findText(combo->currentText(), Qt::MatchExactly) < 0) {
            Host().message(SelectDisplayType, HostServices::Ok);
            combo->setFocus();
            combo->lineEdit()->selectAll();
            return;
        }
    }

    if (const auto rate = TypedInteger(Text1->text(), MinScanRate, MaxScanRate)) {
        Shared.ScanRate = static_cast<int16_t>(*rate);
    } else {
        Text1->setText(QString::number(m_scanRate));
        Shared.ScanRate = m_scanRate;
        Host().message(ScanRateOverRange, HostServices::Ok);
    }

    if (const auto limit = TypedInteger(Text2->text(), 0, MaxRecordLimit)) {
        Shared.MaxRecords = static_cast<int32_t>(*limit);
    } else {
        Text2->setText(QString::number(m_maxRecords));
        Shared.MaxRecords = m_maxRecords;
        Host().message(MaxRecordOverRange, HostServices::Ok);
    }

    // Any port number is taken, but one that a 16-bit number cannot hold is out of range: it
    // would otherwise wrap round to another port.
    if (const auto port = TypedInteger(Combo1->currentText(), std::numeric_limits<int16_t>::min(),
                                       std::numeric_limits<int16_t>::max())) {
        Shared.ComPort = static_cast<int16_t>(*port);
    } else {
        Combo1->setEditText(QString::number(m_comPort));
        Shared.ComPort = m_comPort;
        Host().message(ComPortOverRange, HostServices::Ok);
    }

    Shared.TextDisplayType = static_cast<int16_t>(std::max(0, Combo2->currentIndex()));
    Shared.AngularDisplayType = static_cast<int16_t>(std::max(0, Combo3->currentIndex()));
    Shared.ChartDisplayChannel = static_cast<int16_t>(UpDown2->value());
    Shared.BaudRate = Option2[0]->isChecked() ? 2400 : 9600;
    Shared.Format01 = Option1[1]->isChecked();

    RestartLink();

    QString error;
    const bool saved = SaveDefaults(&error);
    // The dialog stays open after Save: this line is what tells that the press took.
    ShowSaved(SavedNote, saved, saved ? QDir::toNativeSeparators(DataPath(QStringLiteral("default.txt"))) : error);
    if (!saved)
        Host().message(error, HostServices::Ok, HostServices::Icon::Critical);
    if (MainForm)
        MainForm->AnnounceSetupSaved();
}

void frmScanRate::Command1_Click()
{
    if (!ScanRateInRange(Shared.ScanRate))
        Shared.ScanRate = MinScanRate;
    close();
}

void frmScanRate::closeEvent(QCloseEvent* event)
{
    if (Shared.BaudRate != m_baudRate)
        RestartLink();
    event->accept();
}

void frmScanRate::RestartLink()
{
    // Without the instrument among the sources there is no port to restart.
    if (!MainForm || !MainForm->MSComm1 || !MainForm->MSComm1->PortOpen())
        return;
    MainForm->MSComm1->SetPortOpen(false);
    // A display opened while this dialog is up would otherwise wait for the watchdog, which
    // reopens the port at 9600 baud whatever was chosen; start it now with the new settings.
    if ((Shared.TextDispOpen || Shared.AngularDispOpen || Shared.ChartDispOpen) && !MainForm->Closing())
        MainForm->Start232();
}

void frmScanRate::Command3_Click()
{
    const auto port = TypedInteger(Combo1->currentText(), 1, std::numeric_limits<int16_t>::max());
    frmPortDetect list(port.value_or(1), this);
    if (list.exec() == QDialog::Accepted)
        Combo1->setEditText(QString::number(list.Port()));
}

void frmScanRate::cmdSource_Click()
{
    frmSourceSetup setup(this);
    setup.exec();
    ShowSources();
}

void frmScanRate::ShowSources()
{
    const QString text = MainForm ? MainForm->SourcesInUse() : QString();
    lblSource->setText(QStringLiteral("Meter source: %1")
                           .arg(text.isEmpty() ? QStringLiteral("the instrument (RS-232)") : text));
    lblSource->setToolTip(lblSource->text());
}

void frmScanRate::DisplayType_Change(QComboBox* combo)
{
    // The focus going to Save leaves the check to Save, which then stores nothing; a message box
    // shown here would swallow the click.
    if (QApplication::focusWidget() == Command2)
        return;
    const int found = combo->findText(combo->currentText(), Qt::MatchExactly);
    if (found >= 0) {
        combo->setCurrentIndex(found);
        return;
    }
    Host().message(SelectDisplayType, HostServices::Ok);
    combo->setCurrentIndex(0);
    combo->setEditText(combo->itemText(0));
}

void frmScanRate::Text1_Return()
{
    // The stored value decides, not the box: Enter moves on only while the saved rate is valid.
    if (ScanRateInRange(Shared.ScanRate))
        focusNextChild();
}

bool frmScanRate::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn) {
        if (auto* edit = qobject_cast<QLineEdit*>(watched))
            // After the click that gave the focus has placed the cursor.
            QTimer::singleShot(0, edit, &QLineEdit::selectAll);
    }
    return QWidget::eventFilter(watched, event);
}
