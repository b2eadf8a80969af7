#include "workflows/pfx_password_change.h"

#include "base/failure_log.h"
#include "base/files.h"
#include "base/result_codes.h"
#include "base/settings.h"
#include "cert/pfx_dialogs.h"
#include "cert/pfx_password.h"
#include "cert/signing.h"
#include "platform/text_codec.h"
#include "proxy/actions.h"
#include "proxy/common_name.h"
#include "ui/ui.h"

namespace quil::workflows {
namespace {

// What the holder proves by signing: the fixed text the proxy checks.
constexpr char kProofText[] = "qmrd5170";

constexpr char kReadFailedText[] = "讀取憑證失敗";
constexpr char kProofRefusedText[] = "驗章失敗";
constexpr char kWriteFailedText[] = "憑證檔寫入失敗, 請重新選擇憑證檔";

void Show(const std::string& text) { ui::CurrentUi().MessageBox(text, ui::Buttons::kOk); }

// The message of a change that did not complete. A file the customer can
// correct is named in the customer's terms; the store's own words, which
// on Linux are the library's English, stay in the result.
void ShowFailure(const PfxRewriteResult& change) {
  LogFailure("workflows", "changePfxPwd", change.code, change.reason);
  if (change.code != kImportPfxRefused) return Show(kWriteFailedText);
  std::string reason = PfxRefusalText(change.refusal);
  Show(MakeSystemErrorTextWithPrefix(kReadFailedText, reason.empty() ? change.reason : reason));
}

}  // namespace

int ChangePfxPasswordWithDialog() {
  PfxPasswordChange preset{GetPathSetting("env.userPfxFilePath"), "", ""};
  const PfxPasswordRules rules = PfxPasswordRulesFromSettings();
  for (;;) {
    auto input = RunChangePfxPasswordDialog(preset, rules);
    if (!input) return kDialogCancelled;
    preset = {input->path, "", ""};
    auto bytes = ReadNonEmptyFile(input->path);
    if (!bytes) continue;
    PfxRewriteResult change = RewritePfxWithPassword(input->path, *bytes, platform::ToNarrow(input->currentPassword),
                                                      platform::ToNarrow(input->newPassword));
    if (change.code == 0) return kOk;
    ShowFailure(change);
  }
}

int ChangePfxPasswordVerified(const std::string& idno, const std::string& path, const std::string& current_password,
                              const std::string& new_password) {
  auto bytes = ReadNonEmptyFile(path);
  if (!bytes) return kPfxFileLoadFailed;
  const std::string cn = CommonNameFromIdno(idno);
  FieldMap latest = cn.empty() ? FieldMap() : proxy::qryLastActiveCert(cn);
  if (latest.empty()) return kNoCurrentCertInfo;

  SignResult proof = signWithCurrentCertificate(kProofText, path, current_password, FieldOf(latest, "issuer"),
                                                FieldOf(latest, "serial"), /*interactive=*/false);
  if (proof.code != 0) return proof.code;
  int verified = proxy::changePfxPwVerifyP7(proof.signature);
  if (verified != 0) {
    Show(MakeSystemErrorTextWithPrefix(kProofRefusedText, MakeErrorText(verified)));
    return verified;
  }

  PfxRewriteResult change = RewritePfxWithPassword(path, *bytes, current_password, new_password);
  if (change.code == 0) return kOk;
  ShowFailure(change);
  // The proof may have come from the store while the file refuses the
  // password typed: that is the customer's to correct.
  return change.code == kImportPfxRefused ? kPfxFileWrongPassword : change.code;
}

}  // namespace quil::workflows
