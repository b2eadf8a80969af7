// The one-time offer of the daily reminder, against the test home's
// systemctl (a user service manager cannot run here).
#include "maintenance/reminder_offer.h"

#include <gtest/gtest.h>

#include "support/test_env.h"
#include "ui/scripted_ui.h"

namespace quil::testing {
namespace {

constexpr char kIsEnabled[] = "--user is-enabled quil-expiry.timer";
constexpr char kEnable[] = "--user enable --now quil-expiry.timer";

TEST(ReminderOffer, AsksOnceWhenTheTimerIsOffAndTurnsItOnForYes) {
  struct Case {
    const char* name;
    ui::Answer answer;
    bool refuse;
    std::vector<std::string> calls;     // of the first offer
    const char* state_after;            // of the timer
    std::vector<std::string> messages;  // beyond the question
  } kCases[] = {
      {"yes", ui::Answer::kYes, false, {kIsEnabled, kEnable}, "enabled", {}},
      {"no", ui::Answer::kNo, false, {kIsEnabled}, "disabled", {}},
      {"question closed", ui::Answer::kCancel, false, {kIsEnabled}, "disabled", {}},
      {"yes, but systemctl fails", ui::Answer::kYes, true, {kIsEnabled, kEnable}, "disabled",
       {"無法開啟憑證到期提醒（systemctl --user enable --now quil-expiry.timer failed）"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ScopedTestHome home;
    ui::ScopedScriptedUi ui;
    SetUserTimerForTest(home, "disabled", c.refuse);
    ui->message_answers.push_back(c.answer);
    OfferExpiryReminder();
    ASSERT_GE(ui->messages.size(), 1u);
    EXPECT_EQ(ui->messages[0].rfind("要在憑證到期前以桌面通知提醒您嗎？", 0), 0u) << ui->messages[0];
    EXPECT_EQ(std::vector<std::string>(ui->messages.begin() + 1, ui->messages.end()), c.messages);
    EXPECT_EQ(SystemctlCallsForTest(home), c.calls);
    EXPECT_EQ(ReadFileForTest(home.path() + "/systemctl/state"), std::string(c.state_after) + "\n");

    // Never asked again, whatever the answer was.
    OfferExpiryReminder();
    EXPECT_EQ(ui->messages.size(), 1u + c.messages.size());
    EXPECT_EQ(SystemctlCallsForTest(home), c.calls);
  }
}

TEST(ReminderOffer, AsksNothingWhenTheTimerIsOnOrMissing) {
  struct Case {
    const char* name;
    const char* state;   // first offer
    bool asked_later;    // after the timer turned up disabled
  } kCases[] = {
      {"already on: counts as offered", "enabled", false},
      {"not installed: asked once it is", "", true},
      {"masked by the user", "masked", true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ScopedTestHome home;
    ui::ScopedScriptedUi ui;
    SetUserTimerForTest(home, c.state);
    OfferExpiryReminder();
    EXPECT_TRUE(ui->messages.empty());
    SetUserTimerForTest(home, "disabled");
    OfferExpiryReminder();
    EXPECT_EQ(ui->messages.size(), c.asked_later ? 1u : 0u);
  }
}

}  // namespace
}  // namespace quil::testing
