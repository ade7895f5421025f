#pragma once
// A service the recorder offers besides recording (the status page, ...): it never stops
// recording. When it cannot start (port taken, address gone) one line says why and it is tried
// again every retryMs, with another line only when the reason changes, until it starts.
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

namespace meterrecord {

class OptionalService : public QObject {
  public:
    // start: true when the service runs, else false and *error. started: after a start that
    // worked (the line that says where to find it).
    OptionalService(QString name, std::function<bool(QString* error)> start, std::function<void()> started,
                    int retryMs, QObject* parent = nullptr);

    // The first try, now.
    void Start();
    bool Running() const { return m_running; }

  private:
    void Try();

    QString m_name;
    std::function<bool(QString*)> m_start;
    std::function<void()> m_started;
    int m_retryMs;
    QTimer m_retry;
    QString m_lastError;
    bool m_running = false;
};

// The retry period of optional services: 30 s, or VARNIK_RETRY_MS (100..600000) for tests; 0 and
// *error for a value out of range.
int OptionalServiceRetryMs(QString* error);

} // namespace meterrecord
