#pragma once
// The whole-file and atomic-file helpers, on the platform's primitives
// (platform/files.h). Paths are UTF-8 with "/" separators. A file is never
// truncated in place: new content goes to a temporary file in the same
// folder, which is synced and then renamed over the target, so a reader
// sees the old file or the complete new one. A process killed at any moment
// leaves the old file or the new one, and no temporary once the next write
// into that folder has run.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quil {

// The file's bytes; nothing when it cannot be opened or read.
std::optional<std::string> readWholeFile(const std::string& path);

// Creates the missing folders on the path, then replaces the file with
// `bytes`. Shows its own message box and returns 53301 when the file cannot
// be created in its folder, 53303 when the bytes cannot be written (an empty
// buffer included); 0 on success.
int writeWholeFile(const std::string& path, const std::string& bytes);

// Deletes the files of `folder` whose names match the ECMAScript regular
// expression `pattern` (every file when it is empty); folders and the
// entries "." and ".." are never removed; failures are ignored.
void deleteMatchingFiles(const std::string& folder, const std::string& pattern);

// No certificate or key file comes near this size; a larger "file" is not
// one the customer means.
inline constexpr std::uint64_t kCustomerFileLimit = 4u << 20;

// A file the customer named (a PKCS#12 file, a key file), read without ever
// waiting: nothing when it is no regular file (a FIFO, a device, a folder,
// a file of /proc or /sys), is larger than kCustomerFileLimit, or cannot be
// read.
std::optional<std::string> ReadCustomerFile(const std::string& path);

// ReadCustomerFile for the certificate engine, where an empty file is as
// good as none: nothing for an empty path or an empty file too.
std::optional<std::string> ReadNonEmptyFile(const std::string& path);

// The names of the regular files of `folder` ending in `suffix`, in the
// order the file system lists them; none when the folder cannot be read.
std::vector<std::string> FilesEndingWith(const std::string& folder, const std::string& suffix);

// Replaces (or creates) `path` with `bytes`, created with `mode`. The folder
// must exist. Returns 0, or the errno of the step that failed; on failure
// the target is unchanged and no temporary file is left.
int WriteFileAtomically(const std::string& path, std::string_view bytes, unsigned mode = 0600);

// WriteFileAtomically after creating the folders on the path that are
// missing (at each separator: "/", on Windows also "\\"). Returns 0 or an
// errno as WriteFileAtomically does.
int WriteFileMakingFolders(const std::string& path, std::string_view bytes, unsigned mode = 0600);

// Copies `src` over `dst`, replacing an existing destination atomically.
// Returns 0, or the Windows error number the page tells apart: 2 the source
// does not exist, 3 the destination folder does not exist, 5 access denied
// (also for a source that is not a regular file: a folder, a pipe, a
// device); other failures give their errno. Never waits for a writer.
int CopyFileReplacing(const std::string& src, const std::string& dst);

// True when `path` names a regular file that can be opened for reading and
// holds at least one byte. Pipes, devices and folders are not files here;
// nothing waits for a writer.
bool IsReadableRegularFile(const std::string& path);

struct Scratch;

// A file being written beside its target (same folder; without a name while
// the system allows, else a hidden temporary name that a later writer in
// the folder removes if this process dies). Commit() syncs it and renames
// it over the target; destroying it uncommitted removes it, so the target
// is either the old file or the complete new one.
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
  PendingFile(std::string target, std::unique_ptr<Scratch> scratch);
  std::string target_;
  std::unique_ptr<Scratch> scratch_;
};

}  // namespace quil
