#include "query/query_window_ui.h"

#include "mainwindow/frmMain.h"
#include "core/shared_state.h"
#include "platform/center_form_ui.h"
#include "platform/host_services.h"
#include "query/events_sheet.h"
#include "query/query_statement.h"
#include "query/spreadsheet_export.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace {

template <class Widget> Widget* Named(Widget* widget, const QString& name)
{
    widget->setObjectName(name);
    return widget;
}

QString OpenDataFile(QWidget* parent, const QString& filter)
{
    // The filter comes as "description|pattern"; the description already names the pattern.
    const QString description = filter.section(QLatin1Char('|'), 0, 0);
    return QFileDialog::getOpenFileName(parent, QString(), DataPath(QString()), description);
}

// Holds the hourglass for the life of a handler, whichever way it returns.
class Hourglass {
  public:
    Hourglass() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~Hourglass() { QApplication::restoreOverrideCursor(); }
    Hourglass(const Hourglass&) = delete;
    Hourglass& operator=(const Hourglass&) = delete;
};

} // namespace

QueryWindow::QueryWindow(int boxes, int channelCount, QWidget* parent)
    : QWidget(parent, Qt::Window), m_channelCount(channelCount)
{
    setWindowTitle(QStringLiteral("Find Data"));
    dlg1 = [this](const QString& filter) { return OpenDataFile(this, filter); };

    Label6 = Named(new QLabel(this), QStringLiteral("Label6"));
    Label6->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Label6->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Command7 = Named(new QPushButton(QStringLiteral(" Select Database"), this), QStringLiteral("Command7"));

    auto* frame4 = Named(new QGroupBox(this), QStringLiteral("Frame4"));
    auto* boxGrid = new QGridLayout(frame4);
    const int perColumn = 4;
    for (int i = 0; i < boxes; ++i) {
        auto* box = Named(new QCheckBox(QStringLiteral("Chan. %1").arg(i + 1), frame4),
                          QStringLiteral("Check2(%1)").arg(i));
        boxGrid->addWidget(box, i % perColumn, i / perColumn);
        Check2.append(box);
    }

    auto* frame2 = Named(new QGroupBox(this), QStringLiteral("Frame2"));
    auto* inputs = new QGridLayout(frame2);
    const QString captions[] = {QStringLiteral("Start Date"), QStringLiteral("End Date"),
                                QStringLiteral("Start Time"), QStringLiteral("END Time")};
    for (int i = 0; i < 4; ++i)
        Label1[size_t(i)] = Named(new QLabel(captions[i], frame2), QStringLiteral("Label1(%1)").arg(i));
    const QString today = ShortDateText(Host().now().date());
    for (int i = 0; i < 2; ++i) {
        Text1[size_t(i)] = Named(new QLineEdit(today, frame2), QStringLiteral("Text1(%1)").arg(i));
        inputs->addWidget(Label1[size_t(i)], i, 0);
        inputs->addWidget(Text1[size_t(i)], i, 1);
    }
    Check1 = Named(new QCheckBox(QStringLiteral("Add Time condition"), frame2), QStringLiteral("Check1"));
    MaskEd1 = Named(new QLineEdit(frame2), QStringLiteral("MaskEd1"));
    MaskEd2 = Named(new QLineEdit(frame2), QStringLiteral("MaskEd2"));
    for (QLineEdit* mask : {MaskEd1, MaskEd2}) {
        mask->setInputMask(QStringLiteral("99:99;_"));
        mask->setEnabled(false);
    }
    MaskEd1->setText(QStringLiteral("00:00"));
    MaskEd2->setText(QStringLiteral("23:59"));
    Label5 =
        Named(new QLabel(QStringLiteral("hh:mm    hh(0-23) mm(0-59)"), frame2), QStringLiteral("Label5"));
    inputs->addWidget(Check1, 2, 0, 1, 2);
    inputs->addWidget(Label1[2], 3, 0);
    inputs->addWidget(MaskEd1, 3, 1);
    inputs->addWidget(Label1[3], 4, 0);
    inputs->addWidget(MaskEd2, 4, 1);
    inputs->addWidget(Label5, 5, 0, 1, 2);

    auto* frame3 = Named(new QGroupBox(this), QStringLiteral("Frame3"));
    auto* buttons = new QGridLayout(frame3);
    Command1 = Named(new QPushButton(QStringLiteral("Data Query"), frame3), QStringLiteral("Command1"));
    cmdExportToExcel = Named(new QPushButton(QStringLiteral("Export Data To Excel"), frame3),
                             QStringLiteral("cmdExportToExcel"));
    Command2 = Named(new QPushButton(QStringLiteral("Show Chart"), frame3), QStringLiteral("Command2"));
    Command5 = Named(new QPushButton(QStringLiteral("Clear Chart"), frame3), QStringLiteral("Command5"));
    Command3[0] =
        Named(new QPushButton(QStringLiteral("Print Chart"), frame3), QStringLiteral("Command3(0)"));
    Command3[1] = Named(new QPushButton(QStringLiteral("Print Data"), frame3), QStringLiteral("Command3(1)"));
    Command6 = Named(new QPushButton(QStringLiteral("Exit"), frame3), QStringLiteral("Command6"));
    const QList<QPushButton*> order{Command1,    cmdExportToExcel, Command2, Command5,
                                    Command3[0], Command3[1],      Command6};
    for (int i = 0; i < order.size(); ++i) {
        // Room around the longest caption whatever the style's own margins.
        order[i]->setMinimumWidth(order[i]->sizeHint().width() + 2 * fontMetrics().averageCharWidth());
        buttons->addWidget(order[i], i / 2, i % 2);
    }
    buttons->setColumnStretch(0, 1);
    buttons->setColumnStretch(1, 1);

    Label2 = Named(new QLabel(QStringLiteral("Record No."), this), QStringLiteral("Label2"));
    Label3 = Named(new QLabel(this), QStringLiteral("Label3"));
    Label3->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Label3->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("0000000")));
    m_model = new QueryResultModel(this);
    DBGrid1 = Named(new QTableView(this), QStringLiteral("DBGrid1"));
    DBGrid1->setModel(m_model);
    DBGrid1->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    DBGrid1->setMinimumSize(480, 220);
    Statistics = Named(new QLabel(this), QStringLiteral("Statistics"));
    Statistics->setWordWrap(true);
    Statistics->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Statistics->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Sixteen channels need many lines: they scroll in a place of three, so the grid keeps its room.
    auto* statisticsArea = Named(new QScrollArea(this), QStringLiteral("StatisticsArea"));
    statisticsArea->setWidget(Statistics);
    statisticsArea->setWidgetResizable(true);
    statisticsArea->setFrameShape(QFrame::NoFrame);
    statisticsArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    statisticsArea->setFixedHeight(3 * fontMetrics().lineSpacing() + 2 * Statistics->margin() + 4);
    OutputFile = Named(new QLabel(this), QStringLiteral("OutputFile"));
    OutputFile->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_left = new QVBoxLayout;
    m_left->addWidget(frame4);
    m_left->addWidget(frame2);
    m_left->addWidget(frame3);
    m_left->addStretch();
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(Label6, 1);
    fileRow->addWidget(Command7);
    auto* countRow = new QHBoxLayout;
    countRow->addWidget(Label2);
    countRow->addWidget(Label3);
    countRow->addStretch();
    m_right = new QVBoxLayout;
    m_right->addLayout(fileRow);
    m_right->addWidget(DBGrid1, 1);
    m_right->addLayout(countRow);
    m_right->addWidget(statisticsArea);
    m_right->addWidget(OutputFile);
    auto* top = new QHBoxLayout(this);
    top->addLayout(m_left);
    top->addLayout(m_right, 1);

    connect(Command7, &QPushButton::clicked, this, &QueryWindow::Command7_Click);
    connect(Check1, &QCheckBox::clicked, this, &QueryWindow::Check1_Click);
    connect(Command1, &QPushButton::clicked, this, &QueryWindow::Command1_Click);
    connect(cmdExportToExcel, &QPushButton::clicked, this, &QueryWindow::cmdExportToExcel_Click);
    connect(Command6, &QPushButton::clicked, this, &QueryWindow::close);

    Label6->setText(QDir::toNativeSeparators(DataPath(Shared.DataFileName)));
    ShowResult(QueryResult{}, QString());
    if (MainForm)
        fgTimer = MainForm->SuspendScan(QStringLiteral("a query window is open"));
}

