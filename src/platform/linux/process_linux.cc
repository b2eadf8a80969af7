#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/environment.h"

extern char** environ;

namespace quil::platform {
namespace {

// Spawns through a short-lived intermediate child so the program is
// re-parented to init and never left as a zombie of ours.
bool SpawnDetached(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return false;
  pid_t child = fork();
  if (child < 0) {
    close(ready[0]);
    close(ready[1]);
    return false;
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
      dup2(devnull, 1);
      dup2(devnull, 2);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    pid_t grandchild;
    int rc = posix_spawnp(&grandchild, program.c_str(), &actions, nullptr, argv.data(), environ);
    char ok = rc == 0 ? 1 : 0;
    ssize_t ignored = write(ready[1], &ok, 1);
    (void)ignored;
    _exit(0);
  }
  close(ready[1]);
  char ok = 0;
  ssize_t n = read(ready[0], &ok, 1);
  close(ready[0]);
  waitpid(child, nullptr, 0);
  return n == 1 && ok == 1;
}

}  // namespace

bool StartProcess(const std::string& program, const std::vector<std::string>& args) {
  return SpawnDetached(program, args);
}

bool HasProgram(const std::string& name) {
  if (name.empty()) return false;
  if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0;
  std::string path = GetEnv("PATH");
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    std::string dir = path.substr(start, end - start);
    if (!dir.empty()) {
      std::string full = dir + "/" + name;
      struct stat st;
      if (stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(full.c_str(), X_OK) == 0)
        return true;
    }
    start = end + 1;
  }
  return false;
}

bool ShellOpen(const std::string& target) {
  if (!HasProgram("xdg-open")) return false;
  return SpawnDetached("xdg-open", {target});
}

bool ShowInFileManager(const std::string& path) {
  if (HasProgram("gdbus")) {
    std::string uri = "['file://" + path + "']";
    if (SpawnDetached("gdbus", {"call", "--session", "--dest", "org.freedesktop.FileManager1",
                                "--object-path", "/org/freedesktop/FileManager1", "--method",
                                "org.freedesktop.FileManager1.ShowItems", uri, ""}))
      return true;
  }
  std::string folder = path;
  struct stat st;
  if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    size_t slash = folder.rfind('/');
    folder = slash == std::string::npos ? std::string(".") : folder.substr(0, slash ? slash : 1);
  }
  return ShellOpen(folder);
}

}  // namespace quil::platform
