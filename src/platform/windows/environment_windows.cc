#include "platform/environment.h"

#include <shlobj.h>
#include <windows.h>

#include "platform/windows/wide_text.h"

namespace quil::platform {
namespace {

std::string TrimSlashes(std::string path) {
  // Keep the root of a drive ("C:/").
  while (path.size() > 3 && path.back() == '/') path.pop_back();
  return path;
}

std::string KnownFolder(REFKNOWNFOLDERID id) {
  PWSTR path = nullptr;
  std::string out;
  if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &path)) && path)
    out = win::PortablePath(path);
  CoTaskMemFree(path);
  return TrimSlashes(out);
}

// The folder an environment variable names, else the known folder.
std::string FolderFrom(const char* var, REFKNOWNFOLDERID id) {
  std::string v = TrimSlashes(win::PortablePath(win::Utf16(GetEnv(var))));
  return v.empty() ? KnownFolder(id) : v;
}

}  // namespace

std::string GetEnv(const char* name) {
  std::wstring wname = win::Utf16(name);
  DWORD n = GetEnvironmentVariableW(wname.c_str(), nullptr, 0);
  if (n == 0) return {};
  std::wstring value(n, L'\0');
  n = GetEnvironmentVariableW(wname.c_str(), value.data(), n);
  value.resize(n);
  return win::Utf8(value);
}

std::string HomeFolder() { return FolderFrom("USERPROFILE", FOLDERID_Profile); }

std::string TempFolder() {
  wchar_t buf[MAX_PATH + 2];
  DWORD n = GetTempPathW(MAX_PATH + 2, buf);
  if (n == 0 || n > MAX_PATH + 1) return HomeFolder();
  return TrimSlashes(win::PortablePath(std::wstring(buf, n)));
}

std::string ProgramPath() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) return win::PortablePath(buf.substr(0, n));
    buf.resize(buf.size() * 2);
  }
}

std::string DesktopFolder() {
  std::string desktop = KnownFolder(FOLDERID_Desktop);
  return desktop.empty() ? HomeFolder() + "/Desktop" : desktop;
}

std::string ConfigFolder() { return FolderFrom("APPDATA", FOLDERID_RoamingAppData) + "/quil"; }
std::string DataFolder() { return FolderFrom("LOCALAPPDATA", FOLDERID_LocalAppData) + "/quil"; }
std::string StateFolder() { return DataFolder() + "/state"; }

bool MakeFolders(const std::string& path) {
  if (path.empty()) return false;
  std::wstring native = win::NativePath(path);
  // Skip the drive ("C:\") or the server and share of a UNC path.
  size_t start = 0;
  if (native.size() >= 2 && native[1] == L':') {
    start = 3;
  } else if (native.rfind(L"\\\\", 0) == 0) {
    size_t server = native.find(L'\\', 2);
    start = server == std::wstring::npos ? native.size() : native.find(L'\\', server + 1);
    if (start == std::wstring::npos) start = native.size();
  }
  for (size_t pos = start; pos <= native.size(); ++pos) {
    if (pos != native.size() && native[pos] != L'\\') continue;
    if (pos == 0) continue;
    std::wstring part = native.substr(0, pos);
    if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      DWORD attrs = GetFileAttributesW(part.c_str());
      if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_DIRECTORY)) return false;
    }
  }
  DWORD attrs = GetFileAttributesW(native.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace quil::platform
