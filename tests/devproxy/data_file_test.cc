#include "devproxy/data_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/test_env.h"

namespace quil::devproxy {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  return names;
}

TEST(DataFileTest, ReplacesWithTheGivenModeAndLeavesNoTemporary) {
  testing::ScopedTestHome home;
  std::string folder = home.path() + "/data";
  std::string path = folder + "/ca.key";
  testing::WriteFileForTest(path, "old key, longer than the new one");
  ASSERT_TRUE(WriteDataFile(path, "new", 0600));
  EXPECT_EQ(ReadDataFile(path), "new");
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"ca.key"});
}

TEST(DataFileTest, FailedReplaceKeepsTheTargetAndCleansUp) {
  testing::ScopedTestHome home;
  std::string folder = home.path() + "/data";
  fs::create_directories(folder + "/bundle.pem");  // a folder cannot be replaced by a file
  EXPECT_FALSE(WriteDataFile(folder + "/bundle.pem", "bytes", 0644));
  EXPECT_TRUE(fs::is_directory(folder + "/bundle.pem"));
  EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"bundle.pem"});
}

}  // namespace
}  // namespace quil::devproxy
