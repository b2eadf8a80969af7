#include "cert/pfx_with_dialogs.h"

#include "base/files.h"
#include "base/result_codes.h"
#include "base/settings.h"
#include "cert/password_rules.h"
#include "cert/pfx_dialogs.h"
#include "platform/text_codec.h"
#include "ui/ui.h"

namespace quil {
namespace {

// Asks for a path and password until `save(path, narrow password)` succeeds
// (it shows its own errors) or the user cancels (53401). The dialog starts
// at `path`, or the remembered one, and keeps what was typed; a success is
// remembered.
template <typename Save>
PfxChoiceResult SaveThroughDialog(const std::string& path, Save save) {
  PfxDialogInput preset{path.empty() ? GetPathSetting("env.userPfxFilePath") : path, ""};
  PfxPasswordRules rules = PfxPasswordRulesFromSettings();
  for (;;) {
    auto input = RunSavePfxDialog(preset, rules);
    if (!input) return {kCancelled, preset.path, ""};
    preset = *input;
    if (input->path.empty()) {
      ui::CurrentUi().MessageBox("憑證儲存路徑未指定", ui::Buttons::kOk);
      continue;
    }
    std::string password = platform::ToNarrow(input->password);
    if (!save(input->path, password)) continue;
    RememberPfxFile(input->path, password);
    return {kOk, input->path, password};
  }
}

}  // namespace

PfxChoiceResult savePfxWithDialog(const std::string& cert_text, const std::string& path) {
  return SaveThroughDialog(path, [&](const std::string& chosen, const std::string& password) {
    return makePfxFromKeyFolder(cert_text, chosen, password) == kOk;
  });
}

PfxLoadResult loadPfxInteractive(const std::string& path, const std::string& password,
                                 const std::string& expected_issuer, const std::string& expected_serial,
                                 bool ask_first) {
  // The dialog starts with the path only and then keeps what was typed.
  PfxDialogInput dialog{path, ""};
  std::string current_path = path;
  std::string narrow_password = password;
  for (int attempt = 1;; ++attempt) {
    if (ask_first || attempt > 1 || current_path.empty()) {
      auto input = RunLoadPfxDialog(dialog);
      if (!input) {
        PfxLoadResult cancelled;
        cancelled.code = kCancelled;
        cancelled.path = dialog.path;
        return cancelled;
      }
      dialog = *input;
      current_path = input->path;
      narrow_password = platform::ToNarrow(input->password);
    }
    PfxLoadResult loaded = loadPfxSilent(current_path, narrow_password, expected_issuer, expected_serial);
    if (loaded.code == kOk) return loaded;
  }
}

PfxChoiceResult exportStoreToPfx(platform::CertStore& store, const std::string& path) {
  return SaveThroughDialog(path, [&](const std::string& chosen, const std::string& password) {
    auto bytes = platform::ExportPfx(store, password);
    if (!bytes) {
      ui::CurrentUi().MessageBox("存檔失敗, 請重新指定檔案儲存位置", ui::Buttons::kOk);
      return false;
    }
    return writeWholeFile(chosen, *bytes) == kOk;
  });
}

}  // namespace quil
