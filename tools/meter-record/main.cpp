// meter-record: records the meter's readings into a data file without a window, for running as a
// service. Exit codes: 0 stopped by SIGTERM or SIGINT, 1 recording could not start (data file in
// use or unusable) or the data file was damaged while recording, 2 bad arguments or configuration,
// 3 data file full, 4 (under systemd) the service manager's device rules refuse the serial device,
// so that a restart of the unit takes rules that allow it. A status page that cannot be served
// does not stop recording: it is tried again.
// Environment, for tests: VARNIK_WATCHDOG_MS (100..600000) shortens or lengthens the 15 s silence
// limit (and a libsigrok source's 10 s silence and 5 s retry, to at most the same);
// VARNIK_RETRY_MS (100..600000) the 30 s between tries of an optional service;
// VARNIK_SIGROK_HELPER the meter-sigrok to run (default: beside meter-record).
#include "core/config_files.h"
#include "core/shared_state.h"
#include "core/startup.h"
#include "forward/forwarder.h"
#include "platform/stop_signals.h"
#include "optional_service.h"
#include "platform/host_services.h"
#include "record_options.h"
#include "recorder.h"
#include "recorder_watch.h"
#include "station/meter_source.h"
#include "station/sigrok_source.h"
#include "web/status_server.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

// The recorder's host: no boxes (a message becomes a line), --device as the mapping of every port
// number, and the user's settings are only read, never written.
class RecorderHost : public CoreHostServices {
  public:
    explicit RecorderHost(const QString& device) : m_device(device) {}
    Button message(const QString& text, Buttons, Icon, Button defaultButton) override
    {
        meterrecord::Say(text);
        return defaultButton;
    }
    QString setting(const QString& group, const QString& key, const QString& defaultValue) override
    {
        if (!m_device.isEmpty() && group == QLatin1String("Ports"))
            return m_device;
        return CoreHostServices::setting(group, key, defaultValue);
    }
    void setSetting(const QString&, const QString&, const QString&) override {}

  private:
    QString m_device;
};

