// What the platforms' file primitives share: path rules built on their
// separators and roots.
#include <string>

#include "platform/files.h"

namespace quil::platform {

std::string FolderOfPath(const std::string& path) {
  const std::string::size_type root = RootLength(path);
  std::string::size_type end = path.size();
  while (end > root && !IsPathSeparator(path[end - 1])) --end;  // the file's name
  while (end > root && IsPathSeparator(path[end - 1])) --end;   // the separators before it
  return path.substr(0, end);
}

}  // namespace quil::platform
