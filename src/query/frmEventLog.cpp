#include "query/frmEventLog.h"

#include "mainwindow/frmMain.h"
#include "core/shared_state.h"
#include "station/recording_station.h"
#include "datafile/data_file.h"
#include "platform/center_form_ui.h"
#include "platform/host_services.h"
#include "query/events_sheet.h"
#include "query/output_file.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <algorithm>

namespace {

constexpr int WatchMs = 2000;
constexpr int TextColumn = 6;

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

QString Shown(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// A note into a file that the program does not record into: bound for the moment, so that a
// recorder that holds the file is named rather than written over.
bool NoteInto(const QString& path, const QString& text, QString* error)
{
    DataFile data;
    if (!data.Bind(path, error))
        return false;
    return AppendEvent(data, LoggedEvent::At(Host().now(), EventKind::Note, text), error);
}

// The kinds button's caption: "All kinds" when none is picked, the kind's name for one, else how many.
QString KindsCaption(const QStringList& kinds)
{
    if (kinds.isEmpty())
        return QStringLiteral("All kinds");
    return kinds.size() == 1 ? kinds.first() : QStringLiteral("%1 kinds").arg(kinds.size());
}

// The button's menu arrow sits in its bottom right corner and its caption is centred, so the
// caption stays clear of the arrow only when the button is at least the caption plus twice the
// arrow wide. Wide enough for the longest caption it can show, at its own font.
int KindsButtonWidth(const QToolButton* button)
{
    const QStringList kinds = EventKind::All();
    QStringList captions{KindsCaption({})};
    for (const QString& kind : kinds)
        captions << kind;
    for (qsizetype count = 2; count <= kinds.size(); ++count)
        captions << KindsCaption(kinds.mid(0, count));
    const QFontMetrics metrics = button->fontMetrics();
    int widest = 0;
    for (const QString& caption : captions)
        widest = std::max(widest, metrics.horizontalAdvance(caption));
    const int arrow = button->style()->pixelMetric(QStyle::PM_MenuButtonIndicator, nullptr, button);
    return widest + 2 * arrow + 2 * metrics.averageCharWidth();
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
    dlgSave = [this] {
        return QFileDialog::getSaveFileName(this, QString(), QDir::homePath() + QStringLiteral("/events.csv"),
                                            QStringLiteral("CSV (*.csv)"));
    };

    lblFile = Named(new QLabel(this), QStringLiteral("lblFile"));
    lblFile->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    lblFile->setTextInteractionFlags(Qt::TextSelectableByMouse);
    cmdSelectFile =
        Named(new QPushButton(QStringLiteral("Select Data File"), this), QStringLiteral("cmdSelectFile"));
    chkAllDates = Named(new QCheckBox(QStringLiteral("All dates"), this), QStringLiteral("chkAllDates"));
    chkAllDates->setChecked(true);
    const QDate today = Host().now().date();
    dtFrom = Named(new QDateEdit(today.addDays(-30), this), QStringLiteral("dtFrom"));
    dtTo = Named(new QDateEdit(today, this), QStringLiteral("dtTo"));
    for (QDateEdit* edit : {dtFrom, dtTo}) {
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        edit->setCalendarPopup(true);
        edit->setEnabled(false);
    }
    cmdKinds = Named(new QToolButton(this), QStringLiteral("cmdKinds"));
    cmdKinds->setPopupMode(QToolButton::InstantPopup);
    m_kindMenu = new QMenu(cmdKinds);
    for (const QString& kind : EventKind::All()) {
        QAction* action = m_kindMenu->addAction(kind);
        action->setCheckable(true);
        connect(action, &QAction::toggled, this, &frmEventLog::Refresh);
    }
    cmdKinds->setMenu(m_kindMenu);
    cmdKinds->setMinimumWidth(KindsButtonWidth(cmdKinds));
    cboChannel = Named(new QComboBox(this), QStringLiteral("cboChannel"));
    cboChannel->addItem(QStringLiteral("All channels"));
    for (int c = 1; c <= 16; ++c)
        cboChannel->addItem(QStringLiteral("Channel %1").arg(c), c);
    txtSearch = Named(new QLineEdit(this), QStringLiteral("txtSearch"));
    txtSearch->setPlaceholderText(QStringLiteral("Search"));
    txtSearch->setClearButtonEnabled(true);
    cmdShow = Named(new QPushButton(QStringLiteral("Show"), this), QStringLiteral("cmdShow"));
    grdEvents = Named(new QTableWidget(0, int(EventHeader().size()), this), QStringLiteral("grdEvents"));
    grdEvents->setHorizontalHeaderLabels(EventHeader());
    grdEvents->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdEvents->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdEvents->verticalHeader()->hide();
    grdEvents->horizontalHeader()->setSectionResizeMode(TextColumn, QHeaderView::Stretch);
    lblCount = Named(new QLabel(this), QStringLiteral("lblCount"));
    lblCount->setWordWrap(true);
    lblCount->setTextInteractionFlags(Qt::TextSelectableByMouse);
    cmdCopy = Named(new QPushButton(QStringLiteral("Copy"), this), QStringLiteral("cmdCopy"));
    cmdSave = Named(new QPushButton(QStringLiteral("Save CSV..."), this), QStringLiteral("cmdSave"));
    lblNote = Named(new QLabel(this), QStringLiteral("lblNote"));
    txtNote = Named(new QLineEdit(this), QStringLiteral("txtNote"));
    cmdAddNote = Named(new QPushButton(QStringLiteral("Add Note"), this), QStringLiteral("cmdAddNote"));
    cmdClose = Named(new QPushButton(QStringLiteral("Close"), this), QStringLiteral("cmdClose"));
    tmrWatch = Named(new QTimer(this), QStringLiteral("tmrWatch"));
    tmrWatch->setInterval(WatchMs);

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("Data file"), this), 0, 0);
    grid->addWidget(lblFile, 0, 1, 1, 6);
    grid->addWidget(cmdSelectFile, 0, 7);
    grid->addWidget(chkAllDates, 1, 0);
    grid->addWidget(dtFrom, 1, 1);
    grid->addWidget(dtTo, 1, 2);
    grid->addWidget(cmdKinds, 1, 3);
    grid->addWidget(cboChannel, 1, 4);
    grid->addWidget(txtSearch, 1, 5, 1, 2);
    grid->addWidget(cmdShow, 1, 7);
    grid->addWidget(grdEvents, 2, 0, 1, 8);
    grid->addWidget(lblCount, 3, 0, 1, 6);
    grid->addWidget(cmdCopy, 3, 6);
    grid->addWidget(cmdSave, 3, 7);
    grid->addWidget(lblNote, 4, 0, 1, 8);
    grid->addWidget(txtNote, 5, 0, 1, 7);
    grid->addWidget(cmdAddNote, 5, 7);
    grid->addWidget(cmdClose, 6, 7);
    grid->setColumnStretch(5, 1);

