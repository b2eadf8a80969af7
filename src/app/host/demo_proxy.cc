#include "app/host/demo_proxy.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "platform/environment.h"
#include "platform/process.h"

extern char** environ;

namespace quil::host {
namespace {

// Next to the quil program (installed or build tree), else on PATH.
std::string FindDevProxy() {
  std::string self = platform::ProgramPath();
  std::string dir = self.substr(0, self.rfind('/'));
  for (const std::string& candidate :
       {dir + "/quil-devproxy", dir + "/../devproxy/quil-devproxy", dir + "/../../devproxy/quil-devproxy"})
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  if (platform::HasProgram("quil-devproxy")) return "quil-devproxy";
  return {};
}

// Reads one line from `fd`, waiting at most `seconds`.
std::string ReadLine(int fd, int seconds) {
  std::string line;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) continue;
    char c;
    if (read(fd, &c, 1) != 1) break;
    if (c == '\n') return line;
    line.push_back(c);
  }
  return {};
}

}  // namespace

bool DemoProxy::Start(std::string* problem) {
  std::string program = FindDevProxy();
  if (program.empty()) {
    *problem = "quil-devproxy not found next to quil or on PATH";
    return false;
  }
  std::string data = platform::StateFolder() + "/demo";
  platform::MakeFolders(data);
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    *problem = "cannot create a pipe";
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  std::vector<std::string> args = {program, "--data", data};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  // Our SIGINT/SIGTERM are blocked for the main loop; the proxy must get them.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid;
  int rc = posix_spawnp(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (rc != 0) {
    close(out[0]);
    *problem = "cannot start " + program;
    return false;
  }
  pid_ = pid;
  base_url_ = ReadLine(out[0], 60);
  close(out[0]);
  if (base_url_.empty()) {
    *problem = "the demo proxy did not report its address";
    return false;
  }
  std::ifstream env(data + "/quil.env");
  std::string line;
  while (std::getline(env, line)) {
    size_t eq = line.find('=');
    if (line.rfind("QUIL_", 0) == 0 && eq != std::string::npos)
      setenv(line.substr(0, eq).c_str(), line.substr(eq + 1).c_str(), 1);
  }
  return true;
}

DemoProxy::~DemoProxy() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

}  // namespace quil::host
