// The test home on Linux: HOME, TMPDIR and the XDG folders in a fresh
// temporary folder, with a registry hive file of its own there, no session
// bus and a systemctl of its own; commands through /bin/sh.
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <utility>
#include <vector>

#include "platform/environment.h"
#include "platform/registry.h"
#include "support/test_env.h"

namespace quil::testing {

namespace {
const char* const kVars[] = {"HOME",           "TMPDIR",          "XDG_CONFIG_HOME",          "XDG_DATA_HOME",
                             "XDG_STATE_HOME", "XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS", "PATH"};

// The user's service manager cannot be reached from a test; a systemctl of
// the test's own stands in (tests/support/fake_systemctl.sh).
void InstallSystemctl(const std::string& root) {
  std::filesystem::create_directories(root + "/bin");
  std::filesystem::create_directories(root + "/systemctl");
  std::filesystem::copy_file(QUIL_TEST_SOURCE_DIR "/tests/support/fake_systemctl.sh", root + "/bin/systemctl");
  // The reminder is on: saving a certificate offers nothing.
  WriteFileForTest(root + "/systemctl/state", "enabled\n");
  const char* path = getenv("PATH");
  setenv("PATH", (root + "/bin:" + (path ? path : "/usr/bin:/bin")).c_str(), 1);
}

}  // namespace

struct ScopedTestHome::Saved {
  std::vector<std::pair<std::string, std::string>> vars;  // name, value ("\x01" = unset)
};

ScopedTestHome::ScopedTestHome() : saved_(new Saved) {
  std::string tmpl = std::filesystem::temp_directory_path().string() + "/quil-test-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  root_ = mkdtemp(buf.data());
  for (const char* v : kVars) {
    const char* old = getenv(v);
    saved_->vars.emplace_back(v, old ? old : "\x01");
  }
  setenv("HOME", root_.c_str(), 1);
  std::filesystem::create_directories(root_ + "/tmp");
  setenv("TMPDIR", (root_ + "/tmp").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (root_ + "/.config").c_str(), 1);
  setenv("XDG_DATA_HOME", (root_ + "/.local/share").c_str(), 1);
  setenv("XDG_STATE_HOME", (root_ + "/.local/state").c_str(), 1);
  // Nothing reaches the user's own session bus or service manager.
  std::filesystem::create_directories(root_ + "/run");
  setenv("XDG_RUNTIME_DIR", (root_ + "/run").c_str(), 1);
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  InstallSystemctl(root_);
  platform::SetCurrentUserHiveForTesting(
      platform::OpenRegistryHive(platform::ConfigFolder() + "/registry.db"));
}

ScopedTestHome::~ScopedTestHome() {
  platform::SetCurrentUserHiveForTesting(nullptr);
  for (const auto& [name, value] : saved_->vars) {
    if (value == "\x01") unsetenv(name.c_str());
    else setenv(name.c_str(), value.c_str(), 1);
  }
  std::error_code ec;
  std::filesystem::remove_all(root_, ec);
  delete saved_;
}

void SetUserTimerForTest(const ScopedTestHome& home, const std::string& state, bool refuse_enable) {
  const std::string dir = home.path() + "/systemctl";
  std::error_code ec;
  std::filesystem::remove(dir + "/state", ec);
  std::filesystem::remove(dir + "/refuse", ec);
  if (!state.empty()) WriteFileForTest(dir + "/state", state + "\n");
  if (refuse_enable) WriteFileForTest(dir + "/refuse", "");
}

std::vector<std::string> SystemctlCallsForTest(const ScopedTestHome& home) {
  std::vector<std::string> calls;
  std::istringstream in(ReadFileForTest(home.path() + "/systemctl/calls"));
  for (std::string line; std::getline(in, line);) calls.push_back(line);
  return calls;
}

const char* WineVersion() { return nullptr; }

int RunCommand(const std::string& command, std::string* output) {
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return -1;
  char buf[4096];
  std::string out;
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = pclose(p);
  if (output) *output = out;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace quil::testing
