#include "cert/cert_files.h"

#include "platform/files.h"
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
  auto entries = platform::ListFolder(folder);
  if (!entries) return names;
  for (const auto& e : *entries) {
    const std::string& name = e.name;
    if (name.size() < suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
      continue;
    if (platform::GetPathInfo(folder + "/" + name).kind == platform::PathKind::kFile) names.push_back(name);
  }
  return names;
}

}  // namespace quil
