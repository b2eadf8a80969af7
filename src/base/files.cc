#include "base/files.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "base/regex_text.h"
#include "base/result_codes.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/process.h"
#include "ui/ui.h"

namespace quil {
namespace {

constexpr int kWinFileNotFound = 2;
constexpr int kWinPathNotFound = 3;
constexpr int kWinAccessDenied = 5;

std::string FolderOf(const std::string& path) {
  size_t slash = path.size();
  while (slash > 0 && !platform::IsPathSeparator(path[slash - 1])) --slash;
  if (slash == 0) return ".";
  return slash == 1 ? path.substr(0, 1) : path.substr(0, slash - 1);
}

bool WriteAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

constexpr char kScratchPrefix[] = ".quil-tmp-";

bool HasNul(const std::string& path) { return path.find('\0') != std::string::npos; }

// Removes what writers of the folder left behind when their process ended
// before they were done: scratch names carry the writer's process id.
void RemoveAbandoned(const std::string& folder) {
  auto entries = platform::ListFolder(folder);
  if (!entries) return;
  const size_t prefix = sizeof kScratchPrefix - 1;
  for (const auto& e : *entries) {
    if (e.name.compare(0, prefix, kScratchPrefix) != 0 || e.kind != platform::PathKind::kFile) continue;
    char* end = nullptr;
    long pid = std::strtol(e.name.c_str() + prefix, &end, 10);
    if (end == e.name.c_str() + prefix || *end != '-' || pid == platform::CurrentProcessId()) continue;
    if (!platform::ProcessIsRunning(pid)) platform::RemoveFile(folder + "/" + e.name);
  }
}

std::string ScratchTemplate(const std::string& folder) {
  return folder + "/" + kScratchPrefix + std::to_string(platform::CurrentProcessId()) + "-XXXXXX";
}


int Fail(int code) {
  ui::CurrentUi().MessageBox(
      code == kWriteFileOpenFailed ? "開啟資料夾失敗, 請重新指定檔案儲存資料夾" : "存檔失敗, 請重新指定檔案儲存位置",
      ui::Buttons::kOk);
  return code;
}

// The missing folders of a file's path; a failure is left to the file's
// creation to report.
void MakeFoldersOnPath(const std::string& path) {
  const std::string folder = platform::FolderOfPath(path);
  if (!folder.empty()) (void)platform::MakeFolders(folder);
}

}  // namespace

// New content on its way to a target. Where the system allows, the file has
// no name until it is complete, so a process killed while writing leaves
// nothing; otherwise it is named after this process, and the next writer in
// the folder removes it once this process is gone.
struct Scratch {
  int fd = -1;
  std::string name;  // empty while the file has none

  // 0, or the errno of the failed step.
  int Open(const std::string& folder, unsigned mode) {
    RemoveAbandoned(folder);
    fd = platform::CreateUnnamedFile(folder, mode);
    if (fd >= 0) return 0;
    if (errno == ENOENT || errno == ENOTDIR || errno == EACCES || errno == EROFS) return errno;
    name = ScratchTemplate(folder);
    fd = platform::CreateUniqueFile(&name, mode);
    if (fd >= 0) return 0;
    int err = errno;
    name.clear();
    return err;
  }

  // Syncs the content and gives it the target's name: 0, or the errno of the
  // failed step (the scratch file is then gone).
  int CommitTo(const std::string& target) {
    int err = platform::SyncFile(fd);
    if (err == 0 && name.empty()) {
      // A name of its own first: renaming is what replaces in one step.
      std::string named = ScratchTemplate(FolderOf(target));
      int placeholder = platform::CreateUniqueFile(&named, 0600);
      if (placeholder < 0) {
        err = errno;
      } else {
        close(placeholder);
        platform::RemoveFile(named);
        err = platform::NameUnnamedFile(fd, named);
        if (err == 0) name = named;
      }
    }
    if (close(fd) != 0 && err == 0) err = errno;
    fd = -1;
    if (err == 0) err = platform::ReplaceFileByRename(name, target);
    if (err == 0) name.clear();
    Discard();
    return err;
  }

