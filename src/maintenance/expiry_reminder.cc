#include "maintenance/expiry_reminder.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "base/time_digits.h"
#include "platform/clock.h"
#include "platform/desktop_notifications.h"
#include "platform/process.h"

namespace quil {
namespace {

constexpr std::time_t kDay = 24 * 60 * 60;
constexpr char kExpired[] = "expired";

// The stages before the end, nearest last; the order a certificate meets them.
struct Stage {
  int days;
  const char* name;
};
constexpr Stage kStagesBefore[] = {{28, "28d"}, {14, "14d"}, {7, "7d"}, {3, "3d"}, {1, "1d"}};

// The position of a stage on the way to the end (expired is the last).
int Rank(const std::string& stage) {
  for (size_t i = 0; i < std::size(kStagesBefore); ++i)
    if (stage == kStagesBefore[i].name) return static_cast<int>(i);
  return stage == kExpired ? static_cast<int>(std::size(kStagesBefore)) : -1;
}

std::string LocalTimeText(std::time_t t) {
  std::tm local{};
  return platform::ToLocalTime(t, &local) ? TimeDigits(local) : "";
}

// YYYY/MM/DD hh:mm:ss, as the page shows record times.
std::string ShownTime(const std::string& d) {
  if (d.size() != 14) return d;
  return d.substr(0, 4) + "/" + d.substr(4, 2) + "/" + d.substr(6, 2) + " " + d.substr(8, 2) + ":" +
         d.substr(10, 2) + ":" + d.substr(12, 2);
}

std::string WhereText(const HeldLocation& where) {
  if (where.store == "ieCertStore") return "憑證位置：個人憑證存放區";
  if (!where.path.empty()) return "憑證檔：" + where.path;
  return {};
}

}  // namespace

std::string DueReminderStage(std::time_t not_after, std::time_t now, int* days_left) {
  const std::time_t left = not_after - now;
  if (left <= 0) {
    *days_left = 0;
    return kExpired;
  }
  *days_left = static_cast<int>((left + kDay - 1) / kDay);
  std::string due;
  for (const Stage& s : kStagesBefore)
    if (*days_left <= s.days) due = s.name;
  return due;
}

std::time_t RecordTimeToTime(const std::string& digits) {
  if (digits.size() != 14 || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return -1;
  auto field = [&](size_t at, size_t n) { return std::stoi(digits.substr(at, n)); };
  struct tm local {};
  local.tm_year = field(0, 4) - 1900;
  local.tm_mon = field(4, 2) - 1;
  local.tm_mday = field(6, 2);
  local.tm_hour = field(8, 2);
  local.tm_min = field(10, 2);
  local.tm_sec = field(12, 2);
  local.tm_isdst = -1;
  if (local.tm_mon > 11 || local.tm_mday < 1 || local.tm_mday > 31 || local.tm_hour > 23 || local.tm_min > 59 ||
      local.tm_sec > 60)
    return -1;
  return mktime(&local);
}

std::vector<DueReminder> DueReminders(std::time_t now) {
  std::vector<DueReminder> due;
  for (HeldCertificate& cert : HeldCertificates()) {
    if (!cert.revoked.empty()) continue;  // no longer usable: nothing to renew in time
    const std::time_t not_after = RecordTimeToTime(cert.notAfter);
    if (not_after == -1) continue;
    DueReminder r;
    r.stage = DueReminderStage(not_after, now, &r.days_left);
    if (r.stage.empty()) continue;
    const int rank = Rank(r.stage);
    const auto announced = AnnouncedStages(cert);
    if (std::any_of(announced.begin(), announced.end(), [&](const std::string& s) { return Rank(s) >= rank; }))
      continue;
    r.cert = std::move(cert);
    due.push_back(std::move(r));
  }
  return due;
}

ReminderText ComposeReminder(const DueReminder& due) {
  const std::string when = ShownTime(due.cert.notAfter);
  const std::string where = WhereText(due.cert.where);
  ReminderText text;
  if (due.stage == kExpired) {
    text.summary = "QUIL：憑證已到期";
    text.body = due.cert.cn + " 的憑證已於 " + when + " 到期，無法再用於網路下單。請開啟 QUIL 重新申請憑證。";
  } else {
    text.summary = "QUIL：憑證將於 " + std::to_string(due.days_left) + " 天內到期";
    text.body = due.cert.cn + " 的憑證將於 " + when + " 到期。請開啟 QUIL 辦理憑證展期。";
  }
  if (!where.empty()) text.body += "\n" + where;
  return text;
}

ExpiryCheckResult RunExpiryCheck(const ExpiryCheck& check) {
  ExpiryCheckResult result;
  const std::vector<DueReminder> due = DueReminders(check.now);
  if (due.empty()) {
    result.status = 0;
    return result;
  }

  auto session = platform::ConnectNotifications(check.app_id, &result.problem);
  if (!session) return result;
  const std::string now_text = LocalTimeText(check.now);
  bool refused = false;
  for (const DueReminder& r : due) {
    const ReminderText text = ComposeReminder(r);
    platform::DesktopNotification n{text.summary, text.body, check.app_id, "開啟 QUIL", r.stage == kExpired};
    if (!session->Show(n)) {
      refused = true;
      result.problem = "the notification service refused a reminder";
      continue;
    }
    RememberAnnounced(r.cert, r.stage, now_text);
    ++result.shown;
  }
  result.status = refused ? 1 : 0;
  if (result.shown > 0 && !check.open_command.empty() && session->WaitForAction(check.wait)) {
    const std::vector<std::string> args(check.open_command.begin() + 1, check.open_command.end());
    result.opened = platform::StartProcess(check.open_command.front(), args);
  }
  return result;
}

}  // namespace quil
