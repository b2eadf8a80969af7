#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
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

bool IsAbsolutePath(const std::string& path) { return !path.empty() && path[0] == '/'; }

std::string::size_type RootLength(const std::string& path) { return IsAbsolutePath(path) ? 1 : 0; }

}  // namespace quil::platform
