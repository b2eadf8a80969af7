#include "app/app_control.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/environment.h"
#include "platform/process.h"

namespace quil {
namespace {

std::function<void()> g_quit;
std::vector<std::string> g_restart_argv;
int g_restart_delay_ms = 2000;
std::atomic<bool> g_successor_started{false};

}  // namespace

void SetQuitHandler(std::function<void()> handler) { g_quit = std::move(handler); }

void RequestQuit() {
  if (g_quit) g_quit();
}

void SetRestartCommand(std::vector<std::string> argv) { g_restart_argv = std::move(argv); }

void RestartApp() {
  std::string program = platform::ProgramPath();
  std::vector<std::string> args;
  if (!g_restart_argv.empty()) args.assign(g_restart_argv.begin() + 1, g_restart_argv.end());
  if (platform::StartProgramCopy(program, args) > 0) NoteSuccessorStarted();
  std::this_thread::sleep_for(std::chrono::milliseconds(g_restart_delay_ms));
  RequestQuit();
}

void SetRestartDelayForTesting(int ms) { g_restart_delay_ms = ms; }

void NoteSuccessorStarted() { g_successor_started = true; }
bool SuccessorStarted() { return g_successor_started; }

}  // namespace quil
