// What the platforms' file primitives share: path rules built on their
// separators and roots.
#include <string>

#include "platform/files.h"

namespace quil::platform {

std::string FolderOfPath(const std::string& path) {
  const std::string::size_type root = RootLength(path);
  std::string::size_type end = path.size();
  while (end > root && !IsPathSeparator(path[end - 1])) --end;  // the file's name
  const std::string::size_type after_separator = end;
  while (end > root && IsPathSeparator(path[end - 1])) --end;  // the separators before it
  // From the root of the current drive ("\a.P12" on Windows): that root.
  if (end == 0 && after_separator > 0) end = 1;
  return path.substr(0, end);
}

}  // namespace quil::platform
