#include "proxy/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace quil {
namespace {

constexpr int kWinFileNotFound = 2;
constexpr int kWinPathNotFound = 3;
constexpr int kWinAccessDenied = 5;

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
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
  std::string tmpl = FolderOf(path) + "/.quil-tmp-XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return errno;
  int err = 0;
  if (fchmod(fd, mode) != 0 || !fill(fd) || fsync(fd) != 0) err = errno ? errno : EIO;
  if (close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && rename(name.data(), path.c_str()) != 0) err = errno;
  if (err != 0) unlink(name.data());
  return err;
}

}  // namespace

int WriteFileAtomically(const std::string& path, std::string_view bytes, unsigned mode) {
  return ReplaceWith(path, mode, [&](int fd) { return WriteAll(fd, bytes.data(), bytes.size()); });
}

PendingFile::PendingFile(std::string target, std::string temp, int fd)
    : target_(std::move(target)), temp_(std::move(temp)), fd_(fd) {}

std::unique_ptr<PendingFile> PendingFile::Create(const std::string& target, unsigned mode) {
  std::string tmpl = FolderOf(target) + "/.quil-tmp-XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return nullptr;
  if (fchmod(fd, mode) != 0) {
    int err = errno;
    close(fd);
    unlink(name.data());
    errno = err;
    return nullptr;
  }
  return std::unique_ptr<PendingFile>(new PendingFile(target, name.data(), fd));
}

PendingFile::~PendingFile() {
  if (fd_ >= 0) close(fd_);
  if (!temp_.empty()) unlink(temp_.c_str());
}

bool PendingFile::Write(std::string_view bytes) {
  return fd_ >= 0 && WriteAll(fd_, bytes.data(), bytes.size());
}

int PendingFile::Commit() {
  if (fd_ < 0) return EBADF;
  int err = 0;
  if (fsync(fd_) != 0) err = errno;
  if (close(fd_) != 0 && err == 0) err = errno;
  fd_ = -1;
  if (err == 0 && rename(temp_.c_str(), target_.c_str()) != 0) err = errno;
  if (err == 0) temp_.clear();  // renamed: nothing left to remove
  return err;
}

int CopyFileReplacing(const std::string& src, const std::string& dst) {
  int in = open(src.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    if (errno == ENOENT) return kWinFileNotFound;
    if (errno == ENOTDIR) return kWinPathNotFound;
    if (errno == EACCES || errno == EPERM) return kWinAccessDenied;
    return errno;
  }
  struct stat st;
  if (fstat(in, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(in);
    return kWinAccessDenied;
  }
  int err = ReplaceWith(dst, st.st_mode & 0777, [&](int out) {
    char buf[65536];
    for (;;) {
      ssize_t n = read(in, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return false;
      if (n == 0) return true;
      if (!WriteAll(out, buf, static_cast<size_t>(n))) return false;
    }
  });
  close(in);
  if (err == ENOENT || err == ENOTDIR) return kWinPathNotFound;
  if (err == EACCES || err == EPERM || err == EROFS) return kWinAccessDenied;
  return err;
}

}  // namespace quil
