#include "cert/cert_files.h"

#include <dirent.h>
#include <sys/stat.h>

#include "proxy/whole_file.h"

namespace quil {

std::optional<std::string> ReadFileBytes(const std::string& path) {
  if (path.empty()) return std::nullopt;
  auto bytes = proxy::readWholeFile(path);
  if (!bytes || bytes->empty()) return std::nullopt;
  return bytes;
}

int WriteFileShowingErrors(const std::string& path, const std::string& bytes) {
  return proxy::writeWholeFile(path, bytes);
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
