#pragma once
// Test isolation: every test that touches the user's folders, hive or
// stores runs inside a ScopedTestHome, never against the real ones.
#include <string>
#include <vector>

namespace quil::testing {

// Makes a fresh temporary folder and points the user's folders into it
// (HOME, TMPDIR and the XDG folders on Linux; USERPROFILE, TEMP, APPDATA and
// LOCALAPPDATA on Windows), with a fresh registry hive (a file there on
// Linux, a key of its own under HKEY_CURRENT_USER on Windows); restores
// everything on exit. On Windows the system certificate stores cannot be
// moved: certificates added to them meanwhile are removed again on exit.
// On Linux it also moves XDG_RUNTIME_DIR there, unsets
// DBUS_SESSION_BUS_ADDRESS and puts a systemctl of its own first on PATH
// (see SetUserTimerForTest), so nothing reaches the user's session.
class ScopedTestHome {
 public:
  ScopedTestHome();
  ~ScopedTestHome();
  ScopedTestHome(const ScopedTestHome&) = delete;
  ScopedTestHome& operator=(const ScopedTestHome&) = delete;

  const std::string& path() const { return root_; }

 private:
  std::string root_;
  struct Saved;
  Saved* saved_;
};

// Writes `bytes` to `path` (creating the folders); test helper.
void WriteFileForTest(const std::string& path, const std::string& bytes);
std::string ReadFileForTest(const std::string& path);

// The keys made once for the build's tests (cmake/test_keys.cmake): the
// folder holding them, which is a demo proxy's key set, and one key's PEM
// ("fake-proxy", "stranger", or a key of the set). A test process makes no
// RSA key it does not test.
std::string TestKeySet();
std::string TestKeyPem(const std::string& name);

// The version of Wine the tests run under; nullptr on Linux and Windows.
// Tests name a gap of Wine's by it where Wine falls short of Windows.
const char* WineVersion();

// Runs a command line through the shell, giving its exit status and output
// (stdout+stderr); -1 when it could not be run.
int RunCommand(const std::string& command, std::string* output);

// Linux: the user timer the home's systemctl (tests/support/fake_systemctl.sh)
// knows: its is-enabled state ("disabled", "enabled", ...; empty: no such
// unit), and whether enabling it fails. Enabling turns the state to
// "enabled". A new test home's timer is "enabled" (the reminder is on and
// never offered); tests of the offer set it.
void SetUserTimerForTest(const ScopedTestHome& home, const std::string& state, bool refuse_enable = false);
// The argument lists systemctl was called with, in order.
std::vector<std::string> SystemctlCallsForTest(const ScopedTestHome& home);

}  // namespace quil::testing
