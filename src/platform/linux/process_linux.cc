#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/environment.h"
#include "platform/linux/run_program.h"
#include "platform/linux/spawn_attributes.h"

extern char** environ;

namespace quil::platform {
namespace {

// The writing ends of our children's standard input (see ChildProcess). A
// successor copy of this program inherits them, so a child it takes over
// still ends when the last of us ends. Read after fork: plain atomics.
std::atomic<int> g_lifelines[4] = {-1, -1, -1, -1};

void AddLifeline(int fd) {
  if (fd < 0) return;
  for (auto& slot : g_lifelines) {
    int empty = -1;
    if (slot.compare_exchange_strong(empty, fd)) return;
  }
}

void RemoveLifeline(int fd) {
  for (auto& slot : g_lifelines) {
    int mine = fd;
    if (slot.compare_exchange_strong(mine, -1)) return;
  }
}

// In the forked child only: the lifelines survive its exec.
void PassLifelines() {
  for (auto& slot : g_lifelines) {
    int fd = slot.load();
    if (fd >= 0) fcntl(fd, F_SETFD, 0);
  }
}

// Spawns through a short-lived intermediate child so the program is
// re-parented to init and never left as a zombie of ours. Its standard
// input is /dev/null; its output goes there too unless it is a copy of
// this program, which also inherits the lifelines of our children. The
// program's process id, or 0 when it could not be started.
pid_t SpawnDetached(const std::string& program, const std::vector<std::string>& args, bool program_copy = false) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return 0;
  pid_t child = fork();
  if (child < 0) {
    close(ready[0]);
    close(ready[1]);
    return 0;
  }
  if (child == 0) {
    // The program starts with ordinary signal handling, whatever ours is.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    setsid();
    int devnull = open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      dup2(devnull, 0);
      if (!program_copy) {
        dup2(devnull, 1);
        dup2(devnull, 2);
      }
    }
    if (program_copy) PassLifelines();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    pid_t grandchild = 0;
    if (posix_spawnp(&grandchild, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) grandchild = 0;
    ssize_t ignored = write(ready[1], &grandchild, sizeof grandchild);
    (void)ignored;
    _exit(0);
  }
  close(ready[1]);
  pid_t started = 0;
  ssize_t n = read(ready[0], &started, sizeof started);
  close(ready[0]);
  waitpid(child, nullptr, 0);
  return n == static_cast<ssize_t>(sizeof started) && started > 0 ? started : 0;
}

// Starts `program` with ordinary signal handling (ours may block SIGINT and
// SIGTERM for the main loop) and its standard output on a pipe, whose
// reading end goes to `out`; with `quiet`, standard input and error are
// /dev/null. The pid, or -1 when it could not be started.
pid_t SpawnWithOutputPipe(const std::string& program, const std::vector<std::string>& args, bool quiet, int* out,
                          int* life = nullptr) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return -1;
  int life_fds[2] = {-1, -1};
  if (life && pipe2(life_fds, O_CLOEXEC) != 0) {
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    return -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
  if (life) posix_spawn_file_actions_adddup2(&actions, life_fds[0], 0);
  if (quiet) {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  SpawnAttributes attr;
  pid_t pid;
  int rc = posix_spawnp(&pid, program.c_str(), &actions, attr.get(), argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_fds[1]);
  if (life) close(life_fds[0]);
  if (rc != 0) {
    close(pipe_fds[0]);
    if (life) close(life_fds[1]);
    return -1;
  }
  *out = pipe_fds[0];
  if (life) *life = life_fds[1];
  return pid;
}

}  // namespace

std::optional<ProgramOutput> RunProgram(const std::string& program, const std::vector<std::string>& args,
                                        std::chrono::milliseconds limit) {
  int out = -1;
  pid_t pid = SpawnWithOutputPipe(program, args, /*quiet=*/true, &out);
  if (pid < 0) return std::nullopt;

  ProgramOutput result;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  bool timed_out = false;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      timed_out = true;
      break;
    }
    pollfd p{out, POLLIN, 0};
    int ready = poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    char buf[4096];
    ssize_t n = read(out, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    result.out.append(buf, static_cast<size_t>(n));
  }
  close(out);
  if (timed_out) kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (timed_out) return std::nullopt;
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

bool StartProcess(const std::string& program, const std::vector<std::string>& args) {
  return SpawnDetached(program, args) > 0;
}

long StartProgramCopy(const std::string& program, const std::vector<std::string>& args) {
  return SpawnDetached(program, args, /*program_copy=*/true);
}

namespace {

// The full path of an executable program: `name` itself when it holds a
// "/", else the first match on PATH; "" when there is none.
std::string FindProgram(const std::string& name) {
  if (name.empty()) return {};
  if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0 ? name : std::string();
  std::string path = GetEnv("PATH");
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    std::string dir = path.substr(start, end - start);
    if (!dir.empty()) {
      std::string full = dir + "/" + name;
      struct stat st;
      if (stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(full.c_str(), X_OK) == 0) return full;
    }
    start = end + 1;
  }
  return {};
}

}  // namespace

