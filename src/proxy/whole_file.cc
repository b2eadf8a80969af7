#include "proxy/whole_file.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <regex>

#include "base/result_codes.h"
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
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
    mkdir(path.substr(0, slash).c_str(), 0700);
}

}  // namespace

std::optional<std::string> readWholeFile(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
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
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return Fail(kWriteFileOpenFailed);
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
  DIR* dir = opendir(folder.c_str());
  if (!dir) return;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (std::regex_search(name, kDots)) continue;
    if (match && !std::regex_search(name, *match)) continue;
    std::string full = folder + "/" + name;
    struct stat st;
    if (lstat(full.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
    unlink(full.c_str());
  }
  closedir(dir);
}

}  // namespace quil::proxy
