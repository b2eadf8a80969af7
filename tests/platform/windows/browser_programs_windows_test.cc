// Browsers are found through the real registry (Wine's, in the test run's
// own prefix), the program folders and the executables' version resources.
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "build_config.h"
#include "platform/browser_programs.h"
#include "platform/environment.h"
#include "support/test_env.h"

namespace quil::platform {
namespace {

constexpr wchar_t kClients[] = L"SOFTWARE\\Clients\\StartMenuInternet\\";
constexpr wchar_t kClients32[] = L"SOFTWARE\\WOW6432Node\\Clients\\StartMenuInternet\\";

// Sets the default value of `key` + "\shell\open\command" under HKLM and
// takes the whole client key away again on exit.
class ScopedCommand {
 public:
  ScopedCommand(std::wstring client, const std::wstring& command) : client_(std::move(client)) {
    std::wstring key = client_ + L"\\shell\\open\\command";
    EXPECT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, REG_SZ, command.c_str(),
                              static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
  }
  ~ScopedCommand() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, client_.c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, client_.c_str());
  }

 private:
  std::wstring client_;
};

TEST(WindowsBrowserPrograms, RegistryCommandsBeforeProgramFolders) {
  testing::ScopedTestHome home;
  std::string local = GetEnv("LOCALAPPDATA");  // inside the test home
  for (auto& c : local)
    if (c == '\\') c = '/';
  testing::WriteFileForTest(local + "/Mozilla Firefox/firefox.exe", "MZ");
  testing::WriteFileForTest(local + "/Google/Chrome SxS/Application/chrome.exe", "MZ");

  BrowserPrograms none = FindBrowserPrograms();
  EXPECT_EQ(none.edge.path, "") << "no key and no SystemApps copy";
  EXPECT_EQ(none.chrome.path, "");
  EXPECT_EQ(none.chrome64.path, local + "/Google/Chrome SxS/Application/chrome.exe");
  EXPECT_EQ(none.firefox.path, local + "/Mozilla Firefox/firefox.exe") << "a file candidate when every key is empty";

  // Quotes go, whatever follows the path stays; WOW6432Node comes first.
  ScopedCommand edge(std::wstring(kClients) + L"Microsoft Edge", L"\"C:\\Apps\\msedge.exe\" --flag");
  ScopedCommand chrome(std::wstring(kClients) + L"Google Chrome", L"C:\\Native\\chrome.exe");
  ScopedCommand chrome32(std::wstring(kClients32) + L"Google Chrome", L"\"C:\\x86\\chrome.exe\"");
  ScopedCommand firefox(std::wstring(kClients) + L"FIREFOX.EXE", L"C:\\Mozilla\\firefox.exe");
  BrowserPrograms found = FindBrowserPrograms();
  EXPECT_EQ(found.edge.path, "C:/Apps/msedge.exe --flag");
  EXPECT_EQ(found.chrome.path, "C:/x86/chrome.exe");
  EXPECT_EQ(found.firefox.path, "C:/Mozilla/firefox.exe") << "a key wins over an existing file";
}

TEST(WindowsBrowserPrograms, DefaultFromTheCurrentUsersStartMenuInternet) {
  testing::ScopedTestHome home;
  const wchar_t key[] = L"Software\\Clients\\StartMenuInternet";
  const struct {
    const wchar_t* value;
    DefaultBrowser expected;
  } cases[] = {
      {L"Google Chrome", DefaultBrowser::kChrome},
      {L"Mozilla Firefox", DefaultBrowser::kFirefox},
      {L"Internet Explorer", DefaultBrowser::kInternetExplorer},
      {L"Microsoft Edge", DefaultBrowser::kNone},  // Edge is the default only by the rule above
      {L"google chrome", DefaultBrowser::kNone},
  };
  for (const auto& c : cases) {
    std::wstring v = c.value;
    SCOPED_TRACE(std::string(v.begin(), v.end()));
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, key, nullptr, REG_SZ, v.c_str(),
                              static_cast<DWORD>((v.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    EXPECT_EQ(FindBrowserPrograms().default_browser, c.expected);
  }
  RegDeleteKeyValueW(HKEY_CURRENT_USER, key, nullptr);
}

TEST(WindowsBrowserPrograms, VersionFromTheVersionResource) {
  testing::ScopedTestHome home;
  wchar_t system[MAX_PATH];
  ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
  std::wstring wide = std::wstring(system) + L"\\kernel32.dll";
  std::string kernel32(wide.begin(), wide.end());  // ASCII system path
  EXPECT_TRUE(std::regex_match(ExecutableVersion(kernel32), std::regex(R"(\d+\.\d+\.\d+\.\d+)")))
      << ExecutableVersion(kernel32);

  testing::WriteFileForTest(home.path() + "/plain.exe", "not a program");
  EXPECT_EQ(ExecutableVersion(home.path() + "/plain.exe"), "");
  EXPECT_EQ(ExecutableVersion(home.path() + "/missing.exe"), "");
}

// quil.exe carries a version resource read the way a browser's is; the
// test build of an older version says so in its own.
TEST(WindowsBrowserPrograms, QuilsOwnVersionResource) {
  const struct {
    const char* name;
    std::string path;
    std::string version;
  } cases[] = {
      {"quil.exe", QUIL_TEST_BINARY_DIR "/src/quil.exe", QUIL_SOURCE_VERSION ".0.0"},
      {"the older test build", QUIL_TEST_BINARY_DIR "/tests/packaging/older/quil.exe", "1.8.0.0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ExecutableVersion(c.path), c.version);
  }
}

}  // namespace
}  // namespace quil::platform
