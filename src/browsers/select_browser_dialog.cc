#include "browsers/select_browser_dialog.h"

#include "base/text.h"
#include "platform/text_codec.h"

namespace quil {
namespace {

std::string Joined(const std::vector<InstalledBrowser>& list, bool selected_only) {
  std::string out;
  for (const auto& b : list) {
    if (selected_only && !b.selected) continue;
    if (!out.empty()) out += ",";
    out += b.name;
  }
  return out;
}

}  // namespace

std::string CQUILSelBrowserDlg::getSelectedMode() const { return mode == "M" ? "M" : "S"; }

std::string CQUILSelBrowserDlg::getInstalledBrowserNames() const { return Joined(browsers, false); }

std::string CQUILSelBrowserDlg::getSelectedBrowserNames() const { return Joined(browsers, true); }

void CQUILSelBrowserDlg::setBrowserSelected(const std::string& name) {
  for (auto& b : browsers)
    if (b.name == name) {
      b.selected = true;
      return;
    }
}

void CQUILSelBrowserDlg::setBrowserUnSelected(const std::string& name) {
  for (auto& b : browsers)
    if (b.name == name) {
      b.selected = false;
      return;
    }
}

std::string CQUILSelBrowserDlg::isBrowserSelectedCtrlEnable() const { return browserChoiceShown ? "Y" : "N"; }

std::string CQUILSelBrowserDlg::isPfxPwdInputCtrlEnable() const { return passwordShown ? "Y" : "N"; }

void CQUILSelBrowserDlg::syncUserInputPwd(const std::string& wide_password, const std::string& wide_confirm) {
  password = platform::ToNarrow(wide_password);
  passwordConfirm = platform::ToNarrow(wide_confirm);
}

std::string CQUILSelBrowserDlg::CheckOk() const {
  if (browserChoiceShown && getSelectedBrowserNames().empty()) return "請先選擇目的瀏覽器";
  if (password != passwordConfirm) return "密碼與密碼確認值不符";
  return {};
}

ui::DialogRequest CQUILSelBrowserDlg::Request() const {
  ui::DialogRequest r;
  r.dialog = kSelectBrowserDialog;
  if (isBrowserSelectedCtrlEnable() == "Y") {
    ui::DialogField cells;
    cells.name = "browsers";
    cells.label = "請選擇目的瀏覽器(預設全選):";
    cells.kind = "browsers";
    cells.value = platform::ToWide(getSelectedBrowserNames());
    for (const auto& name : SplitNonEmpty(getInstalledBrowserNames(), ',')) cells.choices.push_back(platform::ToWide(name));
    cells.single = getSelectedMode() == "S";
    cells.as_left = cells_clicked_;
    r.fields.push_back(std::move(cells));
  }
  if (isPfxPwdInputCtrlEnable() == "Y") {
    r.fields.push_back({"passwordHeading", "", "static", "請設定憑證保護密碼:"});
    r.fields.push_back({"password", "憑證密碼:", "password", platform::ToWide(password)});
    r.fields.push_back({"passwordConfirm", "憑證密碼確認:", "password", platform::ToWide(passwordConfirm)});
  }
  return r;
}

void CQUILSelBrowserDlg::TakeAnswer(const ui::DialogValues& values) {
  auto cells = values.find("browsers");
  if (browserChoiceShown && cells != values.end()) {
    cells_clicked_ = true;
    // The page's marks, name by name, as its clicks would set them.
    std::vector<std::string> marked = SplitNonEmpty(platform::ToNarrow(cells->second), ',');
    for (const auto& name : SplitNonEmpty(getInstalledBrowserNames(), ',')) {
      bool on = false;
      for (const auto& m : marked) on = on || m == name;
      if (on) setBrowserSelected(name);
      else setBrowserUnSelected(name);
    }
  }
  if (passwordShown) {
    auto pw = values.find("password");
    auto confirm = values.find("passwordConfirm");
    syncUserInputPwd(pw == values.end() ? "" : pw->second, confirm == values.end() ? "" : confirm->second);
  }
}

bool CQUILSelBrowserDlg::DoModal() {
  for (;;) {
    auto values = ui::CurrentUi().ShowDialog(Request());
    if (!values) return false;
    TakeAnswer(*values);
    std::string problem = CheckOk();
    if (problem.empty()) return true;
    ui::CurrentUi().MessageBox(problem, ui::Buttons::kOk);
  }
}

}  // namespace quil
