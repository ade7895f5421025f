#pragma once
// A channel's alarm state for the event log, /api/status and MQTT: the warning limits of its
// display setup, with a deadband and a delay so that a reading hovering at a limit does not flood
// the log. Fed once per recorded row (RecordingEvents); the live displays' "High !!!"/"Low !!!"
// follow the bare limits instead.
//   - High above HighWarning, Low below LowWarning, entered at once (a reading on a limit is normal).
//   - Back to Normal from High only at or below HighWarning - deadband, from Low only at or above
//     LowWarning + deadband; the deadband is the setup's AlarmDeadband, or 1% of the scale span
//     (|MaxValue - MinValue|) while that is unset (negative).
//   - A new state counts only once it has held for AlarmDelay rows in a row (at least 1).
//   - A channel whose two limits are both 0 has no alarm and stays Normal; an invalid reading
//     (999999, NaN) changes nothing.
#include "core/shared_state.h"

enum class AlarmLevel { Normal, High, Low };

// The deadband the rules above use for this setup.
double EffectiveDeadband(const DispSetupRecord& setup);

class AlarmTracker {
  public:
    // Takes one recorded reading; true when the state changed with it (an event to log).
    bool Feed(double value, const DispSetupRecord& setup);
    AlarmLevel State() const { return m_state; }
    void Reset() { *this = AlarmTracker{}; }

  private:
    AlarmLevel m_state = AlarmLevel::Normal;
    AlarmLevel m_candidate = AlarmLevel::Normal;
    int m_held = 0;
};
