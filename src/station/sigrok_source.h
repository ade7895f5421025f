#pragma once
// A libsigrok device (a multimeter, thermometer, sound-level meter, the demo driver) as a source
// of readings. The device runs in the helper process meter-sigrok (tools/meter-sigrok), whose
// lines (sigrok_lines.h) this source reads through QProcess on the station's thread: GLib and
// libsigrok never enter this process, a hung session is killed rather than waited for, and the
// memory libsigrok loses per packet is returned each time the helper is restarted.
//
// Readings: channel i of the device goes to the data file's channel FirstChannel + i (the first
// Channels of them). The value keeps every digit the meter shows (ChanDecimals = its digits), in
// the quantity's base unit whatever range the meter is in (libsigrok gives 999.9 mV as 0.9999 V),
// and the unit column says the unit with AC/DC ("VDC", "Ohm"; unit_codes.h). A HOLD reading is no
// measurement: the link stays up but the channel gets no reading, so it goes stale. Overload and
// NaN readings are recorded as InvalidReading with an "overload" event when the channel enters
// it. The meter's mode (quantity and flags) goes to Shared.ChanMode with every reading, HOLD ones
// too, and is cleared when the source stops (HOLD alone when the link is lost). A change of what
// is measured is a "function" event, once per change: of function or coupling ("voltage VDC to
// resistance Ohm"), of REL, MIN, MAX and the like ("voltage VDC to voltage VDC REL"), and HOLD
// pressed or released ("HOLD on", "HOLD off").
//
// Faults: no reading for SilenceMs (a hung or spinning session, an unplugged meter) -> link lost,
// the helper killed and started again at once; a helper that ends or cannot find the device ->
// link lost, tried again every RetryMs (the same failure reported once); an unknown driver or a
// bad option -> link lost, not tried again. After RestartAfter readings the helper is restarted on purpose (a gap of well under the
// 3 s freshness limit), which bounds its memory. Stop ends the helper within a second.
#include "core/shared_state.h"
#include "station/reading_source.h"
#include "station/sigrok_lines.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>
#include <array>

class QProcess;

class SigrokSource : public ReadingSource {
    Q_OBJECT
  public:
    struct Settings {
        QString driver;
        QStringList options; // KEY=VALUE for libsigrok
        int channels = 1;
    };
    explicit SigrokSource(const Settings& settings, QObject* parent = nullptr);
    ~SigrokSource() override;

    QString Name() const override;
    int ChannelCount() const override { return m_settings.channels; }
    void Start() override;
    void Stop() override;
    quint64 FramesReceived() const override { return m_readings; }
    quint64 FramesRejected() const override { return m_rejected; }

    int SilenceMs = 10000;
    int RetryMs = 5000;
    quint64 RestartAfter = 250000;

    // meter-sigrok: $VARNIK_SIGROK_HELPER, else beside this program.
    static QString HelperPath();
    // Runs the helper's --check: false with one line when the driver is unknown or an option
    // does not parse (or the helper cannot run).
    static bool Check(const Settings& settings, QString* error);
    // "NAME  DESCRIPTION" for every driver; false with one line when the helper cannot run.
    static bool ListDrivers(QStringList* lines, QString* error);

    // Ends a helper within a second (SIGTERM, then SIGKILL) and deletes its QProcess later.
    static void EndHelper(QProcess* helper);

    // The helper process while one runs (for tests and benchmarks); else null.
    QProcess* Helper() const { return m_process; }
    int Restarts() const { return m_restarts; }

  signals:
    // The driver or an option was refused by libsigrok once the device was being set up (a
    // value out of its range): the source is not tried again. `why` is the helper's line.
    void OptionsRefused(const QString& why);

  private:
    void Launch();
    void ReadLines();
    void Take(const SigrokLine& line);
    void TakeReading(const SigrokLine& line);
    void Exited(int code, bool crashed);
    void Silent();
    void Restart(const QString& why);
    void KillHelper();   // this one and one still ending, waited for (Stop: within a second)
    void Relaunch();     // ends this one without waiting, starts the next when it has gone
    void LinkDown(const QString& why);
    // Its channels' modes in Shared.ChanMode: all of them, or only HOLD.
    void ForgetModes(bool holdOnly);
    void ReportFailure(const QString& line);

    Settings m_settings;
    QProcess* m_process = nullptr;
    QProcess* m_ending = nullptr; // the one before, still ending
    QTimer m_silence;
    QTimer m_retry;
    enum class Link { Unknown, Up, Down };
    Link m_link = Link::Unknown;
    bool m_running = false;
    bool m_discarding = false;   // the rest of an overlong line
    QString m_lastError;         // the helper's last error or end line
    QString m_reported;          // the last failure reported, not repeated until readings come
    QByteArray m_stderr;         // its last words on standard error
    quint64 m_readings = 0;
    quint64 m_rejected = 0;
    quint64 m_sinceLaunch = 0;
    int m_restarts = 0;
    std::array<QString, 17> m_function{}; // "voltage VDC REL" per device channel, empty: none yet
    std::array<bool, 17> m_overload{};
    std::array<ChannelMode, 17> m_measured{}; // the mode of the last reading that was no HOLD
    std::array<bool, 17> m_held{};        // HOLD per device channel, as last said in the event log
};
