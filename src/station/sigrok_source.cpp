#include "station/sigrok_source.h"

#include "core/shared_state.h"
#include "core/unit_codes.h"
#include "datafile/event_log.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QProcess>
#include <algorithm>
#include <utility>

namespace {

constexpr int FormatVersion = 1;
constexpr qsizetype MaxLine = 1024;
constexpr int HelperBadOption = 2;

QStringList HelperArguments(const SigrokSource::Settings& s)
{
    return QStringList{s.driver} + s.options;
}

// Runs the helper to its end for a one-off question; its output lines, or false with why. The
// thread's events go on meanwhile (a window repaints, the scan tick runs; no user input is taken),
// and a helper that has not answered within HelperAnswerMs is ended.
constexpr int HelperAnswerMs = 10000;
bool RunHelper(const QStringList& arguments, QList<SigrokLine>* lines, QString* error)
{
    QProcess helper;
    helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QEventLoop wait;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &wait, &QEventLoop::quit);
    QObject::connect(&helper, &QProcess::finished, &wait, &QEventLoop::quit);
    QObject::connect(&helper, &QProcess::errorOccurred, &wait, &QEventLoop::quit);
    helper.start(SigrokSource::HelperPath(), arguments);
    limit.start(HelperAnswerMs);
    if (helper.state() != QProcess::NotRunning)
        wait.exec(QEventLoop::ExcludeUserInputEvents);
    const QString path = QDir::toNativeSeparators(SigrokSource::HelperPath());
    if (helper.error() == QProcess::FailedToStart) {
        *error = QStringLiteral("%1 cannot run: %2").arg(path, helper.errorString());
        return false;
    }
    if (helper.state() != QProcess::NotRunning) {
        helper.kill();
        helper.waitForFinished(1000);
        *error = QStringLiteral("%1 did not answer within %2 s").arg(path).arg(HelperAnswerMs / 1000);
        return false;
    }
    const QList<QByteArray> raw = helper.readAllStandardOutput().split('\n');
    for (const QByteArray& l : raw) {
        const SigrokLine line = ParseSigrokLine(l);
        if (line.kind == SigrokLine::Kind::Error) {
            *error = line.text;
            return false;
        }
        if (line.kind != SigrokLine::Kind::Invalid)
            lines->append(line);
    }
    if (helper.exitStatus() != QProcess::NormalExit || helper.exitCode() != 0) {
        *error = QStringLiteral("meter-sigrok ended with exit code %1").arg(helper.exitCode());
        return false;
    }
    return true;
}

// The mode as the channel model keeps it: libsigrok's names (lower case letters, digits, '_', '-',
// '+'), anything else from the helper left out, so that every surface can show it as it is.
bool Plain(const QString& text, qsizetype longest)
{
    if (text.isEmpty() || text.size() > longest)
        return false;
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
               c == QLatin1Char('_') || c == QLatin1Char('-') || c == QLatin1Char('+');
    });
}

ChannelMode ModeOf(const SigrokLine& r)
{
    ChannelMode mode;
    if (Plain(r.quantity, 32) && r.quantity != QLatin1String("unknown"))
        mode.quantity = r.quantity;
    for (const QString& flag : r.flags)
        if (Plain(flag, 16) && !mode.flags.contains(flag) && mode.flags.size() < 16)
            mode.flags << flag;
    return mode;
}

// "voltage VDC", "voltage VDC REL", "resistance Ohm MAX": what the meter measures and how, as the
// event log names it. AC/DC is in a voltage's or current's unit already; HOLD has events of its
// own; AUTO (the range) and UNSTABLE (a reading settling) change nothing of what is measured.
QString FunctionText(const ChannelMode& mode, const QString& unit)
{
    QString text = mode.quantity.isEmpty() ? QStringLiteral("unknown") : mode.quantity;
    if (!unit.isEmpty())
        text += QLatin1Char(' ') + unit;
    const bool coupled = unit != UnitWithoutCoupling(unit);
    for (const QString& flag : mode.flags) {
        if (flag == QLatin1String("hold") || flag == QLatin1String("auto") || flag == QLatin1String("unstable") ||
            flag == QLatin1String("overload") || (coupled && (flag == QLatin1String("ac") || flag == QLatin1String("dc"))))
            continue;
        text += QLatin1Char(' ') + flag.toUpper();
    }
    return text;
}

} // namespace