void QueryWindow::SetChannelCount(int count)
{
    m_channelCount = count;
    for (int i = 0; i < Check2.size(); ++i)
        Check2[i]->setVisible(i < count);
}

QList<int> QueryWindow::CheckedChannels() const
{
    QList<int> channels;
    for (int i = 0; i < m_channelCount && i < Check2.size(); ++i)
        if (Check2[i]->isChecked())
            channels.append(i + 1);
    return channels;
}

void QueryWindow::Command7_Click()
{
    const QString chosen = QDir::toNativeSeparators(dlg1(QStringLiteral(" (*.mdb)|*.mdb")));
    if (chosen.isEmpty() || chosen == Label6->text())
        return;
    Label6->setText(chosen);
    DataFileChosen(QDir::fromNativeSeparators(chosen));
    ClearChart();
    ShowResult(QueryResult{}, QString());
}

void QueryWindow::Check1_Click()
{
    MaskEd1->setEnabled(Check1->isChecked());
    MaskEd2->setEnabled(Check1->isChecked());
}

void QueryWindow::ShowResult(QueryResult result, const QString& count)
{
    m_model->setResult(std::move(result));
    Label3->setText(count);
    const bool any = m_model->columnCount() > 0;
    Statistics->setText(any ? StatisticsText(m_model->result()) : QString());
    cmdExportToExcel->setEnabled(any);
    Command2->setEnabled(any);
}

