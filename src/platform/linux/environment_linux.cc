#include "platform/environment.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace quil::platform {
namespace {

std::string XdgFolder(const char* var, const char* fallback) {
  std::string base = GetEnv(var);
  if (base.empty() || base[0] != '/') base = HomeFolder() + fallback;
  return base + "/quil";
}

std::string TrimNewline(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

}  // namespace

std::string GetEnv(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string HomeFolder() {
  std::string home = GetEnv("HOME");
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  return home.empty() ? std::string("/") : home;
}

std::string TempFolder() {
  std::string tmp = GetEnv("TMPDIR");
  while (tmp.size() > 1 && tmp.back() == '/') tmp.pop_back();
  return tmp.empty() ? std::string("/tmp") : tmp;
}

std::string ProgramPath() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, n);
}

std::string DesktopFolder() {
  std::string result;
  if (FILE* p = popen("xdg-user-dir DESKTOP 2>/dev/null", "r")) {
    char buf[4096];
    size_t n = fread(buf, 1, sizeof buf, p);
    pclose(p);
    result = TrimNewline(std::string(buf, n));
  }
  if (result.empty() || result[0] != '/') result = HomeFolder() + "/Desktop";
  return result;
}

std::string ConfigFolder() { return XdgFolder("XDG_CONFIG_HOME", "/.config"); }
std::string DataFolder() { return XdgFolder("XDG_DATA_HOME", "/.local/share"); }
std::string StateFolder() { return XdgFolder("XDG_STATE_HOME", "/.local/state"); }

bool MakeFolders(const std::string& path) {
  if (path.empty()) return false;
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos != path.size() && path[pos] != '/') continue;
    std::string part = path.substr(0, pos);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace quil::platform
