#pragma once
// The load, save and change-password dialogs for PKCS#12 files. They only
// collect and check input through ui::RunDialog; their callers open, write
// or re-protect the file. A failed check shows its message box and the
// dialog again with the input kept. Values in and out are wide (UTF-8);
// paths use "/".
//
// What the page receives (DialogRequest; field name, kind, label):
//
// CQUILLoadPfxDlg, caption "憑證檔儲存資訊":
//   path      "file"      "請指定憑證檔儲存路徑:"  read-only, browse button
//             "瀏覽" opens the file chooser with the filter
//             "PFX File(*.P12)" / "*.P12" (letter case ignored)
//   password  "password"  "憑證檔密碼:"
//   Check: path empty -> "憑證檔儲存路徑未指定".
//
// CQUILSavePfxDlg, caption "憑證檔儲存資訊":
//   path      "folder"    "請指定憑證儲存資料夾路徑及檔案名稱:"  read-only;
//             browse "瀏覽" opens the folder chooser titled
//             "請選擇憑證檔儲存資料夾"; the new value is
//             PathWithChosenFolder(old value, chosen folder)
//   prompt    "static"    ""  (the rule text, pfx.pwd.prompt)
//   password  "password"  "憑證檔密碼:"
//   confirm   "password"  "憑證檔密碼確認:"
//   Checks, in order: trimmed path empty -> "憑證儲存路徑未指定\n";
//   password != confirm -> "密碼與密碼確認欄位值不同\n"; checkPfxPassword
//   (class rules only for a non-empty password).
//
// CQUILChgPfxPwdDlg, caption "憑證檔密碼變更":
//   path             "file"      "請指定憑證檔儲存路徑"  read-only, browse
//                    "瀏覽" with the filter "PFX File(*.pfx)" / "*.pfx"
//   prompt           "static"    ""  (the rule text)
//   currentPassword  "password"  "目前密碼:"
//   newPassword      "password"  "新密碼:"
//   confirm          "password"  "新密碼確認:"
//   Checks, in order: path empty -> "憑證檔路徑未指定"; newPassword !=
//   confirm -> "新密碼與新密碼確認值不相同"; checkPfxPassword on the new
//   password (class rules also for an empty one).
//
// All three: OK "確定", Cancel "取消"; closing any other way is a cancel.
#include <optional>
#include <string>

#include "cert/password_rules.h"
#include "ui/ui.h"

namespace quil {

inline constexpr char kLoadPfxDialog[] = "CQUILLoadPfxDlg";
inline constexpr char kSavePfxDialog[] = "CQUILSavePfxDlg";
inline constexpr char kChangePfxPasswordDialog[] = "CQUILChgPfxPwdDlg";

struct PfxDialogInput {
  std::string path;
  std::string password;
};

struct PfxPasswordChange {
  std::string path;
  std::string currentPassword;
  std::string newPassword;
};

// The requests as the page gets them (also used by tests).
ui::DialogRequest LoadPfxDialogRequest(const PfxDialogInput& preset);
ui::DialogRequest SavePfxDialogRequest(const PfxDialogInput& preset, const PfxPasswordRules& rules);
ui::DialogRequest ChangePfxPasswordDialogRequest(const PfxPasswordChange& preset,
                                                 const PfxPasswordRules& rules);

// Runs each dialog until its checks pass; nothing when cancelled. The
// rules' prompt is narrow and shown widened.
std::optional<PfxDialogInput> RunLoadPfxDialog(const PfxDialogInput& preset);
std::optional<PfxDialogInput> RunSavePfxDialog(const PfxDialogInput& preset, const PfxPasswordRules& rules);
std::optional<PfxPasswordChange> RunChangePfxPasswordDialog(const PfxPasswordChange& preset,
                                                            const PfxPasswordRules& rules);

// The save dialog's browse rule: the chosen folder, the platform's
// separator unless it ends in one, and the file name of `current_path` (the
// text after its last separator, or all of it).
std::string PathWithChosenFolder(const std::string& current_path, const std::string& folder);

}  // namespace quil
