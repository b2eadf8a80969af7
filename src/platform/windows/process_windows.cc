#include "platform/process.h"

#include <windows.h>
#include <shellapi.h>

#include <cctype>
#include <cstdlib>
#include <vector>

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

// The command line of `program` with `args`.
std::wstring CommandLine(const std::string& program, const std::vector<std::string>& args) {
  std::wstring line = QuoteArgument(win::NativePath(program));
  for (const auto& a : args) line += L" " + QuoteArgument(win::Utf16(a));
  return line;
}

class WindowsChild : public ChildProcess {
 public:
  // `out` and `life` are null for a program a predecessor started.
  WindowsChild(HANDLE process, HANDLE out, HANDLE life) : process_(process), out_(out), life_(life) {}
  ~WindowsChild() override {
    if (out_) CloseHandle(out_);
    if (life_) CloseHandle(life_);  // its input ends first
    if (!released_) {
      TerminateProcess(process_, 1);
      WaitForSingleObject(process_, 1500);
    }
    CloseHandle(process_);
  }
  int Id() const override { return static_cast<int>(GetProcessId(process_)); }
  void Release() override { released_ = true; }
  std::string ReadLine(std::chrono::seconds timeout) override {
    if (!out_) return {};
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      DWORD available = 0;
      if (!PeekNamedPipe(out_, nullptr, 0, nullptr, &available, nullptr)) break;
      if (available == 0) {
        Sleep(50);
        continue;
      }
      char c;
      DWORD got = 0;
      if (!ReadFile(out_, &c, 1, &got, nullptr) || got != 1) break;
      if (c == '\n') {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
      }
      line.push_back(c);
    }
    return {};
  }

 private:
  HANDLE process_;
  HANDLE out_;
  bool released_ = false;
  HANDLE life_;  // the writing end of the program's standard input
};

HANDLE g_stop_event = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD) {
  SetEvent(g_stop_event);
  return TRUE;
}

// The program an "App Paths" entry names, under either hive.
std::string AppPath(const char* exe) {
  std::wstring key = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + win::Utf16(exe);
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    wchar_t path[MAX_PATH * 2] = {};
    DWORD size = sizeof path;
    if (RegGetValueW(root, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, path, &size) == ERROR_SUCCESS &&
        IsFile(path))
      return win::PortablePath(path);
  }
  return {};
}

}  // namespace

// Starts `program` detached; its process id, or 0.
static DWORD StartDetached(const std::string& program, const std::vector<std::string>& args) {
  std::wstring exe = win::NativePath(program);
  std::wstring command_line = CommandLine(program, args);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  // A bare name is searched on PATH by CreateProcessW itself.
  BOOL ok = CreateProcessW(HasSeparator(program) ? exe.c_str() : nullptr, command_line.data(), nullptr, nullptr,
                           FALSE, CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &si, &pi);
  if (!ok) return 0;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return pi.dwProcessId;
}

bool StartProcess(const std::string& program, const std::vector<std::string>& args) {
  return StartDetached(program, args) != 0;
}

long StartProgramCopy(const std::string& program, const std::vector<std::string>& args) {
  // The copy gets this process's standard handles, and no other handle.
  HANDLE handles[3];
  DWORD count = 0;
  for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    HANDLE h = GetStdHandle(which);
    if (h == nullptr || h == INVALID_HANDLE_VALUE || !SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT))
      continue;
    bool seen = false;
    for (DWORD i = 0; i < count; ++i) seen = seen || handles[i] == h;
    if (!seen) handles[count++] = h;
  }
  if (count == 0) return static_cast<long>(StartDetached(program, args));
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<char> buffer(size);
  auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer.data());
  if (!InitializeProcThreadAttributeList(list, 1, 0, &size)) return 0;
  bool ok = UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles, count * sizeof(HANDLE),
                                      nullptr, nullptr);
  STARTUPINFOEXW si{};
  si.StartupInfo.cb = sizeof si;
  si.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  si.StartupInfo.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.StartupInfo.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  si.StartupInfo.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  si.lpAttributeList = list;
  std::wstring exe = win::NativePath(program);
  std::wstring command_line = CommandLine(program, args);
  PROCESS_INFORMATION pi{};
  ok = ok && CreateProcessW(HasSeparator(program) ? exe.c_str() : nullptr, command_line.data(), nullptr, nullptr, TRUE,
                            EXTENDED_STARTUPINFO_PRESENT | CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT,
                            nullptr, nullptr, &si.StartupInfo, &pi);
  DeleteProcThreadAttributeList(list);
  if (!ok) return 0;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<long>(pi.dwProcessId);
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

