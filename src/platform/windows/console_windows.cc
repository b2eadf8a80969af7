#include "platform/console.h"

#include <windows.h>
#include <io.h>

#include <cstdio>

namespace quil::platform {
namespace {

bool Given(DWORD which) {
  HANDLE h = GetStdHandle(which);
  return h != nullptr && h != INVALID_HANDLE_VALUE;
}

void Reopen(std::FILE* stream, const char* device, const char* mode, DWORD which) {
  if (!std::freopen(device, mode, stream)) return;
  // Also for whatever asks Windows for the handle (a restarted copy gets it).
  SetStdHandle(which, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))));
}

}  // namespace

void UseParentConsole() {
  const bool in = Given(STD_INPUT_HANDLE), out = Given(STD_OUTPUT_HANDLE), err = Given(STD_ERROR_HANDLE);
  if (in && out && err) return;
  // Fails when the parent has no console (Explorer, the Start menu).
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  if (!in) Reopen(stdin, "CONIN$", "r", STD_INPUT_HANDLE);
  if (!out) Reopen(stdout, "CONOUT$", "w", STD_OUTPUT_HANDLE);
  if (!err) Reopen(stderr, "CONOUT$", "w", STD_ERROR_HANDLE);
}

}  // namespace quil::platform