bool HasProgram(const std::string& name) { return !FindProgram(name).empty(); }

bool ShellOpen(const std::string& target) {
  if (!HasProgram("xdg-open")) return false;
  return SpawnDetached("xdg-open", {target}) > 0;
}

namespace {

// The program file's name and the arguments of a running process.
bool Runs(pid_t pid, const std::string& program_name, const std::vector<std::string>& args) {
  std::string proc = "/proc/" + std::to_string(pid);
  char exe[4096];
  ssize_t n = readlink((proc + "/exe").c_str(), exe, sizeof exe - 1);
  if (n <= 0) return false;  // gone, or ended and not yet collected
  std::string path(exe, static_cast<size_t>(n));
  if (path.substr(path.rfind('/') + 1) != program_name) return false;
  int fd = open((proc + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string cmdline;
  char buf[4096];
  while ((n = read(fd, buf, sizeof buf)) > 0) cmdline.append(buf, static_cast<size_t>(n));
  close(fd);
  std::string want;
  for (const auto& a : args) want += a + '\0';
  size_t first = cmdline.find('\0');
  return first != std::string::npos && cmdline.substr(first + 1) == want;
}

class LinuxChild : public ChildProcess {
 public:
  LinuxChild(pid_t pid, int out, int life) : pid_(pid), out_(out), life_(life) { AddLifeline(life_); }
  // One a predecessor started: not our child, so its end shows in /proc.
  LinuxChild(pid_t pid, int life, std::string program_name, std::vector<std::string> args)
      : pid_(pid), out_(-1), life_(life), inherited_(true), program_name_(std::move(program_name)),
        args_(std::move(args)) {
    AddLifeline(life_);
  }
  ~LinuxChild() override {
    if (out_ >= 0) close(out_);
    // Its input ends first (unless a successor holds it too): a program
    // that watches it ends by itself, whatever it does with signals.
    if (life_ >= 0) {
      RemoveLifeline(life_);
      close(life_);
    }
    if (!released_) Stop();
  }
  int Id() const override { return pid_; }
  // A successor started before this already holds a copy of the lifeline.
  void Release() override { released_ = true; }
  std::string ReadLine(std::chrono::seconds timeout) override {
    if (out_ < 0) return {};
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, 200) <= 0) continue;
      char c;
      if (read(out_, &c, 1) != 1) break;
      if (c == '\n') return line;
      line.push_back(c);
    }
    return {};
  }

 private:
  // Asks it to stop and waits for it up to kStopWait; then it is killed.
  void Stop() {
    const auto deadline = std::chrono::steady_clock::now() + kStopWait;
    if (!inherited_) {
      kill(pid_, SIGTERM);
      while (waitpid(pid_, nullptr, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
          kill(pid_, SIGKILL);
          waitpid(pid_, nullptr, 0);
          return;
        }
        usleep(10 * 1000);
      }
      return;
    }
    if (!Runs(pid_, program_name_, args_)) return;
    kill(pid_, SIGTERM);
    while (Runs(pid_, program_name_, args_)) {
      if (std::chrono::steady_clock::now() >= deadline) {
        kill(pid_, SIGKILL);
        return;
      }
      usleep(10 * 1000);
    }
  }

  static constexpr std::chrono::milliseconds kStopWait{1500};

  pid_t pid_;
  int out_;
  int life_;  // the writing end of the program's standard input, or -1
  bool inherited_ = false;
  bool released_ = false;
  std::string program_name_;
  std::vector<std::string> args_;
};

sigset_t StopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

}  // namespace

std::unique_ptr<ChildProcess> StartChildProcess(const std::string& program, const std::vector<std::string>& args) {
  int out = -1;
  int life = -1;
  pid_t pid = SpawnWithOutputPipe(program, args, /*quiet=*/false, &out, &life);
  if (pid < 0) return nullptr;
  return std::make_unique<LinuxChild>(pid, out, life);
}

