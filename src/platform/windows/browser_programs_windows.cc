#include "platform/browser_programs.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "platform/environment.h"
#include "platform/windows/wide_text.h"

namespace quil::platform {
namespace {

constexpr DWORD kValueChars = 1024;

// The default value of a key, "" when the key or the text value is missing.
std::wstring DefaultValue(HKEY root, const wchar_t* key) {
  std::vector<wchar_t> buf(kValueChars + 1, L'\0');
  DWORD size = kValueChars * sizeof(wchar_t);
  if (RegGetValueW(root, key, nullptr, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, buf.data(),
                   &size) != ERROR_SUCCESS)
    return {};
  return buf.data();
}

// A registry command with its double quotes removed, taken as a path.
std::string CommandPath(const wchar_t* key) {
  std::wstring value = DefaultValue(HKEY_LOCAL_MACHINE, key);
  std::wstring path;
  for (wchar_t c : value)
    if (c != L'"') path += c;
  return path.empty() ? std::string() : win::PortablePath(path);
}

bool FileExists(const std::string& path) {
  return !path.empty() && GetFileAttributesW(win::NativePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The first non-empty registry command, else the first file that exists.
std::string FirstFound(std::initializer_list<const wchar_t*> keys, std::initializer_list<std::string> files) {
  for (const wchar_t* key : keys) {
    std::string path = CommandPath(key);
    if (!path.empty()) return path;
  }
  for (const auto& file : files)
    if (FileExists(file)) return file;
  return {};
}

// A folder variable in the program's "/" spelling; "" when unset.
std::string FolderVariable(const char* name) { return win::PortablePath(win::Utf16(GetEnv(name))); }

bool Is32BitOn64BitWindows() {
  BOOL wow = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow) && wow;
}

}  // namespace

BrowserPrograms FindBrowserPrograms() {
  const std::string programs32 = FolderVariable(Is32BitOn64BitWindows() ? "ProgramFiles(x86)" : "ProgramFiles");
  const std::string local = FolderVariable("LOCALAPPDATA");
  const std::string windir = FolderVariable("WINDIR");
  BrowserPrograms found;
  found.edge.path =
      FirstFound({L"SOFTWARE\\WOW6432Node\\Clients\\StartMenuInternet\\Microsoft Edge\\shell\\open\\command",
                  L"SOFTWARE\\Clients\\StartMenuInternet\\Microsoft Edge\\shell\\open\\command"},
                 {windir + "/SystemApps/Microsoft.MicrosoftEdge_8wekyb3d8bbwe/MicrosoftEdge.EXE"});
  found.chrome.path = FirstFound(
      {L"SOFTWARE\\Wow6432Node\\Clients\\StartMenuInternet\\Google Chrome\\shell\\open\\command",
       L"SOFTWARE\\Clients\\StartMenuInternet\\Google Chrome\\shell\\open\\command"},
      {programs32 + "/Google/Chrome/Application/chrome.exe", local + "/Google/Chrome/Application/chrome.exe"});
  found.chrome64.path = FirstFound({}, {local + "/Google/Chrome SxS/Application/chrome.exe"});
  found.firefox.path =
      FirstFound({L"SOFTWARE\\Wow6432Node\\Clients\\StartMenuInternet\\Firefox-308046B0AF4A39CB\\shell\\open\\command",
                  L"SOFTWARE\\Wow6432Node\\Clients\\StartMenuInternet\\Firefox-E7CF176E110C211B\\shell\\open\\command",
                  L"SOFTWARE\\Wow6432Node\\Clients\\StartMenuInternet\\FIREFOX.EXE\\shell\\open\\command",
                  L"SOFTWARE\\Clients\\StartMenuInternet\\Firefox-308046B0AF4A39CB\\shell\\open\\command",
                  L"SOFTWARE\\Clients\\StartMenuInternet\\Firefox-E7CF176E110C211B\\shell\\open\\command",
                  L"SOFTWARE\\Clients\\StartMenuInternet\\FIREFOX.EXE\\shell\\open\\command"},
                 {programs32 + "/Mozilla Firefox/firefox.exe", local + "/Mozilla Firefox/firefox.exe"});
  const std::wstring chosen = DefaultValue(HKEY_CURRENT_USER, L"Software\\Clients\\StartMenuInternet");
  if (chosen == L"Google Chrome") found.default_browser = DefaultBrowser::kChrome;
  else if (chosen == L"Mozilla Firefox") found.default_browser = DefaultBrowser::kFirefox;
  else if (chosen == L"Internet Explorer") found.default_browser = DefaultBrowser::kInternetExplorer;
  return found;
}

std::string ExecutableVersion(const std::string& path) {
  const std::wstring file = win::NativePath(path);
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (size == 0) return {};
  std::vector<unsigned char> info(size);
  if (!GetFileVersionInfoW(file.c_str(), 0, size, info.data())) return {};
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed) return {};
  char text[64];
  std::snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
  return text;
}

std::string ExecutableVersion(const BrowserProgram& program) { return ExecutableVersion(program.path); }

// Version resources answer at once, and there are no fixed paths to move.
void SetVersionTimeoutForTesting(int) {}
void SetInstallRootForTesting(const std::string&) {}

}  // namespace quil::platform