SigrokSource::SigrokSource(const Settings& settings, QObject* parent) : ReadingSource(parent), m_settings(settings)
{
    m_settings.channels = std::clamp(m_settings.channels, 1, MaxChannel);
    m_silence.setSingleShot(true);
    connect(&m_silence, &QTimer::timeout, this, &SigrokSource::Silent);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &SigrokSource::Launch);
}

SigrokSource::~SigrokSource()
{
    KillHelper();
    if (m_running)
        ForgetModes(false);
}

QString SigrokSource::HelperPath()
{
    const QString given = qEnvironmentVariable("VARNIK_SIGROK_HELPER");
    if (!given.isEmpty())
        return given;
    return QCoreApplication::applicationDirPath() + QStringLiteral("/meter-sigrok");
}

bool SigrokSource::Check(const Settings& settings, QString* error)
{
    QList<SigrokLine> lines;
    if (!RunHelper(QStringList{QStringLiteral("--check")} + HelperArguments(settings), &lines, error))
        return false;
    if (lines.isEmpty() || lines[0].kind != SigrokLine::Kind::Hello || lines[0].version != FormatVersion) {
        *error = QStringLiteral("%1 is not a meter-sigrok of line format %2")
                     .arg(QDir::toNativeSeparators(HelperPath()))
                     .arg(FormatVersion);
        return false;
    }
    return true;
}

bool SigrokSource::ListDrivers(QStringList* out, QString* error)
{
    QList<SigrokLine> lines;
    if (!RunHelper({QStringLiteral("--list-drivers")}, &lines, error))
        return false;
    for (const SigrokLine& line : lines)
        if (line.kind == SigrokLine::Kind::Driver)
            out->append(QStringLiteral("%1  %2").arg(line.name, line.text));
    return true;
}

QString SigrokSource::Name() const
{
    return QStringLiteral("sigrok:%1").arg(m_settings.driver);
}

void SigrokSource::Start()
{
    m_running = true;
    Launch();
}

void SigrokSource::Stop()
{
    m_running = false;
    m_silence.stop();
    m_retry.stop();
    KillHelper();
    ForgetModes(false);
}

void SigrokSource::ForgetModes(bool holdOnly)
{
    for (int i = 0; i < m_settings.channels && FirstChannel + i <= MaxChannel; ++i) {
        ChannelMode& mode = Shared.ChanMode[FirstChannel + i];
        if (holdOnly)
            mode.flags.removeAll(QStringLiteral("hold"));
        else
            mode = {};
    }
}

void SigrokSource::Launch()
{
    if (!m_running)
        return;
    KillHelper();
    m_process = new QProcess(this);
    m_discarding = false;
    m_lastError.clear();
    m_stderr.clear();
    m_sinceLaunch = 0;
    connect(m_process, &QProcess::readyReadStandardOutput, this, &SigrokSource::ReadLines);
    connect(m_process, &QProcess::readyReadStandardError, this, [this] {
        m_stderr = (m_stderr + m_process->readAllStandardError()).right(300);
    });
    connect(m_process, &QProcess::finished, this,
            [this](int code, QProcess::ExitStatus status) { Exited(code, status == QProcess::CrashExit); });
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            Exited(-1, false);
    });
    m_process->start(HelperPath(), HelperArguments(m_settings));
    m_silence.start(SilenceMs);
}

void SigrokSource::KillHelper()
{
    for (QProcess** helper : {&m_process, &m_ending}) {
        if (QProcess* p = std::exchange(*helper, nullptr)) {
            p->disconnect(this);
            EndHelper(p);
        }
    }
}

void SigrokSource::Relaunch()
{
    if (!m_process || m_process->state() == QProcess::NotRunning) {
        Launch();
        return;
    }
    // Ended without waiting for it: SIGTERM now, SIGKILL if it hangs; the next one starts once it
    // has gone (and let go of the device).
    QProcess* p = std::exchange(m_process, nullptr);
    p->disconnect(this);
    m_ending = p;
    m_silence.stop();
    connect(p, &QProcess::finished, this, [this, p] {
        if (m_ending != p)
            return;
        m_ending = nullptr;
        p->deleteLater();
        Launch();
    });
    p->terminate();
    QTimer::singleShot(400, p, [p] { p->kill(); });
}