std::unique_ptr<ChildProcess> StartChildProcess(const std::string& program, const std::vector<std::string>& args) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE read_end = nullptr, write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return nullptr;
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  HANDLE life_read = nullptr, life_write = nullptr;
  if (!CreatePipe(&life_read, &life_write, &inherit, 0)) {
    CloseHandle(read_end);
    CloseHandle(write_end);
    return nullptr;
  }
  SetHandleInformation(life_write, HANDLE_FLAG_INHERIT, 0);
  std::wstring exe = win::NativePath(program);
  std::wstring command_line = CommandLine(program, args);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = life_read;
  si.hStdOutput = write_end;
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi{};
  BOOL ok = CreateProcessW(HasSeparator(program) ? exe.c_str() : nullptr, command_line.data(), nullptr, nullptr,
                           TRUE, CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &si, &pi);
  CloseHandle(write_end);
  CloseHandle(life_read);
  if (!ok) {
    CloseHandle(read_end);
    CloseHandle(life_write);
    return nullptr;
  }
  CloseHandle(pi.hThread);
  return std::make_unique<WindowsChild>(pi.hProcess, read_end, life_write);
}

// Windows offers no cheap look at another process's arguments: the program
// file's name must match.
std::unique_ptr<ChildProcess> TakeOverChildProcess(int id, const std::string& program_name,
                                                   const std::vector<std::string>&) {
  if (id <= 0) return nullptr;
  HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                               static_cast<DWORD>(id));
  if (!process) return nullptr;
  wchar_t image[MAX_PATH * 2];
  DWORD size = MAX_PATH * 2;
  DWORD exit_code = 0;
  bool same = QueryFullProcessImageNameW(process, 0, image, &size) && GetExitCodeProcess(process, &exit_code) &&
              exit_code == STILL_ACTIVE;
  if (same) {
    std::string name = win::PortablePath(std::wstring(image, size));
    name = name.substr(name.find_last_of('/') + 1);
    for (auto& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string want = program_name;
    for (auto& c : want) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    same = name == want || name == want + ".exe";
  }
  if (!same) {
    CloseHandle(process);
    return nullptr;
  }
  return std::make_unique<WindowsChild>(process, nullptr, nullptr);
}

long CurrentProcessId() { return static_cast<long>(GetCurrentProcessId()); }

bool ProcessIsRunning(long id) {
  if (id <= 0) return false;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(id));
  if (!process) return GetLastError() == ERROR_ACCESS_DENIED;  // someone else's, running
  DWORD code = 0;
  bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  CloseHandle(process);
  return running;
}

void EndProcess(long id, std::chrono::milliseconds grace) {
  if (id <= 0) return;
  HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, static_cast<DWORD>(id));
  if (!process) return;
  // No polite stop reaches a program without a window here: it gets the
  // grace to end by itself, then it is terminated.
  if (WaitForSingleObject(process, static_cast<DWORD>(grace.count())) != WAIT_OBJECT_0) {
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 1000);
  }
  CloseHandle(process);
}

void SetEnv(const std::string& name, const std::string& value) {
  // Through the C runtime, which passes it on to the process environment.
  _wputenv_s(win::Utf16(name).c_str(), win::Utf16(value).c_str());
}

void CatchStopRequests() {
  if (!g_stop_event) g_stop_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool WaitForStopRequest(std::chrono::milliseconds timeout) {
  if (!g_stop_event) {
    Sleep(static_cast<DWORD>(timeout.count()));
    return false;
  }
  return WaitForSingleObject(g_stop_event, static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
}

std::vector<AppModeBrowser> FindAppModeBrowsers() {
  std::vector<AppModeBrowser> out;
  for (const char* exe : {"msedge.exe", "chrome.exe"}) {
    std::string path = AppPath(exe);
    if (!path.empty()) out.push_back({path, {}});
  }
  return out;
}

std::string NoDisplayReason() { return {}; }

}  // namespace quil::platform
