// The start-up version check and self-update, on a program file in a
// folder of its own, against a proxy that answers checkVersion and serves
// the update.
#include "maintenance/self_update.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <netinet/in.h>

#include <filesystem>
#include <thread>

#include "base/client_version.h"
#include "base/pause.h"
#include "base/result_codes.h"
#include "proxy/fake_proxy.h"
#include "proxy_replies.h"

namespace quil {
namespace {

using testing::ProxyTestEnv;
using testing::Raw;
using testing::ReadFileForTest;
using testing::ScopedEnv;
using testing::SysCfgReply;
using testing::WriteFileForTest;
using testing::Xml;

constexpr char kOutdated[] = "您目前使用的用戶端軟體版本過舊, 將為您自動進行軟體更新";
constexpr char kDownloadFailed[] = "檔案下載失敗, 請稍後再重新嘗試檔案更新";
constexpr char kRestarting[] = "接下來將為您更新及重新啟動用戶端軟體";
constexpr char kRetireFailed[] = "移除舊檔失敗, 請手動重新下載用戶端軟體";
constexpr char kCheckFailed[] = "版本檢核失敗，請檢查您的網路連線狀態\n並在稍後再重新嘗試使用這個軟體";
constexpr char kOldProgram[] = "the program as it was before the update\n";
constexpr char kRefused[] = "<result><rtnCode>1</rtnCode><rtnMsg>too old</rtnMsg></result>";

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// A program file in a folder of its own, a proxy, and the update it serves
// (a real program of this machine: the shell).
struct UpdateBench {
  ProxyTestEnv env;
  std::string folder = env.home() + "/app";
  std::string program = folder + "/quil";
  std::string marker = folder + "/started";
  std::string update = ReadFileForTest("/bin/sh");
  UpdateTarget target{program, {"-c", "echo started > " + marker}};

  UpdateBench() {
    WriteFileForTest(program, kOldProgram);
    ServeUpdate(Raw(200, update));
  }

