#pragma once
// Whole-file helpers of the certificate and deployment code. Paths are
// UTF-8 with "/" separators.
#include <optional>
#include <string>

namespace quil::proxy {

// The file's bytes; nothing when it cannot be opened or read.
std::optional<std::string> readWholeFile(const std::string& path);

// Creates the missing folders on the path, then replaces the file with
// `bytes` (never truncating a good file first; see file_io.h). Shows its
// own message box and returns 53301 when the file cannot be created in its
// folder, 53303 when the bytes cannot be written (an empty buffer
// included); 0 on success.
int writeWholeFile(const std::string& path, const std::string& bytes);

// Deletes the files of `folder` whose names match the ECMAScript regular
// expression `pattern` (every file when it is empty); folders and the
// entries "." and ".." are never removed; failures are ignored.
void deleteMatchingFiles(const std::string& folder, const std::string& pattern);

}  // namespace quil::proxy
