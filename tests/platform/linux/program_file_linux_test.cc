#include "platform/program_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include "support/test_env.h"

namespace quil::platform {
namespace {

using quil::testing::ReadFileForTest;
using quil::testing::ScopedTestHome;
using quil::testing::WriteFileForTest;

std::string WithByte(std::string bytes, size_t at, char value) {
  bytes.replace(at, 1, 1, value);
  return bytes;
}

// What a download may turn out to be, and whether it may replace the program.
TEST(ProgramFileTest, OnlyAWholeProgramForThisMachinePasses) {
  ScopedTestHome home;
  const std::string self = ReadFileForTest("/proc/self/exe");
  ASSERT_GT(self.size(), 4096u);
  struct Case {
    const char* name;
    std::string bytes;
    bool program;
  } cases[] = {
      {"this very program", self, true},
      {"another program of this machine", ReadFileForTest("/bin/sh"), true},
      {"an error page served with status 200", "<!DOCTYPE html><html><body>503 Service Unavailable</body></html>", false},
      {"an empty file", "", false},
      {"cut off halfway", self.substr(0, self.size() / 2), false},
      {"cut off after its first header", self.substr(0, 64), false},
      {"cut off by one byte", self.substr(0, self.size() - 1), false},
      {"built for another architecture", WithByte(self, 18, static_cast<char>(self[18] ^ 0x7F)), false},
      {"an object file, not a program", WithByte(WithByte(self, 16, 1), 17, 0), false},
      {"a shell script", "#!/bin/sh\necho hello\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = home.path() + "/download";
    WriteFileForTest(path, c.bytes);
    EXPECT_EQ(IsProgramForThisMachine(path), c.program);
  }
  EXPECT_FALSE(IsProgramForThisMachine(home.path())) << "a folder";
  EXPECT_FALSE(IsProgramForThisMachine(home.path() + "/missing"));
}

TEST(ProgramFileTest, SetProgramModeGivesThePermissionBits) {
  ScopedTestHome home;
  std::string path = home.path() + "/prog";
  WriteFileForTest(path, "x");
  for (unsigned mode : {0755u, 0700u}) {
    ASSERT_EQ(SetProgramMode(path, mode), 0);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode);
  }
  EXPECT_NE(SetProgramMode(home.path() + "/missing", 0755), 0);
}

}  // namespace
}  // namespace quil::platform