namespace {

// The writing end of process `pid`'s standard input pipe among the files
// this process holds (inherited from the predecessor), made private again.
int FindLifeline(pid_t pid) {
  char target[256];
  ssize_t n = readlink(("/proc/" + std::to_string(pid) + "/fd/0").c_str(), target, sizeof target - 1);
  if (n <= 0) return -1;
  std::string pipe_name(target, static_cast<size_t>(n));
  if (pipe_name.rfind("pipe:", 0) != 0) return -1;
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return -1;
  int found = -1;
  while (dirent* e = readdir(dir)) {
    int fd = atoi(e->d_name);
    if (fd <= 2 || fd == dirfd(dir)) continue;
    ssize_t m = readlink(("/proc/self/fd/" + std::string(e->d_name)).c_str(), target, sizeof target - 1);
    if (m > 0 && std::string(target, static_cast<size_t>(m)) == pipe_name) {
      found = fd;
      break;
    }
  }
  closedir(dir);
  if (found >= 0) fcntl(found, F_SETFD, FD_CLOEXEC);
  return found;
}

}  // namespace

std::unique_ptr<ChildProcess> TakeOverChildProcess(int id, const std::string& program_name,
                                                   const std::vector<std::string>& args) {
  if (id <= 0 || !Runs(id, program_name, args)) return nullptr;
  return std::make_unique<LinuxChild>(id, FindLifeline(id), program_name, args);
}

long CurrentProcessId() { return getpid(); }

bool ProcessIsRunning(long id) {
  if (id <= 0 || (kill(static_cast<pid_t>(id), 0) != 0 && errno == ESRCH)) return false;
  // An ended process that nobody has collected yet (a zombie) has ended.
  int fd = open(("/proc/" + std::to_string(id) + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;
  char stat[512];
  ssize_t n = read(fd, stat, sizeof stat - 1);
  close(fd);
  if (n <= 0) return true;
  stat[n] = '\0';
  // "pid (name) state ...": the name may hold anything, the state follows its last ')'.
  const char* close_paren = strrchr(stat, ')');
  return !(close_paren && close_paren[1] == ' ' && close_paren[2] == 'Z');
}

void EndProcess(long id, std::chrono::milliseconds grace) {
  if (id <= 0) return;
  const pid_t pid = static_cast<pid_t>(id);
  kill(pid, SIGTERM);
  for (auto deadline = std::chrono::steady_clock::now() + grace; ProcessIsRunning(id);) {
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      for (int i = 0; i < 100 && ProcessIsRunning(id); ++i) usleep(10 * 1000);
      return;
    }
    usleep(10 * 1000);
  }
}

void SetEnv(const std::string& name, const std::string& value) { setenv(name.c_str(), value.c_str(), 1); }

void CatchStopRequests() {
  sigset_t signals = StopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

bool WaitForStopRequest(std::chrono::milliseconds timeout) {
  sigset_t signals = StopSignals();
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(timeout).count();
  timespec tick{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
  return sigtimedwait(&signals, nullptr, &tick) > 0;
}

namespace {

// Whether this user may make the namespaces Chromium's sandbox lives in
// (tried in a child that ends at once).
bool UserNamespacesWork() {
  pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) _exit(unshare(CLONE_NEWUSER | CLONE_NEWPID | CLONE_NEWNET) == 0 ? 0 : 1);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool IsSetuidRootHelper(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == 0 &&
         (st.st_mode & S_ISUID);
}

// Chromium's sandbox starts for this user: never for root (Chromium refuses
// to), else with user namespaces or the browser's setuid helper.
bool BrowserSandboxWorks(const std::string& program) {
  if (geteuid() == 0) return false;
  if (UserNamespacesWork()) return true;
  if (IsSetuidRootHelper(GetEnv("CHROME_DEVEL_SANDBOX"))) return true;
  std::string folder = "/usr/lib/chromium";
  if (char* real = realpath(FindProgram(program).c_str(), nullptr)) {
    std::string resolved = real;
    free(real);
    folder = resolved.substr(0, resolved.rfind('/'));
  }
  return IsSetuidRootHelper(folder + "/chrome-sandbox") || IsSetuidRootHelper("/usr/lib/chromium/chrome-sandbox");
}

}  // namespace

std::vector<AppModeBrowser> FindAppModeBrowsers() {
  std::vector<AppModeBrowser> out;
  for (const char* name : {"chromium", "chromium-browser", "google-chrome", "google-chrome-stable"}) {
    if (!HasProgram(name)) continue;
    AppModeBrowser b{name, {}};
    // Without it the browser would not start at all; it then shows a bar
    // about the flag, which the page makes room for.
    if (!BrowserSandboxWorks(name)) b.extra_args.push_back("--no-sandbox");
    out.push_back(std::move(b));
  }
  return out;
}

std::string NoDisplayReason() {
  if (GetEnv("DISPLAY").empty() && GetEnv("WAYLAND_DISPLAY").empty())
    return "no graphical display (DISPLAY and WAYLAND_DISPLAY are unset)";
  return {};
}

}  // namespace quil::platform