void SigrokSource::EndHelper(QProcess* p)
{
    if (p->state() != QProcess::NotRunning) {
        // SIGTERM lets the session close the device; a session that hangs gets SIGKILL.
        p->terminate();
        if (!p->waitForFinished(400)) {
            p->kill();
            p->waitForFinished(500);
        }
    }
    p->deleteLater();
}

void SigrokSource::ReadLines()
{
    while (m_process) {
        if (!m_process->canReadLine()) {
            if (m_process->bytesAvailable() > MaxLine) {
                m_process->readAll();
                m_discarding = true;
                ++m_rejected;
            }
            return;
        }
        QByteArray line = m_process->readLine(MaxLine + 2);
        if (!line.endsWith('\n')) {
            m_discarding = true;
            ++m_rejected;
            continue;
        }
        if (m_discarding) {
            m_discarding = false;
            continue;
        }
        line.chop(1);
        Take(ParseSigrokLine(line));
    }
}

void SigrokSource::Take(const SigrokLine& line)
{
    switch (line.kind) {
    case SigrokLine::Kind::Hello:
        if (line.version != FormatVersion) {
            m_lastError = QStringLiteral("meter-sigrok writes line format %1, this program reads %2")
                              .arg(line.version)
                              .arg(FormatVersion);
            KillHelper();
            LinkDown(m_lastError);
            if (hooks.Report)
                hooks.Report(m_lastError);
        }
        break;
    case SigrokLine::Kind::Device:
        if (hooks.Report)
            hooks.Report(QStringLiteral("%1: %2 open, %3 analog channels, recorded from channel %4")
                             .arg(Name(), line.name.isEmpty() ? QStringLiteral("device") : line.name)
                             .arg(line.count)
                             .arg(FirstChannel));
        if (line.count < m_settings.channels && hooks.Report)
            hooks.Report(QStringLiteral("%1: the device has %2 analog channel(s), so channel(s) %3 to %4 get no readings")
                             .arg(Name())
                             .arg(line.count)
                             .arg(FirstChannel + line.count)
                             .arg(FirstChannel + m_settings.channels - 1));
        break;
    case SigrokLine::Kind::Reading:
        TakeReading(line);
        break;
    case SigrokLine::Kind::Error:
        m_lastError = line.text;
        break;
    case SigrokLine::Kind::End:
        m_lastError = line.text.isEmpty() ? QStringLiteral("the session ended") : line.text;
        break;
    case SigrokLine::Kind::Invalid:
        ++m_rejected;
        break;
    case SigrokLine::Kind::Driver:
    case SigrokLine::Kind::Ok:
    case SigrokLine::Kind::Channel:
        break;
    }
}

