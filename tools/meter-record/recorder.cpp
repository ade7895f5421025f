#include "recorder.h"

#include "core/shared_state.h"
#include "platform/host_services.h"
#include "platform/serial_control.h"
#include "record_publishing.h"
#include "station/meter_source.h"
#include "station/sigrok_source.h"
#include "station/source_setup.h"

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
    : QObject(parent), m_options(options), m_choices(options.sources)
{
    if (m_choices.isEmpty()) {
        QString none;
        ParseSourceChoices({}, &m_choices, &none); // the meter alone
    }
    for (const SourceChoice& choice : m_choices) {
        ReadingSource* source = MakeSource(choice, SerialLink::Recovery::Reconnect);
        if (choice.kind == SourceChoice::Kind::Meter)
            m_meter = static_cast<MeterSource*>(source);
        else
            // An option libsigrok takes apart only at the device (samplerate=-5) ends the recorder
            // as one refused on the command line does, rather than leaving a source that never records.
            connect(static_cast<SigrokSource*>(source), &SigrokSource::OptionsRefused, this, [this](const QString& why) {
                if (m_ended)
                    return;
                Complain(QStringLiteral("%1: refused; check the source's options").arg(why));
                Stop(QStringLiteral("source options refused"));
                m_ended = true;
                emit finished(2);
            });
        m_station.AddSource(source);
    }
    m_station.StationName = options.station;
    m_station.Events().Who = QStringLiteral("meter-record %1").arg(VARNIK_VERSION_TEXT);
    m_station.Events().OnProblem = [](const QString& problem) { Say(QStringLiteral("event log: %1").arg(problem)); };
    connect(&m_station, &RecordingStation::SourceReport, this, [this](int, const QString& line) {
        Say(line);
        if (m_meter && line.startsWith(QLatin1String("port cannot be opened")))
            RefusedByServiceManager();
    });
    connect(&m_station, &RecordingStation::EventLogged, this, &Recorder::EventLogged);
    connect(&m_station, &RecordingStation::TickDone, this, &Recorder::TickDone);
    connect(&m_station, &RecordingStation::DamagedFile, this, &Recorder::Damaged);
    connect(&m_station, &RecordingStation::ForwardStatusChanged, this, &Recorder::ReportForwarding);
    connect(&m_station, &RecordingStation::ForwardFailed, this,
            [](const QString& why) { Say(QStringLiteral("forwarding: %1").arg(why)); });
    m_station.ForwardTo(options.forwardUrl, options.station);
}

void Recorder::EventLogged(const LoggedEvent& event)
{
    // The link as rows see it: silent for 3 s or its port gone, and frames back again.
    if (event.kind == EventKind::LinkLost && !Shared.Freshness.AnyFrame())
        Say(QStringLiteral("link down at %1 (no frame has come yet): %2; no rows until frames arrive")
                .arg(event.utc.toLocalTime().toString(QStringLiteral("HH:mm:ss")), event.text));
    else if (event.kind == EventKind::LinkLost)
        // Beside other sources, rows go on with this one's channels as 999999.
        Say(QStringLiteral("link lost at %1 (the last frame): %2; %3")
                .arg(event.utc.toLocalTime().toString(QStringLiteral("HH:mm:ss")), event.text,
                     m_station.SourceCount() > 1
                         ? QStringLiteral("its channels are 999999 until it delivers again (no rows while no "
                                          "source delivers)")
                         : QStringLiteral("no rows until frames return")));
    else if (event.kind == EventKind::RowsMissed && event.text.endsWith(QLatin1String("the recorder was not running")))
        Say(event.text); // rows that failed have lines of their own
    else if (event.kind == EventKind::LinkRestored)
        Say(QStringLiteral("link back at %1: rows go on")
                .arg(event.utc.toLocalTime().toString(QStringLiteral("HH:mm:ss"))));
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
                    .arg(Shown(m_station.Data().DatabaseName()))
                    .arg(Shared.RecordCount));
            return 3;
        }
        if (!MoveOnFromFullFile())
            return 1;
    }

    const int fileChannels = m_station.Data().FieldCount() / 2;
    if (QString why; !LayOutSources(m_choices, fileChannels, &why)) {
        Complain(why);
        return 2;
    }
    PlaceSources(m_station, m_choices);
    QStringList sources;
    for (const SourceChoice& choice : m_choices)
        sources << SourceText(choice, m_choices.size() == 1);
    if (!m_meter || m_station.SourceCount() > 1)
        m_station.Events().SourcesText = sources.join(QStringLiteral("; "));
    Say(QStringLiteral("recording: %1, data file %2 (%3 channels, %4 rows), scan rate %5 s, row limit %6%7")
            .arg(sources.join(QStringLiteral("; ")))
            .arg(Shown(m_station.Data().DatabaseName()))
            .arg(fileChannels)
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
    StartPublishing(m_options, m_station);
    m_station.Events().Start();
    m_station.StartSources();
    m_station.ScanTimer()->start();
    return -1;
}

void Recorder::Stop(const QString& why)
{
    m_station.Stop(why);
    if (m_running) {
        const DataFile& data = m_station.Data();
        QString error;
        const qint64 rows = data.RowCount(&error);
        const QString file = QFileInfo(data.DatabaseName()).fileName();
        Say(QStringLiteral("stopped (%1): %2 rows recorded in this run; %3")
                .arg(why)
                .arg(m_station.RowsThisRun())
                .arg(rows >= 0 ? QStringLiteral("%1 holds %2 rows").arg(file).arg(rows)
                               : QStringLiteral("the rows of %1 cannot be counted: %2").arg(file, error)));
    }
    m_running = false;
    m_station.Shutdown();
}

