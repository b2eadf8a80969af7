#pragma once
// The expiry reminder: `quil --check-expiry` reads the held certificates
// (cert/held_certificate.h) and shows one desktop notification per stage,
// 28, 14, 7, 3 and 1 days before a certificate ends and once after it has
// ended. Each stage is announced once per certificate; a stage whose day
// passed while nothing ran is skipped for the one due now. No proxy, no
// password, no page.
#include <chrono>
#include <ctime>
#include <string>
#include <vector>

#include "cert/held_certificate.h"

namespace quil {

// The stage due for a certificate ending at `not_after`, seen at `now`:
// "28d", "14d", "7d", "3d" or "1d" for the smallest of those whose day
// count is not below the days left (counted up: 27 days and an hour are 28
// days), "expired" from `not_after` on, empty while more than 28 days are
// left. `days_left` gets the days left (0 once ended).
std::string DueReminderStage(std::time_t not_after, std::time_t now, int* days_left);

// The notAfter text of the record (fourteen local-time digits) as a time;
// -1 when it is not such a text.
std::time_t RecordTimeToTime(const std::string& digits);

struct DueReminder {
  HeldCertificate cert;
  std::string stage;
  int days_left = 0;
};

// The reminders due at `now` that were not announced yet (neither the stage
// nor a later one).
std::vector<DueReminder> DueReminders(std::time_t now);

// The notification of one reminder, in Traditional Chinese.
struct ReminderText {
  std::string summary;
  std::string body;
};
ReminderText ComposeReminder(const DueReminder& due);

struct ExpiryCheck {
  std::string app_id;                     // the desktop entry, for the service
  std::vector<std::string> open_command;  // starts QUIL when the action is chosen
  std::chrono::milliseconds wait{0};      // how long to wait for that choice
  std::time_t now = 0;
};

struct [[nodiscard]] ExpiryCheckResult {
  int status = 1;       // 0, or 1 when a due reminder could not be shown
  int shown = 0;        // notifications shown
  bool opened = false;  // the action was chosen and QUIL started
  std::string problem;  // why a reminder could not be shown
};

// Shows the due reminders, remembers each stage shown, then waits up to
// `wait` for the user to choose the action of one of them. Nothing due (or
// nothing held) needs no notification service and gives status 0. A stage
// that could not be shown is not remembered, so the next run tries again.
// Blocks.
ExpiryCheckResult RunExpiryCheck(const ExpiryCheck& check);

}  // namespace quil
