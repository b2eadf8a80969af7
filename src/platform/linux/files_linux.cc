#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace quil::platform {
namespace {

PathKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return PathKind::kFile;
  if (S_ISDIR(mode)) return PathKind::kFolder;
  return PathKind::kOther;
}

// The kernel's own file systems: their "files" are interfaces that may
// block (/proc/kmsg), never end or change what they say between reads.
bool OnKernelFileSystem(int fd) {
  struct statfs fs {};
  if (fstatfs(fd, &fs) != 0) return true;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case BPF_FS_MAGIC:
      return true;
    default:
      return false;
  }
}

}  // namespace

PathInfo GetPathInfo(const std::string& path) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0) return {};
  return {KindOf(st.st_mode), static_cast<std::uint64_t>(st.st_size), static_cast<unsigned>(st.st_mode & 07777)};
}

std::optional<std::vector<FolderEntry>> ListFolder(const std::string& path) {
  DIR* dir = opendir(path.c_str());
  if (!dir) return std::nullopt;
  std::vector<FolderEntry> out;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    FolderEntry entry{name};
    if (lstat((path + "/" + name).c_str(), &st) == 0) {
      entry.kind = KindOf(st.st_mode);
      entry.size = static_cast<std::uint64_t>(st.st_size);
    }
    out.push_back(std::move(entry));
  }
  closedir(dir);
  return out;
}

bool MakeFolder(const std::string& path) { return mkdir(path.c_str(), 0700) == 0; }

int RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0 ? 0 : errno; }

std::FILE* OpenFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

std::FILE* OpenRegularFile(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return nullptr;
  if (!S_ISREG(st.st_mode)) {
    errno = EISDIR;
    return nullptr;
  }
  // It may have been replaced since: open without waiting and look again.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return nullptr;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || OnKernelFileSystem(fd)) {
    close(fd);
    errno = EISDIR;
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE* f = fdopen(fd, "rb");
  if (!f) close(fd);
  return f;
}

int CreateUnnamedFile(const std::string& folder, unsigned mode) {
  // Naming it later goes through /proc; without it, say so up front.
  if (access("/proc/self/fd", X_OK) != 0) {
    errno = ENOSYS;
    return -1;
  }
  int fd = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  if (fchmod(fd, mode) != 0) {
    int err = errno;
    close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

int NameUnnamedFile(int fd, const std::string& path) {
  std::string self = "/proc/self/fd/" + std::to_string(fd);
  return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

int CreateUniqueFile(std::string* path_template, unsigned mode) {
  std::vector<char> name(path_template->begin(), path_template->end());
  name.push_back('\0');
  int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return -1;
  if (fchmod(fd, mode) != 0) {
    int err = errno;
    close(fd);
    unlink(name.data());
    errno = err;
    return -1;
  }
  *path_template = name.data();
  return fd;
}

int SyncFile(int fd) { return fsync(fd) == 0 ? 0 : errno; }

int ReplaceFileByRename(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

bool IsPathSeparator(char c) { return c == '/'; }

char PreferredSeparator() { return '/'; }

std::string WithPreferredSeparators(std::string path) { return path; }

bool IsAbsolutePath(const std::string& path) { return !path.empty() && path[0] == '/'; }

std::string::size_type RootLength(const std::string& path) { return IsAbsolutePath(path) ? 1 : 0; }

}  // namespace quil::platform