void Recorder::ReportForwarding(const ForwardStatus& status)
{
    if (Phase(status.state) == m_forwardPhase)
        return;
    m_forwardPhase = Phase(status.state);
    Say(QStringLiteral("forwarding %1: %2")
            .arg(QFileInfo(m_station.Forwarding()->Target().dataFile).fileName(), ForwardStatusText(status)));
}

bool Recorder::UseFile(const QString& name, int channelsIfMissing, QString* error)
{
    const QString path = DataPath(name);
    // A missing file is made as on the program's first run; one made meanwhile by another
    // process is simply bound (or refused by its lock).
    if (!FileExists(path) && !CreateDataFile(path, channelsIfMissing, error) && !FileExists(path))
        return false;
    if (!m_station.Bind(path, error))
        return false;
    const qint64 rows = m_station.Data().RowCount(error);
    if (rows < 0)
        return false;
    Shared.DataFileName = name;
    // The rows already in the file count, so a restarted recorder does not grow it past the limit.
    // Every file bound gets forwarded, a full one passed over too: it may hold rows that an
    // earlier run could not send.
    Shared.RecordCount = int32_t(std::min<qint64>(rows, Shared.MaxRecords));
    m_forwardPhase = -1;
    return true;
}

bool Recorder::IsFull() const
{
    return Shared.RecordCount >= Shared.MaxRecords;
}

bool Recorder::MoveOnFromFullFile()
{
    const QString full = QFileInfo(m_station.Data().DatabaseName()).fileName();
    const int channels = m_station.Data().FieldCount() / 2;
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
            .arg(full, Shown(m_station.Data().DatabaseName()))
            .arg(Shared.RecordCount));
    return true;
}

void Recorder::HandleFull()
{
    if (m_options.rotate && MoveOnFromFullFile())
        return;
    if (!m_options.rotate)
        Complain(QStringLiteral("The data file \"%1\" is full (%2 rows, the row limit): recording ends.")
                     .arg(Shown(m_station.Data().DatabaseName()))
                     .arg(Shared.RecordCount));
    Stop(QStringLiteral("data file full"));
    m_ended = true;
    emit finished(m_options.rotate ? 1 : 3);
}

void Recorder::RefusedByServiceManager()
{
    // Under systemd, a device class of DeviceAllow= is looked up once, when the unit starts: an
    // adapter whose driver loaded later (the first USB adapter plugged in since boot) is refused
    // with EPERM for as long as the unit runs. Trying every 5 s would never succeed; a restart of
    // the unit (Restart=on-failure) takes the driver's class.
    if (!m_meter)
        return;
    const QString failure = m_meter->Port().ErrorDescription();
    if (m_ended || qEnvironmentVariableIsEmpty("NOTIFY_SOCKET") ||
        !failure.contains(QLatin1String("Operation not permitted")) ||
        !QFileInfo::exists(SerialDeviceForPort(Shared.ComPort)))
        return;
    Complain(QStringLiteral("The service manager does not let this recorder open %1 (its device rules were "
                            "made before the adapter's driver was loaded): ending with exit code 4 so that "
                            "the service is restarted with rules that allow it.")
                 .arg(Shown(SerialDeviceForPort(Shared.ComPort))));
    Stop(QStringLiteral("device refused by the service manager"));
    m_ended = true;
    emit finished(4);
}

void Recorder::Damaged(const QString& path, const QString& damage)
{
    // A damaged file stays damaged: retrying would only log the same failure forever.
    Complain(QStringLiteral("The data file \"%1\" is damaged and cannot take more rows (%2): "
                            "recording ends. Record into another file (--data-file); copy "
                            "the rows that can still be read from this one with sqlite3's .recover.")
                 .arg(Shown(path), damage));
    Stop(QStringLiteral("data file damaged"));
    m_ended = true;
    emit finished(1);
}

void Recorder::TickDone(ScanCycle::Tick tick)
{
    if (m_ended)
        return;
    const ScanCycle& scan = m_station.Scan();
    switch (tick) {
    case ScanCycle::Tick::Recorded:
        if (m_failing > 0)
            Say(QStringLiteral("rows recorded again (%1 not recorded meanwhile)").arg(m_failing));
        m_lastFailure.clear();
        if (m_options.verbose)
            Say(RowText(scan.LastRow()));
        if (m_station.RowsThisRun() % ProgressEvery == 0)
            Say(QStringLiteral("%1 rows recorded; %2 holds %3 of %4")
                    .arg(m_station.RowsThisRun())
                    .arg(Shared.DataFileName)
                    .arg(Shared.RecordCount)
                    .arg(Shared.MaxRecords));
        if (IsFull())
            HandleFull();
        break;
    case ScanCycle::Tick::Failed:
        if (scan.LastError() != m_lastFailure && !scan.LastError().isEmpty()) {
            m_lastFailure = scan.LastError();
            Say(QStringLiteral("row not recorded: %1").arg(m_lastFailure));
        }
        break;
    case ScanCycle::Tick::Full:
        HandleFull();
        break;
    case ScanCycle::Tick::Idle:
        break;
    }
    m_failing = m_station.RowTrouble().Missed();
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
