// No scheduled task is installed on Windows yet, so the reminder's daily
// run is never offered there.
#include "platform/reminder_schedule.h"

namespace quil::platform {

ReminderSchedule ReminderScheduleState() { return ReminderSchedule::kUnavailable; }

bool EnableReminderSchedule(std::string* problem) {
  *problem = "the daily reminder is not available on Windows yet";
  return false;
}

}  // namespace quil::platform
