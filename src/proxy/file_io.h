#pragma once
// Low-level file primitives shared by the whole-file helpers, the PKCS#12
// writer and copyFile. Paths are wide (UTF-8). A file is never truncated in
// place: new content goes to a temporary file in the same folder, which is
// synced and then renamed over the target.
#include <memory>
#include <string>
#include <string_view>

namespace quil {

// Replaces (or creates) `path` with `bytes`, created with `mode`. The folder
// must exist. Returns 0, or the errno of the step that failed; on failure
// the target is unchanged and no temporary file is left.
int WriteFileAtomically(const std::string& path, std::string_view bytes, unsigned mode = 0600);

// Copies `src` over `dst`, replacing an existing destination atomically.
// Returns 0, or the error number the page tells apart: 2 the source does
// not exist, 3 the destination folder does not exist, 5 access denied;
// other failures give their errno.
int CopyFileReplacing(const std::string& src, const std::string& dst);

// A file being written beside its target (same folder, hidden temporary
// name). Commit() flushes and syncs it and renames it over the target;
// destroying it uncommitted removes it, so the target is either the old
// file or the complete new one.
class PendingFile {
 public:
  // Nothing when the temporary file cannot be created (errno says why).
  static std::unique_ptr<PendingFile> Create(const std::string& target, unsigned mode = 0600);
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Appends; false (and errno) when the bytes could not all be written.
  [[nodiscard]] bool Write(std::string_view bytes);
  // 0, or the errno of the step that failed (the temporary is then removed).
  [[nodiscard]] int Commit();

 private:
  PendingFile(std::string target, std::string temp, int fd);
  std::string target_;
  std::string temp_;
  int fd_;
};

}  // namespace quil
