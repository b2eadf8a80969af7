#include "fake_desktop.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/browser_programs.h"

namespace quil::testing {
namespace {

const char* const kVars[] = {"PATH", "XDG_DATA_DIRS", "XDG_CONFIG_DIRS", "XDG_CURRENT_DESKTOP", "DISPLAY"};

// Single quotes for the shell.
std::string ShellQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace

FakeDesktop::FakeDesktop() : own_home_(std::make_unique<ScopedTestHome>()), home_(own_home_->path()) { Enter(); }

FakeDesktop::FakeDesktop(const ScopedTestHome& home) : home_(home.path()) { Enter(); }

void FakeDesktop::Enter() {
  for (const char* v : kVars) {
    const char* old = getenv(v);
    saved_.emplace_back(v, old ? old : "\x01");
  }
  std::filesystem::create_directories(bin());
  std::filesystem::create_directories(home() + "/started");
  setenv("PATH", bin().c_str(), 1);
  setenv("XDG_DATA_DIRS", system_data().c_str(), 1);
  setenv("XDG_CONFIG_DIRS", system_config().c_str(), 1);
  unsetenv("XDG_CURRENT_DESKTOP");
  unsetenv("DISPLAY");
  platform::SetInstallRootForTesting(install_root());
}

FakeDesktop::~FakeDesktop() {
  platform::SetInstallRootForTesting("");
  for (const auto& [name, value] : saved_) {
    if (value == "\x01") unsetenv(name.c_str());
    else setenv(name.c_str(), value.c_str(), 1);
  }
}

std::string FakeDesktop::AddProgramAt(const std::string& path, const std::string& version_text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  const std::string log = home() + "/started/" + std::filesystem::path(path).filename().string();
  std::ofstream(path) << "#!/bin/sh\n"
                      << "for a in \"$@\"; do if [ \"$a\" = --version ]; then printf '%s\\n' "
                      << ShellQuoted(version_text) << "; exit 0; fi; done\n"
                      << "echo \"$*\" >> " << ShellQuoted(log) << "\n";
  chmod(path.c_str(), 0755);
  return path;
}

void FakeDesktop::AddEntry(const std::string& data_folder, const std::string& id, const std::string& exec) {
  std::filesystem::create_directories(data_folder + "/applications");
  std::ofstream(data_folder + "/applications/" + id)
      << "[Desktop Entry]\nType=Application\nName=" << id << "\nExec=" << exec << "\n";
}

void FakeDesktop::AddMimeApps(const std::string& folder, const std::vector<std::string>& lines) {
  std::filesystem::create_directories(folder);
  std::ofstream out(folder + "/mimeapps.list");
  out << "[Added Associations]\nx-scheme-handler/https=other.desktop;\n\n[Default Applications]\n";
  for (const auto& l : lines) out << l << "\n";
}

std::vector<std::string> FakeDesktop::Starts(const std::string& name, size_t expected) const {
  std::vector<std::string> lines;
  for (int i = 0; i < 100; ++i) {
    lines.clear();
    std::ifstream in(home() + "/started/" + name);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    if (lines.size() >= expected) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return lines;
}

}  // namespace quil::testing
