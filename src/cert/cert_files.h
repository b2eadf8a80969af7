#pragma once
// File helpers of the certificate engine. Paths are UTF-8 with "/".
#include <optional>
#include <string>
#include <vector>

namespace quil {

// The whole file (shared readWholeFile), or nothing when it cannot be read
// or is empty.
std::optional<std::string> ReadFileBytes(const std::string& path);

// The shared writeWholeFile: creates the folders on the way, then replaces
// `path` atomically with `bytes` (mode 0600). Returns 0, or 53301 (cannot be
// created) / 53303 (not written, including no bytes), after showing the
// user the matching message box.
int WriteFileShowingErrors(const std::string& path, const std::string& bytes);

// The names of the regular files in `folder` ending in `suffix`, in the
// order the file system lists them. Empty when the folder cannot be read.
std::vector<std::string> ListFilesEndingWith(const std::string& folder, const std::string& suffix);

}  // namespace quil
