#pragma once
// Files and folders by UTF-8 path with "/" separators (Windows also takes
// "\" and drive letters). The primitives the file helpers, the key folder
// and the page's choosers are built on; each call blocks.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace quil::platform {

enum class PathKind { kMissing, kFile, kFolder, kOther };

struct PathInfo {
  PathKind kind = PathKind::kMissing;
  std::uint64_t size = 0;  // files only
  unsigned mode = 0;       // permission bits where the platform has them
};

// What is at `path` (symbolic links followed).
PathInfo GetPathInfo(const std::string& path);

struct FolderEntry {
  std::string name;
  PathKind kind = PathKind::kOther;  // symbolic links not followed
  std::uint64_t size = 0;
};

// The entries of a folder without "." and "..", in no particular order;
// nothing when it cannot be read.
std::optional<std::vector<FolderEntry>> ListFolder(const std::string& path);

// Creates one folder (private to the user where the platform says so);
// false when it could not be made, also when it exists.
bool MakeFolder(const std::string& path);

// Removes a file (never a folder); 0 or the errno of the failure.
int RemoveFile(const std::string& path);

// fopen with a UTF-8 path.
std::FILE* OpenFile(const std::string& path, const char* mode);

// Opens a regular file for reading ("rb") without ever waiting: nothing
// when it cannot be opened (errno says why), also for a folder, a pipe, a
// device or a file of the kernel's own file systems (/proc, /sys; errno
// EISDIR), which would make a reader wait or never end.
std::FILE* OpenRegularFile(const std::string& path);

// A new file in `folder` that has no name yet, where the platform can make
// one (so a process killed while writing it leaves nothing behind), open
// for writing with the permission bits `mode`; -1 with errno set otherwise
// (ENOSYS where the platform has no such files).
int CreateUnnamedFile(const std::string& folder, unsigned mode);
// Gives a file of CreateUnnamedFile the name `path` (no file may be there):
// 0 or errno.
int NameUnnamedFile(int fd, const std::string& path);

// Creates a new file whose name is `path_template` with its trailing
// "XXXXXX" replaced, with the permission bits `mode` where the platform
// has them (else private to the user as its folder is), open for reading
// and writing; returns the descriptor and the name it got, or -1 with
// errno set. The descriptor is not inherited by started programs.
int CreateUniqueFile(std::string* path_template, unsigned mode = 0600);

// Flushes the file's data to the disk: 0 or errno.
int SyncFile(int fd);

// Gives `from` the name `to`, replacing a file there in one step: 0 or errno.
int ReplaceFileByRename(const std::string& from, const std::string& to);

// "/", and on Windows also "\".
bool IsPathSeparator(char c);

// The separator of the paths this platform's users read and write: "\" on
// Windows, "/" elsewhere. Paths the program makes for the customer (the
// settings' folders and default file, a chosen folder) are written with it.
char PreferredSeparator();

// `path` with every separator written as PreferredSeparator().
std::string WithPreferredSeparators(std::string path);

// True for a path from a root ("/x"; on Windows "C:/x" or "//server/share").
bool IsAbsolutePath(const std::string& path);

// The length of the root of an absolute path ("/" is 1, "C:/" is 3).
std::string::size_type RootLength(const std::string& path);

// The folder of the file at `path`: the path up to its last separator
// (IsPathSeparator), the root kept ("C:\a\b.P12" gives "C:\a", "/b.P12"
// gives "/", on Windows "\b.P12" gives "\"); "" when the path names no
// folder. The one rule by which the folders of a file to be written are
// found (MakeFolders makes them).
std::string FolderOfPath(const std::string& path);

}  // namespace quil::platform