  void ServeUpdate(testing::ScriptedReply reply, const std::string& url_path = "/download/QUILSetup.exe") {
    env.proxy().On("getSysCfg",
                   Xml(SysCfgReply({{"app.dlUrl", url_path.empty() ? "" : env.proxy().origin() + url_path}})));
    env.proxy().On(url_path.empty() ? "/download/QUILSetup.exe" : url_path, std::move(reply));
  }
  std::vector<std::string> Messages() { return env.ui().messages; }
  const std::vector<Milliseconds>& Pauses() { return env.pauses(); }
  void ExpectProgramUntouched() {
    EXPECT_EQ(ReadFileForTest(program), kOldProgram);
    EXPECT_FALSE(Exists(program + ".new")) << "no download is left behind";
  }
};

// Waits for the started program to leave its mark.
bool Started(const std::string& marker) {
  for (int i = 0; i < 1000; ++i) {
    if (ReadFileForTest(marker) == "started\n") return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(SelfUpdateTest, AnAcceptedVersionGoesOnAndCleansUpTheLastUpdate) {
  UpdateBench b;
  WriteFileForTest(b.program + ".dpc", "the program before the last update");
  b.env.proxy().On("checkVersion", Xml("<result><rtnCode>0</rtnCode><rtnMsg/></result>"));
  StartupCheck check = RunStartupVersionCheck(b.target);
  EXPECT_EQ(check.code, 0);
  EXPECT_FALSE(check.close);
  EXPECT_TRUE(b.Messages().empty());
  EXPECT_FALSE(Exists(b.program + ".dpc"));
  EXPECT_TRUE(b.Pauses().empty()) << "deleted at the first attempt";
  b.ExpectProgramUntouched();
  EXPECT_EQ(b.env.proxy().Count("/download/QUILSetup.exe"), 0);
  EXPECT_EQ(b.env.proxy().Requests("checkVersion").at(0).fields.at("version"), kClientVersion);
}

TEST(SelfUpdateTest, AnOutdatedClientSwapsItsFileAndStartsTheNewOne) {
  struct Case {
    const char* name;
    const char* reply;
  } cases[] = {
      {"rtnCode 1", kRefused},
      {"a reply without rtnCode, like 1", "<result><notice>x</notice></result>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UpdateBench b;
    WriteFileForTest(b.program + ".new", "a download an earlier update left");
    b.env.proxy().On("checkVersion", Xml(c.reply));
    StartupCheck check = RunStartupVersionCheck(b.target);
    EXPECT_EQ(check.code, kVersionMismatch);
    EXPECT_TRUE(check.close);
    EXPECT_TRUE(check.successor_started);
    EXPECT_EQ(b.Messages(), (std::vector<std::string>{kOutdated, kRestarting}));
    ASSERT_FALSE(b.Pauses().empty());
    EXPECT_EQ(b.Pauses().front(), Milliseconds(1000)) << "a second after the first message";
    EXPECT_EQ(ReadFileForTest(b.program), b.update);
    struct stat st;
    ASSERT_EQ(stat(b.program.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    EXPECT_EQ(ReadFileForTest(b.program + ".dpc"), kOldProgram) << "the old program is retired beside it";
    EXPECT_FALSE(Exists(b.program + ".new"));
    EXPECT_TRUE(Started(b.marker)) << "the new program ran with the options given";
    EXPECT_FALSE(b.env.ui().progress.empty()) << "the download showed its progress";
  }
}

TEST(SelfUpdateTest, ADownloadThatIsNotAWholeProgramChangesNothing) {
  const std::string program = ReadFileForTest("/bin/sh");
  struct Case {
    const char* name;
    testing::ScriptedReply reply;
    std::string url_path;
  } cases[] = {
      {"an error page served with status 200",
       Raw(200, "<!DOCTYPE html><html><body><h1>系統維護中</h1></body></html>"), "/download/QUILSetup.exe"},
      {"a cut-off program", Raw(200, program.substr(0, program.size() / 2)), "/download/QUILSetup.exe"},
      {"an empty body", Raw(200, ""), "/download/QUILSetup.exe"},
      {"not found", Raw(404, "missing"), "/download/QUILSetup.exe"},
      {"an empty app.dlUrl", Raw(200, program), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UpdateBench b;
    b.ServeUpdate(c.reply, c.url_path);
    b.env.proxy().On("checkVersion", Xml(kRefused));
    StartupCheck check = RunStartupVersionCheck(b.target);
    EXPECT_EQ(check.code, kVersionMismatch);
    EXPECT_TRUE(check.close);
    EXPECT_EQ(b.Messages(), (std::vector<std::string>{kOutdated, kDownloadFailed}));
    ASSERT_FALSE(b.Pauses().empty());
    EXPECT_EQ(b.Pauses().back(), Milliseconds(2000)) << "two seconds after the failure message";
    b.ExpectProgramUntouched();
    EXPECT_FALSE(Exists(b.program + ".dpc"));
    EXPECT_FALSE(Exists(b.marker));
  }
}

// A port where nothing listens.
int ClosedPort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t n = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
  close(s);
  return ntohs(a.sin_port);
}

TEST(SelfUpdateTest, ACheckThatCannotBeMadeEndsTheProgram) {
  struct Case {
    const char* name;
    std::optional<testing::ScriptedReply> reply;  // nothing: no proxy answers
    int code;
  } cases[] = {
      {"no proxy answers", std::nullopt, kVersionCallFailed},
      {"an HTTP failure", Raw(503, ""), kVersionCallFailed},
      {"not XML", Xml("<result><rtnCode>0</rtnCode>"), kVersionReplyUnreadable},
      {"no root element", Xml("<?xml version=\"1.0\"?>"), kVersionNoRoot},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UpdateBench b;
    std::optional<ScopedEnv> unreachable;
    if (c.reply) b.env.proxy().On("checkVersion", *c.reply);
    else unreachable.emplace("QUIL_PROXY_URL", "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/PELIProxy/proxy/");
    StartupCheck check = RunStartupVersionCheck(b.target);
    EXPECT_EQ(check.code, c.code);
    EXPECT_TRUE(check.close);
    ASSERT_FALSE(b.Messages().empty());
    EXPECT_EQ(b.Messages().back(), kCheckFailed);
    b.ExpectProgramUntouched();
  }
}

TEST(SelfUpdateTest, ARetiredFileThatCannotBeDeletedDoesNotStopTheStart) {
  UpdateBench b;
  // A folder full of files stands for a retired program still held open.
  WriteFileForTest(b.program + ".dpc/held", "x");
  b.env.proxy().On("checkVersion", Xml("<result><rtnCode>0</rtnCode></result>"));
  StartupCheck check = RunStartupVersionCheck(b.target);
  EXPECT_EQ(check.code, 0);
  EXPECT_FALSE(check.close);
  EXPECT_TRUE(b.Messages().empty());
  EXPECT_EQ(b.Pauses(), std::vector<Milliseconds>(20, Milliseconds(500))) << "20 attempts, 500 ms apart";
  EXPECT_TRUE(Exists(b.program + ".dpc/held"));
}

TEST(SelfUpdateTest, AProgramFileThatCannotBeMovedAsideStaysAndKeepsTheDownload) {
  UpdateBench b;
  WriteFileForTest(b.program + ".dpc/held", "x");
  b.env.proxy().On("checkVersion", Xml(kRefused));
  StartupCheck check = RunStartupVersionCheck(b.target);
  EXPECT_EQ(check.code, kVersionMismatch);
  EXPECT_TRUE(check.close);
  EXPECT_EQ(b.Messages(), (std::vector<std::string>{kOutdated, kRestarting, kRetireFailed}));
  EXPECT_FALSE(check.successor_started);
  EXPECT_EQ(ReadFileForTest(b.program), kOldProgram);
  EXPECT_EQ(ReadFileForTest(b.program + ".new"), b.update) << "the next update downloads it again";
  EXPECT_FALSE(Exists(b.marker));
}

}  // namespace
}  // namespace quil
