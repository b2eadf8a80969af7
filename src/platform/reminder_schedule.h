#pragma once
// The daily run of the expiry reminder (`quil --check-expiry`) that the
// desktop session schedules for the user: on Linux the systemd user timer
// "quil-expiry.timer" installed with the program, or the user's own units
// for the running program when none is installed; without a user service
// manager, a run at each login of the desktop session (XDG autostart).
// Blocking; any thread.
#include <string>

namespace quil::platform {

enum class ReminderSchedule {
  kUnavailable,  // ruled out by the user (a masked timer), or no way here
  kOff,
  kOn,
};

ReminderSchedule ReminderScheduleState();

// Turns the daily run on (and starts its clock now), by the first of the
// ways above that works; false, with the reason in `problem`, when none did.
[[nodiscard]] bool EnableReminderSchedule(std::string* problem);

}  // namespace quil::platform
