// The diagnostic log's sink: standard error when the program has one (a
// command prompt, a pipe, a file), else the debugger's output.
#include <windows.h>

#include <cstdio>
#include <mutex>

#include "platform/diagnostic_log.h"
#include "platform/windows/wide_text.h"

namespace quil::platform {
namespace {

std::mutex g_mutex;

}  // namespace

void WriteLogRecord(const LogRecord&, const std::string& line) {
  std::lock_guard<std::mutex> lock(g_mutex);
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (err != nullptr && err != INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "quil: %s\n", line.c_str());
    std::fflush(stderr);
    return;
  }
  OutputDebugStringW(win::Utf16("quil: " + line + "\n").c_str());
}

void SetJournalSocketForTesting(const std::string&) {}

}  // namespace quil::platform
