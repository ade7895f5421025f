#include "query/frmEventLog.h"

#include "acquisition/frmMain.h"
#include "core/shared_state.h"
#include "datafile/data_file.h"
#include "datafile/event_log.h"
#include "platform/center_form_ui.h"
#include "platform/host_services.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

namespace {

const QString AllKinds = QStringLiteral("All kinds");

QString CurrentDataFile()
{
    if (MainForm && MainForm->Data1 && MainForm->Data1->IsBound())
        return MainForm->Data1->DatabaseName();
    return DataPath(Shared.DataFileName);
}

template <class Widget> Widget* Named(Widget* widget, const QString& name)
{
    widget->setObjectName(name);
    return widget;
}

} // namespace

frmEventLog::frmEventLog(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("frmEventLog"));
    setWindowTitle(QStringLiteral("Event Log"));
    setAttribute(Qt::WA_DeleteOnClose);
    dlg1 = [this] {
        return QFileDialog::getOpenFileName(this, QString(), DataPath(QString()), QStringLiteral(" (*.mdb)"));
    };

    lblFile = Named(new QLabel(this), QStringLiteral("lblFile"));
    lblFile->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    lblFile->setTextInteractionFlags(Qt::TextSelectableByMouse);
    cmdSelectFile =
        Named(new QPushButton(QStringLiteral("Select Data File"), this), QStringLiteral("cmdSelectFile"));
    const QDate today = Host().now().date();
    dtFrom = Named(new QDateEdit(today.addDays(-30), this), QStringLiteral("dtFrom"));
    dtTo = Named(new QDateEdit(today, this), QStringLiteral("dtTo"));
    for (QDateEdit* edit : {dtFrom, dtTo}) {
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        edit->setCalendarPopup(true);
    }
    cboKind = Named(new QComboBox(this), QStringLiteral("cboKind"));
    cboKind->addItem(AllKinds);
    cboKind->addItems(EventKind::All());
    cmdShow = Named(new QPushButton(QStringLiteral("Show"), this), QStringLiteral("cmdShow"));
    grdEvents = Named(new QTableWidget(0, 7, this), QStringLiteral("grdEvents"));
    grdEvents->setHorizontalHeaderLabels({"Date", "Time", "Kind", "Channel", "Value", "Text", "UTC"});
    grdEvents->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdEvents->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdEvents->verticalHeader()->hide();
    grdEvents->horizontalHeader()->setSectionResizeMode(5, QHeaderView::Stretch);
    lblCount = Named(new QLabel(this), QStringLiteral("lblCount"));
    txtNote = Named(new QLineEdit(this), QStringLiteral("txtNote"));
    txtNote->setPlaceholderText(QStringLiteral("A note for the current data file"));
    cmdAddNote = Named(new QPushButton(QStringLiteral("Add Note"), this), QStringLiteral("cmdAddNote"));
    cmdClose = Named(new QPushButton(QStringLiteral("Close"), this), QStringLiteral("cmdClose"));

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("Data file"), this), 0, 0);
    grid->addWidget(lblFile, 0, 1, 1, 5);
    grid->addWidget(cmdSelectFile, 0, 6);
    grid->addWidget(new QLabel(QStringLiteral("From"), this), 1, 0);
    grid->addWidget(dtFrom, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("To"), this), 1, 2);
    grid->addWidget(dtTo, 1, 3);
    grid->addWidget(cboKind, 1, 4);
    grid->addWidget(cmdShow, 1, 6);
    grid->addWidget(grdEvents, 2, 0, 1, 7);
    grid->addWidget(lblCount, 3, 0, 1, 7);
    grid->addWidget(new QLabel(QStringLiteral("Note"), this), 4, 0);
    grid->addWidget(txtNote, 4, 1, 1, 5);
    grid->addWidget(cmdAddNote, 4, 6);
    grid->addWidget(cmdClose, 5, 6);
    grid->setColumnStretch(5, 1);

    connect(cmdSelectFile, &QPushButton::clicked, this, &frmEventLog::SelectFile);
    connect(cmdShow, &QPushButton::clicked, this, &frmEventLog::Refresh);
    connect(cboKind, &QComboBox::currentIndexChanged, this, &frmEventLog::Refresh);
    connect(cmdAddNote, &QPushButton::clicked, this, &frmEventLog::AddNote);
    connect(txtNote, &QLineEdit::returnPressed, this, &frmEventLog::AddNote);
    connect(cmdClose, &QPushButton::clicked, this, &QWidget::close);

    m_file = CurrentDataFile();
    lblFile->setText(QDir::toNativeSeparators(m_file));
    resize(900, 520);
    CenterForm(this);
    Refresh();
}

void frmEventLog::SelectFile()
{
    const QString chosen = dlg1();
    if (chosen.isEmpty())
        return;
    m_file = chosen;
    lblFile->setText(QDir::toNativeSeparators(m_file));
    Refresh();
}

bool frmEventLog::Refresh()
{
    EventFilter filter{dtFrom->date(), dtTo->date(), {}};
    if (cboKind->currentText() != AllKinds)
        filter.kinds = QStringList{cboKind->currentText()};
    QList<LoggedEvent> events;
    QString error;
    const bool read = ReadEvents(m_file, filter, &events, &error);
    grdEvents->setRowCount(0);
    grdEvents->setRowCount(int(events.size()));
    for (int row = 0; row < events.size(); ++row) {
        const LoggedEvent& e = events[row];
        const QStringList cells{e.date.toString(Qt::ISODate),
                                e.time.toString(QStringLiteral("HH:mm:ss")),
                                e.kind,
                                e.channel ? QString::number(*e.channel) : QString(),
                                e.value ? QString::number(*e.value, 'g', 12) : QString(),
                                e.text,
                                e.utc.isValid() ? e.UtcText() : QString()};
        for (int column = 0; column < cells.size(); ++column)
            grdEvents->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
    grdEvents->resizeColumnsToContents();
    lblCount->setText(QStringLiteral("%1 event(s)").arg(events.size()));
    if (!read)
        Host().message(error, HostServices::Ok, HostServices::Icon::Warning);
    return read;
}

void frmEventLog::AddNote()
{
    const QString text = txtNote->text().trimmed();
    if (text.isEmpty()) {
        Host().message(QStringLiteral("Type the note first."), HostServices::Ok);
        return;
    }
    QString error = QStringLiteral("The program's main window is not there to record the note.");
    if (!MainForm || !MainForm->AddNote(text, &error)) {
        Host().message(error, HostServices::Ok, HostServices::Icon::Warning);
        return;
    }
    txtNote->clear();
    if (QFileInfo(m_file).canonicalFilePath() == QFileInfo(CurrentDataFile()).canonicalFilePath())
        Refresh();
}
