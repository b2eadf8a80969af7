#include "platform/files.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <cctype>
#include <cerrno>

#include "platform/random.h"
#include "platform/windows/wide_text.h"

namespace quil::platform {
namespace {

int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    default:
      return EIO;
  }
}

PathKind KindOf(DWORD attrs) {
  if (attrs & FILE_ATTRIBUTE_DIRECTORY) return PathKind::kFolder;
  if (attrs & FILE_ATTRIBUTE_DEVICE) return PathKind::kOther;
  return PathKind::kFile;
}

}  // namespace

PathInfo GetPathInfo(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (path.empty() || !GetFileAttributesExW(win::NativePath(path).c_str(), GetFileExInfoStandard, &data)) return {};
  PathInfo info;
  info.kind = KindOf(data.dwFileAttributes);
  info.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return info;
}

std::optional<std::vector<FolderEntry>> ListFolder(const std::string& path) {
  std::wstring pattern = win::NativePath(path);
  if (!pattern.empty() && pattern.back() != L'\\') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return std::nullopt;
  std::vector<FolderEntry> out;
  do {
    std::string name = win::Utf8(data.cFileName);
    if (name == "." || name == "..") continue;
    FolderEntry entry{name};
    entry.kind = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? PathKind::kOther : KindOf(data.dwFileAttributes);
    entry.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    out.push_back(std::move(entry));
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return out;
}

bool MakeFolder(const std::string& path) { return CreateDirectoryW(win::NativePath(path).c_str(), nullptr) != 0; }

int RemoveFile(const std::string& path) {
  std::wstring native = win::NativePath(path);
  DWORD attrs = GetFileAttributesW(native.c_str());
  if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY)) return EISDIR;
  return DeleteFileW(native.c_str()) ? 0 : ErrnoOf(GetLastError());
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
  return _wfopen(win::NativePath(path).c_str(), win::Utf16(mode).c_str());
}

std::FILE* OpenRegularFile(const std::string& path) {
  // Devices (CON, NUL, COM1, ...) and pipes open like files but are none.
  if (GetPathInfo(path).kind != PathKind::kFile) {
    errno = GetPathInfo(path).kind == PathKind::kMissing ? ENOENT : EISDIR;
    return nullptr;
  }
  std::FILE* f = OpenFile(path, "rb");
  if (f && GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)))) != FILE_TYPE_DISK) {
    std::fclose(f);
    errno = EISDIR;
    return nullptr;
  }
  return f;
}

int CreateUnnamedFile(const std::string&, unsigned) {
  errno = ENOSYS;
  return -1;
}

int NameUnnamedFile(int, const std::string&) { return ENOSYS; }

int CreateUniqueFile(std::string* path_template, unsigned /*mode*/) {
  const std::string& t = *path_template;
  if (t.size() < 6 || t.compare(t.size() - 6, 6, "XXXXXX") != 0) {
    errno = EINVAL;
    return -1;
  }
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned char r[6];
    if (!SecureRandomBytes(r, sizeof r)) {
      errno = EIO;
      return -1;
    }
    std::string name = t.substr(0, t.size() - 6);
    for (unsigned char c : r) name.push_back(kChars[c % 36]);
    int fd = -1;
    errno_t err = _wsopen_s(&fd, win::NativePath(name).c_str(),
                            _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _SH_DENYNO,
                            _S_IREAD | _S_IWRITE);
    if (err == 0) {
      *path_template = name;
      return fd;
    }
    if (err != EEXIST) {
      errno = err;
      return -1;
    }
  }
  errno = EEXIST;
  return -1;
}

int SyncFile(int fd) { return _commit(fd) == 0 ? 0 : errno; }

int ReplaceFileByRename(const std::string& from, const std::string& to) {
  if (MoveFileExW(win::NativePath(from).c_str(), win::NativePath(to).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return 0;
  return ErrnoOf(GetLastError());
}

bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }

char PreferredSeparator() { return '\\'; }

// UTF-8 paths only: no byte of a multi-byte character is ASCII.
std::string WithPreferredSeparators(std::string path) {
  for (auto& c : path)
    if (c == '/') c = '\\';
  return path;
}

std::string::size_type RootLength(const std::string& path) {
  if (path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
      IsPathSeparator(path[2]))
    return 3;
  if (path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1])) {
    // "//server/share/": the root ends after the share's separator.
    size_t server = path.find_first_of("/\\", 2);
    if (server == std::string::npos) return path.size();
    size_t share = path.find_first_of("/\\", server + 1);
    return share == std::string::npos ? path.size() : share + 1;
  }
  return 0;
}

bool IsAbsolutePath(const std::string& path) { return RootLength(path) > 0; }

}  // namespace quil::platform
