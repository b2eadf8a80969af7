// The client against the demo operator proxy over loopback HTTPS, with the
// proxy's own CA bundle as the operator's authorities.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "base/pause.h"
#include "base/result_codes.h"
#include "base/settings.h"
#include "devproxy/devproxy.h"
#include "fake_proxy.h"
#include "proxy/actions.h"
#include "proxy/client_address.h"
#include "proxy/download.h"
#include "proxy/envelope.h"
#include "proxy/settings_loader.h"
#include "proxy/transport.h"
#include "ui/progress_window.h"

namespace quil::proxy {
namespace {

using devproxy::DevProxy;
using devproxy::Fault;

const char kIdno[] = "A123456789";
const char kAid[] = "9A000000001";
const char kPassword[] = "demo1234";

class DemoProxyTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    suite_home_ = new testing::ScopedTestHome;
    devproxy::Options options;
    options.data_dir = suite_home_->path() + "/devproxy";
    options.key_set = quil::testing::TestKeySet();
    // An update of its own: the sanitizer build makes no quil program to serve.
    options.update_file = suite_home_->path() + "/QUILSetup.exe";
    std::ofstream(options.update_file, std::ios::binary) << std::string(200 * 1024, 'q');
    std::string error;
    proxy_ = DevProxy::Start(options, &error).release();
    ASSERT_NE(proxy_, nullptr) << error;
  }
  static void TearDownTestSuite() {
    delete proxy_;
    proxy_ = nullptr;
    delete suite_home_;
    suite_home_ = nullptr;
  }

  void SetUp() override {
    ASSERT_NE(proxy_, nullptr);
    proxy_->ClearFaults();
    for (const char* v : {"QUIL_PROXY_URL", "QUIL_PROXY_PUBKEY", "QUIL_PROXY_CA", "QUIL_BRIDGE_URL",
                          "QUIL_IP_SERVICES", "QUIL_TLS_INSECURE"}) {
      const char* old = getenv(v);
      saved_.emplace_back(v, old ? old : "\x01");
    }
    proxy_->ExportEnvironment();
    setenv("QUIL_TLS_INSECURE", "0", 1);
    proxy::InstallSettingsLoader();
    ResetSettingsForTesting();
    SetSessionKey("");
    ui::ResetProgressWindowForTesting();
    SetPauseForTesting([](Milliseconds) {});
  }
  void TearDown() override {
    if (proxy_) proxy_->ClearFaults();
    ResetSettingsForTesting();
    SetSessionKey("");
    for (const auto& [name, value] : saved_) {
      if (value == "\x01") unsetenv(name.c_str());
      else setenv(name.c_str(), value.c_str(), 1);
    }
  }

  static Fault MakeFault(const std::string& fault_text) {
    auto f = devproxy::ParseFault(fault_text);
    EXPECT_TRUE(f.has_value()) << fault_text;
    return f.value_or(Fault{});
  }

  static void LogIn() { EXPECT_EQ(doLogin(kAid, kPassword).code, 0); }

  static testing::ScopedTestHome* suite_home_;
  static DevProxy* proxy_;
  testing::ScopedTestHome home_;
  ui::ScopedScriptedUi ui_;
  std::vector<std::pair<std::string, std::string>> saved_;
};

testing::ScopedTestHome* DemoProxyTest::suite_home_ = nullptr;
DevProxy* DemoProxyTest::proxy_ = nullptr;

TEST_F(DemoProxyTest, FullLogin) {
  LoginResult r = doLogin(kAid, kPassword);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(FieldOf(r.result, "rtnCode"), "0");
  EXPECT_EQ(FieldOf(r.result, "id"), kIdno);
  ASSERT_GE(FieldOf(r.result, "aeskey").size(), 16u);
  EXPECT_EQ(sessionKey(), FieldOf(r.result, "aeskey"));
  EXPECT_EQ(getSetting("userIdno"), kIdno);
  EXPECT_EQ(FieldOf(proxy_->SysCfg(), "app.dlUrl"), getSetting("app.dlUrl"));
  EXPECT_FALSE(getSetting("app.dlUrl").empty());
  EXPECT_EQ(getSetting("env.userPrivateKeyFolder"), home_.path() + "/MERO");
  EXPECT_TRUE(ui_->messages.empty());

  // Loaded once: a broken getSysCfg no longer matters.
  proxy_->SetFault("getSysCfg", MakeFault("malformed"));
  EXPECT_FALSE(getSetting("app.dlUrl").empty());
  EXPECT_EQ(doLogin(kAid, kPassword).code, 0);
}

