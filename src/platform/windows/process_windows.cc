#include "platform/process.h"

#include <shellapi.h>
#include <windows.h>

#include "platform/windows/wide_text.h"

namespace quil::platform {
namespace {

// One argument quoted so that CommandLineToArgvW gives it back unchanged.
std::wstring QuoteArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') out.append(backslashes * 2 + 1, L'\\');
    else out.append(backslashes, L'\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, L'\\');
  out.push_back(L'"');
  return out;
}

bool IsFile(const std::wstring& path) {
  DWORD attrs = GetFileAttributesW(path.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY);
}

bool HasSeparator(const std::string& name) { return name.find_first_of("/\\:") != std::string::npos; }

}  // namespace

bool StartProcess(const std::string& program, const std::vector<std::string>& args) {
  std::wstring exe = win::NativePath(program);
  std::wstring command_line = QuoteArgument(exe);
  for (const auto& a : args) command_line += L" " + QuoteArgument(win::Utf16(a));
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  // A bare name is searched on PATH by CreateProcessW itself.
  BOOL ok = CreateProcessW(HasSeparator(program) ? exe.c_str() : nullptr, command_line.data(), nullptr, nullptr,
                           FALSE, CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &si, &pi);
  if (!ok) return false;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return true;
}

bool HasProgram(const std::string& name) {
  if (name.empty()) return false;
  if (HasSeparator(name)) return IsFile(win::NativePath(name));
  std::wstring wname = win::Utf16(name);
  wchar_t found[MAX_PATH];
  return SearchPathW(nullptr, wname.c_str(), L".exe", MAX_PATH, found, nullptr) > 0;
}

bool ShellOpen(const std::string& target) {
  bool is_url = target.find("://") != std::string::npos;
  std::wstring what = is_url ? win::Utf16(target) : win::NativePath(target);
  auto rc = reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", what.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  return rc > 32;
}

bool ShowInFileManager(const std::string& path) {
  std::wstring params = L"/select," + QuoteArgument(win::NativePath(path));
  auto rc = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, L"open", L"explorer.exe", params.c_str(), nullptr, SW_SHOWNORMAL));
  return rc > 32;
}

}  // namespace quil::platform
