#include "cert/cert_files.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "platform/environment.h"
#include "proxy/file_io.h"
#include "ui/ui.h"

namespace quil {

std::optional<std::string> ReadFileBytes(const std::string& path) {
  if (path.empty()) return std::nullopt;
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream ss;
  ss << in.rdbuf();
  std::string bytes = ss.str();
  if (bytes.empty()) return std::nullopt;
  return bytes;
}

int WriteFileShowingErrors(const std::string& path, const std::string& bytes) {
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  int err = 0;
  if (!platform::MakeFolders(folder)) err = errno ? errno : ENOENT;
  if (err == 0 && bytes.empty()) err = EIO;
  if (err == 0) err = WriteFileAtomically(path, bytes, 0600);
  if (err == 0) return 0;
  bool cannot_open = err == ENOENT || err == ENOTDIR || err == EACCES || err == EPERM || err == EROFS ||
                     err == EISDIR || err == ENAMETOOLONG;
  if (cannot_open) {
    ui::CurrentUi().MessageBox("開啟資料夾失敗, 請重新指定檔案儲存資料夾", ui::Buttons::kOk);
    return 53301;
  }
  ui::CurrentUi().MessageBox("存檔失敗, 請重新指定檔案儲存位置", ui::Buttons::kOk);
  return 53303;
}

std::vector<std::string> ListFilesEndingWith(const std::string& folder, const std::string& suffix) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return names;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name.size() < suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
      continue;
    struct stat st {};
    if (stat((folder + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.push_back(name);
  }
  closedir(dir);
  return names;
}

}  // namespace quil