TEST_F(DemoProxyTest, LoginRefusalKeepsTheOldKey) {
  LogIn();
  const std::string key = sessionKey();
  LoginResult bad = doLogin(kAid, "wrong-pw");
  EXPECT_EQ(bad.code, kLoginRefused);
  EXPECT_EQ(FieldOf(bad.result, "rtnCode"), "1001");
  EXPECT_FALSE(FieldOf(bad.result, "rtnMsg").empty());
  EXPECT_EQ(bad.result.count("aeskey"), 0u);
  EXPECT_EQ(sessionKey(), key);
  EXPECT_FALSE(getCn(kIdno).empty());  // the old session still works
  LogIn();                             // and a good login clears the failure count
}

TEST_F(DemoProxyTest, LogoutRefusedThenAccepted) {
  LogIn();
  const std::string key = sessionKey();
  proxy_->SetFault("doLogout", MakeFault("rtn:9:busy"));
  EXPECT_EQ(doLogout(), kLogoutFailed);
  EXPECT_EQ(sessionKey(), key);
  EXPECT_FALSE(getCn(kIdno).empty());
  proxy_->ClearFaults();
  EXPECT_EQ(doLogout(), 0);
  EXPECT_EQ(sessionKey(), "");
  EXPECT_EQ(getSetting("userIdno"), kIdno);
  iAmAlive();  // without a key nothing is sent, nothing is shown
  EXPECT_TRUE(ui_->messages.empty());
}

TEST_F(DemoProxyTest, KeepAliveAndAuditRecords) {
  LogIn();
  iAmAlive();
  const size_t before = proxy_->AuditRecords().size();
  writeLog(kIdno, kAid, "9", "9000");
  writeLog2(kIdno, "", "9", "9001");
  auto records = proxy_->AuditRecords();
  ASSERT_EQ(records.size(), before + 2);
  EXPECT_EQ(records[before].action, "writeLog");
  EXPECT_EQ(records[before].memo, "9000");
  EXPECT_EQ(records[before].session_idno, kIdno);
  EXPECT_EQ(records[before + 1].action, "writeLog2");
  EXPECT_EQ(records[before + 1].aid, "");
  EXPECT_TRUE(ui_->messages.empty());
}

TEST_F(DemoProxyTest, OnlineCodeRequestAndVerify) {
  LogIn();
  OnlinePwResult sent = getOnlinePw(kIdno, kAid, "0", "", "19800101", "new");
  ASSERT_EQ(sent.code, 0);
  ASSERT_EQ(sent.rtnCode, "0") << sent.rtnMsg;
  EXPECT_FALSE(sent.onlinepw.empty());
  EXPECT_EQ(sent.createtime.size(), 14u);
  std::string code;
  for (const auto& m : proxy_->Mailbox())
    if (m.idno == kIdno && m.reference == sent.onlinepw) code = m.code;
  ASSERT_FALSE(code.empty());

  VerifyOnlinePwResult wrong = verifyOnlinePw(kIdno, kAid, code == "000000" ? "111111" : "000000", "new");
  EXPECT_EQ(wrong.code, 0);
  EXPECT_NE(wrong.rtnCode, "0");
  EXPECT_FALSE(wrong.rtnMsg.empty());
  EXPECT_EQ(wrong.pwid, "");

  VerifyOnlinePwResult right = verifyOnlinePw(kIdno, kAid, code, "new");
  EXPECT_EQ(right.code, 0);
  EXPECT_EQ(right.rtnCode, "0");
  EXPECT_FALSE(right.pwid.empty());

  OnlinePwResult refused = getOnlinePw(kIdno, kAid, "0", "", "19991231", "new");
  EXPECT_EQ(refused.code, 0);
  EXPECT_NE(refused.rtnCode, "0");
}