int Usage(const QString& message)
{
    std::fprintf(stderr, "meter-record: %s\n", qPrintable(message));
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const meterrecord::ParsedOptions parsed = meterrecord::ParseRecordOptions(QCoreApplication::arguments());
    if (!parsed.error.isEmpty())
        return Usage(parsed.error + " (see --help)");
    if (parsed.helpRequested) {
        std::fputs(qPrintable(parsed.helpText), stdout);
        return 0;
    }
    const meterrecord::RecordOptions& options = parsed.options;
    if (options.listDrivers) {
        QStringList drivers;
        QString why;
        if (!SigrokSource::ListDrivers(&drivers, &why)) {
            std::fprintf(stderr, "meter-record: %s\n", qPrintable(why));
            return 1;
        }
        for (const QString& line : drivers)
            std::printf("%s\n", qPrintable(line));
        return 0;
    }
    // An unknown driver or an option libsigrok cannot take is a usage error now, not a retry later.
    for (const SourceChoice& choice : options.sources)
        if (QString why; choice.kind == SourceChoice::Kind::Sigrok &&
                         !SigrokSource::Check({choice.driver, choice.options, choice.channels}, &why))
            return Usage(QStringLiteral("--source %1: %2").arg(choice.text, why));
    if (QString why; !options.forwardUrl.isEmpty() && !CheckForwardUrl(options.forwardUrl, &why))
        return Usage(QStringLiteral("--forward: %1").arg(why));
    web::WebSettings webSettings;
    if (QString why; !web::ResolveWebSettings(options.http, options.httpToken, &webSettings, &why))
        return Usage(why);

    quint32 silenceLimitMs = 15000;
    if (const QByteArray watchdog = qgetenv("VARNIK_WATCHDOG_MS"); !watchdog.isEmpty()) {
        bool ok = false;
        silenceLimitMs = watchdog.toUInt(&ok);
        if (!ok || silenceLimitMs < 100 || silenceLimitMs > 600000)
            return Usage(
                QStringLiteral("VARNIK_WATCHDOG_MS wants milliseconds from 100 to 600000, not \"%1\"")
                    .arg(QString::fromLocal8Bit(watchdog)));
    }

    QString retryError;
    const int retryMs = meterrecord::OptionalServiceRetryMs(&retryError);
    if (retryMs == 0)
        return Usage(retryError);

    RecorderHost host(options.device);
    SetHost(&host);
    struct HostReset {
        ~HostReset() { SetHost(nullptr); }
    } hostReset;

    if (!options.dataDir.isEmpty()) {
        const QFileInfo dir(options.dataDir);
        if (!dir.isDir())
            return Usage(QStringLiteral("--data-dir: no folder \"%1\"")
                             .arg(QDir::toNativeSeparators(options.dataDir)));
        Shared.DataFolder = dir.absoluteFilePath();
    }
    QString error;
    if (!StartupEngine(QCoreApplication::applicationFilePath(), &error))
        return Usage(error);
    Shared.BaudRate = options.baud ? *options.baud : StoredBaudRate();
    if (!options.dataFile.isEmpty())
        Shared.DataFileName = options.dataFile;
    // default.txt is edited by hand too: its name must stay in the data folder as --data-file's.
    if (const QString refusal = DataFolderNameRefusal(Shared.DataFileName); !refusal.isEmpty())
        return Usage(refusal);
    if (options.rotate && meterrecord::NextDataFileName(Shared.DataFileName).isEmpty())
        return Usage(QStringLiteral("--rotate: the data file \"%1\" has no next number to go on in")
                         .arg(Shared.DataFileName));
    if (options.scanRate)
        Shared.ScanRate = int16_t(*options.scanRate);
    if (Shared.MaxRecords < 1)
        return Usage(QStringLiteral("the row limit in %1 is %2; recording needs at least 1")
                         .arg(QDir::toNativeSeparators(DataPath(QStringLiteral("default.txt"))))
                         .arg(Shared.MaxRecords));
    if (Shared.ScanRate < 0)
        return Usage(QStringLiteral("the scan rate in %1 is %2 s")
                         .arg(QDir::toNativeSeparators(DataPath(QStringLiteral("default.txt"))))
                         .arg(Shared.ScanRate));

    const int stopFd = InstallStopSignals(&error);
    if (stopFd < 0) {
        meterrecord::Complain(error);
        return 1;
    }

    web::StatusBoard board;
    meterrecord::Recorder recorder(options);
    meterrecord::RecorderWatch watch(recorder, options.http.isEmpty() ? nullptr : &board);
    std::unique_ptr<web::StatusServer> server;
    std::unique_ptr<meterrecord::OptionalService> page;
    if (!options.http.isEmpty()) {
        server = std::make_unique<web::StatusServer>(board, webSettings);
        page = std::make_unique<meterrecord::OptionalService>(
            QStringLiteral("status page"), [&server](QString* why) { return server->Start(why); },
            [&server] { meterrecord::Say(QStringLiteral("status page: %1").arg(server->Url())); }, retryMs);
    }
    if (MeterSource* meter = recorder.Meter()) {
        meter->Link().SilenceLimitMs = silenceLimitMs;
        meter->Link().RetryMs = std::min<quint32>(meter->Link().RetryMs, silenceLimitMs);
    }
    for (int i = 0; i < recorder.Station().SourceCount(); ++i)
        if (auto* sigrok = qobject_cast<SigrokSource*>(&recorder.Station().Source(i))) {
            sigrok->SilenceMs = int(std::min<quint32>(quint32(sigrok->SilenceMs), silenceLimitMs));
            sigrok->RetryMs = int(std::min<quint32>(quint32(sigrok->RetryMs), silenceLimitMs));
        }
    const int early = recorder.Start();
    if (early >= 0)
        return early;
    watch.Publish();
    if (page)
        page->Start();
    watch.Service().Ready(watch.StatusLine());

    // A stop request is handled between ticks, so the row being written is always completed.
    QSocketNotifier stop(stopFd, QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &app, [&recorder, &watch] {
        watch.Service().Stopping(QStringLiteral("stopping on a signal"));
        recorder.Stop(QStringLiteral("signal"));
        QCoreApplication::exit(0);
    });
    QObject::connect(&recorder, &meterrecord::Recorder::finished, &app, &QCoreApplication::exit);
    return QCoreApplication::exec();
}