void SigrokSource::TakeReading(const SigrokLine& r)
{
    ++m_readings;
    ++m_sinceLaunch;
    m_silence.start(SilenceMs);
    if (m_link != Link::Up) {
        m_link = Link::Up;
        m_reported.clear();
        if (hooks.Trouble)
            hooks.Trouble(QString());
        if (hooks.Report)
            hooks.Report(QStringLiteral("%1: readings arriving").arg(Name()));
        if (hooks.LinkChanged)
            hooks.LinkChanged(true, QString());
    }
    if (r.index < m_settings.channels) {
        const int n = FirstChannel + r.index;
        ChannelMode mode = ModeOf(r);
        const bool held = mode.flags.contains(QLatin1String("hold"));
        ChannelMode& measured = m_measured[size_t(r.index)];
        if (!held) {
            measured = mode;
        } else if (!measured.quantity.isEmpty()) {
            // The held display shows the last reading: its mode, held.
            mode = measured;
            mode.flags << QStringLiteral("hold");
        }
        // An over-range reading is recorded as the invalid marker; its mode says why ("OL").
        if (!held && r.overload)
            mode.flags << QStringLiteral("overload");
        const bool modeChanged = Shared.ChanMode[n] != mode;
        Shared.ChanMode[n] = mode;
        bool& wasHeld = m_held[size_t(r.index)];
        if (held != wasHeld && hooks.Event)
            hooks.Event(EventKind::Function, n, std::nullopt, held ? QStringLiteral("HOLD on") : QStringLiteral("HOLD off"));
        wasHeld = held;
        if (held) {
            // The display is frozen: the link is alive, the channel has no new reading; only
            // its mode says HOLD.
            if (modeChanged && hooks.ModeChanged)
                hooks.ModeChanged(n);
            if (hooks.Readings)
                hooks.Readings(nullptr, 0);
        } else {
            const QString unit = ColumnUnit(r);
            const QString function = FunctionText(mode, unit);
            QString& before = m_function[size_t(r.index)];
            if (!before.isEmpty() && before != function && hooks.Event)
                hooks.Event(EventKind::Function, n, std::nullopt,
                            QStringLiteral("%1 to %2").arg(before, function));
            before = function;
            const bool invalid = r.overload || r.notNumber;
            bool& overload = m_overload[size_t(r.index)];
            if (invalid && !overload && hooks.Event)
                hooks.Event(EventKind::Overload, n, std::nullopt,
                            r.notNumber ? QStringLiteral("%1: not a number").arg(function)
                                        : QStringLiteral("%1: over range (%2)")
                                              .arg(function, r.value > 0 ? QStringLiteral("+") : QStringLiteral("-")));
            overload = invalid;
            Shared.ChanUnit[n] = UnitCodeFor(unit);
            Shared.ChanValue[n] = invalid ? InvalidReading : r.value;
            Shared.ChanDecimals[n] = int16_t(invalid ? 0 : std::clamp(r.digits, 0, MaxChannel));
            if (hooks.Readings)
                hooks.Readings(&n, 1);
        }
    } else if (hooks.Readings) {
        hooks.Readings(nullptr, 0);
    }
    if (RestartAfter > 0 && m_sinceLaunch >= RestartAfter && m_running) {
        ++m_restarts;
        if (hooks.Report)
            hooks.Report(QStringLiteral("%1: helper restarted after %2 readings (bounds libsigrok's memory)")
                             .arg(Name())
                             .arg(m_sinceLaunch));
        QMetaObject::invokeMethod(this, &SigrokSource::Relaunch, Qt::QueuedConnection);
        m_sinceLaunch = 0;
    }
}

void SigrokSource::LinkDown(const QString& why)
{
    if (m_link == Link::Down)
        return;
    m_link = Link::Down;
    // Whether the meter still holds its display is not known any more; the rest of the mode
    // still describes the last reading shown.
    ForgetModes(true);
    if (hooks.LinkChanged)
        hooks.LinkChanged(false, QStringLiteral("%1: %2").arg(Name(), why));
}

void SigrokSource::Silent()
{
    if (!m_running)
        return;
    const QString why = QStringLiteral("no readings for %1 s").arg(SilenceMs / 1000.0);
    Restart(why);
}

void SigrokSource::Restart(const QString& why)
{
    ++m_restarts;
    LinkDown(why);
    ReportFailure(QStringLiteral("%1: %2: helper restarted").arg(Name(), why));
    Relaunch();
}

void SigrokSource::Exited(int code, bool crashed)
{
    if (!m_running || !m_process)
        return;
    ReadLines();
    QString why = m_lastError;
    if (why.isEmpty()) {
        const QString said = QString::fromUtf8(m_stderr).trimmed().section(QLatin1Char('\n'), -1);
        why = code < 0 ? QStringLiteral("meter-sigrok cannot start: %1").arg(m_process->errorString())
              : crashed ? QStringLiteral("meter-sigrok crashed")
                        : QStringLiteral("meter-sigrok ended with exit code %1").arg(code);
        if (!said.isEmpty())
            why += QStringLiteral(" (%1)").arg(said);
    }
    KillHelper();
    m_silence.stop();
    LinkDown(why);
    if (!crashed && code == HelperBadOption) {
        ReportFailure(QStringLiteral("%1: %2; not tried again (check the source's options)").arg(Name(), why));
        emit OptionsRefused(QStringLiteral("%1: %2").arg(Name(), why));
        return;
    }
    ReportFailure(QStringLiteral("%1: %2; trying again every %3 s").arg(Name(), why).arg(RetryMs / 1000.0));
    m_retry.start(RetryMs);
}

void SigrokSource::ReportFailure(const QString& line)
{
    // A meter that stays away is said once, not at every try, until its readings come again.
    if (line == m_reported)
        return;
    m_reported = line;
    if (hooks.Report)
        hooks.Report(line);
    if (hooks.Trouble)
        hooks.Trouble(line);
}
