#include "support/test_env.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include "platform/environment.h"
#include "platform/registry.h"

namespace quil::testing {

namespace {
const char* const kVars[] = {"HOME", "TMPDIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME"};
}

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

void WriteFileForTest(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string ReadFileForTest(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace quil::testing
