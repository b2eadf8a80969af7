#pragma once
// Changing the password of the customer's PKCS#12 file, with the
// change-password dialog or, for the page, after the proxy has confirmed
// that the request comes from the holder of the current certificate. The
// file is replaced atomically (cert/pfx_password.h). No progress window;
// the messages of the change are message boxes, not part of the result.
// Blocks on the application thread.
#include <string>

namespace quil::workflows {

// changePfxPwd: the change-password dialog, preset with env.userPfxFilePath
// and the password rules, until a file is re-protected (0) or the customer
// cancels (54801). A file that cannot be read or opened, or not written
// again, shows its message and the dialog again with the path kept and the
// passwords emptied. The settings are not changed.
int ChangePfxPasswordWithDialog();

// changePfxPwd2 for the identity number `idno`, the file at `path` (wide,
// "/"), its current password and the new one (narrow). Codes: 52301 the
// file cannot be read; 54035 the proxy names no current certificate; the
// signature's codes (signWithCurrentCertificate over "qmrd5170", not
// interactive; nothing is sent when it fails); changePfxPwVerifyP7's codes
// after the message "驗章失敗[...]"; 52303 the file does not open with the
// current password ("讀取憑證失敗[...]"); 53301 / 53303 not written
// ("憑證檔寫入失敗, 請重新選擇憑證檔"); 0.
int ChangePfxPasswordVerified(const std::string& idno, const std::string& path, const std::string& current_password,
                              const std::string& new_password);

}  // namespace quil::workflows