TEST_F(DemoProxyTest, SheetCodeAndBranches) {
  LogIn();
  ProxyAnswer wrong = verifyPwBag(kIdno, kAid, "ZZ99ZZ");
  EXPECT_EQ(wrong.code, kVerifyPwBagRefused);
  EXPECT_NE(wrong.rtnCode, "0");
  ProxyAnswer right = verifyPwBag(kIdno, kAid, "AB12CD");
  EXPECT_EQ(right.code, 0);
  EXPECT_EQ(right.rtnCode, "0");

  MapResult mine = qryBranch(kIdno);
  EXPECT_EQ(mine.code, 0);
  EXPECT_EQ(FieldOf(mine.fields, "branch").rfind("9A00 ", 0), 0u);
  MapResult all = qryBranchAll();
  EXPECT_EQ(all.code, 0);
  EXPECT_NE(FieldOf(all.fields, "branch").find("#9A00"), std::string::npos);
  EXPECT_EQ(qryBranch("").code, kBranchNoId);
}

TEST_F(DemoProxyTest, CommonNameIsCachedOnlyWhenFound) {
  LogIn();
  proxy_->SetFault("getCn", MakeFault("rtn:9:none,times:1"));
  EXPECT_EQ(getCn(kIdno), "");
  const std::string cn = getCn(kIdno);  // asked again: the fault is spent
  EXPECT_FALSE(cn.empty());
  proxy_->SetFault("getCn", MakeFault("malformed"));
  EXPECT_EQ(getCn(kIdno), cn);  // answered from the settings, no request
  EXPECT_EQ(getSetting("cn"), cn);
}

TEST_F(DemoProxyTest, TransportOutcomes) {
  struct Case {
    const char* name;
    const char* fault;
    int code;
    size_t boxes;
  } kCases[] = {
      {"404", "status:404", 1, 0},
      {"500", "status:500", 1, 0},
      {"empty body", "empty", 1, 0},
      {"dropped connection", "drop", kHttpNetwork, 1},
      {"answered", "", 0, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ui_->messages.clear();
    proxy_->ClearFaults();
    if (*c.fault) proxy_->SetFault("qryBranchAll", MakeFault(c.fault));
    EXPECT_EQ(qryBranchAll().code, c.code);
    EXPECT_EQ(ui_->messages.size(), c.boxes);
  }
  {
    SCOPED_TRACE("unreachable");
    ui_->messages.clear();
    int closed;
    {
      testing::FakeProxy gone;
      closed = gone.port();
    }
    testing::ScopedEnv url("QUIL_PROXY_URL", "https://127.0.0.1:" + std::to_string(closed) + "/PELIProxy/proxy/");
    EXPECT_EQ(qryBranchAll().code, kHttpNetwork);
    EXPECT_EQ(ui_->messages.size(), 1u);
  }
  {
    SCOPED_TRACE("the demo proxy's certificate without its bundle");
    ui_->messages.clear();
    testing::ScopedEnv ca("QUIL_PROXY_CA", "");
    EXPECT_EQ(qryBranchAll().code, kHttpNetwork);
    EXPECT_EQ(ui_->messages.size(), 1u);
  }
}

TEST_F(DemoProxyTest, VersionCheckAndDownload) {
  VersionInfo v = checkVersion();
  EXPECT_EQ(v.code, 0);
  EXPECT_EQ(v.available, "true");

  const std::string url = getSetting("app.dlUrl");
  ASSERT_FALSE(url.empty());
  const std::string target = home_.path() + "/QUILSetup.exe";
  ASSERT_EQ(downloadFile(url, target), 0);
  const auto size = std::filesystem::file_size(target);
  EXPECT_GT(size, 0u);
  const auto& shown = ui_->progress;
  ASSERT_GE(shown.size(), 3u);
  EXPECT_EQ(shown[shown.size() - 2].text, "檔案下載中, 已下載 " + std::to_string(size / 1024) + " KB  ...");
  EXPECT_EQ(shown.back().text, "檔案下載完成 ...");
  EXPECT_EQ(downloadFile(proxy_->origin() + "/download/missing.exe", home_.path() + "/m.exe"), kDownloadFailed);
  EXPECT_FALSE(std::filesystem::exists(home_.path() + "/m.exe"));
}

TEST_F(DemoProxyTest, ClientAddressFromTheBridgePage) {
  // The bridge page answers the caller's address and a line break.
  EXPECT_EQ(findClientAddress(), "127.0.0.1");
  proxy_->SetFault("*", MakeFault("drop"));  // faults cover proxy actions only
  testing::ScopedEnv services("QUIL_IP_SERVICES", "");
  EXPECT_EQ(findClientAddress(), "127.0.0.1");
  EXPECT_TRUE(ui_->messages.empty());
}

}  // namespace
}  // namespace quil::proxy
