#include "platform/security_component.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "platform/linux/spawn_attributes.h"
#include "platform/registry.h"

extern char** environ;

namespace quil::platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxOutput = 64 * 1024;

// The registered program: the default value of the class's LocalServer32 key.
std::string ServerProgram(const std::string& class_id) {
  auto value = CurrentUserHive().QueryValue("Software\\Classes\\CLSID\\" + class_id + "\\LocalServer32", "");
  if (!value || (value->type != RegType::kSz && value->type != RegType::kExpandSz)) return {};
  return value->data;
}

int MillisecondsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Starts `program GetVersion` in a process group of its own with its
// output on a pipe; -1 when it cannot be started.
pid_t StartServer(const std::string& program, int out_fd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  SpawnAttributes attr(/*own_group=*/true);
  std::string arg = "GetVersion";
  char* argv[] = {const_cast<char*>(program.c_str()), arg.data(), nullptr};
  pid_t pid = -1;
  int rc = posix_spawn(&pid, program.c_str(), &actions, attr.get(), argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

// Waits for the program to end by the deadline; its exit status, or
// nothing when it had to be ended.
std::optional<int> AwaitExit(pid_t pid, Clock::time_point deadline) {
  for (;;) {
    int status = 0;
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (done < 0) return -1;
    if (Clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  kill(-pid, SIGKILL);  // its group: it and whatever it started
  waitpid(pid, nullptr, 0);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> QueryComponentVersion(const std::string& class_id, std::chrono::milliseconds limit) {
  std::string program = ServerProgram(class_id);
  if (program.empty()) return std::nullopt;
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return std::nullopt;
  auto deadline = Clock::now() + limit;
  pid_t pid = StartServer(program, out[1]);
  close(out[1]);
  if (pid < 0) {
    close(out[0]);
    return std::nullopt;
  }
  // Everything it prints until it closes its output, within the limit.
  std::string output;
  for (;;) {
    pollfd p{out[0], POLLIN, 0};
    int ready = poll(&p, 1, MillisecondsLeft(deadline));
    if (ready <= 0) break;
    char buf[4096];
    ssize_t n = read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    if (output.size() < kMaxOutput) output.append(buf, static_cast<size_t>(n));
  }
  close(out[0]);
  auto status = AwaitExit(pid, deadline);
  if (!status || *status != 0) return std::nullopt;
  std::string line = output.substr(0, output.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.empty()) return std::nullopt;
  return line;
}

}  // namespace quil::platform
