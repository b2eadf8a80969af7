#pragma once
// The daily run of the expiry reminder (`quil --check-expiry`) that the
// desktop session schedules for the user: on Linux the systemd user timer
// "quil-expiry.timer" installed with the program. Blocking; any thread.
#include <string>

namespace quil::platform {

enum class ReminderSchedule {
  kUnavailable,  // not installed, or no service manager for this user
  kOff,
  kOn,
};

ReminderSchedule ReminderScheduleState();

// Turns the daily run on (and starts its clock now); false, with the reason
// in `problem`, when that failed.
[[nodiscard]] bool EnableReminderSchedule(std::string* problem);

}  // namespace quil::platform
