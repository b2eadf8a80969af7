#include "proxy/whole_file.h"

#include <cstdio>
#include <regex>

#include "base/result_codes.h"
#include "platform/files.h"
#include "proxy/file_io.h"
#include "ui/ui.h"

namespace quil::proxy {
namespace {

int Fail(int code) {
  ui::CurrentUi().MessageBox(
      code == kWriteFileOpenFailed ? "開啟資料夾失敗, 請重新指定檔案儲存資料夾" : "存檔失敗, 請重新指定檔案儲存位置",
      ui::Buttons::kOk);
  return code;
}

// Each folder named by the path up to a separator, from the left; failures
// (existing folders, the root) are left to the file creation to report.
void MakeFoldersOnPath(const std::string& path) {
  for (size_t i = 1; i < path.size(); ++i)
    if (platform::IsPathSeparator(path[i])) platform::MakeFolder(path.substr(0, i));
}

}  // namespace

std::optional<std::string> readWholeFile(const std::string& path) {
  FILE* f = platform::OpenFile(path, "rb");
  if (!f) return std::nullopt;
  std::string out;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) return std::nullopt;
  return out;
}

int writeWholeFile(const std::string& path, const std::string& bytes) {
  MakeFoldersOnPath(path);
  if (platform::GetPathInfo(path).kind == platform::PathKind::kFolder) return Fail(kWriteFileOpenFailed);
  auto file = PendingFile::Create(path);
  if (!file) return Fail(kWriteFileOpenFailed);
  if (bytes.empty() || !file->Write(bytes) || file->Commit() != 0) return Fail(kWriteFileWriteFailed);
  return 0;
}

void deleteMatchingFiles(const std::string& folder, const std::string& pattern) {
  static const std::regex kDots("^\\.+$", std::regex::ECMAScript | std::regex::multiline);
  std::optional<std::regex> match;
  if (!pattern.empty()) {
    try {
      match.emplace(pattern, std::regex::ECMAScript | std::regex::multiline);
    } catch (const std::regex_error&) {
      return;  // a pattern that does not compile matches nothing
    }
  }
  auto entries = platform::ListFolder(folder);
  if (!entries) return;
  for (const auto& e : *entries) {
    if (std::regex_search(e.name, kDots)) continue;
    if (match && !std::regex_search(e.name, *match)) continue;
    if (e.kind == platform::PathKind::kFolder) continue;
    platform::RemoveFile(folder + "/" + e.name);
  }
}

}  // namespace quil::proxy
