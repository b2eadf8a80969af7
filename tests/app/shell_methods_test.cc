// The methods whose behaviour lives in the bridge, called as the page calls
// them (through RunMethod, with wide arguments).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <optional>
#include <regex>
#include <thread>

#include "app/method_table.h"
#include "file_manager_service_fake.h"
#include "support/linux/session_bus.h"
#include "support/test_env.h"
#include "ui/scripted_ui.h"

namespace quil {
namespace {

using testing::FakeFileManagerService;
using testing::PrivateSessionBus;
using testing::ReadFileForTest;
using testing::ScopedSessionBusAddress;
using testing::ScopedTestHome;
using testing::WriteFileForTest;

std::string Call(const char* name, std::vector<std::string> args = {}) {
  const MethodEntry* m = FindMethod(name);
  EXPECT_NE(m, nullptr) << name;
  return m ? RunMethod(*m, args).text : std::string();
}

// The whole table, row by row, in the page's order.
TEST(MethodTableTest, EveryRowAsThePageSeesIt) {
  constexpr unsigned kCn = kCnFromIdno, kWide = kWideArgs, kPlain = kNoFlags;
  constexpr Returns kText = Returns::kText, kShort = Returns::kShort, kNothing = Returns::kNothing;
  struct Row {
    const char* name;
    int args;
    Returns returns;
    unsigned flags;
  } kRows[] = {
      {"cpntAutoUpdate", 0, kNothing, kPlain},
      {"doTest", 1, kNothing, kPlain},
      {"iAmAlive", 0, kNothing, kPlain},
      {"getClientPfxFilePath", 0, kText, kPlain},
      {"getClientVersion", 0, kText, kPlain},
      {"getClientReg", 0, kText, kPlain},
      {"setClientReg", 0, kText, kPlain},
      {"doLogin", 2, kText, kPlain},
      {"getOnlinePw", 6, kText, kPlain},
      {"changePw", 3, kText, kPlain},
      {"savePfx2", 4, kText, kPlain},
      {"verifyOnlinePw", 4, kText, kPlain},
      {"verifyPwBag", 3, kText, kPlain},
      {"doLogout", 1, kShort, kPlain},
      {"getFnStatus", 1, kText, kCn},
      {"crtNewCert", 1, kText, kPlain},  // asks for the common name after the terms
      {"crtNewCert2", 2, kText, kCn},
      {"crtRevokeCert", 1, kText, kCn},
      {"crtRevokeCert2", 2, kText, kCn},
      {"openFileChooser", 0, kText, kPlain},
      {"openFileChooser2", 0, kText, kPlain},
      {"replaceCert", 1, kText, kPlain},  // asks for the common name after the terms
      {"replaceCert2", 3, kText, kCn},
      {"dlCert", 1, kText, kCn},
      {"qryBranchInfo", 1, kText, kPlain},
      {"qryBranchAll", 0, kText, kPlain},
      {"qrySvrCertInfo", 1, kText, kPlain},
      {"qrySvrCertInfo2", 1, kText, kPlain},
      {"qryClntCertInfo", 1, kText, kPlain},
      {"qryPfxCertInfo", 3, kText, kPlain},
      {"qryIECertInfo", 1, kText, kPlain},
      {"copyFile", 2, kText, kWide},
      {"impUserCert", 1, kText, kPlain},
      {"bakUserCert", 1, kText, kPlain},
      {"changePfxPwd", 1, kText, kPlain},
      {"changePfxPwd2", 4, kText, kPlain},
      {"deployCert", 4, kText, kPlain},
      {"rmvBrowserCert", 2, kText, kPlain},
      {"openFileManager", 1, kNothing, kPlain},
      {"openFileManager2", 1, kNothing, kPlain},
      {"closeApp", 0, kNothing, kPlain},
      {"openApp", 0, kNothing, kPlain},
      {"getRandom", 0, kText, kPlain},
      {"versionCheck", 0, kText, kPlain},
      {"writeLog", 4, kNothing, kPlain},
      {"writeLog2", 4, kNothing, kPlain},
      {"setLoginInfo", 3, kText, kPlain},
      {"getLoginInfo", 0, kText, kPlain},
      {"isFileExist", 1, kText, kPlain},
  };
  const auto& table = MethodTable();
  ASSERT_EQ(table.size(), std::size(kRows));
  for (size_t i = 0; i < table.size(); ++i) {
    const Row& want = kRows[i];
    const MethodEntry& got = table[i];
    SCOPED_TRACE(want.name);
    EXPECT_STREQ(got.name, want.name) << "row " << i;
    EXPECT_EQ(got.arg_count, want.args);
    EXPECT_EQ(got.returns, want.returns);
    EXPECT_EQ(got.flags, want.flags);
    EXPECT_TRUE(got.body != nullptr) << "every method has its body";
    EXPECT_EQ(FindMethod(want.name), &got);
  }
  EXPECT_EQ(FindMethod("nope"), nullptr);
  EXPECT_EQ(FindMethod("DoLogin"), nullptr) << "names are case-sensitive";
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

// Only regular files exist here: a pipe would wait for a writer and hold
// every other call back, a device never ends.
TEST(ShellMethodsTest, OnlyRegularFilesAreFilesAndNothingWaits) {
  ScopedTestHome home;
  std::string fifo = home.path() + "/pipe.p12";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string full = home.path() + "/full.p12";
  WriteFileForTest(full, "x");
  std::string dst = home.path() + "/copy.p12";
  struct Case {
    const char* name;
    std::string path;
    const char* exists;
    const char* copied;
  } kCases[] = {
      {"named pipe", fifo, "{'errCode':'52301'}", "{'errCode':'-1','errMsg':'5'}"},
      {"device", "/dev/null", "{'errCode':'52301'}", "{'errCode':'-1','errMsg':'5'}"},
      {"endless device", "/dev/zero", "{'errCode':'52301'}", "{'errCode':'-1','errMsg':'5'}"},
      {"folder", home.path(), "{'errCode':'52301'}", "{'errCode':'-1','errMsg':'5'}"},
      {"kernel file", "/proc/self/status", "{'errCode':'52301'}", "{'errCode':'-1','errMsg':'5'}"},
      {"NUL inside the path", full + std::string("\0/x", 3), "{'errCode':'52301'}", "{'errCode':'-1','errMsg':'2'}"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Call("isFileExist", {c.path}), c.exists);
    EXPECT_EQ(Call("copyFile", {c.path, dst}), c.copied);
    EXPECT_NE(access(dst.c_str(), F_OK), 0) << "a failed copy leaves nothing";
  }
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

// The file manager gets the path as one URI of its own, whatever the path
// holds; without a file manager that answers, the folder opens instead.
TEST(ShellMethodsTest, OpenFileManagerShowsTheFileOrOpensItsFolder) {
  const std::string path = "/tmp/John's R&D/x.P12";
  const std::string uri = "file:///tmp/John's%20R&D/x.P12";
  const std::string crafted = "/tmp/a','file:///etc/x'] [' %/b.P12";
  const std::string crafted_uri = "file:///tmp/a','file:///etc/x'%5D%20%5B'%20%25/b.P12";
  enum class Service { kAnswers, kRefuses, kNone };
  struct Case {
    const char* name;
    Service service;
    std::string path;
    std::vector<std::vector<std::string>> calls;
    std::string opened;  // the folder xdg-open got, "" for none
  } kCases[] = {
      {"the file manager shows it", Service::kAnswers, path, {{uri}}, ""},
      {"a path made to look like two", Service::kAnswers, crafted, {{crafted_uri}}, ""},
      {"the file manager refuses", Service::kRefuses, path, {{uri}}, "/tmp/John's R&D"},
      {"no file manager", Service::kNone, path, {}, "/tmp/John's R&D"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ScopedTestHome home;
    const std::string opened = home.path() + "/opened";
    WriteFileForTest(home.path() + "/bin/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > '" + opened + "'\n");
    chmod((home.path() + "/bin/xdg-open").c_str(), 0755);
    PrivateSessionBus bus;
    ASSERT_FALSE(bus.address().empty());
    ScopedSessionBusAddress address(bus.address());
    std::optional<FakeFileManagerService> service;
    if (c.service != Service::kNone) {
      service.emplace(bus.address(), c.service == Service::kRefuses);
      ASSERT_TRUE(service->running());
    }
    EXPECT_EQ(Call("openFileManager", {"  " + c.path + " "}), "");
    if (service) {
      EXPECT_EQ(service->calls(), c.calls);
    }
    // xdg-open runs detached: give it time to leave its mark.
    for (int i = 0; i < 200 && !c.opened.empty() && !std::filesystem::exists(opened); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    EXPECT_EQ(ReadFileForTest(opened), c.opened);
  }
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
