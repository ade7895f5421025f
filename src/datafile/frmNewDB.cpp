#include "datafile/frmNewDB.h"

#include "mainwindow/frmMain.h"
#include "core/shared_state.h"
#include "datafile/data_file.h"
#include "platform/center_form_ui.h"
#include "platform/host_services.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {

const QString FileExistMessage = QStringLiteral(" File is Exist . New Data will append to this file !!!");
const QString CreatedMessage = QStringLiteral(" Data File Created O.K. !!!");
const QString Extension = QStringLiteral(".mdb");

template <class Widget> Widget* Named(Widget* widget, const char* name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

} // namespace

frmNewDB::frmNewDB(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle(QStringLiteral("Create New Data File"));
    Label4 = Named(new QLabel(QStringLiteral("Select Channel No"), this), "Label4");
    Combo1 = Named(new QComboBox(this), "Combo1");
    Label1 = Named(new QLabel(QStringLiteral("Data File Name"), this), "Label1");
    Text1 = Named(new QLineEdit(this), "Text1");
    Text2 = Named(new QLineEdit(this), "Text2");
    Text2->setReadOnly(true);
    Command1 = Named(new QPushButton(QStringLiteral("Create"), this), "Command1");
    Command2 = Named(new QPushButton(QStringLiteral("Exit"), this), "Command2");

    auto* grid = new QGridLayout(this);
    grid->addWidget(Label4, 0, 0);
    grid->addWidget(Combo1, 0, 1);
    grid->addWidget(Label1, 1, 0);
    grid->addWidget(Text1, 1, 1);
    grid->addWidget(Text2, 2, 0, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Command1);
    buttons->addWidget(Command2);
    grid->addLayout(buttons, 3, 0, 1, 2);
    Text2->setMinimumWidth(fontMetrics().averageCharWidth() * 48);

    connect(Combo1, &QComboBox::currentIndexChanged, this, &frmNewDB::Combo1_Click);
    connect(Text1, &QLineEdit::textChanged, this, &frmNewDB::Text1_Change);
    // The path box shows where the name being typed puts the file.
    connect(Text1, &QLineEdit::textEdited, this,
            [this](const QString& text) { Text2->setText(DataPath(text + Extension)); });
    connect(Command1, &QPushButton::clicked, this, &frmNewDB::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &frmNewDB::close);

    adjustSize();
    CenterForm(this);
    m_currentName = Shared.DataFileName;
    Text2->setText(DataPath(Shared.DataFileName));
    Text1->setText(Shared.DataFileName.section(QLatin1Char('.'), 0, 0));
    // setText does not signal when the text stays the same (an empty name), yet the rule holds.
    Text1_Change(Text1->text());
    if (MainForm)
        m_timerWasOn = MainForm->SuspendScan(QStringLiteral("\"Create New Data File\" is open"));
    Combo1->addItems(
        {QStringLiteral("  8 Channel"), QStringLiteral("  12 Channel"), QStringLiteral("  16 Channel")});
    Combo1->setCurrentIndex(0);
}

void frmNewDB::Combo1_Click(int index)
{
    static constexpr int16_t Counts[] = {8, 12, 16};
    if (index >= 0 && index < 3)
        m_channels = Counts[index];
}

void frmNewDB::Text1_Change(const QString& text)
{
    Shared.DataFileName = text + Extension;
}

void frmNewDB::Refuse(const QString& error)
{
    Shared.DataFileName = m_currentName;
    Host().message(error, HostServices::Ok, HostServices::Icon::Critical);
}

void frmNewDB::Command1_Click()
{
    // A refusal puts back the name in use while the box keeps the typed one: take it up again.
    Text1_Change(Text1->text());
    // An empty name would make ".mdb", a file that folder listings hide.
    if (Text1->text().trimmed().isEmpty()) {
        Refuse(QStringLiteral("Please type a name for the data file."));
        return;
    }
    if (const QString refusal = DataFolderNameRefusal(Text1->text()); !refusal.isEmpty()) {
        Refuse(refusal);
        return;
    }
    const QString path = DataPath(Shared.DataFileName);
    const bool existed = FileExists(path);
    QString error;
    // An existing file is adopted only when it is a data file; a new one must be made first.
    if (existed ? CountTableFields(path, QStringLiteral("DataRecord"), &error) < 0
                : !CreateDataFile(path, m_channels, &error)) {
        Refuse(error);
        return;
    }
    if (MainForm && !MainForm->BindDataFile(&error)) {
        Refuse(error);
        return;
    }
    m_currentName = Shared.DataFileName;
    Host().message(existed ? FileExistMessage : CreatedMessage, HostServices::Ok);

    Shared.RecordCount = 0;
    Shared.TextTabSet = false;
    Shared.AngTabSet = false;
    if (MainForm)
        MainForm->AnnounceNewDataFile();
    Text2->setText(DataPath(Shared.DataFileName));
}

void frmNewDB::closeEvent(QCloseEvent* event)
{
    Shared.DataFileName = m_currentName;
    if (m_timerWasOn && MainForm)
        MainForm->ResumeScan(QStringLiteral("\"Create New Data File\" was closed"));
    m_timerWasOn = false;
    QWidget::closeEvent(event);
}