  void Discard() {
    if (fd >= 0) close(fd);
    fd = -1;
    if (!name.empty()) platform::RemoveFile(name);
    name.clear();
  }
};

namespace {

// Writes the new content through `fill` and gives it the name `path`.
template <typename Fill>
int ReplaceWith(const std::string& path, unsigned mode, Fill fill) {
  Scratch scratch;
  if (int err = scratch.Open(FolderOf(path), mode)) return err;
  errno = 0;
  if (!fill(scratch.fd)) {
    int err = errno ? errno : EIO;
    scratch.Discard();
    return err;
  }
  return scratch.CommitTo(path);
}

}  // namespace

bool IsReadableRegularFile(const std::string& path) {
  if (HasNul(path)) return false;
  std::FILE* f = platform::OpenRegularFile(path);
  if (!f) return false;
  std::fclose(f);
  return platform::GetPathInfo(path).size > 0;
}

int WriteFileAtomically(const std::string& path, std::string_view bytes, unsigned mode) {
  return ReplaceWith(path, mode, [&](int fd) { return WriteAll(fd, bytes.data(), bytes.size()); });
}

int WriteFileMakingFolders(const std::string& path, std::string_view bytes, unsigned mode) {
  MakeFoldersOnPath(path);
  return WriteFileAtomically(path, bytes, mode);
}

PendingFile::PendingFile(std::string target, std::unique_ptr<Scratch> scratch)
    : target_(std::move(target)), scratch_(std::move(scratch)) {}

std::unique_ptr<PendingFile> PendingFile::Create(const std::string& target, unsigned mode) {
  auto scratch = std::make_unique<Scratch>();
  if (int err = scratch->Open(FolderOf(target), mode)) {
    errno = err;
    return nullptr;
  }
  return std::unique_ptr<PendingFile>(new PendingFile(target, std::move(scratch)));
}

PendingFile::~PendingFile() { scratch_->Discard(); }

bool PendingFile::Write(std::string_view bytes) {
  return scratch_->fd >= 0 && WriteAll(scratch_->fd, bytes.data(), bytes.size());
}

int PendingFile::Commit() {
  if (scratch_->fd < 0) return EBADF;
  return scratch_->CommitTo(target_);
}

int CopyFileReplacing(const std::string& src, const std::string& dst) {
  if (HasNul(src)) return kWinFileNotFound;
  if (HasNul(dst)) return kWinPathNotFound;
  platform::PathInfo info = platform::GetPathInfo(src);
  std::FILE* in = platform::OpenRegularFile(src);
  if (!in) {
    if (errno == ENOENT) return kWinFileNotFound;
    if (errno == ENOTDIR) return kWinPathNotFound;
    if (errno == EACCES || errno == EPERM || errno == EISDIR) return kWinAccessDenied;
    return errno;
  }
  unsigned mode = info.mode & 0777;
  int err = ReplaceWith(dst, mode ? mode : 0600, [&](int out) {
    char buf[65536];
    for (;;) {
      size_t n = std::fread(buf, 1, sizeof buf, in);
      if (n > 0 && !WriteAll(out, buf, n)) return false;
      if (n < sizeof buf) return std::ferror(in) == 0;
    }
  });
  std::fclose(in);
  if (err == ENOENT || err == ENOTDIR) return kWinPathNotFound;
  if (err == EACCES || err == EPERM || err == EROFS) return kWinAccessDenied;
  return err;
}


std::optional<std::string> readWholeFile(const std::string& path) {
  FILE* f = platform::OpenFile(path, "rb");
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
  if (platform::GetPathInfo(path).kind == platform::PathKind::kFolder) return Fail(kWriteFileOpenFailed);
  auto file = PendingFile::Create(path);
  if (!file) return Fail(kWriteFileOpenFailed);
  if (bytes.empty() || !file->Write(bytes) || file->Commit() != 0) return Fail(kWriteFileWriteFailed);
  return kOk;
}

void deleteMatchingFiles(const std::string& folder, const std::string& pattern) {
  std::optional<Regex> match;
  if (!pattern.empty()) {
    match = Regex::Compile(pattern);
    if (!match) return;  // a pattern that does not compile matches nothing
  }
  auto entries = platform::ListFolder(folder);
  if (!entries) return;
  for (const auto& e : *entries) {
    if (RegexSearch(e.name, "^\\.+$")) continue;
    if (match && !match->Search(e.name)) continue;
    if (e.kind == platform::PathKind::kFolder) continue;
    platform::RemoveFile(folder + "/" + e.name);
  }
}

std::optional<std::string> ReadCustomerFile(const std::string& path) {
  if (path.empty() || HasNul(path)) return std::nullopt;
  std::FILE* f = platform::OpenRegularFile(path);
  if (!f) return std::nullopt;
  std::string out;
  char buf[65536];
  size_t n;
  // The size is read as the file goes: one that grows past the limit while
  // it is read is refused as well.
  while (out.size() <= kCustomerFileLimit && (n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  bool failed = std::ferror(f) != 0 || out.size() > kCustomerFileLimit;
  std::fclose(f);
  if (failed) return std::nullopt;
  return out;
}

std::optional<std::string> ReadNonEmptyFile(const std::string& path) {
  auto bytes = ReadCustomerFile(path);
  if (!bytes || bytes->empty()) return std::nullopt;
  return bytes;
}

std::vector<std::string> FilesEndingWith(const std::string& folder, const std::string& suffix) {
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
