// Methods whose whole behaviour lives in the bridge.
#include <cstdio>

#include "app/app_control.h"
#include "app/methods.h"
#include "app/reply_format.h"
#include "base/client_version.h"
#include "base/files.h"
#include "base/result_codes.h"
#include "base/settings.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/random.h"
#include "platform/text_codec.h"
#include "ui/ui.h"

namespace quil::methods {
namespace {

// The target of the file-manager methods: the argument, else the last PFX
// path; trimmed; wide.
std::string FileManagerTarget(const MethodArgs& a) {
  std::string target = !a.empty() && !a[0].empty() ? a[0] : getSetting("env.userPfxFilePath");
  return platform::ToWide(TrimSpace(target));
}

MethodReply Text(std::string text) { return MethodReply{std::move(text), 0}; }

}  // namespace

MethodReply doTest(const MethodArgs&) { return {}; }

MethodReply getClientVersion(const MethodArgs&) {
  return Text(FormatReply(kReplyClientVersion, 0, "", kClientVersion));
}

MethodReply openFileChooser(const MethodArgs&) {
  auto folder = ui::CurrentUi().ChooseFolder("請選擇憑證檔儲存資料夾");
  std::string path = platform::WithPreferredSeparators(folder.value_or(""));
  if (!path.empty() && !platform::IsPathSeparator(path.back())) path.push_back(platform::PreferredSeparator());
  return Text(FormatReply(kReplyPath, 1, "", path.c_str()));
}

MethodReply openFileChooser2(const MethodArgs&) {
  auto file = ui::CurrentUi().ChooseFile(
      "選擇憑證檔案", {{"憑證檔 (*.P12)", "*.P12"}, {"全部文件 (*.*)", "*.*"}});
  return Text(FormatReply(kReplyPath, 1, "", platform::WithPreferredSeparators(file.value_or("")).c_str()));
}

MethodReply copyFile(const MethodArgs& a) {
  int error = CopyFileReplacing(a[0], a[1]);
  if (error == 0) return Text(FormatReply(kReplyPlain, 0, ""));
  return Text(FormatReply(kReplyPlain, -1, std::to_string(error).c_str()));
}

MethodReply openFileManager(const MethodArgs& a) {
  std::string target = FileManagerTarget(a);
  if (!target.empty()) platform::ShowInFileManager(target);
  return {};
}

MethodReply openFileManager2(const MethodArgs& a) {
  std::string target = FileManagerTarget(a);
  if (target.empty()) return {};
  // No desktop search window here: open the folder that holds the target.
  if (platform::GetPathInfo(target).kind != platform::PathKind::kFolder) {
    size_t slash = target.size();
    while (slash > 0 && !platform::IsPathSeparator(target[slash - 1])) --slash;
    if (slash > 0) target = target.substr(0, slash > 1 ? slash - 1 : 1);
  }
  platform::ShellOpen(target);
  return {};
}

MethodReply closeApp(const MethodArgs&) {
  RequestQuit();
  return {};
}

MethodReply openApp(const MethodArgs&) {
  RestartApp();
  return {};
}

MethodReply getRandom(const MethodArgs&) {
  double rnd = 0;
  if (auto v = platform::SecureRandomUint32()) rnd = *v / 4294967295.0;
  return Text(FormatReply(kReplyRandom, 0, "", rnd));
}

MethodReply isFileExist(const MethodArgs& a) {
  std::string path = platform::ToWide(a[0]);
  return Text(FormatReply(kReplyCodeOnly, IsReadableRegularFile(path) ? 0 : kPfxFileLoadFailed));
}

}  // namespace quil::methods