void QueryWindow::ShowOutputFile(const QString& what, const QString& path, bool opened)
{
    OutputFile->setText(QStringLiteral("%1 written to %2%3")
                            .arg(what, QDir::toNativeSeparators(path),
                                 opened ? QString() : QStringLiteral(" (no program opened it)")));
}

bool QueryWindow::Command1_Click()
{
    return Query(true);
}

bool QueryWindow::Query(bool clearChart)
{
    if (clearChart)
        ClearChart();
    QuerySpec spec;
    spec.channels = CheckedChannels();
    spec.startDate = Text1[0]->text();
    spec.endDate = Text1[1]->text();
    spec.timeCondition = Check1->isChecked();
    // The shown text keeps the blanks of a time not filled in ("1_:59"), so it reads as no time.
    spec.startTime = MaskEd1->displayText();
    spec.endTime = MaskEd2->displayText();
    if (spec.channels.isEmpty()) {
        Host().message(NoChannelMessage, HostServices::Ok);
        return false;
    }

    OutputFile->clear();
    ++m_outputsShown;
    QString statement, error;
    QueryResult result;
    QueryStatus status = QueryStatus::Failed;
    {
        Hourglass busy;
        if (BuildStatement(spec, &statement, &error)) {
            m_recordSource = statement;
            status = RunQuery(QDir::fromNativeSeparators(Label6->text()), statement, &result, &error);
        }
    }
    if (status != QueryStatus::Done) {
        ShowResult(QueryResult{}, status == QueryStatus::NoRecord ? QStringLiteral("0") : QString());
        Host().message(error, HostServices::Ok);
        QueryErr = true;
        return false;
    }
    m_queriedFile = QDir::fromNativeSeparators(Label6->text());
    m_queriedFrom = ReadDate(spec.startDate);
    m_queriedTo = ReadDate(spec.endDate);
    const QString count = QString::number(result.rowCount());
    ShowResult(std::move(result), count);
    SizeColumns();
    QueryErr = false;
    return true;
}

void QueryWindow::SizeColumns()
{
    const int columns = m_model->columnCount();
    if (columns == 0 || columns >= 7)
        return;
    const double twipsPerPixel = TwipsPerPixelX(screen());
    const int gridTwips = int(DBGrid1->width() * twipsPerPixel);
    const int columnTwips = (gridTwips - 900) / columns;
    for (int i = 0; i < columns; ++i)
        DBGrid1->setColumnWidth(i, std::max(1, int(columnTwips / twipsPerPixel)));
}

QList<LoggedEvent> QueryWindow::QueriedEvents(QString* error) const
{
    QList<LoggedEvent> events;
    if (!m_queriedFile.isEmpty())
        EventsForSheet(m_queriedFile, m_queriedFrom, m_queriedTo, &events, error);
    return events;
}

void QueryWindow::cmdExportToExcel_Click()
{
    QString error;
    QString eventError;
    QString path;
    {
        Hourglass busy;
        const QList<LoggedEvent> events = QueriedEvents(&eventError);
        // The data folder, beside the report: a temporary folder would be emptied by a reboot.
        path = NewWorkbookPath(DataPath(QString()), Host().now(), &error);
        if (!path.isEmpty() && !WriteWorkbook(Result(), path, &error, &events)) {
            QFile::remove(path);
            path.clear();
        }
    }
    if (path.isEmpty()) {
        Host().message(error, HostServices::Ok);
        return;
    }
    if (!eventError.isEmpty())
        Host().message(eventError + QStringLiteral("\nThe workbook's sheet Events stays empty."), HostServices::Ok);
    OpenOutputFile(QStringLiteral("Workbook"), path,
                   QStringLiteral("No spreadsheet program could open the workbook. It is saved as %1")
                       .arg(QDir::toNativeSeparators(path)));
}

void QueryWindow::OpenOutputFile(const QString& what, const QString& path, const QString& notOpened)
{
    ShowOutputFile(what, path, true);
    const int shown = ++m_outputsShown;
    Host().shellOpenThen(path, [window = QPointer<QueryWindow>(this), what, path, notOpened, shown](bool opened) {
        // Told late, the window may be gone, or show a newer output or query by now.
        if (opened || !window || window->m_outputsShown != shown)
            return;
        window->ShowOutputFile(what, path, false);
        if (!notOpened.isEmpty())
            Host().message(notOpened, HostServices::Ok);
    });
}

void QueryWindow::closeEvent(QCloseEvent* event)
{
    if (MainForm && fgTimer)
        MainForm->ResumeScan(QStringLiteral("the query window was closed"));
    fgTimer = false;
    ClearChart();
    QWidget::closeEvent(event);
}