    connect(cmdSelectFile, &QPushButton::clicked, this, &frmEventLog::SelectFile);
    connect(chkAllDates, &QCheckBox::toggled, this, [this](bool all) {
        dtFrom->setEnabled(!all);
        dtTo->setEnabled(!all);
        Refresh();
    });
    connect(cmdShow, &QPushButton::clicked, this, &frmEventLog::Refresh);
    connect(cboChannel, &QComboBox::currentIndexChanged, this, &frmEventLog::Refresh);
    connect(txtSearch, &QLineEdit::textChanged, this, &frmEventLog::Refresh);
    connect(cmdCopy, &QPushButton::clicked, this, &frmEventLog::CopyRows);
    connect(cmdSave, &QPushButton::clicked, this, &frmEventLog::SaveRows);
    connect(cmdAddNote, &QPushButton::clicked, this, &frmEventLog::AddNote);
    connect(txtNote, &QLineEdit::returnPressed, this, &frmEventLog::AddNote);
    connect(cmdClose, &QPushButton::clicked, this, &QWidget::close);
    connect(tmrWatch, &QTimer::timeout, this, &frmEventLog::RefreshIfChanged);

    resize(960, 560);
    CenterForm(this);
    ShowFile(CurrentDataFile());
    tmrWatch->start();
}

void frmEventLog::ShowFile(const QString& path)
{
    m_file = path;
    lblFile->setText(Shown(m_file));
    lblNote->setText(QStringLiteral("Note (written into %1)").arg(QFileInfo(m_file).fileName()));
    lblNote->setToolTip(Shown(m_file));
    txtNote->setPlaceholderText(QStringLiteral("A note for %1").arg(QFileInfo(m_file).fileName()));
    Refresh();
}

void frmEventLog::SelectFile()
{
    const QString chosen = dlg1();
    if (!chosen.isEmpty())
        ShowFile(chosen);
}

