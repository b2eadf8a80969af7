// Password rules and the three PKCS#12 dialogs.
#include <gtest/gtest.h>

#include "base/settings.h"
#include "cert/password_rules.h"
#include "cert/pfx_dialogs.h"
#include "cert_test_env.h"
#include "ui/scripted_ui.h"

namespace quil {
namespace {

TEST(CheckPfxPassword, RulesInOrder) {
  PfxPasswordRules none;
  PfxPasswordRules all;
  all.minLen = 8;
  all.maxLen = 12;
  all.digit = all.upper = all.lower = all.special = true;
  PfxPasswordRules digit8 = none;
  digit8.minLen = 8;
  digit8.maxLen = 12;
  digit8.digit = true;
  PfxPasswordRules min6_all = all;
  min6_all.minLen = 6;
  PfxPasswordRules classes = none;
  classes.digit = classes.upper = classes.lower = classes.special = true;
  PfxPasswordRules special_only = none;
  special_only.special = true;

  struct Case {
    const char* name;
    const char* password;
    const PfxPasswordRules* rules;
    const char* want;
  } kCases[] = {
      {"no rules, empty", "", &none, ""},
      {"no rules, anything", "x", &none, ""},
      {"eight without digit", "abcdefgh", &digit8, "憑證檔密碼必需包含數字\n"},
      {"too short beats classes", "!!!!!", &min6_all, "密碼長度不足\n"},
      {"too long", "Abcdefgh1!xyz", &all, "密碼長度超過限制\n"},
      {"upper missing", "abcdef1!", &all, "憑證檔密碼必需包含大寫英文字母\n"},
      {"lower missing", "ABCDEF1!", &all, "憑證檔密碼必需包含小寫英文字母\n"},
      {"special missing", "ABCdef12", &all, "憑證檔密碼必需包含特殊符號\n"},
      {"all satisfied", "ABCdef1!", &all, ""},
      {"chinese counts as special", "密碼", &special_only, ""},
      {"chinese fails digit first", "密碼", &classes, "憑證檔密碼必需包含數字\n"},
      // Lengths count UTF-16 units: two Chinese characters are 2, not 6.
      {"chinese length", "密碼", &min6_all, "密碼長度不足\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(checkPfxPassword(c.password, *c.rules), c.want);
  }
}

// In code page 950, 密 is B1 4B and 碼 is BD 58: trail bytes that a byte-wise
// match would take for the letters K and X.
TEST(CheckPfxPassword, ChineseOnlyPassesSpecialFailsLetters) {
  PfxPasswordRules upper;
  upper.upper = true;
  PfxPasswordRules lower;
  lower.lower = true;
  EXPECT_EQ(checkPfxPassword("憑證密碼", upper), "憑證檔密碼必需包含大寫英文字母\n");
  EXPECT_EQ(checkPfxPassword("憑證密碼", lower), "憑證檔密碼必需包含小寫英文字母\n");
}

TEST(PfxPasswordRules, ReadFromSettings) {
  testing::UseLocalSettingsOnly();
  PfxPasswordRules absent = PfxPasswordRulesFromSettings();
  EXPECT_EQ(absent.minLen, 0);
  EXPECT_FALSE(absent.digit || absent.upper || absent.lower || absent.special);
  setSetting("pfx.pwd.prompt", "rule");
  setSetting("pfx.pwd.minLen", "6");
  setSetting("pfx.pwd.maxLen", "-1");
  setSetting("pfx.pwd.digit", "Y");
  setSetting("pfx.pwd.UCAlph", "y");
  setSetting("pfx.pwd.LCAlph", "Y");
  setSetting("pfx.pwd.punctuation", "N");
  PfxPasswordRules r = PfxPasswordRulesFromSettings();
  EXPECT_EQ(r.prompt, "rule");
  EXPECT_EQ(r.minLen, 6);
  EXPECT_EQ(r.maxLen, -1);
  EXPECT_TRUE(r.digit);
  EXPECT_FALSE(r.upper);  // only "Y" switches a rule on
  EXPECT_TRUE(r.lower);
  EXPECT_FALSE(r.special);
  ResetSettingsForTesting();
}

ui::DialogValues Save(const std::string& path, const std::string& pw, const std::string& confirm) {
  return {{"path", path}, {"password", pw}, {"confirm", confirm}, {"prompt", ""}};
}

TEST(SavePfxDialog, ChecksInOrderAndKeepsInput) {
  PfxPasswordRules min6_digit;
  min6_digit.minLen = 6;
  min6_digit.digit = true;
  PfxPasswordRules digit_only;
  digit_only.digit = true;
  struct Case {
    const char* name;
    ui::DialogValues first;
    PfxPasswordRules rules;
    const char* message;  // "" when the first answer passes
  } kCases[] = {
      {"blank path", Save("   ", "a1", "a1"), {}, "憑證儲存路徑未指定\n"},
      {"confirmation differs in case", Save("/t/a.p12", "Abc1", "abc1"), {}, "密碼與密碼確認欄位值不同\n"},
      {"empty password too short", Save("/t/a.p12", "", ""), min6_digit, "密碼長度不足\n"},
      {"empty password skips classes", Save("/t/a.p12", "", ""), digit_only, ""},
      {"no minimum accepts empty", Save("/t/a.p12", "", ""), {}, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ui::ScopedScriptedUi ui;
    ui->dialog_answers.push_back(c.first);
    auto result = RunSavePfxDialog({"/t/a.p12", ""}, c.rules);
    if (*c.message == '\0') {
      ASSERT_TRUE(result);
      EXPECT_EQ(result->path, c.first.at("path"));
      EXPECT_TRUE(ui->messages.empty());
    } else {
      EXPECT_FALSE(result);  // the second showing was cancelled
      ASSERT_EQ(ui->messages.size(), 1u);
      EXPECT_EQ(ui->messages[0], c.message);
      ASSERT_EQ(ui->dialogs.size(), 2u);
      EXPECT_EQ(ui->dialogs[1].fields[0].value, c.first.at("path"));  // input kept
    }
    EXPECT_EQ(ui->dialogs[0].dialog, "CQUILSavePfxDlg");
    EXPECT_EQ(ui->dialogs[0].caption, "憑證檔儲存資訊");
  }
}

TEST(ChangePfxPasswordDialog, ChecksInOrder) {
  PfxPasswordRules digit_only;
  digit_only.digit = true;
  auto values = [](const std::string& path, const std::string& np, const std::string& confirm) {
    return ui::DialogValues{{"path", path}, {"currentPassword", "old"}, {"newPassword", np}, {"confirm", confirm}};
  };
  struct Case {
    const char* name;
    ui::DialogValues first;
    const char* message;
  } kCases[] = {
      {"empty path", values("", "a1", "a1"), "憑證檔路徑未指定"},
      {"confirmation differs", values("/t/a.pfx", "a1", "a2"), "新密碼與新密碼確認值不相同"},
      {"empty new password still needs a digit", values("/t/a.pfx", "", ""), "憑證檔密碼必需包含數字\n"},
      {"passes", values("/t/a.pfx", "a1", "a1"), ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ui::ScopedScriptedUi ui;
    ui->dialog_answers.push_back(c.first);
    auto result = RunChangePfxPasswordDialog({"/t/a.pfx", "", ""}, digit_only);
    EXPECT_EQ(ui->dialogs[0].dialog, "CQUILChgPfxPwdDlg");
    if (*c.message == '\0') {
      ASSERT_TRUE(result);
      EXPECT_EQ(result->currentPassword, "old");
      EXPECT_EQ(result->newPassword, "a1");
    } else {
      EXPECT_FALSE(result);
      ASSERT_EQ(ui->messages.size(), 1u);
      EXPECT_EQ(ui->messages[0], c.message);
    }
  }
}

TEST(LoadPfxDialog, EmptyPathIsRefusedPasswordIsNot) {
  ui::ScopedScriptedUi ui;
  ui->dialog_answers.push_back(ui::DialogValues{{"path", ""}, {"password", "x"}});
  ui->dialog_answers.push_back(ui::DialogValues{{"path", "/t/a.p12"}, {"password", ""}});
  auto result = RunLoadPfxDialog({"", ""});
  ASSERT_TRUE(result);
  EXPECT_EQ(result->path, "/t/a.p12");
  ASSERT_EQ(ui->messages.size(), 1u);
  EXPECT_EQ(ui->messages[0], "憑證檔儲存路徑未指定");
  EXPECT_EQ(ui->dialogs[0].dialog, "CQUILLoadPfxDlg");
}

TEST(PathWithChosenFolder, KeepsTheFileName) {
  EXPECT_EQ(PathWithChosenFolder("/old/cert.p12", "/"), "/cert.p12");
  EXPECT_EQ(PathWithChosenFolder("/old/cert.p12", "/home/u/Keys"), "/home/u/Keys/cert.p12");
  EXPECT_EQ(PathWithChosenFolder("cert.p12", "/home/u/"), "/home/u/cert.p12");
}

}  // namespace
}  // namespace quil
