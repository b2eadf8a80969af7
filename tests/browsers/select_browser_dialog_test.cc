#include "browsers/select_browser_dialog.h"

#include <gtest/gtest.h>

#include "ui/scripted_ui.h"

namespace quil {
namespace {

InstalledBrowser Browser(const char* id, const char* name, bool selected) {
  InstalledBrowser b;
  b.id = id;
  b.name = name;
  b.selected = selected;
  return b;
}

CQUILSelBrowserDlg Dialog(const std::string& mode, bool chrome, bool firefox) {
  CQUILSelBrowserDlg d;
  d.mode = mode;
  d.browserChoiceShown = true;
  d.browsers = {Browser("1", "Microsoft Edge", false), Browser("2", "Chrome", chrome), Browser("3", "FireFox", firefox)};
  return d;
}

TEST(SelectBrowserDialogTest, WhatThePageAsks) {
  CQUILSelBrowserDlg d = Dialog("M", false, false);
  EXPECT_EQ(d.getSelectedMode(), "M");
  EXPECT_EQ(Dialog("S", false, false).getSelectedMode(), "S");
  EXPECT_EQ(Dialog("X", false, false).getSelectedMode(), "S");
  EXPECT_EQ(d.getInstalledBrowserNames(), "Microsoft Edge,Chrome,FireFox");
  EXPECT_EQ(d.getSelectedBrowserNames(), "");
  d.setBrowserSelected("Chrome 64");  // not in the list: nothing changes
  d.setBrowserSelected("chrome");
  EXPECT_EQ(d.getSelectedBrowserNames(), "");
  d.setBrowserSelected("FireFox");
  d.setBrowserSelected("Chrome");
  EXPECT_EQ(d.getSelectedBrowserNames(), "Chrome,FireFox");
  d.setBrowserUnSelected("FireFox");
  EXPECT_EQ(d.getSelectedBrowserNames(), "Chrome");
  EXPECT_EQ(d.isBrowserSelectedCtrlEnable(), "Y");
  EXPECT_EQ(d.isPfxPwdInputCtrlEnable(), "N");
  EXPECT_EQ(CQUILSelBrowserDlg().isBrowserSelectedCtrlEnable(), "N");
  EXPECT_EQ(CQUILSelBrowserDlg().getInstalledBrowserNames(), "");
}

TEST(SelectBrowserDialogTest, OkChecks) {
  struct Case {
    const char* name;
    bool browsers_shown;
    bool chrome_selected;
    const char* password;
    const char* confirm;
    const char* problem;
  } cases[] = {
      {"nothing chosen", true, false, "", "", "請先選擇目的瀏覽器"},
      {"nothing chosen comes first", true, false, "a", "b", "請先選擇目的瀏覽器"},
      {"last character differs", true, true, "abc123", "abc124", "密碼與密碼確認值不符"},
      {"equal", true, true, "abc123", "abc123", ""},
      {"both empty", true, true, "", "", ""},
      {"no browser part: nothing to choose", false, false, "", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CQUILSelBrowserDlg d = Dialog("M", c.chrome_selected, false);
    d.browserChoiceShown = c.browsers_shown;
    d.password = c.password;
    d.passwordConfirm = c.confirm;
    EXPECT_EQ(d.CheckOk(), c.problem);
  }
}

TEST(SelectBrowserDialogTest, PreselectionStaysUntilTheCellsAreClicked) {
  ui::ScopedScriptedUi ui;
  // Mode "S" with both preselected: the page frames Chrome alone, yet OK
  // without a click keeps both.
  CQUILSelBrowserDlg d = Dialog("X", true, true);
  d.passwordShown = true;
  ui->dialog_answers.push_back(ui::DialogValues{{"password", "abc123"}, {"passwordConfirm", "abc123"}});
  ASSERT_TRUE(d.DoModal());
  EXPECT_EQ(d.getSelectedBrowserNames(), "Chrome,FireFox");
  EXPECT_EQ(d.password, "abc123");
  ASSERT_EQ(ui->dialogs.size(), 1u);
  const auto& cells = ui->dialogs[0].fields[0];
  EXPECT_EQ(cells.value, "Chrome,FireFox");
  EXPECT_TRUE(cells.single);
  EXPECT_FALSE(cells.as_left);

  // After a click the marks replace the flags, also when a check fails.
  ui::ScopedScriptedUi again;
  CQUILSelBrowserDlg e = Dialog("M", true, false);
  again->dialog_answers.push_back(ui::DialogValues{{"browsers", ""}});
  again->dialog_answers.push_back(ui::DialogValues{});  // no new click
  again->dialog_answers.push_back(ui::DialogValues{{"browsers", "Microsoft Edge,FireFox"}});
  ASSERT_TRUE(e.DoModal());
  EXPECT_EQ(again->messages, (std::vector<std::string>{"請先選擇目的瀏覽器", "請先選擇目的瀏覽器"}));
  ASSERT_EQ(again->dialogs.size(), 3u);
  EXPECT_EQ(again->dialogs[1].fields[0].value, "");
  EXPECT_TRUE(again->dialogs[1].fields[0].as_left);
  EXPECT_EQ(e.getSelectedBrowserNames(), "Microsoft Edge,FireFox");

  // Closed any other way: a cancel.
  ui::ScopedScriptedUi closed;
  CQUILSelBrowserDlg f = Dialog("M", true, false);
  EXPECT_FALSE(f.DoModal());
}

}  // namespace
}  // namespace quil
