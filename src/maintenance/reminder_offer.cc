#include "maintenance/reminder_offer.h"

#include <string>

#include "platform/registry.h"
#include "platform/reminder_schedule.h"
#include "ui/ui.h"

namespace quil {
namespace {

constexpr char kKey[] = "Software\\MERO\\QUILReminder";
constexpr char kOffered[] = "Offered";

constexpr char kQuestion[] =
    "要在憑證到期前以桌面通知提醒您嗎？\n"
    "開啟後，即使未執行 QUIL，電腦每天也會檢查一次，於到期前 28、14、7、3、1 天及到期後各提醒一次。";

bool Offered() {
  auto v = platform::CurrentUserHive().QueryValue(kKey, kOffered);
  return v && v->type == platform::RegType::kDword && v->dword != 0;
}

void RememberOffered() {
  auto& hive = platform::CurrentUserHive();
  if (hive.CreateKey(kKey) == platform::kRegSuccess) (void)hive.SetValue(kKey, platform::RegDword(kOffered, 1));
}

}  // namespace

void OfferExpiryReminder() {
  if (Offered()) return;
  switch (platform::ReminderScheduleState()) {
    case platform::ReminderSchedule::kUnavailable:
      return;
    case platform::ReminderSchedule::kOn:
      RememberOffered();
      return;
    case platform::ReminderSchedule::kOff:
      break;
  }
  RememberOffered();
  if (ui::CurrentUi().MessageBox(kQuestion, ui::Buttons::kYesNo) != ui::Answer::kYes) return;
  std::string problem;
  if (!platform::EnableReminderSchedule(&problem))
    ui::CurrentUi().MessageBox("無法開啟憑證到期提醒（" + problem + "）", ui::Buttons::kOk);
}

}  // namespace quil
