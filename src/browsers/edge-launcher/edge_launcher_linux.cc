// EDGELAUNCHER.exe: starts Microsoft Edge with one address. Browser removal
// writes this program to the temporary folder and starts it, without
// waiting for it or reading its exit code.
//
//   EdgeLauncher.exe [url]
//
// Exit codes:
//   0  Microsoft Edge was started with the address
//   1  Microsoft Edge could not be found or started ("Failed to launch
//      Microsoft Edge" on standard output)
//   2  no argument or more than one: the usage text on standard output
//      (the counterpart of E_INVALIDARG)
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

extern char** environ;

namespace {

constexpr int kStarted = 0;
constexpr int kLaunchFailed = 1;
constexpr int kInvalidArgument = 2;

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// Where Edge is installed: its programs on PATH, then its own folder.
std::string FindEdge() {
  const char* path_env = std::getenv("PATH");
  const std::string path = path_env ? path_env : "";
  for (const char* name : {"microsoft-edge-stable", "microsoft-edge"}) {
    size_t start = 0;
    while (start <= path.size()) {
      size_t end = path.find(':', start);
      if (end == std::string::npos) end = path.size();
      if (end > start) {
        std::string full = path.substr(start, end - start) + "/" + name;
        if (IsExecutableFile(full)) return full;
      }
      start = end + 1;
    }
  }
  const std::string fixed = "/opt/microsoft/msedge/microsoft-edge";
  return IsExecutableFile(fixed) ? fixed : std::string();
}

int Usage() {
  std::printf("Launches Edge browser.\n\nUsage:\n\tEdgeLauncher.exe [url]\n\n"
              "\turl - The URL to open in Microsoft Edge.\n\n");
  return kInvalidArgument;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return Usage();
  const std::string edge = FindEdge();
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  char* child_argv[] = {const_cast<char*>(edge.c_str()), argv[1], nullptr};
  pid_t pid = 0;
  int rc = edge.empty() ? -1 : posix_spawn(&pid, edge.c_str(), nullptr, &attr, child_argv, environ);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    std::printf("Failed to launch Microsoft Edge\n");
    return kLaunchFailed;
  }
  return kStarted;
}
