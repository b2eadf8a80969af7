#include "platform/program_file.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>

#include "platform/environment.h"
#include "platform/files.h"
#include "platform/windows/wide_text.h"

namespace quil::platform {
namespace {

// The first bytes of a file; fewer when it is shorter.
std::string ReadHead(const std::string& path, size_t n) {
  std::string bytes(n, '\0');
  std::FILE* f = OpenFile(path, "rb");
  if (!f) return {};
  bytes.resize(std::fread(bytes.data(), 1, n, f));
  std::fclose(f);
  return bytes;
}

template <typename T>
T At(const std::string& bytes, size_t offset) {
  T v{};
  std::memcpy(&v, bytes.data() + offset, sizeof v);
  return v;
}

struct PeImage {
  WORD machine = 0;
  WORD characteristics = 0;
};

// The file header of a PE image whose headers and sections all lie inside
// its `size` bytes; nothing otherwise.
std::optional<PeImage> ReadPe(const std::string& path, std::uint64_t size) {
  std::string dos = ReadHead(path, 64);
  if (dos.size() < 64 || dos[0] != 'M' || dos[1] != 'Z') return std::nullopt;
  std::uint64_t pe = At<std::uint32_t>(dos, 0x3C);
  std::string head = ReadHead(path, static_cast<size_t>(pe + 24));
  if (head.size() < pe + 24 || std::memcmp(head.data() + pe, "PE\0\0", 4) != 0) return std::nullopt;
  IMAGE_FILE_HEADER file = At<IMAGE_FILE_HEADER>(head, static_cast<size_t>(pe + 4));
  std::uint64_t sections = pe + 24 + file.SizeOfOptionalHeader;
  std::uint64_t end = sections + std::uint64_t{file.NumberOfSections} * sizeof(IMAGE_SECTION_HEADER);
  if (file.NumberOfSections == 0 || end > size) return std::nullopt;
  std::string all = ReadHead(path, static_cast<size_t>(end));
  if (all.size() < end) return std::nullopt;
  for (WORD i = 0; i < file.NumberOfSections; ++i) {
    auto s = At<IMAGE_SECTION_HEADER>(all, static_cast<size_t>(sections + i * sizeof(IMAGE_SECTION_HEADER)));
    if (std::uint64_t{s.PointerToRawData} + s.SizeOfRawData > size) return std::nullopt;
  }
  return PeImage{file.Machine, file.Characteristics};
}

}  // namespace

bool IsProgramForThisMachine(const std::string& path) {
  PathInfo info = GetPathInfo(path);
  if (info.kind != PathKind::kFile) return false;
  std::string self = ProgramPath();
  auto mine = ReadPe(self, GetPathInfo(self).size);
  auto theirs = ReadPe(path, info.size);
  return mine && theirs && theirs->machine == mine->machine &&
         (theirs->characteristics & IMAGE_FILE_EXECUTABLE_IMAGE) && !(theirs->characteristics & IMAGE_FILE_DLL);
}

// A file is run by its name here; there are no permission bits to give.
int SetProgramMode(const std::string&, unsigned) { return 0; }

std::optional<std::string> ProgramVersionOutput(const std::string& path, std::chrono::milliseconds limit) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE read_end = nullptr, write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return std::nullopt;
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  HANDLE null_device = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                   OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = null_device;
  si.hStdOutput = write_end;
  si.hStdError = null_device;
  std::wstring exe = win::NativePath(path);
  std::wstring command_line = L"\"" + exe + L"\" --version";
  PROCESS_INFORMATION pi{};
  BOOL started = CreateProcessW(exe.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                                CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &si, &pi);
  CloseHandle(write_end);
  if (null_device != INVALID_HANDLE_VALUE) CloseHandle(null_device);
  if (!started) {
    CloseHandle(read_end);
    return std::nullopt;
  }
  CloseHandle(pi.hThread);
  std::string out;
  bool ended = false;
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(limit.count());
  for (;;) {
    DWORD available = 0;
    if (PeekNamedPipe(read_end, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
      char buffer[4096];
      DWORD got = 0;
      if (ReadFile(read_end, buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
      continue;
    }
    if (ended) break;
    ULONGLONG now = GetTickCount64();
    if (now >= deadline) break;
    // Whatever it wrote before it ended is still read above.
    ended = WaitForSingleObject(pi.hProcess, static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 50))) ==
            WAIT_OBJECT_0;
  }
  CloseHandle(read_end);
  DWORD code = 1;
  if (!ended) {
    TerminateProcess(pi.hProcess, 1);
    WaitForSingleObject(pi.hProcess, 1000);
  } else {
    GetExitCodeProcess(pi.hProcess, &code);
  }
  CloseHandle(pi.hProcess);
  if (!ended || code != 0) return std::nullopt;
  return out;
}

}  // namespace quil::platform
