#pragma once
// CQUILSelBrowserDlg: the browser selection dialog of the deployment. It
// asks, in one modal dialog, into which detected browsers the certificate
// goes and, when the certificate comes from the store, the password of the
// copy handed to the browsers. The page draws it (a "browsers" field with a
// cell per browser, two password fields); its state, the meaning of the
// page's answers and the OK checks are here. Application thread only.
//
// What the page receives (DialogRequest; field name, kind, label), caption
// empty, OK "確定", Cancel "取消":
//   browsers         "browsers"  "請選擇目的瀏覽器(預設全選):"  choices: the
//                    installed names; value: the selected names; single:
//                    getSelectedMode() is "S"; as_left: the customer
//                    has clicked the cells before       (browserChoiceShown)
//   passwordHeading  "static"    "請設定憑證保護密碼:"   (passwordShown)
//   password         "password"  "憑證密碼:"             (passwordShown)
//   passwordConfirm  "password"  "憑證密碼確認:"         (passwordShown)
#include <string>
#include <vector>

#include "browsers/browser_detection.h"
#include "ui/ui.h"

namespace quil {

inline constexpr char kSelectBrowserDialog[] = "CQUILSelBrowserDlg";

class CQUILSelBrowserDlg {
 public:
  // Set by the deployment before DoModal.
  std::string mode;                 // "S": one browser at most; "M": several
  bool browserChoiceShown = false;  // the browser part is shown, one browser needed
  bool passwordShown = false;       // the password part is shown
  std::vector<InstalledBrowser> browsers;  // the dialog edits the selected flags
  // The last values of the password fields (narrow).
  std::string password;
  std::string passwordConfirm;

  // What the page asks of the dialog (names and "Y"/"N" texts narrow).
  std::string getSelectedMode() const;           // "M" for mode "M", else "S"
  std::string getInstalledBrowserNames() const;  // all names, joined with ","
  std::string getSelectedBrowserNames() const;   // selected names, joined with ","
  void setBrowserSelected(const std::string& name);    // first entry of that name
  void setBrowserUnSelected(const std::string& name);  // first entry of that name
  std::string isBrowserSelectedCtrlEnable() const;     // "Y" when browserChoiceShown
  std::string isPfxPwdInputCtrlEnable() const;         // "Y" when passwordShown
  void syncUserInputPwd(const std::string& wide_password, const std::string& wide_confirm);

  // The OK checks: "" when the dialog may close, else the message to show.
  std::string CheckOk() const;

  // The dialog as the page draws it now.
  ui::DialogRequest Request() const;
  // Takes the page's answer: the passwords, and the browser cells' marks
  // once the customer has clicked them (until then the preselection stays,
  // even where the page frames other cells).
  void TakeAnswer(const ui::DialogValues& values);

  // Shows the dialog until OK passes its checks (true) or the customer
  // cancels or closes it (false). A failed check shows its message box and
  // the dialog again as the customer left it.
  bool DoModal();

 private:
  bool cells_clicked_ = false;  // the page's marks have replaced the preselection
};

}  // namespace quil
