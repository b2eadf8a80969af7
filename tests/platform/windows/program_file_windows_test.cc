// What a download may turn out to be, and whether it may replace the
// program: only a whole PE program of this machine's architecture.
#include "platform/program_file.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "platform/environment.h"
#include "support/test_env.h"

namespace quil::platform {
namespace {

using quil::testing::ReadFileForTest;
using quil::testing::ScopedTestHome;
using quil::testing::WriteFileForTest;

// The offset of the PE file header (after "PE\0\0").
size_t FileHeader(const std::string& image) {
  std::uint32_t pe = 0;
  std::memcpy(&pe, image.data() + 0x3C, sizeof pe);
  return pe + 4;
}

std::string WithWord(std::string bytes, size_t at, WORD value) {
  std::memcpy(bytes.data() + at, &value, sizeof value);
  return bytes;
}

TEST(ProgramFileTest, OnlyAWholeProgramForThisMachinePasses) {
  ScopedTestHome home;
  const std::string self = ReadFileForTest(ProgramPath());
  ASSERT_GT(self.size(), 4096u);
  const size_t header = FileHeader(self);
  WORD machine = 0, characteristics = 0;
  std::memcpy(&machine, self.data() + header, sizeof machine);
  std::memcpy(&characteristics, self.data() + header + 18, sizeof characteristics);
  struct Case {
    const char* name;
    std::string bytes;
    bool program;
  } cases[] = {
      {"this very program", self, true},
      {"an error page served with status 200", "<!DOCTYPE html><html><body>503 Service Unavailable</body></html>", false},
      {"an empty file", "", false},
      {"cut off halfway", self.substr(0, self.size() / 2), false},
      {"cut off after its headers", self.substr(0, 1024), false},
      {"built for another architecture", WithWord(self, header, machine == 0x8664 ? 0x014c : 0x8664), false},
      {"a library, not a program", WithWord(self, header + 18, characteristics | IMAGE_FILE_DLL), false},
      {"a batch file", "@echo off\r\necho hello\r\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = home.path() + "/download.exe";
    WriteFileForTest(path, c.bytes);
    EXPECT_EQ(IsProgramForThisMachine(path), c.program);
  }
  EXPECT_FALSE(IsProgramForThisMachine(home.path())) << "a folder";
  EXPECT_FALSE(IsProgramForThisMachine(home.path() + "/missing.exe"));
}

}  // namespace
}  // namespace quil::platform
