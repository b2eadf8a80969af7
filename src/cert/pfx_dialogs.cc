#include "cert/pfx_dialogs.h"

#include "base/text.h"
#include "platform/files.h"
#include "platform/text_codec.h"

namespace quil {
namespace {

const std::string& Value(const ui::DialogValues& v, const std::string& name) {
  static const std::string kEmpty;
  auto it = v.find(name);
  return it == v.end() ? kEmpty : it->second;
}

}  // namespace

ui::DialogRequest LoadPfxDialogRequest(const PfxDialogInput& preset) {
  ui::DialogRequest r;
  r.dialog = kLoadPfxDialog;
  r.caption = "憑證檔儲存資訊";
  r.fields = {{"path", "請指定憑證檔儲存路徑:", "file", preset.path, "開啟", {{"PFX File(*.P12)", "*.P12"}}},
              {"password", "憑證檔密碼:", "password", preset.password}};
  return r;
}

ui::DialogRequest SavePfxDialogRequest(const PfxDialogInput& preset, const PfxPasswordRules& rules) {
  ui::DialogRequest r;
  r.dialog = kSavePfxDialog;
  r.caption = "憑證檔儲存資訊";
  r.fields = {{"path", "請指定憑證儲存資料夾路徑及檔案名稱:", "folder", preset.path, "請選擇憑證檔儲存資料夾"},
              {"prompt", "", "static", platform::ToWide(rules.prompt)},
              {"password", "憑證檔密碼:", "password", preset.password},
              {"confirm", "憑證檔密碼確認:", "password", preset.password}};
  return r;
}

ui::DialogRequest ChangePfxPasswordDialogRequest(const PfxPasswordChange& preset,
                                                 const PfxPasswordRules& rules) {
  ui::DialogRequest r;
  r.dialog = kChangePfxPasswordDialog;
  r.caption = "憑證檔密碼變更";
  r.fields = {{"path", "請指定憑證檔儲存路徑", "file", preset.path, "開啟", {{"PFX File(*.pfx)", "*.pfx"}}},
              {"prompt", "", "static", platform::ToWide(rules.prompt)},
              {"currentPassword", "目前密碼:", "password", preset.currentPassword},
              {"newPassword", "新密碼:", "password", preset.newPassword},
              {"confirm", "新密碼確認:", "password", preset.newPassword}};
  return r;
}

std::optional<PfxDialogInput> RunLoadPfxDialog(const PfxDialogInput& preset) {
  auto values = ui::RunDialog(LoadPfxDialogRequest(preset), [](const ui::DialogValues& v) -> std::string {
    return Value(v, "path").empty() ? "憑證檔儲存路徑未指定" : "";
  });
  if (!values) return std::nullopt;
  return PfxDialogInput{Value(*values, "path"), Value(*values, "password")};
}

std::optional<PfxDialogInput> RunSavePfxDialog(const PfxDialogInput& preset, const PfxPasswordRules& rules) {
  auto values = ui::RunDialog(SavePfxDialogRequest(preset, rules), [&](const ui::DialogValues& v) -> std::string {
    if (TrimSpace(Value(v, "path")).empty()) return "憑證儲存路徑未指定\n";
    if (Value(v, "password") != Value(v, "confirm")) return "密碼與密碼確認欄位值不同\n";
    return checkPfxPassword(Value(v, "password"), rules, false);
  });
  if (!values) return std::nullopt;
  return PfxDialogInput{Value(*values, "path"), Value(*values, "password")};
}

std::optional<PfxPasswordChange> RunChangePfxPasswordDialog(const PfxPasswordChange& preset,
                                                            const PfxPasswordRules& rules) {
  auto values = ui::RunDialog(ChangePfxPasswordDialogRequest(preset, rules),
                              [&](const ui::DialogValues& v) -> std::string {
                                if (Value(v, "path").empty()) return "憑證檔路徑未指定";
                                if (Value(v, "newPassword") != Value(v, "confirm"))
                                  return "新密碼與新密碼確認值不相同";
                                return checkPfxPassword(Value(v, "newPassword"), rules, true);
                              });
  if (!values) return std::nullopt;
  return PfxPasswordChange{Value(*values, "path"), Value(*values, "currentPassword"),
                           Value(*values, "newPassword")};
}

std::string PathWithChosenFolder(const std::string& current_path, const std::string& folder) {
  size_t start = current_path.size();
  while (start > 0 && !platform::IsPathSeparator(current_path[start - 1])) --start;
  std::string name = current_path.substr(start);
  if (!folder.empty() && platform::IsPathSeparator(folder.back())) return folder + name;
  return folder + platform::PreferredSeparator() + name;
}

}  // namespace quil
