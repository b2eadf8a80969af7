#include "base/files.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "base/regex_text.h"
#include "base/result_codes.h"
#include "platform/files.h"
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

// Writes a sibling temporary file through `fill` and renames it over `path`.
template <typename Fill>
int ReplaceWith(const std::string& path, unsigned mode, Fill fill) {
  std::string name = FolderOf(path) + "/.quil-tmp-XXXXXX";
  int fd = platform::CreateUniqueFile(&name, mode);
  if (fd < 0) return errno;
  errno = 0;
  int err = fill(fd) ? platform::SyncFile(fd) : (errno ? errno : EIO);
  if (close(fd) != 0 && err == 0) err = errno;
  if (err == 0) err = platform::ReplaceFileByRename(name, path);
  if (err != 0) platform::RemoveFile(name);
  return err;
}


int Fail(int code) {
  ui::CurrentUi().MessageBox(
      code == kWriteFileOpenFailed ? "開啟資料夾失敗, 請重新指定檔案儲存資料夾" : "存檔失敗, 請重新指定檔案儲存位置",
      ui::Buttons::kOk);
  return code;
}

// Each folder named by the path up to a separator, from the left; failures
// (existing folders, the root) are left to the file creation to report.
void MakeFoldersOnPath(const std::string& path) {
  for (size_t i = 1; i < path.size(); ++i)
    if (platform::IsPathSeparator(path[i])) platform::MakeFolder(path.substr(0, i));
}

}  // namespace

int WriteFileAtomically(const std::string& path, std::string_view bytes, unsigned mode) {
  return ReplaceWith(path, mode, [&](int fd) { return WriteAll(fd, bytes.data(), bytes.size()); });
}

PendingFile::PendingFile(std::string target, std::string temp, int fd)
    : target_(std::move(target)), temp_(std::move(temp)), fd_(fd) {}

std::unique_ptr<PendingFile> PendingFile::Create(const std::string& target, unsigned mode) {
  std::string name = FolderOf(target) + "/.quil-tmp-XXXXXX";
  int fd = platform::CreateUniqueFile(&name, mode);
  if (fd < 0) return nullptr;
  return std::unique_ptr<PendingFile>(new PendingFile(target, name, fd));
}

PendingFile::~PendingFile() {
  if (fd_ >= 0) close(fd_);
  if (!temp_.empty()) platform::RemoveFile(temp_);
}

bool PendingFile::Write(std::string_view bytes) {
  return fd_ >= 0 && WriteAll(fd_, bytes.data(), bytes.size());
}

int PendingFile::Commit() {
  if (fd_ < 0) return EBADF;
  int err = platform::SyncFile(fd_);
  if (close(fd_) != 0 && err == 0) err = errno;
  fd_ = -1;
  if (err == 0) err = platform::ReplaceFileByRename(temp_, target_);
  if (err == 0) temp_.clear();  // renamed: nothing left to remove
  return err;
}

int CopyFileReplacing(const std::string& src, const std::string& dst) {
  platform::PathInfo info = platform::GetPathInfo(src);
  if (info.kind == platform::PathKind::kFolder) return kWinAccessDenied;
  std::FILE* in = platform::OpenFile(src, "rb");
  if (!in) {
    if (errno == ENOENT) return kWinFileNotFound;
    if (errno == ENOTDIR) return kWinPathNotFound;
    if (errno == EACCES || errno == EPERM) return kWinAccessDenied;
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

std::optional<std::string> ReadNonEmptyFile(const std::string& path) {
  if (path.empty()) return std::nullopt;
  auto bytes = readWholeFile(path);
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
