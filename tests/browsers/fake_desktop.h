#pragma once
// A desktop of fake browsers for the tests: a home folder (a ScopedTestHome
// of its own, or the caller's) whose PATH holds only a folder of scripts standing in
// for browser executables, with XDG data and config folders inside the
// home. A fake browser prints the version text it was given when
// --version is among its arguments (a "flatpak run ... --version" too) and
// records every other start, one line of arguments per start,
// in "<home>/started/<name>".
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/test_env.h"

namespace quil::testing {

class FakeDesktop {
 public:
  FakeDesktop();
  // In the current home folder, which the caller has made a test home.
  explicit FakeDesktop(const ScopedTestHome& home);
  ~FakeDesktop();
  FakeDesktop(const FakeDesktop&) = delete;
  FakeDesktop& operator=(const FakeDesktop&) = delete;

  const std::string& home() const { return home_; }
  std::string bin() const { return home() + "/bin"; }
  // The XDG data folders (the user's, then the system's) and config folders.
  std::string user_data() const { return home() + "/.local/share"; }
  std::string system_data() const { return home() + "/usr/share"; }
  std::string user_config() const { return home() + "/.config"; }
  std::string system_config() const { return home() + "/etc/xdg"; }
  // Fixed installation paths (/opt/...) are looked for under this folder.
  std::string install_root() const { return home() + "/root"; }

  // A fake browser at `path` printing `version_text` for --version. Its
  // path.
  std::string AddProgramAt(const std::string& path, const std::string& version_text);
  // The same in the PATH folder.
  std::string AddProgram(const std::string& name, const std::string& version_text) {
    return AddProgramAt(bin() + "/" + name, version_text);
  }
  // An application entry `id` in `data_folder`/applications.
  void AddEntry(const std::string& data_folder, const std::string& id, const std::string& exec);
  // A mimeapps.list in `folder` with these [Default Applications] lines.
  void AddMimeApps(const std::string& folder, const std::vector<std::string>& lines);

  // The argument lines of the fake browser `name`'s starts so far; waits
  // up to a few seconds for `expected` lines (the starts are detached).
  std::vector<std::string> Starts(const std::string& name, size_t expected = 1) const;

 private:
  void Enter();

  std::unique_ptr<ScopedTestHome> own_home_;
  std::string home_;
  std::vector<std::pair<std::string, std::string>> saved_;  // variable, old value ("\x01" = unset)
};

}  // namespace quil::testing
