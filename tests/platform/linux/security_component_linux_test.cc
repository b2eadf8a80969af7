#include "platform/security_component.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <thread>

#include "platform/registry.h"
#include "support/test_env.h"

namespace quil::platform {
namespace {

using namespace std::chrono_literals;
using quil::testing::ReadFileForTest;
using quil::testing::ScopedTestHome;
using quil::testing::WriteFileForTest;

constexpr char kClass[] = "{6D3F9A1C-2B4E-4C7A-9E51-7A2B3C4D5E6F}";

std::string ServerKey(const std::string& class_id) {
  return "Software\\Classes\\CLSID\\" + class_id + "\\LocalServer32";
}

// Gone, or ended and waiting for its parent (init) to collect it; a
// killed process may take a moment to get there.
bool Ended(pid_t pid) {
  for (int i = 0; i < 500; ++i) {
    std::string stat = ReadFileForTest("/proc/" + std::to_string(pid) + "/stat");
    size_t paren = stat.rfind(')');
    if (paren == std::string::npos || stat.compare(paren + 2, 1, "Z") == 0) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

// Writes an executable shell script and registers it as the class's server.
std::string RegisterScript(const ScopedTestHome& home, const std::string& body) {
  std::string path = home.path() + "/component/server";
  WriteFileForTest(path, "#!/bin/sh\n" + body);
  chmod(path.c_str(), 0755);
  auto& hive = CurrentUserHive();
  hive.CreateKey(ServerKey(kClass));
  hive.SetValue(ServerKey(kClass), RegSz("", path));
  return path;
}

TEST(SecurityComponentTest, TheRegisteredProgramAnswersGetVersion) {
  struct Case {
    const char* name;
    const char* script;
    std::optional<std::string> version;
  } cases[] = {
      {"prints its version", "[ \"$1\" = GetVersion ] && echo 1,0,0,2\n", "1,0,0,2"},
      {"gets exactly the one argument", "echo \"$# $1\"\n", "1 GetVersion"},
      {"the first line counts", "echo 1.0.0.1; echo 2.0\n", "1.0.0.1"},
      {"a CR LF line end", "printf '1.0.0.10\\r\\n'\n", "1.0.0.10"},
      {"a last line without its break", "printf '3.1'\n", "3.1"},
      {"fails after printing", "echo 1.0; exit 3\n", std::nullopt},
      {"prints nothing", "exit 0\n", std::nullopt},
      {"prints an empty line", "echo\n", std::nullopt},
      {"killed by a signal", "echo 1.0; kill -9 $$\n", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedTestHome home;
    RegisterScript(home, c.script);
    EXPECT_EQ(QueryComponentVersion(kClass), c.version);
  }
}

TEST(SecurityComponentTest, ClassIdInAnyLetterCase) {
  ScopedTestHome home;
  RegisterScript(home, "echo 1.0\n");
  EXPECT_EQ(QueryComponentVersion("{6d3f9a1c-2b4e-4c7a-9e51-7a2b3c4d5e6f}"), "1.0");
}

TEST(SecurityComponentTest, NotInstalledWhenTheRegistrationIsMissingOrWrong) {
  ScopedTestHome home;
  auto& hive = CurrentUserHive();
  EXPECT_EQ(QueryComponentVersion(kClass), std::nullopt) << "no key";
  hive.CreateKey(ServerKey(kClass));
  EXPECT_EQ(QueryComponentVersion(kClass), std::nullopt) << "no default value";
  hive.SetValue(ServerKey(kClass), RegDword("", 1));
  EXPECT_EQ(QueryComponentVersion(kClass), std::nullopt) << "a DWORD default value";
  hive.SetValue(ServerKey(kClass), RegSz("", home.path() + "/missing"));
  EXPECT_EQ(QueryComponentVersion(kClass), std::nullopt) << "the program is gone";
  std::string not_executable = home.path() + "/plain";
  WriteFileForTest(not_executable, "#!/bin/sh\necho 1.0\n");
  hive.SetValue(ServerKey(kClass), RegSz("", not_executable));
  EXPECT_EQ(QueryComponentVersion(kClass), std::nullopt) << "a file that cannot be run";
  EXPECT_EQ(QueryComponentVersion("{00000000-0000-0000-0000-000000000000}"), std::nullopt) << "another class";
}

TEST(SecurityComponentTest, AProgramThatTakesTooLongIsEndedWithWhatItStarted) {
  ScopedTestHome home;
  std::string pids = home.path() + "/pids";
  RegisterScript(home, "sleep 30 & echo $! > " + pids + ".child; echo $$ > " + pids + "\necho 1.0\nwait\n");
  EXPECT_EQ(QueryComponentVersion(kClass, 300ms), std::nullopt);
  for (const std::string& file : {pids, pids + ".child"}) {
    std::string text = ReadFileForTest(file);
    ASSERT_FALSE(text.empty()) << file;
    pid_t pid = std::stoi(text);
    EXPECT_TRUE(Ended(pid)) << "process " << pid << " from " << file << " still runs";
  }
}

}  // namespace
}  // namespace quil::platform
