#pragma once
// Rows that came due and could not be written (a full disk, a file locked by another program), since
// the last row that was: when the trouble began, how many rows it has cost and the latest reason.
// The program shows it beside the live displays' row counters and in the main window's status bar;
// recording goes on trying at every tick, and the next row written ends it.
#include "acquisition/scan_cycle.h"

#include <QDateTime>
#include <QString>

class RowFailures {
  public:
    // After every scan tick: a Failed tick adds `missed` rows with its reason, a Recorded one ends
    // the trouble; Idle and Full ticks change nothing.
    void Tick(ScanCycle::Tick tick, int missed, const QString& reason, const QDateTime& now);
    void Clear() { *this = RowFailures{}; }

    bool Failing() const { return m_since.isValid(); }
    int Missed() const { return m_missed; }
    // "Rows not recorded since 10:04:05 (14 due): database or disk is full. Recording goes on as
    // soon as a row can be written again."; empty while rows go in.
    QString Text() const;

  private:
    QDateTime m_since;
    int m_missed = 0;
    QString m_reason;
};