void frmEventLog::SetKinds(const QStringList& kinds)
{
    const QSignalBlocker block(m_kindMenu);
    for (QAction* action : m_kindMenu->actions()) {
        const QSignalBlocker quiet(action);
        action->setChecked(kinds.contains(action->text()));
    }
    Refresh();
}

QString frmEventLog::FileStamp() const
{
    // SQLite counts every change in the file's header (bytes 24 to 27); with the size and the
    // time it tells a change cheaply, without opening a connection.
    const QFileInfo info(m_file);
    QFile file(m_file);
    const QByteArray counter = file.open(QIODevice::ReadOnly) && file.seek(24) ? file.read(4) : QByteArray();
    return QStringLiteral("%1 %2 %3")
        .arg(info.size())
        .arg(info.lastModified().toMSecsSinceEpoch())
        .arg(QString::fromLatin1(counter.toHex()));
}

void frmEventLog::RefreshIfChanged()
{
    if (FileStamp() != m_stamp)
        Refresh();
}

bool frmEventLog::Refresh()
{
    EventView view;
    for (const QAction* action : m_kindMenu->actions())
        if (action->isChecked())
            view.kinds << action->text();
    cmdKinds->setText(KindsCaption(view.kinds));
    if (cboChannel->currentIndex() > 0)
        view.channel = cboChannel->currentData().toInt();
    view.search = txtSearch->text();
    EventFilter filter;
    if (!chkAllDates->isChecked())
        filter = {dtFrom->date(), dtTo->date(), {}};

    m_stamp = FileStamp();
    QList<LoggedEvent> events;
    QString error;
    const bool read = ReadEvents(m_file, filter, &events, &error);
    m_rows.clear();
    for (const ListedEvent& listed : WithGapDurations(events))
        if (Shows(view, listed.event))
            m_rows.append(listed);

    const int scrolled = grdEvents->verticalScrollBar() ? grdEvents->verticalScrollBar()->value() : 0;
    grdEvents->setRowCount(0);
    grdEvents->setRowCount(int(m_rows.size()));
    for (int row = 0; row < m_rows.size(); ++row) {
        const QStringList cells = EventCells(m_rows[row]);
        for (int column = 0; column < cells.size(); ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            if (column == TextColumn)
                item->setToolTip(cells[column]);
            grdEvents->setItem(row, column, item);
        }
    }
    grdEvents->resizeColumnsToContents();
    grdEvents->verticalScrollBar()->setValue(scrolled);
    if (read) {
        lblCount->setStyleSheet(QString());
        lblCount->setText(m_rows.size() == events.size()
                              ? QStringLiteral("%1 event(s)").arg(events.size())
                              : QStringLiteral("%1 of %2 event(s)").arg(m_rows.size()).arg(events.size()));
    } else {
        lblCount->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold;"));
        lblCount->setText(error);
    }
    return read;
}

void frmEventLog::CopyRows()
{
    QApplication::clipboard()->setText(EventsTabText(m_rows));
}

void frmEventLog::SaveRows()
{
    const QString target = dlgSave();
    if (target.isEmpty())
        return;
    QList<LoggedEvent> events;
    for (const ListedEvent& listed : std::as_const(m_rows))
        events.prepend(listed.event); // oldest first, as meter-query writes them
    const QByteArray csv = EventsCsv(events).toUtf8();
    QString error;
    const bool saved = SaveOutput(target, QStringLiteral("events file"),
                                  [&csv](QIODevice& out, QString* failure) {
                                      if (out.write(csv) == csv.size())
                                          return true;
                                      *failure = out.errorString();
                                      return false;
                                  },
                                  &error);
    if (!saved)
        Host().message(error, HostServices::Ok, HostServices::Icon::Warning);
}

void frmEventLog::AddNote()
{
    const QString text = txtNote->text().trimmed();
    if (text.isEmpty()) {
        Host().message(QStringLiteral("Type the note first."), HostServices::Ok);
        return;
    }
    QString error;
    bool added = false;
    if (MainForm && SameFile(m_file, CurrentDataFile()))
        added = MainForm->Station().AddNote(text, &error);
    else
        added = NoteInto(m_file, text, &error);
    if (!added) {
        Host().message(error, HostServices::Ok, HostServices::Icon::Warning);
        return;
    }
    txtNote->clear();
    Refresh();
    lblCount->setText(lblCount->text() + QStringLiteral(" - note added to %1").arg(Shown(m_file)));
}
