#include "recorder.h"

#include "core/shared_state.h"
#include "platform/host_services.h"
#include "platform/serial_control.h"
#include "publish/payloads.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>

namespace meterrecord {

namespace {

constexpr int ProgressEvery = 100;

void Print(std::FILE* stream, const QString& text)
{
    const QString stamp = Host().now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    std::fprintf(stream, "%s %s\n", qPrintable(stamp), qPrintable(text));
    std::fflush(stream);
}

QString Shown(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// Sending and up to date alternate with every row; a log line is due only when the phase changes.
int Phase(ForwardStatus::State state)
{
    return state == ForwardStatus::State::UpToDate ? int(ForwardStatus::State::Sending) : int(state);
}

} // namespace

void Say(const QString& text)
{
    Print(stdout, text);
}

void Complain(const QString& text)
{
    Print(stderr, text);
}

Recorder::Recorder(const RecordOptions& options, QObject* parent)
    : QObject(parent), m_options(options), m_port(new QtSerialControl(this)), m_link(*m_port, m_receiver)
{
    m_link.recovery = SerialLink::Recovery::Reconnect;
    m_link.OnEvent = [this](SerialLink::Event event, const QString& detail) { ReportLink(event, detail); };
    m_receiver.OnFrame = [this](FrameBufferArray& frame) {
        const bool taken = DecodeFrame(frame);
        if (taken && m_publish)
            m_publish->FrameDecoded();
        return taken;
    };
    m_scan.Unattended = true;
    m_scan.Events.Who = QStringLiteral("meter-record %1").arg(VARNIK_VERSION_TEXT);
    m_scan.Events.OnProblem = [](const QString& problem) { Say(QStringLiteral("event log: %1").arg(problem)); };
    m_scan.Events.OnLogged = [this](const LoggedEvent& event) {
        // The link as rows see it: silent for 3 s or its port gone, and frames back again.
        if (event.kind == EventKind::LinkLost)
            Say(QStringLiteral("link lost at %1 (the last frame): %2; no rows until frames return")
                    .arg(event.utc.toLocalTime().toString(QStringLiteral("HH:mm:ss")), event.text));
        else if (event.kind == EventKind::LinkRestored)
            Say(QStringLiteral("link back at %1: rows go on")
                    .arg(event.utc.toLocalTime().toString(QStringLiteral("HH:mm:ss"))));
        if (m_publish)
            m_publish->EventLogged(EventPayload(event, QFileInfo(m_data.DatabaseName()).fileName()));
    };
    m_link.OnLinkState = [this](bool restored, const QString& why) {
        restored ? m_scan.Events.LinkRestored() : m_scan.Events.LinkLost(why, Shared.Freshness.LastFrameTime());
    };
    m_scan.CheckLink = [this] { m_link.CheckLink(); };
    m_timer.setInterval(200);
    connect(&m_timer, &QTimer::timeout, this, &Recorder::Tick);
}

Recorder::~Recorder() = default;

int Recorder::Start()
{
    Shared.Paused = false;
    const QString name = Shared.DataFileName;
    QString error;
    if (!UseFile(name, m_options.newFileChannels, &error)) {
        Complain(error);
        return 1;
    }
    if (IsFull()) {
        if (!m_options.rotate) {
            Complain(
                QStringLiteral("The data file \"%1\" is full (%2 rows, the row limit); nothing recorded.")
                    .arg(Shown(m_data.DatabaseName()))
                    .arg(Shared.RecordCount));
            return 3;
        }
        if (!MoveOnFromFullFile())
            return 1;
    }

    Say(QStringLiteral("recording: device %1 (port COM%2), %3 baud, data file %4 (%5 channels, %6 rows), "
                       "scan rate %7 s, row limit %8%9")
            .arg(Shown(SerialDeviceForPort(Shared.ComPort)))
            .arg(Shared.ComPort)
            .arg(Shared.BaudRate == 9600 ? 9600 : 2400)
            .arg(Shown(m_data.DatabaseName()))
            .arg(m_data.FieldCount() / 2)
            .arg(Shared.RecordCount)
            .arg(Shared.ScanRate)
            .arg(Shared.MaxRecords)
            .arg(m_options.rotate ? QStringLiteral(", rotating when full") : QString()) +
        (m_options.forwardUrl.isEmpty()
             ? QString()
             : QStringLiteral(", forwarding to %1 as station %2")
                   .arg(ShownUrl(m_options.forwardUrl),
                        m_options.station.isEmpty() ? DefaultStation() : m_options.station)) +
        PublishingText(m_options));
    m_running = true;
    // The publisher first, so that the start event goes out on the event topic too.
    m_publish = StartPublishing(m_options, this);
    m_scan.Events.Start();
    m_link.Start232();
    m_timer.start();
    return -1;
}

void Recorder::Stop(const QString& why)
{
    m_timer.stop();
    if (m_port->PortOpen())
        m_port->SetPortOpen(false);
    m_scan.Events.Stop(why, true);
    if (m_running) {
        QString error;
        const qint64 rows = m_data.RowCount(&error);
        const QString file = QFileInfo(m_data.DatabaseName()).fileName();
        Say(QStringLiteral("stopped (%1): %2 rows recorded in this run; %3")
                .arg(why)
                .arg(m_rowsThisRun)
                .arg(rows >= 0 ? QStringLiteral("%1 holds %2 rows").arg(file).arg(rows)
                               : QStringLiteral("the rows of %1 cannot be counted: %2").arg(file, error)));
    }
    m_running = false;
    m_data.Unbind();
    if (m_forward)
        m_forward->Stop();
    if (m_publish)
        m_publish->Stop();
}

void Recorder::StartForwarding(const QString& dataFile)
{
    if (m_options.forwardUrl.isEmpty() || !m_data.IsBound())
        return;
    // One forwarder for the whole run: when the data file changes it sends the rows of the
    // earlier files that the server lacks first.
    if (!m_forward) {
        m_forward = new Forwarder({}, this);
        connect(m_forward, &Forwarder::StatusChanged, this, &Recorder::ReportForwarding);
    }
    m_forwardPhase = -1;
    QString error;
    if (!m_forward->Start({dataFile, m_options.forwardUrl, m_options.station}, &error))
        Say(QStringLiteral("forwarding: %1").arg(error));
}

void Recorder::ReportForwarding(const ForwardStatus& status)
{
    if (Phase(status.state) == m_forwardPhase)
        return;
    m_forwardPhase = Phase(status.state);
    Say(QStringLiteral("forwarding %1: %2")
            .arg(QFileInfo(m_forward->Target().dataFile).fileName(), ForwardStatusText(status)));
}

bool Recorder::UseFile(const QString& name, int channelsIfMissing, QString* error)
{
    const QString path = DataPath(name);
    // A missing file is made as on the program's first run; one made meanwhile by another
    // process is simply bound (or refused by its lock).
    if (!FileExists(path) && !CreateDataFile(path, channelsIfMissing, error) && !FileExists(path))
        return false;
    if (!m_data.Bind(path, error))
        return false;
    const qint64 rows = m_data.RowCount(error);
    if (rows < 0)
        return false;
    Shared.DataFileName = name;
    // The rows already in the file count, so a restarted recorder does not grow it past the limit.
    Shared.RecordCount = int32_t(std::min<qint64>(rows, Shared.MaxRecords));
    m_scan.FieldCount = m_data.FieldCount();
    // Every file bound gets forwarded, a full one passed over too: it may hold rows that an
    // earlier run could not send. Queued, so that the lines about the file come first.
    QMetaObject::invokeMethod(
        this, [this, path = m_data.DatabaseName()] { StartForwarding(path); }, Qt::QueuedConnection);
    return true;
}

bool Recorder::IsFull() const
{
    return Shared.RecordCount >= Shared.MaxRecords;
}

bool Recorder::MoveOnFromFullFile()
{
    const QString full = QFileInfo(m_data.DatabaseName()).fileName();
    const int channels = m_data.FieldCount() / 2;
    QString name = Shared.DataFileName;
    do {
        name = NextDataFileName(name);
        QString error;
        if (name.isEmpty() || !UseFile(name, channels, &error)) {
            Complain(QStringLiteral("The data file \"%1\" is full and recording cannot go on in %2: %3")
                         .arg(full, name, error));
            return false;
        }
    } while (IsFull());
    Say(QStringLiteral("data file %1 is full: recording goes on in %2 (%3 rows)")
            .arg(full, Shown(m_data.DatabaseName()))
            .arg(Shared.RecordCount));
    return true;
}

void Recorder::HandleFull()
{
    if (m_options.rotate && MoveOnFromFullFile())
        return;
    if (!m_options.rotate)
        Complain(QStringLiteral("The data file \"%1\" is full (%2 rows, the row limit): recording ends.")
                     .arg(Shown(m_data.DatabaseName()))
                     .arg(Shared.RecordCount));
    Stop(QStringLiteral("data file full"));
    emit finished(m_options.rotate ? 1 : 3);
}

void Recorder::Tick()
{
    ScanCycle::Tick tick = m_scan.Timer1_Timer();
    // A spoilt file may show first in the event log while rows still go in: it ends recording too.
    if (m_data.IsDamaged())
        tick = ScanCycle::Tick::Failed;
    switch (tick) {
    case ScanCycle::Tick::Recorded:
        ++m_rowsThisRun;
        if (m_failedRows > 0)
            Say(QStringLiteral("rows recorded again (%1 not recorded meanwhile)").arg(m_failedRows));
        m_failedRows = 0;
        m_lastFailure.clear();
        if (m_options.verbose)
            Say(RowText(m_scan.LastRow()));
        if (m_rowsThisRun % ProgressEvery == 0)
            Say(QStringLiteral("%1 rows recorded; %2 holds %3 of %4")
                    .arg(m_rowsThisRun)
                    .arg(Shared.DataFileName)
                    .arg(Shared.RecordCount)
                    .arg(Shared.MaxRecords));
        if (m_forward)
            m_forward->RowRecorded();
        if (m_publish)
            m_publish->RowRecorded(m_scan.LastRow(), Shared.RecordCount, QFileInfo(m_data.DatabaseName()).fileName());
        if (IsFull())
            HandleFull();
        break;
    case ScanCycle::Tick::Failed:
        if (m_data.IsDamaged()) {
            // A damaged file stays damaged: retrying would only log the same failure forever.
            Complain(QStringLiteral("The data file \"%1\" is damaged and cannot take more rows (%2): "
                                    "recording ends. Record into another file (--data-file); copy "
                                    "the rows that can still be read from this one with sqlite3's .recover.")
                         .arg(Shown(m_data.DatabaseName()), m_data.DamageText()));
            Stop(QStringLiteral("data file damaged"));
            emit finished(1);
            break;
        }
        m_failedRows += m_scan.MissedRows();
        if (m_scan.LastError() != m_lastFailure) {
            m_lastFailure = m_scan.LastError();
            Say(QStringLiteral("row not recorded: %1").arg(m_lastFailure));
        }
        break;
    case ScanCycle::Tick::Full:
        HandleFull();
        break;
    case ScanCycle::Tick::Idle:
        break;
    }
    if (TickDone)
        TickDone(tick);
}

void Recorder::ReportLink(SerialLink::Event event, const QString& detail)
{
    const QString retry = QStringLiteral("trying again every %1 s").arg(m_link.RetryMs / 1000.0);
    switch (event) {
    case SerialLink::Event::Opened:
        Say(QStringLiteral("port open: %1 at %2 baud")
                .arg(Shown(SerialDeviceForPort(Shared.ComPort)))
                .arg(Shared.BaudRate == 9600 ? 9600 : 2400));
        break;
    case SerialLink::Event::OpenFailed:
        Say(QStringLiteral("port cannot be opened: %1; %2").arg(detail, retry));
        break;
    case SerialLink::Event::Lost:
        Say(QStringLiteral("port lost: %1; %2")
                .arg(detail.isEmpty() ? QStringLiteral("closed by the system") : detail, retry));
        break;
    case SerialLink::Event::Silent:
        Say(QStringLiteral("no frames for %1 s: reopening the port").arg(detail));
        break;
    case SerialLink::Event::Flowing:
        Say(QStringLiteral("frames arriving"));
        break;
    }
}

QString Recorder::RowText(const DataRow& row) const
{
    QStringList cells;
    for (qsizetype i = 0; i < row.chan.size(); ++i)
        cells
            << QStringLiteral("%1: %2 %3").arg(i + 1).arg(row.chan[i], 0, 'g', 12).arg(row.unit[i].trimmed());
    return QStringLiteral("row %1: %2 %3  %4")
        .arg(Shared.RecordCount)
        .arg(row.date.toString(Qt::ISODate), row.time.toString(QStringLiteral("HH:mm:ss")),
             cells.join(QStringLiteral("  ")));
}

} // namespace meterrecord
