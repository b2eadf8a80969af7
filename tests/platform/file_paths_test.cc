#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/environment.h"
#include "platform/files.h"
#include "support/test_env.h"

namespace quil::platform {
namespace {

struct FolderCase {
  const char* name;
  std::string path;
  std::string folder;
};

// The folder of a file is the path up to its last separator, the root
// kept: "/" everywhere, on Windows "\" as well (a customer's path such as
// "C:\Users\u\new1\deeper\a.P12").
TEST(FilePathsTest, FolderOfAFilePath) {
  std::vector<FolderCase> cases = {
      {"nested", "/a/b/c.P12", "/a/b"},
      {"at the root", "/c.P12", "/"},
      {"a name alone", "c.P12", ""},
      {"relative", "a/c.P12", "a"},
      {"doubled separator", "/a//c.P12", "/a"},
      {"a double-byte folder name", "/\xE8\xA8\xB1/c.P12", "/\xE8\xA8\xB1"},  // 許
  };
  if (IsPathSeparator('\\')) {
    cases.insert(cases.end(), {
        {"backslashes", "C:\\Users\\u\\new1\\deeper\\a.P12", "C:\\Users\\u\\new1\\deeper"},
        {"both separators", "C:/Users\\u/a.P12", "C:/Users\\u"},
        {"at a drive's root", "C:\\a.P12", "C:\\"},
        {"at a share's root", "\\\\server\\share\\a.P12", "\\\\server\\share\\"},
        {"at the current drive's root", "\\a.P12", "\\"},
    });
  } else {
    cases.push_back({"a backslash is part of a name", "/a/b\\c.P12", "/a"});
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FolderOfPath(c.path), c.folder);
  }
}

// A file path written as the platform's users write it, into folders that
// do not exist yet: its folders are made and the file can be created.
TEST(FilePathsTest, TheMissingFoldersOfAFileAreMade) {
  testing::ScopedTestHome home;
  const std::string path = WithPreferredSeparators(home.path() + "/new1/deeper/a.P12");
  ASSERT_TRUE(MakeFolders(FolderOfPath(path))) << path;
  EXPECT_EQ(GetPathInfo(home.path() + "/new1/deeper").kind, PathKind::kFolder);
  std::FILE* f = OpenFile(path, "wb");
  ASSERT_NE(f, nullptr) << path;
  std::fclose(f);
  EXPECT_EQ(GetPathInfo(path).kind, PathKind::kFile);
}

}  // namespace
}  // namespace quil::platform
