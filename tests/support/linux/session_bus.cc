#include "support/linux/session_bus.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

extern char** environ;

namespace quil::testing {
namespace {

constexpr int kStartSeconds = 30;

std::string ReadLine(int fd) {
  std::string line;
  char c;
  pollfd p{fd, POLLIN, 0};
  while (poll(&p, 1, kStartSeconds * 1000) > 0 && read(fd, &c, 1) == 1 && c != '\n') line.push_back(c);
  return line;
}

}  // namespace

PrivateSessionBus::PrivateSessionBus() {
  std::string tmpl = std::filesystem::temp_directory_path().string() + "/quil-bus-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) return;
  folder_ = buf.data();
  const std::string config = folder_ + "/session.conf";
  std::ofstream(config) << "<busconfig>\n"
                           "  <type>session</type>\n"
                           "  <listen>unix:dir=" << folder_ << "</listen>\n"
                           "  <auth>EXTERNAL</auth>\n"
                           "  <policy context=\"default\">\n"
                           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                           "    <allow eavesdrop=\"true\"/>\n"
                           "    <allow own=\"*\"/>\n"
                           "  </policy>\n"
                           "</busconfig>\n";

  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  // It complains about resource limits it may not raise; nothing the tests need.
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::string config_arg = "--config-file=" + config;
  std::vector<std::string> args = {"dbus-daemon", config_arg, "--nofork", "--nopidfile", "--print-address=1"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  if (posix_spawnp(&pid_, "dbus-daemon", &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (pid_ > 0) address_ = ReadLine(out[0]);
  close(out[0]);
}

PrivateSessionBus::~PrivateSessionBus() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  std::error_code ec;
  if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
}

ScopedSessionBusAddress::ScopedSessionBusAddress(const std::string& address) {
  if (const char* old = getenv("DBUS_SESSION_BUS_ADDRESS")) {
    had_ = true;
    saved_ = old;
  }
  setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
}

ScopedSessionBusAddress::~ScopedSessionBusAddress() {
  if (had_) setenv("DBUS_SESSION_BUS_ADDRESS", saved_.c_str(), 1);
  else unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

}  // namespace quil::testing
