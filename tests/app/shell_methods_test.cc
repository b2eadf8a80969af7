// The methods whose behaviour lives in the bridge, called as the page calls
// them (through RunMethod, with wide arguments).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <set>

#include "app/method_table.h"
#include "support/test_env.h"
#include "ui/scripted_ui.h"

namespace quil {
namespace {

using testing::ReadFileForTest;
using testing::ScopedTestHome;
using testing::WriteFileForTest;

std::string Call(const char* name, std::vector<std::string> args = {}) {
  const MethodEntry* m = FindMethod(name);
  EXPECT_NE(m, nullptr) << name;
  return m ? RunMethod(*m, args).text : std::string();
}

TEST(MethodTableTest, HasTheFortyNineMethodsOnceEach) {
  std::set<std::string> names;
  for (const auto& m : MethodTable()) names.insert(m.name);
  EXPECT_EQ(MethodTable().size(), 49u);
  EXPECT_EQ(names.size(), 49u);
  EXPECT_STREQ(MethodTable().front().name, "cpntAutoUpdate");
  EXPECT_STREQ(MethodTable().back().name, "isFileExist");
  EXPECT_EQ(FindMethod("nope"), nullptr);
}

TEST(MethodTableTest, MethodsWithoutABodyAnswerCodeOneInTheirKind) {
  MethodEntry text{"t", 0, Returns::kText, kNoFlags, nullptr};
  MethodEntry shorty{"s", 0, Returns::kShort, kNoFlags, nullptr};
  MethodEntry nothing{"n", 0, Returns::kNothing, kNoFlags, nullptr};
  EXPECT_EQ(RunMethod(text, {}).text, "{'errCode':'1','errMsg':'<1>不明的錯誤'}");
  EXPECT_EQ(RunMethod(shorty, {}).value, 1);
  EXPECT_EQ(RunMethod(nothing, {}).text, "");
}

TEST(MethodTableTest, AStrayExceptionBecomesAFailureReply) {
  MethodEntry throws{"x", 0, Returns::kText, kNoFlags,
                     [](const MethodArgs&) -> MethodReply { throw std::runtime_error("boom"); }};
  EXPECT_EQ(RunMethod(throws, {}).text, "{'errCode':'1','errMsg':'<1>不明的錯誤'}");
}

TEST(MethodTableTest, ArgumentsArriveInCodePage950) {
  static std::string seen;
  MethodEntry echo{"e", 1, Returns::kText, kNoFlags, [](const MethodArgs& a) {
                     seen = a[0];
                     return MethodReply{};
                   }};
  RunMethod(echo, {"憑證"});
  EXPECT_EQ(seen, "\xBE\xCC\xC3\xD2");
  MethodEntry wide{"w", 1, Returns::kText, kWideArgs, echo.body};
  RunMethod(wide, {"憑證"});
  EXPECT_EQ(seen, "憑證");
}

TEST(ShellMethodsTest, ClientVersionAndRandom) {
  EXPECT_EQ(Call("getClientVersion"), "{'errCode':'0','errMsg':'','clientVersion':'1.9'}");
  std::string rnd = Call("getRandom");
  EXPECT_TRUE(std::regex_match(rnd, std::regex(R"(\{'errCode':'0','errMsg':'','rnd':'[01]\.\d{6}'\})"))) << rnd;
}

TEST(ShellMethodsTest, IsFileExist) {
  ScopedTestHome home;
  std::string empty = home.path() + "/empty.p12";
  std::string full = home.path() + "/full.p12";
  WriteFileForTest(empty, "");
  WriteFileForTest(full, "x");
  EXPECT_EQ(Call("isFileExist", {empty}), "{'errCode':'52301'}");
  EXPECT_EQ(Call("isFileExist", {home.path() + "/missing.p12"}), "{'errCode':'52301'}");
  EXPECT_EQ(Call("isFileExist", {home.path()}), "{'errCode':'52301'}");
  EXPECT_EQ(Call("isFileExist", {full}), "{'errCode':'0'}");
}

TEST(ShellMethodsTest, IsFileExistTakesChinesePaths) {
  ScopedTestHome home;
  std::string path = home.path() + "/憑證.p12";
  WriteFileForTest(path, "x");
  EXPECT_EQ(Call("isFileExist", {path}), "{'errCode':'0'}");
}

TEST(ShellMethodsTest, CopyFile) {
  ScopedTestHome home;
  std::string src = home.path() + "/備份/a.p12";
  std::string dst = home.path() + "/b.p12";
  WriteFileForTest(src, "new");
  WriteFileForTest(dst, "old content that is longer");
  chmod(src.c_str(), 0600);

  EXPECT_EQ(Call("copyFile", {src, dst}), "{'errCode':'0','errMsg':''}");
  EXPECT_EQ(ReadFileForTest(dst), "new");
  struct stat st;
  ASSERT_EQ(stat(dst.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  struct Case {
    const char* name;
    std::string src, dst;
    const char* want;
  } kCases[] = {
      {"missing source", home.path() + "/none.p12", dst, "{'errCode':'-1','errMsg':'2'}"},
      {"missing destination folder", src, home.path() + "/no/such/x.p12", "{'errCode':'-1','errMsg':'3'}"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Call("copyFile", {c.src, c.dst}), c.want);
  }
  EXPECT_EQ(ReadFileForTest(dst), "new") << "a failed copy leaves the destination alone";
}

TEST(ShellMethodsTest, CopyFileIntoAReadOnlyFolderIsAccessDenied) {
  if (geteuid() == 0) GTEST_SKIP() << "root ignores folder permissions";
  ScopedTestHome home;
  std::string src = home.path() + "/a.p12";
  WriteFileForTest(src, "x");
  std::string locked = home.path() + "/locked";
  mkdir(locked.c_str(), 0500);
  EXPECT_EQ(Call("copyFile", {src, locked + "/a.p12"}), "{'errCode':'-1','errMsg':'5'}");
}

TEST(ShellMethodsTest, ChoosersAnswerThePathOrNothing) {
  ui::ScopedScriptedUi ui;
  ui->chooser_answers = {std::string("/home/u/certs"), std::string("/home/u/"), std::nullopt,
                         std::string("/home/u/a.p12"), std::nullopt};
  EXPECT_EQ(Call("openFileChooser"), "{'errCode':'1','errMsg':'','path':'/home/u/certs/'}");
  EXPECT_EQ(Call("openFileChooser"), "{'errCode':'1','errMsg':'','path':'/home/u/'}");
  EXPECT_EQ(Call("openFileChooser"), "{'errCode':'1','errMsg':'','path':''}");
  EXPECT_EQ(Call("openFileChooser2"), "{'errCode':'1','errMsg':'','path':'/home/u/a.p12'}");
  EXPECT_EQ(Call("openFileChooser2"), "{'errCode':'1','errMsg':'','path':''}");
  EXPECT_EQ(ui->chooser_titles[0], "請選擇憑證檔儲存資料夾");
  EXPECT_EQ(ui->chooser_titles[3], "選擇憑證檔案");
}

}  // namespace
}  // namespace quil
