// The one-time offer of the daily reminder, against the test home's
// systemctl (a user service manager cannot run here).
#include "maintenance/reminder_offer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/environment.h"
#include "support/test_env.h"
#include "ui/scripted_ui.h"

namespace quil::testing {
namespace {

constexpr char kIsEnabled[] = "--user is-enabled quil-expiry.timer";
constexpr char kEnable[] = "--user enable --now quil-expiry.timer";
constexpr char kReload[] = "--user daemon-reload";
constexpr char kQuestion[] = "要在憑證到期前以桌面通知提醒您嗎？";

std::string Autostart(const ScopedTestHome& home) {
  return home.path() + "/.config/autostart/quil-expiry.desktop";
}
std::string UserUnit(const ScopedTestHome& home, const char* name) {
  return home.path() + "/.config/systemd/user/" + name;
}
bool Exists(const std::string& path) { return std::filesystem::exists(path); }

TEST(ReminderOffer, AsksOnceWhenTheTimerIsOffAndTurnsItOnForYes) {
  struct Case {
    const char* name;
    const char* state;  // of the timer before: "" when not installed for the user
    ui::Answer answer;
    bool no_service_manager;
    std::vector<std::string> calls;  // of the first offer
    const char* state_after;         // of the timer
    bool own_units;                  // units of this program written for the user
    bool autostart;                  // the check runs at each login instead
  } kCases[] = {
      {"yes", "disabled", ui::Answer::kYes, false, {kIsEnabled, kIsEnabled, kEnable}, "enabled", false, false},
      {"no", "disabled", ui::Answer::kNo, false, {kIsEnabled}, "disabled", false, false},
      {"question closed", "disabled", ui::Answer::kCancel, false, {kIsEnabled}, "disabled", false, false},
      // Run from where it was built: no timer installed, so its own.
      {"not installed, yes", "", ui::Answer::kYes, false, {kIsEnabled, kIsEnabled, kReload, kEnable}, "enabled",
       true, false},
      {"no service manager, yes", "disabled", ui::Answer::kYes, true, {kIsEnabled, kIsEnabled, kEnable}, "disabled",
       false, true},
      {"not installed and no service manager, yes", "", ui::Answer::kYes, true,
       {kIsEnabled, kIsEnabled, kReload, kEnable}, "", false, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ScopedTestHome home;
    ui::ScopedScriptedUi ui;
    SetUserTimerForTest(home, c.state, c.no_service_manager);
    ui->message_answers.push_back(c.answer);
    OfferExpiryReminder();
    ASSERT_EQ(ui->messages.size(), 1u) << "the question and nothing more";
    EXPECT_EQ(ui->messages[0].rfind(kQuestion, 0), 0u) << ui->messages[0];
    EXPECT_EQ(SystemctlCallsForTest(home), c.calls);
    EXPECT_EQ(ReadFileForTest(home.path() + "/systemctl/state"), *c.state_after ? std::string(c.state_after) + "\n" : "");
    EXPECT_EQ(Exists(UserUnit(home, "quil-expiry.timer")), c.own_units);
    EXPECT_EQ(Exists(UserUnit(home, "quil-expiry.service")), c.own_units);
    if (c.own_units) {
      EXPECT_NE(ReadFileForTest(UserUnit(home, "quil-expiry.service"))
                    .find("ExecStart=\"" + platform::ProgramPath() + "\" --check-expiry\n"),
                std::string::npos);
      EXPECT_NE(ReadFileForTest(UserUnit(home, "quil-expiry.timer")).find("OnCalendar=daily\n"), std::string::npos);
    }
    EXPECT_EQ(Exists(Autostart(home)), c.autostart);
    if (c.autostart) {
      EXPECT_NE(ReadFileForTest(Autostart(home)).find("Exec=\"" + platform::ProgramPath() + "\" --check-expiry\n"),
                std::string::npos);
    }

    // Never asked again, whatever the answer was.
    OfferExpiryReminder();
    EXPECT_EQ(ui->messages.size(), 1u);
  }
}

TEST(ReminderOffer, SaysSoWhenTheReminderCannotBeTurnedOn) {
  ScopedTestHome home;
  ui::ScopedScriptedUi ui;
  SetUserTimerForTest(home, "disabled", /*refuse_enable=*/true);
  // Nothing can be written where the autostart entry would go.
  WriteFileForTest(home.path() + "/.config/autostart", "a file, not a folder");
  ui->message_answers.push_back(ui::Answer::kYes);
  OfferExpiryReminder();
  EXPECT_EQ(ui->messages, (std::vector<std::string>{
                              ui->messages.at(0),
                              "無法開啟憑證到期提醒（systemctl --user enable --now quil-expiry.timer failed）"}));
}

TEST(ReminderOffer, AsksNothingWhenTheReminderIsOnOrRuledOut) {
  struct Case {
    const char* name;
    const char* state;  // first offer
    bool autostart;     // entry present
    bool asked_later;   // after the timer turned up disabled
  } kCases[] = {
      {"timer on: counts as offered", "enabled", false, false},
      {"checked at each login: counts as offered", "disabled", true, false},
      {"masked by the user", "masked", false, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ScopedTestHome home;
    ui::ScopedScriptedUi ui;
    SetUserTimerForTest(home, c.state);
    if (c.autostart) WriteFileForTest(Autostart(home), "[Desktop Entry]\n");
    OfferExpiryReminder();
    EXPECT_TRUE(ui->messages.empty());
    std::filesystem::remove(Autostart(home));
    SetUserTimerForTest(home, "disabled");
    OfferExpiryReminder();
    EXPECT_EQ(ui->messages.size(), c.asked_later ? 1u : 0u);
  }
}

}  // namespace
}  // namespace quil::testing
