// The reminder's schedule is a systemd user timer, asked and changed
// through systemctl.
#include "platform/reminder_schedule.h"

#include "platform/linux/run_program.h"

namespace quil::platform {
namespace {

constexpr char kTimer[] = "quil-expiry.timer";
constexpr std::chrono::seconds kLimit{20};

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

}  // namespace

ReminderSchedule ReminderScheduleState() {
  auto answer = RunProgram("systemctl", {"--user", "is-enabled", kTimer}, kLimit);
  if (!answer) return ReminderSchedule::kUnavailable;
  const std::string state = FirstLine(answer->out);
  if (state == "enabled" || state == "enabled-runtime") return ReminderSchedule::kOn;
  if (state == "disabled") return ReminderSchedule::kOff;
  // "not-found", "masked", or no user manager to ask.
  return ReminderSchedule::kUnavailable;
}

bool EnableReminderSchedule(std::string* problem) {
  auto answer = RunProgram("systemctl", {"--user", "enable", "--now", kTimer}, kLimit);
  if (!answer) {
    *problem = "systemctl could not be run";
    return false;
  }
  if (answer->exit_status != 0) {
    *problem = "systemctl --user enable --now " + std::string(kTimer) + " failed";
    return false;
  }
  return true;
}

}  // namespace quil::platform
